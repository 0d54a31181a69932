// lock_mode_test.cpp - lock modes (SetLockMode and its stack) and the common
// call's record-lock bias and waits, with a record held through another
// position block on the same file; and transactions.
#include "data_test_support.h"

namespace {

using datatest::CreateBuffer;
using datatest::DataTest;
using datatest::Messages;
using datatest::Segment;

constexpr int16_t kItems = 41;
constexpr int16_t kOthers = 42;

class LockModeTest : public DataTest {
 protected:
  unsigned char record[10] = {};
  datatest::OtherStation other;

  void SetUp() override {
    DataTest::SetUp();
    OpenWith("Items", CreateBuffer(10, {{Segment{1, 4, 0}}}), record, kItems, sizeof record);
    for (const char* r : {"AAAAfirst ", "BBBBsecond", "CCCCthird "}) ASSERT_EQ(Insert(kItems, r), 0);
    ASSERT_EQ(other.Start(HostPath(root + "DADES/Items.dat"), B_MODE_NORMAL), 0);
  }
  void TearDown() override {
    other.Stop();
    DataTest::TearDown();
  }

  std::string Record() const { return std::string(reinterpret_cast<const char*>(record), sizeof record); }
  int16_t Mode(int16_t file) const { return DataFiles.slots[FindSlot(file)].lockMode; }

