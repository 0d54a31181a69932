// store_pg.cpp - the PostgreSQL store, reached through libpq.
//
// A data folder whose file "recman.server" names a server keeps its record
// files in one schema of that server's database: the same catalog
// (recman_file), record tables r<id> and index tables k<id>_<key> as the
// SQLite store, with bytea for blobs (ordered byte by byte, as SQLite orders
// its blobs) and int8 for numbers.  File ids and folder ids come from one
// sequence of the database (recman_common.ids), so the lock units of
// different folders in one database never meet.
//
// Guarantees, as on SQLite:
// - A write transaction takes the folder's transaction-level advisory lock
//   at its beginning (the counterpart of BEGIN IMMEDIATE): the writers of
//   a folder follow one another and a transaction never fails half-way
//   because another station committed first.  Readers do not take it.
//   Waiting for it ends after the busy timeout (lock_timeout) with 85.
// - Record locks and open locks are session-level advisory locks on the
//   unit (file id << 32) | position: the server drops them when the
//   station ends, dies or loses its connection.
// - The change counter counts the folder's notifications: every write
//   transaction sends NOTIFY with its commit, every station LISTENs; they
//   arrive with the next answer of the server or are read from the socket
//   without a round trip.
// - The identity of the folder's schema (a random id in recman_meta) is
//   taken at connection and checked by every write transaction in the same
//   round trip as its lock: a schema dropped and made again is never
//   written into (status 2).
// - A connection lost inside a transaction loses that transaction: every
//   call answers 2 until the engine rolls it back; the next one connects
//   again.
//
// Every statement is prepared once per connection.  The round trips to the
// server are counted (RecmanServerRoundTrips, testing.h).
#include "recman/store_pg.h"

#include <libpq-fe.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "recman/integrity.h"
#include "recman/owner.h"
#include "recman/recman.h"
#include "recman/testing.h"

