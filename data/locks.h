// locks.h - key locks shared between workstations through lock files.
//
// A lock is a 121-byte record in the file KALROOT + "LOCKS\" + name + ".lck",
// naming the station, the time and the locked key range; every station scans
// and updates the file under an exclusive open, so the scan and the write are
// one step.  Locks older than 30 minutes count as abandoned, and so do the
// locks of a station that no longer runs (see LockState::alive).  The
// station is known by a random id kept in "LOCKS.TMP" in its temporary
// folder.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

// Record layout (text fields left-aligned and blank-padded, numbers as
// decimal text without leading blanks).
constexpr int kLockRecordSize = 121;
constexpr int kLockComputerAt = 0, kLockComputerWidth = 15;
constexpr int kLockStationAt = 15, kLockStationWidth = 11;
constexpr int kLockTimeAt = 26, kLockTimeWidth = 8;
constexpr int kLockKindAt = 34;
constexpr int kLockFromLengthAt = 35, kLockFromAt = 37;
constexpr int kLockToLengthAt = 77, kLockToAt = 79;
constexpr int kLockKeyWidth = 40;
constexpr int kLockStaleMinutes = 30;

// A record dated further ahead of the scanner's clock than this (a wrong
// clock, another time zone) counts as abandoned: it would never age out.
constexpr int kLockFutureMinutes = 24 * 60;

struct LockState {
  int32_t stationId = 0;     // 0 = not yet known this run
  std::string computerName;  // 15 bytes, blank-padded
  bool messageOpen = false;  // the lock message window is on screen
  // The station's liveness: "LOCKS\<station id>.sta", held open
  // exclusively for the whole run.  The operating system lets go of it when
  // the process ends, however it ends, so that a scan meeting a record of a
  // station whose file nobody holds frees the record at once.
  ExclusiveFile alive;
  std::string alivePath;
  // The lock files this run has taken locks in (names as in the folder),
  // whose records of this station are all freed at the end of the run.
  std::vector<std::string> usedFiles;
  bool ending = false;  // EndStationRun has begun
};
extern LockState Locks;

int16_t LockKey(const std::string& name, std::string key_value);
int16_t TakeLock(const std::string& name, const std::string& from_key, const std::string& to_key);
int16_t ReleaseLock(const std::string& name);
// Makes sure the station id and computer name are known; the first time in
// a run it also makes the station's liveness visible in the lock folder
// and frees the records an earlier run of this station left in the lock
// files there.  When another run of the same station (the same temporary
// folder) is alive, this run takes an id of its own, kept for the run only.
void StationIdentity();
// The end of the station's run: every record of this station in the lock
// files the run used is freed, and its liveness file removed.  Called at
// the program's end, also when it ends on an error or on a signal.
void EndStationRun();
int32_t MinutesNow();
// Opens directory + "\" + file_name exclusively, creating the file (and the
// directory, one level) when missing; waits as long as another station
// holds the file, with the lock message from the first attempt that finds
// it held.  Any other failure ends the program at once with a message
// naming the file and the system's reason (a symbolic link is refused).
void OpenLockFile(const std::string& file_name, const std::string& directory, ExclusiveFile& file);

// The lock file's name for a lock name (the same for taking and releasing).
std::string LockFileName(const std::string& name);
// The directory of the lock files: KALROOT + "LOCKS".
std::string LockDirectory();
// The liveness file of a station id in the lock folder.
std::string StationFileName(int32_t station_id);
