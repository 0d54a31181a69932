// locks.cpp - record and open locks on the directory's lock file, and the
// change counter mapped from its first bytes.
//
// The counter is the read-ahead's cheap freshness test: a writer bumps it
// before its commit becomes visible and again after it, so a reader that
// filled its cache and still sees the same number knows nothing was
// committed in between (see navigation.cpp for the remaining window).
#include "recman/locks.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "recman/integrity.h"
#include "recman/recman.h"

namespace {

constexpr size_t kLockFileSize = 4096;

uint64_t Offset(int64_t fileId, uint32_t pos) { return (static_cast<uint64_t>(fileId) << 32) | pos; }

// The one byte at `offset` of the lock file, for a lock of `type`.
struct flock OneByte(uint64_t offset, short type) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(offset);
  fl.l_len = 1;
  fl.l_pid = 0;
  return fl;
}

int RangeLock(int fd, uint64_t offset, short type, bool wait) {
  struct flock fl = OneByte(offset, type);
  for (;;) {
    if (fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &fl) == 0) return 0;
    if (errno == EINTR && wait) continue;
    return errno;
  }
}

bool HeldElsewhere(int fd, uint64_t offset, short type) {
  struct flock fl = OneByte(offset, type);
  if (fcntl(fd, F_OFD_GETLK, &fl) != 0) return false;
  return fl.l_type != F_UNLCK;
}

// Removes the handle from the holders of a lock; the last one unlocks it.
void LetGo(Directory* dir, uint64_t offset, uint32_t handleId) {
  auto it = gRecman.recordLocks.find({dir, offset});
  if (it == gRecman.recordLocks.end()) return;
  auto& holders = it->second;
  holders.erase(std::remove(holders.begin(), holders.end(), handleId), holders.end());
  if (holders.empty()) {
    if (dir->lockFd >= 0) RangeLock(dir->lockFd, offset, F_UNLCK, false);
    gRecman.recordLocks.erase(it);
  }
}

}  // namespace

int16_t OpenLockFile(Directory& dir) {
  std::string path = dir.path + "/" + kLockName;
  auto failed = [&](int error) {
    return NoteSystemFailure(
        error == EACCES || error == EPERM || error == EROFS ? B_ACCESS_DENIED : B_IO_ERROR, &dir, path,
        error);
  };
  // A folder opened for reading only is never written: without a lock file
  // (no station ever opened the folder) it is read without one, and one this
  // user may not write is read through a read-only mapping: its open locks
  // are shared ones, which need no more.
  int fd = open(path.c_str(), O_RDWR | O_CLOEXEC | (dir.readOnly ? 0 : O_CREAT), 0666);
  bool writable = fd >= 0;
  if (fd < 0 && dir.readOnly) {
    if (errno == ENOENT) return B_OK;
    if (errno == EACCES || errno == EPERM || errno == EROFS) fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  }
  if (fd < 0) return failed(errno);
  struct stat st {};
  if (fstat(fd, &st) != 0 ||
      (static_cast<size_t>(st.st_size) < kLockFileSize && (!writable || ftruncate(fd, kLockFileSize) != 0))) {
    int error = errno;
    close(fd);
    return failed(error);
  }
  void* map = mmap(nullptr, kLockFileSize, PROT_READ | (writable ? PROT_WRITE : 0), MAP_SHARED, fd, 0);
  if (map == MAP_FAILED) {
    int error = errno;
    close(fd);
    return failed(error);
  }
  dir.lockFd = fd;
  dir.lockMap = map;
  dir.lockWritable = writable;
  dir.changeCounter = static_cast<volatile uint64_t*>(map);
  return B_OK;
}

void CloseLockFile(Directory& dir) {
  if (dir.lockMap) munmap(dir.lockMap, kLockFileSize);
  if (dir.lockFd >= 0) close(dir.lockFd);
  dir.lockMap = nullptr;
  dir.changeCounter = nullptr;
  dir.lockFd = -1;
}

