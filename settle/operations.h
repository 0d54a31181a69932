// operations.h - the record operations and key locks of the settlement's
// passes and undos, each counted in Settlement.recordOperations and shown
// to the test hook Settlement.beforeRecordOperation before it is made (see
// settlement.h), so that measurements count them and crash tests can end
// the process before any of them.  Keyed reads go along key `key_number`
// (0 unless given); statuses are the data layer's.
#pragma once
#include <cstdint>
#include <string>

#include "settle/settlement.h"

void CountOperation(SettlementOperation operation, int16_t file);

int16_t CountedFind(int16_t direction, const std::string& key, int16_t file, int16_t key_number = 0);
int16_t CountedNext(int16_t file);
int16_t CountedUpdate(int16_t file);
int16_t CountedDelete(int16_t file);
int16_t CountedInsert(int16_t file);
// The physical position of the current record (0 when there is none), and
// the record at a physical position made the current one.
int32_t CountedPosition(int16_t file);
int16_t CountedReadAt(int32_t position, int16_t file);

// Key locks on the lock names "PropietH", "CobramH" and "PagamH" (counted
// on the file they stand for).
void CountedLock(const std::string& name, const std::string& from, const std::string& to);
void CountedRelease(const std::string& name);

int16_t CountedBegin();
int16_t CountedEnd();
int16_t CountedAbort();
