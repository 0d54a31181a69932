// locks.cpp - record and open locks through the folder's store, and the
// change counter.
//
// The counter is the read-ahead's cheap freshness test: a writer bumps it
// before its commit becomes visible and again after it, so a reader that
// filled its cache and still sees the same number knows nothing was
// committed in between (see navigation.cpp for the remaining window).
#include "recman/locks.h"

#include <algorithm>

#include "recman/recman.h"
#include "recman/store.h"

namespace recman {

namespace {

// Removes the handle from the holders of a lock; the last one unlocks it.
void LetGo(Directory* dir, uint64_t unit, uint32_t handleId) {
  auto it = gRecman.recordLocks.find({dir, unit});
  if (it == gRecman.recordLocks.end()) return;
  auto& holders = it->second;
  holders.erase(std::remove(holders.begin(), holders.end(), handleId), holders.end());
  if (holders.empty()) {
    dir->store->Unlock(unit);
    gRecman.recordLocks.erase(it);
  }
}

}  // namespace

uint64_t ChangeCounter(Directory& dir) { return dir.store->ChangeCounter(); }

void BumpChangeCounter(Directory& dir) { dir.store->NoteChange(); }

int16_t LockRecord(uint32_t handleId, uint32_t pos, LockKind kind, bool wait, bool& newlyTaken) {
  newlyTaken = false;
  Handle& h = gRecman.handles[handleId];
  if (kind == LockKind::kSingle) {
    if (!h.multipleLocks.empty()) return B_INCOMPATIBLE_LOCK_TYPE;
    if (h.singleLock == pos) return B_OK;
  } else {
    if (h.singleLock != 0) return B_INCOMPATIBLE_LOCK_TYPE;
    if (std::find(h.multipleLocks.begin(), h.multipleLocks.end(), pos) != h.multipleLocks.end()) return B_OK;
  }
  Directory* dir = h.file->dir;
  uint64_t unit = LockUnit(h.file->id, pos);
  auto it = gRecman.recordLocks.find({dir, unit});
  if (it == gRecman.recordLocks.end()) {
    switch (dir->store->Lock(unit, LockType::kExclusive, wait)) {
      case LockResult::kTaken: break;
      case LockResult::kBusy: return B_RECORD_LOCKED;
      case LockResult::kDenied: return B_ACCESS_DENIED;
      default: return B_IO_ERROR;
    }
    gRecman.recordLocks[{dir, unit}].push_back(handleId);
  } else {
    it->second.push_back(handleId);
  }
  newlyTaken = true;
  if (kind == LockKind::kSingle) {
    ReleaseSingleLock(handleId);
    h.singleLock = pos;
  } else {
    h.multipleLocks.push_back(pos);
  }
  return B_OK;
}

void ReleaseSingleLock(uint32_t handleId) {
  Handle& h = gRecman.handles[handleId];
  if (h.singleLock == 0) return;
  LetGo(h.file->dir, LockUnit(h.file->id, h.singleLock), handleId);
  h.singleLock = 0;
}

void ReleaseMultipleLock(uint32_t handleId, uint32_t pos) {
  Handle& h = gRecman.handles[handleId];
  auto it = std::find(h.multipleLocks.begin(), h.multipleLocks.end(), pos);
  if (it == h.multipleLocks.end()) return;
  h.multipleLocks.erase(it);
  LetGo(h.file->dir, LockUnit(h.file->id, pos), handleId);
}

void ReleaseHandleLocks(uint32_t handleId) {
  Handle& h = gRecman.handles[handleId];
  if (!h.file) return;
  ReleaseSingleLock(handleId);
  for (uint32_t pos : h.multipleLocks) LetGo(h.file->dir, LockUnit(h.file->id, pos), handleId);
  h.multipleLocks.clear();
}

void DropRecordLocks(OpenFile& file, uint32_t pos) {
  auto it = gRecman.recordLocks.find({file.dir, LockUnit(file.id, pos)});
  if (it == gRecman.recordLocks.end()) return;
  std::vector<uint32_t> holders = it->second;
  for (uint32_t id : holders) {
    Handle& h = gRecman.handles[id];
    if (h.singleLock == pos) {
      ReleaseSingleLock(id);
    } else {
      ReleaseMultipleLock(id, pos);
    }
  }
}

bool RecordLockedElsewhere(OpenFile& file, uint32_t pos) {
  return file.dir->store->HeldElsewhere(LockUnit(file.id, pos));
}

int16_t SyncOpenLock(OpenFile& file) {
  int want = file.exclusiveOpens > 0 ? 2 : file.normalOpens > 0 ? 1 : 0;
  if (want == file.openLockHeld) return B_OK;
  Store& store = *file.dir->store;
  uint64_t unit = LockUnit(file.id, 0);
  if (want == 0) {
    store.Unlock(unit);
    file.openLockHeld = 0;
    return B_OK;
  }
  switch (store.Lock(unit, want == 2 ? LockType::kExclusive : LockType::kShared, false)) {
    case LockResult::kTaken: file.openLockHeld = want; return B_OK;
    case LockResult::kBusy: return B_FILE_LOCKED;
    case LockResult::kDenied: return B_ACCESS_DENIED;
    default: return B_IO_ERROR;
  }
}

bool FileInUse(Directory& dir, int64_t fileId) {
  auto it = gRecman.files.find({&dir, fileId});
  if (it != gRecman.files.end() && (it->second->normalOpens > 0 || it->second->exclusiveOpens > 0))
    return true;
  uint64_t unit = LockUnit(fileId, 0);
  if (dir.store->Lock(unit, LockType::kExclusive, false) != LockResult::kTaken) return true;
  dir.store->Unlock(unit);
  return false;
}

}  // namespace recman
