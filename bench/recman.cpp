// Record manager benchmark: a file of 100,000 records of 428 bytes with a
// 4-byte key, read along the key, looked up by key, updated and deleted,
// inside and outside transactions.
//
// Outside a transaction every update or delete is a commit of its own and
// waits for the disk (synchronous=FULL, the default); the ".../normal"
// variants use a directory opened with RECMAN_SYNCHRONOUS=NORMAL to show
// what the fsync costs.
#include <benchmark/benchmark.h>
#include <ftw.h>
#include <stdlib.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "recman/recman.h"

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
      nftw(p.c_str(), [](const char* f, const struct stat*, int, struct FTW*) { return remove(f); }, 16,
           FTW_DEPTH | FTW_PHYS);
  }
} gDirectories;

std::string MakeFile(const char* sync) {
  char tmpl[] = "/tmp/recman-bench-XXXXXX";
  std::string dir = mkdtemp(tmpl);
  gDirectories.paths.push_back(dir);
  setenv("RECMAN_SYNCHRONOUS", sync, 1);
  std::string path = dir + "/PROPIETH.dat";
  std::string spec(32, '\0');
  spec[0] = static_cast<char>(kLength & 0xFF);
  spec[1] = static_cast<char>(kLength >> 8);
  spec[2] = 0x00;
  spec[3] = 0x10;  // page size 4096
  spec[4] = 1;
  spec[16] = 1;    // key at position 1
  spec[18] = 4;    // length 4
  spec[20] = KF_BINARY;
  Pb scratch;
  uint32_t len = static_cast<uint32_t>(spec.size());
  BTRCALL(B_CREATE, scratch.b, spec.data(), &len, path.data(), static_cast<uint8_t>(path.size()), kCreateNoReplace);
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
  unsetenv("RECMAN_SYNCHRONOUS");
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

void BM_GetNext(benchmark::State& state) {
  Pb pb;
  OpenFile(pb, FileFor(false));
  std::string data(1536, ' ');
  char key[256] = {};
  Call(B_GET_FIRST, pb, data.data(), 1536, key);
  for (auto _ : state) {
    if (Call(B_GET_NEXT, pb, data.data(), 1536, key) != B_OK) Call(B_GET_FIRST, pb, data.data(), 1536, key);
    benchmark::DoNotOptimize(data.data());
  }
  state.SetItemsProcessed(state.iterations());
  Call(B_CLOSE, pb, nullptr, 0, nullptr);
}
BENCHMARK(BM_GetNext);

void BM_GetEqual(benchmark::State& state) {
  Pb pb;
  OpenFile(pb, FileFor(false));
  std::string data(1536, ' ');
  std::vector<uint32_t> ids(4096);
  std::mt19937 rng(1);
  for (uint32_t& id : ids) id = 1 + rng() % kRecords;
  char key[256] = {};
  size_t i = 0;
  for (auto _ : state) {
    std::memcpy(key, &ids[i++ & 4095], 4);
    if (Call(B_GET_EQUAL, pb, data.data(), 1536, key) != B_OK) state.SkipWithError("get equal failed");
  }
  state.SetItemsProcessed(state.iterations());
  Call(B_CLOSE, pb, nullptr, 0, nullptr);
}
BENCHMARK(BM_GetEqual);

// Updates of the current record inside a transaction committed every 1000.
void BM_UpdateInTransaction(benchmark::State& state) {
  Pb pb, scratch;
  OpenFile(pb, FileFor(false));
  std::string data(1536, ' ');
  char key[256] = {};
  uint32_t id = 5000;
  std::memcpy(key, &id, 4);
  Call(B_GET_EQUAL, pb, data.data(), 1536, key);
  std::string rec = Record(id, 'u');
  Call(B_BEGIN_TRANS, scratch, nullptr, 0, nullptr);
  uint64_t n = 0;
  for (auto _ : state) {
    rec[100] = static_cast<char>(n);
    if (Call(B_UPDATE, pb, rec.data(), kLength, key) != B_OK) state.SkipWithError("update failed");
    if (++n % 1000 == 0) {
      Call(B_END_TRANS, scratch, nullptr, 0, nullptr);
      Call(B_BEGIN_TRANS, scratch, nullptr, 0, nullptr);
    }
  }
  Call(B_END_TRANS, scratch, nullptr, 0, nullptr);
  state.SetItemsProcessed(state.iterations());
  Call(B_CLOSE, pb, nullptr, 0, nullptr);
}
BENCHMARK(BM_UpdateInTransaction);

// Get next and update of each record in turn, inside a transaction.
void BM_GetNextUpdateInTransaction(benchmark::State& state) {
  Pb pb, scratch;
  OpenFile(pb, FileFor(false));
  std::string data(1536, ' ');
  char key[256] = {};
  Call(B_GET_FIRST, pb, data.data(), 1536, key);
  Call(B_BEGIN_TRANS, scratch, nullptr, 0, nullptr);
  uint64_t n = 0;
  for (auto _ : state) {
    if (Call(B_GET_NEXT, pb, data.data(), 1536, key) != B_OK) Call(B_GET_FIRST, pb, data.data(), 1536, key);
    data[200] = static_cast<char>(n);
    if (Call(B_UPDATE, pb, data.data(), kLength, key) != B_OK) state.SkipWithError("update failed");
    if (++n % 1000 == 0) {
      Call(B_END_TRANS, scratch, nullptr, 0, nullptr);
      Call(B_BEGIN_TRANS, scratch, nullptr, 0, nullptr);
    }
  }
  Call(B_END_TRANS, scratch, nullptr, 0, nullptr);
  state.SetItemsProcessed(state.iterations());
  Call(B_CLOSE, pb, nullptr, 0, nullptr);
}
BENCHMARK(BM_GetNextUpdateInTransaction);

// Deletes inside a transaction.  Only the delete is timed; moving on to the
// record that followed (get next) is not.  Every 1000 deletes the
// transaction is aborted, so the file keeps its records for the next run.
void BM_DeleteInTransaction(benchmark::State& state) {
  Pb pb, scratch;
  OpenFile(pb, FileFor(false));
  std::string data(1536, ' ');
  char key[256] = {};
  Call(B_BEGIN_TRANS, scratch, nullptr, 0, nullptr);
  Call(B_GET_FIRST, pb, data.data(), 1536, key);
  uint64_t n = 0;
  for (auto _ : state) {
    if (Call(B_DELETE, pb, nullptr, 0, key) != B_OK) state.SkipWithError("delete failed");
    state.PauseTiming();
    if (Call(B_GET_NEXT, pb, data.data(), 1536, key) != B_OK || ++n % 1000 == 0) {
      Call(B_ABORT_TRANS, scratch, nullptr, 0, nullptr);
      Call(B_BEGIN_TRANS, scratch, nullptr, 0, nullptr);
      Call(B_GET_FIRST, pb, data.data(), 1536, key);
    }
    state.ResumeTiming();
  }
  Call(B_ABORT_TRANS, scratch, nullptr, 0, nullptr);
  state.SetItemsProcessed(state.iterations());
  Call(B_CLOSE, pb, nullptr, 0, nullptr);
}
BENCHMARK(BM_DeleteInTransaction);

// Get next and delete, both timed, inside a transaction.
void BM_GetNextDeleteInTransaction(benchmark::State& state) {
  Pb pb, scratch;
  OpenFile(pb, FileFor(false));
  std::string data(1536, ' ');
  char key[256] = {};
  Call(B_BEGIN_TRANS, scratch, nullptr, 0, nullptr);
  Call(B_GET_FIRST, pb, data.data(), 1536, key);
  uint64_t n = 0;
  for (auto _ : state) {
    if (Call(B_DELETE, pb, nullptr, 0, key) != B_OK) state.SkipWithError("delete failed");
    if (Call(B_GET_NEXT, pb, data.data(), 1536, key) != B_OK || ++n % 1000 == 0) {
      Call(B_ABORT_TRANS, scratch, nullptr, 0, nullptr);
      Call(B_BEGIN_TRANS, scratch, nullptr, 0, nullptr);
      Call(B_GET_FIRST, pb, data.data(), 1536, key);
    }
  }
  Call(B_ABORT_TRANS, scratch, nullptr, 0, nullptr);
  state.SetItemsProcessed(state.iterations());
  Call(B_CLOSE, pb, nullptr, 0, nullptr);
}
BENCHMARK(BM_GetNextDeleteInTransaction);

// Outside a transaction: every update is its own commit.
void BM_UpdateNoTransaction(benchmark::State& state) {
  bool normal = state.range(0) != 0;
  Pb pb;
  OpenFile(pb, FileFor(normal));
  std::string data(1536, ' ');
  char key[256] = {};
  uint32_t id = 7000;
  std::memcpy(key, &id, 4);
  Call(B_GET_EQUAL, pb, data.data(), 1536, key);
  std::string rec = Record(id, 'v');
  uint64_t n = 0;
  for (auto _ : state) {
    rec[100] = static_cast<char>(n++);
    if (Call(B_UPDATE, pb, rec.data(), kLength, key) != B_OK) state.SkipWithError("update failed");
  }
  state.SetItemsProcessed(state.iterations());
  state.SetLabel(normal ? "synchronous=NORMAL" : "synchronous=FULL");
  Call(B_CLOSE, pb, nullptr, 0, nullptr);
}
BENCHMARK(BM_UpdateNoTransaction)->Arg(0)->Arg(1)->Iterations(300);

// Outside a transaction: delete and insert back, each its own commit.
void BM_DeleteNoTransaction(benchmark::State& state) {
  bool normal = state.range(0) != 0;
  Pb pb;
  OpenFile(pb, FileFor(normal));
  std::string data(1536, ' ');
  char key[256] = {};
  uint32_t id = 9000;
  std::string rec = Record(id, 'd');
  for (auto _ : state) {
    std::memcpy(key, &id, 4);
    Call(B_GET_EQUAL, pb, data.data(), 1536, key);
    if (Call(B_DELETE, pb, nullptr, 0, key) != B_OK) state.SkipWithError("delete failed");
    state.PauseTiming();
    Call(B_INSERT, pb, rec.data(), kLength, key);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations());
  state.SetLabel(normal ? "synchronous=NORMAL" : "synchronous=FULL");
  Call(B_CLOSE, pb, nullptr, 0, nullptr);
}
BENCHMARK(BM_DeleteNoTransaction)->Arg(0)->Arg(1)->Iterations(300);

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
