// store_sqlite.cpp - the SQLite store: connection, catalog, record and index
// rows, and the folder's lock file.
//
// One database "recman.db" per folder holds every data file of it: a catalog
// table recman_file (name, identity, specification, counters, owner), and
// per file a record table r<id> and one index table k<id>_<key> per key.
//
// Each folder has one connection per process, in write-ahead-log mode so
// that readers never wait for a writer, with synchronous=FULL so that a
// commit is on disk before it is reported (tests and benchmarks may trade
// that away through recman/testing.h; nothing read from the environment
// can).  The log is checkpointed into the database file every 1000 pages
// and cut back to kRecmanLogLimitBytes when it starts again.  A busy handler
// waits for other processes' write transactions (RECMAN_BUSY_TIMEOUT_MS,
// 30 s by default); what is still busy after that becomes status 85.
// Statements are prepared once per open file and connection.  Every failure
// of SQLite leaves its extended code, message and errno as the call's
// diagnostic (integrity.h).
//
// Locks between processes are byte-range locks on the folder's lock file
// "recman.lck", taken as open-file-description locks (F_OFD_SETLK): the
// kernel drops them when the process dies, so a crashed station never
// leaves a record locked.  The first 8 bytes of the lock file, mapped into
// memory, are the folder's change counter: a writer bumps it before its
// commit becomes visible and again after it.
#include "recman/store_sqlite.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>

#include "recman/integrity.h"
#include "recman/recman.h"
#include "recman/store_sql.h"
#include "recman/testing.h"

namespace recman {

namespace {

// This store's own record statement slots of an open file, after its row
// slots.
enum RecordSlot { kSlotNextPosition = kRowSlots, kSlotCount, kRecordSlots };

const char* SynchronousPragma() {
  switch (DurabilityForTests()) {
    case RecmanDurability::kNormal: return "PRAGMA synchronous=NORMAL";
    case RecmanDurability::kOff: return "PRAGMA synchronous=OFF";
    default: return "PRAGMA synchronous=FULL";
  }
}

// The log's checkpoint threshold in pages (SQLite's default, said aloud).
constexpr int kCheckpointPages = 1000;
constexpr size_t kLockFileSize = 4096;

const char* kSchema =
    "CREATE TABLE IF NOT EXISTS recman_file("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " name TEXT NOT NULL,"
    " uuid TEXT NOT NULL,"
    " spec BLOB NOT NULL,"
    " records INTEGER NOT NULL DEFAULT 0,"
    " next_pos INTEGER NOT NULL DEFAULT 1,"
    " owner_salt BLOB,"
    " owner_hash BLOB,"
    " owner_mode INTEGER NOT NULL DEFAULT 0);"
    "CREATE INDEX IF NOT EXISTS recman_file_name ON recman_file(name);"
    "CREATE TABLE IF NOT EXISTS recman_meta(key TEXT PRIMARY KEY, value);"
    "INSERT OR IGNORE INTO recman_meta(key, value) VALUES('format', 2);";

// Format 1 kept no checksums.  Format 2 adds the column `sum` to every
// record table and fills it; a record whose `sum` is NULL (written by an
// engine of format 1 since) is read without the check.
constexpr int kFormat = 2;

std::string ExactSql(int64_t id, int key) {
  return "SELECT pos FROM " + IndexTable(id, key) + " WHERE ik = ?1";
}

std::string OwnSql(int64_t fileId, int slot) {
  std::string id = std::to_string(fileId);
  switch (slot) {
    case kSlotNextPosition: return "SELECT next_pos FROM recman_file WHERE id = " + id;
    default: return "SELECT records FROM recman_file WHERE id = " + id;
  }
}

// The CROSS JOIN keeps the index table first: SQLite's planner would
// otherwise be free to walk the record table.
constexpr SqlDialect kDialect{'?', "", "", "CROSS JOIN", ExactSql, OwnSql};

void BindBlob(sqlite3_stmt* s, int i, const std::string& v) {
  sqlite3_bind_blob(s, i, v.data(), static_cast<int>(v.size()), SQLITE_STATIC);
}

std::string ColumnBlob(sqlite3_stmt* s, int i) {
  const void* p = sqlite3_column_blob(s, i);
  int n = sqlite3_column_bytes(s, i);
  return p ? std::string(static_cast<const char*>(p), static_cast<size_t>(n)) : std::string();
}

// The same into `out`, whose buffer serves again.
void AssignBlob(sqlite3_stmt* s, int i, std::string& out) {
  const void* p = sqlite3_column_blob(s, i);
  int n = sqlite3_column_bytes(s, i);
  if (p) out.assign(static_cast<const char*>(p), static_cast<size_t>(n));
  else out.clear();
}

int16_t SqliteStatus(int rc) {
  switch (rc & 0xFF) {
    case SQLITE_OK:
    case SQLITE_DONE:
    case SQLITE_ROW: return B_OK;
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return B_FILE_LOCKED;
    case SQLITE_FULL: return B_DISK_FULL;
    case SQLITE_CONSTRAINT: return B_DUPLICATE_KEY;
    default: return B_IO_ERROR;
  }
}

void ChecksumFunction(sqlite3_context* context, int, sqlite3_value** v) {
  auto blob = [&](int i) {
    const void* p = sqlite3_value_blob(v[i]);
    return p ? std::string(static_cast<const char*>(p), static_cast<size_t>(sqlite3_value_bytes(v[i])))
             : std::string();
  };
  uint32_t pos = static_cast<uint32_t>(sqlite3_value_int64(v[0]));
  sqlite3_result_int64(context, RecordChecksum(pos, sqlite3_value_int64(v[1]), blob(2), blob(3)));
}

int QueryInt(sqlite3* db, const std::string& sql, int missing) {
  sqlite3_stmt* s = nullptr;
  int value = missing;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr) == SQLITE_OK && sqlite3_step(s) == SQLITE_ROW)
    value = sqlite3_column_int(s, 0);
  sqlite3_finalize(s);
  return value;
}

