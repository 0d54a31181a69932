// Fuzzing the scan of a lock file shared between stations: whatever a
// crashed or foreign program left in the file, taking and releasing a key
// lock never crashes or hangs, never takes away another station's live lock,
// and leaves this station holding exactly one lock more, then one less.
//
// The clock stands at the time of the seed files (lock files written by a
// settlement of the demonstration suite), so that live and abandoned
// records both occur.  When the station has to wait for another station's
// lock, the pause stands for that station ending its work: the file is
// emptied, as the other station's release and the ageing would leave it.
#include <algorithm>
#include <cstring>
#include <filesystem>

#include "data/locks.h"
#include "fuzz_support.h"
#include "session/session.h"

namespace {

int pauses = 0;
std::string lockPath;

struct Record {
  std::string bytes;
  // The station as the lock code tells it: the computer name as stored and
  // the station id with the blanks around it trimmed.
  bool HeldBy(const std::string& computer, const std::string& station) const {
    std::string id = bytes.substr(kLockStationAt, kLockStationWidth);
    id.erase(0, std::min(id.find_first_not_of(' '), id.size()));
    id.erase(id.find_last_not_of(' ') + 1);
    return bytes.compare(kLockComputerAt, kLockComputerWidth, computer) == 0 && id == station;
  }
  bool Held() const {
    return bytes.find_first_not_of(' ', kLockStationAt) < kLockStationAt + kLockStationWidth;
  }
};

std::vector<Record> Records() {
  std::string text;
  ReadWholeFile(lockPath, text);
  std::vector<Record> records;
  for (size_t at = 0; at + kLockRecordSize <= text.size(); at += kLockRecordSize)
    records.push_back(Record{text.substr(at, kLockRecordSize)});
  return records;
}

int HeldByThisStation() {
  int n = 0;
  for (const Record& r : Records())
    if (r.HeldBy(Locks.computerName, std::to_string(Locks.stationId))) ++n;
  return n;
}

// A record of another station that a scan must leave alone: held, with a
// readable time no older than the age limit and no more than a day ahead (a
// lock of any kind), or a record no station can tell the age of.  (No
// station of the fuzz directory shows a liveness file, so none counts as
// gone.)
bool OthersLive(const Record& r, int32_t now) {
  if (!r.Held() || r.HeldBy(Locks.computerName, std::to_string(Locks.stationId))) return false;
  // The time as decimal text with blanks around it.
  std::string time = r.bytes.substr(kLockTimeAt, kLockTimeWidth);
  time.erase(0, std::min(time.find_first_not_of(' '), time.size()));
  time.erase(time.find_last_not_of(' ') + 1);
  const size_t digits = time.size() - (!time.empty() && time[0] == '-');
  const bool readable = digits > 0 && digits <= 18 &&
                        time.find_first_not_of("0123456789", time.size() - digits) == std::string::npos;
  const long long t = readable ? std::stoll(time) : 0;
  return !readable || (t >= static_cast<long long>(now) - kLockStaleMinutes &&
                       t <= static_cast<long long>(now) + kLockFutureMinutes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = [] {
    Session.root = FuzzDirectory();
    Session.tempDir = FuzzDirectory();
    Platform.clock = [] {
      LocalTime t;
      t.year = 2026, t.month = 12, t.day = 8, t.hour = 16, t.minute = 20;
      return t;
    };
    Platform.random = [] { return 0.5; };
    Platform.pause = [](int) {
      if (++pauses > 50) __builtin_trap();  // a wait that never ends
      std::filesystem::resize_file(lockPath, 0);
    };
    Locks.stationId = 4321;
    Locks.computerName = "FUZZSTATION    ";
    return true;
  }();
  (void)ready;
  lockPath = WriteFuzzFile("LOCKS/PropietH.lck", data, size);
  const int32_t now = MinutesNow();
  pauses = 0;
  std::vector<Record> before = Records();
  const int heldBefore = HeldByThisStation();

  // Properties 3 to 12, as a settlement of that range would lock them.
  if (TakeLock("PropietH", "0003", "0012") != 0) __builtin_trap();
  std::vector<Record> after = Records();
  if (pauses == 0) {
    // Without a wait, every live record of another station is still there.
    for (size_t i = 0; i < before.size(); ++i)
      if (OthersLive(before[i], now) && (i >= after.size() || after[i].bytes != before[i].bytes))
        __builtin_trap();
  }
  const int held = HeldByThisStation();
  if (held < 1 || (pauses == 0 && held > heldBefore + 1)) __builtin_trap();
  if (ReleaseLock("PropietH") != 0) __builtin_trap();
  if (HeldByThisStation() != held - 1) __builtin_trap();
  return 0;
}
