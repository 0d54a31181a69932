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
// untouched and reported; so is one whose writes the record manager
// refuses, after rolling back what was written.
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "data/data.h"
#include "data/locks.h"
#include "input/dates.h"
#include "recman/recman.h"
#include "session/session.h"
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

bool FitsLong(int64_t value) { return value >= INT32_MIN && value <= INT32_MAX; }

// x brought to the nearest integer, a half to the even neighbour (the
// default rounding mode); false when the result is no 32-bit amount.
bool NearestLong(double x, int64_t& result) {
  double r = std::nearbyint(x);
  if (!(r >= static_cast<double>(INT32_MIN) && r <= static_cast<double>(INT32_MAX))) return false;
  result = static_cast<int64_t>(r);
  return true;
}

// ---- Record operations, counted ---------------------------------------------------

void BeforeOperation(SettlementOperation operation, int16_t file) {
  ++Settlement.recordOperations;
  if (Settlement.beforeRecordOperation) Settlement.beforeRecordOperation(operation, file);
}

int16_t Find(int16_t direction, const std::string& key, int16_t file) {
  BeforeOperation(SettlementOperation::kFind, file);
  int16_t status = 0;
  FindRecord(status, direction, key, 0, file);
  return status;
}

int16_t Next(int16_t file) {
  BeforeOperation(SettlementOperation::kNext, file);
  int16_t status = 0;
  SkipRecords(status, 1, file);
  return status;
}

// The physical position of the current record (0 when there is none).
int32_t Position(int16_t file) {
  BeforeOperation(SettlementOperation::kPosition, file);
  return RecordPosition(0, file);
}

// Makes the record at a physical position the current one.
int16_t ReadAt(int32_t position, int16_t file) {
  BeforeOperation(SettlementOperation::kReadAt, file);
  return static_cast<int16_t>(RecordPosition(position, file));
}

int16_t Update(int16_t file) {
  BeforeOperation(SettlementOperation::kUpdate, file);
  int16_t status = 0;
  UpdateRecord(status, file);
  return status;
}

int16_t Delete(int16_t file) {
  BeforeOperation(SettlementOperation::kDelete, file);
  int16_t status = 0;
  DeleteRecord(status, file);
  return status;
}

// The file whose records a lock name stands for.
int16_t LockedFile(const std::string& name) {
  return name == "PropietH" ? kFileOwners : name == "CobramH" ? kFileCollections : kFilePayments;
}

void Lock(const std::string& name, const std::string& from, const std::string& to) {
  BeforeOperation(SettlementOperation::kLock, LockedFile(name));
  TakeLock(name, from, to);
}

void Release(const std::string& name) {
  BeforeOperation(SettlementOperation::kRelease, LockedFile(name));
  ReleaseLock(name);
}

// ---- Property checks ----------------------------------------------------------------

// A usable last-settlement date: four packed digit pairs with a month 1..12.
// The blank date (month and day 0) and damaged bytes are no date at all.
bool IsUsableDate(const std::string& packed) {
  if (packed.size() != 4) return false;
  for (char c : packed) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 128 || byte > 227) return false;
  }
  int month = static_cast<unsigned char>(packed[2]) - 128;
  return month >= 1 && month <= 12;
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
};

struct PropertyRun {
  std::string code;                // 2 packed bytes
  std::string limitKey;            // code + settlement date: collections and payments up to it
  std::vector<OwnerEntry> owners;  // in key order
  std::vector<char> receives;      // by owner number: an owner of the range
  int conceptType[256];            // -1 not looked up, else 1 carry-over / 0 not
  // Physical positions of the collections and payments carried into the
  // balances: what the pass deletes.
  std::vector<int32_t> collections, payments;
  bool tooLarge = false;
};

