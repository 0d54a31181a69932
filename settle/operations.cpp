// operations.cpp - the settlement's record operations, counted (see
// operations.h).
#include "settle/operations.h"

#include "data/data.h"
#include "data/locks.h"
#include "settle/records.h"

void CountOperation(SettlementOperation operation, int16_t file) {
  ++Settlement.recordOperations;
  if (Settlement.beforeRecordOperation) Settlement.beforeRecordOperation(operation, file);
}

int16_t CountedFind(int16_t direction, const std::string& key, int16_t file, int16_t key_number) {
  CountOperation(SettlementOperation::kFind, file);
  int16_t status = 0;
  FindRecord(status, direction, key, key_number, file);
  return status;
}

int16_t CountedNext(int16_t file) {
  CountOperation(SettlementOperation::kNext, file);
  int16_t status = 0;
  SkipRecords(status, 1, file);
  return status;
}

namespace {

// A counted write of the file's record variable through the data layer.
int16_t CountedWrite(SettlementOperation operation, int16_t file, void (*write)(int16_t&, int16_t)) {
  CountOperation(operation, file);
  int16_t status = 0;
  write(status, file);
  return status;
}

}  // namespace

int16_t CountedUpdate(int16_t file) { return CountedWrite(SettlementOperation::kUpdate, file, UpdateRecord); }
int16_t CountedDelete(int16_t file) { return CountedWrite(SettlementOperation::kDelete, file, DeleteRecord); }
int16_t CountedInsert(int16_t file) { return CountedWrite(SettlementOperation::kInsert, file, InsertRecord); }

int32_t CountedPosition(int16_t file) {
  CountOperation(SettlementOperation::kPosition, file);
  return RecordPosition(0, file);
}

int16_t CountedReadAt(int32_t position, int16_t file) {
  CountOperation(SettlementOperation::kReadAt, file);
  return static_cast<int16_t>(RecordPosition(position, file));
}

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
