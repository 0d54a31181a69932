// undo_test.cpp - a settlement pass undone from its journal: every record
// back byte for byte (the six files as before the pass, the journal
// aside); the refusals, which change nothing (a later pass on a property,
// a settled owner changed or gone since, the pass undone already, no such
// pass); and an undo killed at many points and run again, which completes.
#include "history/undo.h"

#include <algorithm>
#include <set>

#include "settle/journal.h"
#include "settle/listing.h"
#include "tests/settle/pass_child.h"

namespace {

using rawrecords::Snapshot;

// A generated suite root with its files open in this process.
class UndoTest : public passchild::GeneratedSuiteTest {
 protected:
  void SetUp() override {
    options = passchild::Suite(
        {.seed = 4242, .properties = 8, .ownersMin = 3, .ownersMax = 9, .collections = 4, .payments = 7});
    GeneratedSuiteTest::SetUp();
    ASSERT_NO_FATAL_FAILURE(Generate(true));
  }

  Snapshot Data() {
    int status = 0;
    Snapshot s = rawrecords::TakeSnapshot(temp.path, status);
    EXPECT_EQ(status, 0);
    return s;
  }

  // The problems of a refusal as "property:kind:record" texts.
  static std::set<std::string> Problems(const UndoResult& r) {
    std::set<std::string> out;
    for (const UndoProblem& p : r.problems) {
      std::string kind = p.kind == UndoProblemKind::kLaterPass ? "later " + std::to_string(p.laterPass)
                         : p.kind == UndoProblemKind::kChanged ? "changed"
                         : p.kind == UndoProblemKind::kMissing ? "missing"
                                                               : "damaged";
      out.insert(UnpackDigits(p.property) + ":" + kind + ":" + UnpackDigits(p.record));
    }
    return out;
  }
};

TEST_F(UndoTest, UndoPutsBackEveryRecordByteForByte) {
  const Snapshot before = Data();
  long id = Settle("20261231", 1, 8);
  ASSERT_EQ(id, 1);
  const Snapshot settled = Data();
  ASSERT_NE(settled, before);

  UndoResult r = UndoPass(id);
  ASSERT_EQ(r.outcome, UndoOutcome::kUndone);
  EXPECT_EQ(r.undone, 8);
  EXPECT_EQ(r.before, 0);
  // Every file as before the pass, in key order (the deleted records are
  // back, with new positions).
  for (const char* file : rawrecords::kFiles) EXPECT_EQ(Data().at(file), before.at(file)) << file;

  // The undo is journaled: the header says so, each property has its entry.
  JournalPass pass;
  ASSERT_EQ(ReadJournalPass(id, pass), 0);
  EXPECT_TRUE(pass.Undone());
  EXPECT_EQ(pass.undone, 8);
  EXPECT_EQ(pass.undoStation, Locks.stationId);
  EXPECT_NE(DayText(pass.undoEndDate), "");
  std::vector<std::string> codes;
  std::vector<bool> undone;
  ASSERT_EQ(JournalPropertiesOf(id, codes, undone), 0);
  EXPECT_EQ(codes.size(), 8u);
  EXPECT_EQ(std::count(undone.begin(), undone.end(), true), 8);
  JournalProperty entry;
  JournalUndo undo;
  bool isUndone = false;
  ASSERT_EQ(ReadJournalProperty(id, codes[0], entry, isUndone, undo), 0);
  EXPECT_TRUE(isUndone);
  EXPECT_EQ(undo.rewritten, static_cast<long>(entry.balances.size()) + 1);
  EXPECT_EQ(undo.reinserted, static_cast<long>(entry.collections.size() + entry.payments.size()));

  // A second time: refused, nothing changed.
  r = UndoPass(id);
  EXPECT_EQ(r.outcome, UndoOutcome::kAlreadyUndone);
  EXPECT_EQ(Data(), before);
  // The same settlement again gives the same records as the first time.
  EXPECT_EQ(Settle("20261231", 1, 8), 2);
  EXPECT_EQ(Data(), settled);
}

TEST_F(UndoTest, RefusalsListWhatStandsInTheWayAndChangeNothing) {
  const Snapshot original = Data();
  const long first = Settle("20261231", 1, 8);

  // A later pass on properties 3 and 4: the first waits until it is undone.
  const long later = Settle("20270131", 3, 4);
  ASSERT_EQ(later, 2);
  Snapshot now = Data();
  UndoResult r = UndoPass(first);
  EXPECT_EQ(r.outcome, UndoOutcome::kRefused);
  EXPECT_EQ(Problems(r), (std::set<std::string>{"0003:later 2:0003", "0004:later 2:0004"}));
  EXPECT_EQ(r.undone, 0);
  EXPECT_EQ(Data(), now);
  ASSERT_EQ(UndoPass(later).outcome, UndoOutcome::kUndone);

  // A settled owner changed since (another program wrote a concept), and
  // one deleted.
  int16_t status = 0;
  FindRecord(status, 0, settletest::OwnerKey(2, 2), 0, kFileOwners);
  ASSERT_EQ(status, 0);
  SetOwnerConceptAmount(5, OwnerConceptAmount(5) + 1);
  UpdateRecord(status, kFileOwners);
  ASSERT_EQ(status, 0);
  FindRecord(status, 0, settletest::OwnerKey(5, 1), 0, kFileOwners);
  ASSERT_EQ(status, 0);
  const std::string deleted(reinterpret_cast<char*>(PropietH), sizeof PropietH);
  DeleteRecord(status, kFileOwners);
  ASSERT_EQ(status, 0);
  now = Data();
  r = UndoPass(first);
  EXPECT_EQ(r.outcome, UndoOutcome::kRefused);
  EXPECT_EQ(Problems(r), (std::set<std::string>{"0002:changed:00020002", "0005:missing:00050001"}));
  EXPECT_EQ(Data(), now);

  // Put right, the undo goes through and everything is as at the start.
  FindRecord(status, 0, settletest::OwnerKey(2, 2), 0, kFileOwners);
  SetOwnerConceptAmount(5, OwnerConceptAmount(5) - 1);
  UpdateRecord(status, kFileOwners);
  std::memcpy(PropietH, deleted.data(), deleted.size());
  InsertRecord(status, kFileOwners);
  ASSERT_EQ(status, 0);
  r = UndoPass(first);
  ASSERT_EQ(r.outcome, UndoOutcome::kUndone);
  EXPECT_EQ(Data(), original);

  EXPECT_EQ(UndoPass(first).outcome, UndoOutcome::kAlreadyUndone);
  EXPECT_EQ(UndoPass(later).outcome, UndoOutcome::kAlreadyUndone);
  EXPECT_EQ(UndoPass(77).outcome, UndoOutcome::kNoSuchPass);
  EXPECT_EQ(Data(), original);
}

TEST_F(UndoTest, ARecordThatSharesItsKeyWithOneThatStaysComesBackAmongItsEquals) {
  // A payment for a group beyond 8 stays where the pass leaves it; one of
  // the same property and date is settled and deleted.  Back, it follows
  // the one that stayed: the same records, the same bytes, only its place
  // among its equals differs.
  ASSERT_EQ(settletest::InsertPayment(1, "20261201", 321, " ", 1), 0);
  ASSERT_EQ(settletest::InsertPayment(1, "20261201", 321, " ", 9), 0);
  const Snapshot before = Data();
  ASSERT_EQ(UndoPass(Settle("20261231", 1, 1)).outcome, UndoOutcome::kUndone);
  Snapshot after = Data();
  EXPECT_NE(after.at("PagamH"), before.at("PagamH"));
  std::multiset<std::string> a(after.at("PagamH").begin(), after.at("PagamH").end()),
      b(before.at("PagamH").begin(), before.at("PagamH").end());
  EXPECT_EQ(a, b);
  for (const char* file : {"FinquesH", "PropietH", "CobramH"})
    EXPECT_EQ(after.at(file), before.at(file)) << file;
}

// ---- An undo killed and run again ------------------------------------------------------

class UndoCrashTest : public passchild::SuiteRootsTest {
 protected:
  std::string workDir;
  Snapshot before, settled;
  std::string trace;  // one letter per operation of an uninterrupted undo

  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(SuiteRootsTest::SetUp());
    options = passchild::Suite(
        {.seed = 99, .properties = 5, .ownersMin = 3, .ownersMax = 6, .collections = 2, .payments = 3});
    FreshSettledRoot();
    passchild::ChildRun run = Run();
    run.instead = [] { return UndoPass(1).outcome == UndoOutcome::kUndone; };
    run.traceFile = temp.path + "/trace";
    ASSERT_EQ(passchild::RunPass(run), "exit 0");
    ASSERT_TRUE(ReadWholeFile(run.traceFile, trace));
    ASSERT_EQ(passchild::Data(workDir), before);
  }

