// find_skip_test.cpp - keyed reads (FindRecord) and stepping (SkipRecords)
// on a real record manager file: key cut and pad, key numbers, statuses,
// and which steps deliver the record.
#include "data_test_support.h"

namespace {

using datatest::CreateBuffer;
using datatest::DataTest;
using datatest::Segment;

constexpr int16_t kItems = 21;

// Items: 12-byte records; key 0 = bytes 1..4 (text), key 1 = bytes 5..6
// (unsigned binary, duplicates allowed).
std::string Item(const std::string& code, int number, const std::string& text) {
  std::string r = code;
  r += static_cast<char>(number & 0xFF);
  r += static_cast<char>(number >> 8);
  r += text;
  r.resize(12, ' ');
  return r;
}

class FindSkipTest : public DataTest {
 protected:
  unsigned char record[12] = {};

  void SetUp() override {
    DataTest::SetUp();
    OpenWith("Items", CreateBuffer(12, {{Segment{1, 4, 0}}, {Segment{5, 2, KF_BINARY | KF_DUPLICATES}}}),
             record, kItems, sizeof record);
    for (const std::string& r : {Item("AAAA", 3, "first"), Item("BBBB", 1, "second"),
                                 Item("CCCC", 2, "third"), Item("DDDD", 4, "fourth")})
      ASSERT_EQ(Insert(kItems, r), 0);
  }

