// journal.h - the settlement journal: what every pass did, kept with the
// data it describes.
//
// The journal is a record file of its own, "DiariLiq" (file number 516), in
// the data folder beside the six files of the condominium accounts, created
// from its dictionary "ddf\DiariLiq.xdf" as they are.  It therefore lives in
// the same database, is backed up, checked and locked with them, and a
// property's journal entry is written inside the transaction that settles
// the property: after a crash a property is journaled exactly when it is
// settled.  Its records and how they are laid out are described in
// settle/JOURNAL.md.
//
// The pass fills a JournalProperty as it computes and writes a property and
// hands it over once, just before the property's commit.  The tools read it
// back (JournalPasses, ReadJournalPass, ReadJournalProperty) for the list of
// passes and the statements, and the undo (history/undo.h) rests on it.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "settle/parameters.h"
#include "settle/records.h"

constexpr int16_t kFileJournal = 516;  // DiariLiq
constexpr int kJournalRecordSize = 1024;
extern unsigned char DiariLiq[kJournalRecordSize];
// The journal with its record variable, opened with the six files.
extern const SettlementFile kJournalFile;
// Opens the journal of the suite root `root` (program form, ending in
// "\\" or "/"), created from its dictionary when missing; the status of
// OpenDataFile.
int16_t OpenJournalFile(const std::string& root);

// Pass ids run from 1 to kLastPassId (8 packed digits).
constexpr long kLastPassId = 99999999;

// The format of the journal's records this program writes and reads.  A
// pass header keeps the format it was written in (0 in the journals
// written before it was kept: format 1); a reader refuses a pass of a
// format above its own.
constexpr int16_t kJournalFormat = 1;

// ---- What a pass journals --------------------------------------------------------

// One owner who received a balance.
struct JournalOwner {
  std::string code;        // 4 packed bytes
  int32_t shares[8] = {};  // coefficient groups 1..7 (group 1 in millionths)
  // 0: minus the carried-over amounts; 1..7: the owner's portion of each
  // group; 8: the payments charged to the owner alone.
  int64_t parts[9] = {};
  int64_t collections = 0;  // the collections counted (kinds C and I), less what was deducted
  // The amounts that counted as carried over: 1..8 the concept slots, 9 and
  // 10 the two further slots; bit n of carriedSlots says slot n counted.
  int32_t carried[11] = {};
  uint16_t carriedSlots = 0;
  int64_t balance = 0;        // collections + parts[0] - parts 1..8
  int64_t stored = 0;         // what the carry-over concept received: minus the balance
  std::string before, after;  // the owner record as read and as written
};

// One property settled.
struct JournalProperty {
  std::string code;    // 2 packed bytes
  int32_t months = 0;  // charged
  int32_t owners = 0;  // counted for the fee (every owner of the property)
  int32_t feePerOwner = 0;
  int64_t base = 0;  // owners x fee per owner and month x months
  float vatRate = 0, withholdingRate = 0;
  int64_t vat = 0, withheld = 0;  // on the base
  int64_t fee = 0;                // base + VAT - withholding
  int16_t feeGroup = 1;
  int16_t taxIndex = 0;
  int64_t groups[9] = {};              // the amounts shared by group (8: charged to one owner)
  int64_t coefTotals[8] = {};          // the groups' totals 1..7
  std::string oldDate, newDate;        // last-settlement date before and after, packed
  std::vector<JournalOwner> balances;  // the owners who received a balance, in key order
  // Every record the pass deleted, as it was, in the order deleted.
  std::vector<std::string> collections, payments;
  std::string before, after;  // the property record as read and as written
};

// A pass, as its header record keeps it: what it was run with and, summed
// over the properties journaled so far, what it did; and the undo of it.
struct JournalPass {
  long id = 0;
  int32_t station = 0;                             // the station's lock identity (LOCKS.TMP)
  std::string computer;                            // 15 bytes
  std::string startDate;                           // packed date
  std::string startTime;                           // 3 packed bytes: hours, minutes, seconds
  std::string settlementDate, lowerKey, upperKey;  // the parameters, packed
  int16_t carryConcept = 0;
  float vatRates[2] = {}, withholdingRates[2] = {};
  std::string firmTaxId;  // 35 bytes
  int16_t format = 0;     // of the records: kJournalFormat; 0 in older journals
  long properties = 0, owners = 0, rewritten = 0, deleted = 0;
  int64_t base = 0, vat = 0, withheld = 0, fee = 0, collections = 0, stored = 0;
  // The undo: properties undone so far, who started it and when, and when
  // it was complete (blank until then).
  long undone = 0;
  int32_t undoStation = 0;
  std::string undoComputer, undoStartDate, undoStartTime, undoEndDate, undoEndTime;
  bool Undone() const { return properties > 0 && undone >= properties; }
  // The format of its records (the older journals' 0 is format 1).
  int16_t Format() const { return format == 0 ? int16_t{1} : format; }
};

// A property's undo, as the undo journals it.
struct JournalUndo {
  int32_t station = 0;
  std::string computer, date, time;
  long rewritten = 0, reinserted = 0;
};

// ---- Writing, from the pass ---------------------------------------------------------

struct JournalState {
  // False: the pass writes no journal.  For measurements only; the program
  // never turns it off.
  bool enabled = true;
  // The id of the current pass once its first property is committed (0
  // before); `pending` is the id taken inside a property's transaction not
  // yet committed.
  long passId = 0;
  long pending = 0;
  // Where and when the current pass started, for its header.
  int32_t station = 0;
  std::string computer, startDate, startTime;
};
extern JournalState Journal;

// At the start of a pass: the station and the time it starts; no id yet.
void JournalStartPass();
// Inside the property's transaction, after its writes: its entries, and the
// pass's header (inserted with a new id with the first property, with the
// start and what `request` asked: date, range, concept, rates, the
// administrator's tax identifier; updated after).  Status of the record manager; anything but 0 rolls the
// property back (85 when another station took the pass id meanwhile: as a busy database, the property is
// tried again).
int16_t JournalWriteProperty(const SettlementRequest& request, const JournalProperty& property);
// After the property's commit.
void JournalPropertyCommitted();

// ---- Reading ------------------------------------------------------------------------
// Each answers the record manager's status: 0, or 4 when there is no such
// pass or property, or another status of a read that failed.

// The passes, newest first.
int16_t JournalPasses(std::vector<JournalPass>& passes);
int16_t ReadJournalPass(long id, JournalPass& pass);
// The property codes of a pass, in key order, and which of them are undone.
int16_t JournalPropertiesOf(long id, std::vector<std::string>& codes, std::vector<bool>& undone);
// One property of a pass; `undo` is filled (and `undone` true) when the
// property was undone.
int16_t ReadJournalProperty(long id, const std::string& code, JournalProperty& property, bool& undone,
                            JournalUndo& undo);
// The passes after `id` that settled the property `code` and are not undone
// there, oldest first.
int16_t LaterPassesOf(long id, const std::string& code, std::vector<long>& later);

// ---- Writing, from the undo ---------------------------------------------------------

// Inside the property's undo transaction: the property's undo entry and the
// pass header's undo fields.
int16_t JournalWriteUndo(long id, const std::string& code, const JournalUndo& undo);

// The local date (4 packed bytes) and time (3 packed bytes, HHMMSS) now.
void PackedNow(std::string& date, std::string& time);

// The packed form of a pass id (4 bytes) and back.
std::string PackedPassId(long id);
long PassIdOf(const std::string& packed);
