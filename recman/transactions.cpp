// transactions.cpp - begin, end and abort, and the commit of single writes.
//
// A transaction takes each directory's write lock at its first touch (the
// store's BeginWrite) rather than at its first write: a transaction that
// read first could not later be sure to write once another process had
// committed, and would fail half-way.  Other processes keep reading and
// their writes wait (up to the busy timeout, then 85).
//
// Read snapshots: outside a transaction, every statement of a SQLite store
// would begin and end a read transaction of its own, which costs more than
// the lookup itself.  The engine instead keeps one read transaction open on the
// directory through a burst of reading calls, and trusts it while the
// directory's change counter has not moved (every writer bumps it before
// and after its commit) and it is younger than kSnapshotMaxAgeMs.  Any write
// of this process ends it first.  A burst is over when no call used the
// snapshot for kSnapshotIdleMs: a watcher thread then ends it, so that a
// station waiting for its operator (or for anything else) holds no
// snapshot.  A snapshot held would keep the write-ahead log from being
// checkpointed and started again: the log would grow without end, every
// other station would read through it, and the writes would stay out of
// the database file.
//
// The identity of the database file is checked before every write
// transaction, before its commit and before every new snapshot: a file
// replaced or deleted under the station is never written (status 2).
#include "recman/transactions.h"

#include <pthread.h>
#include <unistd.h>

#include <chrono>

#include "recman/locks.h"
#include "recman/recman.h"
#include "recman/store.h"