// Process-wide settings, before SQLite's first use: no memory statistics
// (they take a global mutex on every allocation, and the engine has no use
// for them).  Refused harmlessly when something else started SQLite first.
void StorageLog(void*, int code, const char* line) { NoteStorageLog(code, line); }

void ConfigureLibrary() {
  static const bool configured = [] {
    sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
    // Its error log says which system call failed on which file.
    sqlite3_config(SQLITE_CONFIG_LOG, StorageLog, nullptr);
    return true;
  }();
  (void)configured;
}

// The database's path as a URI of SQLite, for a read-only connection:
// characters that mean something in a URI are escaped.
std::string StoreUri(const std::string& file, bool immutable) {
  std::string uri = "file:";
  for (unsigned char c : file) {
    if (c == '%' || c == '?' || c == '#' || c < 0x20 || c >= 0x7F) {
      static const char digits[] = "0123456789ABCDEF";
      uri += '%';
      uri += digits[c >> 4];
      uri += digits[c & 15];
    } else {
      uri += static_cast<char>(c);
    }
  }
  return uri + (immutable ? "?mode=ro&immutable=1" : "?mode=ro");
}

bool CatalogPresent(sqlite3* db, int& rc) {
  sqlite3_stmt* s = nullptr;
  rc = sqlite3_prepare_v2(db, "SELECT 1 FROM sqlite_master WHERE name = 'recman_file'", -1, &s, nullptr);
  bool present = false;
  if (rc == SQLITE_OK) {
    rc = sqlite3_step(s);
    present = rc == SQLITE_ROW;
    if (rc == SQLITE_ROW || rc == SQLITE_DONE) rc = SQLITE_OK;
  }
  sqlite3_finalize(s);
  return present;
}

bool FileExists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && info.st_size > 0;
}

// The one byte at `offset` of the lock file, for a lock of `type`.
struct flock OneByte(uint64_t offset, short type) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(offset);
  fl.l_len = 1;
  fl.l_pid = 0;
  return fl;
}

int RangeLock(int fd, uint64_t offset, short type, bool wait) {
  struct flock fl = OneByte(offset, type);
  for (;;) {
    if (fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &fl) == 0) return 0;
    if (errno == EINTR && wait) continue;
    return errno;
  }
}

struct SqliteStore final : Store {
  Directory& dir;
  sqlite3* db = nullptr;  // null while closed (it reopens on demand)
  int lockFd = -1;
  void* lockMap = nullptr;
  volatile uint64_t* changeCounter = nullptr;  // in the mapped lock file
  // Also there, after it: how many record locks the stations hold (see
  // HeldElsewhere); and how many of them are this process's.
  volatile uint64_t* recordLockCount = nullptr;
  uint64_t ownRecordLocks = 0;
  bool lockWritable = true;  // the lock file and its counter opened for writing
  // Opened for reading only (Directory::readOnly) and even the write-ahead
  // log's index could not be read (no station had the folder open and this
  // user cannot make the index): the connection then reads the database
  // file alone, and is opened again as soon as a log appears (see Connect).
  bool immutable = false;
  // Identity of the database file this store opened: a folder deleted and
  // made again holds another file at the same path.
  dev_t storeDevice = 0;
  ino_t storeInode = 0;
  // Prepared on first use, by file and slot.
  std::map<int64_t, std::vector<sqlite3_stmt*>> statements;
  sqlite3_stmt* adjust = nullptr;  // a record count moved, any file
  // Inside a write transaction (BEGIN IMMEDIATE holds the database against
  // every other writer) the next position of a file is this station's to
  // hand out: the positions handed out and the records counted are kept
  // here by file and written to the catalog once, just before the commit,
  // in place of two statements a record.
  struct Counters {
    int64_t nextPos = 0;  // 0: not read yet
    int64_t records = 0;  // added since the transaction began
  };
  std::map<int64_t, Counters> counters;
  bool writing = false;  // a write transaction of this connection is open
  sqlite3_stmt* writeCounters = nullptr;

  explicit SqliteStore(Directory& d) : dir(d) {}
  ~SqliteStore() override {
    Disconnect();
    CloseLockFile();
  }

  std::string File() const { return dir.path + "/" + kStoreName; }

  const char* Name() const override { return "SQLite"; }
  std::string Where() const override { return File(); }

  // The status of a failed SQLite call, with its diagnostic noted.
  int16_t Failed(int rc) {
    int16_t st = SqliteStatus(rc);
    if (st == B_OK || (rc & 0xFF) == SQLITE_CONSTRAINT) return st;
    int code = db ? sqlite3_extended_errcode(db) : rc;
    std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    int os = db ? sqlite3_system_errno(db) : 0;
    return NoteFailure(st, &dir, message, os, "SQLite", code);
  }

  int16_t Exec(const char* sql) {
    if (db == nullptr) return B_IO_ERROR;
    int rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    return rc == SQLITE_OK ? int16_t{B_OK} : Failed(rc);
  }

  int16_t Prepare(const char* sql, sqlite3_stmt*& s) {
    s = nullptr;
    if (db == nullptr) return B_IO_ERROR;
    int rc = sqlite3_prepare_v2(db, sql, -1, &s, nullptr);
    return rc == SQLITE_OK ? int16_t{B_OK} : Failed(rc);
  }

  // Steps a statement that returns no rows (or one row that is ignored).
  int16_t Run(sqlite3_stmt* s) {
    int rc = sqlite3_step(s);
    int16_t st = (rc == SQLITE_DONE || rc == SQLITE_ROW) ? int16_t{B_OK} : Failed(rc);
    sqlite3_reset(s);
    return st;
  }

