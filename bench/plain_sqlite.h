// plain_sqlite.h - the yardstick of the settlement benchmarks: the same
// reads, updates, deletes and inserts a pass makes, made on plain SQLite.
//
// A pass is traced once (DataFiles.engineObserver): every record operation,
// its key, the record it wrote, the status and the position of the record it
// reached.  The data files the pass opens are copied into one SQLite
// database, one table per file: the record position as the rowid, the
// record as a BLOB and each key's bytes as a BLOB with an index, written so
// that SQLite's byte order is the key's order (the record manager's own
// sort keys, keys.h).  The replay then makes the traced operations on that
// database with the record manager's pragmas, one transaction where the
// pass had one: a keyed read is a query on the key's index whose cursor stays
// open for the steps that follow, an update or delete names the rowid the
// cursor stands on, an insert writes the traced record.  Statistics and
// position queries, and a read of the record the handle already stands on,
// cost a plain program nothing and are not replayed.
//
// The replay notes the rowid (or the status) each read reached; the bench
// compares that with the trace, and the tables with the record files after
// the pass, record for record.
#pragma once
#include <sqlite3.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/le.h"
#include "recman/keys.h"
#include "recman/recman.h"

namespace plain {

// The engine's own reading of a file's layout and encoding of its keys.
using recman::EncodeKeyValue;
using recman::EncodeRecordKey;
using recman::FileSpec;
using recman::KeyDef;
using recman::ParseCreateBuffer;

// One traced call.
struct Call {
  uint8_t op = 0;  // the operation without its biases
  int8_t key = 0;
  int16_t status = 0;
  uint16_t handle = 0;  // index in Trace::handles
  uint16_t keyLength = 0;
  uint32_t dataLength = 0;
  uint64_t keyAt = 0, dataAt = 0;  // in Trace::bytes
  int64_t pos = 0;                 // the record reached or inserted (0 when none)
};

struct Trace {
  std::vector<const void*> handles;   // position blocks, by index
  std::vector<int16_t> fileOfHandle;  // the file number behind each
  std::vector<Call> calls;
  std::string bytes;
  // The files' specifications (Stat buffers), by file number.
  std::map<int16_t, std::string> specs;
};

inline uint8_t PlainOperation(uint16_t op) {
  op = static_cast<uint16_t>(op % 100);
  if (op >= B_KEY_ONLY) op = static_cast<uint16_t>(op - B_KEY_ONLY);
  return static_cast<uint8_t>(op);
}

inline bool IsRead(uint8_t op) {
  return (op >= B_GET_EQUAL && op <= B_GET_LAST) || op == B_GET_DIRECT || op == B_STEP_NEXT ||
         (op >= B_STEP_FIRST && op <= B_STEP_PREVIOUS);
}

// Whether a traced operation is one the replay makes.
inline bool Replayed(uint8_t op) {
  return IsRead(op) || op == B_INSERT || op == B_UPDATE || op == B_DELETE || op == B_BEGIN_TRANS ||
         op == B_END_TRANS || op == B_ABORT_TRANS;
}

// The position the handle stands on, or 0.
inline int64_t EnginePosition(void* positionBlock) {
  unsigned char data[1536];
  std::memset(data, 0, sizeof data);
  uint32_t length = sizeof data;
  char key[256] = {};
  if (BTRCALL(B_GET_POSITION, positionBlock, data, &length, key, 0, 0) != B_OK) return 0;
  return GetLe32(data);
}

// ---- The database ------------------------------------------------------------

inline bool Exec(sqlite3* db, const std::string& sql) {
  return sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

// The record manager's pragmas (store_sqlite.cpp).
inline bool SetPragmas(sqlite3* db) {
  return Exec(db, "PRAGMA journal_mode=WAL") && Exec(db, "PRAGMA synchronous=FULL") &&
         Exec(db, "PRAGMA wal_autocheckpoint=1000") && Exec(db, "PRAGMA cache_size=-8192") &&
         Exec(db, "PRAGMA mmap_size=268435456") && Exec(db, "PRAGMA temp_store=MEMORY");
}

inline std::string Table(int16_t file) { return "f" + std::to_string(file); }
inline std::string KeyColumn(size_t key) { return "k" + std::to_string(key); }

struct FileLayout {
  FileSpec spec;
  bool parsed = false;
};

inline bool ParseSpec(const std::string& stat, FileLayout& layout) {
  layout.parsed =
      ParseCreateBuffer(reinterpret_cast<const uint8_t*>(stat.data()), stat.size(), layout.spec) == 0;
  return layout.parsed;
}

// Binds the key columns of `record` from ?first on (NULL for a null key).
inline void BindKeys(sqlite3_stmt* s, int first, const FileSpec& spec, const uint8_t* record,
                     std::string& scratch) {
  for (size_t k = 0; k < spec.keys.size(); ++k) {
    int at = first + static_cast<int>(k);
    if (EncodeRecordKey(spec, spec.keys[k], record, scratch))
      sqlite3_bind_blob(s, at, scratch.data(), static_cast<int>(scratch.size()), SQLITE_TRANSIENT);
    else sqlite3_bind_null(s, at);
  }
}

// Makes the table of a file (its indexes come after its records: MakeIndexes).
inline bool MakeTable(sqlite3* db, int16_t file, const FileLayout& layout) {
  std::string columns = "rowid_ INTEGER PRIMARY KEY, data BLOB";
  for (size_t k = 0; k < layout.spec.keys.size(); ++k) columns += ", " + KeyColumn(k) + " BLOB";
  return Exec(db, "CREATE TABLE " + Table(file) + " (" + columns + ")");
}
inline bool MakeIndexes(sqlite3* db, int16_t file, const FileLayout& layout) {
  std::string t = Table(file);
  for (size_t k = 0; k < layout.spec.keys.size(); ++k)
    if (!Exec(db, "CREATE INDEX " + t + "_" + KeyColumn(k) + " ON " + t + " (" + KeyColumn(k) + ")"))
      return false;
  return true;
}
inline std::string InsertSql(int16_t file, const FileLayout& layout) {
  std::string marks = "?1, ?2";
  for (size_t k = 0; k < layout.spec.keys.size(); ++k) marks += ", ?" + std::to_string(k + 3);
  return "INSERT INTO " + Table(file) + " VALUES (" + marks + ")";
}
// Writes one record with `insert` (InsertSql).
inline bool InsertRecord(sqlite3_stmt* insert, const FileLayout& layout, int64_t pos,
                         const std::string& record, std::string& scratch) {
  std::string padded = record;
  padded.resize(std::max<size_t>(padded.size(), layout.spec.recordLength), '\0');
  sqlite3_bind_int64(insert, 1, pos);
  sqlite3_bind_blob(insert, 2, record.data(), static_cast<int>(record.size()), SQLITE_TRANSIENT);
  BindKeys(insert, 3, layout.spec, reinterpret_cast<const uint8_t*>(padded.data()), scratch);
  bool ok = sqlite3_step(insert) == SQLITE_DONE;
  sqlite3_reset(insert);
  return ok;
}

// ---- The replay ----------------------------------------------------------------

// Cursor kinds of a handle's open query.
enum Kind : int {
  kGe,
  kGt,
  kLe,
  kLt,
  kAfter,
  kBefore,
  kFirst,
  kLast,
  kPhysicalAfter,
  kPhysicalBefore,
  kKinds
};

struct PlainFile {
  int16_t number = 0;
  FileLayout layout;
  sqlite3_stmt* byRowid = nullptr;
  sqlite3_stmt* update = nullptr;
  sqlite3_stmt* remove = nullptr;
  sqlite3_stmt* insert = nullptr;
};

struct PlainHandle {
  PlainFile* file = nullptr;
  std::vector<sqlite3_stmt*> queries;  // by key * kKinds + kind
  sqlite3_stmt* cursor = nullptr;      // open, positioned on the current row
  int cursorKey = -1;
  bool forward = true;
  bool physical = false;
  int key = -1;  // the key of the current place
  int64_t rowid = 0;
  std::string keyBlob;  // the current row's bytes of `key`
  bool keyBlobKnown = false;
  bool onRow = false;
};

struct Replay {
  sqlite3* db = nullptr;
  std::map<int16_t, PlainFile> files;
  std::vector<PlainHandle> handles;
  std::vector<int64_t> reached;  // per replayed read: rowid, or -status
  std::string scratch;
  bool failed = false;
  std::string problem;

  ~Replay() { Close(); }
  void Close() {
    for (PlainHandle& h : handles)
      for (sqlite3_stmt* s : h.queries) sqlite3_finalize(s);
    handles.clear();
    for (auto& [n, f] : files) {
      sqlite3_finalize(f.byRowid);
      sqlite3_finalize(f.update);
      sqlite3_finalize(f.remove);
      sqlite3_finalize(f.insert);
    }
    files.clear();
    if (db) sqlite3_close(db);
    db = nullptr;
  }

  sqlite3_stmt* Prepare(const std::string& sql) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v3(db, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &s, nullptr) != SQLITE_OK) {
      Fail(sql + ": " + sqlite3_errmsg(db));
      return nullptr;
    }
    return s;
  }
  void Fail(const std::string& why) {
    if (!failed) problem = why;
    failed = true;
  }

