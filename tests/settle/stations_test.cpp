// stations_test.cpp - two stations settling overlapping ranges of properties
// at the same time (two processes, each with its own temporary folder and
// station id, started together) end with exactly the data of one station
// settling the whole range alone, and hold no lock afterwards.
#include <sys/stat.h>

#include <chrono>

#include "pass_child.h"
#include "tests/data/data_test_support.h"
#include "tests/recman/server_env.h"

namespace {

using passchild::ChildRun;

class StationsTest : public passchild::SuiteRootsTest {
 protected:
  rawrecords::Snapshot alone;

  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(SuiteRootsTest::SetUp());
    options = passchild::Suite(
        {.seed = 4242, .properties = 12, .ownersMin = 4, .ownersMax = 9, .collections = 3, .payments = 5});
    std::string dir = NewRoot();
    ChildRun run;
    run.root = dir + "/";
    ASSERT_EQ(passchild::RunPass(run), "exit 0");
    alone = passchild::Data(dir);
  }

  // A new root with the generated data and a second station folder.
  std::string NewRoot() {
    std::string dir = temp.path + "/root" + std::to_string(++roots);
    std::string problem;
    EXPECT_TRUE(passchild::MakeGeneratedRoot(dir, options, problem)) << problem;
    std::filesystem::create_directories(dir + "/TMP2");
    return dir;
  }

  // Two stations on one root, released together; their exit descriptions.
  std::pair<std::string, std::string> Together(const std::string& dir, int firstA, int lastA, int firstB,
                                               int lastB) {
    int gate[2];
    if (pipe(gate) != 0) return {"no pipe", ""};
    ChildRun a, b;
    a.root = b.root = dir + "/";
    a.station = "TMP";
    b.station = "TMP2";
    a.first = firstA, a.last = lastA;
    b.first = firstB, b.last = lastB;
    a.readFd = b.readFd = gate[0];
    // Real waits for the other station's locks, made shorter.
    a.pauseDivisor = b.pauseDivisor = 20;
    pid_t pa = passchild::StartPass(a);
    pid_t pb = passchild::StartPass(b);
    close(gate[0]);
    const char go[2] = {'a', 'b'};
    EXPECT_EQ(write(gate[1], go, 2), 2);
    close(gate[1]);
    std::string ea = passchild::Wait(pa), eb = passchild::Wait(pb);
    return {ea, eb};
  }

  void ExpectSameAsAlone(const std::string& dir) {
    rawrecords::Snapshot both = passchild::Data(dir);
    EXPECT_EQ(both.at("FinquesH"), alone.at("FinquesH"));
    EXPECT_EQ(both.at("PropietH"), alone.at("PropietH"));
    EXPECT_EQ(both.at("CobramH"), alone.at("CobramH"));
    EXPECT_EQ(both.at("PagamH"), alone.at("PagamH"));
    EXPECT_EQ(both, alone);
    EXPECT_EQ(passchild::HeldLockRecords(dir), 0);
  }

  // Two stations at once over the two ranges, three times on fresh roots:
  // each time the data end as one station's alone.
  void ExpectTogetherAsAlone(int firstA, int lastA, int firstB, int lastB) {
    for (int round = 0; round < 3; ++round) {
      std::string dir = NewRoot();
      auto [a, b] = Together(dir, firstA, lastA, firstB, lastB);
      ASSERT_EQ(a, "exit 0");
      ASSERT_EQ(b, "exit 0");
      ExpectSameAsAlone(dir);
      if (HasFailure()) break;
    }
  }
};

TEST_F(StationsTest, OverlappingRangesEndAsOneStationAlone) { ExpectTogetherAsAlone(1, 8, 4, 12); }

TEST_F(StationsTest, TheSameRangeTwiceAtOnceEndsAsOneStationAlone) { ExpectTogetherAsAlone(1, 12, 1, 12); }