  // The prepared statement of a slot, reset and ready for binding.
  sqlite3_stmt* Slot(OpenFile& f, size_t slot, int16_t& status) {
    std::vector<sqlite3_stmt*>& all = statements[f.id];
    if (all.empty()) all.assign(f.spec.keys.size() * kPerKey + kRecordSlots, nullptr);
    sqlite3_stmt*& s = all[slot];
    if (s == nullptr) {
      status = Connect();
      if (status != B_OK) return nullptr;
      std::string sql = SlotSql(kDialect, f, slot);
      int rc = sqlite3_prepare_v3(db, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &s, nullptr);
      if (rc != SQLITE_OK) {
        status = Failed(rc);
        s = nullptr;
        return nullptr;
      }
    }
    status = B_OK;
    return s;
  }
  sqlite3_stmt* KeySlotOf(OpenFile& f, int key, KeySlot which, int16_t& status) {
    return Slot(f, static_cast<size_t>(key) * kPerKey + which, status);
  }
  sqlite3_stmt* RecordSlotOf(OpenFile& f, int which, int16_t& status) {
    return Slot(f, f.spec.keys.size() * kPerKey + which, status);
  }

  void FinalizeAll() {
    for (auto& [id, all] : statements)
      for (sqlite3_stmt* s : all) sqlite3_finalize(s);
    statements.clear();
    sqlite3_finalize(adjust);
    adjust = nullptr;
    sqlite3_finalize(writeCounters);
    writeCounters = nullptr;
  }

  // ---- Lock file ------------------------------------------------------------

  int16_t OpenLockFile() {
    std::string path = dir.path + "/" + kLockName;
    auto failed = [&](int error) {
      return NoteSystemFailure(
          error == EACCES || error == EPERM || error == EROFS ? B_ACCESS_DENIED : B_IO_ERROR, &dir, path,
          error);
    };
    // A folder opened for reading only is never written: without a lock
    // file (no station ever opened the folder) it is read without one, and
    // one this user may not write is read through a read-only mapping: its
    // open locks are shared ones, which need no more.
    int fd = open(path.c_str(), O_RDWR | O_CLOEXEC | (dir.readOnly ? 0 : O_CREAT), 0666);
    bool writable = fd >= 0;
    if (fd < 0 && dir.readOnly) {
      if (errno == ENOENT) return B_OK;
      if (errno == EACCES || errno == EPERM || errno == EROFS) fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    }
    if (fd < 0) return failed(errno);
    struct stat st {};
    if (fstat(fd, &st) != 0 || (static_cast<size_t>(st.st_size) < kLockFileSize &&
                                (!writable || ftruncate(fd, kLockFileSize) != 0))) {
      int error = errno;
      close(fd);
      return failed(error);
    }
    void* map = mmap(nullptr, kLockFileSize, PROT_READ | (writable ? PROT_WRITE : 0), MAP_SHARED, fd, 0);
    if (map == MAP_FAILED) {
      int error = errno;
      close(fd);
      return failed(error);
    }
    lockFd = fd;
    lockMap = map;
    lockWritable = writable;
    changeCounter = static_cast<volatile uint64_t*>(map);
    recordLockCount = changeCounter + 1;
    return B_OK;
  }

  // Record locks, as opposed to the open locks of position 0.
  static bool IsRecordUnit(uint64_t unit) { return (unit & 0xFFFFFFFFu) != 0; }
  void CountRecordLocks(int64_t delta) {
    if (!recordLockCount || !lockWritable) return;
    __atomic_add_fetch(const_cast<uint64_t*>(recordLockCount), static_cast<uint64_t>(delta),
                       __ATOMIC_SEQ_CST);
    ownRecordLocks += static_cast<uint64_t>(delta);
  }

  void CloseLockFile() {
    // Closing the lock file lets go of this process's record locks.
    if (ownRecordLocks > 0) CountRecordLocks(-static_cast<int64_t>(ownRecordLocks));
    if (lockMap) munmap(lockMap, kLockFileSize);
    if (lockFd >= 0) close(lockFd);
    lockMap = nullptr;
    changeCounter = nullptr;
    recordLockCount = nullptr;
    ownRecordLocks = 0;
    lockFd = -1;
  }

  // ---- Connection -------------------------------------------------------------

  // Brings a database of format 1 to format 2, all in one transaction.
  int16_t Migrate() {
    if (QueryInt(db, "SELECT value FROM recman_meta WHERE key = 'format'", 1) >= kFormat) return B_OK;
    int16_t st = Exec("BEGIN IMMEDIATE");
    if (st != B_OK) return st;
    if (QueryInt(db, "SELECT value FROM recman_meta WHERE key = 'format'", 1) >= kFormat)
      return Exec("COMMIT");
    sqlite3_create_function(db, "recman_checksum", 4, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                            ChecksumFunction, nullptr, nullptr);
    std::vector<int64_t> ids;
    sqlite3_stmt* s = nullptr;
    int rc = sqlite3_prepare_v2(db, "SELECT id FROM recman_file", -1, &s, nullptr);
    while (rc == SQLITE_OK && sqlite3_step(s) == SQLITE_ROW) ids.push_back(sqlite3_column_int64(s, 0));
    sqlite3_finalize(s);
    for (int64_t id : ids) {
      std::string r = Table(id);
      bool has =
          QueryInt(db, "SELECT count(*) FROM pragma_table_info('" + r + "') WHERE name = 'sum'", 0) > 0;
      std::string sql = has ? "" : "ALTER TABLE " + r + " ADD COLUMN sum INTEGER;";
      sql += "UPDATE " + r + " SET sum = recman_checksum(pos, ver, data, seqs) WHERE sum IS NULL;";
      st = Exec(sql.c_str());
      if (st != B_OK) break;
    }
    if (st == B_OK)
      st = Exec(
          ("UPDATE recman_meta SET value = " + std::to_string(kFormat) + " WHERE key = 'format'").c_str());
    if (st == B_OK) st = Exec("COMMIT");
    if (st != B_OK) Exec("ROLLBACK");
    sqlite3_create_function(db, "recman_checksum", 4, SQLITE_UTF8, nullptr, nullptr, nullptr, nullptr);
    return st;
  }

