// crash_test.cpp - a settlement killed at any point and run again gives
// exactly the data of one uninterrupted pass, and a journal that holds each
// property once, from the pass that settled it.  The pass runs in a child
// process over generated data and is killed with SIGKILL just before its
// N-th operation, for many N (every commit and its neighbours, every
// transaction start, the journal's writes of the first property and a
// spread of the rest), and at random times; right after the kill every
// property is either wholly settled and journaled or untouched and not.  A
// pass asked to end by a signal (its terminal closed, SIGINT, SIGTERM) in
// the middle of a property rolls it back and leaves no lock record behind.
// On a server, a station whose connection is cut in the middle of a
// property loses that property alone and says which.
#include <chrono>
#include <cstring>
#include <random>
#include <set>

#include "pass_child.h"
#include "tests/recman/server_env.h"

namespace {

using passchild::ChildRun;

class CrashTest : public passchild::SuiteRootsTest {
 protected:
  std::string referenceDir, workDir;
  rawrecords::Snapshot before, reference;
  std::string trace;  // one letter per operation of the uninterrupted pass

  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(SuiteRootsTest::SetUp());
    options = passchild::Suite(
        {.seed = 77, .properties = 6, .ownersMin = 3, .ownersMax = 7, .collections = 3, .payments = 4});
    referenceDir = temp.path + "/reference";
    std::string problem;
    ASSERT_TRUE(passchild::MakeGeneratedRoot(referenceDir, options, problem)) << problem;
    before = passchild::Data(referenceDir);
    ChildRun run;
    run.root = referenceDir + "/";
    run.traceFile = temp.path + "/trace";
    ASSERT_EQ(passchild::RunPass(run), "exit 0");
    reference = passchild::Data(referenceDir);
    ASSERT_TRUE(ReadWholeFile(run.traceFile, trace));
    ASSERT_NE(reference, before);
  }

  // Fresh data in a new work root.  (A folder is never used again once
  // removed: the record manager of this process may still hold the old
  // database of that path.)
  void FreshWorkRoot() {
    if (!workDir.empty()) std::filesystem::remove_all(workDir);
    workDir = temp.path + "/work" + std::to_string(++roots);
    std::string problem;
    ASSERT_TRUE(passchild::MakeGeneratedRoot(workDir, options, problem)) << problem;
    ASSERT_EQ(passchild::Data(workDir), before);
  }

  // Every property as it was or as the uninterrupted pass left it, and
  // journaled exactly when settled; the pass's header counts what its
  // entries hold.
  // Returns the properties found settled.
  std::set<std::string> ExpectEachPropertyWholeOrUntouched(const rawrecords::Snapshot& now,
                                                           const std::string& when) {
    std::set<std::string> settledNow;
    passchild::JournalView journal = passchild::ReadJournal(workDir);
    EXPECT_TRUE(journal.status == 0 || journal.status == B_FILE_NOT_FOUND) << journal.status << " " << when;
    for (const std::string& p : before.at("FinquesH")) {
      std::string code = p.substr(0, 2);
      rawrecords::Records records = passchild::PropertyRecords(now, code);
      bool untouched = records == passchild::PropertyRecords(before, code);
      bool settled = records == passchild::PropertyRecords(reference, code);
      EXPECT_TRUE(untouched || settled)
          << "property " << rawrecords::Packed(p, 0, 2) << " half settled " << when;
      EXPECT_EQ(journal.passesOf[code].size(), settled ? 1u : 0u)
          << "property " << rawrecords::Packed(p, 0, 2) << (settled ? " settled" : " untouched") << " "
          << when;
      if (settled) settledNow.insert(code);
    }
    EXPECT_EQ(journal.headerCounts, journal.entryCounts) << when;
    return settledNow;
  }

  // After the run again, which settles every property (those the killed
  // pass settled once more, with no months left to charge): the killed
  // pass (1) holds what it settled, the run again (1 when the killed one
  // settled nothing, else 2) every property.
  void ExpectJournaledByBothPasses(const std::set<std::string>& settledBefore, const std::string& when) {
    passchild::JournalView journal = passchild::ReadJournal(workDir);
    const long again = settledBefore.empty() ? 1 : 2;
    for (const std::string& p : before.at("FinquesH")) {
      const std::string code = p.substr(0, 2);
      std::vector<long> expected =
          settledBefore.count(code) ? std::vector<long>{1, again} : std::vector<long>{again};
      EXPECT_EQ(journal.passesOf[code], expected)
          << "property " << rawrecords::Packed(p, 0, 2) << " " << when;
    }
    EXPECT_EQ(journal.headerCounts, journal.entryCounts) << when;
  }