namespace {

std::atomic<uint64_t> gRoundTrips{0};

// The first key of the folders' transaction locks (the two-key form of the
// advisory locks, apart from the one-key form of the record locks): "RM".
constexpr int kFolderLockClass = 0x524D;

enum KeySlot { kSlotGe, kSlotGt, kSlotLe, kSlotLt, kSlotExact, kSlotInsert, kSlotDelete, kSlotList, kPerKey };
enum RecordSlot {
  kSlotFetch,
  kSlotInsertRow,
  kSlotUpdateRow,
  kSlotDeleteRow,
  kSlotStepNext,
  kSlotStepPrev,
  kSlotAllocate,
  kSlotCount,
  kRecordSlots
};

std::string Table(int64_t id) { return "r" + std::to_string(id); }
std::string IndexTable(int64_t id, int key) { return "k" + std::to_string(id) + "_" + std::to_string(key); }

std::string SlotSql(const OpenFile& f, size_t slot) {
  size_t keys = f.spec.keys.size();
  if (slot < keys * kPerKey) {
    int key = static_cast<int>(slot / kPerKey);
    std::string x = IndexTable(f.id, key), r = Table(f.id);
    std::string join = "SELECT x.ik, x.pos, r.ver, r.data, r.seqs, r.sum FROM " + x + " AS x JOIN " + r +
                       " AS r ON r.pos = x.pos WHERE x.ik ";
    switch (slot % kPerKey) {
      case kSlotGe: return join + ">= $1::bytea ORDER BY x.ik LIMIT $2::int8";
      case kSlotGt: return join + "> $1::bytea ORDER BY x.ik LIMIT $2::int8";
      case kSlotLe: return join + "<= $1::bytea ORDER BY x.ik DESC LIMIT $2::int8";
      case kSlotLt: return join + "< $1::bytea ORDER BY x.ik DESC LIMIT $2::int8";
      case kSlotExact: return "SELECT pos FROM " + x + " WHERE ik = $1::bytea";
      case kSlotInsert: return "INSERT INTO " + x + "(ik, pos) VALUES($1::bytea, $2::int8)";
      case kSlotList: return "SELECT ik, pos FROM " + x + " WHERE ik > $1::bytea ORDER BY ik LIMIT $2::int8";
      default: return "DELETE FROM " + x + " WHERE ik = $1::bytea";
    }
  }
  std::string r = Table(f.id), id = std::to_string(f.id);
  switch (slot - keys * kPerKey) {
    case kSlotFetch: return "SELECT ver, data, seqs, sum FROM " + r + " WHERE pos = $1::int8";
    case kSlotInsertRow:
      return "INSERT INTO " + r +
             "(pos, ver, data, seqs, sum) VALUES($1::int8, $2::int8, $3::bytea, $4::bytea, $5::int8)";
    case kSlotUpdateRow:
      return "UPDATE " + r +
             " SET ver = $2::int8, data = $3::bytea, seqs = $4::bytea, sum = $5::int8 WHERE pos = $1::int8";
    case kSlotDeleteRow: return "DELETE FROM " + r + " WHERE pos = $1::int8";
    case kSlotStepNext:
      return "SELECT pos, ver, data, seqs, sum FROM " + r +
             " WHERE pos > $1::int8 ORDER BY pos LIMIT $2::int8";
    case kSlotStepPrev:
      return "SELECT pos, ver, data, seqs, sum FROM " + r +
             " WHERE pos < $1::int8 ORDER BY pos DESC LIMIT $2::int8";
    case kSlotAllocate:
      return "UPDATE recman_file SET next_pos = next_pos + 1, records = records + $1::int8 WHERE id = " + id +
             " RETURNING next_pos - 1";
    default: return "SELECT records FROM recman_file WHERE id = " + id;
  }
}

// Parameters of a statement, sent in binary.
struct Params {
  std::vector<std::string> values;
  void Int(int64_t v) {
    std::string b(8, '\0');
    for (int i = 0; i < 8; ++i) b[i] = static_cast<char>((static_cast<uint64_t>(v) >> (56 - 8 * i)) & 0xFF);
    values.push_back(std::move(b));
  }
  void Bytes(const std::string& v) { values.push_back(v); }
};

// A result, cleared at the end of its scope.
struct Result {
  PGresult* r = nullptr;
  Result() = default;
  explicit Result(PGresult* p) : r(p) {}
  ~Result() { PQclear(r); }
  Result(const Result&) = delete;
  Result& operator=(const Result&) = delete;
  Result(Result&& o) noexcept : r(o.r) { o.r = nullptr; }
  Result& operator=(Result&& o) noexcept {
    PQclear(r);
    r = o.r;
    o.r = nullptr;
    return *this;
  }
  int Rows() const { return r ? PQntuples(r) : 0; }
  bool Null(int row, int col) const { return PQgetisnull(r, row, col) != 0; }
  std::string Bytes(int row, int col) const {
    return std::string(PQgetvalue(r, row, col), static_cast<size_t>(PQgetlength(r, row, col)));
  }
  int64_t Int(int row, int col) const {
    const auto* p = reinterpret_cast<const unsigned char*>(PQgetvalue(r, row, col));
    if (PQgetlength(r, row, col) != 8) return 0;
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v = (v << 8) | p[i];
    return static_cast<int64_t>(v);
  }
  bool Bool(int row, int col) const {
    return PQgetlength(r, row, col) == 1 && PQgetvalue(r, row, col)[0] != 0;
  }
};

std::string Trim(const std::string& s) {
  size_t a = s.find_first_not_of(" \t\r\n");
  if (a == std::string::npos) return "";
  size_t b = s.find_last_not_of(" \t\r\n");
  return s.substr(a, b - a + 1);
}

bool ValidSchema(const std::string& s) {
  if (s.empty() || s.size() > 48) return false;
  for (char c : s)
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_')) return false;
  return !(s[0] >= '0' && s[0] <= '9') && s.rfind("pg_", 0) != 0 && s != "recman_common";
}

struct ServerStore final : Store {
  Directory& dir;
  ServerSettings settings;
  PGconn* conn = nullptr;
  std::set<std::string> prepared;  // the statements this connection has
  std::map<uint64_t, LockType> held;
  int64_t folderId = 0;
  std::string identity;
  uint64_t changes = 0;
  bool inWrite = false;      // BEGIN sent on this connection
  bool wrote = false;        // the write transaction changed something
  bool lostInWrite = false;  // the connection dropped inside it
  int busyTimeoutMs = 30000;

  ServerStore(Directory& d, const ServerSettings& s) : dir(d), settings(s) {}
  ~ServerStore() override { Disconnect(); }

  const char* Name() const override { return "PostgreSQL"; }
  std::string Where() const override {
    return "the schema " + settings.schema + " on the server of " + dir.path + "/" + kServerName;
  }

  // ---- Talking to the server ---------------------------------------------

  int16_t Lost(const std::string& what) {
    if (inWrite) lostInWrite = true;
    std::string message = conn ? PQerrorMessage(conn) : "";
    message = Trim(message);
    PQfinish(conn);
    conn = nullptr;
    prepared.clear();
    held.clear();
    return NoteFailure(B_IO_ERROR, &dir, what + (message.empty() ? "" : ": " + message), 0, "PostgreSQL");
  }