// Whether concept `number` is a carry-over concept.  Looked up once per
// property: within the property's transaction the concept file cannot
// change, so every owner would find the same answer.
bool IsCarryOver(PropertyRun& run, int number) {
  std::string key = ConceptKey(number);
  if (key.empty()) return false;  // no one-byte key: no such concept
  int& known = run.conceptType[number];
  if (known < 0) {
    SetConceptType(kNoConceptType);
    int16_t status = Find(kEqual, key, kFileConcepts);
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
  int16_t status = Find(kGreaterOrEqual, run.code, kFileOwners);
  while (status == 0 && OwnerPropertyCode() == run.code) {
    OwnerEntry owner;
    std::string ownerCode = OwnerCode();
    owner.number = PackedNumber(ownerCode.substr(2, 2));
    owner.inRange = ownerCode >= LowerOwnerKey && ownerCode <= UpperOwnerKey;
    if (owner.inRange) {
      owner.position = Position(kFileOwners);
      run.receives[static_cast<size_t>(owner.number)] = 1;
      for (int c = 1; c <= kGroups; ++c) owner.shares[c] = OwnerShare(c);
      // The carried-over amounts: the slots of concepts 1..8 and the two
      // further slots, where the concept is of the carry-over type.  The
      // lookups leave the owner record alone (another record variable).
      int64_t carried = 0;
      for (int n = 1; n <= 8; ++n)
        if (IsCarryOver(run, n)) carried -= OwnerConceptAmount(n);
      for (int slot = 1; slot <= 2; ++slot)
        if (IsCarryOver(run, OwnerExtraConcept(slot))) carried -= OwnerExtraAmount(slot);
      if (!FitsLong(carried)) run.tooLarge = true;
      owner.carried = carried;

      // Collections up to the settlement date; only kinds C and I count.
      std::string limit = ownerCode + SettlementDate;
      int64_t& collected = Settlement.OwnerCollections[static_cast<size_t>(owner.number)];
      int16_t c = Find(kGreaterOrEqual, ownerCode, kFileCollections);
      while (c == 0 && CollectionKey() <= limit) {
        std::string kind = CollectionKind();
        if (kind == "C" || kind == "I")
          Add(run, collected, int64_t{CollectionAmount()} - int64_t{CollectionDeducted()});
        run.collections.push_back(Position(kFileCollections));
        c = Next(kFileCollections);
      }
    }
    run.owners.push_back(owner);
    status = Next(kFileOwners);
  }
}

// The management fee for the property's months since its last settlement,
// with VAT and, where it applies, withholding, both on the fee before VAT.
int64_t ManagementFee(PropertyRun& run, const std::string& lastSettlement) {
  int64_t months = DateDiff("m", SettlementDate, lastSettlement);
  int index = PropertyTaxIndex();
  double vat = IvaRate[index];
  double withholding = WithholdingApplies(Session.firmTaxId, PropertyTaxId()) ? RetRate[index] : 0.0;
  int64_t fee = static_cast<int64_t>(run.owners.size()) * int64_t{PropertyFeePerOwner()} * months;
  int64_t vatAmount = 0, withheld = 0;
  if (!FitsLong(fee) || !NearestLong(vat * static_cast<double>(fee) / 100.0, vatAmount) ||
      !NearestLong(withholding * static_cast<double>(fee) / 100.0, withheld)) {
    run.tooLarge = true;
    return 0;
  }
  fee = fee + vatAmount - withheld;
  if (!FitsLong(fee)) run.tooLarge = true;
  return fee;
}

// The coefficient group of the fee: "HO" followed by A..G in the property's
// expense note (the first "HO" only); group 1 otherwise.
int FeeGroup(const std::string& code) {
  if (Find(kEqual, code, kFileExpenseNotes) != 0) return 1;
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
  int16_t status = Find(kGreaterOrEqual, run.code, kFilePayments);
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
      run.payments.push_back(Position(kFilePayments));
    }
    status = Next(kFilePayments);
  }
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
    if (!FitsLong(balance) || !FitsLong(owner.stored)) run.tooLarge = true;
  }
}

// The writes of a property, inside its transaction: the carried
// collections deleted, each balance of the range's owners written, the
// settled payments deleted, the new date.  Each record is reached again by
// its physical position: no walk along a key between the writes (the
// record manager's reads ahead do not survive a write, so stepping after
// each write costs a fresh read every time).  The first refused write ends
// them; the caller rolls everything back.
int16_t WriteProperty(PropertyRun& run) {
  for (int32_t position : run.collections) {
    int16_t status = ReadAt(position, kFileCollections);
    if (status == 0) status = Delete(kFileCollections);
    if (status != 0) return status;
  }
  for (const OwnerEntry& owner : run.owners) {
    if (!owner.inRange) continue;
    int16_t status = ReadAt(owner.position, kFileOwners);
    if (status != 0) return status;
    if (CarryConcept >= 1 && CarryConcept <= 8)
      SetOwnerConceptAmount(CarryConcept, static_cast<int32_t>(owner.stored));
    status = Update(kFileOwners);
    if (status != 0) return status;
  }
  for (int32_t position : run.payments) {
    int16_t status = ReadAt(position, kFilePayments);
    if (status == 0) status = Delete(kFilePayments);
    if (status != 0) return status;
  }
  // Back on the property, read inside this transaction.
  if (Find(kEqual, run.code, kFileProperties) != 0) return B_KEY_NOT_FOUND;
  SetPropertyLastSettlement(SettlementDate);
  return Update(kFileProperties);
}

void ClearTables() {
  SettlementWork& w = Settlement;
  for (int64_t& v : w.GroupAmount) v = 0;
  for (int64_t& v : w.OwnerPart) v = 0;
  for (int64_t& v : w.OwnerShare) v = 0;
  w.OwnerCharges.assign(kOwnerNumbers, 0);
  w.OwnerCollections.assign(kOwnerNumbers, 0);
}