  std::string Record() const { return std::string(reinterpret_cast<const char*>(record), sizeof record); }
  const DataFileSlot& Slot() const { return DataFiles.slots[FindSlot(kItems)]; }
  void Fill(char c) { std::memset(record, c, sizeof record); }
};

TEST_F(FindSkipTest, EqualGreaterOrEqualAndLessOrEqualReads) {
  int16_t status = -1;
  FindRecord(status, 0, "BBBB", 0, kItems);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(Record(), Item("BBBB", 1, "second"));
  FindRecord(status, 1, "BC", 0, kItems);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(Record(), Item("CCCC", 2, "third"));
  EXPECT_EQ(Slot().keyValue, "CCCC");  // the key found comes back
  FindRecord(status, -1, "CZZZ", 0, kItems);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(Record(), Item("CCCC", 2, "third"));
  FindRecord(status, 0, "BBBX", 0, kItems);
  EXPECT_EQ(status, B_KEY_NOT_FOUND);
  FindRecord(status, 1, "ZZZZ", 0, kItems);
  EXPECT_EQ(status, B_END_OF_FILE);
}

TEST_F(FindSkipTest, ALongerKeyIsCutAndAShorterOnePaddedWithZeroBytes) {
  int16_t status = -1;
  FindRecord(status, 0, "DDDDextra", 0, kItems);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(Slot().keyValue, "DDDD");
  ASSERT_EQ(Insert(kItems, Item(std::string("CC\0\0", 4), 9, "padded")), 0);
  FindRecord(status, 0, "CC", 0, kItems);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(Record(), Item(std::string("CC\0\0", 4), 9, "padded"));
  EXPECT_EQ(Slot().keyValue, std::string("CC\0\0", 4));
}

TEST_F(FindSkipTest, ASecondKeyBecomesTheCurrentKeyForSkipping) {
  int16_t status = -1;
  FindRecord(status, 1, std::string("\x01\x00", 2), 1, kItems);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(Slot().keyNumber, 1);
  std::string order;
  while (status == 0) {
    order += Record().substr(0, 1);
    SkipRecords(status, 1, kItems);
  }
  EXPECT_EQ(order, "BCAD");  // numbers 1, 2, 3, 4
  EXPECT_EQ(status, B_END_OF_FILE);
}

TEST_F(FindSkipTest, AKeyTheFileLacksAnswers1004AndChangesNothing) {
  int16_t status = -1;
  FindRecord(status, 0, "BBBB", 0, kItems);
  ASSERT_EQ(status, 0);
  uint64_t calls = DataFiles.engineCalls;
  FindRecord(status, 0, "X", 5, kItems);
  EXPECT_EQ(status, kStatusNoSuchKey);
  EXPECT_EQ(DataFiles.engineCalls, calls + 1);  // the Stat call only
  EXPECT_EQ(Slot().keyNumber, 0);
  EXPECT_EQ(Slot().keyValue, "BBBB");
  SkipRecords(status, 1, kItems);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(Record(), Item("CCCC", 2, "third"));  // the position did not move
  FindRecord(status, 0, "X", -1, kItems);
  EXPECT_EQ(status, kStatusNoSuchKey);
}

TEST_F(FindSkipTest, EveryOperationOnAFileNotOpenAnswers3) {
  int16_t status = 0;
  FindRecord(status, 0, "AAAA", 0, 99);
  EXPECT_EQ(status, B_FILE_NOT_OPEN);
  status = 0;
  SkipRecords(status, 1, 99);
  EXPECT_EQ(status, B_FILE_NOT_OPEN);
  status = 0;
  UpdateRecord(status, 99);
  EXPECT_EQ(status, B_FILE_NOT_OPEN);
  status = 0;
  DeleteRecord(status, 99);
  EXPECT_EQ(status, B_FILE_NOT_OPEN);
  status = 0;
  SetLockMode(status, "A", 99);
  EXPECT_EQ(status, B_FILE_NOT_OPEN);
  EXPECT_EQ(RecordPosition(0, 99), 0);
  EXPECT_EQ(RecordPosition(1234, 99), 0);
  EXPECT_EQ(CurrentKeyImage(99), "");
  status = 0;
  CallRecordManager(0, B_GET_FIRST, status);
  EXPECT_EQ(status, B_FILE_NOT_OPEN);
}

// A skip of several steps from a record found: the steps before the last
// are bare (they deliver nothing), and a step that meets the end stops it.
struct SkipCase {
  const char* what;
  const char* from;
  int count;
  int16_t status;
  uint64_t engineCalls;  // the record manager's calls the skip makes
  std::string record;    // the record buffer after it, filled with '#' before
  const char* keyAfter;  // the current key's value after it; nullptr: not asked
};

TEST_F(FindSkipTest, SkipsOfSeveralStepsDeliverOnlyTheLast) {
  const SkipCase cases[] = {
      {"count three makes two bare steps and delivers the third", "AAAA", 3, 0, 3, Item("DDDD", 4, "fourth"),
       "DDDD"},
      // The third step is not made; the bare steps deliver nothing.
      {"a step that meets the end stops the skip and leaves the record alone", "CCCC", 3, B_END_OF_FILE, 2,
       std::string(12, '#'), nullptr},
  };
  for (const SkipCase& c : cases) {
    SCOPED_TRACE(c.what);
    int16_t status = -1;
    FindRecord(status, 0, c.from, 0, kItems);
    ASSERT_EQ(status, 0);
    Fill('#');
    uint64_t calls = DataFiles.engineCalls;
    SkipRecords(status, c.count, kItems);
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(DataFiles.engineCalls, calls + c.engineCalls);
    EXPECT_EQ(Record(), c.record);
    if (c.keyAfter) { EXPECT_EQ(Slot().keyValue, c.keyAfter); }
  }
}

TEST_F(FindSkipTest, CountZeroCallsNothingAndNegativeCountsGoBack) {
  int16_t status = -1;
  FindRecord(status, 0, "DDDD", 0, kItems);
  ASSERT_EQ(status, 0);
  Fill('#');
  uint64_t calls = DataFiles.engineCalls;
  status = 77;
  SkipRecords(status, 0, kItems);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(DataFiles.engineCalls, calls);
  EXPECT_EQ(Record(), std::string(12, '#'));
  SkipRecords(status, -2, kItems);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(Record(), Item("BBBB", 1, "second"));
  SkipRecords(status, -1, kItems);
  EXPECT_EQ(Record(), Item("AAAA", 3, "first"));
  SkipRecords(status, -1, kItems);
  EXPECT_EQ(status, B_END_OF_FILE);
}

TEST_F(FindSkipTest, ARecordLongerThanTheRecordLengthCountsAsFoundAndIsCutToFit) {
  unsigned char longer[16];
  std::memset(longer, '#', sizeof longer);
  // Variable-length records: 8 fixed bytes, any number more.
  OpenWith("Variable", CreateBuffer(8, {{Segment{1, 2, 0}}}, "", kFileVariableLength), longer, 22,
           sizeof longer);
  ASSERT_EQ(Insert(22, "K1abcdefghijklmnop"), 0);
  ASSERT_EQ(Insert(22, "K2ABCDEFGHIJKLMNOP"), 0);
  int16_t status = -1;
  FindRecord(status, 0, "K1", 0, 22);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(longer), 16), "K1abcdef########");
  SkipRecords(status, 1, 22);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(longer), 16), "K2ABCDEF########");
}

TEST_F(FindSkipTest, ARecordVariableSmallerThanTheRecordIsNeverOverrun) {
  unsigned char small[10];
  std::memset(small, '#', sizeof small);
  // The file's records are 12 bytes; the variable says it holds 6.
  int16_t status = -1;
  OpenDataFile(status, small, root + "DADES\\Items", 23, 6);
  ASSERT_EQ(status, 0);
  FindRecord(status, 0, "BBBB", 0, 23);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(small), 10), Item("BBBB", 1, "").substr(0, 6) + "####");
}

}  // namespace