  // Opens the database for reading only.  A database in write-ahead-log
  // mode is read through the log's index, shared memory that SQLite keeps
  // in "recman.db-shm": with a station at work it is there and is read as
  // it is.  With none, this user may be unable to make it (a folder it may
  // read but not write); the database file then holds every commit (the
  // last station to leave put the log into it), and is read as an
  // immutable file until a station starts writing.
  int16_t OpenReadOnlyConnection(sqlite3*& opened, bool& present) {
    std::string file = File();
    immutable = false;
    for (;;) {
      int flags = SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX;
      int rc = sqlite3_open_v2(StoreUri(file, immutable).c_str(), &opened, flags, nullptr);
      if (opened) sqlite3_busy_timeout(opened, BusyTimeoutMs());
      if (rc == SQLITE_OK) present = CatalogPresent(opened, rc);
      if (rc == SQLITE_OK) return B_OK;
      int code = opened ? sqlite3_extended_errcode(opened) : rc;
      // The log's index cannot be made: SQLite would have to write the
      // folder (SQLITE_READONLY_DIRECTORY) or the index file.
      bool noIndex = code == SQLITE_READONLY_CANTINIT || code == SQLITE_READONLY_DIRECTORY ||
                     (code & 0xFF) == SQLITE_CANTOPEN;
      if (!immutable && noIndex && !FileExists(file + "-wal")) {
        sqlite3_close(opened);
        opened = nullptr;
        immutable = true;
        continue;
      }
      int16_t st = (code & 0xFF) == SQLITE_CANTOPEN || (code & 0xFF) == SQLITE_PERM ? int16_t{B_ACCESS_DENIED}
                                                                                    : SqliteStatus(code);
      if (st == B_OK) st = B_IO_ERROR;
      NoteFailure(st, &dir, opened ? sqlite3_errmsg(opened) : sqlite3_errstr(rc),
                  opened ? sqlite3_system_errno(opened) : 0, "SQLite", code);
      sqlite3_close(opened);
      opened = nullptr;
      return st;
    }
  }

