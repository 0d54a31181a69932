// engine.cpp - BTRCALL: decoding a call, the handles behind position blocks,
// and the file-level operations (open, close, create, stat, owner, unlock,
// reset, transactions).
//
// A position block is caller memory and may hold anything.  The engine writes
// a magic number, a handle index, the handle's generation and a per-process
// nonce into it and trusts nothing else: a block that does not match a live
// handle of this process answers status 3.  The currency itself stays in the
// handle.
//
// fork: a store's connection must not be used on both sides of a fork.
// A fork handler lets each store close what it cannot share (the SQLite
// store its idle connections, which reopen on demand) and the child starts
// with no handles, no locks and no transaction: it is another client and
// opens its own files.  A directory whose connection was inside a
// transaction at the fork cannot be closed safely by the child; the child
// refuses to use that directory (status 2).
#include "recman/engine.h"

#include <pthread.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "platform/le.h"
#include "recman/files.h"
#include "recman/integrity.h"
#include "recman/locks.h"
#include "recman/operations.h"
#include "recman/owner.h"
#include "recman/recman.h"
#include "recman/store.h"
#include "recman/transactions.h"

namespace recman {

RecordManager gRecman;

RecordManager::~RecordManager() {
  StopSnapshotWatcher();
  directories.clear();  // each store closes its connection and locks
}

namespace {

constexpr uint32_t kBlockMagic = 0x31504D52;  // "RMP1"
constexpr size_t kMaxHandles = 65536;

struct BlockImage {
  uint32_t magic;
  uint32_t handleId;
  uint32_t generation;
  uint32_t reserved;
  uint64_t nonce;
};

uint64_t NewNonce() {
  std::string r = RandomBytes(8);
  uint64_t v;
  std::memcpy(&v, r.data(), 8);
  return v | 1;
}

void AfterForkInChild() {
  for (auto& [path, dir] : gRecman.directories) {
    if (dir->transactionOpen) gRecman.unusableDirectories.insert(path);  // left open: see above
    dir->store->AbandonInChild();
  }
  gRecman.files.clear();
  gRecman.directories.clear();
  gRecman.handles.clear();
  gRecman.recordLocks.clear();
  gRecman.inTransaction = false;
  gRecman.transactionFailed = false;
  gRecman.pid = getpid();
  gRecman.nonce = NewNonce();
  gRecman.versionState = 0;
}

void ForkPrepare() {
  gRecman.mutex.lock();
  for (auto& [path, dir] : gRecman.directories) {
    dir->store->BeforeFork(dir->transactionOpen);
    if (!dir->store->Connected()) dir->snapshotOpen = false;
  }
}
void ForkParent() { gRecman.mutex.unlock(); }
void ForkChild() {
  // The lock was taken by the parent's thread; the child starts a new one,
  // and has no snapshot watcher until it opens a snapshot of its own.
  new (&gRecman.mutex) std::mutex();
  new (&gRecman.watcherWake) std::condition_variable();
  gRecman.watcherWaiting = false;
  AfterForkInChild();
}

void EnsureProcessState() {
  if (gRecman.pid != 0) return;
  gRecman.pid = getpid();
  gRecman.nonce = NewNonce();
  if (!gRecman.forkHandlersInstalled) {
    pthread_atfork(ForkPrepare, ForkParent, ForkChild);
    gRecman.forkHandlersInstalled = true;
  }
}

Handle* HandleFromBlock(const void* block, uint32_t& id) {
  if (block == nullptr) return nullptr;
  BlockImage b;
  std::memcpy(&b, block, sizeof b);
  if (b.magic != kBlockMagic || b.nonce != gRecman.nonce || b.handleId >= gRecman.handles.size())
    return nullptr;
  Handle& h = gRecman.handles[b.handleId];
  if (!h.inUse || h.generation != b.generation || h.file == nullptr) return nullptr;
  id = b.handleId;
  return &h;
}

void WriteBlock(void* block, uint32_t id, uint32_t generation) {
  std::memset(block, 0, kPositionBlockSize);
  BlockImage b{kBlockMagic, id, generation, 0, gRecman.nonce};
  std::memcpy(block, &b, sizeof b);
}

int16_t AllocateHandle(uint32_t& id) {
  for (size_t i = 0; i < gRecman.handles.size(); ++i) {
    if (!gRecman.handles[i].inUse) {
      id = static_cast<uint32_t>(i);
      return B_OK;
    }
  }
  if (gRecman.handles.size() >= kMaxHandles) return B_HANDLE_TABLE_FULL;
  gRecman.handles.emplace_back();
  id = static_cast<uint32_t>(gRecman.handles.size() - 1);
  return B_OK;
}

void ReleaseOpenFile(OpenFile* file) {
  if (file->normalOpens > 0 || file->exclusiveOpens > 0) return;
  SyncOpenLock(*file);
  file->dir->store->ForgetFile(file->id);
  gRecman.files.erase({file->dir, file->id});
}

// Counts one more open of the file (or one less, `step` -1).
void CountOpen(OpenFile& file, bool exclusive, int step) {
  if (exclusive) {
    file.exclusiveOpens += step;
  } else {
    file.normalOpens += step;
  }
}

void CloseHandle(uint32_t id) {
  Handle& h = gRecman.handles[id];
  if (!h.inUse) return;
  ReleaseHandleLocks(id);
  OpenFile* file = h.file;
  CountOpen(*file, h.exclusive, -1);
  uint32_t generation = h.generation + 1;
  h = Handle{};
  h.generation = generation;
  Directory* dir = file->dir;
  // The open lock follows the handles left: an exclusive open closed
  // beside normal ones leaves the shared lock only.
  SyncOpenLock(*file);
  ReleaseOpenFile(file);
  // The last file of the directory closed: no snapshot to keep for it.
  bool used = false;
  for (const auto& [key, f] : gRecman.files) used = used || f->dir == dir;
  if (!used) EndRead(*dir);
  if (!used && !dir->transactionOpen) dir->store->NoFileOpen();
}

// What a marker without its database says: the database is lost, and the
// engine makes no new one beside markers that name its files.
std::string LostStoreText(const DataPath& path) {
  return path.full + " names a file of " + path.directory + "/" + kStoreName +
         ", which is missing or empty: the database is lost; restore the folder from a backup "
         "(nothing was created)";
}

// The open mode of an open's key number: normal (0, -1, -3), read-only or
// exclusive; any other number is refused.
int16_t OpenModeOf(int8_t keyNumber, bool& readOnly, bool& exclusive) {
  switch (keyNumber) {
    case B_MODE_NORMAL:
    case -1:
    case -3: return B_OK;
    case B_MODE_READ_ONLY: readOnly = true; return B_OK;
    case B_MODE_EXCLUSIVE: exclusive = true; return B_OK;
    default: return B_INVALID_OPERATION;
  }
}

// Whether the marker (its state, its uuid, whether it is a pending
// create's) and the catalog entry of the name (found or not) name the same
// file; when they do not, the status that says so.  A missing marker beside
// no entry is a missing file.
int16_t MarkerMatchesCatalog(MarkerState marker, const std::string& uuid, bool pending, bool found,
                             const CatalogEntry& entry, Directory* dir, const DataPath& path) {
  // They are never taken for a missing file (which would be created anew
  // over them).
  if (marker == MarkerState::kMissing)
    return found ? NoteFailure(B_IO_ERROR, dir,
                               dir->store->Where() + " holds the records of " + path.name +
                                   " but its marker file is missing: run recutil check " + path.directory +
                                   " and recutil repair-marker " + path.full,
                               0, nullptr, 0, path.full)
                 : int16_t{B_FILE_NOT_FOUND};
  // A create that never committed (killed between its marker and its
  // commit) left its pending marker, and no entry of the name: the file was
  // never made.
  if (!found && pending) return B_FILE_NOT_FOUND;
  if (!found || entry.uuid != uuid)
    return NoteFailure(B_IO_ERROR, dir,
                       "the marker " + path.full + " names no file of " + dir->store->Where() +
                           " (copied from another folder?): run recutil check " + path.directory,
                       0, nullptr, 0, path.full);
  return B_OK;
}

// The owner name the open gives (in its data buffer) against the file's:
// with none set, or the right one, the file opens as asked; a wrong or
// missing one opens a file whose owner allows reading for reading only
// (`ownerGiven` false), and is refused for any other.
int16_t CheckOpenOwner(const Call& c, const CatalogEntry& entry, bool& readOnly, bool& ownerGiven) {
  if (entry.ownerHash.empty()) return B_OK;
  std::string owner = OwnerNameFrom(c.data, c.dataCapacity);
  if (!owner.empty() && OwnerMatches(entry.ownerSalt, entry.ownerHash, owner)) return B_OK;
  if (entry.ownerMode != B_OWNER_READ_ONLY) return B_INVALID_OWNER;
  ownerGiven = false;
  readOnly = true;
  return B_OK;
}

// The process's one OpenFile of the catalog entry, made on its first open.
int16_t SharedOpenFile(Directory* dir, const CatalogEntry& entry, const std::string& name, OpenFile*& file) {
  auto key = std::make_pair(dir, entry.id);
  auto it = gRecman.files.find(key);
  if (it != gRecman.files.end()) {
    file = it->second.get();
    return B_OK;
  }
  auto f = std::make_unique<OpenFile>();
  f->dir = dir;
  f->id = entry.id;
  f->name = name;
  if (ParseCreateBuffer(reinterpret_cast<const uint8_t*>(entry.spec.data()), entry.spec.size(), f->spec) !=
      B_OK)
    return B_NOT_A_RECORD_FILE;
  file = f.get();
  gRecman.files.emplace(key, std::move(f));
  return B_OK;
}

// The open lock for the file's opens as counted now; then the catalog is
// read again, since another process may have replaced the file between the
// look-up and the lock (the lock now keeps it from doing so): B_FILE_NOT_FOUND
// when it did.
int16_t LockOpenedFile(OpenFile& file, const CatalogEntry& entry, const std::string& name) {
  int16_t st = SyncOpenLock(file);
  if (st != B_OK) return st;
  CatalogEntry now;
  bool still = false;
  st = FindCatalogEntry(*file.dir, name, now, still);
  if (st == B_OK && (!still || now.id != entry.id)) st = B_FILE_NOT_FOUND;
  return st;
}

int16_t OpenFileOp(Call& c, void* block, int attempt = 0) {
  bool readOnly = false, exclusive = false;
  int16_t st = OpenModeOf(c.keyNumber, readOnly, exclusive);
  if (st != B_OK) return st;
  if (block == nullptr) return B_FILE_NOT_OPEN;
  DataPath path;
  st = ResolveDataPath(c.key, c.keyLength, B_FILE_NOT_FOUND, path);
  if (st != B_OK) return st;
  std::string uuid;
  bool pending = false;
  MarkerState marker = ReadMarker(path.full, uuid, &pending);
  switch (marker) {
    case MarkerState::kOk:
    case MarkerState::kMissing: break;
    case MarkerState::kForeign: return B_NOT_A_RECORD_FILE;
    case MarkerState::kUnreadable: return NoteSystemFailure(B_ACCESS_DENIED, nullptr, path.full, errno);
  }
  Directory* dir = nullptr;
  st = GetDirectory(path.directory, false, dir, readOnly);
  if (st == B_FILE_NOT_FOUND && marker == MarkerState::kOk)
    return NoteFailure(B_IO_ERROR, nullptr, LostStoreText(path), 0, nullptr, 0,
                       path.directory + "/" + kStoreName);
  if (st != B_OK) return st;
  EndRead(*dir);  // the catalog as it is now, not as a snapshot saw it
  CatalogEntry entry;
  bool found = false;
  st = FindCatalogEntry(*dir, path.name, entry, found);
  if (st != B_OK) return st;
  // A marker and a catalog entry that do not belong together may be
  // another process's create under way: it writes the marker, then commits
  // the entry, so the marker may have been read before it was written, or
  // the catalog before the commit.  Wait for the folder's writer (whatever
  // that wait answers), then look at both again.
  bool together = marker == MarkerState::kMissing ? !found : found && entry.uuid == uuid;
  if (!together && attempt == 0 && !gRecman.inTransaction) {
    WriteScope scope;
    EndWrite(scope, BeginWrite(*dir, scope));
    return OpenFileOp(c, block, attempt + 1);
  }
  st = MarkerMatchesCatalog(marker, uuid, pending, found, entry, dir, path);
  if (st != B_OK) return st;
  bool ownerGiven = true;
  st = CheckOpenOwner(c, entry, readOnly, ownerGiven);
  if (st != B_OK) return st;
  OpenFile* file = nullptr;
  st = SharedOpenFile(dir, entry, path.name, file);
  if (st != B_OK) return st;
  uint32_t id;
  st = AllocateHandle(id);
  if (st != B_OK) {
    ReleaseOpenFile(file);
    return st;
  }
  CountOpen(*file, exclusive, 1);
  st = LockOpenedFile(*file, entry, path.name);
  if (st != B_OK) {
    CountOpen(*file, exclusive, -1);
    ReleaseOpenFile(file);
    if (st == B_FILE_NOT_FOUND && attempt < 3) return OpenFileOp(c, block, attempt + 1);
    return st;
  }
  Handle& h = gRecman.handles[id];
  uint32_t generation = h.generation + 1;
  h = Handle{};
  h.generation = generation;
  h.inUse = true;
  h.file = file;
  h.readOnly = readOnly;
  h.exclusive = exclusive;
  h.ownerGiven = ownerGiven;
  WriteBlock(block, id, generation);
  return B_OK;
}

int16_t CreateFileOp(Call& c) {
  if (gRecman.inTransaction) return B_OPERATION_NOT_ALLOWED;
  if (c.keyNumber != 0 && c.keyNumber != kCreateNoReplace) return B_INVALID_OPERATION;
  FileSpec spec;
  int16_t st = ParseCreateBuffer(c.data, c.dataCapacity, spec);
  if (st != B_OK) return st;
  DataPath path;
  st = ResolveDataPath(c.key, c.keyLength, B_CREATE_IO_ERROR, path);
  if (st != B_OK) return st;
  std::string uuid;
  bool pending = false;
  // A marker without its database (a database moved away, a marker copied
  // in) is refused before a new database is made beside it; a pending one
  // is looked at under the folder's write lock below.
  if (c.keyNumber == kCreateNoReplace && ReadMarker(path.full, uuid, &pending) != MarkerState::kMissing &&
      !pending)
    return B_FILE_EXISTS;
  Directory* dir = nullptr;
  st = GetDirectory(path.directory, true, dir);
  if (st != B_OK) return st;
  WriteScope scope;
  st = BeginWrite(*dir, scope);
  if (st != B_OK) return EndWrite(scope, st);
  MarkerState marker = ReadMarker(path.full, uuid, &pending);
  std::vector<CatalogEntry> entries;
  st = ListCatalogEntries(*dir, path.name, entries);
  if (st != B_OK) return EndWrite(scope, st);
  // Without replacing, anything standing for the file keeps it: a marker of
  // any kind, or a catalog entry of that name (whose marker may be lost).
  // Only the pending marker of a create that never committed (no entry of
  // its id, and no other create can be under way while this one holds the
  // write lock) stands for nothing.
  bool orphan =
      marker == MarkerState::kOk && pending &&
      std::none_of(entries.begin(), entries.end(), [&](const CatalogEntry& e) { return e.uuid == uuid; });
  bool exists = (marker != MarkerState::kMissing && !orphan) || !entries.empty();
  if (exists && c.keyNumber == kCreateNoReplace) return EndWrite(scope, B_FILE_EXISTS);
  if (marker == MarkerState::kUnreadable) return EndWrite(scope, B_ACCESS_DENIED);
  for (const CatalogEntry& e : entries)
    if (FileInUse(*dir, e.id)) return EndWrite(scope, B_FILE_LOCKED);
  scope.modified = true;
  for (const CatalogEntry& e : entries) {
    FileSpec old;
    size_t keys =
        ParseCreateBuffer(reinterpret_cast<const uint8_t*>(e.spec.data()), e.spec.size(), old) == B_OK
            ? old.keys.size()
            : 119;
    st = dir->store->DropCatalogEntry(e.id, keys);
    if (st != B_OK) return EndWrite(scope, st);
  }
  std::string newUuid = RandomHex(16);
  int64_t id = 0;
  st = dir->store->AddCatalogEntry(path.name, newUuid, spec, id);
  if (st != B_OK) return EndWrite(scope, st == B_DUPLICATE_KEY ? int16_t{B_CREATE_IO_ERROR} : st);
  if (!WriteMarker(path, newUuid, SyncEnabled(), true)) return EndWrite(scope, B_CREATE_IO_ERROR);
  st = EndWrite(scope, B_OK);
  // Committed: the marker loses its pending line (if this last write is
  // lost, a pending marker whose entry exists opens all the same).
  if (st == B_OK) WriteMarker(path, newUuid, SyncEnabled());
  return st;
}

int16_t StatOp(Call& c) {
  OpenFile& file = *c.handle->file;
  int16_t st = BeginRead(*file.dir);
  if (st != B_OK) return st;
  uint32_t records = 0;
  st = ReadRecordCount(file, records);
  if (st != B_OK) return st;
  std::string image = BuildStatBuffer(file.spec, records);
  return DeliverData(c, image);
}

int16_t SetOwnerOp(Call& c) {
  if (gRecman.inTransaction) return B_OPERATION_NOT_ALLOWED;
  Handle& h = *c.handle;
  if (h.readOnly) return B_ACCESS_DENIED;
  if (c.keyNumber < 0 || c.keyNumber > 3) return B_INVALID_KEY_NUMBER;
  std::string name = OwnerNameFrom(c.data, c.dataCapacity);
  std::string again = OwnerNameFrom(c.key, c.keyLength);
  if (name.empty() || (c.key != nullptr && c.keyLength > 0 && again != name)) return B_INVALID_OWNER;
  Directory& dir = *h.file->dir;
  WriteScope scope;
  int16_t st = BeginWrite(dir, scope);
  if (st != B_OK) return EndWrite(scope, st);
  CatalogEntry entry;
  bool found = false;
  st = FindCatalogEntry(dir, h.file->name, entry, found);
  if (st != B_OK) return EndWrite(scope, st);
  if (!found || entry.id != h.file->id) return EndWrite(scope, B_FILE_NOT_FOUND);
  if (!entry.ownerHash.empty()) return EndWrite(scope, B_OWNER_ALREADY_SET);
  std::string salt = RandomBytes(16);
  scope.modified = true;
  st = dir.store->SetOwnerEntry(h.file->id, salt, OwnerHash(salt, name), c.keyNumber & 1);
  return EndWrite(scope, st);
}

int16_t ClearOwnerOp(Call& c) {
  if (gRecman.inTransaction) return B_OPERATION_NOT_ALLOWED;
  Handle& h = *c.handle;
  if (h.readOnly || !h.ownerGiven) return B_ACCESS_DENIED;
  WriteScope scope;
  int16_t st = BeginWrite(*h.file->dir, scope);
  if (st != B_OK) return EndWrite(scope, st);
  scope.modified = true;
  st = h.file->dir->store->SetOwnerEntry(h.file->id, "", "", 0);
  return EndWrite(scope, st);
}

int16_t UnlockOp(Call& c) {
  if (c.keyNumber >= 0) {
    ReleaseSingleLock(c.handleId);
    return B_OK;
  }
  if (c.keyNumber == kUnlockOneMultiple) {
    if (c.data == nullptr || c.dataCapacity < 4) return B_DATA_BUFFER_TOO_SHORT;
    uint32_t pos = GetLe32(c.data);
    ReleaseMultipleLock(c.handleId, pos);
    return B_OK;
  }
  if (c.keyNumber == kUnlockAllMultiple) {
    Handle& h = *c.handle;
    std::vector<uint32_t> held = h.multipleLocks;
    for (uint32_t pos : held) ReleaseMultipleLock(c.handleId, pos);
    return B_OK;
  }
  return B_INVALID_KEY_NUMBER;
}

int16_t ResetOp() {
  if (gRecman.inTransaction) EngineAbortTransaction();
  for (size_t i = 0; i < gRecman.handles.size(); ++i)
    if (gRecman.handles[i].inUse) CloseHandle(static_cast<uint32_t>(i));
  return B_OK;
}

// The operation as its diagnostic names it.
const char* OperationName(uint16_t op) {
  switch (op) {
    case B_OPEN: return "open";
    case B_CLOSE: return "close";
    case B_INSERT: return "insert";
    case B_UPDATE: return "update";
    case B_DELETE: return "delete";
    case B_CREATE: return "create";
    case B_STAT: return "stat";
    case B_BEGIN_TRANS: return "begin transaction";
    case B_END_TRANS: return "end transaction";
    case B_ABORT_TRANS: return "abort transaction";
    case B_UNLOCK: return "unlock";
    case B_RESET: return "reset";
    case B_SET_OWNER:
    case B_CLEAR_OWNER: return "set owner";
    default: return "read";
  }
}

// Whether the code (without biases) is an operation of recman.h: 0 to 15,
// 19 to 24, 27 to 30 and 33 to 35.
bool KnownOperation(uint16_t op) {
  return op <= B_STAT || (op >= B_BEGIN_TRANS && op <= B_STEP_NEXT) ||
         (op >= B_UNLOCK && op <= B_CLEAR_OWNER) || (op >= B_STEP_FIRST && op <= B_STEP_PREVIOUS);
}

bool NeedsHandle(uint16_t op) {
  switch (op) {
    case B_OPEN:
    case B_CREATE:
    case B_BEGIN_TRANS:
    case B_END_TRANS:
    case B_ABORT_TRANS:
    case B_RESET: return false;
    default: return true;
  }
}

int16_t Dispatch(uint16_t operation, void* block, Call& c) {
  if (operation >= 500) return B_INVALID_OPERATION;
  c.lockBias = static_cast<uint16_t>(operation / 100 * 100);
  uint16_t rest = operation % 100;
  c.keyOnly = rest >= 50;
  c.operation = rest % 50;
  if (c.keyOnly && (c.operation < B_GET_EQUAL || c.operation > B_GET_LAST)) return B_INVALID_OPERATION;
  if (!KnownOperation(c.operation)) return B_INVALID_OPERATION;
  gRecman.operation = OperationName(c.operation);
  if (NeedsHandle(c.operation)) {
    c.handle = HandleFromBlock(block, c.handleId);
    if (c.handle == nullptr) return B_FILE_NOT_OPEN;
    // What was read ahead stays valid through the calls that do not move
    // the handle: a walk that asks each record's position keeps its batches.
    // Keyed reads may be answered from it (navigation.cpp); this process's
    // own updates and deletes mend it (records.cpp), and inside a
    // transaction a walk that rereads, updates or deletes each record keeps
    // it (AfterOwnWrite, GetDirect).
    // Closing, unlocking, the owner operations and the steps to either end
    // forget it.
    switch (c.operation) {
      case B_CLOSE:
      case B_UNLOCK:
      case B_SET_OWNER:
      case B_CLEAR_OWNER:
      case B_STEP_FIRST:
      case B_STEP_LAST: ForgetReadAhead(*c.handle); break;
      default: break;
    }
  }
  switch (c.operation) {
    case B_OPEN: return OpenFileOp(c, block);
    case B_CLOSE: CloseHandle(c.handleId); return B_OK;
    case B_INSERT: return InsertRecord(c);
    case B_UPDATE: return UpdateRecord(c);
    case B_DELETE: return DeleteRecord(c);
    case B_CREATE: return CreateFileOp(c);
    case B_STAT: return StatOp(c);
    case B_BEGIN_TRANS: return EngineBeginTransaction();
    case B_END_TRANS: return EngineEndTransaction();
    case B_ABORT_TRANS: return EngineAbortTransaction();
    case B_GET_POSITION: return GetPosition(c);
    case B_GET_DIRECT: return GetDirect(c);
    case B_STEP_NEXT:
    case B_STEP_FIRST:
    case B_STEP_LAST:
    case B_STEP_PREVIOUS: return StepRecord(c);
    case B_UNLOCK: return UnlockOp(c);
    case B_RESET: return ResetOp();
    case B_SET_OWNER: return SetOwnerOp(c);
    case B_CLEAR_OWNER: return ClearOwnerOp(c);
    default: return GetByKey(c);
  }
}

}  // namespace

int64_t MonotonicMs() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

}  // namespace recman

// ---- The interface of recman.h -----------------------------------------------

int16_t BTRCALL(uint16_t operation, void* positionBlock, void* dataBuffer, uint32_t* dataLength,
                void* keyBuffer, uint8_t keyLength, int8_t keyNumber) {
  std::lock_guard<std::mutex> guard(recman::gRecman.mutex);
  recman::EnsureProcessState();
  recman::ClearDiagnostic();
  recman::Call c;
  c.data = static_cast<uint8_t*>(dataBuffer);
  c.dataLength = dataLength;
  c.dataCapacity = (dataBuffer != nullptr && dataLength != nullptr) ? *dataLength : 0;
  c.key = static_cast<uint8_t*>(keyBuffer);
  c.keyLength = keyBuffer != nullptr ? keyLength : 0;
  c.keyNumber = keyNumber;
  return recman::Dispatch(operation, positionBlock, c);
}