namespace recman {

namespace {

// Empties `seen`, keeping entries as spares.
void ForgetAllRows(TransactionRows& seen) {
  while (!seen.rows.empty() && seen.spare.size() < TransactionRows::kMaxSpare)
    seen.spare.push_back(seen.rows.extract(seen.rows.begin()));
  seen.rows.clear();
}

void ForgetTransactionRows() {
  for (auto& [key, file] : gRecman.files) {
    ForgetAllRows(file->seen);
    file->seen.transaction = 0;
  }
}

// Whether what the file reads now belongs to the open transaction's
// consistent view: the transaction holds the file's directory.
bool InsideTransaction(const OpenFile& file) {
  return gRecman.inTransaction && !gRecman.transactionFailed && file.dir->transactionOpen;
}

void RollbackEverything() {
  ForgetTransactionRows();
  for (auto& [path, dir] : gRecman.directories) {
    dir->pendingCounts.clear();
    if (!dir->transactionOpen) continue;
    dir->store->Rollback();
    dir->transactionOpen = false;
    BumpChangeCounter(*dir);
  }
}

constexpr int64_t kSnapshotMaxAgeMs = 100;
constexpr int64_t kSnapshotIdleMs = 20;

// When the directory's snapshot is to end.
int64_t SnapshotDeadline(const Directory& dir) {
  return std::min(dir.snapshotUsedMs + kSnapshotIdleMs, dir.snapshotAtMs + kSnapshotMaxAgeMs);
}

// The watcher: ends every snapshot whose burst is over, then sleeps until
// the next deadline (or, with none open, until BeginRead opens one).
void* WatchSnapshots(void*) {
  std::unique_lock<std::mutex> lock(gRecman.mutex);
  while (!gRecman.watcherStop) {
    int64_t now = MonotonicMs(), next = INT64_MAX;
    for (auto& [path, dir] : gRecman.directories) {
      if (!dir->snapshotOpen) continue;
      int64_t deadline = SnapshotDeadline(*dir);
      if (deadline <= now) {
        EndRead(*dir);
      } else {
        next = std::min(next, deadline);
      }
    }
    if (next == INT64_MAX) {
      gRecman.watcherWaiting = true;
      gRecman.watcherWake.wait(lock);
      gRecman.watcherWaiting = false;
    } else {
      // The coarse clock may lag the sleep by a few milliseconds: one more
      // round then ends the snapshot.
      gRecman.watcherWake.wait_for(lock, std::chrono::milliseconds(next - now + 1));
    }
  }
  return nullptr;
}

pthread_t gWatcher;

// Starts the watcher in this process (a forked child has none), or wakes it
// for a new snapshot.
void WatchSnapshot() {
  pid_t pid = getpid();
  if (gRecman.watcherPid != pid) {
    gRecman.watcherStop = false;
    gRecman.watcherWaiting = false;
    if (pthread_create(&gWatcher, nullptr, WatchSnapshots, nullptr) == 0) gRecman.watcherPid = pid;
    return;
  }
  if (gRecman.watcherWaiting) gRecman.watcherWake.notify_one();
}

}  // namespace

void StopSnapshotWatcher() {
  if (gRecman.watcherPid != getpid()) return;
  {
    std::lock_guard<std::mutex> guard(gRecman.mutex);
    gRecman.watcherStop = true;
    gRecman.watcherWake.notify_one();
  }
  pthread_join(gWatcher, nullptr);
  gRecman.watcherPid = 0;
}

void EndRead(Directory& dir) {
  if (!dir.snapshotOpen) return;
  dir.snapshotOpen = false;
  dir.store->EndSnapshot();
}

int16_t BeginRead(Directory& dir) {
  if (gRecman.inTransaction) return TouchDirectory(dir);
  uint64_t counter = ChangeCounter(dir);
  int64_t now = MonotonicMs();
  if (dir.snapshotOpen) {
    if (dir.store->Connected() && counter == dir.snapshotCounter &&
        now - dir.snapshotAtMs < kSnapshotMaxAgeMs) {
      dir.snapshotUsedMs = now;
      return B_OK;
    }
    EndRead(dir);
  }
  int16_t st = EnsureConnection(dir);
  if (st == B_OK) st = dir.store->CheckIdentity();
  if (st != B_OK) return st;
  if (dir.store->BeginSnapshot()) {
    dir.snapshotOpen = true;
    dir.snapshotCounter = counter;
    dir.snapshotAtMs = now;
    dir.snapshotUsedMs = now;
    WatchSnapshot();
  }
  return B_OK;
}

int16_t TouchDirectory(Directory& dir) {
  if (!gRecman.inTransaction || dir.transactionOpen) return B_OK;
  if (gRecman.transactionFailed) return B_IO_ERROR;
  EndRead(dir);
  int16_t st = EnsureConnection(dir);
  if (st == B_OK) st = dir.store->CheckIdentity();
  // A folder opened for reading only joins the transaction with a read.
  if (st == B_OK) st = dir.store->BeginWrite(dir.readOnly);
  if (st == B_OK) dir.transactionOpen = true;
  return st;
}

int16_t BeginWrite(Directory& dir, WriteScope& scope) {
  scope = WriteScope{};
  scope.dir = &dir;
  int16_t st;
  if (gRecman.inTransaction) {
    st = TouchDirectory(dir);
  } else {
    EndRead(dir);
    st = EnsureConnection(dir);
    if (st == B_OK) st = dir.store->CheckIdentity();
    if (st == B_OK) st = dir.store->BeginWrite(false);
    scope.own = st == B_OK;
  }
  if (st == B_OK) BumpChangeCounter(dir);
  return st;
}

int16_t EndWrite(WriteScope& scope, int16_t status) {
  Directory& dir = *scope.dir;
  if (scope.own) {
    // A file replaced under the write since it began is not committed into.
    if (status == B_OK) status = dir.store->CheckIdentity();
    if (status == B_OK) {
      status = dir.store->Commit();
      if (status != B_OK) dir.store->Rollback();
    } else {
      dir.store->Rollback();
    }
  } else if (status != B_OK && scope.modified) {
    RollbackEverything();
    gRecman.transactionFailed = true;
  }
  BumpChangeCounter(dir);
  return status;
}

namespace {

// The entry of the transaction's rows for `pos`, made (from a spare when
// there is one) if there is none yet.
Row& KeptRow(OpenFile& file, uint32_t pos) {
  TransactionRows& seen = file.seen;
  if (seen.transaction != gRecman.transactionSerial) {
    ForgetAllRows(seen);
    seen.transaction = gRecman.transactionSerial;
  }
  auto it = seen.rows.find(pos);
  if (it != seen.rows.end()) return it->second;
  if (seen.rows.size() >= TransactionRows::kMaxRows) ForgetAllRows(seen);
  if (seen.spare.empty()) return seen.rows[pos];
  auto node = std::move(seen.spare.back());
  seen.spare.pop_back();
  node.key() = pos;
  return seen.rows.insert(std::move(node)).position->second;
}

// The entry kept for `row` inside a transaction (nullptr outside one),
// with the row's position, version and checksum; its bytes are the
// caller's to set.
Row* KeptFieldsOf(OpenFile& file, const Row& row) {
  if (!InsideTransaction(file)) return nullptr;
  Row& kept = KeptRow(file, row.pos);
  kept.pos = row.pos;
  kept.version = row.version;
  kept.checksum = row.checksum;
  return &kept;
}

}  // namespace

// The row's buffers change places with the kept entry's.
void RememberRow(OpenFile& file, Row&& row) {
  if (Row* kept = KeptFieldsOf(file, row)) {
    kept->data.swap(row.data);
    kept->sequences.swap(row.sequences);
  }
}

void RememberRow(OpenFile& file, const Row& row) {
  if (Row* kept = KeptFieldsOf(file, row)) {
    kept->data.assign(row.data);
    kept->sequences.assign(row.sequences);
  }
}

Row* SeenRow(OpenFile& file, uint32_t pos) {
  if (!InsideTransaction(file) || file.seen.transaction != gRecman.transactionSerial) return nullptr;
  auto it = file.seen.rows.find(pos);
  return it == file.seen.rows.end() ? nullptr : &it->second;
}

void ForgetRow(OpenFile& file, uint32_t pos) {
  TransactionRows& seen = file.seen;
  auto node = seen.rows.extract(pos);
  if (node && seen.spare.size() < TransactionRows::kMaxSpare) seen.spare.push_back(std::move(node));
}

int16_t EngineBeginTransaction() {
  if (gRecman.inTransaction) return B_TRANSACTION_ACTIVE;
  gRecman.inTransaction = true;
  gRecman.transactionFailed = false;
  ++gRecman.transactionSerial;
  return B_OK;
}

int16_t EngineEndTransaction() {
  if (!gRecman.inTransaction) return B_NO_TRANSACTION;
  int16_t result = gRecman.transactionFailed ? B_IO_ERROR : B_OK;
  for (auto& [path, dir] : gRecman.directories) {
    if (!dir->transactionOpen) continue;
    int16_t st = result == B_OK ? FlushRecordCounts(*dir) : int16_t{B_IO_ERROR};
    if (st == B_OK) st = dir->store->CheckIdentity();
    dir->pendingCounts.clear();
    if (st == B_OK) st = dir->store->Commit();
    if (st != B_OK) {
      dir->store->Rollback();
      result = st;
    }
    dir->transactionOpen = false;
    BumpChangeCounter(*dir);
  }
  ForgetTransactionRows();
  gRecman.inTransaction = false;
  gRecman.transactionFailed = false;
  return result;
}

int16_t EngineAbortTransaction() {
  if (!gRecman.inTransaction) return B_NO_TRANSACTION;
  RollbackEverything();
  gRecman.inTransaction = false;
  gRecman.transactionFailed = false;
  return B_OK;
}

}  // namespace recman
