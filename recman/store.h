// store.h - the storage of a data folder's record files, as the engine sees
// it.
//
// A data folder keeps the catalog of its files (name, identity,
// specification, counters, owner), their records (position, version, data,
// insertion numbers, checksum) and one index per key.  Where that lives is
// the store's business: one SQLite database "recman.db" in the folder
// (store_sqlite.cpp), or a schema on the PostgreSQL server that the
// folder's file "recman.server" names (store_pg.cpp).  Nothing above this
// header knows which store a folder uses.  See FORMAT.md for the mapping
// and the reasons.
//
// The store is one small abstract struct with one implementation per
// storage: each directory owns one, made when the folder is first opened.
// A struct of function pointers would have needed the same table plus a
// state pointer cast back in every function; the virtual calls are that,
// said by the compiler.  The few calls that a store may have no use for
// (a hint, a cache, a check of its own) do nothing unless it overrides them.
//
// All functions return record manager statuses; a failure of the storage
// notes its diagnostic (integrity.h).
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "recman/engine.h"
#include "recman/testing.h"

namespace recman {

// Catalog entry of a data file.
struct CatalogEntry {
  int64_t id = 0;
  std::string name;
  std::string uuid;
  std::string spec;  // normalised create buffer
  std::string ownerSalt;
  std::string ownerHash;
  int ownerMode = 0;
  int64_t records = 0;  // the record count stored
  int64_t nextPos = 1;  // the next position to hand out
};

enum class Find : uint8_t { kGe, kGt, kLe, kLt };
// What a record row write does: adds the row, or writes over the one there.
enum class RowWrite : uint8_t { kInsert, kUpdate };

// What a lock on a lock unit gave.
enum class LockResult : uint8_t { kTaken, kBusy, kDenied, kFailed };
enum class LockType : uint8_t { kShared, kExclusive, kNone };

// A lock unit: (file id << 32) | position for a record, (file id << 32) | 0
// for the file's open lock.
inline uint64_t LockUnit(int64_t fileId, uint32_t pos) { return (static_cast<uint64_t>(fileId) << 32) | pos; }

struct Store {
  virtual ~Store() = default;
  // "SQLite" or "PostgreSQL": the storage named in diagnostics.
  virtual const char* Name() const = 0;
  // What holds the folder's records, for messages ("/srv/kal/DADES/recman.db").
  virtual std::string Where() const = 0;

  // ---- Connection ----------------------------------------------------------
  // Opens the connection when it is closed (a reconnect after a fork or a
  // lost connection).
  virtual int16_t Connect() = 0;
  virtual bool Connected() const = 0;
  virtual void Disconnect() = 0;
  // Before a fork: may close what a child must not share (not while the
  // process transaction holds the folder).
  virtual void BeforeFork(bool /*inTransaction*/) {}
  // The last file of the folder was closed (outside a transaction): a
  // store may let its connection go until the next use.
  virtual void NoFileOpen() {}
  // In a forked child: forgets the parent's connection without touching it.
  virtual void AbandonInChild() = 0;
  // Whether what holds the folder's records is still the one this process
  // opened: 0, or 2 with the diagnostic noted.
  virtual int16_t CheckIdentity() = 0;
  // True when it is gone or another one stands in its place (the folder
  // was deleted and made again): opens from now on start over.
  virtual bool Replaced() = 0;
  virtual void SetBusyTimeout(int milliseconds) = 0;
  // How many rows a keyed read fetches ahead, and a run of reads first:
  // 0 for the engine's own (one row, then batches from 4), more for a store
  // whose every question costs a round trip.
  virtual unsigned ReadAhead() const = 0;
  // True while this station holds the folder against every other writer
  // and knows that nothing was committed since what it keeps was read:
  // rows read ahead then stand whatever their age.
  virtual bool HoldsFolder() const = 0;
  // The folder was opened for reading only (Directory::readOnly) and is now
  // wanted for writing: the store makes its connection again for writing.
  virtual int16_t ReopenForWriting() = 0;

