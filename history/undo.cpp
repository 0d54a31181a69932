// undo.cpp - a settlement pass undone from its journal (see undo.h).
//
// First everything is checked without a change: the pass exists and is not
// wholly undone, no later pass settled any of its properties, and every
// record it rewrote is still as it left it.  Then each property not yet
// undone is undone in a transaction of its own, under the pass's key locks
// (the property, its owners' collections, its payments), where the same
// checks are made again on what the transaction reads: another station may
// have changed something since the first look.  The property's undo entry
// in the journal is written in that transaction, so the journal says
// exactly which properties are undone, after a crash too; a second run
// takes up the properties left.
#include "history/undo.h"

#include <cmath>
#include <cstring>

#include "data/data.h"
#include "data/locks.h"
#include "input/dates.h"
#include "platform/platform.h"
#include "recman/recman.h"
#include "settle/journal.h"
#include "settle/operations.h"
#include "settle/records.h"

UndoHooks UndoWait;

namespace {

constexpr int16_t kEqual = 0;
constexpr int kBusyPauseMaxMs = 10000;  // as the pass waits on a busy database

bool Busy(int16_t status) { return status == B_RECORD_LOCKED || status == B_FILE_LOCKED; }

std::string Image(const unsigned char* record, size_t size) {
  return std::string(reinterpret_cast<const char*>(record), size);
}

// The record of `file` whose key 0 is `key`, compared with what the pass
// left; a problem is added when it differs or is gone.  Status of the read
// when it failed otherwise.
int16_t CheckRecord(const JournalProperty& entry, int16_t file, const std::string& key,
                    const std::string& after, std::vector<UndoProblem>& problems) {
  int16_t status = CountedFind(kEqual, key, file);
  if (status == B_KEY_NOT_FOUND) {
    problems.push_back(UndoProblem{UndoProblemKind::kMissing, entry.code, file, key, 0});
    return 0;
  }
  if (status != 0) return status;
  const unsigned char* record = file == kFileOwners ? PropietH : FinquesH;
  size_t size = file == kFileOwners ? sizeof PropietH : sizeof FinquesH;
  if (Image(record, size) != after)
    problems.push_back(UndoProblem{UndoProblemKind::kChanged, entry.code, file, key, 0});
  return 0;
}

// Whether the property of the pass `id` can be undone: no later pass on
// it, its rewritten records as the pass left them.
int16_t CheckProperty(long id, const JournalProperty& entry, std::vector<UndoProblem>& problems) {
  std::vector<long> later;
  int16_t status = LaterPassesOf(id, entry.code, later);
  if (status != 0) return status;
  for (long pass : later)
    problems.push_back(
        UndoProblem{UndoProblemKind::kLaterPass, entry.code, kFileProperties, entry.code, pass});
  // The later pass rewrote the records: that is what stands in the way.
  if (!later.empty()) return 0;
  bool fits = entry.before.size() == sizeof FinquesH && entry.after.size() == sizeof FinquesH;
  for (const JournalOwner& owner : entry.balances)
    fits = fits && owner.before.size() == sizeof PropietH && owner.after.size() == sizeof PropietH;
  for (const std::string& image : entry.collections) fits = fits && image.size() == sizeof CobramH;
  for (const std::string& image : entry.payments) fits = fits && image.size() == sizeof PagamH;
  if (!fits) {
    problems.push_back(UndoProblem{UndoProblemKind::kDamaged, entry.code, kFileJournal, entry.code, 0});
    return 0;
  }
  if ((status = CheckRecord(entry, kFileProperties, entry.code, entry.after, problems)) != 0) return status;
  for (const JournalOwner& owner : entry.balances)
    if ((status = CheckRecord(entry, kFileOwners, owner.code, owner.after, problems)) != 0) return status;
  return 0;
}

// The record of `file` with key `key` rewritten with `before`.
int16_t PutBack(int16_t file, const std::string& key, const std::string& before) {
  int16_t status = CountedFind(kEqual, key, file);
  if (status != 0) return status;
  std::memcpy(file == kFileOwners ? PropietH : FinquesH, before.data(), before.size());
  return CountedUpdate(file);
}

// `image` inserted into `file` as a new record.
int16_t InsertAgain(int16_t file, const std::string& image) {
  std::memcpy(file == kFileCollections ? CobramH : PagamH, image.data(), image.size());
  return CountedInsert(file);
}

// What one attempt at a property's undo came to.
struct Attempt {
  enum Kind { kDone, kDoneBefore, kRefused, kBusy, kFailed } kind = kDone;
  int16_t status = 0;
};

JournalUndo UndoEntry(const JournalProperty& entry) {
  JournalUndo undo;
  StationIdentity();
  undo.station = Locks.stationId;
  undo.computer = Locks.computerName;
  PackedNow(undo.date, undo.time);
  undo.rewritten = static_cast<long>(entry.balances.size()) + 1;
  undo.reinserted = static_cast<long>(entry.collections.size() + entry.payments.size());
  return undo;
}

// One attempt at undoing the property `code` of the pass `id`; the caller
// holds its locks.  Whatever does not end undone is rolled back.
Attempt TryUndo(long id, const std::string& code, std::vector<UndoProblem>& problems) {
  int16_t status = CountedBegin();
  auto failed = [](int16_t s) {
    CountedAbort();
    return Attempt{Busy(s) ? Attempt::kBusy : Attempt::kFailed, s};
  };
  if (status != 0) return failed(status);
  JournalProperty entry;
  JournalUndo undo;
  bool undone = false;
  status = ReadJournalProperty(id, code, entry, undone, undo);
  if (status != 0) return failed(status);
  if (undone) {
    CountedAbort();
    return Attempt{Attempt::kDoneBefore, 0};
  }
  size_t known = problems.size();
  if ((status = CheckProperty(id, entry, problems)) != 0) return failed(status);
  if (problems.size() != known) {
    CountedAbort();
    return Attempt{Attempt::kRefused, 0};
  }
  for (const JournalOwner& owner : entry.balances)
    if ((status = PutBack(kFileOwners, owner.code, owner.before)) != 0) return failed(status);
  if ((status = PutBack(kFileProperties, entry.code, entry.before)) != 0) return failed(status);
  for (const std::string& image : entry.collections)
    if ((status = InsertAgain(kFileCollections, image)) != 0) return failed(status);
  for (const std::string& image : entry.payments)
    if ((status = InsertAgain(kFilePayments, image)) != 0) return failed(status);
  if ((status = JournalWriteUndo(id, code, UndoEntry(entry))) != 0) return failed(status);
  if ((status = CountedEnd()) != 0) return failed(status);
  return Attempt{};
}

// The property's undo under its key locks, waiting while another station
// holds the data.
Attempt UndoProperty(long id, const std::string& code, std::vector<UndoProblem>& problems) {
  for (;;) {
    Attempt attempt;
    {
      const PropertyLocks locks(code);
      attempt = TryUndo(id, code, problems);
    }
    if (attempt.kind != Attempt::kBusy) return attempt;
    if (UndoWait.waiting) UndoWait.waiting();
    PauseMs(static_cast<int>(std::lround(kBusyPauseMaxMs * RandomUnit() + 1)));
  }
}

}  // namespace

