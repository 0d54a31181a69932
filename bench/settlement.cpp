// settlement.cpp - how long a settlement pass takes over a large suite, how
// many operations a second it makes and how much memory it needs.
//
//   BM_SettlementPass/P/O/C/N   settles P properties with O owners each,
//                               C collections per owner and N payments per
//                               property, all dated before the settlement
//                               date or just after it
//
// The data is generated (tools/demodata's generator) into a fresh suite root
// in a temporary folder before each run; only the pass is timed.  Counters:
//   operations/s    the pass's record operations (reads, steps, updates,
//                   deletes, key locks, transaction steps) per second
//   engine_calls/s  calls of the record manager's entry point per second
//   peak_rss_MiB    the process's peak resident memory (getrusage), which
//                   includes the generation before the pass
//   pass_peak_rss_MiB  the peak during the pass alone (Linux: the resident
//                   high-water mark reset just before it)
// The record manager keeps its usual durability (synchronous=FULL) unless
// RECMAN_SYNCHRONOUS says otherwise.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/language.h"
#include "app/session.h"
#include "data/data.h"
#include "data/locks.h"
#include "input/dates.h"
#include "input/keys.h"
#include "input/numbers.h"
#include "platform/console.h"
#include "platform/platform.h"
#include "screen/windows.h"
#include "settle/demo_data.h"
#include "settle/parameters.h"
#include "settle/records.h"
#include "settle/settlement.h"

namespace {

int rootsMade = 0;

// The sources' folder, for the program's dictionaries in demo/ddf: the
// environment's TARPELIX_SOURCE_DIR, else the folder above this file's.
std::string SourceDir() {
  const char* set = std::getenv("TARPELIX_SOURCE_DIR");
  if (set && *set) return set;
  return std::filesystem::path(__FILE__).parent_path().parent_path().string();
}

// A new suite root in a temporary folder: the program's dictionaries, the
// data folders and a station folder.  Never reused: removed roots are not
// made again under the same name.
std::string NewRoot() {
  std::string base = std::filesystem::temp_directory_path().string() + "/tarpelix_bench_settlement_" +
                     std::to_string(getpid()) + "_" + std::to_string(++rootsMade);
  namespace fs = std::filesystem;
  for (const char* folder : {"ddf", "DADES", "LOCKS", "TMP"}) fs::create_directories(base + "/" + folder);
  for (const char* name : {"THRebut", "FinquesH", "FinDespH", "PropietH", "PagamH", "CobramH"})
    fs::copy_file(SourceDir() + "/demo/ddf/" + name + ".xdf",
                  base + "/ddf/" + name + ".xdf", fs::copy_options::overwrite_existing);
  return base;
}

void StartStation(const std::string& root) {
  Session = SessionState{};
  Session.root = root;
  Session.tempDir = root + "TMP/";
  Session.language = "CAT";
  Session.firmTaxId = "ES12345678Z";
  ModuleName = "TARPELIX";
  ChangeDirectory(root);
  ConsoleStartVirtual();
  ResetWindows();
  Keyboard = KeyboardState{};
  DataFiles = DataFileTable{};
  Locks = LockState{};
  Settlement = SettlementWork{};
  CreateWorkTables();
}

void OpenFiles(const std::string& root) {
  struct File {
    void* record;
    int32_t size;
    const char* name;
    int16_t number;
  };
  const File files[] = {
      {THRebut, sizeof THRebut, "THRebut", kFileConcepts},     {FinquesH, sizeof FinquesH, "FinquesH", kFileProperties},
      {FinDespH, sizeof FinDespH, "FinDespH", kFileExpenseNotes}, {PropietH, sizeof PropietH, "PropietH", kFileOwners},
      {PagamH, sizeof PagamH, "PagamH", kFilePayments},         {CobramH, sizeof CobramH, "CobramH", kFileCollections},
  };
  for (const File& f : files) {
    int16_t status = 0;
    OpenDataFile(status, f.record, root + "DADES\\" + f.name, f.number, f.size);
  }
}

double PeakMiB() {
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
}

// Linux keeps the process's resident high-water mark in /proc/self/status
// (VmHWM) and resets it to the current size when "5" is written to
// /proc/self/clear_refs: so the pass's own peak can be told from the
// generation's.  -1 when the system offers neither.
bool ResetResidentPeak() {
  FILE* f = std::fopen("/proc/self/clear_refs", "w");
  if (!f) return false;
  bool ok = std::fputs("5", f) >= 0;
  return std::fclose(f) == 0 && ok;
}
double ResidentPeakMiB() {
  FILE* f = std::fopen("/proc/self/status", "r");
  if (!f) return -1;
  char line[256];
  double kib = -1;
  while (std::fgets(line, sizeof line, f))
    if (std::sscanf(line, "VmHWM: %lf kB", &kib) == 1) break;
  std::fclose(f);
  return kib < 0 ? -1 : kib / 1024.0;
}

void BM_SettlementPass(benchmark::State& state) {
  DemoDataOptions options;
  options.properties = static_cast<int>(state.range(0));
  options.ownersMin = options.ownersMax = static_cast<int>(state.range(1));
  options.collections = static_cast<int>(state.range(2));
  options.payments = static_cast<int>(state.range(3));
  options.seed = 2026;
  std::string previous = CurrentDirectory();
  uint64_t operations = 0, engineCalls = 0;
  double passPeak = -1;
  long records = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::string dir = NewRoot();
    std::string root = dir + "/";
    StartStation(root);
    options.root = root;
    DemoDataSummary summary;
    std::string problem;
    if (!GenerateDemoData(options, summary, problem)) {
      state.SkipWithError(Cp850ToUtf8(problem).c_str());
      break;
    }
    records = summary.properties + summary.owners + summary.collections + summary.payments;
    OpenFiles(root);
    IvaRate[0] = 21, IvaRate[1] = 10, RetRate[0] = 15, RetRate[1] = 7;
    SettlementDate = PackDigits("20261231");
    LowerOwnerKey = PackCode("1.1");
    UpperOwnerKey = PackCode("9999.9999");
    CarryConcept = 3;
    uint64_t callsBefore = DataFiles.engineCalls;
    bool peakReset = ResetResidentPeak();
    state.ResumeTiming();

    SettlementPass();

    state.PauseTiming();
    passPeak = peakReset ? ResidentPeakMiB() : -1;
    operations += Settlement.recordOperations;
    engineCalls += DataFiles.engineCalls - callsBefore;
    if (!Settlement.untouched.empty()) state.SkipWithError("properties left untouched");
    int16_t status = 0;
    ResetDataFiles(status);
    ChangeDirectory(previous);
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    state.ResumeTiming();
  }
  state.counters["operations/s"] = benchmark::Counter(static_cast<double>(operations), benchmark::Counter::kIsRate);
  state.counters["engine_calls/s"] = benchmark::Counter(static_cast<double>(engineCalls), benchmark::Counter::kIsRate);
  state.counters["operations"] = static_cast<double>(operations) / static_cast<double>(state.iterations());
  state.counters["records"] = static_cast<double>(records);
  state.counters["peak_rss_MiB"] = PeakMiB();
  state.counters["pass_peak_rss_MiB"] = passPeak;
}

// A small suite first (quick to compare), then the office's large one.
BENCHMARK(BM_SettlementPass)
    ->Args({100, 40, 12, 50})
    ->Args({1000, 40, 12, 50})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