  // ---- Transactions ----------------------------------------------------------
  // A read snapshot kept through a burst of reading calls: true when one
  // was begun (a store that needs none answers false and keeps nothing).
  virtual bool BeginSnapshot() { return false; }
  virtual void EndSnapshot() {}
  // A write transaction that holds the folder against other writers from
  // its beginning, so that it never fails half-way because another station
  // committed first.  A folder opened for reading only answers 46, or with
  // `onlyRead` (a transaction joined by a read) takes a read transaction.
  virtual int16_t BeginWrite(bool onlyRead) = 0;
  virtual int16_t Commit() = 0;
  virtual void Rollback() = 0;
  // A read transaction that sees one state of the folder until Rollback
  // (a copy of the whole folder).
  virtual int16_t BeginReadTransaction() = 0;
  // The folder's change count: moves whenever any station commits (read-ahead
  // and snapshots are trusted while it stands still).
  virtual uint64_t ChangeCounter() = 0;
  // This station changes the folder: a store that keeps the count itself
  // moves it.
  virtual void NoteChange() {}

  // ---- Locks between stations --------------------------------------------
  // Held by this process until unlocked or until it ends, however it ends.
  virtual LockResult Lock(uint64_t unit, LockType type, bool wait) = 0;
  virtual void Unlock(uint64_t unit) = 0;
  virtual bool HeldElsewhere(uint64_t unit) = 0;

  // ---- Catalog -------------------------------------------------------------
  // Every entry of that name, the newest first; with an empty name, every
  // entry of the folder, the oldest first.
  virtual int16_t ListCatalogEntries(const std::string& name, std::vector<CatalogEntry>& out) = 0;
  // Adds the entry and makes its record and index tables.
  virtual int16_t AddCatalogEntry(const std::string& name, const std::string& uuid, const FileSpec& spec,
                                  int64_t& id) = 0;
  virtual int16_t DropCatalogEntry(int64_t id, size_t keyCount) = 0;
  virtual int16_t SetOwnerEntry(int64_t id, const std::string& salt, const std::string& hash, int mode) = 0;
  virtual int16_t StoredRecordCount(OpenFile& file, int64_t& count) = 0;
  // Allocates the next position (also used as duplicate insertion numbers);
  // with countRecord the record count grows by one too.
  virtual int16_t AllocatePosition(OpenFile& file, bool countRecord, uint64_t& value) = 0;
  virtual int16_t AddToRecordCount(int64_t fileId, int64_t delta) = 0;
  // Sets both counters of a file (a copy of a folder).
  virtual int16_t SetCounters(int64_t fileId, int64_t records, int64_t nextPos) = 0;
  // The file's statements and caches are no longer needed (last close).
  virtual void ForgetFile(int64_t /*fileId*/) {}

  // ---- Records -------------------------------------------------------------
  // Up to `limit` rows from `bound` on: `rows` is replaced by them (a store
  // may write over the rows it holds to reuse their buffers).
  virtual int16_t FetchByIndex(OpenFile& file, int key, Find how, const std::string& bound, unsigned limit,
                               std::vector<Row>& rows) = 0;
  virtual int16_t FetchPhysical(OpenFile& file, bool forward, int64_t bound, unsigned limit,
                                std::vector<Row>& rows) = 0;
  // One record by position, with its insertion numbers and checksum.
  virtual int16_t FetchRecord(OpenFile& file, uint32_t pos, Row& row, bool& found) = 0;
  virtual int16_t FindIndexEntry(OpenFile& file, int key, const std::string& entry, uint32_t& pos,
                                 bool& found) = 0;
  // The index entries above `after` (all of them with an empty one), in key
  // order, at most `limit`: for the check.
  virtual int16_t ListIndexEntries(OpenFile& file, int key, const std::string& after, unsigned limit,
                                   std::vector<std::pair<std::string, uint32_t>>& out) = 0;
  virtual int16_t InsertIndexEntry(OpenFile& file, int key, const std::string& entry, uint32_t pos) = 0;
  virtual int16_t DeleteIndexEntry(OpenFile& file, int key, const std::string& entry) = 0;
  // A new record row at `pos`, or the row there written over; `checksum`
  // is RecordChecksum of the row (integrity.h).
  virtual int16_t WriteRecordRow(OpenFile& file, RowWrite how, uint32_t pos, int64_t version,
                                 const std::string& data, const std::string& sequences,
                                 uint32_t checksum) = 0;
  virtual int16_t DeleteRecordRow(OpenFile& file, uint32_t pos) = 0;

