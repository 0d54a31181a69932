// store.h - the SQLite storage of the record files.
//
// One database "recman.db" per directory holds every data file of that
// directory: a catalog table recman_file (name, identity, specification,
// counters, owner), and per file a record table r<id> and one index table
// k<id>_<key> per key.  See FORMAT.md for the full mapping and the reasons.
// All functions return record manager statuses.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "recman/engine.h"

// Catalog entry of a data file.
struct CatalogEntry {
  int64_t id = 0;
  std::string name;
  std::string uuid;
  std::string spec;  // normalised create buffer
  std::string ownerSalt;
  std::string ownerHash;
  int ownerMode = 0;
};

// The directory object for a canonical path, opening its database and lock
// file.  With `create` false a directory without a database answers 12, and
// so does one whose database holds no catalog (empty, cut short: only a
// create makes it).  With `readOnly` nothing is written in the folder (the
// database, its lock file); a directory opened so and then wanted for
// writing is opened again for writing.
int16_t GetDirectory(const std::string& canonical, bool create, Directory*& out, bool readOnly = false);
// Makes sure the directory's connection is open (after a fork it is reopened).
int16_t EnsureConnection(Directory& dir);
// Finalises the statements of the directory's files and closes the connection.
void CloseConnection(Directory& dir);

int16_t SqliteStatus(int rc);
// The status of a failed SQLite call on the directory's connection, with
// its diagnostic noted.
int16_t SqliteFailure(Directory& dir, int rc);
// False only when a test or benchmark turned durability off (testing.h).
bool SyncEnabled();
int16_t Exec(Directory& dir, const char* sql);
// Whether the directory's database file is still the one this process
// opened (not deleted, nor replaced by another file at its path): 0, or 2
// with the diagnostic noted.  Asked before every write transaction and
// every new read snapshot.
int16_t CheckStoreIdentity(Directory& dir);

// Catalog.
// Every catalog entry of that name, the newest first.
int16_t ListCatalogEntries(Directory& dir, const std::string& name, std::vector<CatalogEntry>& out);
int16_t FindCatalogEntry(Directory& dir, const std::string& name, CatalogEntry& out, bool& found);
int16_t AddCatalogEntry(Directory& dir, const std::string& name, const std::string& uuid,
                        const FileSpec& spec, int64_t& id);
int16_t DropCatalogEntry(Directory& dir, int64_t id, size_t keyCount);
int16_t SetOwnerEntry(Directory& dir, int64_t id, const std::string& salt, const std::string& hash, int mode);
int16_t ReadRecordCount(OpenFile& file, uint32_t& count);
// Allocates the next position (also used as duplicate insertion numbers);
// with countRecord the record count grows by one too.
int16_t AllocatePosition(OpenFile& file, bool countRecord, uint64_t& value);
// Inside the process transaction the change waits in the directory's
// pendingCounts until FlushRecordCounts; outside it is written at once.
int16_t AdjustRecordCount(OpenFile& file, int delta);
// Writes the directory's pending record counts (inside its transaction).
int16_t FlushRecordCounts(Directory& dir);

// Records.
enum class Find : uint8_t { kGe, kGt, kLe, kLt };
int16_t FetchByIndex(OpenFile& file, int key, Find how, const std::string& bound, unsigned limit,
                     std::vector<Row>& rows);
int16_t FetchPhysical(OpenFile& file, bool forward, int64_t bound, unsigned limit, std::vector<Row>& rows);
// One record by position, with its duplicate insertion numbers (also in
// row.sequences) and its checksum.
int16_t FetchRecord(OpenFile& file, uint32_t pos, Row& row, std::string& sequences, bool& found);
int16_t FindIndexEntry(OpenFile& file, int key, const std::string& entry, uint32_t& pos, bool& found);
int16_t InsertIndexEntry(OpenFile& file, int key, const std::string& entry, uint32_t pos);
int16_t DeleteIndexEntry(OpenFile& file, int key, const std::string& entry);
// `checksum` is RecordChecksum of the row (integrity.h), stored with it and
// handed back in Row::checksum by every read.
int16_t InsertRecordRow(OpenFile& file, uint32_t pos, int64_t version, const std::string& data,
                        const std::string& sequences, uint32_t checksum);
int16_t UpdateRecordRow(OpenFile& file, uint32_t pos, int64_t version, const std::string& data,
                        const std::string& sequences, uint32_t checksum);
int16_t DeleteRecordRow(OpenFile& file, uint32_t pos);

// Index entry of key `key` for a record with the given insertion numbers.
bool IndexEntry(const FileSpec& spec, size_t key, const uint8_t* record, const std::string& sequences,
                std::string& out);
uint64_t SequenceOf(const std::string& sequences, size_t key);
void SetSequence(std::string& sequences, size_t key, uint64_t value);
