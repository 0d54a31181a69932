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
// Few round trips: every statement is prepared once per connection, and
// sent in a pipeline with the others of its round trip.  The writes of a
// write transaction (records, index entries, counters, the check that no
// other station holds a record locked) wait and go with the next statement
// whose answer is needed, or with the commit.  Inside a write transaction
// that holds the folder, with the folder's change number what this station
// expected, what it keeps stands: record counts and next positions (Stat
// and inserts ask nothing), the highest entry of an index (an insert above
// it needs no uniqueness question), and the engine's rows read ahead.  The
// round trips are counted (RecmanServerRoundTrips, testing.h).
#include "recman/store_pg.h"

#include <libpq-fe.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "recman/integrity.h"
#include "recman/owner.h"
#include "recman/recman.h"
#include "recman/store_sql.h"
#include "recman/testing.h"

namespace recman {

namespace {

std::atomic<uint64_t> gRoundTrips{0};

// The first key of the folders' transaction locks (the two-key form of the
// advisory locks, apart from the one-key form of the record locks): "RM".
constexpr int kFolderLockClass = 0x524D;

// This store's own record statement slot of an open file, after its row
// slots.
enum RecordSlot { kSlotCount = kRowSlots, kRecordSlots };

// The entry's position, with the index's last entry.
std::string ExactSql(int64_t id, int key) {
  std::string x = IndexTable(id, key);
  return "SELECT (SELECT pos FROM " + x + " WHERE ik = $1::bytea), (SELECT ik FROM " + x +
         " ORDER BY ik DESC LIMIT 1)";
}

std::string OwnSql(int64_t id, int /*slot: kSlotCount*/) {
  return "SELECT records, next_pos FROM recman_file WHERE id = " + std::to_string(id);
}

constexpr SqlDialect kDialect{'$', "::bytea", "::int8", "JOIN", ExactSql, OwnSql};

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

// The writes that may travel together as one statement over an array of
// their parameter: deletes by position or by index entry, and the checks
// that no other station holds a record locked.
enum class Batch { kNone, kDeleteByPosition, kDeleteByEntry, kNotLocked };

// A one-dimensional array in PostgreSQL's binary form, of int8 (type 20)
// or bytea (17) values already in binary.
std::string BinaryArray(uint32_t elementType, const std::vector<std::string>& values) {
  std::string out;
  auto put = [&out](uint32_t v) {
    for (int i = 3; i >= 0; --i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  };
  put(1);  // dimensions
  put(0);  // no nulls
  put(elementType);
  put(static_cast<uint32_t>(values.size()));
  put(1);  // lower bound
  for (const std::string& v : values) {
    put(static_cast<uint32_t>(v.size()));
    out += v;
  }
  return out;
}

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
  bool inWrite = false;        // BEGIN sent on this connection
  bool lockedWrite = false;    // and the folder's lock taken: nobody else writes
  bool failedInWrite = false;  // a statement of the transaction failed
  bool wrote = false;          // the write transaction changed something
  bool lostInWrite = false;    // the connection dropped inside it
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
    pending.clear();
    ++epoch;  // notifications may have been missed
    expectedChanges = -1;
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
    if (!pending.empty()) {
      int16_t st = Exchange(nullptr, nullptr);
      if (st != B_OK) return st;
    }
    if (lostInWrite)
      return NoteFailure(B_IO_ERROR, &dir, "the connection to the server was lost in a transaction");
    if (conn == nullptr) return B_IO_ERROR;
    ++gRoundTrips;
    Result res(PQexec(conn, sql.c_str()));
    if (!Ok(res)) return Failed(res.r);
    if (out) *out = std::move(res);
    return B_OK;
  }

  // A statement to send: prepared once per connection by its name, or
  // `plain` (transaction control, sent as it is).
  struct Statement {
    std::string name;
    std::string sql;
    Params params;
    bool plain = false;
    // For the writes of a record or index table: the table, and whether the
    // statement deletes by its one parameter (a position, an index entry),
    // which lets deletes of one table travel as one statement (Batched).
    std::string table;
    Batch batch = Batch::kNone;
    Statement(std::string n, std::string q, Params p, bool isPlain = false, std::string t = "",
              Batch b = Batch::kNone)
        : name(std::move(n)),
          sql(std::move(q)),
          params(std::move(p)),
          plain(isPlain),
          table(std::move(t)),
          batch(b) {}
  };
  // Writes of the open write transaction not sent yet: they go with the
  // next statement whose answer is needed, or with the commit.
  std::vector<Statement> pending;

