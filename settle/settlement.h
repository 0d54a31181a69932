// settlement.h - the fee settlement: the dialogue loop on the parameter
// screen and the settlement pass over a range of properties.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "recman/recman.h"
#include "settle/parameters.h"

// Creates the settlement's work tables (once, at start).
void CreateWorkTables();
// The dialogue loop: parameter screen, confirmation, settlement pass and its
// result; returns when the operator leaves the parameter screen with Escape.
void RunSettlement();
// One turn of the dialogue before the pass: the parameter screen until its
// check accepts it and the operator confirms the pass over it (ConfirmSettlement);
// any other answer takes him back to the screen's first field.  `request`
// is then the parameter screen's (ParameterRequest).  The key that ended
// the parameter screen: Escape (or 0, a screen without a field to edit)
// when the operator left it, and nothing is asked.
KeyCode RequestSettlement(SettlementRequest& request);

// ---- The settlement pass ----------------------------------------------------
// Settles every property from the first to the last property of the
// request's LowerOwnerKey / UpperOwnerKey at its SettlementDate, carrying
// each owner's balance into its CarryConcept, at its rates.  Each property is settled
// whole or not at all: its owners' balances, the deleted collections and
// payments and its new last-settlement date are one transaction of the
// record manager, taken under the key locks of the property ("PropietH"),
// its owners' collections ("CobramH") and its payments ("PagamH").
// Properties that cannot be settled soundly are left untouched and listed in
// Settlement.untouched.
void SettlementPass(const SettlementRequest& request);
// Whether the record manager's account tells a database its storage calls
// malformed (the pass stops at it), rather than one damaged record.
bool DatabaseMalformed(const RecmanDiagnostic& d);
// How many properties the property file holds from property code lowP to
// highP (2 packed bytes each); -1 when the file could not be read.
long PropertiesInRange(const std::string& lowP, const std::string& highP);

// ---- The progress line ------------------------------------------------------
// While a pass runs, row 24 tells which property it is settling and how far
// it is through the range (ProgressText).  StartProgress opens the line
// with the number of properties of the range (< 0: not known); ShowProgress
// gives the property being settled and its place in the range, and redraws
// the line when kProgressRedrawMs have passed since it last did (the first
// time at once); EndProgress puts back what row 24 showed before.
constexpr int kProgressRedrawMs = 200;
void StartProgress(long total);
void ShowProgress(const std::string& code, long reached);
void EndProgress();
// "FINCA 0123 · 45 DE 999" (in the session's language): property `code`
// (2 packed bytes), the `reached`-th of `total` (total < 0: not known, and
// not said).
std::string ProgressText(const std::string& code, long reached, long total);

// ---- The result ---------------------------------------------------------------
// What the operator reads after every pass, also one that settled nothing
// (PassResultLines, in the session's language): settled or stopped (at
// which property), the pass's number in the settlement journal, the
// settlement date and range, the properties settled, the owners given a
// balance, the fee, VAT and withholding, the collections and payments
// cleared; then, when the pass met a damaged or replaced database, its
// folder and the record manager's account; then every property left
// untouched with its reason (and the record manager's status where it gave
// one).  ShowPassResult shows them a page at a time over the screen
// (ShowPages).  `request` is the one the pass was run with.
std::vector<std::string> PassResultLines(const SettlementRequest& request);
void ShowPassResult(const SettlementRequest& request);

// A payment a pass left where it was, in a property it settled, so that its
// money is not lost: charged to an owner who receives no balance in this
// pass, or shared by a coefficient group beyond the property's eight.
struct KeptPayment {
  std::string code;  // the property, 2 packed bytes
  std::string date;  // packed
  int32_t amount = 0;
  bool chargedToOwner = false;  // "S": `target` is the owner; otherwise the group
  int target = 0;
};

// What the last pass did, summed over the properties it settled.
struct PassResult {
  std::string stoppedAt;  // the first property not settled when the operator stopped the pass
  long settled = 0;       // properties settled
  long owners = 0;        // owners who received a balance
  long collections = 0;   // collections deleted (carried into the balances)
  long payments = 0;      // payments deleted (shared or charged)
  int64_t base = 0, vat = 0, withheld = 0, fee = 0;  // the fee before and after VAT and withholding
  std::vector<KeptPayment> kept;                     // in the properties settled, in key order
};