  // The status of a failed result, with its diagnostic noted.
  int16_t Failed(PGresult* r) {
    if (conn == nullptr || PQstatus(conn) == CONNECTION_BAD)
      return Lost("the connection to the server was lost");
    const char* state = r ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
    std::string code = state ? state : "";
    std::string message = Trim(r ? PQresultErrorMessage(r) : PQerrorMessage(conn));
    if (!code.empty()) message += " (SQLSTATE " + code + ")";
    if (code == "23505") return B_DUPLICATE_KEY;
    // The server ended the session (an administrator, a shutdown): as lost.
    if (code.rfind("57P", 0) == 0 || code.rfind("08", 0) == 0) return Lost(message);
    int16_t st = B_IO_ERROR;
    if (code == "55P03" || code == "40P01" || code == "40001") st = B_FILE_LOCKED;
    if (code == "53100") st = B_DISK_FULL;
    return NoteFailure(st, &dir, message, 0, "PostgreSQL");
  }

  bool Ok(const Result& res) const {
    ExecStatusType t = PQresultStatus(res.r);
    return t == PGRES_COMMAND_OK || t == PGRES_TUPLES_OK;
  }

  // A plain command string (one round trip, however many statements).
  int16_t Command(const std::string& sql, Result* out = nullptr) {
    if (lostInWrite)
      return NoteFailure(B_IO_ERROR, &dir, "the connection to the server was lost in a transaction");
    if (conn == nullptr) return B_IO_ERROR;
    ++gRoundTrips;
    Result res(PQexec(conn, sql.c_str()));
    if (!Ok(res)) return Failed(res.r);
    if (out) *out = std::move(res);
    return B_OK;
  }

  // A prepared statement by name, prepared on its first use on this
  // connection; binary parameters and results.
  int16_t Query(const std::string& name, const std::string& sql, const Params& p, Result& out) {
    if (lostInWrite)
      return NoteFailure(B_IO_ERROR, &dir, "the connection to the server was lost in a transaction");
    int16_t st = Connect();
    if (st != B_OK) return st;
    if (!prepared.count(name)) {
      ++gRoundTrips;
      Result made(PQprepare(conn, name.c_str(), sql.c_str(), 0, nullptr));
      if (!Ok(made)) return Failed(made.r);
      prepared.insert(name);
    }
    std::vector<const char*> values;
    std::vector<int> lengths, formats;
    for (const std::string& v : p.values) {
      values.push_back(v.data());
      lengths.push_back(static_cast<int>(v.size()));
      formats.push_back(1);
    }
    ++gRoundTrips;
    out = Result(PQexecPrepared(conn, name.c_str(), static_cast<int>(values.size()), values.data(),
                                lengths.data(), formats.data(), 1));
    if (!Ok(out)) return Failed(out.r);
    return B_OK;
  }

  int16_t FileQuery(OpenFile& f, size_t slot, const Params& p, Result& out) {
    return Query("f" + std::to_string(f.id) + "_" + std::to_string(slot), SlotSql(f, slot), p, out);
  }
  int16_t KeyQuery(OpenFile& f, int key, KeySlot which, const Params& p, Result& out) {
    return FileQuery(f, static_cast<size_t>(key) * kPerKey + which, p, out);
  }
  int16_t RecordQuery(OpenFile& f, RecordSlot which, const Params& p, Result& out) {
    return FileQuery(f, f.spec.keys.size() * kPerKey + which, p, out);
  }

  // ---- Connection ----------------------------------------------------------

  std::string Quoted() const { return "\"" + settings.schema + "\""; }

