// data.h - the data layer: the table of open record files and the record
// operations over the record manager (recman/recman.h).
//
// Callers name a file by their own file number (504, 511..515) and hand
// over, once at open, the address of the record variable that reads fill
// and updates write from.  Every operation answers a 16-bit status: 0 for
// success, otherwise the record manager's status or one of the data
// layer's own below.
#pragma once
#include <cstdint>
#include <string>

constexpr int16_t kStatusAlreadyOpen = 1002;  // file number already in the table
constexpr int16_t kStatusTableFull = 1003;    // all 40 slots taken
constexpr int16_t kStatusNoSuchKey = 1004;    // keyed read on a key the file lacks

// ---- Open and close ---------------------------------------------------------
void OpenDataFile(int16_t& status, void* record_address, const std::string& name,
                  int16_t file_number);
void ResetDataFiles(int16_t& status);
int FindSlot(int16_t file_number);
void FileStats(int16_t& record_length, int16_t& key_length, int16_t key_number,
               int16_t file_number);

// ---- Record operations ------------------------------------------------------
// direction 0 = equal, > 0 greater or equal, < 0 less or equal.
void FindRecord(int16_t& status, int16_t direction, std::string key_value, int16_t key_number,
                int16_t file_number);
void SkipRecords(int16_t& status, int32_t count, int16_t file_number);
void UpdateRecord(int16_t& status, int16_t file_number);
void DeleteRecord(int16_t& status, int16_t file_number);
int32_t RecordPosition(int32_t position, int16_t file_number);
std::string CurrentKeyImage(int16_t file_number);
void SetLockMode(int16_t& status, const std::string& modes, int16_t file_number);
void CallRecordManager(int slot, uint16_t operation, int16_t& status);

// ---- Transactions -----------------------------------------------------------
// All files of one directory change together or not at all between a begin
// and an end; an abort (or a crash) leaves them as they were.
int16_t BeginTransaction();
int16_t EndTransaction();
int16_t AbortTransaction();