  passchild::ChildRun Run() {
    passchild::ChildRun run;
    run.root = workDir + "/";
    return run;
  }

  // Generated data in a new root, settled by pass 1.
  void FreshSettledRoot() {
    if (!workDir.empty()) std::filesystem::remove_all(workDir);
    workDir = temp.path + "/work" + std::to_string(++roots);
    std::string problem;
    ASSERT_TRUE(passchild::MakeGeneratedRoot(workDir, options, problem)) << problem;
    Snapshot start = passchild::Data(workDir);
    if (before.empty()) before = start;
    ASSERT_EQ(start, before);
    ASSERT_EQ(passchild::RunPass(Run()), "exit 0");
    Snapshot now = passchild::Data(workDir);
    if (settled.empty()) settled = now;
    ASSERT_EQ(now, settled);
  }

  // Each property as the pass left it or as before it, and undone in the
  // journal exactly when its records are back.
  void ExpectEachPropertyUndoneOrSettled(const std::string& when) {
    Snapshot now = passchild::Data(workDir);
    std::set<std::string> undoneInJournal;
    long undoneInHeader = -1;
    int status = 0;
    for (const std::string& r : rawrecords::ReadAll(workDir, "DiariLiq", status)) {
      if (r[8] == 'D') undoneInJournal.insert(r.substr(4, 2));
      if (r[8] == 'A') undoneInHeader = rawrecords::Long(r, 172);
    }
    for (const std::string& p : before.at("FinquesH")) {
      std::string code = p.substr(0, 2);
      rawrecords::Records records = passchild::PropertyRecords(now, code);
      auto sorted = [](rawrecords::Records r) {
        std::sort(r.begin(), r.end());
        return r;
      };
      bool back = sorted(records) == sorted(passchild::PropertyRecords(before, code));
      bool asSettled = records == passchild::PropertyRecords(settled, code);
      EXPECT_TRUE(back || asSettled) << "property " << rawrecords::Packed(p, 0, 2) << " half undone " << when;
      EXPECT_EQ(undoneInJournal.count(code) == 1, back)
          << "property " << rawrecords::Packed(p, 0, 2) << " " << when;
    }
    EXPECT_EQ(undoneInHeader, static_cast<long>(undoneInJournal.size())) << when;
  }
};