  // Makes the folder's schema (once, whoever comes first) when `create`;
  // 12 when it does not exist and is not to be made.
  int16_t PrepareSchema(bool create) {
    Result res;
    int16_t st = Command("SELECT to_regclass('" + Quoted() + ".recman_meta') IS NOT NULL", &res);
    if (st != B_OK) return st;
    bool present = res.Rows() == 1 && std::string(PQgetvalue(res.r, 0, 0)) == "t";
    if (!present) {
      if (!create) return B_FILE_NOT_FOUND;
      // One station at a time makes schemas in this database.
      std::string sql =
          "BEGIN; SELECT pg_advisory_xact_lock(" + std::to_string(kFolderLockClass) +
          ", 0); CREATE SCHEMA IF NOT EXISTS recman_common; "
          "CREATE SEQUENCE IF NOT EXISTS recman_common.ids; "
          "CREATE SCHEMA IF NOT EXISTS " +
          Quoted() + "; CREATE TABLE IF NOT EXISTS " + Quoted() +
          ".recman_file(id int8 PRIMARY KEY, name text NOT NULL, uuid text NOT NULL,"
          " spec bytea NOT NULL, records int8 NOT NULL DEFAULT 0, next_pos int8 NOT NULL DEFAULT 1,"
          " owner_salt bytea, owner_hash bytea, owner_mode int8 NOT NULL DEFAULT 0); "
          "CREATE INDEX IF NOT EXISTS recman_file_name ON " +
          Quoted() + ".recman_file(name); CREATE TABLE IF NOT EXISTS " + Quoted() +
          ".recman_meta(key text PRIMARY KEY, value text NOT NULL); INSERT INTO " + Quoted() +
          ".recman_meta(key, value) VALUES ('format', '2'), ('identity', '" + RandomHex(16) +
          "'), ('folder', nextval('recman_common.ids')::text) ON CONFLICT DO NOTHING; COMMIT";
      st = Command(sql);
      if (st != B_OK) {
        Command("ROLLBACK");
        return st == B_IO_ERROR ? int16_t{B_CREATE_IO_ERROR} : st;
      }
    }
    return B_OK;
  }

  int16_t OpenConnection(bool create) {
    ++gRoundTrips;
    conn = PQconnectdb(settings.connection.c_str());
    if (conn == nullptr || PQstatus(conn) != CONNECTION_OK)
      return Lost("cannot reach the server named in " + dir.path + "/" + kServerName);
    prepared.clear();
    held.clear();
    lostInWrite = false;
    inWrite = false;
    std::string sync = DurabilityForTests() == RecmanDurability::kFull ? "on" : "off";
    int16_t st =
        Command("SET client_min_messages = warning; SET lock_timeout = " + std::to_string(busyTimeoutMs) +
                "; SET synchronous_commit = " + sync + "; SET search_path TO " + Quoted());
    if (st == B_OK) st = PrepareSchema(create);
    Result res;
    if (st == B_OK)
      st = Command("SELECT key, value FROM recman_meta WHERE key IN ('identity', 'folder')", &res);
    if (st != B_OK) {
      PQfinish(conn);
      conn = nullptr;
      return st;
    }
    std::string id;
    int64_t folder = 0;
    for (int i = 0; i < res.Rows(); ++i) {
      std::string key = PQgetvalue(res.r, i, 0), value = PQgetvalue(res.r, i, 1);
      if (key == "identity") id = value;
      if (key == "folder") folder = std::strtoll(value.c_str(), nullptr, 10);
    }
    if (!identity.empty() && id != identity) {
      PQfinish(conn);
      conn = nullptr;
      return NoteFailure(B_IO_ERROR, &dir, Where() + " was replaced since this station opened it");
    }
    identity = id;
    folderId = folder;
    return Command("LISTEN recman_" + std::to_string(folderId));
  }

  int16_t Connect() override {
    if (conn && PQstatus(conn) == CONNECTION_OK) return B_OK;
    if (lostInWrite)
      return NoteFailure(B_IO_ERROR, &dir, "the connection to the server was lost in a transaction");
    if (conn) Lost("the connection to the server was lost");
    return OpenConnection(false);
  }

  bool Connected() const override { return conn != nullptr; }

  void Disconnect() override {
    PQfinish(conn);
    conn = nullptr;
    prepared.clear();
    held.clear();
    inWrite = false;
    lostInWrite = false;
  }

  // A connection held is a server process: given back while the folder
  // has no file open.
  void NoFileOpen() override {
    if (!inWrite && held.empty()) Disconnect();
  }

  // The connection (with the record locks of its session) stays open
  // through a fork: the parent goes on with it.
  void BeforeFork(bool) override {}
  void AbandonInChild() override {
    conn = nullptr;  // the parent's: neither closed nor used here
    prepared.clear();
    held.clear();
  }

  int16_t CheckIdentity() override { return B_OK; }  // checked with every write's lock
  int16_t ReopenForWriting() override {
    dir.readOnly = false;
    return B_OK;
  }
  // The folder's "recman.server" as it was at the open: a folder whose
  // file is gone or was written again (a folder made anew, moved to
  // another server) is another folder.
  struct stat serverFile {};
  bool TakeServerFile() { return stat((dir.path + "/" + kServerName).c_str(), &serverFile) == 0; }
  bool Replaced() override {
    struct stat now {};
    if (stat((dir.path + "/" + kServerName).c_str(), &now) != 0) return true;
    return now.st_dev != serverFile.st_dev || now.st_ino != serverFile.st_ino ||
           now.st_size != serverFile.st_size || now.st_mtim.tv_sec != serverFile.st_mtim.tv_sec ||
           now.st_mtim.tv_nsec != serverFile.st_mtim.tv_nsec;
  }
  void SetBusyTimeout(int milliseconds) override {
    busyTimeoutMs = milliseconds;
    if (conn) Command("SET lock_timeout = " + std::to_string(milliseconds));
  }