  void KillAndRerun(long killBefore, const std::string& when) {
    FreshWorkRoot();
    ChildRun run;
    run.root = workDir + "/";
    run.killBefore = killBefore;
    ASSERT_EQ(passchild::RunPass(run), "signal 9") << when;
    std::set<std::string> settled = ExpectEachPropertyWholeOrUntouched(passchild::Data(workDir), when);
    run.killBefore = 0;
    ASSERT_EQ(passchild::RunPass(run), "exit 0") << when;
    EXPECT_EQ(passchild::Data(workDir), reference) << when;
    ExpectJournaledByBothPasses(settled, when);
    EXPECT_EQ(passchild::HeldLockRecords(workDir), 0) << when;
  }
};

TEST_F(CrashTest, AKillBeforeAnyOperationAndTheRunAgainGiveTheUninterruptedResult) {
  // The points: every transaction start, every commit with the operations
  // around it, the locks and releases of the first property, the first
  // writes, and a spread of the rest.
  std::set<long> points;
  const long firstCommit = static_cast<long>(trace.find('e')) + 1;
  for (size_t i = 0; i < trace.size(); ++i) {
    long n = static_cast<long>(i) + 1;
    char op = trace[i];
    if (op == 'e') points.insert({n - 1, n, n + 1});
    if (op == 'b' || n % 31 == 0) points.insert(n);
    if (n <= firstCommit + 4 && (op == 'l' || op == 'r' || op == 'u' || op == 'd' || op == 'i'))
      points.insert(n);
  }
  points.erase(0);
  points.erase(static_cast<long>(trace.size()) + 1);
  ASSERT_GT(trace.size(), 300u);
  RecordProperty("operations", static_cast<int>(trace.size()));
  RecordProperty("kill_points", static_cast<int>(points.size()));
  for (long n : points) {
    KillAndRerun(
        n, "killed before operation " + std::to_string(n) + " (" + trace[static_cast<size_t>(n - 1)] + ")");
    if (HasFailure()) break;
  }
}

TEST_F(CrashTest, AnEndAskedForBySignalRollsThePropertyBackAndFreesItsLocks) {
  // Inside properties (the writes), on their commits, and on the locks.
  std::vector<long> points;
  for (size_t i = 0; i < trace.size(); ++i) {
    char op = trace[i];
    if (op == 'u' || op == 'd' || op == 'e' || op == 'l' || op == 'r')
      points.push_back(static_cast<long>(i) + 1);
  }
  ASSERT_GT(points.size(), 40u);
  const int signals[] = {SIGHUP, SIGINT, SIGTERM};
  for (size_t k = 0; k < points.size(); k += points.size() / 20) {
    const long n = points[k];
    const int signal = signals[k % 3];
    const std::string when = std::string(strsignal(signal)) + " before operation " + std::to_string(n) +
                             " (" + trace[static_cast<size_t>(n - 1)] + ")";
    FreshWorkRoot();
    ChildRun run;
    run.root = workDir + "/";
    run.signalBefore = n;
    run.signal = signal;
    ASSERT_EQ(passchild::RunPass(run), "signal " + std::to_string(signal)) << when;
    ExpectEachPropertyWholeOrUntouched(passchild::Data(workDir), when);
    EXPECT_EQ(passchild::HeldLockRecords(workDir), 0) << when;
    EXPECT_EQ(passchild::StationFiles(workDir), 0) << when;
    run.signalBefore = 0;
    ASSERT_EQ(passchild::RunPass(run), "exit 0") << when;
    EXPECT_EQ(passchild::Data(workDir), reference) << when;
    if (HasFailure()) break;
  }
}

