// pass.cpp - the settlement pass: for each property of the range, the
// management fee for the months since its last settlement, its payments,
// each owner's share of them by coefficient group, each owner's balance into
// the carry-over concept, the clean-up of the settled collections and
// payments, and the new last-settlement date.
//
// A property is settled whole or not at all.  Its key locks are taken first
// (the property, then its owners' collections, then its payments, in that
// order on every station, so two stations never wait for each other in a
// circle); then its record is read again and everything the pass reads and
// writes for it is one transaction of the record manager: a crash, a kill
// or a refused write leaves the property as it was, and the next run
// settles it from the start.  The locks are released only after the commit,
// and no lock is waited for while the transaction holds the database.
//
// Within the transaction the pass first reads and computes everything of a
// property, then writes.  A property whose amounts do not fit the records'
// 32-bit amounts, or whose dates make a settlement meaningless, is left
// untouched and reported.  Every status of the record manager is looked
// at: a busy database or a record locked elsewhere (84, 85) anywhere in a
// property rolls it back and the pass waits, as lock mode 1 does (the lock
// message on row 24, random pauses, no limit), then settles the property
// from the start; Escape during that wait stops the pass before the
// property.  Any other status it does not expect (a damaged record, a
// replaced database, a refused write) rolls the property back and reports
// it with the status.  No property ends neither settled nor reported.
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "data/data.h"
#include "data/locks.h"
#include "input/dates.h"
#include "input/keys.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "recman/recman.h"
#include "screen/windows.h"
#include "settle/journal.h"
#include "settle/operations.h"
#include "settle/parameters.h"
#include "settle/records.h"
#include "settle/settlement.h"

SettlementWork Settlement;