  // Queues a write inside the write transaction; outside one it is sent
  // at once.
  int16_t Write(const std::string& name, const std::string& sql, const Params& p) {
    return Write(Statement{name, sql, p});
  }
  int16_t Write(Statement s) {
    wrote = true;
    if (inWrite) {
      pending.push_back(std::move(s));
      return B_OK;
    }
    Result ignored;
    return Exchange(&s, &ignored);
  }

  // The status of a failed statement (its SQLSTATE and message), with its
  // diagnostic noted.
  int16_t StatusOf(const std::string& code, std::string message, const std::string& statement) {
    if (!code.empty()) message += " (SQLSTATE " + code + ")";
    if (code == "23505") return B_DUPLICATE_KEY;
    // A record that another station holds locked (see HeldElsewhere).
    if (code == "22012" && statement.rfind("not_locked", 0) == 0) return B_RECORD_LOCKED;
    // The server ended the session (an administrator, a shutdown): as lost.
    if (code.rfind("57P", 0) == 0 || code.rfind("08", 0) == 0) return Lost(message);
    int16_t st = B_IO_ERROR;
    if (code == "55P03" || code == "40P01" || code == "40001") st = B_FILE_LOCKED;
    if (code == "53100") st = B_DISK_FULL;
    return NoteFailure(st, &dir, message, 0, "PostgreSQL");
  }

  // The writes to send, with the deletes of a table and the lock checks
  // gathered into one statement each.  A delete joins the group of its
  // table only while no other write to that table came between them (an
  // entry deleted, inserted again and deleted keeps its order), so each
  // table sees its writes in the order they were made; writes to other
  // tables commute with it.  A lock check fails the whole transaction, so
  // the checks may go together, before the writes they guard.  Transaction
  // control (BEGIN, the folder's lock) is a wall no group crosses.
  static std::vector<Statement> Batched(std::vector<Statement> list) {
    std::vector<Statement> out;
    std::vector<std::vector<std::string>> members;  // by statement of `out`
    std::map<std::string, size_t> openGroup;        // table -> its delete group in `out`
    size_t checks = SIZE_MAX;
    for (Statement& s : list) {
      if (s.plain) {
        openGroup.clear();
        checks = SIZE_MAX;
      } else if (s.batch == Batch::kNotLocked && checks != SIZE_MAX) {
        members[checks].push_back(s.params.values.at(0));
        continue;
      } else if (s.batch == Batch::kDeleteByPosition || s.batch == Batch::kDeleteByEntry) {
        auto group = openGroup.find(s.table);
        if (group != openGroup.end() && out[group->second].name == s.name) {
          members[group->second].push_back(s.params.values.at(0));
          continue;
        }
        openGroup[s.table] = out.size();
      } else if (!s.table.empty()) {
        openGroup.erase(s.table);
      }
      if (s.batch == Batch::kNotLocked) checks = out.size();
      members.push_back(s.batch == Batch::kNone ? std::vector<std::string>{} : s.params.values);
      out.push_back(std::move(s));
    }
    for (size_t i = 0; i < out.size(); ++i) {
      if (members[i].size() < 2) continue;
      Statement& s = out[i];
      const bool positions = s.batch != Batch::kDeleteByEntry;
      Params p;
      p.Bytes(BinaryArray(positions ? 20 : 17, members[i]));
      s.params = p;
      s.name += "_many";
      if (s.batch == Batch::kNotLocked)
        s.sql = "SELECT 1 / min(pg_try_advisory_xact_lock_shared(u)::int) FROM unnest($1::int8[]) AS u";
      else
        s.sql = "DELETE FROM " + s.table +
                (positions ? " WHERE pos = ANY($1::int8[])" : " WHERE ik = ANY($1::bytea[])");
    }
    return out;
  }