// A station killed in the middle of a property, its key locks held: the
// other station settles the same range at once, without a single wait, and
// the data end as one station's alone.
TEST_F(StationsTest, AStationKilledInTheMiddleOfAPassLeavesTheOtherNoWait) {
  std::string trace = temp.path + "/trace";
  {
    std::string dir = NewRoot();
    ChildRun run;
    run.root = dir + "/";
    run.traceFile = trace;
    ASSERT_EQ(passchild::RunPass(run), "exit 0");
  }
  std::string letters;
  ASSERT_TRUE(ReadWholeFile(trace, letters));
  // Just before the third property's first write: its locks are held.
  size_t at = 0;
  for (int property = 0; property < 3; ++property) at = letters.find('b', at + 1);
  at = letters.find_first_of("ud", at);
  ASSERT_NE(at, std::string::npos);

  std::string dir = NewRoot();
  ChildRun killed;
  killed.root = dir + "/";
  killed.killBefore = static_cast<long>(at) + 1;
  ASSERT_EQ(passchild::RunPass(killed), "signal 9");
  ASSERT_GT(passchild::HeldLockRecords(dir), 0);
  ChildRun other;
  other.root = dir + "/";
  other.station = "TMP2";
  other.maxPauses = 0;  // any wait ends it with 5
  ASSERT_EQ(passchild::RunPass(other), "exit 0");
  ExpectSameAsAlone(dir);
}

// A suite root shared by a group of users (umask 002): every file a
// station makes there comes out group-writable, the data files' database
// included, so that the next user of the group settles without a refusal.
TEST_F(StationsTest, UnderUmask002EveryFileAStationMakesIsGroupWritable) {
  TempDir fresh{"tarpelix_settle_"};
  mode_t previous = umask(002);
  settletest::MakeSuiteRoot(fresh.path);
  std::filesystem::remove_all(fresh.path + "/LOCKS");
  std::string problem;
  DemoDataOptions small = options;
  small.properties = 2;
  bool made = passchild::MakeGeneratedRoot(fresh.path, small, problem);
  ChildRun run;
  run.root = fresh.path + "/";
  std::string ended = passchild::RunPass(run);
  umask(previous);
  ASSERT_TRUE(made) << problem;
  ASSERT_EQ(ended, "exit 0");
  namespace fs = std::filesystem;
  int looked = 0;
  for (const char* folder : {"DADES", "LOCKS", "TMP", "."}) {
    for (const fs::directory_entry& entry : fs::directory_iterator(fresh.path + "/" + folder)) {
      std::string name = entry.path().filename().string();
      if (std::string(folder) == "." && name != "db.log" && name != "LOCKS") continue;
      SCOPED_TRACE(entry.path().string());
      EXPECT_NE(entry.status().permissions() & fs::perms::group_write, fs::perms::none);
      ++looked;
    }
  }
  EXPECT_TRUE(
      fs::exists(fresh.path + (servertest::OnServer() ? "/DADES/recman.server" : "/DADES/recman.db")));
  EXPECT_TRUE(fs::exists(fresh.path + "/LOCKS/PropietH.lck"));
  EXPECT_GE(looked, 12);
}

// Another station holds the database in a long transaction (a station
// stopped inside a property, a large recutil load) for longer than the
// record manager waits: the pass waits for it, without limit, and then
// ends exactly as alone.
TEST_F(StationsTest, APassThatMeetsABusyDatabaseWaitsAndEndsAsAlone) {
  std::string dir = NewRoot();
  datatest::OtherStation holder;
  ASSERT_EQ(holder.Start(HostPath(dir + "/DADES/FinquesH.dat"), 0), 0);
  ASSERT_EQ(holder.Hold(), 0);
  ChildRun run;
  run.root = dir + "/";
  run.pauseDivisor = 20;
  auto started = std::chrono::steady_clock::now();
  setenv("RECMAN_BUSY_TIMEOUT_MS", "100", 1);
  pid_t pid = passchild::StartPass(run);
  unsetenv("RECMAN_BUSY_TIMEOUT_MS");
  usleep(1500 * 1000);
  EXPECT_EQ(holder.End(), 0);
  holder.Stop();
  ASSERT_EQ(passchild::Wait(pid), "exit 0");
  auto took =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
  EXPECT_GE(took.count(), 1400) << "the pass did not wait for the holder";
  ExpectSameAsAlone(dir);
}

}  // namespace
