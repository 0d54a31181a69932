// undo.h - undoing a settlement pass from its journal.
//
// The undo puts back every record the pass rewrote (the owners' records and
// the property's, with its last-settlement date), inserts again every
// record it deleted (collections and payments; a record inserted again may
// get a new physical position, its bytes are those it had), and journals
// what it did.  It works property by property, each in a transaction of
// its own under the key locks the pass takes, so that an undo stopped half
// way (a crash, a kill) is completed by running it again.
//
// It refuses, changing nothing, when the pass is already undone, when a
// later pass settled one of its properties (passes are undone newest first)
// or when a record the pass rewrote has changed since (or is gone); the
// refusal lists each of them.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

enum class UndoProblemKind {
  kLaterPass,  // a later pass (laterPass) settled the property and is not undone there
  kChanged,    // the record is no longer as the pass left it
  kMissing,    // the record is gone
  kDamaged,    // the journal entry does not fit the file's records
};

struct UndoProblem {
  UndoProblemKind kind;
  std::string property;  // 2 packed bytes
  int16_t file = 0;      // the record's file (511 the property, 513 an owner)
  std::string record;    // its key: the property code or the owner code
  long laterPass = 0;
};

enum class UndoOutcome {
  kUndone,         // every property of the pass is undone (some maybe by an earlier run)
  kNoSuchPass,     // the journal has no such pass
  kAlreadyUndone,  // it was undone before: nothing to do
  kNewerFormat,    // written by a newer program (format): nothing was changed
  kRefused,        // see problems; nothing was changed, unless `undone` says otherwise
  kFailed,         // the record manager answered `status` (for `property` when set)
};

struct UndoResult {
  UndoOutcome outcome = UndoOutcome::kFailed;
  long properties = 0;  // of the pass
  long undone = 0;      // undone by this run
  long before = 0;      // already undone by an earlier run that did not end
  std::vector<UndoProblem> problems;
  int16_t status = 0;
  int16_t format = 0;    // of the pass, for kNewerFormat
  std::string property;  // where the record manager failed, or where a change was met half way
};

// Called while another station holds the data (a busy database or a
// record locked elsewhere), before each pause; the undo waits without
// limit.  Empty: it waits silently.
struct UndoHooks {
  void (*waiting)() = nullptr;
};
extern UndoHooks UndoWait;

// Undoes the pass `id` (the six data files and the journal open).
UndoResult UndoPass(long id);
