// update_delete_test.cpp - UpdateRecord with its "db.log" line and read-back,
// DeleteRecord, and the physical position and direct read (RecordPosition).
#include <sys/stat.h>

#include "data_test_support.h"

namespace {

using datatest::CreateBuffer;
using datatest::DataTest;
using datatest::Segment;

constexpr int16_t kItems = 504;

class UpdateDeleteTest : public DataTest {
 protected:
  unsigned char record[10] = {};

  void SetUp() override {
    DataTest::SetUp();
    OpenWith("Items", CreateBuffer(10, {{Segment{1, 4, 0}}}), record, kItems, sizeof record);
    for (const char* r : {"AAAAfirst ", "BBBBsecond", "CCCCthird "}) ASSERT_EQ(Insert(kItems, r), 0);
  }

  std::string Record() const { return std::string(reinterpret_cast<const char*>(record), sizeof record); }
  void Set(const std::string& text) { std::memcpy(record, text.data(), sizeof record); }
  const DataFileSlot& Slot() const { return DataFiles.slots[FindSlot(kItems)]; }
  // A fresh open: no record is current yet.
  void ReopenWithoutCurrentRecord() {
    int16_t status = -1;
    ResetDataFiles(status);
    ASSERT_EQ(status, 0);
    OpenDataFile(status, record, root + "DADES\\Items", kItems, sizeof record);
    ASSERT_EQ(status, 0);
  }
};

TEST(UpdateLogLineTest, NumbersStartAtColumnsZeroFourteenAndTwentyEight) {
  EXPECT_EQ(UpdateLogLine(504, 3, 0),
            std::string(" 504 ") + std::string(9, ' ') + " 3 " + std::string(11, ' ') + " 0 \r\n");
  EXPECT_EQ(UpdateLogLine(513, 3, -12),
            std::string(" 513 ") + std::string(9, ' ') + " 3 " + std::string(11, ' ') + "-12 \r\n");
  EXPECT_EQ(UpdateLogLine(-32768, 3, 32767),
            std::string("-32768 ") + std::string(7, ' ') + " 3 " + std::string(11, ' ') + " 32767 \r\n");
}

TEST_F(UpdateDeleteTest, AnUpdateIsStoredLoggedAndReadBack) {
  int16_t status = -1;
  FindRecord(status, 0, "BBBB", 0, kItems);
  ASSERT_EQ(status, 0);
  Set("BBBBchanged");
  UpdateRecord(status, kItems);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(Record(), "BBBBchange");
  EXPECT_EQ(Log(), std::string(" 504 ") + std::string(9, ' ') + " 3 " + std::string(11, ' ') + " 0 \r\n");
  Set("##########");
  FindRecord(status, 0, "BBBB", 0, kItems);
  EXPECT_EQ(Record(), "BBBBchange");
  // The position survives the update: the next record follows.
  SkipRecords(status, 1, kItems);
  EXPECT_EQ(Record(), "CCCCthird ");
}

TEST_F(UpdateDeleteTest, EveryUpdateAppendsALineSuccessfulOrNot) {
  int16_t status = -1;
  FindRecord(status, 0, "AAAA", 0, kItems);
  UpdateRecord(status, kItems);
  ASSERT_EQ(status, 0);
  // A changed key (key 0 is not modifiable) is refused, and still logged.
  Set("ZZZZfirst ");
  UpdateRecord(status, kItems);
  EXPECT_EQ(status, B_MODIFIABLE_KEY_CHANGED);
  std::string line0 = UpdateLogLine(kItems, 3, 0);
  EXPECT_EQ(Log(), line0 + UpdateLogLine(kItems, 3, B_MODIFIABLE_KEY_CHANGED));
  // The read-back leaves the record variable as stored.
  EXPECT_EQ(Record(), "AAAAfirst ");
}

TEST_F(UpdateDeleteTest, AnUpdateWithoutACurrentRecordIsRefusedAndLeavesTheVariable) {
  ReopenWithoutCurrentRecord();
  Set("AAAAnew   ");
  uint64_t calls = DataFiles.engineCalls;
  int16_t status = -1;
  UpdateRecord(status, kItems);
  EXPECT_NE(status, 0);
  // Position query, update, and a position query in place of the read-back.
  EXPECT_EQ(DataFiles.engineCalls, calls + 3);
  EXPECT_EQ(Record(), "AAAAnew   ");
  EXPECT_EQ(Slot().keyValue, std::string(4, '\0'));
  EXPECT_EQ(Log(), UpdateLogLine(kItems, 3, status));
  FindRecord(status, 0, "AAAA", 0, kItems);
  EXPECT_EQ(Record(), "AAAAfirst ");
}

TEST_F(UpdateDeleteTest, AnUpdateSucceedsWhenTheLogCannotBeWritten) {
  std::filesystem::create_directory(dir + "/db.log");  // no file can be appended there
  int16_t status = -1;
  FindRecord(status, 0, "CCCC", 0, kItems);
  Set("CCCCnew   ");
  UpdateRecord(status, kItems);
  EXPECT_EQ(status, 0);
  FindRecord(status, 0, "CCCC", 0, kItems);
  EXPECT_EQ(Record(), "CCCCnew   ");
}

TEST_F(UpdateDeleteTest, DeleteRemovesTheCurrentRecord) {
  int16_t status = -1;
  FindRecord(status, 0, "BBBB", 0, kItems);
  DeleteRecord(status, kItems);
  EXPECT_EQ(status, 0);
  FindRecord(status, 0, "BBBB", 0, kItems);
  EXPECT_EQ(status, B_KEY_NOT_FOUND);
  FindRecord(status, 1, "", 0, kItems);
  std::string keys;
  while (status == 0) {
    keys += Record().substr(0, 1);
    SkipRecords(status, 1, kItems);
  }
  EXPECT_EQ(keys, "AC");
}

TEST_F(UpdateDeleteTest, AFailedDeleteClearsTheCurrentKeyValue) {
  ReopenWithoutCurrentRecord();
  DataFiles.slots[FindSlot(kItems)].keyValue = "BBBB";
  int16_t status = -1;
  DeleteRecord(status, kItems);
  EXPECT_NE(status, 0);
  EXPECT_EQ(Slot().keyValue, std::string(4, '\0'));
  FindRecord(status, 0, "BBBB", 0, kItems);
  EXPECT_EQ(status, 0);  // nothing was deleted
}

TEST_F(UpdateDeleteTest, APositionTakenEarlierReadsItsRecordDirectly) {
  int16_t status = -1;
  FindRecord(status, 0, "CCCC", 0, kItems);
  int32_t position = RecordPosition(0, kItems);
  EXPECT_NE(position, 0);
  FindRecord(status, 0, "AAAA", 0, kItems);
  EXPECT_NE(RecordPosition(0, kItems), position);
  EXPECT_EQ(RecordPosition(position, kItems), 0);
  EXPECT_EQ(Record(), "CCCCthird ");
  EXPECT_EQ(Slot().keyValue, "CCCC");
  SkipRecords(status, -1, kItems);  // the direct read set the position on key 0
  EXPECT_EQ(Record(), "BBBBsecond");
}

TEST_F(UpdateDeleteTest, ADirectReadOfAPlaceWithNoRecordLeavesTheVariable) {
  Set("##########");
  EXPECT_NE(RecordPosition(0x7FFFFF00, kItems), 0);
  EXPECT_EQ(Record(), "##########");
}

}  // namespace