uint64_t ChangeCounter(const Directory& dir) {
  if (!dir.changeCounter) return 0;
  return __atomic_load_n(const_cast<uint64_t*>(dir.changeCounter), __ATOMIC_ACQUIRE);
}

void BumpChangeCounter(Directory& dir) {
  if (dir.changeCounter && dir.lockWritable)
    __atomic_add_fetch(const_cast<uint64_t*>(dir.changeCounter), 1, __ATOMIC_SEQ_CST);
}

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
  // A record lock is an exclusive byte lock: a lock file this user can only
  // read takes none.
  if (dir->lockFd < 0 || !dir->lockWritable) return dir->readOnly ? B_ACCESS_DENIED : B_IO_ERROR;
  uint64_t offset = Offset(h.file->id, pos);
  auto it = gRecman.recordLocks.find({dir, offset});
  if (it == gRecman.recordLocks.end()) {
    int err = RangeLock(dir->lockFd, offset, F_WRLCK, wait);
    if (err == EAGAIN || err == EACCES || err == EDEADLK) return B_RECORD_LOCKED;
    if (err != 0) return B_IO_ERROR;
    gRecman.recordLocks[{dir, offset}].push_back(handleId);
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
  LetGo(h.file->dir, Offset(h.file->id, h.singleLock), handleId);
  h.singleLock = 0;
}

void ReleaseMultipleLock(uint32_t handleId, uint32_t pos) {
  Handle& h = gRecman.handles[handleId];
  auto it = std::find(h.multipleLocks.begin(), h.multipleLocks.end(), pos);
  if (it == h.multipleLocks.end()) return;
  h.multipleLocks.erase(it);
  LetGo(h.file->dir, Offset(h.file->id, pos), handleId);
}

void ReleaseHandleLocks(uint32_t handleId) {
  Handle& h = gRecman.handles[handleId];
  if (!h.file) return;
  ReleaseSingleLock(handleId);
  for (uint32_t pos : h.multipleLocks) LetGo(h.file->dir, Offset(h.file->id, pos), handleId);
  h.multipleLocks.clear();
}

void DropRecordLocks(OpenFile& file, uint32_t pos) {
  auto it = gRecman.recordLocks.find({file.dir, Offset(file.id, pos)});
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
  if (file.dir->lockFd < 0) return false;
  return HeldElsewhere(file.dir->lockFd, Offset(file.id, pos), F_WRLCK);
}

int16_t SyncOpenLock(OpenFile& file) {
  int want = file.exclusiveOpens > 0 ? 2 : file.normalOpens > 0 ? 1 : 0;
  if (want == file.openLockHeld) return B_OK;
  Directory& dir = *file.dir;
  if (dir.lockFd < 0) return dir.readOnly && want < 2 ? int16_t{B_OK} : int16_t{B_IO_ERROR};
  if (want == 2 && !dir.lockWritable) return B_ACCESS_DENIED;
  uint64_t offset = Offset(file.id, 0);
  short type = want == 2 ? F_WRLCK : want == 1 ? F_RDLCK : F_UNLCK;
  int err = RangeLock(dir.lockFd, offset, type, false);
  if (err == EAGAIN || err == EACCES) return B_FILE_LOCKED;
  if (err != 0) return B_IO_ERROR;
  file.openLockHeld = want;
  return B_OK;
}

bool FileInUse(Directory& dir, int64_t fileId) {
  auto it = gRecman.files.find({&dir, fileId});
  if (it != gRecman.files.end() && (it->second->normalOpens > 0 || it->second->exclusiveOpens > 0))
    return true;
  if (dir.lockFd < 0) return true;
  uint64_t offset = Offset(fileId, 0);
  if (RangeLock(dir.lockFd, offset, F_WRLCK, false) != 0) return true;
  RangeLock(dir.lockFd, offset, F_UNLCK, false);
  return false;
}
