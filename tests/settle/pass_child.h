// pass_child.h - settlement passes (or other work, an undo) in child processes, as
// separate stations or as a program that is killed: generated data in a suite root,
// a pass in a forked child (optionally killed with SIGKILL before its N-th
// operation), and the comparison of the data files afterwards.
#pragma once
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>

#include "generator/demo_data.h"
#include "raw_records.h"
#include "settle_test_support.h"

namespace passchild {

// The size of a generated suite and the seed its records are drawn from:
// properties, owners per property (from ownersMin to ownersMax), collections
// per owner, payments per property.
struct SuiteSize {
  uint64_t seed;
  int properties, ownersMin, ownersMax, collections, payments;
};

// The generator's options for a suite of that size (the root, each suite's
// own, is set where the suite is made).
inline DemoDataOptions Suite(const SuiteSize& size) {
  DemoDataOptions options;
  options.seed = size.seed;
  options.properties = size.properties;
  options.ownersMin = size.ownersMin;
  options.ownersMax = size.ownersMax;
  options.collections = size.collections;
  options.payments = size.payments;
  return options;
}

// A suite root at `dir` with generated data (deterministic for the options).
inline bool MakeGeneratedRoot(const std::string& dir, const DemoDataOptions& base, std::string& problem) {
  settletest::MakeSuiteRoot(dir);
  settletest::StartStation(dir + "/");
  DemoDataOptions options = base;
  options.root = dir + "/";
  options.force = true;
  DemoDataSummary summary;
  bool ok = GenerateDemoData(options, summary, problem);
  int16_t status = 0;
  ResetDataFiles(status);
  return ok;
}

struct ChildRun {
  std::string root;             // program form, ending in "/"
  std::string station = "TMP";  // the station's temporary folder under the root
  int first = 1, last = 9999;   // property range
  long killBefore = 0;          // > 0: SIGKILL just before this operation (1-based)
  long signalBefore = 0;        // > 0: `signal` raised just before this operation, with the orderly end on
  int signal = SIGHUP;
  int maxPauses = -1;     // >= 0: more pauses than this (a wait on a lock) end the child with 5
  std::string traceFile;  // when set: one letter per operation is appended
  int readFd = -1;        // when set: the child waits for a byte here before it starts
  int pauseDivisor = 0;   // > 0: lock pauses shortened by this factor; 0: none at all
  // When set, the child runs this instead of the pass (an undo, say): exit 0
  // when it answers true.
  std::function<bool()> instead;
};

// A pass of the program over properties first..last at `date` (YYYYMMDD)
// with the demo's request, by a station of the root in a child process;
// true when it ended with a pass in the journal.
inline bool SettleInChild(const std::string& dir, int first, int last, const char* date = "20261231") {
  pid_t pid = fork();
  if (pid == 0) {
    const std::string root = dir + "/";
    settletest::StartStation(root);
    settletest::OpenSettlementFiles(root);
    SettlementPass(settletest::DemoRequest(first, last, date));
    int16_t status = 0;
    ResetDataFiles(status);
    _exit(Journal.passId > 0 ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

namespace detail {
inline long operations = 0;
inline long killBefore = 0;
inline long signalBefore = 0;
inline int signal = 0;
inline int pauses = 0;
inline FILE* trace = nullptr;
inline void Hook(SettlementOperation operation, int16_t) {
  ++operations;
  if (trace) {
    static const char letters[] = "fnudlrbeapgi";
    std::fputc(letters[static_cast<int>(operation)], trace);
  }
  if (killBefore > 0 && operations == killBefore) raise(SIGKILL);
  if (signalBefore > 0 && operations == signalBefore) raise(signal);
}
}  // namespace detail

// Starts the pass in a child; returns its process id (-1 when fork fails).
inline pid_t StartPass(const ChildRun& run) {
  pid_t pid = fork();
  if (pid != 0) return pid;
  // The child: a station of its own.  No test assertion runs here.
  if (run.readFd >= 0) {
    char go = 0;
    if (read(run.readFd, &go, 1) != 1) _exit(4);
  }
  settletest::StartStation(run.root, run.station);
  // A message of the data layer (which then ends the child) goes to the
  // error output, so that a failing test shows it.
  Platform.beep = [] {
    for (int r = 1; r <= ConsoleRows(); ++r) {
      std::string row = VirtualRowText(r);
      if (row.find_first_not_of(' ') != std::string::npos)
        std::fprintf(stderr, "child screen %2d|%s\n", r, Cp850ToUtf8(row).c_str());
    }
  };
  int divisor = run.pauseDivisor, maxPauses = run.maxPauses;
  Platform.pause = [divisor, maxPauses](int ms) {
    if (maxPauses >= 0 && ++detail::pauses > maxPauses) _exit(5);
    if (divisor > 0) usleep(static_cast<useconds_t>(ms) * 1000 / static_cast<useconds_t>(divisor));
  };
  if (run.signalBefore > 0) InstallEndSignals();
  settletest::OpenSettlementFiles(run.root);
  for (int16_t n :
       {kFileConcepts, kFileProperties, kFileExpenseNotes, kFileOwners, kFilePayments, kFileCollections})
    if (FindSlot(n) <= 0) _exit(3);
  const SettlementRequest request = settletest::DemoRequest(run.first, run.last);
  detail::operations = 0;
  detail::killBefore = run.killBefore;
  detail::signalBefore = run.signalBefore;
  detail::signal = run.signal;
  detail::pauses = 0;
  detail::trace = run.traceFile.empty() ? nullptr : std::fopen(run.traceFile.c_str(), "w");
  Settlement.beforeRecordOperation = detail::Hook;
  bool done = true;
  if (run.instead) done = run.instead();
  else SettlementPass(request);
  if (detail::trace) std::fclose(detail::trace);
  EndDataInOrder();  // as the program ends
  _exit(done ? 0 : 1);
}

// Waits for the child: "exit N" or "signal N".
inline std::string Wait(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return "lost";
  if (WIFEXITED(status)) return "exit " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return "signal " + std::to_string(WTERMSIG(status));
  return "other";
}

inline std::string RunPass(const ChildRun& run) { return Wait(StartPass(run)); }

// The record manager's snapshot of a root (host folder without the slash).
inline rawrecords::Snapshot Data(const std::string& dir) {
  int status = 0;
  rawrecords::Snapshot s = rawrecords::TakeSnapshot(dir, status);
  if (status != 0) s["status"] = {std::to_string(status)};
  return s;
}

// The liveness files of stations in the root's lock folder.
inline int StationFiles(const std::string& dir) {
  int files = 0;
  for (const std::string& name : DirectoryEntries(dir + "/LOCKS"))
    files += name.size() > 4 && name.compare(name.size() - 4, 4, ".sta") == 0;
  return files;
}

// The lock records some station still holds in the root's lock files.
inline int HeldLockRecords(const std::string& dir) {
  int held = 0;
  for (const char* name : {"PropietH", "CobramH", "PagamH"}) {
    std::string contents;
    if (!ReadWholeFile(dir + "/LOCKS/" + name + ".lck", contents)) continue;
    for (size_t at = 0; at + kLockRecordSize <= contents.size(); at += kLockRecordSize)
      held +=
          contents.substr(at + kLockStationAt, kLockStationWidth).find_first_not_of(' ') != std::string::npos;
  }
  return held;
}

// The records of one property across the files it owns (property, owners,
// collections of its owners, payments), for comparing property by property.
inline rawrecords::Records PropertyRecords(const rawrecords::Snapshot& s, const std::string& code) {
  rawrecords::Records out;
  for (const char* file : {"FinquesH", "PropietH", "CobramH", "PagamH"})
    for (const std::string& r : s.at(file))
      if (r.compare(0, 2, code) == 0) out.push_back(std::string(file) + ":" + r);
  return out;
}

// The journal of a root read straight through the record manager: for
// each property code, the passes whose property entries name it (kind "F"
// at byte 8, the code at bytes 4-5, the pass id packed at bytes 0-3); and
// per pass the property count its header (kind "A") says.
struct JournalView {
  std::map<std::string, std::vector<long>> passesOf;
  std::map<long, long> headerCounts, entryCounts;
  int status = 0;
};
inline JournalView ReadJournal(const std::string& dir) {
  JournalView v;
  for (const std::string& r : rawrecords::ReadAll(dir, "DiariLiq", v.status)) {
    long pass = rawrecords::Packed(r, 0, 4);
    if (r[8] == 'F') {
      v.passesOf[r.substr(4, 2)].push_back(pass);
      ++v.entryCounts[pass];
    } else if (r[8] == 'A') {
      v.headerCounts[pass] = rawrecords::Long(r, 108);
    }
  }
  return v;
}

// A suite root generated in a temporary folder with the options a test
// sets (`options`; its root is set), the program's station on it, and the
// current folder given back afterwards.  Generate makes the data; with
// `open` the six files and the journal are then open in this process.
// The fixture of the tests that make suite roots of their own under one
// temporary folder and run passes on them in children: the generator's
// options for every root, and the current directory and the platform hooks
// put back after each test.
class SuiteRootsTest : public ::testing::Test {
 protected:
  TempDir temp{"tarpelix_settle_"};
  std::string previousDirectory;
  DemoDataOptions options;
  int roots = 0;  // made so far, numbering the next one's folder

  void SetUp() override {
    ASSERT_FALSE(temp.path.empty());
    previousDirectory = CurrentDirectory();
  }
  void TearDown() override {
    Platform = PlatformHooks{};
    ChangeDirectory(previousDirectory);
  }
};

class GeneratedSuiteTest : public ::testing::Test {
 protected:
  TempDir temp{"tarpelix_settle_"};
  std::string root, previousDirectory;
  DemoDataOptions options;  // a fixture chooses them before SetUp, which sets their root
  SettlementRequest request = settletest::DemoRequest();  // what the tests' passes are asked

  void SetUp() override {
    ASSERT_FALSE(temp.path.empty());
    root = temp.path + "/";
    previousDirectory = CurrentDirectory();
    settletest::MakeSuiteRoot(temp.path);
    settletest::StartStation(root);
    options.root = root;
  }
  void TearDown() override {
    int16_t status = 0;
    ResetDataFiles(status);
    Platform = PlatformHooks{};
    ChangeDirectory(previousDirectory);
  }
  void Generate(bool open = false) {
    DemoDataSummary summary;
    std::string problem;
    ASSERT_TRUE(GenerateDemoData(options, summary, problem)) << problem;
    if (!open) return;
    settletest::OpenSettlementFiles(root);
  }

  // A pass over properties first..last at the date (YYYYMMDD) into concept
  // 3, with the demo's rates; its id.
  long Settle(const std::string& yyyymmdd, int first, int last) {
    request.SettlementDate = PackDigits(yyyymmdd);
    request.LowerOwnerKey = PackCode(std::to_string(first) + ".1");
    request.UpperOwnerKey = PackCode(std::to_string(last) + ".9999");
    request.CarryConcept = 3;
    SettlementPass(request);
    EXPECT_TRUE(Settlement.untouched.empty());
    return Journal.passId;
  }
};

}  // namespace passchild