// Owner numbers run from 0 to 9999 (the last 4 digits of an owner code).
constexpr int kOwnerNumbers = 10000;

// Why a property was left untouched.
enum class UntouchedReason {
  kNoLastSettlement,       // no last-settlement date: its start belongs to the property's upkeep
  kDamagedLastSettlement,  // a last-settlement date that is no date (month 13, month 0 with a day)
  kSettledLater,           // its last settlement is after the settlement date
  kSettledElsewhere,       // another station settled it while this one waited for it
  kUnknownTaxIndex,        // its tax index selects no VAT or withholding rate (0 or 1)
  kNoVatRate,              // its tax index (in status) selects a VAT rate "Vork.ini" does not give
  kNoWithholdingRate,      // its tax index (in status) selects a withholding rate "Vork.ini" does not give
  kAmountTooLarge,         // a fee, share or balance beyond the 32-bit amounts of the records
  kNotSaved,               // the record manager refused a change: nothing of it was kept
  kGoneMeanwhile,          // deleted by another station while this one waited for it
  kRecordManager,          // the record manager answered a status the pass does not expect (see status)
  kStopped,                // the operator stopped the pass (Escape) before this property
};
struct UntouchedProperty {
  std::string code;  // 2 packed bytes
  UntouchedReason reason;
  int16_t status = 0;    // the record manager's status, for kRecordManager; the tax index for the rates
  std::string lastCode;  // when set: every property from code to lastCode (2 packed bytes)
  std::string date;      // the damaged last-settlement date, for kDamagedLastSettlement
};
// The Catalan text of a reason (passed through Translate when shown).
std::string UntouchedReasonText(UntouchedReason reason);

// The operations of a pass, as the test hook below sees them.
enum class SettlementOperation {
  kFind,
  kNext,
  kUpdate,
  kDelete,
  kLock,
  kRelease,
  kBegin,
  kEnd,
  kAbort,
  kPosition,  // the physical position of the current record
  kReadAt,    // a read by physical position
  kInsert,    // a new record (the journal's, and the undo's re-inserted records)
};

// The work tables of the pass, rebuilt for every property.  Amounts are
// held in 64 bits so that a sum beyond the records' 32-bit amounts is seen
// (and the property left untouched) instead of wrapping.
struct SettlementWork {
  int64_t CoefTotal[8] = {};                 // coefficient groups 1..7 (group 1: 1,000,000)
  int64_t OwnerShare[8] = {};                // the current owner's shares, groups 1..7
  int64_t GroupAmount[9] = {};               // 0..8: amounts to share by group (8: charged to one owner)
  int64_t OwnerPart[9] = {};                 // the current owner's parts; 0: carried-over amounts
  std::vector<int64_t> OwnerCharges;         // by owner number 0..9999: payments charged to one owner
  std::vector<int64_t> OwnerCollections;     // by owner number 0..9999: collections of kind C and I
  std::vector<UntouchedProperty> untouched;  // of the last pass, in key order
  PassResult result;                         // of the last pass
  // The record manager's account of the first damaged or replaced database
  // the last pass met (status 2), for the operator.
  bool damageKnown = false;
  RecmanDiagnostic damage;
  // The properties the last pass settled, in key order; and whether it
  // stopped at a database its storage called malformed (nothing written
  // after it).
  std::vector<std::string> settled;
  bool stoppedOnDamage = false;
  // Buffers of deleted records' images a property's journal entry had,
  // for the next property's (at most kSpareImages).
  std::vector<std::string> spareImages;
  // Operations the pass has asked of the data layer (reads, steps, updates,
  // deletes, key locks and releases, transaction steps); for measurements.
  uint64_t recordOperations = 0;
  // Called before each of those operations when set, with the operation and
  // its file (the locked file for locks; 0 for transaction steps).  For
  // tests: crash tests end the process here, order tests look at the locks.
  void (*beforeRecordOperation)(SettlementOperation operation, int16_t file) = nullptr;
};
extern SettlementWork Settlement;
constexpr size_t kSpareImages = 1024;