TEST_F(CrashTest, KillsAtRandomTimesAndTheRunAgainGiveTheUninterruptedResult) {
  // How long an uninterrupted pass takes here.
  FreshWorkRoot();
  ChildRun run;
  run.root = workDir + "/";
  auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(passchild::RunPass(run), "exit 0");
  long span =
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count();
  std::mt19937 random(4321);
  for (int attempt = 0; attempt < 12; ++attempt) {
    FreshWorkRoot();
    run.root = workDir + "/";
    long delay = static_cast<long>(random() % static_cast<unsigned long>(std::max(span, 1L)));
    pid_t pid = passchild::StartPass(run);
    ASSERT_GT(pid, 0);
    usleep(static_cast<useconds_t>(delay));
    kill(pid, SIGKILL);
    std::string ended = passchild::Wait(pid);
    std::string when = "killed after " + std::to_string(delay) + " us (" + ended + ")";
    std::set<std::string> settled = ExpectEachPropertyWholeOrUntouched(passchild::Data(workDir), when);
    ASSERT_EQ(passchild::RunPass(run), "exit 0") << when;
    EXPECT_EQ(passchild::Data(workDir), reference) << when;
    ExpectJournaledByBothPasses(settled, when);
    if (HasFailure()) break;
  }
}

// The station's connection cut in the middle of a property on a server (an
// administrator's pg_terminate_backend, a server restart): that property
// is rolled back and listed as not settled with the record manager's
// status, the pass goes on with the next on a new connection, and a run
// again gives the uninterrupted result.
namespace cut {
inline long before = 0;  // the operation before which the connection is cut
inline long operations = 0;
inline std::string connection;
inline std::string ended;  // what the cut said, for the test's message
void Hook(SettlementOperation, int16_t) {
  if (++operations != before) return;
  std::string error;
  int n = servertest::TerminateBackends(connection, "state LIKE 'idle in transaction%'", error);
  ended = n == 1 ? "" : "backends ended: " + std::to_string(n) + " " + error;
}
}  // namespace cut

TEST_F(CrashTest, AConnectionCutInsideAPropertyOnAServerLosesThatPropertyAndSaysWhich) {
  if (!servertest::OnServer()) GTEST_SKIP() << "a server's connection";
  // Just before the third property's first write: its reads are made, its
  // transaction is open on the server.
  size_t at = 0;
  for (int property = 0; property < 3; ++property) at = trace.find('b', at + 1);
  at = trace.find_first_of("ud", at);
  ASSERT_NE(at, std::string::npos);
  FreshWorkRoot();
  const std::string third = before.at("FinquesH").at(2).substr(0, 2);
  const std::string lines = temp.path + "/result";
  ChildRun run;
  run.root = workDir + "/";
  run.instead = [&] {
    cut::before = static_cast<long>(at) + 1;
    cut::connection = servertest::FolderConnection(workDir + "/DADES");
    Settlement.beforeRecordOperation = cut::Hook;
    const SettlementRequest request = settletest::DemoRequest(run.first, run.last);
    SettlementPass(request);
    std::string text = cut::ended + "\n";
    for (const UntouchedProperty& p : Settlement.untouched)
      text += "untouched " + std::to_string(rawrecords::Packed(p.code, 0, 2)) + " " +
              std::to_string(p.status) + "\n";
    for (const std::string& line : PassResultLines(request)) text += line + "\n";
    return WriteWholeFile(lines, text);
  };
  ASSERT_EQ(passchild::RunPass(run), "exit 0");
  std::string said;
  ASSERT_TRUE(ReadWholeFile(lines, said));
  EXPECT_EQ(said.substr(0, 1), "\n") << said;  // the cut ended the station's backend
  const std::string number = std::to_string(rawrecords::Packed(third, 0, 2));
  EXPECT_NE(said.find("untouched " + number + " 2\n"), std::string::npos) << said;
  EXPECT_EQ(said.find("untouched "), said.rfind("untouched ")) << said;  // that property alone
  // The result the clerk reads names it, with the reason and the status.
  EXPECT_NE(
      said.find(UnpackDigits(third) + "  " + UntouchedReasonText(UntouchedReason::kRecordManager) + " 2"),
      std::string::npos)
      << said;
  std::set<std::string> settled = ExpectEachPropertyWholeOrUntouched(passchild::Data(workDir), "cut");
  EXPECT_EQ(settled.size(), before.at("FinquesH").size() - 1);
  EXPECT_EQ(settled.count(third), 0u);
  EXPECT_EQ(passchild::HeldLockRecords(workDir), 0);
  run.instead = nullptr;
  ASSERT_EQ(passchild::RunPass(run), "exit 0");
  EXPECT_EQ(passchild::Data(workDir), reference);
}

}  // namespace
