// update_delete_test.cpp - UpdateRecord with its "db.log" line and read-back,
// DeleteRecord, and the physical position and direct read (RecordPosition).
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <functional>

#include "data_test_support.h"

namespace {

using datatest::CreateBuffer;
using datatest::DataTest;
using datatest::Messages;
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

// The log's name is asked after once a transaction: a log renamed between
// two updates of one transaction gets the second line too (nothing is
// lost), the next transaction writes to the file the name leads to, and so
// does an update outside a transaction.
TEST_F(UpdateDeleteTest, ARenamedLogIsFollowedFromTheNextTransaction) {
  const std::string line =
      std::string(" 504 ") + std::string(9, ' ') + " 3 " + std::string(11, ' ') + " 0 \r\n";
  auto update = [&](const char* key) {
    int16_t status = -1;
    FindRecord(status, 0, key, 0, kItems);
    ASSERT_EQ(status, 0);
    UpdateRecord(status, kItems);
    ASSERT_EQ(status, 0);
  };
  auto read = [](const std::string& path) {
    std::string text;
    ReadWholeFile(path, text);
    return text;
  };
  ASSERT_EQ(BeginTransaction(), 0);
  update("AAAA");
  std::filesystem::rename(root + "db.log", root + "db.old");
  update("BBBB");
  ASSERT_EQ(EndTransaction(), 0);
  EXPECT_EQ(read(root + "db.old"), line + line);
  EXPECT_EQ(Log(), "");

  ASSERT_EQ(BeginTransaction(), 0);
  update("CCCC");
  ASSERT_EQ(EndTransaction(), 0);
  EXPECT_EQ(Log(), line);
  EXPECT_EQ(read(root + "db.old"), line + line);

  std::filesystem::remove(root + "db.log");
  update("AAAA");
  EXPECT_EQ(Log(), line);
  EXPECT_EQ(read(root + "db.old"), line + line);
}

// The observer the benchmarks trace a pass with: told of each call once it
// returned, with the key as sent (before the engine wrote over it), the
// record as it came back and the status.
struct ObservedCall {
  uint16_t operation;
  std::string key, data;
  int16_t status;
};
std::vector<ObservedCall> observed;
void Observe(uint16_t operation, void*, const void* data, uint32_t length, const std::string& key, int8_t,
             int16_t status) {
  observed.push_back({operation, key, std::string(static_cast<const char*>(data), length), status});
}

TEST_F(UpdateDeleteTest, TheObserverSeesEveryCallWithTheKeySentAndTheStatus) {
  observed.clear();
  DataFiles.engineObserver = Observe;
  int16_t status = -1;
  FindRecord(status, 1, "BBBA", 0, kItems);  // greater or equal: BBBB
  Set("BBBBchanged");
  UpdateRecord(status, kItems);
  FindRecord(status, 0, "QQQQ", 0, kItems);
  DataFiles.engineObserver = nullptr;
  SkipRecords(status, 1, kItems);  // unobserved
  std::vector<uint16_t> operations;
  for (const ObservedCall& c : observed) operations.push_back(c.operation);
  EXPECT_EQ(operations, (std::vector<uint16_t>{B_STAT, B_GET_GE, B_GET_POSITION, B_UPDATE, B_GET_DIRECT,
                                               B_STAT, B_GET_EQUAL}));
  ASSERT_EQ(observed.size(), 7u);
  EXPECT_EQ(observed[1].key, "BBBA");
  EXPECT_EQ(observed[1].data.substr(0, 10), "BBBBsecond");
  EXPECT_EQ(observed[3].data.substr(0, 10), "BBBBchange");
  EXPECT_EQ(observed[3].status, B_OK);
  EXPECT_EQ(observed[6].key, "QQQQ");
  EXPECT_EQ(observed[6].status, B_KEY_NOT_FOUND);
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

// A line that cannot be added to "db.log" (a folder in its place, a
// symbolic link, which is never followed, a file-size limit) does not fail
// the update; the operator is told once per run, on row 24, with the file
// and the reason, and not while a transaction holds the database.
TEST_F(UpdateDeleteTest, AnUpdateSucceedsWhenTheLogCannotBeWrittenAndThatIsToldOnce) {
  const std::string victim = dir + "/victim";
  struct Case {
    const char* name;
    std::function<void()> spoil, mend;
    const char* reason;
  };
  rlimit limit{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &limit), 0);
  struct sigaction ignore {
  }, before{};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGXFSZ, &ignore, &before);
  const std::vector<Case> cases = {
      {"a folder", [&] { std::filesystem::create_directory(dir + "/db.log"); },
       [&] { std::filesystem::remove(dir + "/db.log"); }, "Is a directory"},
      {"a symbolic link",
       [&] {
         ASSERT_TRUE(WriteWholeFile(victim, "precious"));
         std::filesystem::create_symlink(victim, dir + "/db.log");
       },
       [&] { std::filesystem::remove(dir + "/db.log"); }, "\x90S UN ENLLA\x80 SIMB\xE3LIC: NO S'HI ESCRIU"},
      {"a file-size limit",  // reached by the log, not by the database's files
       [&] {
         if (FileLength(dir + "/db.log") < (1 << 20)) {
           ASSERT_TRUE(WriteWholeFile(dir + "/db.log", std::string(1 << 20, 'x')));
         }
         rlimit small = limit;
         small.rlim_cur = 1 << 19;
         ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
       },
       [&] { setrlimit(RLIMIT_FSIZE, &limit); }, "File too large"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    setrlimit(RLIMIT_FSIZE, &limit);
    std::filesystem::remove(dir + "/db.log");
    DataFiles.updateLogFailureTold = false;  // a new run
    datatest::CatchDataMessages();
    c.spoil();
    int16_t status = -1;
    // Inside a transaction: held back until it ends.
    ASSERT_EQ(BeginTransaction(), 0);
    FindRecord(status, 0, "CCCC", 0, kItems);
    Set(std::string("CCCC") + c.name);
    UpdateRecord(status, kItems);
    EXPECT_EQ(status, 0);
    FindRecord(status, 0, "AAAA", 0, kItems);
    UpdateRecord(status, kItems);
    EXPECT_TRUE(Messages.texts.empty());
    ASSERT_EQ(EndTransaction(), 0);
    c.mend();
    const std::string expected = "NO ES POT ACCEDIR AL FITXER " + dir + "/db.log: " + c.reason;
    EXPECT_EQ(Messages.texts, std::vector<std::string>{expected});
    EXPECT_EQ(Messages.rows, std::vector<int>{24});
    EXPECT_EQ(Messages.open, 0);
    FindRecord(status, 0, "CCCC", 0, kItems);
    EXPECT_EQ(Record(), (std::string("CCCC") + c.name).substr(0, 10));
    // Once per run: a later failure is not told again.
    c.spoil();
    FindRecord(status, 0, "BBBB", 0, kItems);
    UpdateRecord(status, kItems);
    EXPECT_EQ(status, 0);
    c.mend();
    EXPECT_EQ(Messages.texts.size(), 1u);
  }
  setrlimit(RLIMIT_FSIZE, &limit);
  sigaction(SIGXFSZ, &before, nullptr);
  std::string contents;
  ASSERT_TRUE(ReadWholeFile(victim, contents));
  EXPECT_EQ(contents, "precious");
}

// Under umask 002 the update log comes out group-writable: the next user's
// lines go in too.
TEST_F(UpdateDeleteTest, TheUpdateLogIsCreatedWithTheModeTheUmaskAllows) {
  mode_t previous = umask(002);
  int16_t status = -1;
  FindRecord(status, 0, "AAAA", 0, kItems);
  UpdateRecord(status, kItems);
  umask(previous);
  struct stat st {};
  ASSERT_EQ(stat((dir + "/db.log").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0664u);
}

// Two stations appending at the same time: every line whole, none torn or
// interleaved (each is one write on a file opened for appending).
TEST_F(UpdateDeleteTest, TwoStationsAppendingAtOnceNeverTearALine) {
  constexpr int kLines = 3000;
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    for (int i = 0; i < kLines; ++i) AppendToFile("db.log", UpdateLogLine(515, 3, static_cast<int16_t>(i)));
    _exit(0);
  }
  for (int i = 0; i < kLines; ++i) AppendToFile("db.log", UpdateLogLine(504, 3, static_cast<int16_t>(-i)));
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  std::string log = Log();
  std::vector<int> seen[2];
  size_t at = 0;
  while (at < log.size()) {
    size_t end = log.find("\r\n", at);
    ASSERT_NE(end, std::string::npos);
    std::string line = log.substr(at, end + 2 - at);
    bool ours = line.compare(0, 5, " 504 ") == 0;
    int value = std::stoi(line.substr(28));
    ASSERT_EQ(line, UpdateLogLine(ours ? 504 : 515, 3, static_cast<int16_t>(value)));
    seen[ours ? 0 : 1].push_back(ours ? -value : value);
    at = end + 2;
  }
  for (const std::vector<int>& values : seen) {
    ASSERT_EQ(values.size(), static_cast<size_t>(kLines));
    for (int i = 0; i < kLines; ++i) EXPECT_EQ(values[static_cast<size_t>(i)], i);
  }
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

// A record variable shorter than the file's records: a read fills what it
// holds, and an update sends it with the rest of the record blank.
TEST_F(UpdateDeleteTest, AShortRecordVariableIsSentWithTheRestBlank) {
  int16_t status = -1;
  ResetDataFiles(status);
  unsigned char shortRecord[6] = {};
  OpenDataFile(status, shortRecord, root + "DADES\\Items", kItems, sizeof shortRecord);
  ASSERT_EQ(status, 0);
  FindRecord(status, 0, "BBBB", 0, kItems);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(shortRecord), sizeof shortRecord), "BBBBse");
  std::memcpy(shortRecord, "BBBBxy", sizeof shortRecord);
  UpdateRecord(status, kItems);
  ASSERT_EQ(status, 0);

  ReopenWithoutCurrentRecord();
  FindRecord(status, 0, "BBBB", 0, kItems);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(Record(), "BBBBxy    ");
}

TEST_F(UpdateDeleteTest, ADirectReadOfAPlaceWithNoRecordLeavesTheVariable) {
  Set("##########");
  EXPECT_NE(RecordPosition(0x7FFFFF00, kItems), 0);
  EXPECT_EQ(Record(), "##########");
}

}  // namespace
