// store.cpp - SQLite storage: connections, catalog, record and index rows.
//
// Each directory has one connection per process, in write-ahead-log mode so
// that readers never wait for a writer, with synchronous=FULL so that a
// commit is on disk before it is reported (tests and benchmarks may trade
// that away through recman/testing.h; nothing read from the environment
// can).  The log is checkpointed into the database file every 1000 pages
// and cut back to kRecmanLogLimitBytes when it starts again.  A busy handler
// waits for other processes' write transactions (RECMAN_BUSY_TIMEOUT_MS,
// 30 s by default); what is still busy after that becomes status 85.
// Statements are prepared once per open file and connection and kept in
// OpenFile::statements.  Every failure of SQLite leaves its extended code,
// message and errno as the call's diagnostic (integrity.h).
#include "recman/store.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "platform/le.h"
#include "recman/integrity.h"
#include "recman/locks.h"
#include "recman/recman.h"
#include "recman/testing.h"

namespace {

// Statement slots of an open file: kPerKey for each key, then the record ones.
enum KeySlot { kSlotGe, kSlotGt, kSlotLe, kSlotLt, kSlotExact, kSlotInsert, kSlotDelete, kPerKey };
enum RecordSlot {
  kSlotFetch,
  kSlotInsertRow,
  kSlotUpdateRow,
  kSlotDeleteRow,
  kSlotStepNext,
  kSlotStepPrev,
  kSlotAllocate,
  kSlotAllocated,
  kSlotCount,
  kSlotAdjust,
  kRecordSlots
};

int gBusyTimeoutForTests = -1;

int BusyTimeoutMs() {
  if (gBusyTimeoutForTests >= 0) return gBusyTimeoutForTests;
  const char* v = std::getenv("RECMAN_BUSY_TIMEOUT_MS");
  if (v && *v) {
    long n = std::strtol(v, nullptr, 10);
    if (n >= 0 && n < 24L * 3600 * 1000) return static_cast<int>(n);
  }
  return 30000;
}

RecmanDurability gDurability = RecmanDurability::kFull;

const char* SynchronousPragma() {
  switch (gDurability) {
    case RecmanDurability::kNormal: return "PRAGMA synchronous=NORMAL";
    case RecmanDurability::kOff: return "PRAGMA synchronous=OFF";
    default: return "PRAGMA synchronous=FULL";
  }
}

// The log's checkpoint threshold in pages (SQLite's default, said aloud).
constexpr int kCheckpointPages = 1000;

Directory* DirectoryOf(sqlite3* db) {
  for (auto& [path, dir] : gRecman.directories)
    if (dir->db == db) return dir.get();
  return nullptr;
}

// The status of a failed SQLite call, with its diagnostic noted.
int16_t Failed(const Directory* dir, sqlite3* db, int rc) {
  int16_t st = SqliteStatus(rc);
  if (st == B_OK || (rc & 0xFF) == SQLITE_CONSTRAINT) return st;
  int code = db ? sqlite3_extended_errcode(db) : rc;
  std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  int os = db ? sqlite3_system_errno(db) : 0;
  return NoteFailure(st, dir, message, os, "SQLite", code);
}
int16_t Failed(sqlite3_stmt* s, int rc) {
  sqlite3* db = sqlite3_db_handle(s);
  return Failed(DirectoryOf(db), db, rc);
}

// Prepares `sql` on the directory's database into `s`; B_OK, or the status
// of the failure with its diagnostic noted (`s` then null).
int16_t Prepare(Directory& dir, const char* sql, sqlite3_stmt*& s) {
  s = nullptr;
  int rc = sqlite3_prepare_v2(dir.db, sql, -1, &s, nullptr);
  return rc == SQLITE_OK ? int16_t{B_OK} : Failed(&dir, dir.db, rc);
}

std::string Table(const OpenFile& f) { return "r" + std::to_string(f.id); }
std::string IndexTable(const OpenFile& f, int key) {
  return "k" + std::to_string(f.id) + "_" + std::to_string(key);
}

std::string SlotSql(const OpenFile& f, size_t slot) {
  size_t keys = f.spec.keys.size();
  if (slot < keys * kPerKey) {
    int key = static_cast<int>(slot / kPerKey);
    std::string x = IndexTable(f, key), r = Table(f);
    std::string join = "SELECT x.ik, x.pos, r.ver, r.data, r.seqs, r.sum FROM " + x + " AS x CROSS JOIN " +
                       r + " AS r ON r.pos = x.pos WHERE x.ik ";
    switch (slot % kPerKey) {
      case kSlotGe: return join + ">= ?1 ORDER BY x.ik LIMIT ?2";
      case kSlotGt: return join + "> ?1 ORDER BY x.ik LIMIT ?2";
      case kSlotLe: return join + "<= ?1 ORDER BY x.ik DESC LIMIT ?2";
      case kSlotLt: return join + "< ?1 ORDER BY x.ik DESC LIMIT ?2";
      case kSlotExact: return "SELECT pos FROM " + x + " WHERE ik = ?1";
      case kSlotInsert: return "INSERT INTO " + x + "(ik, pos) VALUES(?1, ?2)";
      default: return "DELETE FROM " + x + " WHERE ik = ?1";
    }
  }
  std::string r = Table(f), id = std::to_string(f.id);
  switch (slot - keys * kPerKey) {
    case kSlotFetch: return "SELECT ver, data, seqs, sum FROM " + r + " WHERE pos = ?1";
    case kSlotInsertRow: return "INSERT INTO " + r + "(pos, ver, data, seqs, sum) VALUES(?1, ?2, ?3, ?4, ?5)";
    case kSlotUpdateRow:
      return "UPDATE " + r + " SET ver = ?2, data = ?3, seqs = ?4, sum = ?5 WHERE pos = ?1";
    case kSlotDeleteRow: return "DELETE FROM " + r + " WHERE pos = ?1";
    case kSlotStepNext:
      return "SELECT pos, ver, data, seqs, sum FROM " + r + " WHERE pos > ?1 ORDER BY pos LIMIT ?2";
    case kSlotStepPrev:
      return "SELECT pos, ver, data, seqs, sum FROM " + r + " WHERE pos < ?1 ORDER BY pos DESC LIMIT ?2";
    // Two plain statements: UPDATE ... RETURNING builds a temporary table on
    // every call and cost more than the rest of an insert.
    case kSlotAllocate:
      return "UPDATE recman_file SET next_pos = next_pos + 1, records = records + ?1 WHERE id = " + id;
    case kSlotAllocated: return "SELECT next_pos - 1 FROM recman_file WHERE id = " + id;
    case kSlotCount: return "SELECT records FROM recman_file WHERE id = " + id;
    default: return "UPDATE recman_file SET records = records + ?1 WHERE id = " + id;
  }
}

// The prepared statement of a slot, reset and ready for binding.
sqlite3_stmt* Slot(OpenFile& f, size_t slot, int16_t& status) {
  if (f.statements.empty()) f.statements.assign(f.spec.keys.size() * kPerKey + kRecordSlots, nullptr);
  sqlite3_stmt*& s = f.statements[slot];
  if (s == nullptr) {
    status = EnsureConnection(*f.dir);
    if (status != B_OK) return nullptr;
    std::string sql = SlotSql(f, slot);
    int rc = sqlite3_prepare_v3(f.dir->db, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &s, nullptr);
    if (rc != SQLITE_OK) {
      status = Failed(f.dir, f.dir->db, rc);
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
sqlite3_stmt* RecordSlotOf(OpenFile& f, RecordSlot which, int16_t& status) {
  return Slot(f, f.spec.keys.size() * kPerKey + which, status);
}

void BindBlob(sqlite3_stmt* s, int i, const std::string& v) {
  sqlite3_bind_blob(s, i, v.data(), static_cast<int>(v.size()), SQLITE_STATIC);
}

std::string ColumnBlob(sqlite3_stmt* s, int i) {
  const void* p = sqlite3_column_blob(s, i);
  int n = sqlite3_column_bytes(s, i);
  return p ? std::string(static_cast<const char*>(p), static_cast<size_t>(n)) : std::string();
}

// Steps a statement that returns no rows (or one row that is ignored).
int16_t Run(sqlite3_stmt* s) {
  int rc = sqlite3_step(s);
  int16_t st = (rc == SQLITE_DONE || rc == SQLITE_ROW) ? int16_t{B_OK} : Failed(s, rc);
  sqlite3_reset(s);
  return st;
}

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

// Brings a database of format 1 to format 2, all in one transaction.
int16_t Migrate(Directory& dir) {
  if (QueryInt(dir.db, "SELECT value FROM recman_meta WHERE key = 'format'", 1) >= kFormat) return B_OK;
  int16_t st = Exec(dir, "BEGIN IMMEDIATE");
  if (st != B_OK) return st;
  if (QueryInt(dir.db, "SELECT value FROM recman_meta WHERE key = 'format'", 1) >= kFormat)
    return Exec(dir, "COMMIT");
  sqlite3_create_function(dir.db, "recman_checksum", 4, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                          ChecksumFunction, nullptr, nullptr);
  std::vector<int64_t> ids;
  sqlite3_stmt* s = nullptr;
  int rc = sqlite3_prepare_v2(dir.db, "SELECT id FROM recman_file", -1, &s, nullptr);
  while (rc == SQLITE_OK && sqlite3_step(s) == SQLITE_ROW) ids.push_back(sqlite3_column_int64(s, 0));
  sqlite3_finalize(s);
  for (int64_t id : ids) {
    std::string r = "r" + std::to_string(id);
    bool has =
        QueryInt(dir.db, "SELECT count(*) FROM pragma_table_info('" + r + "') WHERE name = 'sum'", 0) > 0;
    std::string sql = has ? "" : "ALTER TABLE " + r + " ADD COLUMN sum INTEGER;";
    sql += "UPDATE " + r + " SET sum = recman_checksum(pos, ver, data, seqs) WHERE sum IS NULL;";
    st = Exec(dir, sql.c_str());
    if (st != B_OK) break;
  }
  if (st == B_OK)
    st = Exec(
        dir, ("UPDATE recman_meta SET value = " + std::to_string(kFormat) + " WHERE key = 'format'").c_str());
  if (st == B_OK) st = Exec(dir, "COMMIT");
  if (st != B_OK) Exec(dir, "ROLLBACK");
  sqlite3_create_function(dir.db, "recman_checksum", 4, SQLITE_UTF8, nullptr, nullptr, nullptr, nullptr);
  return st;
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

// Opens the directory's database for reading only.  A database in
// write-ahead-log mode is read through the log's index, shared memory
// that SQLite keeps in "recman.db-shm": with a station at work it is there
// and is read as it is.  With none, this user may be unable to make it
// (a folder it may read but not write); the database file then holds every
// commit (the last station to leave put the log into it), and is read as
// an immutable file until a station starts writing.
int16_t OpenReadOnlyConnection(Directory& dir, sqlite3*& db, bool& present) {
  std::string file = dir.path + "/" + kStoreName;
  dir.immutable = false;
  for (;;) {
    int flags = SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX;
    int rc = sqlite3_open_v2(StoreUri(file, dir.immutable).c_str(), &db, flags, nullptr);
    if (rc == SQLITE_OK) present = CatalogPresent(db, rc);
    if (rc == SQLITE_OK) return B_OK;
    int code = db ? sqlite3_extended_errcode(db) : rc;
    // The log's index cannot be made: SQLite would have to write the
    // folder (SQLITE_READONLY_DIRECTORY) or the index file.
    bool noIndex = code == SQLITE_READONLY_CANTINIT || code == SQLITE_READONLY_DIRECTORY ||
                   (code & 0xFF) == SQLITE_CANTOPEN;
    if (!dir.immutable && noIndex && !FileExists(file + "-wal")) {
      sqlite3_close(db);
      db = nullptr;
      dir.immutable = true;
      continue;
    }
    int16_t st = (code & 0xFF) == SQLITE_CANTOPEN || (code & 0xFF) == SQLITE_PERM ? int16_t{B_ACCESS_DENIED}
                                                                                  : SqliteStatus(code);
    if (st == B_OK) st = B_IO_ERROR;
    NoteFailure(st, &dir, db ? sqlite3_errmsg(db) : sqlite3_errstr(rc), db ? sqlite3_system_errno(db) : 0,
                "SQLite", code);
    sqlite3_close(db);
    db = nullptr;
    return st;
  }
}

int16_t OpenConnection(Directory& dir, bool create) {
  ConfigureLibrary();
  std::string file = dir.path + "/" + kStoreName;
  sqlite3* db = nullptr;
  bool present = false;
  int16_t st = B_OK;
  if (dir.readOnly) {
    st = OpenReadOnlyConnection(dir, db, present);
    if (st != B_OK) return st;
  } else {
    if (create) {
      // SQLite would make a new database with mode 0644: made here first,
      // empty, with 0666 less the umask, so that a folder shared by a group
      // of users stays writable for all of them (SQLite gives its log and
      // shared-memory files the database's own mode).
      int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
      if (fd >= 0) close(fd);
    }
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | (create ? SQLITE_OPEN_CREATE : 0);
    int rc = sqlite3_open_v2(file.c_str(), &db, flags, nullptr);
    if (rc == SQLITE_OK) present = CatalogPresent(db, rc);
    if (rc != SQLITE_OK) {
      st = create ? B_CREATE_IO_ERROR : B_FILE_NOT_FOUND;
      if ((rc & 0xFF) == SQLITE_NOTADB || (rc & 0xFF) == SQLITE_CORRUPT) st = B_IO_ERROR;
      NoteFailure(st, &dir, db ? sqlite3_errmsg(db) : sqlite3_errstr(rc), db ? sqlite3_system_errno(db) : 0,
                  "SQLite", db ? sqlite3_extended_errcode(db) : rc);
      sqlite3_close(db);
      return st;
    }
    // SQLite opens a file this user may not write for reading, and says so
    // only at the first write: said here, at the open.
    if (sqlite3_db_readonly(db, "main") == 1) {
      st = NoteSystemFailure(B_ACCESS_DENIED, &dir, file, access(file.c_str(), W_OK) == 0 ? EROFS : errno);
      sqlite3_close(db);
      return st;
    }
  }
  // A database without the catalog is one that was never made, or one
  // emptied or cut short since: only a create makes the catalog.  Nothing
  // else writes into it, so that a lost database stays what it is.
  if (!present && !create) {
    sqlite3_close(db);
    return B_FILE_NOT_FOUND;
  }
  dir.db = db;
  sqlite3_extended_result_codes(db, 1);
  sqlite3_busy_timeout(db, BusyTimeoutMs());
  if (!dir.readOnly) st = Exec(dir, "PRAGMA journal_mode=WAL");
  if (st == B_OK) st = Exec(dir, SynchronousPragma());
  if (st == B_OK) st = Exec(dir, ("PRAGMA wal_autocheckpoint=" + std::to_string(kCheckpointPages)).c_str());
  if (st == B_OK)
    st = Exec(dir, ("PRAGMA journal_size_limit=" + std::to_string(kRecmanLogLimitBytes)).c_str());
  // Reads go through a mapping of the database (up to 256 MiB) instead of
  // copies in SQLite's page cache, which then mostly holds the pages being
  // written: 8 MiB.  A settlement of 571k records stays under 80 MiB.
  if (st == B_OK) st = Exec(dir, "PRAGMA cache_size=-8192");
  if (st == B_OK) st = Exec(dir, "PRAGMA mmap_size=268435456");
  if (st == B_OK) st = Exec(dir, "PRAGMA temp_store=MEMORY");
  if (st == B_OK && !present) {
    st = Exec(dir, "BEGIN IMMEDIATE");
    if (st == B_OK) {
      st = Exec(dir, kSchema);
      if (st == B_OK) st = Exec(dir, "COMMIT");
      if (st != B_OK) Exec(dir, "ROLLBACK");
    }
  }
  // A reader leaves a database of the first format as it is (its records
  // are read without their checksums' column: see Migrate).
  if (st == B_OK && !dir.readOnly) st = Migrate(dir);
  if (st == B_OK) {
    // The file opened must be the one the directory's open files live in:
    // a reopen (after a fork) that finds another database there refuses.
    struct stat info;
    if (stat(file.c_str(), &info) != 0) {
      st = NoteFailure(B_IO_ERROR, &dir, "cannot find " + file + " after opening it", errno);
    } else if (dir.storeInode == 0) {
      dir.storeDevice = info.st_dev;
      dir.storeInode = info.st_ino;
    } else if (dir.storeDevice != info.st_dev || dir.storeInode != info.st_ino) {
      st = NoteFailure(B_IO_ERROR, &dir, file + " was replaced since this process opened it");
    }
  }
  if (st != B_OK) {
    sqlite3_close(db);
    dir.db = nullptr;
  }
  return st;
}

// Whether the directory's database file is gone or another file stands at
// its path (the folder was deleted and made again).
bool StoreReplaced(const Directory& dir) {
  if (dir.storeInode == 0) return false;
  struct stat info;
  std::string file = dir.path + "/" + kStoreName;
  if (stat(file.c_str(), &info) != 0) return true;
  return info.st_dev != dir.storeDevice || info.st_ino != dir.storeInode;
}

bool DirectoryInUse(const Directory* dir) {
  if (dir->transactionOpen) return true;
  for (const auto& [key, file] : gRecman.files)
    if (file->dir == dir) return true;
  return false;
}

}  // namespace

void RecmanSetDurabilityForTests(RecmanDurability durability) {
  std::lock_guard<std::mutex> guard(gRecman.mutex);
  gDurability = durability;
}

void RecmanSetBusyTimeoutForTests(int milliseconds) {
  std::lock_guard<std::mutex> guard(gRecman.mutex);
  gBusyTimeoutForTests = milliseconds;
  for (auto& [path, dir] : gRecman.directories)
    if (dir->db) sqlite3_busy_timeout(dir->db, milliseconds);
}

bool SyncEnabled() { return gDurability != RecmanDurability::kOff; }

int16_t SqliteFailure(Directory& dir, int rc) { return Failed(&dir, dir.db, rc); }

int16_t CheckStoreIdentity(Directory& dir) {
  if (!StoreReplaced(dir)) return B_OK;
  return NoteFailure(B_IO_ERROR, &dir,
                     dir.path + "/" + kStoreName +
                         " was replaced or deleted since this station opened it: nothing was written");
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

int16_t Exec(Directory& dir, const char* sql) {
  if (dir.db == nullptr) return B_IO_ERROR;
  // A folder opened for reading takes no write transaction: a write meets
  // the read-only open's own status, never the storage's.
  if (dir.readOnly && std::strncmp(sql, "BEGIN IMMEDIATE", 15) == 0)
    return NoteFailure(B_ACCESS_DENIED, &dir, "the folder is open for reading only", 0, nullptr, 0,
                       dir.path + "/" + kStoreName);
  int rc = sqlite3_exec(dir.db, sql, nullptr, nullptr, nullptr);
  return rc == SQLITE_OK ? int16_t{B_OK} : Failed(&dir, dir.db, rc);
}

int16_t GetDirectory(const std::string& canonical, bool create, Directory*& out, bool readOnly) {
  out = nullptr;
  if (gRecman.unusableDirectories.count(canonical)) return B_IO_ERROR;
  auto it = gRecman.directories.find(canonical);
  if (it != gRecman.directories.end() && StoreReplaced(*it->second)) {
    // The folder was replaced.  Files still open in the old one keep their
    // entry under another name until the process ends; opens and creates
    // from now on go to the new folder.
    if (DirectoryInUse(it->second.get())) {
      auto node = gRecman.directories.extract(it);
      node.key() = canonical + '\n' + std::to_string(++gRecman.replacedDirectories);
      gRecman.directories.insert(std::move(node));
    } else {
      if (it->second->db) CloseConnection(*it->second);
      CloseLockFile(*it->second);
      gRecman.directories.erase(it);
    }
    it = gRecman.directories.end();
  }
  if (it != gRecman.directories.end()) {
    out = it->second.get();
    // Opened for reading and now wanted for writing: the connection is
    // made again for writing (the handles open on it keep their files; the
    // lock file stays, with the open locks taken on it).
    if (out->readOnly && !readOnly) {
      if (out->transactionOpen) {
        out = nullptr;
        return B_OPERATION_NOT_ALLOWED;
      }
      if (out->lockFd >= 0 && !out->lockWritable) {
        out = nullptr;
        return NoteSystemFailure(B_ACCESS_DENIED, it->second.get(), canonical + "/" + kLockName, EACCES);
      }
      CloseConnection(*out);
      out->readOnly = false;
      out->immutable = false;
      if (out->lockFd < 0) {
        int16_t st = OpenLockFile(*out);
        if (st != B_OK) {
          out->readOnly = true;
          out = nullptr;
          return st;
        }
      }
    }
    int16_t st = EnsureConnection(*out);
    if (st != B_OK) out = nullptr;
    return st;
  }
  std::string file = canonical + "/" + kStoreName;
  if (!create && access(file.c_str(), F_OK) != 0) return B_FILE_NOT_FOUND;
  auto dir = std::make_unique<Directory>();
  dir->path = canonical;
  dir->readOnly = readOnly && !create;
  int16_t st = OpenLockFile(*dir);
  if (st != B_OK) return create ? int16_t{B_CREATE_IO_ERROR} : st;
  st = OpenConnection(*dir, create);
  if (st != B_OK) {
    CloseLockFile(*dir);
    return st;
  }
  out = dir.get();
  gRecman.directories.emplace(canonical, std::move(dir));
  return B_OK;
}

int16_t EnsureConnection(Directory& dir) {
  if (dir.db) return B_OK;
  if (dir.lockFd < 0 && !dir.readOnly) {
    int16_t st = OpenLockFile(dir);
    if (st != B_OK) return st;
  }
  return OpenConnection(dir, false);
}

void CloseConnection(Directory& dir) {
  for (auto& [key, file] : gRecman.files) {
    if (file->dir != &dir) continue;
    for (sqlite3_stmt*& s : file->statements) {
      sqlite3_finalize(s);
      s = nullptr;
    }
  }
  if (dir.db) sqlite3_close_v2(dir.db);
  dir.db = nullptr;
  dir.snapshotOpen = false;
}

int16_t ListCatalogEntries(Directory& dir, const std::string& name, std::vector<CatalogEntry>& out) {
  out.clear();
  if (dir.db == nullptr) return B_IO_ERROR;
  sqlite3_stmt* s = nullptr;
  int16_t st = Prepare(dir,
                       "SELECT id, uuid, spec, owner_salt, owner_hash, owner_mode "
                       "FROM recman_file WHERE name = ?1 COLLATE NOCASE ORDER BY id DESC",
                       s);
  if (st != B_OK) return st;
  sqlite3_bind_text(s, 1, name.data(), static_cast<int>(name.size()), SQLITE_STATIC);
  int rc = SQLITE_OK;
  while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
    CatalogEntry& e = out.emplace_back();
    e.id = sqlite3_column_int64(s, 0);
    e.name = name;
    const unsigned char* u = sqlite3_column_text(s, 1);
    e.uuid = u ? reinterpret_cast<const char*>(u) : "";
    e.spec = ColumnBlob(s, 2);
    e.ownerSalt = ColumnBlob(s, 3);
    e.ownerHash = ColumnBlob(s, 4);
    e.ownerMode = sqlite3_column_int(s, 5);
  }
  st = rc == SQLITE_DONE ? int16_t{B_OK} : Failed(&dir, dir.db, rc);
  sqlite3_finalize(s);
  return st;
}

int16_t FindCatalogEntry(Directory& dir, const std::string& name, CatalogEntry& out, bool& found) {
  std::vector<CatalogEntry> all;
  int16_t st = ListCatalogEntries(dir, name, all);
  found = st == B_OK && !all.empty();
  if (found) out = all.front();
  return st;
}

int16_t AddCatalogEntry(Directory& dir, const std::string& name, const std::string& uuid,
                        const FileSpec& spec, int64_t& id) {
  sqlite3_stmt* s = nullptr;
  int16_t st = Prepare(dir, "INSERT INTO recman_file(name, uuid, spec) VALUES(?1, ?2, ?3)", s);
  if (st != B_OK) return st;
  sqlite3_bind_text(s, 1, name.data(), static_cast<int>(name.size()), SQLITE_STATIC);
  sqlite3_bind_text(s, 2, uuid.data(), static_cast<int>(uuid.size()), SQLITE_STATIC);
  BindBlob(s, 3, spec.image);
  int rc = sqlite3_step(s);
  sqlite3_finalize(s);
  if (rc != SQLITE_DONE) return Failed(&dir, dir.db, rc);
  id = sqlite3_last_insert_rowid(dir.db);
  std::string ids = std::to_string(id);
  std::string sql = "CREATE TABLE r" + ids +
                    "(pos INTEGER PRIMARY KEY, ver INTEGER NOT NULL, data BLOB NOT NULL, seqs BLOB NOT NULL,"
                    " sum INTEGER);";
  for (size_t k = 0; k < spec.keys.size(); ++k)
    sql += "CREATE TABLE k" + ids + "_" + std::to_string(k) +
           "(ik BLOB PRIMARY KEY, pos INTEGER NOT NULL) WITHOUT ROWID;";
  return Exec(dir, sql.c_str());
}

int16_t DropCatalogEntry(Directory& dir, int64_t id, size_t keyCount) {
  std::string ids = std::to_string(id);
  std::string sql = "DROP TABLE IF EXISTS r" + ids + ";";
  for (size_t k = 0; k < keyCount; ++k) sql += "DROP TABLE IF EXISTS k" + ids + "_" + std::to_string(k) + ";";
  sql += "DELETE FROM recman_file WHERE id = " + ids + ";";
  return Exec(dir, sql.c_str());
}

int16_t SetOwnerEntry(Directory& dir, int64_t id, const std::string& salt, const std::string& hash,
                      int mode) {
  sqlite3_stmt* s = nullptr;
  int16_t st = Prepare(
      dir, "UPDATE recman_file SET owner_salt = ?1, owner_hash = ?2, owner_mode = ?3 WHERE id = ?4", s);
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
  return rc == SQLITE_DONE ? int16_t{B_OK} : Failed(&dir, dir.db, rc);
}

int16_t ReadRecordCount(OpenFile& file, uint32_t& count) {
  int16_t st;
  sqlite3_stmt* s = RecordSlotOf(file, kSlotCount, st);
  if (!s) return st;
  int rc = sqlite3_step(s);
  if (rc == SQLITE_ROW) {
    int64_t n = sqlite3_column_int64(s, 0);
    auto pending = file.dir->pendingCounts.find(file.id);
    if (pending != file.dir->pendingCounts.end()) n += pending->second;
    count = n < 0 ? 0 : static_cast<uint32_t>(n > 0xFFFFFFFFLL ? 0xFFFFFFFFLL : n);
    st = B_OK;
  } else {
    st = rc == SQLITE_DONE ? int16_t{B_IO_ERROR} : Failed(s, rc);
  }
  sqlite3_reset(s);
  return st;
}

int16_t AllocatePosition(OpenFile& file, bool countRecord, uint64_t& value) {
  int16_t st;
  sqlite3_stmt* s = RecordSlotOf(file, kSlotAllocate, st);
  if (!s) return st;
  sqlite3_bind_int(s, 1, countRecord ? 1 : 0);
  st = Run(s);
  if (st != B_OK) return st;
  // The write transaction holds the database: nobody moved next_pos since.
  s = RecordSlotOf(file, kSlotAllocated, st);
  if (!s) return st;
  int rc = sqlite3_step(s);
  if (rc == SQLITE_ROW) {
    value = static_cast<uint64_t>(sqlite3_column_int64(s, 0));
    st = value == 0 || value > 0xFFFFFFFFull ? B_DISK_FULL : B_OK;
  } else {
    st = rc == SQLITE_DONE ? int16_t{B_IO_ERROR} : Failed(s, rc);
  }
  sqlite3_reset(s);
  return st;
}

int16_t AdjustRecordCount(OpenFile& file, int delta) {
  if (gRecman.inTransaction && file.dir->transactionOpen) {
    file.dir->pendingCounts[file.id] += delta;
    return B_OK;
  }
  int16_t st;
  sqlite3_stmt* s = RecordSlotOf(file, kSlotAdjust, st);
  if (!s) return st;
  sqlite3_bind_int(s, 1, delta);
  return Run(s);
}

int16_t FlushRecordCounts(Directory& dir) {
  if (dir.pendingCounts.empty()) return B_OK;
  if (dir.db == nullptr) return B_IO_ERROR;
  sqlite3_stmt* s = nullptr;
  int16_t st = Prepare(dir, "UPDATE recman_file SET records = records + ?1 WHERE id = ?2", s);
  if (st != B_OK) return st;
  for (const auto& [id, delta] : dir.pendingCounts) {
    if (delta == 0) continue;
    sqlite3_bind_int64(s, 1, delta);
    sqlite3_bind_int64(s, 2, id);
    st = Run(s);
    if (st != B_OK) break;
  }
  sqlite3_finalize(s);
  dir.pendingCounts.clear();
  return st;
}

namespace {

// Steps a bound row query to its end.  The columns are those of the index
// join (sort key, position, version, data, insertion numbers) or, without a
// sort key, of the record table (position, version, data, insertion
// numbers).
int16_t CollectRows(sqlite3_stmt* s, bool withSortKey, std::vector<Row>& rows) {
  const int first = withSortKey ? 1 : 0;
  int rc;
  while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
    Row& r = rows.emplace_back();
    if (withSortKey) r.sortKey = ColumnBlob(s, 0);
    r.pos = static_cast<uint32_t>(sqlite3_column_int64(s, first));
    r.version = sqlite3_column_int64(s, first + 1);
    r.data = ColumnBlob(s, first + 2);
    r.sequences = ColumnBlob(s, first + 3);
    r.checksum = sqlite3_column_type(s, first + 4) == SQLITE_NULL ? -1 : sqlite3_column_int64(s, first + 4);
  }
  int16_t st = rc == SQLITE_DONE ? int16_t{B_OK} : Failed(s, rc);
  sqlite3_reset(s);
  return st;
}

}  // namespace

int16_t FetchByIndex(OpenFile& file, int key, Find how, const std::string& bound, unsigned limit,
                     std::vector<Row>& rows) {
  rows.clear();
  KeySlot slot = how == Find::kGe   ? kSlotGe
                 : how == Find::kGt ? kSlotGt
                 : how == Find::kLe ? kSlotLe
                                    : kSlotLt;
  int16_t st;
  sqlite3_stmt* s = KeySlotOf(file, key, slot, st);
  if (!s) return st;
  BindBlob(s, 1, bound);
  sqlite3_bind_int(s, 2, static_cast<int>(limit));
  return CollectRows(s, true, rows);
}

int16_t FetchPhysical(OpenFile& file, bool forward, int64_t bound, unsigned limit, std::vector<Row>& rows) {
  rows.clear();
  int16_t st;
  sqlite3_stmt* s = RecordSlotOf(file, forward ? kSlotStepNext : kSlotStepPrev, st);
  if (!s) return st;
  sqlite3_bind_int64(s, 1, bound);
  sqlite3_bind_int(s, 2, static_cast<int>(limit));
  return CollectRows(s, false, rows);
}

int16_t FetchRecord(OpenFile& file, uint32_t pos, Row& row, std::string& sequences, bool& found) {
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
    sequences = ColumnBlob(s, 2);
    row.sequences = sequences;
    row.checksum = sqlite3_column_type(s, 3) == SQLITE_NULL ? -1 : sqlite3_column_int64(s, 3);
    st = B_OK;
  } else {
    st = rc == SQLITE_DONE ? int16_t{B_OK} : Failed(s, rc);
  }
  sqlite3_reset(s);
  return st;
}

int16_t FindIndexEntry(OpenFile& file, int key, const std::string& entry, uint32_t& pos, bool& found) {
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
    st = rc == SQLITE_DONE ? int16_t{B_OK} : Failed(s, rc);
  }
  sqlite3_reset(s);
  return st;
}

int16_t InsertIndexEntry(OpenFile& file, int key, const std::string& entry, uint32_t pos) {
  int16_t st;
  sqlite3_stmt* s = KeySlotOf(file, key, kSlotInsert, st);
  if (!s) return st;
  BindBlob(s, 1, entry);
  sqlite3_bind_int64(s, 2, pos);
  return Run(s);
}

int16_t DeleteIndexEntry(OpenFile& file, int key, const std::string& entry) {
  int16_t st;
  sqlite3_stmt* s = KeySlotOf(file, key, kSlotDelete, st);
  if (!s) return st;
  BindBlob(s, 1, entry);
  return Run(s);
}

namespace {

// Writes a whole record row through the insert or the update statement
// (both bind position, version, data and insertion numbers alike).
int16_t WriteRecordRow(OpenFile& file, RecordSlot slot, uint32_t pos, int64_t version,
                       const std::string& data, const std::string& sequences, uint32_t checksum) {
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

}  // namespace

int16_t InsertRecordRow(OpenFile& file, uint32_t pos, int64_t version, const std::string& data,
                        const std::string& sequences, uint32_t checksum) {
  return WriteRecordRow(file, kSlotInsertRow, pos, version, data, sequences, checksum);
}

int16_t UpdateRecordRow(OpenFile& file, uint32_t pos, int64_t version, const std::string& data,
                        const std::string& sequences, uint32_t checksum) {
  return WriteRecordRow(file, kSlotUpdateRow, pos, version, data, sequences, checksum);
}

int16_t DeleteRecordRow(OpenFile& file, uint32_t pos) {
  int16_t st;
  sqlite3_stmt* s = RecordSlotOf(file, kSlotDeleteRow, st);
  if (!s) return st;
  sqlite3_bind_int64(s, 1, pos);
  return Run(s);
}

uint64_t SequenceOf(const std::string& sequences, size_t key) {
  if (sequences.size() < (key + 1) * 8) return 0;
  return GetLe64(sequences.data() + key * 8);
}

void SetSequence(std::string& sequences, size_t key, uint64_t value) {
  if (sequences.size() < (key + 1) * 8) sequences.resize((key + 1) * 8, '\0');
  PutLe64(sequences.data() + key * 8, value);
}

bool IndexEntry(const FileSpec& spec, size_t key, const uint8_t* record, const std::string& sequences,
                std::string& out) {
  const KeyDef& k = spec.keys[key];
  if (!EncodeRecordKey(spec, k, record, out)) return false;
  if (k.duplicates) AppendSequence(out, SequenceOf(sequences, key));
  return true;
}