  // ---- Transactions ----------------------------------------------------------

  bool BeginSnapshot() override { return false; }
  void EndSnapshot() override {}

  int16_t BeginWrite(bool onlyRead) override {
    if (dir.readOnly && !onlyRead)
      return NoteFailure(B_ACCESS_DENIED, &dir, "the folder is open for reading only", 0, nullptr, 0,
                         Where());
    if (dir.readOnly) return BeginReadTransaction();
    int16_t st = Connect();
    if (st != B_OK) return st;
    Result res;
    inWrite = true;
    wrote = false;
    st = Command("BEGIN; SELECT pg_advisory_xact_lock(" + std::to_string(kFolderLockClass) + ", " +
                     std::to_string(static_cast<int32_t>(folderId)) +
                     "); SELECT value FROM recman_meta WHERE key = 'identity'",
                 &res);
    if (st == B_OK && (res.Rows() != 1 || identity != PQgetvalue(res.r, 0, 0)))
      st =
          NoteFailure(B_IO_ERROR, &dir,
                      Where() + " was replaced or deleted since this station opened it: nothing was written");
    if (st != B_OK) Rollback();
    return st;
  }

  int16_t Commit() override {
    if (!inWrite) return B_OK;
    Result res;
    int16_t st = Command(
        wrote ? "NOTIFY recman_" + std::to_string(folderId) + "; COMMIT" : std::string("COMMIT"), &res);
    // A transaction the server aborted answers ROLLBACK to the COMMIT.
    if (st == B_OK && std::strcmp(PQcmdStatus(res.r), "COMMIT") != 0)
      st = NoteFailure(B_IO_ERROR, &dir, "the server rolled the transaction back");
    inWrite = false;
    wrote = false;
    return st;
  }

  int16_t BeginReadTransaction() override {
    int16_t st = Connect();
    if (st != B_OK) return st;
    st = Command("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY");
    if (st == B_OK) inWrite = true;
    return st;
  }

  void Rollback() override {
    bool lost = lostInWrite;
    lostInWrite = false;
    if (inWrite && !lost && conn) Command("ROLLBACK");
    inWrite = false;
    wrote = false;
  }

  uint64_t ChangeCounter() override {
    if (conn && PQconsumeInput(conn)) {
      while (PGnotify* n = PQnotifies(conn)) {
        ++changes;
        PQfreemem(n);
      }
    }
    return changes;
  }
  void NoteChange() override { ++changes; }

  // ---- Locks ------------------------------------------------------------------

  LockResult Lock(uint64_t unit, LockType type, bool wait) override {
    auto it = held.find(unit);
    LockType now = it == held.end() ? LockType::kNone : it->second;
    if (type == now) return LockResult::kTaken;
    if (type == LockType::kNone) {
      Unlock(unit);
      return LockResult::kTaken;
    }
    Params p;
    p.Int(static_cast<int64_t>(unit));
    Result res;
    for (;;) {
      int16_t st =
          type == LockType::kShared
              ? Query("lock_shared", "SELECT pg_try_advisory_lock_shared($1::int8)", p, res)
          : wait ? Query("lock_wait", "SELECT true FROM (SELECT pg_advisory_lock($1::int8)) AS l", p, res)
                 : Query("lock", "SELECT pg_try_advisory_lock($1::int8)", p, res);
      if (st == B_FILE_LOCKED && wait) {
        // The lock timeout of a wait (or a deadlock the server broke):
        // a deadlock answers 84, the timeout waits on.
        if (gRecman.diagnostic.message.find("40P01") != std::string::npos) return LockResult::kBusy;
        ClearDiagnostic();
        continue;
      }
      if (st != B_OK) return LockResult::kFailed;
      break;
    }
    if (res.Rows() != 1 || !res.Bool(0, 0)) return LockResult::kBusy;
    if (now != LockType::kNone) Release(unit, now);
    held[unit] = type;
    return LockResult::kTaken;
  }

  void Release(uint64_t unit, LockType type) {
    Params p;
    p.Int(static_cast<int64_t>(unit));
    Result res;
    if (type == LockType::kShared)
      Query("unlock_shared", "SELECT pg_advisory_unlock_shared($1::int8)", p, res);
    else Query("unlock", "SELECT pg_advisory_unlock($1::int8)", p, res);
  }

