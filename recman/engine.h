// engine.h - the record manager's internal state, shared by its source files.
//
// Nothing here is part of the interface (that is recman.h, with check.h for
// the tools and testing.h for tests): the engine's own types and functions
// live in namespace recman, apart from the data layer's of the same names
// (its UpdateRecord is not the engine's).  All state of the
// engine lives in one struct, gRecman: the handles behind the callers'
// position blocks, the open directories (each with the store that keeps its
// files, store.h), the open files, the record locks this process holds and
// its transaction.  BTRCALL takes gRecman.mutex for the whole call, so the engine
// may be called from several threads, one call at a time.
#pragma once
#include <sys/types.h>

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "recman/keys.h"
#include "recman/recman.h"

namespace recman {

struct Store;

// One directory of data files and the store that keeps them (store.h).
struct Directory {
  std::string path;  // canonical, without a trailing slash
  std::unique_ptr<Store> store;
  // Opened for reading only (open mode -2, the tools' checks): the store
  // writes nothing in the folder and takes no write transaction.
  bool readOnly = false;
  bool transactionOpen = false;  // the process transaction holds the folder
  // Record-count changes of the open transaction, by file id: written to
  // the catalog once, just before the commit, instead of on every delete.
  std::map<int64_t, int64_t> pendingCounts;
  // A read transaction kept open between the reading calls of one burst
  // (see BeginRead); the snapshot watcher ends it when the burst is over.
  bool snapshotOpen = false;
  uint64_t snapshotCounter = 0;
  int64_t snapshotAtMs = 0;
  int64_t snapshotUsedMs = 0;
  Directory();
  ~Directory();  // in store.cpp, where the store is a complete type
};

// A record as read from the store.
struct Row {
  std::string sortKey;  // index entry (empty for physical reads)
  uint32_t pos = 0;
  int64_t version = 0;
  std::string data;
  std::string sequences;  // insertion numbers of the duplicate keys
  // Checksum stored with the record (RecordChecksum); -1 for a record
  // written by an engine that kept none.
  int64_t checksum = -1;
};

// Records read inside the process transaction, by position, for get direct,
// update and delete to find again without a query: while the transaction holds the
// directory's write lock (from its first touch) no other process can change
// them, and this process's own writes replace or drop what they change.  Only
// records already checked (checksum, length, index entry) are kept, so they
// are not checked again.  Belongs to one
// transaction (RecordManager::transactionSerial); at most kMaxRows a file
// (when full it starts again with the newest).
struct TransactionRows {
  static constexpr size_t kMaxRows = 4096;
  static constexpr size_t kMaxSpare = 256;
  uint64_t transaction = 0;
  std::unordered_map<uint32_t, Row> rows;
  // Entries forgotten, with their buffers, for the next rows kept: a walk
  // that reads and deletes record after record allocates nothing for them.
  std::vector<std::unordered_map<uint32_t, Row>::node_type> spare;
};

// The part of a file shared by all of this process's handles on it.
struct OpenFile {
  Directory* dir = nullptr;
  int64_t id = 0;  // catalog id; tables r<id>, k<id>_<key>
  std::string name;
  FileSpec spec;
  int normalOpens = 0;
  int exclusiveOpens = 0;
  int openLockHeld = 0;  // 0 none, 1 shared, 2 exclusive
  TransactionRows seen;
  // The record count as stored, read inside the process transaction of
  // that serial (0: none kept); see ReadRecordCount.
  uint64_t countTransaction = 0;
  int64_t storedCount = 0;
};

enum class Place : uint8_t { kNone, kOnRecord, kGap };

// Rows read ahead along a key (or physically), kept while nobody writes.
// Read forward along a key they are every entry from `low` (`low` itself
// too when `lowIncluded`) to the last row, and to the index's end when
// `complete`: a later keyed read whose answer lies in that stretch is
// answered from them.
struct ReadAhead {
  bool valid = false;
  bool forward = true;
  bool physical = false;
  int key = -1;
  std::string low;
  bool lowIncluded = false;
  bool complete = false;
  std::vector<Row> rows;
  size_t next = 0;
  uint64_t counter = 0;
  int64_t filledAtMs = 0;
  unsigned batch = 0;
};

struct Handle {
  uint32_t generation = 0;
  bool inUse = false;
  OpenFile* file = nullptr;
  bool readOnly = false;
  bool exclusive = false;
  bool ownerGiven = false;  // opened with the owner name (or no owner set)
  // Logical currency: a place along one key.
  int logicalKey = -1;
  Place logical = Place::kNone;
  std::string sortKey;  // index entry of the current record or of the gap
  // Physical currency: a place in position order.
  Place physical = Place::kNone;  // kNone = before the first record
  uint32_t pos = 0;
  int64_t version = 0;  // of the current record when it was read
  // Record locks held through this handle.
  uint32_t singleLock = 0;
  std::vector<uint32_t> multipleLocks;
  ReadAhead ahead;
};

struct RecordManager {
  std::mutex mutex;
  pid_t pid = 0;
  uint64_t nonce = 0;  // tells this process's position blocks apart
  // The generator of record versions (records.cpp), seeded from the nonce:
  // 0 until the first version, and again in a forked child, so that parent
  // and child never hand out the same versions.
  uint64_t versionState = 0;
  bool forkHandlersInstalled = false;
  std::vector<Handle> handles;
  std::map<std::string, std::unique_ptr<Directory>> directories;
  std::map<std::pair<Directory*, int64_t>, std::unique_ptr<OpenFile>> files;
  // Record locks of this process: lock-file offset -> handles holding it.
  std::map<std::pair<Directory*, uint64_t>, std::vector<uint32_t>> recordLocks;
  std::set<std::string> unusableDirectories;  // see AfterForkInChild
  uint64_t replacedDirectories = 0;           // names the entries of replaced folders apart
  bool inTransaction = false;
  bool transactionFailed = false;
  uint64_t transactionSerial = 0;  // grows with every begin transaction
  // What lies behind the failure of the current (or last) call.
  bool diagnosticSet = false;
  RecmanDiagnostic diagnostic;
  const char* operation = "";  // the call's, for its diagnostic ("open", "update", "check" ...)
  std::string storageLog;      // the storage's log line of the call's I/O failure (NoteStorageLog)
  // The thread that ends the read snapshots of bursts that are over (see
  // transactions.cpp); it runs only in the process that started it.
  std::condition_variable watcherWake;
  pid_t watcherPid = 0;
  bool watcherWaiting = false;  // waiting without a deadline: wake it for a new snapshot
  bool watcherStop = false;
  // At exit: stops the watcher, closes the connections (an open transaction
  // is rolled back) and the lock files.
  ~RecordManager();
};

extern RecordManager gRecman;

// Names the engine keeps for itself in every data directory: the SQLite
// store's database and lock file, and the file naming a folder's server.
inline constexpr const char* kStoreName = "recman.db";
inline constexpr const char* kLockName = "recman.lck";
inline constexpr const char* kServerName = "recman.server";

int64_t MonotonicMs();

}  // namespace recman
