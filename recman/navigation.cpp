// navigation.cpp - the reading operations: get by key (5 to 13), step
// (24, 33 to 35), get position (22) and get direct (23), with record locks
// and the read-ahead cache.
//
// Currency is kept by value: the handle remembers the index entry (sort key
// plus, for duplicate keys, the insertion number) of its current record, or
// of the gap a delete left, and the record's position.  "Next" is the first
// entry above that value, so it works whatever other processes changed in
// between, and get next after get equal goes on past the equal record,
// through its duplicates, in insertion order.
//
// Read-ahead: a run of get next (or previous, or steps) fetches rows in
// growing batches and serves the following calls from memory, as long as the
// directory's change counter has not moved and the batch is younger than
// kReadAheadMaxAgeMs.  The age limit bounds the one case the counter cannot
// see: a writer killed between its commit and its second bump.
#include <algorithm>
#include <cstring>

#include "platform/le.h"
#include "recman/integrity.h"
#include "recman/locks.h"
#include "recman/operations.h"
#include "recman/recman.h"
#include "recman/store.h"
#include "recman/transactions.h"

namespace recman {

namespace {

constexpr unsigned kFirstBatch = 4;
constexpr unsigned kMaxBatch = 256;
constexpr unsigned kEqualBatch = 8;  // the first batch of a look-up by a whole key
constexpr int64_t kReadAheadMaxAgeMs = 100;

// The change count the rows about to be read belong to.
uint64_t SnapshotCounter(Directory& dir) {
  return dir.snapshotOpen ? dir.snapshotCounter : ChangeCounter(dir);
}

// Whether the rows read ahead still stand: nothing committed since (the
// folder's change counter), and not older than kReadAheadMaxAgeMs unless
// the store holds the folder against every other writer.
bool Current(const Handle& h) {
  const ReadAhead& a = h.ahead;
  Store& store = *h.file->dir->store;
  return a.valid && a.counter == ChangeCounter(*h.file->dir) &&
         (MonotonicMs() - a.filledAtMs < kReadAheadMaxAgeMs || store.HoldsFolder());
}

bool Fresh(const Handle& h) { return Current(h) && h.ahead.next < h.ahead.rows.size(); }

// Keeps `rows` (read from `low`, itself included or not, up to `batch`
// of them) as the handle's read-ahead, the first one delivered.
void Remember(Handle& h, bool forward, bool physical, std::vector<Row>&& rows, uint64_t counter,
              unsigned batch, int key = -1, const std::string& low = std::string(),
              bool lowIncluded = false) {
  ReadAhead& a = h.ahead;
  a.valid = true;
  a.forward = forward;
  a.physical = physical;
  a.key = physical ? -1 : key;
  a.low = low;
  a.lowIncluded = lowIncluded;
  a.complete = rows.size() < batch;
  a.rows = std::move(rows);
  a.next = 1;
  a.counter = counter;
  a.filledAtMs = MonotonicMs();
  a.batch = batch;
}

// The handle's rows, valid or not, emptied of the read-ahead: the store
// reads the next batch into them and reuses their buffers.
std::vector<Row> TakeRows(Handle& h) {
  std::vector<Row> rows = std::move(h.ahead.rows);
  ForgetReadAhead(h);
  return rows;
}

unsigned NextBatch(const Handle& h, bool forward, bool physical) {
  const ReadAhead& a = h.ahead;
  if (a.valid && a.forward == forward && a.physical == physical && a.batch > 0)
    return std::min(kMaxBatch, a.batch * 2);
  unsigned first = h.file->dir->store->ReadAhead();
  return first > 0 ? std::min(kMaxBatch, first) : kFirstBatch;
}

// A keyed read forward along key `key` (the first entry at or above
// `bound`, or above it) answered from what the handle read ahead: 0 with
// the row (left where it is: the caller delivers from it), `missing` when
// the stretch read ahead reaches the index's end without one, or -1 when
// the rows read ahead cannot tell.
int AnswerFromAhead(Handle& h, int key, Find how, const std::string& bound, const Row*& row) {
  ReadAhead& a = h.ahead;
  if (!a.valid || a.physical || !a.forward || a.key != key || (how != Find::kGe && how != Find::kGt))
    return -1;
  if (!Current(h)) return -1;
  // The stretch read ahead begins at `low`: the answer must lie after it.
  if (a.lowIncluded ? bound < a.low : bound <= a.low) return -1;
  auto above = [&](const Row& r) { return how == Find::kGe ? r.sortKey >= bound : r.sortKey > bound; };
  // The rows read ahead are in key order: the answer is the first above
  // the bound.  A get next asks for the row after the one it answered last,
  // so that one is tried first; else a binary search finds it.
  const size_t n = a.rows.size();
  size_t i = a.next;
  if (i > n || (i < n && !above(a.rows[i])) || (i > 0 && above(a.rows[i - 1])))
    i = static_cast<size_t>(
        std::partition_point(a.rows.begin(), a.rows.end(), [&](const Row& r) { return !above(r); }) -
        a.rows.begin());
  if (i == n) return a.complete ? 1 : -1;
  row = &a.rows[i];
  a.next = i + 1;
  return 0;
}

LockKind KindOf(uint16_t bias) { return bias >= 300 ? LockKind::kMultiple : LockKind::kSingle; }
bool Waits(uint16_t bias) { return bias == B_SINGLE_WAIT_LOCK || bias == B_MULTI_WAIT_LOCK; }

void LetGoOf(Call& c, uint32_t pos) {
  if (KindOf(c.lockBias) == LockKind::kSingle) {
    if (c.handle->singleLock == pos) ReleaseSingleLock(c.handleId);
  } else {
    ReleaseMultipleLock(c.handleId, pos);
  }
}

// Runs `fetch` (which yields the target row) and, with a lock bias, locks
// the target and fetches again to be sure the lock covers what is returned.
template <typename Fetch>
int16_t FetchLocked(Call& c, Fetch fetch, Row& row) {
  for (int attempt = 0;; ++attempt) {
    int16_t st = fetch(row);
    if (st != B_OK || c.lockBias == 0) return st;
    bool newly = false;
    st = LockRecord(c.handleId, row.pos, KindOf(c.lockBias), Waits(c.lockBias), newly);
    if (st != B_OK) return st;
    st = BeginRead(*c.handle->file->dir);  // what others committed meanwhile
    if (st != B_OK) return st;
    Row again;
    st = fetch(again);
    if (st == B_OK && again.pos == row.pos) {
      row = std::move(again);
      return B_OK;
    }
    if (newly) LetGoOf(c, row.pos);
    if (st != B_OK && st != B_KEY_NOT_FOUND && st != B_END_OF_FILE) return st;
    if (attempt > 100) return B_RECORD_LOCKED;
  }
}

// One step of a run without locks: the next row read ahead while that is
// still fresh, else a new batch from `fetch(batch, rows)`, which reads up to
// `batch` rows on from the handle's place.
template <typename Fetch>
int16_t StepAhead(Handle& h, bool forward, bool physical, const Row*& row, Fetch fetch, bool useKept = true) {
  if (useKept && Fresh(h) && h.ahead.forward == forward && h.ahead.physical == physical) {
    // Kept where it is: a later keyed read may be answered from it.
    row = &h.ahead.rows[h.ahead.next++];
    return B_OK;
  }
  unsigned batch = NextBatch(h, forward, physical);
  uint64_t counter = SnapshotCounter(*h.file->dir);
  std::vector<Row> rows = TakeRows(h);
  int16_t st = fetch(batch, rows);
  if (st != B_OK) return st;
  if (rows.empty()) return B_END_OF_FILE;
  int key = physical ? -1 : h.logicalKey;
  std::string low = physical ? std::string() : h.sortKey;
  Remember(h, forward, physical, std::move(rows), counter, batch, key, low, false);
  row = &h.ahead.rows[0];
  return B_OK;
}

void TakeLogical(Handle& h, int key, const Row& row) {
  h.logicalKey = key;
  h.logical = Place::kOnRecord;
  h.sortKey = row.sortKey;
  h.physical = Place::kOnRecord;
  h.pos = row.pos;
  h.version = row.version;
}

}  // namespace

void ForgetReadAhead(Handle& h) {
  // The rows stay as buffers for the next batch (TakeRows); nothing reads
  // them while the read-ahead is not valid.
  h.ahead.valid = false;
  h.ahead.batch = 0;
}

void AfterOwnWrite(Handle& writer, bool succeeded, bool writerKeeps, uint64_t before) {
  OpenFile& written = *writer.file;
  bool held =
      succeeded && gRecman.inTransaction && !gRecman.transactionFailed && written.dir->transactionOpen;
  if (!held || !writerKeeps) ForgetReadAhead(writer);
  if (!held) return;
  Directory& dir = *written.dir;
  uint64_t now = ChangeCounter(dir);
  for (Handle& h : gRecman.handles) {
    if (!h.inUse || !h.file || h.file->dir != &dir || !h.ahead.valid || h.ahead.counter != before) continue;
    if (h.file != &written || &h == &writer) h.ahead.counter = now;
  }
}

namespace {

// Every handle of this process on the file.
template <typename Each>
void ForHandlesOf(OpenFile& file, Each each) {
  for (Handle& h : gRecman.handles)
    if (h.inUse && h.file == &file && h.ahead.valid) each(h);
}

}  // namespace

void ReadAheadUpdated(OpenFile& file, const Row& row) {
  ForHandlesOf(file, [&](Handle& h) {
    for (Row& r : h.ahead.rows) {
      if (r.pos != row.pos) continue;
      r.version = row.version;
      r.data = row.data;
      r.sequences = row.sequences;
      r.checksum = row.checksum;
    }
  });
}

void ReadAheadDeleted(OpenFile& file, uint32_t pos) {
  ForHandlesOf(file, [&](Handle& h) {
    ReadAhead& a = h.ahead;
    for (size_t i = 0; i < a.rows.size(); ++i) {
      if (a.rows[i].pos != pos) continue;
      a.rows.erase(a.rows.begin() + static_cast<std::ptrdiff_t>(i));
      if (i < a.next) --a.next;
      break;
    }
  });
}

void ReadAheadInserted(OpenFile& file) {
  ForHandlesOf(file, [](Handle& h) { ForgetReadAhead(h); });
}

void SetDataLength(Call& c, uint32_t n) {
  if (c.dataLength) *c.dataLength = n;
}

int16_t DeliverData(Call& c, const std::string& data) {
  uint32_t n = static_cast<uint32_t>(std::min<size_t>(c.dataCapacity, data.size()));
  if (n > 0 && c.data) std::memcpy(c.data, data.data(), n);
  SetDataLength(c, n);
  return n < data.size() ? B_DATA_BUFFER_TOO_SHORT : B_OK;
}

void DeliverKey(Call& c, int key, const std::string& data) {
  const FileSpec& spec = c.handle->file->spec;
  if (c.key == nullptr || key < 0 || static_cast<size_t>(key) >= spec.keys.size()) return;
  if (data.size() < spec.recordLength) return;
  ExtractKeyValue(spec.keys[key], reinterpret_cast<const uint8_t*>(data.data()), c.key);
}

std::string KeyFromCaller(const Call& c, int key) {
  const KeyDef& k = c.handle->file->spec.keys[key];
  std::string value(k.length, '\0');
  size_t n = std::min<size_t>(k.length, c.keyLength);
  if (c.key && n > 0) std::memcpy(value.data(), c.key, n);
  return value;
}

bool KeyBufferFits(const Call& c, int key) {
  const FileSpec& spec = c.handle->file->spec;
  if (key < 0 || static_cast<size_t>(key) >= spec.keys.size()) return true;
  return c.key != nullptr && c.keyLength >= spec.keys[key].length;
}

int16_t GetByKey(Call& c) {
  Handle& h = *c.handle;
  OpenFile& f = *h.file;
  const FileSpec& spec = f.spec;
  int kn = c.keyNumber;
  if (kn < 0 || static_cast<size_t>(kn) >= spec.keys.size()) return B_INVALID_KEY_NUMBER;
  if (!KeyBufferFits(c, kn)) return B_KEY_BUFFER_TOO_SHORT;
  const KeyDef& key = spec.keys[kn];
  uint16_t op = c.operation;
  bool stepping = op == B_GET_NEXT || op == B_GET_PREVIOUS;
  if (stepping) {
    if (h.logical == Place::kNone) return B_INVALID_POSITIONING;
    if (h.logicalKey != kn) return B_DIFFERENT_KEY_NUMBER;
  }
  int16_t st = BeginRead(*f.dir);
  if (st != B_OK) return st;

  Row fetched;                // a row read alone, with a lock
  const Row* row = &fetched;  // or one of the rows read ahead
  if (stepping && c.lockBias == 0) {
    bool forward = op == B_GET_NEXT;
    // Forward, the next entry is looked for in the rows read ahead (they
    // may come from a keyed read, or have lost a row this process deleted).
    int answered = forward ? AnswerFromAhead(h, kn, Find::kGt, h.sortKey, row) : -1;
    if (answered == 1) return B_END_OF_FILE;
    if (answered != 0) {
      st = StepAhead(
          h, forward, false, row,
          [&](unsigned batch, std::vector<Row>& rows) {
            return FetchByIndex(f, kn, forward ? Find::kGt : Find::kLt, h.sortKey, batch, rows);
          },
          !forward);
      if (st != B_OK) return st;
    }
  } else {
    Find how = Find::kGe;
    std::string bound;
    int16_t missing = B_END_OF_FILE;
    if (op == B_GET_FIRST) {
      how = Find::kGe;
    } else if (op == B_GET_LAST) {
      how = Find::kLe;
      bound.assign(key.length + 9u, '\xFF');
    } else if (stepping) {
      how = op == B_GET_NEXT ? Find::kGt : Find::kLt;
      bound = h.sortKey;
    } else {
      std::string value = KeyFromCaller(c, kn);
      EncodeKeyValue(spec, key, reinterpret_cast<const uint8_t*>(value.data()), bound);
      switch (op) {
        case B_GET_EQUAL:
          how = Find::kGe;
          missing = B_KEY_NOT_FOUND;
          break;
        case B_GET_GREATER:
          how = Find::kGt;
          if (key.duplicates) bound.append(8, '\xFF');
          break;
        case B_GET_GE: how = Find::kGe; break;
        case B_GET_LESS: how = Find::kLt; break;
        default:
          how = Find::kLe;
          if (key.duplicates) bound.append(8, '\xFF');
          break;
      }
    }
    const size_t length = key.length;
    auto equal = [&](const Row& r) {
      return op != B_GET_EQUAL || r.sortKey.compare(0, length, bound, 0, length) == 0;
    };
    int answered = c.lockBias == 0 ? AnswerFromAhead(h, kn, how, bound, row) : -1;
    if (answered == 0 && !equal(*row)) return missing;
    if (answered == 1) return missing;
    if (answered != 0) {
      ForgetReadAhead(h);
      // Without a lock, forward, a store that reads ahead fetches a batch
      // and keeps the rest for the reads that follow.
      unsigned ahead = f.dir->store->ReadAhead();
      // A look-up by its whole key seldom walks on (a property's header, a
      // concept): it reads a few rows ahead, and the batches double if the
      // caller does walk on.
      if (op == B_GET_EQUAL) ahead = std::min(ahead, kEqualBatch);
      bool batch = c.lockBias == 0 && ahead > 1 && (how == Find::kGe || how == Find::kGt);
      if (batch) {
        uint64_t counter = SnapshotCounter(*f.dir);
        std::vector<Row> rows = TakeRows(h);
        st = FetchByIndex(f, kn, how, bound, ahead, rows);
        if (st != B_OK) return st;
        if (rows.empty()) return missing;
        Remember(h, true, false, std::move(rows), counter, ahead, kn, bound, how == Find::kGe);
        row = &h.ahead.rows[0];
        if (!equal(*row)) return missing;
      } else {
        auto fetch = [&](Row& out) -> int16_t {
          std::vector<Row> rows;
          int16_t s = FetchByIndex(f, kn, how, bound, 1, rows);
          if (s != B_OK) return s;
          if (rows.empty()) return missing;
          if (!equal(rows[0])) return missing;
          out = std::move(rows[0]);
          return B_OK;
        };
        st = FetchLocked(c, fetch, fetched);
        if (st != B_OK) return st;
      }
    }
  }
  st = VerifyRow(f, *row, kn);
  if (st != B_OK) return st;
  TakeLogical(h, kn, *row);
  DeliverKey(c, kn, row->data);
  st = c.keyOnly ? int16_t{B_OK} : DeliverData(c, row->data);
  if (row == &fetched) RememberRow(f, std::move(fetched));
  else RememberRow(f, *row);
  return st;
}

int16_t StepRecord(Call& c) {
  Handle& h = *c.handle;
  OpenFile& f = *h.file;
  uint16_t op = c.operation;
  bool forward = op == B_STEP_NEXT || op == B_STEP_FIRST;
  int64_t bound;
  switch (op) {
    case B_STEP_FIRST: bound = 0; break;
    case B_STEP_LAST: bound = INT64_MAX; break;
    case B_STEP_NEXT: bound = h.physical == Place::kNone ? 0 : h.pos; break;
    default:
      if (h.physical == Place::kNone) return B_END_OF_FILE;
      bound = h.pos;
      break;
  }
  int16_t st = BeginRead(*f.dir);
  if (st != B_OK) return st;
  Row fetched;
  const Row* row = &fetched;
  bool run = op == B_STEP_NEXT || op == B_STEP_PREVIOUS;
  if (run && c.lockBias == 0) {
    st = StepAhead(h, forward, true, row, [&](unsigned batch, std::vector<Row>& rows) {
      return FetchPhysical(f, forward, bound, batch, rows);
    });
    if (st != B_OK) return st;
  } else {
    ForgetReadAhead(h);
    auto fetch = [&](Row& out) -> int16_t {
      std::vector<Row> rows;
      int16_t s = FetchPhysical(f, forward, bound, 1, rows);
      if (s != B_OK) return s;
      if (rows.empty()) return B_END_OF_FILE;
      out = std::move(rows[0]);
      return B_OK;
    };
    st = FetchLocked(c, fetch, fetched);
    if (st != B_OK) return st;
  }
  st = VerifyRow(f, *row);
  if (st != B_OK) return st;
  h.logicalKey = -1;
  h.logical = Place::kNone;
  h.physical = Place::kOnRecord;
  h.pos = row->pos;
  h.version = row->version;
  st = DeliverData(c, row->data);
  if (row == &fetched) RememberRow(f, std::move(fetched));
  else RememberRow(f, *row);
  return st;
}

int16_t GetPosition(Call& c) {
  Handle& h = *c.handle;
  if (h.physical != Place::kOnRecord) return B_INVALID_POSITIONING;
  if (c.data == nullptr || c.dataCapacity < 4) return B_DATA_BUFFER_TOO_SHORT;
  PutLe32(c.data, static_cast<uint32_t>(h.pos));
  SetDataLength(c, 4);
  return B_OK;
}

int16_t GetDirect(Call& c) {
  Handle& h = *c.handle;
  OpenFile& f = *h.file;
  const FileSpec& spec = f.spec;
  if (c.data == nullptr || c.dataCapacity < 4) return B_DATA_BUFFER_TOO_SHORT;
  int kn = c.keyNumber;
  if (!spec.keys.empty() && (kn < 0 || static_cast<size_t>(kn) >= spec.keys.size()))
    return B_INVALID_KEY_NUMBER;
  if (spec.keys.empty()) kn = -1;
  if (!KeyBufferFits(c, kn)) return B_KEY_BUFFER_TOO_SHORT;
  uint32_t pos = GetLe32(c.data);
  if (pos == 0) return B_INVALID_RECORD_ADDRESS;
  // The record the handle stands on, read again along the key it walks:
  // what was read ahead past it stays.  So do rows read ahead forward along
  // a key on a store that answers keyed reads from them (they are looked
  // up by key value, not by the place left here).
  bool again = h.physical == Place::kOnRecord && h.pos == pos && h.logical == Place::kOnRecord &&
               h.logicalKey == kn && kn >= 0;
  bool byKey = h.ahead.forward && !h.ahead.physical && f.dir->store->ReadAhead() > 0;
  if (!again && !byKey) ForgetReadAhead(h);
  int16_t st = BeginRead(*f.dir);
  if (st != B_OK) return st;
  auto take = [&](const Row& row) {
    h.physical = Place::kOnRecord;
    h.pos = row.pos;
    h.version = row.version;
    h.logicalKey = kn;
    h.logical = Place::kNone;
    if (kn >= 0 && IndexEntry(spec, static_cast<size_t>(kn),
                              reinterpret_cast<const uint8_t*>(row.data.data()), row.sequences, h.sortKey))
      h.logical = Place::kOnRecord;
    DeliverKey(c, kn, row.data);
    return DeliverData(c, row.data);
  };
  // A record the transaction already read (and checked) is not read again,
  // nor copied when no lock is asked for.
  if (c.lockBias == 0)
    if (const Row* seen = SeenRow(f, pos)) return take(*seen);
  bool seenBefore = false;
  auto fetch = [&](Row& out) -> int16_t {
    seenBefore = false;
    if (const Row* seen = SeenRow(f, pos)) {
      out = *seen;
      seenBefore = true;
      return B_OK;
    }
    bool found = false;
    int16_t s = FetchRecord(f, pos, out, found);
    if (s != B_OK) return s;
    if (!found) return B_INVALID_RECORD_ADDRESS;
    return B_OK;
  };
  Row row;
  st = FetchLocked(c, fetch, row);
  if (st != B_OK) return st;
  if (!seenBefore) st = VerifyRow(f, row);
  if (st != B_OK) return st;
  st = take(row);
  if (!seenBefore) RememberRow(f, std::move(row));
  return st;
}

}  // namespace recman
