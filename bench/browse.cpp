// browse.cpp - how long the browse list takes to open and to page over a
// large file.
//
// A property file of 100,000 records is created once in a temporary suite
// root (key 0: the property code and a 4-byte serial, so that codes may
// repeat), and the list runs on the virtual console.  Because lines are
// built on demand, opening the list and paging read only the records of
// the pages shown, whatever the size of the file:
//   BM_BrowseOpenFirstPage   open the list, draw the first page, leave
//   BM_BrowsePageDown/N      open, N x PgDn, leave (time per PgDn reported
//                            as items per second)
#include "screen/browse.h"

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

#include "data/data.h"
#include "input/dates.h"
#include "input/keys.h"
#include "platform/console.h"
#include "platform/le.h"
#include "platform/platform.h"
#include "recman/recman.h"
#include "screen/form.h"
#include "screen/hooks.h"
#include "screen/windows.h"
#include "session/session.h"
#include "settle/hooks.h"
#include "settle/records.h"

namespace {

constexpr int kRecords = 100000;
constexpr int kIdlePolls = 40;

struct BenchSuite {
  std::string dir;
  std::map<std::string, std::string> environment;
  bool ready = false;
};
BenchSuite Suite;

void PutWord(std::string& buffer, size_t at, uint16_t value) { PutLe16(buffer.data() + at, value); }

// The dictionary of the bench's property file: 388-byte records, key 0 =
// bytes 1..6 (code and serial), unique.
std::string Dictionary() {
  std::string spec(16, '\0');
  PutWord(spec, 0, 388);
  PutWord(spec, 2, 4096);
  spec[4] = 1;
  std::string key(16, '\0');
  PutWord(key, 0, 1);
  PutWord(key, 2, 6);
  spec += key;
  std::string out(2, '\0');
  PutWord(out, 0, static_cast<uint16_t>(spec.size()));
  return out + spec;
}

bool Insert() {
  int slot = FindSlot(kFileProperties);
  if (slot <= 0) return false;
  std::string data(reinterpret_cast<const char*>(FinquesH), sizeof FinquesH);
  uint32_t length = static_cast<uint32_t>(data.size());
  data.resize(kDataBufferSize, ' ');
  char key[kKeyBufferSize] = {};
  return BTRCALL(B_INSERT, DataFiles.slots[slot].positionBlock, data.data(), &length, key, 255, 0) == 0;
}

bool Prepare() {
  if (Suite.ready) return true;
  char pattern[] = "/tmp/bench_browse_XXXXXX";
  if (!mkdtemp(pattern)) return false;
  Suite.dir = pattern;
  std::string root = Suite.dir + "/";
  for (const char* sub : {"DADES", "ddf", "TMP"}) std::filesystem::create_directories(root + sub);
  if (!WriteWholeFile(root + "ddf/FinquesH.xdf", Dictionary())) return false;
  ChangeDirectory(Suite.dir);
  Suite.environment["KALROOT"] = root;
  Platform.environment = &Suite.environment;
  Session = SessionState{};
  Session.root = root;
  Session.tempDir = root + "TMP/";
  Session.terminalDir = root + "TMP/";
  Session.language = "CAT";
  ConsoleStartVirtual();
  ResetWindows();
  Keyboard = KeyboardState{};
  InstallScreenHooks();  // as the program does at start
  InstallSettlementHooks();

  int16_t status = -1;
  OpenDataFile(status, FinquesH, root + "DADES\\FinquesH", kFileProperties);
  if (status != 0) return false;
  if (BeginTransaction() != 0) return false;
  for (int i = 1; i <= kRecords; ++i) {
    ClearPropertyRecord();
    SetPropertyCode(PackDigits(ZeroPad(i % 10000, 4)));
    for (int b = 0; b < 4; ++b) FinquesH[2 + b] = static_cast<unsigned char>((i >> (8 * (3 - b))) & 0xFF);
    char description[40];
    std::snprintf(description, sizeof description, "COMUNITAT DE PROPIETARIS %06d", i);
    SetPropertyDescription(description);
    if (!Insert()) return false;
  }
  if (EndTransaction() != 0) return false;

  CreateFormTables(1, 1);
  CreateBrowseTables(1);
  BrowseDefinition& b = Browse(1);
  b.BrowseFile = kFileProperties;
  b.BrowseKey = 0;
  b.BrowseBox[0] = 5;
  b.BrowseBox[1] = 20;
  b.BrowseBox[2] = 20;
  b.BrowseBox[3] = 70;
  b.BrowseTitle = "_FINQUES_";
  Suite.ready = true;
  return true;
}

// Keys typed while the list waits (no key is waiting during a scan).
void Type(int key) {
  for (int i = 0; i < kIdlePolls; ++i) Console.scripted.push_back(ConsoleEvent{});
  VirtualPushKey(key);
}

void BM_BrowseOpenFirstPage(benchmark::State& state) {
  if (!Prepare()) {
    state.SkipWithError("could not build the 100,000-record property file");
    return;
  }
  for (auto _ : state) {
    Type(kKeyEsc);
    int16_t cancelled = 0;
    BrowseList(1, cancelled);
    benchmark::DoNotOptimize(cancelled);
  }
}
BENCHMARK(BM_BrowseOpenFirstPage)->Unit(benchmark::kMicrosecond);

void BM_BrowsePageDown(benchmark::State& state) {
  if (!Prepare()) {
    state.SkipWithError("could not build the 100,000-record property file");
    return;
  }
  const int pages = static_cast<int>(state.range(0));
  for (auto _ : state) {
    for (int i = 0; i < pages; ++i) Type(kKeyPgDn);
    Type(kKeyEnter);
    int16_t cancelled = -1;
    BrowseList(1, cancelled);
    if (cancelled != 0) state.SkipWithError("no record picked");
  }
  state.SetItemsProcessed(state.iterations() * pages);
}
BENCHMARK(BM_BrowsePageDown)->Arg(1)->Arg(10)->Arg(100)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (!Suite.dir.empty()) {
    int16_t status = 0;
    ResetDataFiles(status);
    ChangeDirectory("/");
    std::filesystem::remove_all(Suite.dir);
  }
  return 0;
}