namespace {

constexpr int16_t kEqual = 0, kGreaterOrEqual = 1;
constexpr int16_t kCarryOverType = 1;
constexpr int16_t kNoConceptType = 9;        // set before a lookup: a missing concept never counts
constexpr int kGroups = 7;                   // coefficient groups 1..7 are shared among the owners
constexpr int kChargedGroup = 8;             // payments charged to one owner
constexpr int64_t kGroupOneTotal = 1000000;  // group 1 shares are millionths
constexpr int kBusyPauseMaxMs = 10000;       // a busy database: pauses of 1..10001 ms, as lock mode 1
constexpr int kKeyPollMs = 100;              // Escape is looked for this often while waiting

bool FitsLong(int64_t value) { return value >= INT32_MIN && value <= INT32_MAX; }

// x brought to the nearest integer, a half to the even neighbour (the
// default rounding mode); false when the result is no 32-bit amount.
bool NearestLong(double x, int64_t& result) {
  double r = std::nearbyint(x);
  if (!(r >= static_cast<double>(INT32_MIN) && r <= static_cast<double>(INT32_MAX))) return false;
  result = static_cast<int64_t>(r);
  return true;
}

// ---- Property checks ----------------------------------------------------------------

// What a last-settlement date is: a date (four packed digit pairs with a
// month 1..12), the blank date (month and day 0: the property was never
// settled), or damaged (bytes that are no packed digits, a month beyond 12,
// a month 0 with a day).
enum class DateKind { kUsable, kBlank, kDamaged };
DateKind KindOfDate(const std::string& packed) {
  if (packed.size() != 4) return DateKind::kDamaged;
  for (char c : packed)
    if (!IsPackedPair(static_cast<unsigned char>(c))) return DateKind::kDamaged;
  int month = PackedPairValue(static_cast<unsigned char>(packed[2]));
  int day = PackedPairValue(static_cast<unsigned char>(packed[3]));
  if (month >= 1 && month <= 12) return DateKind::kUsable;
  return month == 0 && day == 0 ? DateKind::kBlank : DateKind::kDamaged;
}

// Withholding applies when the administrator is a Spanish individual (the
// third character of the tax identifier below "A" or above "W") and the
// community a Spanish entity (third character "A" to "W").  A missing third
// character counts as below "A".
bool WithholdingApplies(const std::string& firm, const std::string& community) {
  auto third = [](const std::string& id) -> unsigned char {
    return id.size() >= 3 ? static_cast<unsigned char>(id[2]) : 0;
  };
  bool firmIsPerson = firm.compare(0, 2, "ES") == 0 && (third(firm) < 'A' || third(firm) > 'W');
  bool communityIsEntity =
      community.compare(0, 2, "ES") == 0 && third(community) >= 'A' && third(community) <= 'W';
  return firmIsPerson && communityIsEntity;
}

// ---- One property --------------------------------------------------------------------

// What the pass knows of an owner between reading and writing.
struct OwnerEntry {
  int32_t position = 0;  // physical position of the owner record
  int number = 0;        // 0..9999
  bool inRange = false;  // receives a balance
  int64_t shares[kGroups + 1] = {};
  int64_t carried = 0;  // OwnerPart(0): minus the carried-over amounts
  int64_t stored = 0;   // the amount for the carry-over concept
  // For the journal: the slots that counted as carried over (bit n; 9 and
  // 10 the two further slots) with their amounts, and the parts.
  uint16_t carriedSlots = 0;
  int32_t carriedAmounts[11] = {};
  int64_t parts[9] = {};
};

struct PropertyRun {
  PropertyRun(const SettlementRequest& r, const std::string& c)
      : request(r), code(c), limitKey(c + r.SettlementDate), receives(kOwnerNumbers, 0) {
    for (int& t : conceptType) t = -1;
  }
  // The journal entry's images go back to the pool the next property's
  // take theirs from.
  ~PropertyRun() {
    std::vector<std::string>& pool = Settlement.spareImages;
    for (std::vector<std::string>* images : {&journal.collections, &journal.payments})
      for (std::string& image : *images)
        if (pool.size() < kSpareImages) pool.push_back(std::move(image));
  }
  PropertyRun(const PropertyRun&) = delete;
  PropertyRun& operator=(const PropertyRun&) = delete;
  const SettlementRequest& request;
  std::string code;                // 2 packed bytes
  std::string limitKey;            // code + settlement date: collections and payments up to it
  std::vector<OwnerEntry> owners;  // in key order
  std::vector<char> receives;      // by owner number: an owner of the range
  int conceptType[256];            // -1 not looked up, else 1 carry-over / 0 not
  // Physical positions of the collections and payments carried into the
  // balances: what the pass deletes.
  std::vector<int32_t> collections, payments;
  std::vector<KeptPayment> kept;  // payments up to the date it leaves in place
  bool tooLarge = false;
  // The first status of the record manager the pass did not expect (0:
  // none); everything after it is only read on to no effect.
  int16_t failure = 0;
  JournalProperty journal;  // what the journal keeps of the property
};

bool Busy(int16_t status) { return status == B_RECORD_LOCKED || status == B_FILE_LOCKED; }

// A damaged or replaced database (status 2): what the record manager said
// of the call that failed is kept for the end of the pass.  Asked right
// after the failing call, before anything else overwrites it.
void NoteDamage(int16_t status) {
  if (status != B_IO_ERROR || !DataFiles.failureKnown || Settlement.damageKnown) return;
  Settlement.damageKnown = true;
  Settlement.damage = DataFiles.failure;
}

// Notes `status` as the property's failure unless it is 0 or one of the
// statuses that end a read normally: `end` (end of file for the walks, key
// not found for the look-ups).  True when the status was such a normal one.
bool Expected(PropertyRun& run, int16_t status, int16_t end) {
  if (status == 0 || status == end) return true;
  if (run.failure == 0) {
    run.failure = status;
    NoteDamage(status);
  }
  return false;
}

// Whether concept `number` is a carry-over concept.  Looked up once per
// property: within the property's transaction the concept file cannot
// change, so every owner would find the same answer.
bool IsCarryOver(PropertyRun& run, int number) {
  std::string key = ConceptKey(number);
  if (key.empty()) return false;  // no one-byte key: no such concept
  int& known = run.conceptType[number];
  if (known < 0) {
    SetConceptType(kNoConceptType);
    int16_t status = CountedFind(kEqual, key, kFileConcepts);
    Expected(run, status, B_KEY_NOT_FOUND);
    known = status == 0 && ConceptType() == kCarryOverType ? 1 : 0;
  }
  return known == 1;
}

void Add(PropertyRun& run, int64_t& total, int64_t amount) {
  total += amount;
  if (!FitsLong(total)) run.tooLarge = true;
}

// The owners of the property: counted for the fee, and for those of the
// owner range their shares, carried-over amounts and collections up to the
// settlement date.  Where each owner and each carried collection lies is
// kept, so that the writes reach exactly these records again without a
// second walk along the keys.
void ReadOwners(PropertyRun& run) {
  int16_t status = CountedFind(kGreaterOrEqual, run.code, kFileOwners);
  while (status == 0 && OwnerPropertyCode() == run.code) {
    OwnerEntry owner;
    std::string ownerCode = OwnerCode();
    owner.number = PackedNumber(ownerCode.substr(2, 2));
    owner.inRange = ownerCode >= run.request.LowerOwnerKey && ownerCode <= run.request.UpperOwnerKey;
    if (owner.inRange) {
      owner.position = CountedPosition(kFileOwners);
      if (owner.position == 0) Expected(run, B_INVALID_POSITIONING, 0);
      run.receives[static_cast<size_t>(owner.number)] = 1;
      for (int c = 1; c <= kGroups; ++c) owner.shares[c] = OwnerShare(c);
      // The carried-over amounts: the slots of concepts 1..8 and the two
      // further slots, where the concept is of the carry-over type.  The
      // lookups leave the owner record alone (another record variable).
      int64_t carried = 0;
      auto carry = [&](int slot, int32_t amount) {
        carried -= amount;
        owner.carriedSlots = static_cast<uint16_t>(owner.carriedSlots | 1u << slot);
        owner.carriedAmounts[slot] = amount;
      };
      for (int n = 1; n <= 8; ++n)
        if (IsCarryOver(run, n)) carry(n, OwnerConceptAmount(n));
      for (int slot = 1; slot <= 2; ++slot)
        if (IsCarryOver(run, OwnerExtraConcept(slot))) carry(8 + slot, OwnerExtraAmount(slot));
      if (!FitsLong(carried)) run.tooLarge = true;
      owner.carried = carried;

      // Collections up to the settlement date; only kinds C and I count.
      std::string limit = ownerCode + run.request.SettlementDate;
      int64_t& collected = Settlement.OwnerCollections[static_cast<size_t>(owner.number)];
      int16_t c = CountedFind(kGreaterOrEqual, ownerCode, kFileCollections);
      while (c == 0 && CollectionKey() <= limit) {
        std::string kind = CollectionKind();
        if (kind == "C" || kind == "I")
          Add(run, collected, int64_t{CollectionAmount()} - int64_t{CollectionDeducted()});
        int32_t position = CountedPosition(kFileCollections);
        if (position == 0) Expected(run, B_INVALID_POSITIONING, 0);
        run.collections.push_back(position);
        c = CountedNext(kFileCollections);
      }
      Expected(run, c, B_END_OF_FILE);
    }
    run.owners.push_back(owner);
    status = CountedNext(kFileOwners);
  }
  Expected(run, status, B_END_OF_FILE);
}

// The management fee for the property's months since its last settlement,
// with VAT and, where it applies, withholding, both on the fee before VAT.
int64_t ManagementFee(PropertyRun& run, const std::string& lastSettlement) {
  const SettlementRequest& request = run.request;
  int64_t months = DateDiff("m", request.SettlementDate, lastSettlement);
  int index = PropertyTaxIndex();
  double vat = request.IvaRate[index];
  double withholding = WithholdingApplies(request.FirmTaxId, PropertyTaxId()) ? request.RetRate[index] : 0.0;
  int64_t fee = static_cast<int64_t>(run.owners.size()) * int64_t{PropertyFeePerOwner()} * months;
  int64_t vatAmount = 0, withheld = 0;
  if (!FitsLong(fee) || !NearestLong(vat * static_cast<double>(fee) / 100.0, vatAmount) ||
      !NearestLong(withholding * static_cast<double>(fee) / 100.0, withheld)) {
    run.tooLarge = true;
    return 0;
  }
  JournalProperty& j = run.journal;
  j.months = static_cast<int32_t>(months);
  j.owners = static_cast<int32_t>(run.owners.size());
  j.feePerOwner = PropertyFeePerOwner();
  j.taxIndex = static_cast<int16_t>(index);
  j.base = fee;
  j.vatRate = static_cast<float>(vat);
  j.withholdingRate = static_cast<float>(withholding);
  j.vat = vatAmount;
  j.withheld = withheld;
  fee = fee + vatAmount - withheld;
  if (!FitsLong(fee)) run.tooLarge = true;
  j.fee = fee;
  return fee;
}

// The coefficient group of the fee: "HO" followed by A..G in the property's
// expense note (the first "HO" only); group 1 otherwise.
int FeeGroup(PropertyRun& run, const std::string& code) {
  int16_t status = CountedFind(kEqual, code, kFileExpenseNotes);
  Expected(run, status, B_KEY_NOT_FOUND);
  if (status != 0) return 1;
  std::string text = ExpenseNoteText();
  size_t at = text.find("HO");
  if (at == std::string::npos || at + 2 >= text.size()) return 1;
  size_t letter = std::string("ABCDEFG").find(text[at + 2]);
  return letter == std::string::npos ? 1 : static_cast<int>(letter) + 1;
}

// Whether the payment in the record variable is settled by this pass (and
// deleted).  A payment for a group beyond 8, or charged to an owner who
// receives no balance here, stays where it is so that its money is not
// lost.
bool PaymentIsSettled(const PropertyRun& run) {
  int n = PaymentTargetNumber();
  if (PaymentChargedToOwner()) return run.receives[static_cast<size_t>(n)] != 0;
  return n <= kChargedGroup;
}

// The payments up to the settlement date, into the groups and the owners'
// charges; where each settled one lies is kept for its deletion.
void ReadPayments(PropertyRun& run) {
  int16_t status = CountedFind(kGreaterOrEqual, run.code, kFilePayments);
  while (status == 0 && PaymentKey() <= run.limitKey) {
    if (PaymentIsSettled(run)) {
      int n = PaymentTargetNumber();
      int64_t amount = PaymentAmount();
      if (PaymentChargedToOwner()) {
        Add(run, Settlement.OwnerCharges[static_cast<size_t>(n)], amount);
        Add(run, Settlement.GroupAmount[kChargedGroup], amount);
      } else {
        Add(run, Settlement.GroupAmount[n], amount);
      }
      int32_t position = CountedPosition(kFilePayments);
      if (position == 0) Expected(run, B_INVALID_POSITIONING, 0);
      run.payments.push_back(position);
    } else {
      run.kept.push_back(KeptPayment{run.code, PaymentDate(), PaymentAmount(), PaymentChargedToOwner(),
                                     PaymentTargetNumber()});
    }
    status = CountedNext(kFilePayments);
  }
  Expected(run, status, B_END_OF_FILE);
}

// Each owner's balance: collections, less the carried-over amounts' sign
// convention (OwnerPart(0)), less the parts of the groups and the charges.
// The carry-over concept receives what the owner owes: minus the balance.
void ComputeBalances(PropertyRun& run) {
  SettlementWork& w = Settlement;
  for (OwnerEntry& owner : run.owners) {
    if (!owner.inRange) continue;
    for (int c = 1; c <= kGroups; ++c) w.OwnerShare[c] = owner.shares[c];
    w.OwnerPart[0] = owner.carried;
    int64_t total = 0;
    for (int c = 1; c <= kGroups; ++c) {
      w.OwnerPart[c] = 0;
      if (w.CoefTotal[c] == 0) continue;
      // Division first, in floating point, then the share.
      double part = static_cast<double>(w.GroupAmount[c]) / static_cast<double>(w.CoefTotal[c]) *
                    static_cast<double>(w.OwnerShare[c]);
      if (!NearestLong(part, w.OwnerPart[c])) {
        run.tooLarge = true;
        return;
      }
      Add(run, total, w.OwnerPart[c]);
    }
    w.OwnerPart[kChargedGroup] = w.OwnerCharges[static_cast<size_t>(owner.number)];
    Add(run, total, w.OwnerPart[kChargedGroup]);
    int64_t balance = w.OwnerCollections[static_cast<size_t>(owner.number)] + w.OwnerPart[0] - total;
    owner.stored = -balance;
    std::copy(std::begin(w.OwnerPart), std::end(w.OwnerPart), owner.parts);
    if (!FitsLong(balance) || !FitsLong(owner.stored)) run.tooLarge = true;
  }
}

// The bytes of a record variable.
template <size_t N>
std::string Image(const unsigned char (&record)[N]) {
  return std::string(reinterpret_cast<const char*>(record), N);
}

// The bytes of a record variable added to `into`, in a buffer an earlier
// property's journal entry had (given back by ~PropertyRun): a property
// deletes hundreds of records, and its entry keeps each one's image.
template <size_t N>
void KeepImage(std::vector<std::string>& into, const unsigned char (&record)[N]) {
  std::vector<std::string>& pool = Settlement.spareImages;
  if (pool.empty()) {
    into.emplace_back();
  } else {
    into.push_back(std::move(pool.back()));
    pool.pop_back();
  }
  into.back().assign(reinterpret_cast<const char*>(record), N);
}

// What the journal keeps of an owner who receives a balance.
JournalOwner JournalOf(const OwnerEntry& owner) {
  JournalOwner j;
  for (int c = 1; c <= kGroups; ++c) j.shares[c] = static_cast<int32_t>(owner.shares[c]);
  std::copy(std::begin(owner.parts), std::end(owner.parts), j.parts);
  j.collections = Settlement.OwnerCollections[static_cast<size_t>(owner.number)];
  j.carriedSlots = owner.carriedSlots;
  std::copy(std::begin(owner.carriedAmounts), std::end(owner.carriedAmounts), j.carried);
  j.stored = owner.stored;
  j.balance = -owner.stored;
  return j;
}

// The writes of a property, inside its transaction: the carried
// collections deleted, each balance of the range's owners written, the
// settled payments deleted, the new date.  Each record is reached again by
// its physical position: no walk along a key between the writes (the
// record manager's reads ahead do not survive a write, so stepping after
// each write costs a fresh read every time).  The first refused write ends
// them; the caller rolls everything back.  The journal entry receives the
// bytes of every record deleted and of every record before and after it
// is rewritten.
int16_t WriteProperty(PropertyRun& run) {
  JournalProperty& journal = run.journal;
  for (int32_t position : run.collections) {
    int16_t status = CountedReadAt(position, kFileCollections);
    if (status == 0) KeepImage(journal.collections, CobramH);
    if (status == 0) status = CountedDelete(kFileCollections);
    if (status != 0) return status;
  }
  for (const OwnerEntry& owner : run.owners) {
    if (!owner.inRange) continue;
    int16_t status = CountedReadAt(owner.position, kFileOwners);
    if (status != 0) return status;
    JournalOwner entry = JournalOf(owner);
    entry.before = Image(PropietH);
    entry.code = OwnerCode();
    const int16_t carry = run.request.CarryConcept;
    if (carry >= 1 && carry <= 8) SetOwnerConceptAmount(carry, static_cast<int32_t>(owner.stored));
    status = CountedUpdate(kFileOwners);
    if (status != 0) return status;
    entry.after = Image(PropietH);  // as stored: the update reads it back
    journal.balances.push_back(std::move(entry));
  }
  for (int32_t position : run.payments) {
    int16_t status = CountedReadAt(position, kFilePayments);
    if (status == 0) KeepImage(journal.payments, PagamH);
    if (status == 0) status = CountedDelete(kFilePayments);
    if (status != 0) return status;
  }
  // Back on the property, read inside this transaction.
  if (int16_t status = CountedFind(kEqual, run.code, kFileProperties); status != 0) return status;
  journal.before = Image(FinquesH);
  journal.oldDate = PropertyLastSettlement();
  SetPropertyLastSettlement(run.request.SettlementDate);
  int16_t status = CountedUpdate(kFileProperties);
  journal.after = Image(FinquesH);
  journal.newDate = PropertyLastSettlement();
  return status;
}

// A property settled, into the pass's result.
void CountSettled(const JournalProperty& property) {
  PassResult& r = Settlement.result;
  ++r.settled;
  r.owners += static_cast<long>(property.balances.size());
  r.collections += static_cast<long>(property.collections.size());
  r.payments += static_cast<long>(property.payments.size());
  r.base += property.base;
  r.vat += property.vat;
  r.withheld += property.withheld;
  r.fee += property.fee;
}

void ClearTables() {
  SettlementWork& w = Settlement;
  for (int64_t& v : w.GroupAmount) v = 0;
  for (int64_t& v : w.OwnerPart) v = 0;
  for (int64_t& v : w.OwnerShare) v = 0;
  w.OwnerCharges.assign(kOwnerNumbers, 0);
  w.OwnerCollections.assign(kOwnerNumbers, 0);
}

void Untouched(const std::string& code, UntouchedReason reason, int16_t status = 0,
               const std::string& date = std::string()) {
  Settlement.untouched.push_back(UntouchedProperty{code, reason, status, std::string(), date});
}

// What one attempt at a property came to.
struct Attempt {
  enum Kind { kSettled, kUntouched, kBusy } kind = kSettled;
  UntouchedReason reason = UntouchedReason::kNotSaved;
  int16_t status = 0;  // of the record manager, for kBusy and kRecordManager
  std::string date;    // the damaged last-settlement date
};

Attempt Left(UntouchedReason reason) { return Attempt{Attempt::kUntouched, reason, 0, std::string()}; }

// A status the pass did not expect: the database busy (wait, then again)
// or anything else (the property is reported with it).
Attempt Failed(int16_t status) {
  if (Busy(status)) return Attempt{Attempt::kBusy, UntouchedReason::kRecordManager, status, std::string()};
  return Attempt{Attempt::kUntouched, UntouchedReason::kRecordManager, status, std::string()};
}

// `attempt`, with nothing of the property kept (after a failed begin there
// is no transaction left: harmless).
Attempt RolledBack(const Attempt& attempt) {
  CountedAbort();
  return attempt;
}

// A status the pass did not expect from the call just made: its account
// kept before the roll-back can overwrite it.
Attempt FailedNow(int16_t status) {
  NoteDamage(status);
  return RolledBack(Failed(status));
}

// Whether the property just read, last settled at `lastSettlement` (and
// seen with `seenDate` before its locks were taken), can be settled as
// `request` asks: kSettled, or why it is left untouched.
Attempt Settleable(const SettlementRequest& request, const std::string& lastSettlement,
                   const std::string& seenDate) {
  Attempt left = Left(UntouchedReason::kNotSaved);
  const int16_t index = PropertyTaxIndex();
  if (lastSettlement != seenDate && lastSettlement >= request.SettlementDate) {
    left.reason = UntouchedReason::kSettledElsewhere;
  } else if (KindOfDate(lastSettlement) == DateKind::kBlank) {
    left.reason = UntouchedReason::kNoLastSettlement;
  } else if (KindOfDate(lastSettlement) == DateKind::kDamaged) {
    left.reason = UntouchedReason::kDamagedLastSettlement;
    left.date = lastSettlement;
  } else if (request.SettlementDate < lastSettlement) {
    left.reason = UntouchedReason::kSettledLater;
  } else if (index != 0 && index != 1) {
    left.reason = UntouchedReason::kUnknownTaxIndex;
  } else if (!request.IvaRateSet[index]) {
    left.reason = UntouchedReason::kNoVatRate;
    left.status = index;
  } else if (!request.RetRateSet[index] && WithholdingApplies(request.FirmTaxId, PropertyTaxId())) {
    left.reason = UntouchedReason::kNoWithholdingRate;
    left.status = index;
  } else {
    left.kind = Attempt::kSettled;
  }
  return left;
}

// Everything of the property the pass reads (its record is the current
// one, last settled at `lastSettlement`) and what it computes from it, into
// `run` and the work tables; nothing is written.  Afterwards run.failure or
// run.tooLarge say when the property cannot be settled.
void ReadAndCompute(PropertyRun& run, const std::string& lastSettlement) {
  ClearTables();
  SettlementWork& w = Settlement;
  w.CoefTotal[1] = kGroupOneTotal;
  for (int c = 2; c <= kGroups; ++c) w.CoefTotal[c] = PropertyGroupTotal(c);

  ReadOwners(run);
  // ManagementFee reads the property record: FeeGroup and ReadPayments use
  // other record variables, so it is still the one read before.
  int64_t fee = ManagementFee(run, lastSettlement);
  int group = FeeGroup(run, run.code);
  w.GroupAmount[group] = fee;
  ReadPayments(run);
  run.journal.code = run.code;
  run.journal.feeGroup = static_cast<int16_t>(group);
  if (run.failure != 0) return;  // the failure's account was kept when it happened
  if (!run.tooLarge) ComputeBalances(run);
  if (run.tooLarge) return;
  std::copy(std::begin(w.GroupAmount), std::end(w.GroupAmount), run.journal.groups);
  std::copy(std::begin(w.CoefTotal), std::end(w.CoefTotal), run.journal.coefTotals);
}

// One attempt at the property `code`, seen with last-settlement date
// `seenDate` before its locks were taken; the caller holds the locks.
// Whatever does not end settled is rolled back.
Attempt TrySettle(const SettlementRequest& request, const std::string& code, const std::string& seenDate) {
  if (int16_t begun = CountedBegin(); begun != 0) return FailedNow(begun);

  // Read again under the locks and inside the transaction: another station
  // may have settled it while this one waited, and everything the pass
  // writes rests on what it reads from here on.
  int16_t status = CountedFind(kEqual, code, kFileProperties);
  if (status == B_KEY_NOT_FOUND) return RolledBack(Left(UntouchedReason::kGoneMeanwhile));
  if (status != 0) return FailedNow(status);
  const std::string lastSettlement = PropertyLastSettlement();
  if (Attempt left = Settleable(request, lastSettlement, seenDate); left.kind != Attempt::kSettled)
    return RolledBack(left);

  PropertyRun run(request, code);
  ReadAndCompute(run, lastSettlement);
  if (run.failure != 0) return RolledBack(Failed(run.failure));
  if (run.tooLarge) return RolledBack(Left(UntouchedReason::kAmountTooLarge));
  status = WriteProperty(run);
  // The journal entry in the same transaction: the property is journaled
  // exactly when it is settled.
  if (status == 0) status = JournalWriteProperty(request, run.journal);
  if (status == 0 && (status = CountedEnd()) == 0) {
    JournalPropertyCommitted();
    CountSettled(run.journal);
    Settlement.result.kept.insert(Settlement.result.kept.end(), run.kept.begin(), run.kept.end());
    return Attempt{};
  }
  return FailedNow(status);
}

// The wait on a busy database, as lock mode 1 waits on a locked record: a
// random pause of 1 to 10001 milliseconds, with Escape looked for all along
// (every other key typed meanwhile is dropped).  False when the operator
// pressed Escape.
bool PauseWhileBusy() {
  int total = static_cast<int>(std::lround(kBusyPauseMaxMs * RandomUnit() + 1));
  for (int waited = 0; waited < total; waited += kKeyPollMs) {
    PauseMs(std::min(kKeyPollMs, total - waited));
    if (DropTypedKeys()) return false;
  }
  return true;
}

// Settles the property `code`, seen with last-settlement date `seenDate`
// before its lock was taken.  False when the operator stopped the pass
// before it (the property is then reported as the first one not settled).
bool SettleProperty(const SettlementRequest& request, const std::string& code, const std::string& seenDate) {
  bool messageShown = false;
  bool stopped = false;
  Attempt attempt;
  for (int round = 0;; ++round) {
    {
      const PropertyLocks locks(code);
      attempt = TrySettle(request, code, seenDate);
    }
    if (attempt.kind != Attempt::kBusy) break;
    // Another station holds the database (or a record of the property)
    // longer than the record manager waits: wait as the data layer does in
    // lock mode 1 (a pause, then its lock message for the attempts after
    // the first), without limit, unless the operator stops the pass.
    if (!PauseWhileBusy()) {
      stopped = true;
      break;
    }
    if (round == 0) { messageShown = ShowMessage(24, LockWaitText()); }
  }
  if (messageShown) CloseWindow();
  if (stopped) return false;
  if (attempt.kind == Attempt::kUntouched) Untouched(code, attempt.reason, attempt.status, attempt.date);
  if (attempt.kind == Attempt::kSettled) Settlement.settled.push_back(code);
  return true;
}

// The properties from `code` to the end of the range, not settled because
// of `reason` (the operator's stop, or a read of the property file that
// failed with `status`).
void NotSettledFrom(const std::string& code, UntouchedReason reason, int16_t status,
                    const std::string& highP) {
  if (code > highP) return;
  if (reason == UntouchedReason::kStopped) Settlement.result.stoppedAt = code;
  Settlement.untouched.push_back(UntouchedProperty{code, reason, status, highP, std::string()});
}

// The property code after `code` (2 packed digit pairs); past 9999, one
// beyond every code.
std::string CodeAfter(const std::string& code) {
  int number = std::stoi("0" + UnpackDigits(code)) + 1;
  if (number > 9999) return std::string(2, '\xFF');
  std::string digits = std::to_string(number);
  return PackDigits(std::string(4 - digits.size(), '0') + digits);
}

}  // namespace

