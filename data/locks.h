// locks.h - key locks shared between workstations through lock files.
//
// A lock is a 121-byte record in the file KALROOT + "LOCKS\" + name + ".lck",
// naming the station, the time and the locked key range; every station scans
// and updates the file under an exclusive open, so the scan and the write are
// one step.  Locks older than 30 minutes count as abandoned.  The station is
// known by a random id kept in "LOCKS.TMP" in its temporary folder.
#pragma once
#include <cstdint>
#include <string>

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

// A folder that cannot be created or a file there that cannot be opened (as
// opposed to one another station holds) is tried this many times, this far
// apart, before the program gives up with a message naming the folder.
constexpr int kLockFolderAttempts = 20;
constexpr int kLockFolderRetryMs = 3000;

struct LockState {
  int32_t stationId = 0;     // 0 = not yet known this run
  std::string computerName;  // 15 bytes, blank-padded
  bool messageOpen = false;  // the lock message window is on screen
};
extern LockState Locks;

int16_t LockKey(const std::string& name, std::string key_value);
int16_t TakeLock(const std::string& name, const std::string& from_key, const std::string& to_key);
int16_t ReleaseLock(const std::string& name);
void StationIdentity();
int32_t MinutesNow();
// Opens directory + "\" + file_name exclusively, creating the file (and the
// directory, one level) when missing; waits as long as another station
// holds the file.  Ends the program when the folder stays unusable.
void OpenLockFile(const std::string& file_name, const std::string& directory, ExclusiveFile& file);

// The lock file's name for a lock name (the same for taking and releasing).
std::string LockFileName(const std::string& name);
// The directory of the lock files: KALROOT + "LOCKS".
std::string LockDirectory();
