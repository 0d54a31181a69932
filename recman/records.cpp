// records.cpp - insert, update and delete.
//
// Each of them checks everything that can refuse it (access, length, current
// record, locks of other processes, the record's version, unique keys,
// unmodifiable keys) before the first change, so a refusal never leaves a
// half-done operation, inside a transaction or not.  A record's version grows
// with every update; an update or delete whose handle read an older version
// (another handle or process changed or deleted the record since) is
// refused with status 80.
#include <algorithm>
#include <cstring>

#include "recman/integrity.h"
#include "recman/locks.h"
#include "recman/operations.h"
#include "recman/recman.h"
#include "recman/store.h"
#include "recman/transactions.h"

namespace recman {

namespace {

constexpr uint32_t kMaxRecordLength = 65535;

bool LengthFits(const FileSpec& spec, uint32_t length) {
  if (spec.variableLength) return length >= spec.recordLength && length <= kMaxRecordLength;
  return length == spec.recordLength;
}

// Record versions are random, not counted: a position can come back after an
// aborted transaction (its allocation is rolled back too), and a handle that
// still points there must not take the new record for the one it read.
int64_t NewVersion() {
  uint64_t& state = gRecman.versionState;
  if (state == 0) state = gRecman.nonce ^ 0x9E3779B97F4A7C15ull;
  uint64_t z = (state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  z ^= z >> 31;
  return static_cast<int64_t>(z >> 1) | 1;
}

const uint8_t* Bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

// The index entries of a record, with whether the record is in each index.
struct Entries {
  std::vector<std::string> entry;
  std::vector<bool> present;
};

// Fills `e`, whose buffers serve again.
void EntriesOf(const FileSpec& spec, const std::string& data, const std::string& sequences, Entries& e) {
  e.entry.resize(spec.keys.size());
  e.present.assign(spec.keys.size(), false);
  for (size_t k = 0; k < spec.keys.size(); ++k)
    e.present[k] = IndexEntry(spec, k, Bytes(data), sequences, e.entry[k]);
}

// The handle's current record as the transaction already read it (see
// TransactionRows); false when it must be read from the store.
// The write forgets it right after (ForgetRow), so it is taken, not copied:
// its buffers change places with the caller's.
bool TakeSeenRecord(Handle& h, Row& row, std::string& sequences) {
  Row* seen = SeenRow(*h.file, h.pos);
  if (!seen) return false;
  row.pos = seen->pos;
  row.version = seen->version;
  row.data.swap(seen->data);
  sequences.swap(seen->sequences);
  return true;
}

// Opens the write of the handle's current record (update or delete) and
// gets the record as it stands, with its insertion numbers; 80 when it is
// gone or another version than the handle read, 84 when another station
// holds it locked.  The caller ends the write with EndWrite whatever this
// answers.
int16_t BeginRecordWrite(Handle& h, WriteScope& scope, Row& old, std::string& sequences) {
  OpenFile& f = *h.file;
  bool seen = TakeSeenRecord(h, old, sequences), found = seen;
  ForgetRow(f, h.pos);  // whatever comes of the write, what was read of it is old
  int16_t st = BeginWrite(*f.dir, scope);
  if (st == B_OK && !seen) {
    st = FetchRecord(f, h.pos, old, found);
    sequences = old.sequences;
  }
  if (st != B_OK) return st;
  if (!found || old.version != h.version) return B_CONFLICT;
  // What the write rests on must be sound: a damaged record is not written
  // over (nor its index entries removed) as if it were.
  if (!seen && (st = VerifyRow(f, old)) != B_OK) return st;
  // Asked inside the write (a store may send the question with it).
  return RecordLockedElsewhere(f, h.pos) ? int16_t{B_RECORD_LOCKED} : int16_t{B_OK};
}

}  // namespace

int16_t InsertRecord(Call& c) {
  Handle& h = *c.handle;
  OpenFile& f = *h.file;
  const FileSpec& spec = f.spec;
  const size_t keys = spec.keys.size();
  if (h.readOnly) return B_ACCESS_DENIED;
  int kn = c.keyNumber;
  if (keys > 0 && kn != -1 && (kn < 0 || static_cast<size_t>(kn) >= keys)) return B_INVALID_KEY_NUMBER;
  if (!KeyBufferFits(c, kn)) return B_KEY_BUFFER_TOO_SHORT;
  if (c.data == nullptr || !LengthFits(spec, c.dataCapacity)) return B_RECORD_LENGTH_ERROR;
  std::string data(reinterpret_cast<const char*>(c.data), c.dataCapacity);

  WriteScope scope;
  int16_t st = BeginWrite(*f.dir, scope);
  if (st != B_OK) return EndWrite(scope, st);
  std::vector<std::string> sortKeys(keys);
  std::vector<bool> present(keys);
  for (size_t k = 0; k < keys; ++k) {
    present[k] = EncodeRecordKey(spec, spec.keys[k], Bytes(data), sortKeys[k]);
    if (present[k] && !spec.keys[k].duplicates) {
      uint32_t other;
      bool found = false;
      st = FindIndexEntry(f, static_cast<int>(k), sortKeys[k], other, found);
      if (st == B_OK && found) st = B_DUPLICATE_KEY;
      if (st != B_OK) return EndWrite(scope, st);
    }
  }
  scope.modified = true;
  uint64_t pos = 0;
  st = AllocatePosition(f, true, pos);
  if (st != B_OK) return EndWrite(scope, st);
  ForgetRow(f, static_cast<uint32_t>(pos));
  std::string sequences(keys * 8, '\0');
  for (size_t k = 0; k < keys; ++k) {
    if (!spec.keys[k].duplicates) continue;
    SetSequence(sequences, k, pos);
    AppendSequence(sortKeys[k], pos);
  }
  int64_t version = NewVersion();
  st = WriteRecordRow(f, RowWrite::kInsert, static_cast<uint32_t>(pos), version, data, sequences,
                      RecordChecksum(static_cast<uint32_t>(pos), version, data, sequences));
  for (size_t k = 0; k < keys && st == B_OK; ++k)
    if (present[k]) st = InsertIndexEntry(f, static_cast<int>(k), sortKeys[k], static_cast<uint32_t>(pos));
  st = EndWrite(scope, st);
  if (st != B_OK) return st;

  ReadAheadInserted(f);
  if (kn != -1 || keys == 0) {
    h.physical = Place::kOnRecord;
    h.pos = static_cast<uint32_t>(pos);
    h.version = version;
    if (keys > 0) {
      h.logicalKey = kn;
      h.logical = present[kn] ? Place::kOnRecord : Place::kNone;
      if (present[kn]) h.sortKey = sortKeys[kn];
    }
  }
  DeliverKey(c, kn, data);
  return B_OK;
}

namespace {

// The keys of an updated record: each one's new value, whether it has one
// (no null key), and whether it differs from the record's old one.
struct KeyChanges {
  std::vector<std::string> after;
  std::vector<bool> present, changed;
};

// The new record's keys against the old ones' index entries: a change of a
// key that may not change answers 10, a new value of a unique key that
// another record (not the one at `pos`) holds answers 5.
int16_t CheckKeyChanges(OpenFile& f, uint32_t pos, const Entries& before, const std::string& data,
                        KeyChanges& out) {
  const FileSpec& spec = f.spec;
  const size_t keys = spec.keys.size();
  out.after.resize(keys);
  out.present.assign(keys, false);
  out.changed.assign(keys, false);
  for (size_t k = 0; k < keys; ++k) {
    const KeyDef& key = spec.keys[k];
    out.present[k] = EncodeRecordKey(spec, key, Bytes(data), out.after[k]);
    bool same = out.present[k] == before.present[k] &&
                (!out.present[k] || before.entry[k].compare(0, key.length, out.after[k]) == 0);
    out.changed[k] = !same;
    if (!out.changed[k]) continue;
    if (!key.modifiable) return B_MODIFIABLE_KEY_CHANGED;
    if (out.present[k] && !key.duplicates) {
      uint32_t other = 0;
      bool taken = false;
      int16_t st = FindIndexEntry(f, static_cast<int>(k), out.after[k], other, taken);
      if (st == B_OK && taken && other != pos) st = B_DUPLICATE_KEY;
      if (st != B_OK) return st;
    }
  }
  return B_OK;
}

// The index entries of the changed keys moved to their new values (a
// duplicate key gets a new insertion number, kept in `sequences`); the
// unchanged keys' `after` become their entries as they stand (taken from
// `before`).
int16_t MoveIndexEntries(OpenFile& f, uint32_t pos, Entries& before, KeyChanges& keys,
                         std::string& sequences) {
  int16_t st = B_OK;
  for (size_t k = 0; k < keys.after.size() && st == B_OK; ++k) {
    if (!keys.changed[k]) {
      keys.after[k] = std::move(before.entry[k]);
      continue;
    }
    if (before.present[k]) st = DeleteIndexEntry(f, static_cast<int>(k), before.entry[k]);
    if (st != B_OK || !keys.present[k]) continue;
    if (f.spec.keys[k].duplicates) {
      uint64_t seq = 0;
      st = AllocatePosition(f, false, seq);
      if (st != B_OK) break;
      SetSequence(sequences, k, seq);
      AppendSequence(keys.after[k], seq);
    }
    st = InsertIndexEntry(f, static_cast<int>(k), keys.after[k], pos);
  }
  return st;
}

// What an update or delete works out of the record's keys, kept from one
// write to the next so that its buffers serve again (the engine makes one
// call at a time).
struct WriteScratch {
  Entries before;
  KeyChanges changes;
  Row old;  // the record as it stood
  std::string sequences;
};
WriteScratch& Scratch() {
  static thread_local WriteScratch scratch;
  return scratch;
}

}  // namespace

// The update of the handle's current record; `keysKept` when none of its
// keys changed.
static int16_t UpdateCurrent(Call& c, bool& keysKept) {
  keysKept = false;
  Handle& h = *c.handle;
  OpenFile& f = *h.file;
  const FileSpec& spec = f.spec;
  const size_t keys = spec.keys.size();
  // The key number names the key whose value comes back (the current
  // one's when the handle stands on a key): one the file lacks changes
  // nothing, nor does a key buffer too short for the key returned.
  int kn = c.keyNumber;
  if (keys > 0 && (kn < 0 || static_cast<size_t>(kn) >= keys)) return B_INVALID_KEY_NUMBER;
  int returned = h.logicalKey >= 0 ? h.logicalKey : kn;
  if (!KeyBufferFits(c, returned)) return B_KEY_BUFFER_TOO_SHORT;
  if (h.physical != Place::kOnRecord) return B_INVALID_POSITIONING;
  if (h.readOnly) return B_ACCESS_DENIED;
  if (c.data == nullptr || !LengthFits(spec, c.dataCapacity)) return B_RECORD_LENGTH_ERROR;
  std::string data(reinterpret_cast<const char*>(c.data), c.dataCapacity);
  Row& old = Scratch().old;
  std::string& sequences = Scratch().sequences;
  WriteScope scope;
  int16_t st = BeginRecordWrite(h, scope, old, sequences);
  if (st != B_OK) return EndWrite(scope, st);

  Entries& before = Scratch().before;
  EntriesOf(spec, old.data, sequences, before);
  KeyChanges& keyChanges = Scratch().changes;
  st = CheckKeyChanges(f, h.pos, before, data, keyChanges);
  if (st != B_OK) return EndWrite(scope, st);
  scope.modified = true;
  st = MoveIndexEntries(f, h.pos, before, keyChanges, sequences);
  const std::vector<std::string>& after = keyChanges.after;
  const std::vector<bool>& present = keyChanges.present;
  const std::vector<bool>& changed = keyChanges.changed;
  keysKept = std::find(changed.begin(), changed.end(), true) == changed.end();
  Row written;
  written.pos = h.pos;
  written.version = NewVersion();
  written.data = std::move(data);
  written.sequences = std::move(sequences);
  written.checksum = RecordChecksum(h.pos, written.version, written.data, written.sequences);
  if (st == B_OK)
    st = WriteRecordRow(f, RowWrite::kUpdate, h.pos, written.version, written.data, written.sequences,
                        static_cast<uint32_t>(written.checksum));
  st = EndWrite(scope, st);
  if (st != B_OK) return st;

  // The record as written is what this process's rows read ahead hold
  // from now on (and, below, its transaction).
  bool moved = false;
  for (size_t k = 0; k < keys; ++k) moved = moved || changed[k];
  if (moved) {
    ReadAheadInserted(f);
  } else {
    ReadAheadUpdated(f, written);
  }
  const int64_t version = written.version;
  h.version = version;
  if (h.logicalKey >= 0 && h.logical == Place::kOnRecord) {
    if (present[h.logicalKey]) {
      h.sortKey = after[h.logicalKey];
    } else {
      h.logical = Place::kGap;
    }
  }
  if (h.singleLock == h.pos) ReleaseSingleLock(c.handleId);
  DeliverKey(c, returned, written.data);
  // What was written is what the store holds: a read of it back inside the
  // transaction needs no query.
  RememberRow(f, std::move(written));
  return B_OK;
}

static int16_t DeleteCurrent(Call& c) {
  Handle& h = *c.handle;
  OpenFile& f = *h.file;
  const FileSpec& spec = f.spec;
  if (h.physical != Place::kOnRecord) return B_INVALID_POSITIONING;
  if (h.readOnly) return B_ACCESS_DENIED;
  Row& old = Scratch().old;
  std::string& sequences = Scratch().sequences;
  WriteScope scope;
  int16_t st = BeginRecordWrite(h, scope, old, sequences);
  if (st != B_OK) return EndWrite(scope, st);
  scope.modified = true;
  Entries& before = Scratch().before;
  EntriesOf(spec, old.data, sequences, before);
  for (size_t k = 0; k < spec.keys.size() && st == B_OK; ++k)
    if (before.present[k]) st = DeleteIndexEntry(f, static_cast<int>(k), before.entry[k]);
  if (st == B_OK) st = DeleteRecordRow(f, h.pos);
  if (st == B_OK) st = AdjustRecordCount(f, -1);
  st = EndWrite(scope, st);
  if (st != B_OK) return st;

  DropRecordLocks(f, h.pos);
  ReadAheadDeleted(f, h.pos);
  h.physical = Place::kGap;
  if (h.logical == Place::kOnRecord) h.logical = Place::kGap;
  return B_OK;
}

int16_t UpdateRecord(Call& c) {
  uint64_t before = ChangeCounter(*c.handle->file->dir);
  bool keysKept = false;
  int16_t st = UpdateCurrent(c, keysKept);
  AfterOwnWrite(*c.handle, st == B_OK, keysKept, before);
  return st;
}

int16_t DeleteRecord(Call& c) {
  uint64_t before = ChangeCounter(*c.handle->file->dir);
  int16_t st = DeleteCurrent(c);
  AfterOwnWrite(*c.handle, st == B_OK, true, before);
  return st;
}

}  // namespace recman
