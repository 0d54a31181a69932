// locks.h - record locks, open locks and the folder's change counter.
//
// Locks between processes are the store's (store.h): held until released or
// until the process ends, however it ends, so a crashed station never leaves
// a record locked.  The unit (file id << 32) | position stands for a record;
// unit (file id << 32) | 0 is the file's open lock (shared for a normal
// open, exclusive for an exclusive one).  Within the process the client is
// the process itself: its handles never block each other, and
// gRecman.recordLocks remembers which handles hold each lock so that it is
// released when the last of them lets go.
#pragma once
#include <cstdint>

#include "recman/engine.h"

namespace recman {

uint64_t ChangeCounter(Directory& dir);
void BumpChangeCounter(Directory& dir);

enum class LockKind : uint8_t { kSingle, kMultiple };

// Locks record `pos` for the handle.  Returns 0, 84 (held by another process,
// no-wait) or 93 (single and multiple locks mixed on one handle).
int16_t LockRecord(uint32_t handleId, uint32_t pos, LockKind kind, bool wait, bool& newlyTaken);
void ReleaseSingleLock(uint32_t handleId);
void ReleaseMultipleLock(uint32_t handleId, uint32_t pos);
void ReleaseHandleLocks(uint32_t handleId);
// The record is gone: every handle of this process lets go of it.
void DropRecordLocks(OpenFile& file, uint32_t pos);
// True when another process holds a lock on the record.
bool RecordLockedElsewhere(OpenFile& file, uint32_t pos);

// Sets the file's open lock to what this process's handles need (shared for
// any normal open, exclusive for any exclusive one).  85 when another process
// prevents it.
int16_t SyncOpenLock(OpenFile& file);
// Whether the file could be replaced: no handle here, no open elsewhere.
bool FileInUse(Directory& dir, int64_t fileId);

}  // namespace recman