  void Unlock(uint64_t unit) override {
    auto it = held.find(unit);
    if (it == held.end()) return;
    LockType type = it->second;
    held.erase(it);
    if (conn) Release(unit, type);
  }

  bool HeldElsewhere(uint64_t unit) override {
    Params p;
    p.Int(static_cast<int64_t>(unit));
    Result res;
    int16_t st =
        Query("held",
              "SELECT EXISTS(SELECT 1 FROM pg_locks WHERE locktype = 'advisory' AND objsubid = 1"
              " AND database = (SELECT oid FROM pg_database WHERE datname = current_database())"
              " AND classid = (($1::int8 >> 32) & 4294967295)::oid AND objid = ($1::int8 & 4294967295)::oid"
              " AND pid <> pg_backend_pid() AND granted)",
              p, res);
    return st == B_OK && res.Rows() == 1 && res.Bool(0, 0);
  }

  // ---- Catalog ------------------------------------------------------------------

  int16_t ListCatalogEntries(const std::string& name, std::vector<CatalogEntry>& out) override {
    out.clear();
    Params p;
    Result res;
    int16_t st;
    if (name.empty()) {
      st = Query("catalog_all",
                 "SELECT id, uuid, spec, owner_salt, owner_hash, owner_mode, name, records, next_pos"
                 " FROM recman_file ORDER BY id",
                 p, res);
    } else {
      p.Bytes(name);
      st = Query("catalog",
                 "SELECT id, uuid, spec, owner_salt, owner_hash, owner_mode, name, records, next_pos"
                 " FROM recman_file WHERE lower(name) = lower($1::text) ORDER BY id DESC",
                 p, res);
    }
    if (st != B_OK) return st;
    for (int i = 0; i < res.Rows(); ++i) {
      CatalogEntry& e = out.emplace_back();
      e.id = res.Int(i, 0);
      e.uuid = res.Bytes(i, 1);
      e.spec = res.Bytes(i, 2);
      e.ownerSalt = res.Null(i, 3) ? "" : res.Bytes(i, 3);
      e.ownerHash = res.Null(i, 4) ? "" : res.Bytes(i, 4);
      e.ownerMode = static_cast<int>(res.Int(i, 5));
      e.name = res.Bytes(i, 6);
      e.records = res.Int(i, 7);
      e.nextPos = res.Int(i, 8);
    }
    return B_OK;
  }

  int16_t AddCatalogEntry(const std::string& name, const std::string& uuid, const FileSpec& spec,
                          int64_t& id) override {
    Params p;
    p.Bytes(name);
    p.Bytes(uuid);
    p.Bytes(spec.image);
    Result res;
    int16_t st = Query("catalog_add",
                       "INSERT INTO recman_file(id, name, uuid, spec) VALUES(nextval('recman_common.ids'),"
                       " $1::text, $2::text, $3::bytea) RETURNING id",
                       p, res);
    if (st != B_OK) return st;
    id = res.Int(0, 0);
    wrote = true;
    std::string sql =
        "CREATE TABLE " + Table(id) +
        "(pos int8 PRIMARY KEY, ver int8 NOT NULL, data bytea NOT NULL, seqs bytea NOT NULL, sum int8)";
    for (size_t k = 0; k < spec.keys.size(); ++k)
      sql += "; CREATE TABLE " + IndexTable(id, static_cast<int>(k)) +
             "(ik bytea PRIMARY KEY, pos int8 NOT NULL)";
    return Command(sql);
  }

  int16_t DropCatalogEntry(int64_t id, size_t keyCount) override {
    std::string sql = "DROP TABLE IF EXISTS " + Table(id);
    for (size_t k = 0; k < keyCount; ++k)
      sql += "; DROP TABLE IF EXISTS " + IndexTable(id, static_cast<int>(k));
    sql += "; DELETE FROM recman_file WHERE id = " + std::to_string(id);
    wrote = true;
    return Command(sql);
  }

  int16_t SetOwnerEntry(int64_t id, const std::string& salt, const std::string& hash, int mode) override {
    Params p;
    p.Int(id);
    p.Int(mode);
    Result res;
    wrote = true;
    if (salt.empty())
      return Query("owner_clear",
                   "UPDATE recman_file SET owner_salt = NULL, owner_hash = NULL, owner_mode = $2::int8"
                   " WHERE id = $1::int8",
                   p, res);
    p.Bytes(salt);
    p.Bytes(hash);
    return Query(
        "owner_set",
        "UPDATE recman_file SET owner_salt = $3::bytea, owner_hash = $4::bytea, owner_mode = $2::int8"
        " WHERE id = $1::int8",
        p, res);
  }

