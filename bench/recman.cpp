// Record manager benchmark: a file of 100,000 records of 428 bytes with a
// 4-byte key, read along the key, looked up by key, updated and deleted,
// inside and outside transactions.
//
// BM_GetNextAgainstPlain and BM_UpdateInTransactionAgainstPlain time the
// same work on plain SQLite beside the engine's, in turns of 1000: a table
// of the same records with the key's bytes as an indexed BLOB and the
// engine's pragmas; get next against an open SQLite cursor, update inside a
// transaction against an UPDATE by rowid.  Counters: engine_ns and
// plain_ns a record (CPU time of the calling thread) and their ratio.
//
// Outside a transaction every update or delete is a commit of its own and
// waits for the disk (synchronous=FULL, the default); the ".../normal"
// variants use a directory opened with synchronous=NORMAL to show
// what the fsync costs.
#include "recman/recman.h"

#include <benchmark/benchmark.h>
#include <ftw.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <time.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "platform/le.h"
#include "recman/testing.h"

namespace {

constexpr uint32_t kRecords = 100000;
constexpr uint16_t kLength = 428;

struct Pb {
  uint8_t b[kPositionBlockSize] = {};
};

int16_t Call(uint16_t op, Pb& pb, void* data, uint32_t len, void* key, int8_t kn = 0) {
  uint32_t l = len;
  return BTRCALL(op, pb.b, data, &l, key, 255, kn);
}

std::string Record(uint32_t id, char fill) {
  std::string r(kLength, fill);
  std::memcpy(r.data(), &id, 4);
  return r;
}

// The benchmark's directories, removed when the program ends.
struct Directories {
  std::vector<std::string> paths;
  ~Directories() {
    for (const std::string& p : paths)
      nftw(
          p.c_str(), [](const char* f, const struct stat*, int, struct FTW*) { return remove(f); }, 16,
          FTW_DEPTH | FTW_PHYS);
  }
} gDirectories;

std::string MakeFile(const char* sync) {
  char tmpl[] = "/tmp/recman-bench-XXXXXX";
  std::string dir = mkdtemp(tmpl);
  gDirectories.paths.push_back(dir);
  RecmanSetDurabilityForTests(std::string(sync) == "NORMAL" ? RecmanDurability::kNormal
                                                            : RecmanDurability::kFull);
  std::string path = dir + "/PROPIETH.dat";
  std::string spec(32, '\0');
  PutLe16(spec.data(), kLength);
  spec[2] = 0x00;
  spec[3] = 0x10;  // page size 4096
  spec[4] = 1;
  spec[16] = 1;  // key at position 1
  spec[18] = 4;  // length 4
  spec[20] = KF_BINARY;
  Pb scratch;
  uint32_t len = static_cast<uint32_t>(spec.size());
  BTRCALL(B_CREATE, scratch.b, spec.data(), &len, path.data(), static_cast<uint8_t>(path.size()),
          kCreateNoReplace);
  Pb pb;
  char owner[1] = {0};
  len = 1;
  BTRCALL(B_OPEN, pb.b, owner, &len, path.data(), static_cast<uint8_t>(path.size()), 0);
  char key[256];
  Call(B_BEGIN_TRANS, scratch, nullptr, 0, nullptr);
  for (uint32_t id = 1; id <= kRecords; ++id) {
    std::string r = Record(id, 'r');
    Call(B_INSERT, pb, r.data(), kLength, key);
  }
  Call(B_END_TRANS, scratch, nullptr, 0, nullptr);
  Call(B_CLOSE, pb, nullptr, 0, nullptr);
  RecmanSetDurabilityForTests(RecmanDurability::kFull);
  return path;
}

const std::string& FileFor(bool normal) {
  static std::string full, norm;
  std::string& p = normal ? norm : full;
  if (p.empty()) p = MakeFile(normal ? "NORMAL" : "FULL");
  return p;
}

void OpenFile(Pb& pb, const std::string& path) {
  char owner[1] = {0};
  uint32_t len = 1;
  std::string p = path;
  BTRCALL(B_OPEN, pb.b, owner, &len, p.data(), static_cast<uint8_t>(p.size()), 0);
}

// One benchmark's open file: its position block, a record buffer, a key
// buffer, and a second block for the transaction calls.
struct Bench {
  Pb pb, scratch;
  std::string data = std::string(1536, ' ');
  char key[256] = {};
  explicit Bench(bool normal = false) { OpenFile(pb, FileFor(normal)); }
  ~Bench() { Call(B_CLOSE, pb, nullptr, 0, nullptr); }
  int16_t Get(uint16_t op) { return Call(op, pb, data.data(), 1536, key); }
  int16_t GetEqual(uint32_t id) {
    std::memcpy(key, &id, 4);
    return Get(B_GET_EQUAL);
  }
  int16_t Write(uint16_t op, std::string& record) { return Call(op, pb, record.data(), kLength, key); }
  int16_t Delete() { return Call(B_DELETE, pb, nullptr, 0, key); }
  void Transaction(uint16_t op) { Call(op, scratch, nullptr, 0, nullptr); }
  // Ends the transaction (commit or abort) and begins the next.
  void Renew(uint16_t end) {
    Transaction(end);
    Transaction(B_BEGIN_TRANS);
  }
};

void BM_GetNext(benchmark::State& state) {
  Bench b;
  b.Get(B_GET_FIRST);
  for (auto _ : state) {
    if (b.Get(B_GET_NEXT) != B_OK) b.Get(B_GET_FIRST);
    benchmark::DoNotOptimize(b.data.data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_GetNext);

void BM_GetEqual(benchmark::State& state) {
  Bench b;
  std::vector<uint32_t> ids(4096);
  std::mt19937 rng(1);
  for (uint32_t& id : ids) id = 1 + rng() % kRecords;
  size_t i = 0;
  for (auto _ : state)
    if (b.GetEqual(ids[i++ & 4095]) != B_OK) state.SkipWithError("get equal failed");
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_GetEqual);

// Updates of the current record inside a transaction committed every 1000.
void BM_UpdateInTransaction(benchmark::State& state) {
  Bench b;
  b.GetEqual(5000);
  std::string rec = Record(5000, 'u');
  b.Transaction(B_BEGIN_TRANS);
  uint64_t n = 0;
  for (auto _ : state) {
    rec[100] = static_cast<char>(n);
    if (b.Write(B_UPDATE, rec) != B_OK) state.SkipWithError("update failed");
    if (++n % 1000 == 0) b.Renew(B_END_TRANS);
  }
  b.Transaction(B_END_TRANS);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_UpdateInTransaction);

// Get next and update of each record in turn, inside a transaction.
void BM_GetNextUpdateInTransaction(benchmark::State& state) {
  Bench b;
  b.Get(B_GET_FIRST);
  b.Transaction(B_BEGIN_TRANS);
  uint64_t n = 0;
  for (auto _ : state) {
    if (b.Get(B_GET_NEXT) != B_OK) b.Get(B_GET_FIRST);
    b.data[200] = static_cast<char>(n);
    if (b.Write(B_UPDATE, b.data) != B_OK) state.SkipWithError("update failed");
    if (++n % 1000 == 0) b.Renew(B_END_TRANS);
  }
  b.Transaction(B_END_TRANS);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_GetNextUpdateInTransaction);

// Deletes inside a transaction, with or without the get next that moves on to the record that followed in the
// timing.  Every 1000 deletes the transaction is aborted, so the file keeps its records for the next run.
void DeleteInTransaction(benchmark::State& state, bool stepTimed) {
  Bench b;
  b.Transaction(B_BEGIN_TRANS);
  b.Get(B_GET_FIRST);
  uint64_t n = 0;
  for (auto _ : state) {
    if (b.Delete() != B_OK) state.SkipWithError("delete failed");
    if (!stepTimed) state.PauseTiming();
    if (b.Get(B_GET_NEXT) != B_OK || ++n % 1000 == 0) {
      b.Renew(B_ABORT_TRANS);
      b.Get(B_GET_FIRST);
    }
    if (!stepTimed) state.ResumeTiming();
  }
  b.Transaction(B_ABORT_TRANS);
  state.SetItemsProcessed(state.iterations());
}
void BM_DeleteInTransaction(benchmark::State& state) { DeleteInTransaction(state, false); }
void BM_GetNextDeleteInTransaction(benchmark::State& state) { DeleteInTransaction(state, true); }
BENCHMARK(BM_DeleteInTransaction);
BENCHMARK(BM_GetNextDeleteInTransaction);

// Outside a transaction: every update is its own commit.
void BM_UpdateNoTransaction(benchmark::State& state) {
  bool normal = state.range(0) != 0;
  Bench b(normal);
  b.GetEqual(7000);
  std::string rec = Record(7000, 'v');
  uint64_t n = 0;
  for (auto _ : state) {
    rec[100] = static_cast<char>(n++);
    if (b.Write(B_UPDATE, rec) != B_OK) state.SkipWithError("update failed");
  }
  state.SetItemsProcessed(state.iterations());
  state.SetLabel(normal ? "synchronous=NORMAL" : "synchronous=FULL");
}
BENCHMARK(BM_UpdateNoTransaction)->Arg(0)->Arg(1)->Iterations(300);

// Outside a transaction: delete and insert back, each its own commit.
void BM_DeleteNoTransaction(benchmark::State& state) {
  bool normal = state.range(0) != 0;
  Bench b(normal);
  std::string rec = Record(9000, 'd');
  for (auto _ : state) {
    b.GetEqual(9000);
    if (b.Delete() != B_OK) state.SkipWithError("delete failed");
    state.PauseTiming();
    b.Write(B_INSERT, rec);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations());
  state.SetLabel(normal ? "synchronous=NORMAL" : "synchronous=FULL");
}
BENCHMARK(BM_DeleteNoTransaction)->Arg(0)->Arg(1)->Iterations(300);

// ---- Against plain SQLite ------------------------------------------------------

// The same records in a plain SQLite table: the rowid as the position, the
// record, and the key's bytes (high byte first, so that SQLite's BLOB order
// is the key's) in an indexed column; the engine's pragmas.
struct PlainTable {
  sqlite3* db = nullptr;
  PlainTable() {
    char tmpl[] = "/tmp/recman-bench-plain-XXXXXX";
    std::string dir = mkdtemp(tmpl);
    gDirectories.paths.push_back(dir);
    sqlite3_open((dir + "/plain.db").c_str(), &db);
    for (const char* pragma :
         {"PRAGMA journal_mode=WAL", "PRAGMA synchronous=FULL", "PRAGMA wal_autocheckpoint=1000",
          "PRAGMA cache_size=-8192", "PRAGMA mmap_size=268435456", "PRAGMA temp_store=MEMORY"})
      sqlite3_exec(db, pragma, nullptr, nullptr, nullptr);
    sqlite3_exec(db, "CREATE TABLE r (rowid_ INTEGER PRIMARY KEY, data BLOB, k0 BLOB); BEGIN", nullptr,
                 nullptr, nullptr);
    sqlite3_stmt* s = Prepare("INSERT INTO r VALUES (?1, ?2, ?3)");
    for (uint32_t id = 1; id <= kRecords; ++id) {
      std::string r = Record(id, 'r');
      Bind(s, id, r);
      sqlite3_step(s);
      sqlite3_reset(s);
    }
    sqlite3_finalize(s);
    sqlite3_exec(db, "CREATE INDEX r_k0 ON r (k0); COMMIT", nullptr, nullptr, nullptr);
  }
  ~PlainTable() { sqlite3_close(db); }
  sqlite3_stmt* Prepare(const char* sql) {
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &s, nullptr);
    return s;
  }
  // ?1 the rowid, ?2 the record, ?3 its key's bytes.
  static void Bind(sqlite3_stmt* s, int64_t rowid, const std::string& record) {
    uint8_t key[4];
    for (int i = 0; i < 4; ++i) key[i] = static_cast<uint8_t>(record[static_cast<size_t>(3 - i)]);
    sqlite3_bind_int64(s, 1, rowid);
    sqlite3_bind_blob(s, 2, record.data(), static_cast<int>(record.size()), SQLITE_STATIC);
    sqlite3_bind_blob(s, 3, key, 4, SQLITE_TRANSIENT);
  }
};

// The calling thread's CPU time: on a shared machine the wall clock counts
// the other programs too.
int64_t NowNs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// Engine and plain SQLite in turns of kTurn records; the counters.
constexpr int kTurn = 1000;
template <typename Engine, typename Plain>
void AgainstPlain(benchmark::State& state, Engine engine, Plain plainSqlite) {
  int64_t engineNs = 0, plainNs = 0, records = 0;
  for (auto _ : state) {
    int64_t t0 = NowNs();
    for (int i = 0; i < kTurn; ++i) engine();
    int64_t t1 = NowNs();
    for (int i = 0; i < kTurn; ++i) plainSqlite();
    engineNs += t1 - t0;
    plainNs += NowNs() - t1;
    records += kTurn;
  }
  state.counters["engine_ns"] = static_cast<double>(engineNs) / static_cast<double>(records);
  state.counters["plain_ns"] = static_cast<double>(plainNs) / static_cast<double>(records);
  state.counters["ratio"] = plainNs > 0 ? static_cast<double>(engineNs) / static_cast<double>(plainNs) : 0.0;
  state.SetItemsProcessed(2 * records);
}

void BM_GetNextAgainstPlain(benchmark::State& state) {
  Bench b;
  b.Get(B_GET_FIRST);
  PlainTable plainTable;
  sqlite3_stmt* cursor =
      plainTable.Prepare("SELECT rowid_, data, k0 FROM r WHERE k0 IS NOT NULL ORDER BY k0");
  std::string buffer(1536, ' ');
  AgainstPlain(
      state,
      [&] {
        if (b.Get(B_GET_NEXT) != B_OK) b.Get(B_GET_FIRST);
        benchmark::DoNotOptimize(b.data.data());
      },
      [&] {
        if (sqlite3_step(cursor) != SQLITE_ROW) {
          sqlite3_reset(cursor);
          sqlite3_step(cursor);
        }
        // The record into the caller's buffer, as the engine hands it.
        std::memcpy(buffer.data(), sqlite3_column_blob(cursor, 1),
                    static_cast<size_t>(sqlite3_column_bytes(cursor, 1)));
        benchmark::DoNotOptimize(buffer.data());
      });
  sqlite3_finalize(cursor);
}
BENCHMARK(BM_GetNextAgainstPlain);

void BM_UpdateInTransactionAgainstPlain(benchmark::State& state) {
  Bench b;
  b.GetEqual(5000);
  std::string rec = Record(5000, 'u');
  PlainTable plainTable;
  // The key stays as it is: a plain program writes the record only.
  sqlite3_stmt* update = plainTable.Prepare("UPDATE r SET data = ?2 WHERE rowid_ = ?1");
  std::string plainRec = Record(5000, 'u');
  b.Transaction(B_BEGIN_TRANS);
  sqlite3_exec(plainTable.db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
  uint64_t n = 0, p = 0;
  AgainstPlain(
      state,
      [&] {
        rec[100] = static_cast<char>(n);
        if (b.Write(B_UPDATE, rec) != B_OK) state.SkipWithError("update failed");
        if (++n % 1000 == 0) b.Renew(B_END_TRANS);
      },
      [&] {
        plainRec[100] = static_cast<char>(p);
        sqlite3_bind_int64(update, 1, 5000);
        sqlite3_bind_blob(update, 2, plainRec.data(), static_cast<int>(plainRec.size()), SQLITE_STATIC);
        if (sqlite3_step(update) != SQLITE_DONE) state.SkipWithError("plain update failed");
        sqlite3_reset(update);
        if (++p % 1000 == 0)
          sqlite3_exec(plainTable.db, "COMMIT; BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
      });
  b.Transaction(B_END_TRANS);
  sqlite3_exec(plainTable.db, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_finalize(update);
}
BENCHMARK(BM_UpdateInTransactionAgainstPlain);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  uint8_t scratch[kPositionBlockSize] = {};
  uint32_t len = 0;
  BTRCALL(B_RESET, scratch, nullptr, &len, nullptr, 0, 0);
  return 0;
}