  // Sends the pending writes and then `last` (when given) in one pipeline:
  // one round trip.  `out` gets the result of `last`.  The first failure
  // gives the status; what follows it in the pipeline is not done.
  int16_t Exchange(const Statement* last, Result* out) {
    if (lostInWrite) {
      pending.clear();
      return NoteFailure(B_IO_ERROR, &dir, "the connection to the server was lost in a transaction");
    }
    std::vector<Statement> list = Batched(std::move(pending));
    pending.clear();
    if (last) list.push_back(*last);
    if (list.empty()) return B_OK;
    int16_t st = Connect();
    if (st != B_OK) return st;
    if (PQenterPipelineMode(conn) != 1) return Lost("the connection to the server was lost");
    // What was sent, in order: a prepare (its name) or a statement (empty).
    std::vector<std::string> sent;
    std::set<std::string> preparing;
    bool sendFailed = false;
    for (const Statement& s : list) {
      std::vector<const char*> values;
      std::vector<int> lengths, formats;
      for (const std::string& v : s.params.values) {
        values.push_back(v.data());
        lengths.push_back(static_cast<int>(v.size()));
        formats.push_back(1);
      }
      int n = static_cast<int>(values.size());
      if (s.plain) {
        sendFailed |= PQsendQueryParams(conn, s.sql.c_str(), n, nullptr, values.data(), lengths.data(),
                                        formats.data(), 1) != 1;
      } else {
        if (!prepared.count(s.name) && !preparing.count(s.name)) {
          sendFailed |= PQsendPrepare(conn, s.name.c_str(), s.sql.c_str(), 0, nullptr) != 1;
          preparing.insert(s.name);
          sent.push_back(s.name);
        }
        sendFailed |= PQsendQueryPrepared(conn, s.name.c_str(), n, values.data(), lengths.data(),
                                          formats.data(), 1) != 1;
      }
      sent.push_back("");
    }
    sendFailed |= PQpipelineSync(conn) != 1;
    ++gRoundTrips;
    std::string code, message, failedStatement;
    bool failed = false;
    size_t statementIndex = 0;
    for (size_t i = 0; i < sent.size() && !sendFailed; ++i) {
      PGresult* r = PQgetResult(conn);
      if (r == nullptr) {
        sendFailed = true;
        break;
      }
      Result res(r);
      ExecStatusType t = PQresultStatus(r);
      bool good = t == PGRES_COMMAND_OK || t == PGRES_TUPLES_OK;
      if (!good && t != PGRES_PIPELINE_ABORTED && !failed) {
        failed = true;
        const char* state = PQresultErrorField(r, PG_DIAG_SQLSTATE);
        code = state ? state : "";
        message = Trim(PQresultErrorMessage(r));
        failedStatement = sent[i].empty() ? list[statementIndex].name : sent[i];
      }
      if (!sent[i].empty() && good) prepared.insert(sent[i]);
      if (sent[i].empty()) {
        if (statementIndex + 1 == list.size() && last && out) *out = std::move(res);
        ++statementIndex;
      }
      while (PGresult* extra = PQgetResult(conn)) PQclear(extra);  // the end of this one's results
    }
    if (!sendFailed) {
      // The pipeline's end.
      for (;;) {
        PGresult* r = PQgetResult(conn);
        if (r == nullptr) {
          sendFailed = true;
          break;
        }
        bool sync = PQresultStatus(r) == PGRES_PIPELINE_SYNC;
        PQclear(r);
        if (sync) break;
      }
    }
    if (sendFailed || PQstatus(conn) == CONNECTION_BAD) return Lost("the connection to the server was lost");
    PQexitPipelineMode(conn);
    if (failed) {
      if (inWrite) failedInWrite = true;
      return StatusOf(code, message, failedStatement);
    }
    return B_OK;
  }

  int16_t Query(const std::string& name, const std::string& sql, const Params& p, Result& out) {
    Statement s{name, sql, p, false};
    return Exchange(&s, &out);
  }