UndoResult UndoPass(long id) {
  UndoResult result;
  auto failed = [&](int16_t status, const std::string& code = std::string()) {
    result.outcome = UndoOutcome::kFailed;
    result.status = status;
    result.property = code;
    return result;
  };
  JournalPass pass;
  int16_t status = ReadJournalPass(id, pass);
  if (status == B_KEY_NOT_FOUND) {
    result.outcome = UndoOutcome::kNoSuchPass;
    return result;
  }
  if (status != 0) return failed(status);
  result.properties = pass.properties;
  if (pass.Format() > kJournalFormat) {
    // Its record images may hold fields this program does not know: putting
    // them back could lose what the newer program wrote.
    result.outcome = UndoOutcome::kNewerFormat;
    result.format = pass.Format();
    return result;
  }
  if (pass.Undone()) {
    result.outcome = UndoOutcome::kAlreadyUndone;
    return result;
  }
  std::vector<std::string> codes;
  std::vector<bool> undone;
  if ((status = JournalPropertiesOf(id, codes, undone)) != 0) return failed(status);

  // Everything checked before anything changes.
  for (size_t i = 0; i < codes.size(); ++i) {
    if (undone[i]) continue;
    JournalProperty entry;
    JournalUndo undo;
    bool done = false;
    if ((status = ReadJournalProperty(id, codes[i], entry, done, undo)) != 0) return failed(status, codes[i]);
    if ((status = CheckProperty(id, entry, result.problems)) != 0) return failed(status, codes[i]);
  }
  if (!result.problems.empty()) {
    result.outcome = UndoOutcome::kRefused;
    return result;
  }

  // Every property, those an earlier run undid too: its transaction finds
  // that and changes nothing, and its locks taken and released again free
  // any that a run killed among its releases left behind.
  for (const std::string& code : codes) {
    Attempt attempt = UndoProperty(id, code, result.problems);
    if (attempt.kind == Attempt::kFailed) return failed(attempt.status, code);
    if (attempt.kind == Attempt::kRefused) {
      // Changed by another station since the first look: what is undone
      // stays undone, the rest waits for the change to be sorted out.
      result.outcome = UndoOutcome::kRefused;
      result.property = code;
      return result;
    }
    if (attempt.kind == Attempt::kDone) ++result.undone;
    else ++result.before;  // an earlier run, or another one meanwhile
  }
  result.outcome = UndoOutcome::kUndone;
  return result;
}