  // ---- Whole folder ------------------------------------------------------
  // The storage's own consistency check; one line per fault in `faults`.
  virtual void CheckStorage(std::vector<std::string>& /*faults*/) {}
};

// The store of a folder: "recman.server" in it names a server, otherwise
// SQLite.  With `create` false a folder without any store answers 12.
int16_t OpenStore(Directory& dir, bool create, std::unique_ptr<Store>& out);
// Whether the folder keeps its records on a server ("recman.server").
bool FolderOnServer(const std::string& folder);

// The directory object for a canonical path, opening its store.  With
// `create` false a directory without a store answers 12, and so does one
// whose store holds no catalog (empty, cut short: only a create makes it).
// With `readOnly` nothing is written in the folder; a directory opened so
// and then wanted for writing is opened again for writing.
int16_t GetDirectory(const std::string& canonical, bool create, Directory*& out, bool readOnly = false);
// Makes sure the directory's connection is open (after a fork it is reopened).
int16_t EnsureConnection(Directory& dir);
// Closes the directory's connection (it reopens on demand).
void CloseConnection(Directory& dir);
// False only when a test or benchmark turned durability off (testing.h).
bool SyncEnabled();
// The durability and busy timeout asked for by tests (testing.h).
RecmanDurability DurabilityForTests();
int BusyTimeoutMs();

// Catalog, through the directory's store.
int16_t ListCatalogEntries(Directory& dir, const std::string& name, std::vector<CatalogEntry>& out);
int16_t FindCatalogEntry(Directory& dir, const std::string& name, CatalogEntry& out, bool& found);
int16_t ReadRecordCount(OpenFile& file, uint32_t& count);
// Inside the process transaction the change waits in the directory's
// pendingCounts until FlushRecordCounts; outside it is written at once.
int16_t AdjustRecordCount(OpenFile& file, int delta);
// Writes the directory's pending record counts (inside its transaction).
int16_t FlushRecordCounts(Directory& dir);

// Records, through the file's store.
inline int16_t AllocatePosition(OpenFile& file, bool countRecord, uint64_t& value) {
  if (countRecord) file.countTransaction = 0;  // the stored count moves
  return file.dir->store->AllocatePosition(file, countRecord, value);
}
inline int16_t FetchByIndex(OpenFile& file, int key, Find how, const std::string& bound, unsigned limit,
                            std::vector<Row>& rows) {
  return file.dir->store->FetchByIndex(file, key, how, bound, limit, rows);
}
inline int16_t FetchPhysical(OpenFile& file, bool forward, int64_t bound, unsigned limit,
                             std::vector<Row>& rows) {
  return file.dir->store->FetchPhysical(file, forward, bound, limit, rows);
}
inline int16_t FetchRecord(OpenFile& file, uint32_t pos, Row& row, bool& found) {
  return file.dir->store->FetchRecord(file, pos, row, found);
}
inline int16_t FindIndexEntry(OpenFile& file, int key, const std::string& entry, uint32_t& pos, bool& found) {
  return file.dir->store->FindIndexEntry(file, key, entry, pos, found);
}
inline int16_t InsertIndexEntry(OpenFile& file, int key, const std::string& entry, uint32_t pos) {
  return file.dir->store->InsertIndexEntry(file, key, entry, pos);
}
inline int16_t DeleteIndexEntry(OpenFile& file, int key, const std::string& entry) {
  return file.dir->store->DeleteIndexEntry(file, key, entry);
}
inline int16_t WriteRecordRow(OpenFile& file, RowWrite how, uint32_t pos, int64_t version,
                              const std::string& data, const std::string& sequences, uint32_t checksum) {
  return file.dir->store->WriteRecordRow(file, how, pos, version, data, sequences, checksum);
}
inline int16_t DeleteRecordRow(OpenFile& file, uint32_t pos) {
  return file.dir->store->DeleteRecordRow(file, pos);
}
inline int16_t ListIndexEntries(OpenFile& file, int key, const std::string& after, unsigned limit,
                                std::vector<std::pair<std::string, uint32_t>>& out) {
  return file.dir->store->ListIndexEntries(file, key, after, limit, out);
}

// Index entry of key `key` for a record with the given insertion numbers.
bool IndexEntry(const FileSpec& spec, size_t key, const uint8_t* record, const std::string& sequences,
                std::string& out);
uint64_t SequenceOf(const std::string& sequences, size_t key);
void SetSequence(std::string& sequences, size_t key, uint64_t value);

}  // namespace recman
