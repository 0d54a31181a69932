// testing.h - switches of the engine for tests and benchmarks only.
//
// Nothing here is read from the environment or from files: an office
// machine cannot turn durability off by carrying a variable.
#pragma once
#include <cstdint>
#include <string>

enum class RecmanDurability : uint8_t {
  kFull,    // every commit on disk before it is reported (the default)
  kNormal,  // the log synced at checkpoints only: the last commits may be lost at a power cut
  kOff,     // no syncs at all
};
// For the connections opened from now on.
void RecmanSetDurabilityForTests(RecmanDurability durability);

// How long a call waits for another process's write transaction before it
// answers 85 (30 s unless RECMAN_BUSY_TIMEOUT_MS says otherwise); for the
// connections open now and those opened later.
void RecmanSetBusyTimeoutForTests(int milliseconds);

// Keeps every data folder that has neither "recman.db" nor "recman.server"
// on the server of this libpq connection string, each folder in a schema
// of its own named after its path: the record manager's tests run against
// the server store so.  Empty: such folders are SQLite's again.
void RecmanSetServerForTests(const std::string& connection);

// The round trips this process has made to servers so far (each statement
// and each batch of statements sent together counts one).
uint64_t RecmanServerRoundTrips();

// The size the write-ahead log of a directory may reach: the checkpoint
// threshold, plus the largest transaction written since the last checkpoint.
// After a checkpoint the log starts again from its beginning and is cut back
// to this size.
constexpr int64_t kRecmanLogLimitBytes = 8 * 1024 * 1024;