  // Opens the copy at `path` for replaying `trace`; the calls on the file
  // numbered `leaveOut` (0: none) are not made.
  bool Open(const std::string& path, const Trace& trace, int16_t leaveOut = 0) {
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK || !SetPragmas(db)) return false;
    for (const auto& [number, stat] : trace.specs) {
      PlainFile& f = files[number];
      f.number = number;
      if (!ParseSpec(stat, f.layout)) return false;
      std::string t = Table(number);
      std::string set = "data = ?2", marks = "?1, ?2";
      for (size_t k = 0; k < f.layout.spec.keys.size(); ++k) {
        set += ", " + KeyColumn(k) + " = ?" + std::to_string(k + 3);
        marks += ", ?" + std::to_string(k + 3);
      }
      std::string keys;
      for (size_t k = 0; k < f.layout.spec.keys.size(); ++k) keys += ", " + KeyColumn(k);
      f.byRowid = Prepare("SELECT rowid_, data" + keys + " FROM " + t + " WHERE rowid_ = ?1");
      f.update = Prepare("UPDATE " + t + " SET " + set + " WHERE rowid_ = ?1");
      f.remove = Prepare("DELETE FROM " + t + " WHERE rowid_ = ?1");
      f.insert = Prepare("INSERT INTO " + t + " VALUES (" + marks + ")");
    }
    handles.resize(trace.handles.size());
    for (size_t i = 0; i < trace.handles.size(); ++i) {
      auto it = files.find(trace.fileOfHandle[i]);
      if (it == files.end() || it->first == leaveOut) continue;
      handles[i].file = &it->second;
      handles[i].queries.assign(std::max<size_t>(1, it->second.layout.spec.keys.size()) * kKinds, nullptr);
    }
    return !failed;
  }

  sqlite3_stmt* Query(PlainHandle& h, int key, Kind kind) {
    sqlite3_stmt*& s = h.queries[static_cast<size_t>(key) * kKinds + kind];
    if (s) return s;
    std::string t = Table(h.file->number), k = KeyColumn(static_cast<size_t>(key));
    std::string head = "SELECT rowid_, data, " + k + " FROM " + t + " WHERE ";
    std::string up = " ORDER BY " + k + ", rowid_", down = " ORDER BY " + k + " DESC, rowid_ DESC";
    switch (kind) {
      case kGe: s = Prepare(head + k + " >= ?1" + up); break;
      case kGt: s = Prepare(head + k + " > ?1" + up); break;
      case kLe: s = Prepare(head + k + " <= ?1" + down); break;
      case kLt: s = Prepare(head + k + " < ?1" + down); break;
      case kAfter: s = Prepare(head + "(" + k + ", rowid_) > (?1, ?2)" + up); break;
      case kBefore: s = Prepare(head + "(" + k + ", rowid_) < (?1, ?2)" + down); break;
      case kFirst: s = Prepare(head + k + " IS NOT NULL" + up); break;
      case kLast: s = Prepare(head + k + " IS NOT NULL" + down); break;
      case kPhysicalAfter:
        s = Prepare("SELECT rowid_, data, NULL FROM " + t + " WHERE rowid_ > ?1 ORDER BY rowid_");
        break;
      case kPhysicalBefore:
        s = Prepare("SELECT rowid_, data, NULL FROM " + t + " WHERE rowid_ < ?1 ORDER BY rowid_ DESC");
        break;
      default: break;
    }
    return s;
  }

  void DropCursor(PlainHandle& h) {
    if (h.cursor) sqlite3_reset(h.cursor);
    h.cursor = nullptr;
  }

  // Steps the handle's cursor: the status of the read, the handle on the row.
  int16_t Step(PlainHandle& h, int16_t endStatus) {
    int rc = sqlite3_step(h.cursor);
    if (rc != SQLITE_ROW) {
      if (rc != SQLITE_DONE) Fail(std::string("step: ") + sqlite3_errmsg(db));
      DropCursor(h);
      return endStatus;
    }
    h.rowid = sqlite3_column_int64(h.cursor, 0);
    h.keyBlobKnown = !h.physical;
    if (!h.physical)
      h.keyBlob.assign(static_cast<const char*>(sqlite3_column_blob(h.cursor, 2)),
                       static_cast<size_t>(sqlite3_column_bytes(h.cursor, 2)));
    h.onRow = true;
    return B_OK;
  }

  // Opens a query of `kind` along `key` (the bound bytes in ?1, the rowid in ?2).
  int16_t Start(PlainHandle& h, int key, Kind kind, const std::string* bound, int16_t endStatus) {
    DropCursor(h);
    sqlite3_stmt* s = Query(h, key, kind);
    if (!s) return B_IO_ERROR;
    if (bound) sqlite3_bind_blob(s, 1, bound->data(), static_cast<int>(bound->size()), SQLITE_STATIC);
    if (kind == kAfter || kind == kBefore) sqlite3_bind_int64(s, 2, h.rowid);
    if (kind == kPhysicalAfter || kind == kPhysicalBefore) sqlite3_bind_int64(s, 1, h.rowid);
    h.cursor = s;
    h.cursorKey = key;
    h.physical = kind == kPhysicalAfter || kind == kPhysicalBefore;
    h.forward = kind == kGe || kind == kGt || kind == kAfter || kind == kFirst || kind == kPhysicalAfter;
    h.key = h.physical ? h.key : key;
    return Step(h, endStatus);
  }

  // The current row's bytes of `key`, when the handle came to the row by its
  // position or moves to another key.
  void LoadKeyBlob(PlainHandle& h, int key) {
    sqlite3_stmt* s = h.file->byRowid;
    sqlite3_bind_int64(s, 1, h.rowid);
    if (sqlite3_step(s) == SQLITE_ROW)
      h.keyBlob.assign(static_cast<const char*>(sqlite3_column_blob(s, 2 + key)),
                       static_cast<size_t>(sqlite3_column_bytes(s, 2 + key)));
    sqlite3_reset(s);
    h.key = key;
    h.keyBlobKnown = true;
  }

  int16_t Read(PlainHandle& h, uint8_t op, int key, const char* keyValue, size_t keyLength) {
    const FileSpec& spec = h.file->layout.spec;
    bool keyed = op >= B_GET_EQUAL && op <= B_GET_LAST;
    if (keyed && (key < 0 || static_cast<size_t>(key) >= spec.keys.size())) return B_INVALID_KEY_NUMBER;
    switch (op) {
      case B_GET_EQUAL:
      case B_GET_GREATER:
      case B_GET_GE:
      case B_GET_LESS:
      case B_GET_LE: {
        const KeyDef& def = spec.keys[static_cast<size_t>(key)];
        std::string value(keyValue, std::min<size_t>(keyLength, def.length));
        value.resize(def.length, '\0');
        std::string bound;
        EncodeKeyValue(spec, def, reinterpret_cast<const uint8_t*>(value.data()), bound);
        Kind kind = op == B_GET_EQUAL || op == B_GET_GE ? kGe
                    : op == B_GET_GREATER               ? kGt
                    : op == B_GET_LE                    ? kLe
                                                        : kLt;
        int16_t st = Start(h, key, kind, &bound, op == B_GET_EQUAL ? B_KEY_NOT_FOUND : B_END_OF_FILE);
        if (op == B_GET_EQUAL && st == B_OK && h.keyBlob != bound) {
          DropCursor(h);
          return B_KEY_NOT_FOUND;
        }
        return st;
      }
      case B_GET_FIRST: return Start(h, key, kFirst, nullptr, B_END_OF_FILE);
      case B_GET_LAST: return Start(h, key, kLast, nullptr, B_END_OF_FILE);
      case B_GET_NEXT:
      case B_GET_PREVIOUS: {
        bool forward = op == B_GET_NEXT;
        if (h.cursor && !h.physical && h.cursorKey == key && h.forward == forward)
          return Step(h, B_END_OF_FILE);
        if (h.key != key || !h.keyBlobKnown) LoadKeyBlob(h, key);
        return Start(h, key, forward ? kAfter : kBefore, &h.keyBlob, B_END_OF_FILE);
      }
      case B_STEP_NEXT:
      case B_STEP_PREVIOUS: {
        bool forward = op == B_STEP_NEXT;
        if (h.cursor && h.physical && h.forward == forward) return Step(h, B_END_OF_FILE);
        return Start(h, 0, forward ? kPhysicalAfter : kPhysicalBefore, nullptr, B_END_OF_FILE);
      }
      case B_STEP_FIRST:
      case B_STEP_LAST:
        h.rowid = op == B_STEP_FIRST ? 0 : INT64_MAX;
        return Start(h, 0, op == B_STEP_FIRST ? kPhysicalAfter : kPhysicalBefore, nullptr, B_END_OF_FILE);
      default: return B_INVALID_OPERATION;
    }
  }

  // The row at `pos` (get direct): a plain program knows its rowids and
  // reads nothing; the key's bytes are read when a step needs them.
  int16_t Direct(PlainHandle& h, int64_t pos, int key) {
    if (h.onRow && h.rowid == pos && h.key == key) return B_OK;
    DropCursor(h);
    h.rowid = pos;
    h.onRow = true;
    h.key = key;
    h.keyBlobKnown = false;
    return B_OK;
  }

  int16_t Write(PlainHandle& h, uint8_t op, const char* data, size_t length, int64_t pos) {
    PlainFile& f = *h.file;
    if (op == B_DELETE) {
      if (!h.onRow) return B_INVALID_POSITIONING;
      sqlite3_bind_int64(f.remove, 1, h.rowid);
      int rc = sqlite3_step(f.remove);
      sqlite3_reset(f.remove);
      h.onRow = false;
      return rc == SQLITE_DONE ? B_OK : B_IO_ERROR;
    }
    sqlite3_stmt* s = op == B_UPDATE ? f.update : f.insert;
    if (op == B_UPDATE && !h.onRow) return B_INVALID_POSITIONING;
    const uint8_t* record = reinterpret_cast<const uint8_t*>(data);
    std::string padded;
    if (length < f.layout.spec.recordLength) {
      padded.assign(data, length);
      padded.resize(f.layout.spec.recordLength, '\0');
      record = reinterpret_cast<const uint8_t*>(padded.data());
    }
    sqlite3_bind_int64(s, 1, op == B_UPDATE ? h.rowid : pos);
    sqlite3_bind_blob(s, 2, data, static_cast<int>(length), SQLITE_STATIC);
    BindKeys(s, 3, f.layout.spec, record, scratch);
    int rc = sqlite3_step(s);
    sqlite3_reset(s);
    if (rc != SQLITE_DONE) return B_IO_ERROR;
    // The current key's bytes may have changed: the open query is left.
    if (h.key >= 0 && static_cast<size_t>(h.key) < f.layout.spec.keys.size()) {
      h.keyBlobKnown = true;
      std::string now;
      if (!EncodeRecordKey(f.layout.spec, f.layout.spec.keys[static_cast<size_t>(h.key)], record, now) ||
          now != h.keyBlob || op == B_INSERT) {
        DropCursor(h);
        h.keyBlob = now;
      }
    }
    if (op == B_INSERT) {
      h.rowid = pos;
      h.onRow = true;
    }
    return B_OK;
  }

  void EndTransaction(const char* sql) {
    for (PlainHandle& h : handles) DropCursor(h);
    if (!Exec(db, sql)) Fail(std::string(sql) + ": " + sqlite3_errmsg(db));
  }

  // Makes every call of the trace.
  void Run(const Trace& trace) {
    reached.reserve(trace.calls.size());
    for (const Call& c : trace.calls) {
      if (failed) return;
      const char* key = trace.bytes.data() + c.keyAt;
      const char* data = trace.bytes.data() + c.dataAt;
      switch (c.op) {
        case B_BEGIN_TRANS:
          if (!Exec(db, "BEGIN IMMEDIATE")) Fail(std::string("begin: ") + sqlite3_errmsg(db));
          continue;
        case B_END_TRANS: EndTransaction("COMMIT"); continue;
        case B_ABORT_TRANS: EndTransaction("ROLLBACK"); continue;
        default: break;
      }
      PlainHandle& h = handles[c.handle];
      if (!h.file) continue;
      int16_t st = B_OK;
      if (c.op == B_GET_DIRECT) st = Direct(h, c.pos, c.key);
      else if (IsRead(c.op)) st = Read(h, c.op, c.key, key, c.keyLength);
      else st = Write(h, c.op, data, c.dataLength, c.pos);
      if (IsRead(c.op)) reached.push_back(st == B_OK ? h.rowid : -st);
    }
  }
};

// What the trace says each replayed read reached.
inline std::vector<int64_t> TracedReads(const Trace& trace) {
  std::vector<int64_t> out;
  for (const Call& c : trace.calls)
    if (IsRead(c.op))
      out.push_back(c.status == B_OK || c.status == B_DATA_BUFFER_TOO_SHORT ? c.pos : -c.status);
  return out;
}

}  // namespace plain