TEST_F(UndoCrashTest, AnUndoKilledAnywhereIsCompletedByRunningItAgain) {
  std::set<long> points;
  for (size_t i = 0; i < trace.size(); ++i) {
    long n = static_cast<long>(i) + 1;
    char op = trace[i];
    if (op == 'e') points.insert({n - 1, n, n + 1});
    if (op == 'b' || n % 17 == 0) points.insert(n);
  }
  points.erase(0);
  points.erase(static_cast<long>(trace.size()) + 1);
  ASSERT_GT(trace.size(), 100u);
  RecordProperty("kill_points", static_cast<int>(points.size()));
  for (long n : points) {
    const std::string when =
        "killed before operation " + std::to_string(n) + " (" + trace[static_cast<size_t>(n - 1)] + ")";
    FreshSettledRoot();
    passchild::ChildRun run = Run();
    run.instead = [] { return UndoPass(1).outcome == UndoOutcome::kUndone; };
    run.killBefore = n;
    ASSERT_EQ(passchild::RunPass(run), "signal 9") << when;
    ExpectEachPropertyUndoneOrSettled(when);
    // Killed after its last commit (in its last releases) the undo is
    // complete, and the run again says so; its last locks wait to be freed
    // as old, as a killed program's do.
    const bool complete = passchild::Data(workDir) == before;
    run.killBefore = 0;
    ASSERT_EQ(passchild::RunPass(run), complete ? "exit 1" : "exit 0") << when;
    EXPECT_EQ(passchild::Data(workDir), before) << when;
    ExpectEachPropertyUndoneOrSettled(when);
    if (!complete) { EXPECT_EQ(passchild::HeldLockRecords(workDir), 0) << when; }
    // Complete: a further run is refused.
    EXPECT_EQ(passchild::RunPass(run), "exit 1") << when;
    if (HasFailure()) break;
  }
}

}  // namespace