  int16_t OpenConnection(bool create) {
    ConfigureLibrary();
    std::string file = File();
    sqlite3* opened = nullptr;
    bool present = false;
    int16_t st = B_OK;
    if (dir.readOnly) {
      st = OpenReadOnlyConnection(opened, present);
      if (st != B_OK) return st;
    } else {
      if (create) {
        // SQLite would make a new database with mode 0644: made here first,
        // empty, with 0666 less the umask, so that a folder shared by a
        // group of users stays writable for all of them (SQLite gives its
        // log and shared-memory files the database's own mode).
        int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd >= 0) close(fd);
      }
      int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | (create ? SQLITE_OPEN_CREATE : 0);
      int rc = sqlite3_open_v2(file.c_str(), &opened, flags, nullptr);
      // The first read of the catalog waits as every other read does: a
      // station opening the folder just as another recovers its log (after
      // a station that ended without closing) meets a busy database.
      if (opened) sqlite3_busy_timeout(opened, BusyTimeoutMs());
      if (rc == SQLITE_OK) present = CatalogPresent(opened, rc);
      if (rc != SQLITE_OK) {
        st = create ? B_CREATE_IO_ERROR : B_FILE_NOT_FOUND;
        if ((rc & 0xFF) == SQLITE_NOTADB || (rc & 0xFF) == SQLITE_CORRUPT) st = B_IO_ERROR;
        // Still busy when the wait ran out: locked, as a busy write is, not
        // damaged (the data layer waits and tries again).
        if ((rc & 0xFF) == SQLITE_BUSY || (rc & 0xFF) == SQLITE_LOCKED) st = B_FILE_LOCKED;
        NoteFailure(st, &dir, opened ? sqlite3_errmsg(opened) : sqlite3_errstr(rc),
                    opened ? sqlite3_system_errno(opened) : 0, "SQLite",
                    opened ? sqlite3_extended_errcode(opened) : rc);
        sqlite3_close(opened);
        return st;
      }
      // SQLite opens a file this user may not write for reading, and says
      // so only at the first write: said here, at the open.
      if (sqlite3_db_readonly(opened, "main") == 1) {
        st = NoteSystemFailure(B_ACCESS_DENIED, &dir, file, access(file.c_str(), W_OK) == 0 ? EROFS : errno);
        sqlite3_close(opened);
        return st;
      }
    }
    // A database without the catalog is one that was never made, or one
    // emptied or cut short since: only a create makes the catalog.  Nothing
    // else writes into it, so that a lost database stays what it is.
    if (!present && !create) {
      sqlite3_close(opened);
      return B_FILE_NOT_FOUND;
    }
    db = opened;
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, BusyTimeoutMs());
    if (!dir.readOnly) st = Exec("PRAGMA journal_mode=WAL");
    if (st == B_OK) st = Exec(SynchronousPragma());
    if (st == B_OK) st = Exec(("PRAGMA wal_autocheckpoint=" + std::to_string(kCheckpointPages)).c_str());
    if (st == B_OK) st = Exec(("PRAGMA journal_size_limit=" + std::to_string(kRecmanLogLimitBytes)).c_str());
    // Reads go through a mapping of the database (up to 256 MiB) instead of
    // copies in SQLite's page cache, which then mostly holds the pages being
    // written: 8 MiB.  A settlement of 571k records stays under 80 MiB.
    if (st == B_OK) st = Exec("PRAGMA cache_size=-8192");
    if (st == B_OK) st = Exec("PRAGMA mmap_size=268435456");
    if (st == B_OK) st = Exec("PRAGMA temp_store=MEMORY");
    if (st == B_OK && !present) {
      st = Exec("BEGIN IMMEDIATE");
      if (st == B_OK) {
        st = Exec(kSchema);
        if (st == B_OK) st = Exec("COMMIT");
        if (st != B_OK) Exec("ROLLBACK");
      }
    }
    // A reader leaves a database of the first format as it is (its records
    // are read without their checksums' column: see Migrate).
    if (st == B_OK && !dir.readOnly) st = Migrate();
    if (st == B_OK) {
      // The file opened must be the one the folder's open files live in: a
      // reopen (after a fork) that finds another database there refuses.
      struct stat info;
      if (stat(file.c_str(), &info) != 0) {
        st = NoteFailure(B_IO_ERROR, &dir, "cannot find " + file + " after opening it", errno);
      } else if (storeInode == 0) {
        storeDevice = info.st_dev;
        storeInode = info.st_ino;
      } else if (storeDevice != info.st_dev || storeInode != info.st_ino) {
        st = NoteFailure(B_IO_ERROR, &dir, file + " was replaced since this process opened it");
      }
    }
    if (st != B_OK) {
      sqlite3_close(db);
      db = nullptr;
    }
    return st;
  }

  int16_t Connect() override {
    if (db) {
      // A folder read as an immutable file is read through the log as soon
      // as a station has made one.
      if (!immutable || access((File() + "-wal").c_str(), F_OK) != 0) return B_OK;
      Disconnect();
      dir.snapshotOpen = false;
    }
    if (lockFd < 0 && !dir.readOnly) {
      int16_t st = OpenLockFile();
      if (st != B_OK) return st;
    }
    return OpenConnection(false);
  }

  bool Connected() const override { return db != nullptr; }

  void Disconnect() override {
    ForgetWrite();
    FinalizeAll();
    if (db) sqlite3_close_v2(db);
    db = nullptr;
  }

  // NoFileOpen: the connection is kept, it costs the server nothing.

  void BeforeFork(bool inTransaction) override {
    if (!inTransaction) Disconnect();
  }

  void AbandonInChild() override {
    statements.clear();  // not finalised: not ours
    adjust = nullptr;
    writeCounters = nullptr;
    ForgetWrite();
    db = nullptr;
    // The parent's lock file stays open in the parent; the child's copy of
    // the descriptor shares its locks, so it lets it go without unlocking
    // (and the parent's locks stay counted).
    ownRecordLocks = 0;
    CloseLockFile();
  }

  bool Replaced() override {
    if (storeInode == 0) return false;
    struct stat info;
    if (stat(File().c_str(), &info) != 0) return true;
    return info.st_dev != storeDevice || info.st_ino != storeInode;
  }

  int16_t CheckIdentity() override {
    if (!Replaced()) return B_OK;
    return NoteFailure(B_IO_ERROR, &dir,
                       File() + " was replaced or deleted since this station opened it: nothing was written");
  }

  unsigned ReadAhead() const override { return 0; }
  bool HoldsFolder() const override { return false; }
  void SetBusyTimeout(int milliseconds) override {
    if (db) sqlite3_busy_timeout(db, milliseconds);
  }

  int16_t ReopenForWriting() override {
    if (lockFd >= 0 && !lockWritable)
      return NoteSystemFailure(B_ACCESS_DENIED, &dir, dir.path + "/" + kLockName, EACCES);
    Disconnect();
    dir.readOnly = false;
    immutable = false;
    if (lockFd < 0) {
      int16_t st = OpenLockFile();
      if (st != B_OK) {
        dir.readOnly = true;
        return st;
      }
    }
    return B_OK;
  }

  // ---- Transactions -------------------------------------------------------------

  bool BeginSnapshot() override { return Exec("BEGIN") == B_OK; }
  void EndSnapshot() override {
    if (db) Exec("COMMIT");
  }
  int16_t BeginWrite(bool onlyRead) override {
    // A folder opened for reading takes no write transaction: a write meets
    // the read-only open's own status, never the storage's.
    if (dir.readOnly && !onlyRead)
      return NoteFailure(B_ACCESS_DENIED, &dir, "the folder is open for reading only", 0, nullptr, 0, File());
    ForgetWrite();
    int16_t st = Exec(dir.readOnly ? "BEGIN" : "BEGIN IMMEDIATE");
    writing = st == B_OK && !dir.readOnly;
    return st;
  }
  // The catalog's counters of the files the transaction changed.
  int16_t WriteCounters() {
    for (const auto& [id, c] : counters) {
      if (c.nextPos == 0 && c.records == 0) continue;
      if (writeCounters == nullptr) {
        int16_t st = Prepare(
            "UPDATE recman_file SET next_pos = max(next_pos, ?1), records = records + ?2 WHERE id = ?3",
            writeCounters);
        if (st != B_OK) return st;
      }
      sqlite3_bind_int64(writeCounters, 1, c.nextPos);
      sqlite3_bind_int64(writeCounters, 2, c.records);
      sqlite3_bind_int64(writeCounters, 3, id);
      int16_t st = Run(writeCounters);
      if (st != B_OK) return st;
    }
    counters.clear();
    return B_OK;
  }
  void ForgetWrite() {
    counters.clear();
    writing = false;
  }
  int16_t Commit() override {
    int16_t st = WriteCounters();
    if (st != B_OK) return st;  // the caller rolls back
    writing = false;
    // Commits that meet SQLITE_BUSY (a reader finishing its checkpoint) are
    // retried.
    for (int attempt = 0; attempt < 50; ++attempt) {
      st = Exec("COMMIT");
      if (st != B_FILE_LOCKED) break;
      usleep(20000);
    }
    return st;
  }
  void Rollback() override {
    ForgetWrite();
    Exec("ROLLBACK");
  }
  int16_t BeginReadTransaction() override { return Exec("BEGIN"); }

  uint64_t ChangeCounter() override {
    if (!changeCounter) return 0;
    return __atomic_load_n(const_cast<uint64_t*>(changeCounter), __ATOMIC_ACQUIRE);
  }
  void NoteChange() override {
    if (changeCounter && lockWritable)
      __atomic_add_fetch(const_cast<uint64_t*>(changeCounter), 1, __ATOMIC_SEQ_CST);
  }

  // ---- Locks ------------------------------------------------------------------

  LockResult Lock(uint64_t unit, LockType type, bool wait) override {
    // An exclusive lock needs a lock file this user may write; a folder
    // opened for reading only without a lock file takes its shared open
    // locks as given.
    if (type == LockType::kExclusive && (lockFd < 0 || !lockWritable))
      return dir.readOnly ? LockResult::kDenied : LockResult::kFailed;
    if (lockFd < 0) return dir.readOnly ? LockResult::kTaken : LockResult::kFailed;
    short t = type == LockType::kExclusive ? F_WRLCK : type == LockType::kShared ? F_RDLCK : F_UNLCK;
    // Counted before it is taken and for as long as it is waited for, so
    // that a writer who reads the count never misses a lock held.
    bool counted = t == F_WRLCK && IsRecordUnit(unit);
    if (counted) CountRecordLocks(1);
    int err = RangeLock(lockFd, unit, t, wait);
    if (err != 0 && counted) CountRecordLocks(-1);
    if (err == 0) return LockResult::kTaken;
    if (err == EAGAIN || err == EACCES || err == EDEADLK) return LockResult::kBusy;
    return LockResult::kFailed;
  }
  void Unlock(uint64_t unit) override {
    if (lockFd < 0) return;
    RangeLock(lockFd, unit, F_UNLCK, false);
    if (IsRecordUnit(unit) && ownRecordLocks > 0) CountRecordLocks(-1);
  }
  bool HeldElsewhere(uint64_t unit) override {
    if (lockFd < 0) return false;
    // Nearly always no other station holds a record lock: the count in the
    // lock file says so without asking the kernel.  A station that died
    // holding locks leaves the count high, and the kernel is asked.
    if (recordLockCount &&
        __atomic_load_n(const_cast<uint64_t*>(recordLockCount), __ATOMIC_SEQ_CST) == ownRecordLocks)
      return false;
    struct flock fl = OneByte(unit, F_WRLCK);
    if (fcntl(lockFd, F_OFD_GETLK, &fl) != 0) return false;
    return fl.l_type != F_UNLCK;
  }

  // ---- Catalog ------------------------------------------------------------------

  int16_t ListCatalogEntries(const std::string& name, std::vector<CatalogEntry>& out) override {
    out.clear();
    if (db == nullptr) return B_IO_ERROR;
    sqlite3_stmt* s = nullptr;
    int16_t st = Prepare(
        name.empty() ? "SELECT id, uuid, spec, owner_salt, owner_hash, owner_mode, name, records, next_pos "
                       "FROM recman_file ORDER BY id"
                     : "SELECT id, uuid, spec, owner_salt, owner_hash, owner_mode, name, records, next_pos "
                       "FROM recman_file WHERE name = ?1 COLLATE NOCASE ORDER BY id DESC",
        s);
    if (st != B_OK) return st;
    if (!name.empty()) sqlite3_bind_text(s, 1, name.data(), static_cast<int>(name.size()), SQLITE_STATIC);
    int rc = SQLITE_OK;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
      CatalogEntry& e = out.emplace_back();
      e.id = sqlite3_column_int64(s, 0);
      const unsigned char* u = sqlite3_column_text(s, 1);
      e.uuid = u ? reinterpret_cast<const char*>(u) : "";
      e.spec = ColumnBlob(s, 2);
      e.ownerSalt = ColumnBlob(s, 3);
      e.ownerHash = ColumnBlob(s, 4);
      e.ownerMode = sqlite3_column_int(s, 5);
      const unsigned char* n = sqlite3_column_text(s, 6);
      e.name = n ? reinterpret_cast<const char*>(n) : "";
      e.records = sqlite3_column_int64(s, 7);
      e.nextPos = sqlite3_column_int64(s, 8);
    }
    st = rc == SQLITE_DONE ? int16_t{B_OK} : Failed(rc);
    sqlite3_finalize(s);
    return st;
  }

  int16_t AddCatalogEntry(const std::string& name, const std::string& uuid, const FileSpec& spec,
                          int64_t& id) override {
    sqlite3_stmt* s = nullptr;
    int16_t st = Prepare("INSERT INTO recman_file(name, uuid, spec) VALUES(?1, ?2, ?3)", s);
    if (st != B_OK) return st;
    sqlite3_bind_text(s, 1, name.data(), static_cast<int>(name.size()), SQLITE_STATIC);
    sqlite3_bind_text(s, 2, uuid.data(), static_cast<int>(uuid.size()), SQLITE_STATIC);
    BindBlob(s, 3, spec.image);
    int rc = sqlite3_step(s);
    sqlite3_finalize(s);
    if (rc != SQLITE_DONE) return Failed(rc);
    id = sqlite3_last_insert_rowid(db);
    std::string sql =
        "CREATE TABLE " + Table(id) +
        "(pos INTEGER PRIMARY KEY, ver INTEGER NOT NULL, data BLOB NOT NULL, seqs BLOB NOT NULL,"
        " sum INTEGER);";
    for (size_t k = 0; k < spec.keys.size(); ++k)
      sql += "CREATE TABLE " + IndexTable(id, static_cast<int>(k)) +
             "(ik BLOB PRIMARY KEY, pos INTEGER NOT NULL) WITHOUT ROWID;";
    return Exec(sql.c_str());
  }

  int16_t DropCatalogEntry(int64_t id, size_t keyCount) override {
    ForgetFile(id);
    counters.erase(id);
    std::string sql = "DROP TABLE IF EXISTS " + Table(id) + ";";
    for (size_t k = 0; k < keyCount; ++k)
      sql += "DROP TABLE IF EXISTS " + IndexTable(id, static_cast<int>(k)) + ";";
    sql += "DELETE FROM recman_file WHERE id = " + std::to_string(id) + ";";
    return Exec(sql.c_str());
  }

  int16_t SetOwnerEntry(int64_t id, const std::string& salt, const std::string& hash, int mode) override {
    sqlite3_stmt* s = nullptr;
    int16_t st =
        Prepare("UPDATE recman_file SET owner_salt = ?1, owner_hash = ?2, owner_mode = ?3 WHERE id = ?4", s);
    if (st != B_OK) return st;
    if (salt.empty()) {
      sqlite3_bind_null(s, 1);
      sqlite3_bind_null(s, 2);
    } else {
      BindBlob(s, 1, salt);
      BindBlob(s, 2, hash);
    }
    sqlite3_bind_int(s, 3, mode);
    sqlite3_bind_int64(s, 4, id);
    int rc = sqlite3_step(s);
    sqlite3_finalize(s);
    return rc == SQLITE_DONE ? int16_t{B_OK} : Failed(rc);
  }

  int16_t StoredRecordCount(OpenFile& file, int64_t& count) override {
    int16_t st;
    sqlite3_stmt* s = RecordSlotOf(file, kSlotCount, st);
    if (!s) return st;
    int rc = sqlite3_step(s);
    if (rc == SQLITE_ROW) {
      count = sqlite3_column_int64(s, 0);
      auto c = counters.find(file.id);
      if (c != counters.end()) count += c->second.records;
      st = B_OK;
    } else {
      st = rc == SQLITE_DONE ? int16_t{B_IO_ERROR} : Failed(rc);
    }
    sqlite3_reset(s);
    return st;
  }

  int16_t AllocatePosition(OpenFile& file, bool countRecord, uint64_t& value) override {
    if (!writing) return B_IO_ERROR;  // only ever inside a write
    Counters& c = counters[file.id];
    if (c.nextPos == 0) {
      int16_t st;
      sqlite3_stmt* s = RecordSlotOf(file, kSlotNextPosition, st);
      if (!s) return st;
      int rc = sqlite3_step(s);
      if (rc == SQLITE_ROW) {
        c.nextPos = sqlite3_column_int64(s, 0);
        st = B_OK;
      } else {
        st = rc == SQLITE_DONE ? int16_t{B_IO_ERROR} : Failed(rc);
      }
      sqlite3_reset(s);
      if (st != B_OK) return st;
    }
    if (c.nextPos <= 0 || c.nextPos > 0xFFFFFFFFll) return B_DISK_FULL;
    value = static_cast<uint64_t>(c.nextPos++);
    if (countRecord) ++c.records;
    return B_OK;
  }

  int16_t AddToRecordCount(int64_t fileId, int64_t delta) override {
    if (writing) {
      counters[fileId].records += delta;
      return B_OK;
    }
    if (adjust == nullptr) {
      int16_t st = Connect();
      if (st == B_OK) st = Prepare("UPDATE recman_file SET records = records + ?1 WHERE id = ?2", adjust);
      if (st != B_OK) return st;
    }
    sqlite3_bind_int64(adjust, 1, delta);
    sqlite3_bind_int64(adjust, 2, fileId);
    return Run(adjust);
  }

  int16_t SetCounters(int64_t fileId, int64_t records, int64_t nextPos) override {
    counters.erase(fileId);  // what came before is replaced
    sqlite3_stmt* s = nullptr;
    int16_t st = Prepare("UPDATE recman_file SET records = ?1, next_pos = ?2 WHERE id = ?3", s);
    if (st != B_OK) return st;
    sqlite3_bind_int64(s, 1, records);
    sqlite3_bind_int64(s, 2, nextPos);
    sqlite3_bind_int64(s, 3, fileId);
    st = Run(s);
    sqlite3_finalize(s);
    return st;
  }

  void ForgetFile(int64_t fileId) override {
    auto it = statements.find(fileId);
    if (it == statements.end()) return;
    for (sqlite3_stmt* s : it->second) sqlite3_finalize(s);
    statements.erase(it);
  }

  // ---- Records ------------------------------------------------------------------

  // Steps a bound row query to its end.  The columns are those of the index
  // join (sort key, position, version, data, insertion numbers, checksum)
  // or, without a sort key, of the record table.
  int16_t CollectRows(sqlite3_stmt* s, bool withSortKey, std::vector<Row>& rows) {
    const int first = withSortKey ? 1 : 0;
    // The rows `rows` holds are written over, so that their buffers serve
    // again (a walk reads batch after batch of records of one size).
    size_t n = 0;
    int rc;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
      Row& r = n < rows.size() ? rows[n] : rows.emplace_back();
      ++n;
      if (withSortKey) AssignBlob(s, 0, r.sortKey);
      else r.sortKey.clear();
      r.pos = static_cast<uint32_t>(sqlite3_column_int64(s, first));
      r.version = sqlite3_column_int64(s, first + 1);
      AssignBlob(s, first + 2, r.data);
      AssignBlob(s, first + 3, r.sequences);
      r.checksum = sqlite3_column_type(s, first + 4) == SQLITE_NULL ? -1 : sqlite3_column_int64(s, first + 4);
    }
    rows.resize(n);
    int16_t st = rc == SQLITE_DONE ? int16_t{B_OK} : Failed(rc);
    sqlite3_reset(s);
    return st;
  }

  int16_t FetchByIndex(OpenFile& file, int key, Find how, const std::string& bound, unsigned limit,
                       std::vector<Row>& rows) override {
    KeySlot slot = FetchSlot(how);
    int16_t st;
    sqlite3_stmt* s = KeySlotOf(file, key, slot, st);
    if (!s) return st;
    BindBlob(s, 1, bound);
    sqlite3_bind_int(s, 2, static_cast<int>(limit));
    return CollectRows(s, true, rows);
  }

  int16_t FetchPhysical(OpenFile& file, bool forward, int64_t bound, unsigned limit,
                        std::vector<Row>& rows) override {
    int16_t st;
    sqlite3_stmt* s = RecordSlotOf(file, forward ? kSlotStepNext : kSlotStepPrev, st);
    if (!s) return st;
    sqlite3_bind_int64(s, 1, bound);
    sqlite3_bind_int(s, 2, static_cast<int>(limit));
    return CollectRows(s, false, rows);
  }

  int16_t FetchRecord(OpenFile& file, uint32_t pos, Row& row, bool& found) override {
    found = false;
    int16_t st;
    sqlite3_stmt* s = RecordSlotOf(file, kSlotFetch, st);
    if (!s) return st;
    sqlite3_bind_int64(s, 1, pos);
    int rc = sqlite3_step(s);
    if (rc == SQLITE_ROW) {
      found = true;
      row.pos = pos;
      row.version = sqlite3_column_int64(s, 0);
      row.data = ColumnBlob(s, 1);
      row.sequences = ColumnBlob(s, 2);
      row.checksum = sqlite3_column_type(s, 3) == SQLITE_NULL ? -1 : sqlite3_column_int64(s, 3);
      st = B_OK;
    } else {
      st = rc == SQLITE_DONE ? int16_t{B_OK} : Failed(rc);
    }
    sqlite3_reset(s);
    return st;
  }

  int16_t FindIndexEntry(OpenFile& file, int key, const std::string& entry, uint32_t& pos,
                         bool& found) override {
    found = false;
    int16_t st;
    sqlite3_stmt* s = KeySlotOf(file, key, kSlotExact, st);
    if (!s) return st;
    BindBlob(s, 1, entry);
    int rc = sqlite3_step(s);
    if (rc == SQLITE_ROW) {
      found = true;
      pos = static_cast<uint32_t>(sqlite3_column_int64(s, 0));
      st = B_OK;
    } else {
      st = rc == SQLITE_DONE ? int16_t{B_OK} : Failed(rc);
    }
    sqlite3_reset(s);
    return st;
  }

  int16_t ListIndexEntries(OpenFile& file, int key, const std::string& after, unsigned limit,
                           std::vector<std::pair<std::string, uint32_t>>& out) override {
    out.clear();
    int16_t st;
    sqlite3_stmt* s = KeySlotOf(file, key, kSlotList, st);
    if (!s) return st;
    BindBlob(s, 1, after);
    sqlite3_bind_int(s, 2, static_cast<int>(limit));
    int rc;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW)
      out.emplace_back(ColumnBlob(s, 0), static_cast<uint32_t>(sqlite3_column_int64(s, 1)));
    st = rc == SQLITE_DONE ? int16_t{B_OK} : Failed(rc);
    sqlite3_reset(s);
    return st;
  }

  int16_t InsertIndexEntry(OpenFile& file, int key, const std::string& entry, uint32_t pos) override {
    int16_t st;
    sqlite3_stmt* s = KeySlotOf(file, key, kSlotInsert, st);
    if (!s) return st;
    BindBlob(s, 1, entry);
    sqlite3_bind_int64(s, 2, pos);
    return Run(s);
  }

  int16_t DeleteIndexEntry(OpenFile& file, int key, const std::string& entry) override {
    int16_t st;
    sqlite3_stmt* s = KeySlotOf(file, key, kSlotDelete, st);
    if (!s) return st;
    BindBlob(s, 1, entry);
    return Run(s);
  }

  // Writes a whole record row through the insert or the update statement
  // (both bind position, version, data, insertion numbers and checksum).
  int16_t WriteRecordRow(OpenFile& file, RowWrite how, uint32_t pos, int64_t version, const std::string& data,
                         const std::string& sequences, uint32_t checksum) override {
    RowSlot slot = how == RowWrite::kInsert ? kSlotInsertRow : kSlotUpdateRow;
    int16_t st;
    sqlite3_stmt* s = RecordSlotOf(file, slot, st);
    if (!s) return st;
    sqlite3_bind_int64(s, 1, pos);
    sqlite3_bind_int64(s, 2, version);
    BindBlob(s, 3, data);
    BindBlob(s, 4, sequences);
    sqlite3_bind_int64(s, 5, checksum);
    return Run(s);
  }

  int16_t DeleteRecordRow(OpenFile& file, uint32_t pos) override {
    int16_t st;
    sqlite3_stmt* s = RecordSlotOf(file, kSlotDeleteRow, st);
    if (!s) return st;
    sqlite3_bind_int64(s, 1, pos);
    return Run(s);
  }

  void CheckStorage(std::vector<std::string>& faults) override {
    sqlite3_stmt* s = nullptr;
    if (Prepare("PRAGMA quick_check", s) != B_OK) return;
    while (sqlite3_step(s) == SQLITE_ROW) {
      const unsigned char* t = sqlite3_column_text(s, 0);
      std::string line = t ? reinterpret_cast<const char*>(t) : "";
      if (line != "ok") faults.push_back("database: " + line);
    }
    sqlite3_finalize(s);
  }
};

}  // namespace

