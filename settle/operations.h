// operations.h - the one way the settlement's passes and undos reach their
// records, their key locks and their transactions: each operation counted
// in Settlement.recordOperations and shown to the test hook
// Settlement.beforeRecordOperation before it is made (see settlement.h), so
// that measurements count them and crash tests can end the process before
// any of them.  Keyed reads go along key `key_number` (0 unless given);
// statuses are the data layer's.  The record operations are inline: the
// pass makes hundreds of thousands of them.
#pragma once
#include <cstdint>
#include <string>

#include "data/data.h"
#include "settle/settlement.h"

inline void CountOperation(SettlementOperation operation, int16_t file) {
  ++Settlement.recordOperations;
  if (Settlement.beforeRecordOperation) Settlement.beforeRecordOperation(operation, file);
}

inline int16_t CountedFind(int16_t direction, const std::string& key, int16_t file, int16_t key_number = 0) {
  CountOperation(SettlementOperation::kFind, file);
  int16_t status = 0;
  FindRecord(status, direction, key, key_number, file);
  return status;
}

inline int16_t CountedNext(int16_t file) {
  CountOperation(SettlementOperation::kNext, file);
  int16_t status = 0;
  SkipRecords(status, 1, file);
  return status;
}

// A counted write of the file's record variable through the data layer.
inline int16_t CountedWrite(SettlementOperation operation, int16_t file, void (*write)(int16_t&, int16_t)) {
  CountOperation(operation, file);
  int16_t status = 0;
  write(status, file);
  return status;
}

inline int16_t CountedUpdate(int16_t file) {
  return CountedWrite(SettlementOperation::kUpdate, file, UpdateRecord);
}
inline int16_t CountedDelete(int16_t file) {
  return CountedWrite(SettlementOperation::kDelete, file, DeleteRecord);
}
inline int16_t CountedInsert(int16_t file) {
  return CountedWrite(SettlementOperation::kInsert, file, InsertRecord);
}

// The physical position of the current record (0 when there is none), and
// the record at a physical position made the current one.
inline int32_t CountedPosition(int16_t file) {
  CountOperation(SettlementOperation::kPosition, file);
  return RecordPosition(0, file);
}

inline int16_t CountedReadAt(int32_t position, int16_t file) {
  CountOperation(SettlementOperation::kReadAt, file);
  return static_cast<int16_t>(RecordPosition(position, file));
}

// Key locks on the lock names "PropietH", "CobramH" and "PagamH" (counted
// on the file they stand for).
void CountedLock(const std::string& name, const std::string& from, const std::string& to);
void CountedRelease(const std::string& name);

// The key locks of the property `code` (2 packed bytes) for as long as the
// value lives: the property's owners, the collections of all its owners
// (one range lock) and its payments, taken in that order on every station
// so that two stations never wait for each other in a circle, and released
// the other way round.  A pass or an undo takes them before its
// transaction, so that no lock is waited for while the transaction holds
// the database.
struct PropertyLocks {
  explicit PropertyLocks(const std::string& code);
  ~PropertyLocks();
  PropertyLocks(const PropertyLocks&) = delete;
  PropertyLocks& operator=(const PropertyLocks&) = delete;
};

int16_t CountedBegin();
int16_t CountedEnd();
int16_t CountedAbort();
