// operations.cpp - the settlement's key locks and transaction steps,
// counted (see operations.h).
#include "settle/operations.h"

#include "data/locks.h"
#include "input/packed.h"
#include "settle/records.h"

namespace {

// The file whose records a lock name stands for.
int16_t LockedFile(const std::string& name) {
  return name == "PropietH" ? kFileOwners : name == "CobramH" ? kFileCollections : kFilePayments;
}

}  // namespace

void CountedLock(const std::string& name, const std::string& from, const std::string& to) {
  CountOperation(SettlementOperation::kLock, LockedFile(name));
  TakeLock(name, from, to);
}

void CountedRelease(const std::string& name) {
  CountOperation(SettlementOperation::kRelease, LockedFile(name));
  ReleaseLock(name);
}

PropertyLocks::PropertyLocks(const std::string& code) {
  const std::string digits = UnpackDigits(code);
  CountedLock("PropietH", digits, digits);
  CountedLock("CobramH", digits + "0000", digits + "9999");
  CountedLock("PagamH", digits, digits);
}

PropertyLocks::~PropertyLocks() {
  CountedRelease("PagamH");
  CountedRelease("CobramH");
  CountedRelease("PropietH");
}

int16_t CountedBegin() {
  CountOperation(SettlementOperation::kBegin, 0);
  return BeginTransaction();
}

int16_t CountedEnd() {
  CountOperation(SettlementOperation::kEnd, 0);
  return EndTransaction();
}

int16_t CountedAbort() {
  CountOperation(SettlementOperation::kAbort, 0);
  return AbortTransaction();
}