int16_t OpenSqliteStore(Directory& dir, bool create, std::unique_ptr<Store>& out) {
  out.reset();
  std::string file = dir.path + "/" + kStoreName;
  if (!create && access(file.c_str(), F_OK) != 0) return B_FILE_NOT_FOUND;
  auto store = std::make_unique<SqliteStore>(dir);
  int16_t st = store->OpenLockFile();
  if (st != B_OK) return create ? int16_t{B_CREATE_IO_ERROR} : st;
  st = store->OpenConnection(create);
  if (st != B_OK) return st;
  out = std::move(store);
  return B_OK;
}

int16_t BackupSqliteStore(Store& from, const std::string& target, std::string& report) {
  auto* kept = dynamic_cast<SqliteStore*>(&from);
  if (kept == nullptr) {
    report += "the folder is not kept in SQLite\n";
    return B_INVALID_OPERATION;
  }
  SqliteStore& source = *kept;
  int16_t st = source.Connect();
  if (st != B_OK) return st;
  sqlite3* copy = nullptr;
  int rc = sqlite3_open_v2(target.c_str(), &copy, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  if (rc == SQLITE_OK) {
    // One step: the whole database from one read snapshot, which writers
    // of the write-ahead log do not wait for.
    sqlite3_backup* backup = sqlite3_backup_init(copy, "main", source.db, "main");
    if (backup) {
      rc = sqlite3_backup_step(backup, -1);
      sqlite3_backup_finish(backup);
      if (rc == SQLITE_DONE) rc = SQLITE_OK;
    } else {
      rc = sqlite3_errcode(copy);
    }
  }
  if (rc == SQLITE_OK) rc = sqlite3_exec(copy, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) {
    report += std::string("copy failed: ") + (copy ? sqlite3_errmsg(copy) : sqlite3_errstr(rc)) + "\n";
    st = NoteFailure(SqliteStatus(rc), &source.dir, copy ? sqlite3_errmsg(copy) : sqlite3_errstr(rc), 0,
                     "SQLite", rc);
    sqlite3_close(copy);
    unlink(target.c_str());
    return st == B_OK ? int16_t{B_IO_ERROR} : st;
  }
  sqlite3_close(copy);
  return B_OK;
}

}  // namespace recman