void CreateWorkTables() {
  Settlement.OwnerCharges.assign(kOwnerNumbers, 0);
  Settlement.OwnerCollections.assign(kOwnerNumbers, 0);
}

long PropertiesInRange(const std::string& lowP, const std::string& highP) {
  long count = 0;
  int16_t status = 0;
  FindRecord(status, kGreaterOrEqual, lowP, 0, kFileProperties);
  while (status == 0 && PropertyCode() <= highP) {
    ++count;
    SkipRecords(status, 1, kFileProperties);
  }
  return status == 0 || status == B_END_OF_FILE || status == B_KEY_NOT_FOUND ? count : -1;
}

bool DatabaseMalformed(const RecmanDiagnostic& d) {
  // SQLite's own corruption codes (SQLITE_CORRUPT, SQLITE_NOTADB), not the
  // engine's checksum of one record, which leaves the rest of the file sound.
  return d.storage == "SQLite" && ((d.code & 0xFF) == 11 || (d.code & 0xFF) == 26);
}

void SettlementPass(const SettlementRequest& request) {
  Settlement.untouched.clear();
  Settlement.result = PassResult{};
  Settlement.settled.clear();
  Settlement.stoppedOnDamage = false;
  Settlement.damageKnown = false;  // each pass tells of what it met
  JournalStartPass();
  // Escape is looked for before every property; whatever else is typed
  // while the pass runs is dropped, and so is everything left at its end.
  Keyboard.escapeTyped = false;
  struct AtTheEnd {
    ~AtTheEnd() {
      EndProgress();
      DropKeysTypedWhileWaiting();
      Keyboard.escapeTyped = false;
    }
  } atTheEnd;
  // Keys of another shape (a property field of an unexpected width) would
  // select properties nobody chose; a concept outside 1..8 has no slot to
  // carry the balances into, and settling would delete collections without
  // carrying them anywhere.
  if (request.LowerOwnerKey.size() != 4 || request.UpperOwnerKey.size() != 4 ||
      request.SettlementDate.size() != 4)
    return;
  if (request.CarryConcept < 1 || request.CarryConcept > 8) return;
  // Without the administrator's tax identifier nobody can tell whether
  // withholding applies (the parameter check refuses the pass for it).
  if (TrimBlanks(request.FirmTaxId).empty()) return;
  const std::string lowP = request.LowerOwnerKey.substr(0, 2);
  const std::string highP = request.UpperOwnerKey.substr(0, 2);
  StartProgress(PropertiesInRange(lowP, highP));

  std::string after;  // the last property dealt with (empty: none yet)
  long reached = 0;   // properties of the range met so far
  int16_t status = CountedFind(kGreaterOrEqual, lowP, kFileProperties);
  for (;;) {
    if (Busy(status)) {
      // Reads outside a transaction seldom meet a busy database; when they
      // do, wait as inside a property.
      const std::string next = after.empty() ? lowP : CodeAfter(after);
      if (!PauseWhileBusy()) {
        NotSettledFrom(next, UntouchedReason::kStopped, 0, highP);
        return;
      }
      status = CountedFind(kGreaterOrEqual, next, kFileProperties);
      continue;
    }
    if (status != 0 || PropertyCode() > highP) break;
    const std::string code = PropertyCode();
    ShowProgress(code, ++reached);
    // The operator's Escape stops the pass here, between two properties.
    if (DropTypedKeys() || !SettleProperty(request, code, PropertyLastSettlement())) {
      NotSettledFrom(code, UntouchedReason::kStopped, 0, highP);
      return;
    }
    // A database its storage calls malformed is not written on any more:
    // the pass stops here, and what is left of the range is listed.
    if (Settlement.damageKnown && DatabaseMalformed(Settlement.damage)) {
      Settlement.stoppedOnDamage = true;
      Settlement.result.stoppedAt = code;
      NotSettledFrom(CodeAfter(code), UntouchedReason::kRecordManager, B_IO_ERROR, highP);
      return;
    }
    after = code;
    // On to the property after this one, whatever happened to the record
    // position meanwhile.
    status = CountedFind(kGreaterOrEqual, code, kFileProperties);
    if (status == 0 && PropertyCode() == code) status = CountedNext(kFileProperties);
  }
  // The property file could not be read on: what is left of the range is
  // not settled, and said so.
  if (status != 0 && status != B_END_OF_FILE && status != B_KEY_NOT_FOUND) {
    NoteDamage(status);
    NotSettledFrom(after.empty() ? lowP : CodeAfter(after), UntouchedReason::kRecordManager, status, highP);
  }
}