  // Reads the record whose key `text` begins with and writes `text` over it;
  // the status of the write.
  int16_t Rewrite(const std::string& text) {
    int16_t status = -1;
    FindRecord(status, 0, text.substr(0, 4), 0, kItems);
    std::memcpy(record, text.data(), sizeof record);
    UpdateRecord(status, kItems);
    return status;
  }
};

TEST_F(LockModeTest, PlusSavesTheModeAndMinusRestoresIt) {
  int16_t status = 0;
  SetLockMode(status, "a", kItems);
  EXPECT_EQ(Mode(kItems), 1);
  SetLockMode(status, "+B", kItems);
  EXPECT_EQ(Mode(kItems), 2);
  EXPECT_EQ(DataFiles.lockModeStack, std::string("\x28\x01", 2));  // slot 40, mode 1
  SetLockMode(status, "-", kItems);
  EXPECT_EQ(Mode(kItems), 1);
  EXPECT_TRUE(DataFiles.lockModeStack.empty());
  SetLockMode(status, "-", kItems);  // nothing saved for this file: no change
  EXPECT_EQ(Mode(kItems), 1);
  SetLockMode(status, "xd?", kItems);  // unknown letters are ignored
  EXPECT_EQ(Mode(kItems), 0);
  EXPECT_EQ(status, 0);
}

TEST_F(LockModeTest, TheStackIsSearchedForTheFilesOwnEntry) {
  unsigned char second[10];
  OpenWith("Others", CreateBuffer(10, {{Segment{1, 4, 0}}}), second, kOthers, sizeof second);
  int16_t status = 0;
  SetLockMode(status, "+A", kItems);    // saves 0 for slot 40
  SetLockMode(status, "B+D", kOthers);  // saves 2 for slot 39
  SetLockMode(status, "+B", kItems);    // saves 1 for slot 40
  SetLockMode(status, "-", kOthers);
  EXPECT_EQ(Mode(kOthers), 2);
  SetLockMode(status, "-", kItems);
  EXPECT_EQ(Mode(kItems), 1);
  SetLockMode(status, "-", kItems);
  EXPECT_EQ(Mode(kItems), 0);
  EXPECT_TRUE(DataFiles.lockModeStack.empty());
}

TEST_F(LockModeTest, WithoutALockModeARecordHeldElsewhereIsStillRead) {
  ASSERT_EQ(other.Lock("BBBB"), 0);
  int16_t status = -1;
  FindRecord(status, 0, "BBBB", 0, kItems);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(Record(), "BBBBsecond");
  EXPECT_TRUE(pauses.empty());
}

TEST_F(LockModeTest, ModeBLocksTheRecordReadAndReturnsAConflictAtOnce) {
  int16_t status = -1;
  SetLockMode(status, "B", kItems);
  FindRecord(status, 0, "AAAA", 0, kItems);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(other.Lock("AAAA"), B_RECORD_LOCKED);  // our read took a lock
  ASSERT_EQ(other.Lock("CCCC"), 0);
  FindRecord(status, 0, "CCCC", 0, kItems);
  EXPECT_EQ(status, B_RECORD_LOCKED);
  EXPECT_TRUE(pauses.empty());
  EXPECT_EQ(Messages.open, 0);
}

TEST_F(LockModeTest, ModeAWaitsWithTheMessageShownOnceUntilTheRecordIsFree) {
  ASSERT_EQ(other.Lock("BBBB"), 0);
  int16_t status = -1;
  SetLockMode(status, "A", kItems);
  randomValue = 0.25;
  std::vector<int> depths;
  bool messageSeen = true;
  Platform.pause = [&](int ms) {
    pauses.push_back(ms);
    depths.push_back(Messages.open);
    if (pauses.size() > 1)
      messageSeen = messageSeen && Messages.Showing("FITXER BLOQUEJAT. ESPEREU UN MOMENT.");
    if (pauses.size() == 3) other.Unlock();
    VirtualPushKeys({'x', kKeyEnter});  // typed while waiting
  };
  FindRecord(status, 0, "BBBB", 0, kItems);
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(Console.scripted.empty()) << "what was typed during the wait is dropped when it ends";
  EXPECT_EQ(Record(), "BBBBsecond");
  EXPECT_EQ(pauses, (std::vector<int>{2501, 2501, 2501}));  // 10000 x 0.25 + 1
  // No message before the second attempt; then one window, never a second.
  EXPECT_EQ(depths, (std::vector<int>{0, 1, 1}));
  EXPECT_TRUE(messageSeen);
  EXPECT_EQ(Messages.open, 0);
  EXPECT_FALSE(Messages.Showing("BLOQUEJAT"));
}

TEST_F(LockModeTest, UpdatesAndDeletesCarryNoLockBias) {
  int16_t status = -1;
  SetLockMode(status, "A", kItems);
  FindRecord(status, 0, "AAAA", 0, kItems);
  ASSERT_EQ(status, 0);
  std::memcpy(record, "AAAAnew   ", 10);
  UpdateRecord(status, kItems);
  EXPECT_EQ(status, 0);
  FindRecord(status, 0, "CCCC", 0, kItems);
  DeleteRecord(status, kItems);
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(pauses.empty());
}

TEST_F(LockModeTest, AnAbortedTransactionLeavesTheFileAsItWas) {
  ASSERT_EQ(BeginTransaction(), 0);
  ASSERT_EQ(Rewrite("BBBBlost  "), 0);
  int16_t status = -1;
  FindRecord(status, 0, "AAAA", 0, kItems);
  DeleteRecord(status, kItems);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(AbortTransaction(), 0);
  FindRecord(status, 0, "BBBB", 0, kItems);
  EXPECT_EQ(Record(), "BBBBsecond");
  FindRecord(status, 0, "AAAA", 0, kItems);
  EXPECT_EQ(status, 0);
}

TEST_F(LockModeTest, AnEndedTransactionKeepsItsChanges) {
  ASSERT_EQ(BeginTransaction(), 0);
  ASSERT_EQ(Rewrite("BBBBkept  "), 0);
  EXPECT_EQ(EndTransaction(), 0);
  int16_t status = -1;
  std::memset(record, '#', sizeof record);
  FindRecord(status, 0, "BBBB", 0, kItems);
  EXPECT_EQ(Record(), "BBBBkept  ");
  EXPECT_NE(EndTransaction(), 0);  // none open any more
}

}  // namespace