  int16_t StoredRecordCount(OpenFile& file, int64_t& count) override {
    Result res;
    int16_t st = RecordQuery(file, kSlotCount, Params{}, res);
    if (st != B_OK) return st;
    if (res.Rows() != 1) return B_IO_ERROR;
    count = res.Int(0, 0);
    return B_OK;
  }

  int16_t AllocatePosition(OpenFile& file, bool countRecord, uint64_t& value) override {
    Params p;
    p.Int(countRecord ? 1 : 0);
    Result res;
    wrote = true;
    int16_t st = RecordQuery(file, kSlotAllocate, p, res);
    if (st != B_OK) return st;
    if (res.Rows() != 1) return B_IO_ERROR;
    value = static_cast<uint64_t>(res.Int(0, 0));
    return value == 0 || value > 0xFFFFFFFFull ? int16_t{B_DISK_FULL} : int16_t{B_OK};
  }

  int16_t AddToRecordCount(int64_t fileId, int64_t delta) override {
    Params p;
    p.Int(delta);
    p.Int(fileId);
    Result res;
    wrote = true;
    return Query("count_add", "UPDATE recman_file SET records = records + $1::int8 WHERE id = $2::int8", p,
                 res);
  }

  int16_t SetCounters(int64_t fileId, int64_t records, int64_t nextPos) override {
    Params p;
    p.Int(records);
    p.Int(nextPos);
    p.Int(fileId);
    Result res;
    wrote = true;
    return Query("counters_set",
                 "UPDATE recman_file SET records = $1::int8, next_pos = $2::int8 WHERE id = $3::int8", p,
                 res);
  }

  void ForgetFile(int64_t) override {}

  // ---- Records ------------------------------------------------------------------

  void CollectRows(const Result& res, bool withSortKey, std::vector<Row>& rows) {
    const int first = withSortKey ? 1 : 0;
    for (int i = 0; i < res.Rows(); ++i) {
      Row& r = rows.emplace_back();
      if (withSortKey) r.sortKey = res.Bytes(i, 0);
      r.pos = static_cast<uint32_t>(res.Int(i, first));
      r.version = res.Int(i, first + 1);
      r.data = res.Bytes(i, first + 2);
      r.sequences = res.Bytes(i, first + 3);
      r.checksum = res.Null(i, first + 4) ? -1 : res.Int(i, first + 4);
    }
  }

  int16_t FetchByIndex(OpenFile& file, int key, Find how, const std::string& bound, unsigned limit,
                       std::vector<Row>& rows) override {
    rows.clear();
    KeySlot slot = how == Find::kGe   ? kSlotGe
                   : how == Find::kGt ? kSlotGt
                   : how == Find::kLe ? kSlotLe
                                      : kSlotLt;
    Params p;
    p.Bytes(bound);
    p.Int(limit);
    Result res;
    int16_t st = KeyQuery(file, key, slot, p, res);
    if (st == B_OK) CollectRows(res, true, rows);
    return st;
  }

  int16_t FetchPhysical(OpenFile& file, bool forward, int64_t bound, unsigned limit,
                        std::vector<Row>& rows) override {
    rows.clear();
    Params p;
    p.Int(bound);
    p.Int(limit);
    Result res;
    int16_t st = RecordQuery(file, forward ? kSlotStepNext : kSlotStepPrev, p, res);
    if (st == B_OK) CollectRows(res, false, rows);
    return st;
  }

  int16_t FetchRecord(OpenFile& file, uint32_t pos, Row& row, bool& found) override {
    found = false;
    Params p;
    p.Int(pos);
    Result res;
    int16_t st = RecordQuery(file, kSlotFetch, p, res);
    if (st != B_OK || res.Rows() == 0) return st;
    found = true;
    row.pos = pos;
    row.version = res.Int(0, 0);
    row.data = res.Bytes(0, 1);
    row.sequences = res.Bytes(0, 2);
    row.checksum = res.Null(0, 3) ? -1 : res.Int(0, 3);
    return B_OK;
  }

  int16_t FindIndexEntry(OpenFile& file, int key, const std::string& entry, uint32_t& pos,
                         bool& found) override {
    found = false;
    Params p;
    p.Bytes(entry);
    Result res;
    int16_t st = KeyQuery(file, key, kSlotExact, p, res);
    if (st != B_OK || res.Rows() == 0) return st;
    found = true;
    pos = static_cast<uint32_t>(res.Int(0, 0));
    return B_OK;
  }