  int16_t FileQuery(OpenFile& f, size_t slot, const Params& p, Result& out) {
    return Query("f" + std::to_string(f.id) + "_" + std::to_string(slot), SlotSql(kDialect, f, slot), p, out);
  }
  int16_t KeyQuery(OpenFile& f, int key, KeySlot which, const Params& p, Result& out) {
    return FileQuery(f, static_cast<size_t>(key) * kPerKey + which, p, out);
  }
  int16_t RecordQuery(OpenFile& f, int which, const Params& p, Result& out) {
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
          "'), ('folder', nextval('recman_common.ids')::text), ('changes', '0') ON CONFLICT DO NOTHING; "
          "COMMIT";
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
    // The server's notices (a warning, the reason it is ending the
    // connection) would otherwise be printed on standard error, over the
    // station's screen; what the station needs of them reaches it as the
    // status and the diagnostic of the call that meets them.
    PQsetNoticeProcessor(
        conn, [](void*, const char*) {}, nullptr);
    prepared.clear();
    held.clear();
    lostInWrite = false;
    inWrite = lockedWrite = failedInWrite = false;
    ++epoch;  // what another connection knew is not this one's
    expectedChanges = -1;
    std::string sync = DurabilityForTests() == RecmanDurability::kFull ? "on" : "off";
    // Every statement of the store reaches its rows through a key (a
    // position, an index entry, the next entries after one), which an index
    // answers in a few pages whatever the table's size.  The planner, which
    // knows nothing of a table filled or grown since its last statistics
    // (a folder just copied, the journal during a pass), would otherwise
    // scan and hash whole tables for each batch read ahead: a pass's time
    // would grow with the square of its size.
    const std::string plans =
        "SET enable_seqscan = off; SET enable_hashjoin = off; SET enable_mergejoin = off; ";
    int16_t st = Command(
        plans + "SET client_min_messages = warning; SET lock_timeout = " + std::to_string(busyTimeoutMs) +
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
    // A connection found broken (libpq may learn it between two calls,
    // reading the server's notice) is lost first: inside a transaction that
    // transaction is gone, and no new connection may carry on its writes
    // outside one.  The next connection waits for the rollback.
    if (conn) Lost("the connection to the server was lost");
    if (lostInWrite)
      return NoteFailure(B_IO_ERROR, &dir, "the connection to the server was lost in a transaction");
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

  // BeforeFork: the connection (with the record locks of its session)
  // stays open through a fork, the parent goes on with it.
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
  unsigned ReadAhead() const override { return 64; }
  bool HoldsFolder() const override { return lockedWrite; }
  void SetBusyTimeout(int milliseconds) override {
    busyTimeoutMs = milliseconds;
    if (conn) Command("SET lock_timeout = " + std::to_string(milliseconds));
  }

  // ---- Transactions ----------------------------------------------------------

  // The folder's change number (recman_meta "changes"), one more with
  // every write transaction committed: read with the folder's lock, it
  // tells whether another station committed since this one last knew it.
  int64_t expectedChanges = -1;
  // Moves whenever what this station keeps of the folder may be old:
  // another station's notification, a rollback, a change number not the
  // one expected.  The engine's read-ahead and this store's caches hold
  // while it stands still.
  uint64_t epoch = 1;

  int16_t BeginWrite(bool onlyRead) override {
    if (dir.readOnly && !onlyRead)
      return NoteFailure(B_ACCESS_DENIED, &dir, "the folder is open for reading only", 0, nullptr, 0,
                         Where());
    if (dir.readOnly) return BeginReadTransaction();
    int16_t st = Connect();
    if (st != B_OK) return st;
    ChangeCounter();  // the notifications that came before
    pending.clear();
    counterChanges.clear();
    inWrite = true;
    wrote = false;
    failedInWrite = false;
    Statement begin{"", "BEGIN", Params{}, true};
    pending.push_back(begin);
    Statement lock{"",
                   "SELECT pg_advisory_xact_lock(" + std::to_string(kFolderLockClass) + ", " +
                       std::to_string(static_cast<int32_t>(folderId)) + ")",
                   Params{}, true};
    pending.push_back(lock);
    Statement look{"", "SELECT key, value FROM recman_meta WHERE key IN ('identity', 'changes')", Params{},
                   true};
    Result res;
    st = Exchange(&look, &res);
    std::string id;
    int64_t changes = -1;
    for (int i = 0; st == B_OK && i < res.Rows(); ++i) {
      std::string key = res.Bytes(i, 0), value = res.Bytes(i, 1);
      if (key == "identity") id = value;
      if (key == "changes") changes = std::strtoll(value.c_str(), nullptr, 10);
    }
    if (st == B_OK && id != identity)
      st =
          NoteFailure(B_IO_ERROR, &dir,
                      Where() + " was replaced or deleted since this station opened it: nothing was written");
    if (st != B_OK) {
      Rollback();
      return st;
    }
    if (changes < 0 || changes != expectedChanges) ++epoch;
    expectedChanges = changes;
    lockedWrite = true;
    return B_OK;
  }

  int16_t Commit() override {
    if (!inWrite) return B_OK;
    if (failedInWrite) {
      Rollback();
      return NoteFailure(B_IO_ERROR, &dir,
                         "the server refused a change of the transaction: nothing was kept");
    }
    bool changed = wrote && lockedWrite;
    if (changed) {
      QueueCounterChanges();
      pending.push_back(
          Statement{"changes", "UPDATE recman_meta SET value = (value::int8 + 1)::text WHERE key = 'changes'",
                    Params{}});
      Params channel;
      channel.Bytes("recman_" + std::to_string(folderId));
      pending.push_back(Statement{"notify", "SELECT pg_notify($1::text, '')", channel});
    }
    Statement commit{"", "COMMIT", Params{}, true};
    Result res;
    int16_t st = Exchange(&commit, &res);
    // A transaction the server aborted answers ROLLBACK to the COMMIT.
    if (st == B_OK && std::strcmp(PQcmdStatus(res.r), "COMMIT") != 0)
      st = NoteFailure(B_IO_ERROR, &dir, "the server rolled the transaction back");
    if (st != B_OK) {
      Rollback();
      return st;
    }
    if (changed && expectedChanges >= 0) ++expectedChanges;
    inWrite = lockedWrite = wrote = false;
    return B_OK;
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
    pending.clear();
    counterChanges.clear();
    if (inWrite && !lost && conn) {
      Statement rollback{"", "ROLLBACK", Params{}, true};
      Result ignored;
      inWrite = false;
      Exchange(&rollback, &ignored);
    }
    // What was read or kept inside the transaction may hold its changes.
    if (wrote || lost) {
      ++epoch;
      expectedChanges = -1;
    }
    inWrite = lockedWrite = wrote = failedInWrite = false;
  }

  uint64_t ChangeCounter() override {
    if (conn && PQconsumeInput(conn)) {
      int self = PQbackendPID(conn);
      while (PGnotify* n = PQnotifies(conn)) {
        if (n->be_pid != self) {
          ++epoch;
          expectedChanges = -1;
        }
        PQfreemem(n);
      }
    }
    return epoch;
  }
  // NoteChange: this station's own changes move nothing, the engine mends
  // what it read ahead, this store what it keeps.

  // What this store keeps of a file for the write transactions that hold
  // the folder (and, briefly, for reads outside them): stamped with the
  // epoch it belongs to.
  struct FileCache {
    uint64_t epoch = 0;
    int64_t atMs = 0;
    int64_t records = 0;
    int64_t nextPos = 0;  // 0 when unknown
  };
  std::map<int64_t, FileCache> files;
  // What the open write transaction changed of each file's counters, sent
  // with its commit as one statement per file rather than one per record
  // (the catalog row is the hottest row of the folder).
  struct CounterChange {
    int64_t records = 0;  // records added less records deleted
    int64_t nextPos = 0;  // the next position handed out (0: none)
  };
  std::map<int64_t, CounterChange> counterChanges;
  struct IndexCache {
    uint64_t epoch = 0;
    bool known = false;
    bool empty = true;
    std::string highest;  // no entry of the index lies above it
  };
  std::map<std::pair<int64_t, int>, IndexCache> indexes;

  bool Fresh(uint64_t stamp, int64_t atMs) {
    ChangeCounter();
    if (stamp != epoch) return false;
    return lockedWrite || MonotonicMs() - atMs < 100;
  }

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

  static constexpr const char* kLockedElsewhere =
      "EXISTS(SELECT 1 FROM pg_locks WHERE locktype = 'advisory' AND objsubid = 1"
      " AND database = (SELECT oid FROM pg_database WHERE datname = current_database())"
      " AND classid = (($1::int8 >> 32) & 4294967295)::oid AND objid = ($1::int8 & 4294967295)::oid"
      " AND pid <> pg_backend_pid() AND granted)";

  // Inside a write transaction the question goes with the write it guards,
  // as a shared transaction-level lock on the record's unit: refused while
  // another station holds the record locked (a division by zero, said as
  // 84: the write and its transaction fail), and once taken it keeps other
  // stations from locking the record until the commit.
  bool HeldElsewhere(uint64_t unit) override {
    if (held.count(unit)) return false;  // this station's own lock
    Params p;
    p.Int(static_cast<int64_t>(unit));
    if (inWrite) {
      pending.push_back(Statement{"not_locked", "SELECT 1 / pg_try_advisory_xact_lock_shared($1::int8)::int",
                                  p, false, "", Batch::kNotLocked});
      return false;
    }
    Result res;
    int16_t st = Query("held", std::string("SELECT ") + kLockedElsewhere, p, res);
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
    files.erase(id);
    counterChanges.erase(id);
    return Command(sql);
  }

  int16_t SetOwnerEntry(int64_t id, const std::string& salt, const std::string& hash, int mode) override {
    Params p;
    p.Int(id);
    p.Int(mode);
    if (salt.empty())
      return Write("owner_clear",
                   "UPDATE recman_file SET owner_salt = NULL, owner_hash = NULL, owner_mode = $2::int8"
                   " WHERE id = $1::int8",
                   p);
    p.Bytes(salt);
    p.Bytes(hash);
    return Write(
        "owner_set",
        "UPDATE recman_file SET owner_salt = $3::bytea, owner_hash = $4::bytea, owner_mode = $2::int8"
        " WHERE id = $1::int8",
        p);
  }

  // The counters as the file's cache keeps them, or read (and kept).
  FileCache* Counters(OpenFile& file, int16_t& st) {
    FileCache& c = files[file.id];
    st = B_OK;
    if (Fresh(c.epoch, c.atMs) && c.nextPos > 0) return &c;
    Result res;
    st = RecordQuery(file, kSlotCount, Params{}, res);
    if (st != B_OK) return nullptr;
    if (res.Rows() != 1) {
      st = B_IO_ERROR;
      return nullptr;
    }
    c.records = res.Int(0, 0);
    c.nextPos = res.Int(0, 1);
    // What this transaction changed is not in the catalog until its commit.
    auto changed = counterChanges.find(file.id);
    if (changed != counterChanges.end()) {
      c.records += changed->second.records;
      c.nextPos = std::max(c.nextPos, changed->second.nextPos);
    }
    c.epoch = epoch;
    c.atMs = MonotonicMs();
    return &c;
  }

  int16_t StoredRecordCount(OpenFile& file, int64_t& count) override {
    int16_t st;
    FileCache* c = Counters(file, st);
    if (c) count = c->records;
    return st;
  }

  // Inside the write transaction that holds the folder the next position
  // is this station's to hand out: the catalog learns it with the commit.
  int16_t AllocatePosition(OpenFile& file, bool countRecord, uint64_t& value) override {
    if (!lockedWrite) return B_IO_ERROR;  // only ever inside a write
    int16_t st;
    FileCache* c = Counters(file, st);
    if (!c) return st;
    value = static_cast<uint64_t>(c->nextPos);
    if (value == 0 || value > 0xFFFFFFFFull) return B_DISK_FULL;
    ++c->nextPos;
    if (countRecord) ++c->records;
    wrote = true;
    CounterChange& change = counterChanges[file.id];
    change.nextPos = std::max(change.nextPos, c->nextPos);
    change.records += countRecord ? 1 : 0;
    return B_OK;
  }

  int16_t AddToRecordCount(int64_t fileId, int64_t delta) override {
    auto it = files.find(fileId);
    if (it != files.end()) it->second.records += delta;
    if (inWrite) {
      wrote = true;
      counterChanges[fileId].records += delta;
      return B_OK;
    }
    Params p;
    p.Int(delta);
    p.Int(fileId);
    return Write("count_add", "UPDATE recman_file SET records = records + $1::int8 WHERE id = $2::int8", p);
  }

  // The counters the transaction changed, queued before its commit.
  void QueueCounterChanges() {
    for (const auto& [id, change] : counterChanges) {
      Params p;
      p.Int(id);
      p.Int(change.nextPos);
      p.Int(change.records);
      pending.push_back(Statement{
          "counters_add",
          "UPDATE recman_file SET next_pos = GREATEST(next_pos, $2::int8), records = records + $3::int8"
          " WHERE id = $1::int8",
          p});
    }
    counterChanges.clear();
  }

  int16_t SetCounters(int64_t fileId, int64_t records, int64_t nextPos) override {
    files.erase(fileId);
    counterChanges.erase(fileId);  // what came before is replaced
    Params p;
    p.Int(records);
    p.Int(nextPos);
    p.Int(fileId);
    return Write("counters_set",
                 "UPDATE recman_file SET records = $1::int8, next_pos = $2::int8 WHERE id = $3::int8", p);
  }

  // ForgetFile: the statements are the connection's, prepared once.

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
    KeySlot slot = FetchSlot(how);
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

  // With the index's highest entry known (inside the write transaction
  // that holds the folder), an entry above it is not there: a file whose
  // records come in key order (the settlement journal) asks nothing.
  int16_t FindIndexEntry(OpenFile& file, int key, const std::string& entry, uint32_t& pos,
                         bool& found) override {
    found = false;
    IndexCache& c = indexes[{file.id, key}];
    if (lockedWrite && c.known && Fresh(c.epoch, 0) && (c.empty || entry > c.highest)) return B_OK;
    Params p;
    p.Bytes(entry);
    Result res;
    int16_t st = KeyQuery(file, key, kSlotExact, p, res);
    if (st != B_OK || res.Rows() != 1) return st;
    if (lockedWrite) {
      c.epoch = epoch;
      c.known = true;
      c.empty = res.Null(0, 1);
      c.highest = c.empty ? std::string() : res.Bytes(0, 1);
    }
    if (res.Null(0, 0)) return B_OK;
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

  int16_t FileWrite(OpenFile& f, size_t slot, const Params& p) {
    const size_t keySlots = f.spec.keys.size() * kPerKey;
    Statement s{"f" + std::to_string(f.id) + "_" + std::to_string(slot), SlotSql(kDialect, f, slot), p};
    if (slot < keySlots) {
      s.table = IndexTable(f.id, static_cast<int>(slot / kPerKey));
      if (slot % kPerKey == kSlotDelete) s.batch = Batch::kDeleteByEntry;
    } else {
      s.table = Table(f.id);
      if (slot - keySlots == kSlotDeleteRow) s.batch = Batch::kDeleteByPosition;
    }
    return Write(s);
  }

  int16_t InsertIndexEntry(OpenFile& file, int key, const std::string& entry, uint32_t pos) override {
    IndexCache& c = indexes[{file.id, key}];
    if (c.known && (c.empty || entry > c.highest)) {
      c.empty = false;
      c.highest = entry;
    }
    Params p;
    p.Bytes(entry);
    p.Int(pos);
    return FileWrite(file, static_cast<size_t>(key) * kPerKey + kSlotInsert, p);
  }

  // The highest entry stays an upper bound when it is deleted.
  int16_t DeleteIndexEntry(OpenFile& file, int key, const std::string& entry) override {
    Params p;
    p.Bytes(entry);
    return FileWrite(file, static_cast<size_t>(key) * kPerKey + kSlotDelete, p);
  }

  int16_t WriteRecordRow(OpenFile& file, RowWrite how, uint32_t pos, int64_t version, const std::string& data,
                         const std::string& sequences, uint32_t checksum) override {
    RowSlot slot = how == RowWrite::kInsert ? kSlotInsertRow : kSlotUpdateRow;
    Params p;
    p.Int(pos);
    p.Int(version);
    p.Bytes(data);
    p.Bytes(sequences);
    p.Int(checksum);
    return FileWrite(file, file.spec.keys.size() * kPerKey + slot, p);
  }

  int16_t DeleteRecordRow(OpenFile& file, uint32_t pos) override {
    Params p;
    p.Int(pos);
    return FileWrite(file, file.spec.keys.size() * kPerKey + kSlotDeleteRow, p);
  }
};

}  // namespace

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

}  // namespace recman

uint64_t RecmanServerRoundTrips() { return recman::gRoundTrips.load(); }