void Untouched(const std::string& code, UntouchedReason reason) {
  Settlement.untouched.push_back(UntouchedProperty{code, reason});
}

// Settles the property `code`, seen with last-settlement date `seenDate`
// before its lock was taken.
void SettleProperty(const std::string& code, const std::string& seenDate) {
  const std::string digits = UnpackDigits(code);
  // Every lock before the transaction, so that none is waited for while the
  // transaction holds the database: the property, the collections of all
  // its owners (one range lock), its payments.
  Lock("PropietH", digits, digits);
  Lock("CobramH", digits + "0000", digits + "9999");
  Lock("PagamH", digits, digits);
  auto release = [] {
    Release("PagamH");
    Release("CobramH");
    Release("PropietH");
  };
  BeforeOperation(SettlementOperation::kBegin, 0);
  BeginTransaction();

  // Read again under the locks and inside the transaction: another station
  // may have settled it while this one waited, and everything the pass
  // writes rests on what it reads from here on.
  UntouchedReason reason = UntouchedReason::kNotSaved;
  bool leave = true, found = Find(kEqual, code, kFileProperties) == 0;
  const std::string lastSettlement = found ? PropertyLastSettlement() : std::string();
  if (!found) {
    // Gone meanwhile: nothing to settle, nothing to report.
  } else if (lastSettlement != seenDate && lastSettlement >= SettlementDate) {
    reason = UntouchedReason::kSettledElsewhere;
  } else if (!IsUsableDate(lastSettlement)) {
    reason = UntouchedReason::kNoLastSettlement;
  } else if (SettlementDate < lastSettlement) {
    reason = UntouchedReason::kSettledLater;
  } else if (PropertyTaxIndex() != 0 && PropertyTaxIndex() != 1) {
    reason = UntouchedReason::kUnknownTaxIndex;
  } else {
    leave = false;
  }
  if (leave) {
    BeforeOperation(SettlementOperation::kAbort, 0);
    AbortTransaction();
    if (found) Untouched(code, reason);
    release();
    return;
  }

  PropertyRun run;
  run.code = code;
  run.limitKey = code + SettlementDate;
  run.receives.assign(kOwnerNumbers, 0);
  for (int& t : run.conceptType) t = -1;
  ClearTables();
  SettlementWork& w = Settlement;
  w.CoefTotal[1] = kGroupOneTotal;
  for (int c = 2; c <= kGroups; ++c) w.CoefTotal[c] = PropertyGroupTotal(c);

  ReadOwners(run);
  // ManagementFee reads the property record: FeeGroup and ReadPayments use
  // other record variables, so it is still the one read above.
  int64_t fee = ManagementFee(run, lastSettlement);
  int group = FeeGroup(code);
  w.GroupAmount[group] = fee;
  ReadPayments(run);
  if (!run.tooLarge) ComputeBalances(run);

  bool saved = false;
  if (run.tooLarge) {
    reason = UntouchedReason::kAmountTooLarge;
  } else {
    reason = UntouchedReason::kNotSaved;
    int16_t written = WriteProperty(run);
    if (written == 0) {
      BeforeOperation(SettlementOperation::kEnd, 0);
      saved = EndTransaction() == 0;
    }
  }
  if (!saved) {
    BeforeOperation(SettlementOperation::kAbort, 0);
    AbortTransaction();  // nothing of the property is kept (no transaction left: harmless)
    Untouched(code, reason);
  }
  release();
}

}  // namespace

void CreateWorkTables() {
  Settlement.OwnerCharges.assign(kOwnerNumbers, 0);
  Settlement.OwnerCollections.assign(kOwnerNumbers, 0);
}

void SettlementPass() {
  Settlement.untouched.clear();
  // Keys of another shape (a property field of an unexpected width) would
  // select properties nobody chose; a concept outside 1..8 has no slot to
  // carry the balances into, and settling would delete collections without
  // carrying them anywhere.
  if (LowerOwnerKey.size() != 4 || UpperOwnerKey.size() != 4 || SettlementDate.size() != 4) return;
  if (CarryConcept < 1 || CarryConcept > 8) return;
  const std::string lowP = LowerOwnerKey.substr(0, 2);
  const std::string highP = UpperOwnerKey.substr(0, 2);

  int16_t status = Find(kGreaterOrEqual, lowP, kFileProperties);
  while (status == 0 && PropertyCode() <= highP) {
    const std::string code = PropertyCode();
    SettleProperty(code, PropertyLastSettlement());
    // On to the property after this one, whatever happened to the record
    // position meanwhile.
    status = Find(kGreaterOrEqual, code, kFileProperties);
    if (status == 0 && PropertyCode() == code) status = Next(kFileProperties);
  }
}