  int16_t ListIndexEntries(OpenFile& file, int key, const std::string& after, unsigned limit,
                           std::vector<std::pair<std::string, uint32_t>>& out) override {
    out.clear();
    Params p;
    p.Bytes(after);
    p.Int(limit);
    Result res;
    int16_t st = KeyQuery(file, key, kSlotList, p, res);
    if (st != B_OK) return st;
    for (int i = 0; i < res.Rows(); ++i)
      out.emplace_back(res.Bytes(i, 0), static_cast<uint32_t>(res.Int(i, 1)));
    return B_OK;
  }

  int16_t InsertIndexEntry(OpenFile& file, int key, const std::string& entry, uint32_t pos) override {
    Params p;
    p.Bytes(entry);
    p.Int(pos);
    Result res;
    wrote = true;
    return KeyQuery(file, key, kSlotInsert, p, res);
  }

  int16_t DeleteIndexEntry(OpenFile& file, int key, const std::string& entry) override {
    Params p;
    p.Bytes(entry);
    Result res;
    wrote = true;
    return KeyQuery(file, key, kSlotDelete, p, res);
  }

  int16_t WriteRecordRow(OpenFile& file, RecordSlot slot, uint32_t pos, int64_t version,
                         const std::string& data, const std::string& sequences, uint32_t checksum) {
    Params p;
    p.Int(pos);
    p.Int(version);
    p.Bytes(data);
    p.Bytes(sequences);
    p.Int(checksum);
    Result res;
    wrote = true;
    return RecordQuery(file, slot, p, res);
  }

  int16_t InsertRecordRow(OpenFile& file, uint32_t pos, int64_t version, const std::string& data,
                          const std::string& sequences, uint32_t checksum) override {
    return WriteRecordRow(file, kSlotInsertRow, pos, version, data, sequences, checksum);
  }
  int16_t UpdateRecordRow(OpenFile& file, uint32_t pos, int64_t version, const std::string& data,
                          const std::string& sequences, uint32_t checksum) override {
    return WriteRecordRow(file, kSlotUpdateRow, pos, version, data, sequences, checksum);
  }
  int16_t DeleteRecordRow(OpenFile& file, uint32_t pos) override {
    Params p;
    p.Int(pos);
    Result res;
    wrote = true;
    return RecordQuery(file, kSlotDeleteRow, p, res);
  }

  void CheckStorage(std::vector<std::string>&) override {}
};

}  // namespace

uint64_t RecmanServerRoundTrips() { return gRoundTrips.load(); }

bool ReadServerFile(const std::string& path, ServerSettings& out, std::string& error) {
  out = ServerSettings{};
  std::ifstream in(path);
  if (!in) {
    error = "cannot read " + path;
    return false;
  }
  std::string line;
  while (std::getline(in, line)) {
    line = Trim(line);
    if (line.empty() || line[0] == '#') continue;
    if (line.rfind("schema ", 0) == 0) {
      out.schema = Trim(line.substr(7));
      continue;
    }
    if (out.connection.empty()) out.connection = line;
  }
  if (out.connection.empty()) {
    error = path + " names no server (a libpq connection string such as \"host=... dbname=... user=...\")";
    return false;
  }
  if (!ValidSchema(out.schema)) {
    error = path + ": the schema \"" + out.schema + "\" is not a plain lower-case name";
    return false;
  }
  char* bad = nullptr;
  PQconninfoOption* options = PQconninfoParse(out.connection.c_str(), &bad);
  if (options == nullptr) {
    error = path + ": " + Trim(bad ? bad : "the connection string cannot be read");
    PQfreemem(bad);
    return false;
  }
  bool password = false;
  for (PQconninfoOption* o = options; o->keyword; ++o)
    if (std::strcmp(o->keyword, "password") == 0 && o->val && *o->val) password = true;
  PQconninfoFree(options);
  if (password) {
    error = path +
            " holds a password: keep it in ~/.pgpass or the file PGPASSFILE names, not in the suite's files";
    return false;
  }
  return true;
}

int16_t OpenServerStore(Directory& dir, const ServerSettings& settings, bool create,
                        std::unique_ptr<Store>& out) {
  out.reset();
  auto store = std::make_unique<ServerStore>(dir, settings);
  store->busyTimeoutMs = BusyTimeoutMs();
  store->TakeServerFile();
  int16_t st = store->OpenConnection(create);
  if (st != B_OK) return st;
  out = std::move(store);
  return B_OK;
}
