// journal.cpp - the settlement journal's records: written by the pass for
// every property inside the property's transaction, read back for the
// tools and the undo.  The layout is described in settle/JOURNAL.md; its
// offsets live here and nowhere else.
//
// Every record is 1024 bytes, keyed (key 0) by pass id + property code +
// sequence: a pass's header first (property bytes 00 00), then per property
// its entry (sequence 0), one record per owner who received a balance, the
// deleted records packed as many to a record as fit, and, once the
// property is undone, the undo's entry (sequence FFFF).  Key 1 holds
// property code + pass id on the property entries only (zero bytes, the
// null value, elsewhere), so that the passes of a property are found
// without reading the others.
#include "settle/journal.h"

#include <algorithm>
#include <cstring>

#include "data/data.h"
#include "data/locks.h"
#include "input/dates.h"
#include "platform/le.h"
#include "platform/platform.h"
#include "recman/recman.h"
#include "settle/operations.h"
#include "settle/parameters.h"
#include "settle/records.h"
#include "settle/settlement.h"

unsigned char DiariLiq[kJournalRecordSize];
const SettlementFile kJournalFile = {DiariLiq, sizeof DiariLiq, "DiariLiq", kFileJournal};

int16_t OpenJournalFile(const std::string& root) {
  int16_t status = 0;
  OpenDataFile(status, kJournalFile.record, root + "DADES\\" + kJournalFile.name, kJournalFile.number,
               kJournalFile.size);
  return status;
}
JournalState Journal;

namespace {

constexpr int16_t kEqual = 0, kGreaterOrEqual = 1, kLessOrEqual = -1;
constexpr int16_t kByPass = 0, kByProperty = 1;  // key numbers

// Kinds of records.
constexpr char kPassHeader = 'A', kPropertyEntry = 'F', kOwnerEntry = 'P', kDeletedRecords = 'E',
               kUndoEntry = 'D';
constexpr unsigned kUndoSequence = 0xFFFF;
constexpr unsigned kLastEntrySequence = kUndoSequence - 1;

// ---- Record layout ------------------------------------------------------------------
// Common part.
constexpr size_t kPassAt = 0, kPassWidth = 4, kCodeAt = 4, kCodeWidth = 2, kSequenceAt = 6, kKindAt = 8;
constexpr size_t kKeyWidth = 8;
constexpr size_t kIndexCodeAt = 10, kIndexPassAt = 12;  // key 1, property entries only

// Who did it and when it started (the pass, its undo, a property's undo):
// the station, its computer, a date and a time.
constexpr size_t kComputerWidth = 15, kDateWidth = 4, kTimeWidth = 3;
struct Stamp {
  size_t stationAt, computerAt, dateAt, timeAt;
};

// Pass header.
constexpr Stamp kPassStamp = {16, 20, 35, 39};
constexpr size_t kSettlementDateAt = 42, kLowerKeyAt = 46, kUpperKeyAt = 50, kOwnerKeyWidth = 4;
constexpr size_t kCarryConceptAt = 54, kVatRatesAt = 56, kWithholdingRatesAt = 64;
constexpr size_t kFirmTaxIdAt = 72, kFirmTaxIdWidth = 35;
constexpr size_t kPropertiesAt = 108, kOwnersAt = 112, kRewrittenAt = 116, kDeletedAt = 120;
constexpr size_t kBaseTotalAt = 124, kVatTotalAt = 132, kWithheldTotalAt = 140, kFeeTotalAt = 148,
                 kCollectionsTotalAt = 156, kStoredTotalAt = 164;
constexpr size_t kUndoneAt = 172;
constexpr Stamp kUndoStamp = {176, 180, 195, 199};
constexpr size_t kUndoEndDateAt = 202, kUndoEndTimeAt = 206, kFormatAt = 210;

// Property entry.
constexpr size_t kMonthsAt = 16, kOwnersCountedAt = 20, kFeePerOwnerAt = 24, kBaseAt = 28, kVatRateAt = 32,
                 kVatAt = 36, kWithholdingRateAt = 40, kWithheldAt = 44, kFeeAt = 48, kFeeGroupAt = 52,
                 kTaxIndexAt = 54, kGroupsAt = 56, kCoefTotalsAt = 92, kOldDateAt = 120, kNewDateAt = 124,
                 kBalancesAt = 128, kCollectionsDeletedAt = 130, kPaymentsDeletedAt = 134;

// Owner entry.
constexpr size_t kOwnerCodeAt = 16, kSharesAt = 20, kPartsAt = 48, kCollectionsAt = 84, kCarriedSlotsAt = 88,
                 kCarriedAt = 90, kBalanceAt = 130, kStoredAt = 134;

// Both entries end with the images of their record: the lengths, then the
// bytes before and after.
constexpr size_t kBeforeLengthAt = 138, kAfterLengthAt = 140, kImagesAt = 142;

// Deleted records.
constexpr size_t kDeletedFileAt = 16, kDeletedLengthAt = 18, kDeletedCountAt = 20, kDeletedImagesAt = 22;

// Undo entry.
constexpr Stamp kUndoEntryStamp = {16, 20, 35, 39};
constexpr size_t kUndoRewrittenAt = 42, kUndoReinsertedAt = 46;

static_assert(kUndoEndTimeAt + kTimeWidth <= kFormatAt && kFormatAt + 2 <= kJournalRecordSize);
static_assert(kPaymentsDeletedAt + 4 <= kBeforeLengthAt && kStoredAt + 4 <= kBeforeLengthAt);
static_assert(kImagesAt + 2 * sizeof PropietH <= kJournalRecordSize);
static_assert(kImagesAt + 2 * sizeof FinquesH <= kJournalRecordSize);

// ---- Fields -------------------------------------------------------------------------

unsigned char* At(size_t offset) { return DiariLiq + offset; }

void PutBytes(size_t at, size_t width, const std::string& value, char pad) {
  size_t n = std::min(width, value.size());
  std::memcpy(At(at), value.data(), n);
  std::memset(At(at + n), pad, width - n);
}
std::string Bytes(size_t at, size_t width) { return std::string(reinterpret_cast<char*>(At(at)), width); }

void PutInt(size_t at, int64_t v) { PutLe16(At(at), static_cast<uint16_t>(v)); }
void PutLong(size_t at, int64_t v) { PutLe32(At(at), static_cast<uint32_t>(v)); }
void PutWide(size_t at, int64_t v) { PutLe64(At(at), static_cast<uint64_t>(v)); }
int16_t Int(size_t at) { return static_cast<int16_t>(GetLe16(At(at))); }
int32_t Long(size_t at) { return static_cast<int32_t>(GetLe32(At(at))); }
int64_t Wide(size_t at) { return static_cast<int64_t>(GetLe64(At(at))); }
void PutFloat(size_t at, float v) {
  uint32_t bits = 0;
  std::memcpy(&bits, &v, sizeof bits);
  PutLe32(At(at), bits);
}
float Float(size_t at) {
  uint32_t bits = GetLe32(At(at));
  float v = 0;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

std::string SequenceBytes(unsigned sequence) {
  return std::string{static_cast<char>(sequence >> 8), static_cast<char>(sequence & 0xFF)};
}
std::string Key(long id, const std::string& code, unsigned sequence) {
  return PackedPassId(id) + code + SequenceBytes(sequence);
}
const std::string kHeaderCode(kCodeWidth, '\0');

long RecordPass() { return PassIdOf(Bytes(kPassAt, kPassWidth)); }
std::string RecordCode() { return Bytes(kCodeAt, kCodeWidth); }
unsigned RecordSequence() {
  return static_cast<unsigned>(DiariLiq[kSequenceAt] << 8 | DiariLiq[kSequenceAt + 1]);
}
char RecordKind() { return static_cast<char>(DiariLiq[kKindAt]); }

// A new record of `kind` at its key.
void StartRecord(long id, const std::string& code, unsigned sequence, char kind) {
  std::memset(DiariLiq, 0, sizeof DiariLiq);
  PutBytes(kPassAt, kKeyWidth, Key(id, code, sequence), '\0');
  DiariLiq[kKindAt] = static_cast<unsigned char>(kind);
}

void PutImages(const std::string& before, const std::string& after) {
  size_t room = (kJournalRecordSize - kImagesAt) / 2;
  size_t b = std::min(before.size(), room), a = std::min(after.size(), room);
  PutInt(kBeforeLengthAt, static_cast<int64_t>(b));
  PutInt(kAfterLengthAt, static_cast<int64_t>(a));
  std::memcpy(At(kImagesAt), before.data(), b);
  std::memcpy(At(kImagesAt + b), after.data(), a);
}
void GetImages(std::string& before, std::string& after) {
  size_t room = (kJournalRecordSize - kImagesAt) / 2;
  size_t b = std::min<size_t>(static_cast<uint16_t>(Int(kBeforeLengthAt)), room);
  size_t a = std::min<size_t>(static_cast<uint16_t>(Int(kAfterLengthAt)), room);
  before = Bytes(kImagesAt, b);
  after = Bytes(kImagesAt + b, a);
}

// ---- Record operations on the journal, counted as the pass's ------------------------

int16_t Find(int16_t direction, const std::string& key, int16_t keyNumber = kByPass) {
  return CountedFind(direction, key, kFileJournal, keyNumber);
}
int16_t Next() { return CountedNext(kFileJournal); }
int16_t Insert() { return CountedInsert(kFileJournal); }
int16_t Update() { return CountedUpdate(kFileJournal); }

// A read that found nothing (no record of the key, or the end of the file).
bool NothingThere(int16_t status) { return status == B_KEY_NOT_FOUND || status == B_END_OF_FILE; }

// ---- The records -----------------------------------------------------------------------

// The fields of the header and the entries, each listed once
// (HeaderFields, PropertyFields, OwnerFields) and walked by FieldWriter to
// write the record or by FieldReader to read it: a field is 16, 32 or 64
// bits, a float, or bytes of a fixed width padded with `pad`.
struct FieldWriter {
  void Short(size_t at, int64_t v) { PutInt(at, v); }
  void Long(size_t at, int64_t v) { PutLong(at, v); }
  void Wide(size_t at, int64_t v) { PutWide(at, v); }
  void Real(size_t at, float v) { PutFloat(at, v); }
  void Text(size_t at, size_t width, char pad, const std::string& v) { PutBytes(at, width, v, pad); }
};
struct FieldReader {
  template <class T>
  void Short(size_t at, T& v) {
    v = static_cast<T>(Int(at));
  }
  template <class T>
  void Long(size_t at, T& v) {
    v = ::Long(at);
  }
  void Wide(size_t at, int64_t& v) { v = ::Wide(at); }
  void Real(size_t at, float& v) { v = Float(at); }
  void Text(size_t at, size_t width, char, std::string& v) { v = Bytes(at, width); }
};

// `io` is a FieldWriter or a FieldReader; the record's fields are const
// when it is written.
template <class Io, class Station, class Text>
void StampFields(Io& io, const Stamp& at, Station& station, Text& computer, Text& date, Text& time) {
  io.Long(at.stationAt, station);
  io.Text(at.computerAt, kComputerWidth, ' ', computer);
  io.Text(at.dateAt, kDateWidth, '\x80', date);
  io.Text(at.timeAt, kTimeWidth, '\x80', time);
}

template <class Io, class P>
void HeaderFields(Io&& io, P& p) {
  StampFields(io, kPassStamp, p.station, p.computer, p.startDate, p.startTime);
  io.Text(kSettlementDateAt, kDateWidth, '\x80', p.settlementDate);
  io.Text(kLowerKeyAt, kOwnerKeyWidth, '\x80', p.lowerKey);
  io.Text(kUpperKeyAt, kOwnerKeyWidth, '\x80', p.upperKey);
  io.Short(kCarryConceptAt, p.carryConcept);
  for (size_t i = 0; i < 2; ++i) {
    io.Real(kVatRatesAt + 4 * i, p.vatRates[i]);
    io.Real(kWithholdingRatesAt + 4 * i, p.withholdingRates[i]);
  }
  io.Text(kFirmTaxIdAt, kFirmTaxIdWidth, ' ', p.firmTaxId);
  io.Long(kPropertiesAt, p.properties);
  io.Long(kOwnersAt, p.owners);
  io.Long(kRewrittenAt, p.rewritten);
  io.Long(kDeletedAt, p.deleted);
  io.Wide(kBaseTotalAt, p.base);
  io.Wide(kVatTotalAt, p.vat);
  io.Wide(kWithheldTotalAt, p.withheld);
  io.Wide(kFeeTotalAt, p.fee);
  io.Wide(kCollectionsTotalAt, p.collections);
  io.Wide(kStoredTotalAt, p.stored);
  io.Long(kUndoneAt, p.undone);
  StampFields(io, kUndoStamp, p.undoStation, p.undoComputer, p.undoStartDate, p.undoStartTime);
  io.Text(kUndoEndDateAt, kDateWidth, '\x80', p.undoEndDate);
  io.Text(kUndoEndTimeAt, kTimeWidth, '\x80', p.undoEndTime);
  io.Short(kFormatAt, p.format);
}

template <class Io, class P>
void PropertyFields(Io&& io, P& p) {
  io.Long(kMonthsAt, p.months);
  io.Long(kOwnersCountedAt, p.owners);
  io.Long(kFeePerOwnerAt, p.feePerOwner);
  io.Long(kBaseAt, p.base);
  io.Real(kVatRateAt, p.vatRate);
  io.Long(kVatAt, p.vat);
  io.Real(kWithholdingRateAt, p.withholdingRate);
  io.Long(kWithheldAt, p.withheld);
  io.Long(kFeeAt, p.fee);
  io.Short(kFeeGroupAt, p.feeGroup);
  io.Short(kTaxIndexAt, p.taxIndex);
  for (size_t g = 0; g <= 8; ++g) io.Long(kGroupsAt + 4 * g, p.groups[g]);
  for (size_t c = 1; c <= 7; ++c) io.Long(kCoefTotalsAt + 4 * (c - 1), p.coefTotals[c]);
  io.Text(kOldDateAt, kDateWidth, '\x80', p.oldDate);
  io.Text(kNewDateAt, kDateWidth, '\x80', p.newDate);
}

template <class Io, class P>
void OwnerFields(Io&& io, P& o) {
  io.Text(kOwnerCodeAt, 4, '\x80', o.code);
  for (size_t c = 1; c <= 7; ++c) io.Long(kSharesAt + 4 * (c - 1), o.shares[c]);
  for (size_t g = 0; g <= 8; ++g) io.Long(kPartsAt + 4 * g, o.parts[g]);
  io.Long(kCollectionsAt, o.collections);
  io.Short(kCarriedSlotsAt, o.carriedSlots);
  for (size_t n = 1; n <= 10; ++n) io.Long(kCarriedAt + 4 * (n - 1), o.carried[n]);
  io.Long(kBalanceAt, o.balance);
  io.Long(kStoredAt, o.stored);
}

void PutHeader(const JournalPass& p) {
  StartRecord(p.id, kHeaderCode, 0, kPassHeader);
  HeaderFields(FieldWriter{}, p);
}

JournalPass GetHeader() {
  JournalPass p;
  p.id = RecordPass();
  HeaderFields(FieldReader{}, p);
  return p;
}

void PutPropertyEntry(long id, const JournalProperty& p) {
  StartRecord(id, p.code, 0, kPropertyEntry);
  PutBytes(kIndexCodeAt, kCodeWidth, p.code, '\0');
  PutBytes(kIndexPassAt, kPassWidth, PackedPassId(id), '\0');
  PropertyFields(FieldWriter{}, p);
  PutInt(kBalancesAt, static_cast<int64_t>(p.balances.size()));
  PutLong(kCollectionsDeletedAt, static_cast<int64_t>(p.collections.size()));
  PutLong(kPaymentsDeletedAt, static_cast<int64_t>(p.payments.size()));
  PutImages(p.before, p.after);
}

void GetPropertyEntry(JournalProperty& p) {
  p.code = RecordCode();
  PropertyFields(FieldReader{}, p);
  GetImages(p.before, p.after);
}

void PutOwnerEntry(long id, const std::string& code, unsigned sequence, const JournalOwner& o) {
  StartRecord(id, code, sequence, kOwnerEntry);
  OwnerFields(FieldWriter{}, o);
  PutImages(o.before, o.after);
}

JournalOwner GetOwnerEntry() {
  JournalOwner o;
  OwnerFields(FieldReader{}, o);
  GetImages(o.before, o.after);
  return o;
}

// The deleted records of one file, as many to a journal record as fit;
// `sequence` moves on past the records written.
int16_t PutDeleted(long id, const std::string& code, int16_t file, const std::vector<std::string>& images,
                   unsigned& sequence) {
  size_t at = 0;
  while (at < images.size()) {
    size_t length = images[at].size();
    size_t perRecord =
        std::max<size_t>(1, (kJournalRecordSize - kDeletedImagesAt) / std::max<size_t>(length, 1));
    if (sequence > kLastEntrySequence || length > kJournalRecordSize - kDeletedImagesAt) return B_DISK_FULL;
    StartRecord(id, code, sequence++, kDeletedRecords);
    PutInt(kDeletedFileAt, file);
    PutInt(kDeletedLengthAt, static_cast<int64_t>(length));
    size_t count = 0;
    // Images of one length share a record (the files' records all have one).
    while (at < images.size() && count < perRecord && images[at].size() == length) {
      std::memcpy(At(kDeletedImagesAt + count * length), images[at].data(), length);
      ++at, ++count;
    }
    PutInt(kDeletedCountAt, static_cast<int64_t>(count));
    if (int16_t status = Insert(); status != 0) return status;
  }
  return 0;
}

void GetDeleted(JournalProperty& p) {
  int16_t file = Int(kDeletedFileAt);
  size_t length = static_cast<uint16_t>(Int(kDeletedLengthAt));
  size_t count = static_cast<uint16_t>(Int(kDeletedCountAt));
  if (length == 0) return;
  count = std::min(count, (kJournalRecordSize - kDeletedImagesAt) / length);
  std::vector<std::string>& into = file == kFileCollections ? p.collections : p.payments;
  for (size_t i = 0; i < count; ++i) into.push_back(Bytes(kDeletedImagesAt + i * length, length));
}

template <class Io, class U>
void UndoFields(Io&& io, U& u) {
  StampFields(io, kUndoEntryStamp, u.station, u.computer, u.date, u.time);
  io.Long(kUndoRewrittenAt, u.rewritten);
  io.Long(kUndoReinsertedAt, u.reinserted);
}

void PutUndoEntry(long id, const std::string& code, const JournalUndo& u) {
  StartRecord(id, code, kUndoSequence, kUndoEntry);
  UndoFields(FieldWriter{}, u);
}

JournalUndo GetUndoEntry() {
  JournalUndo u;
  UndoFields(FieldReader{}, u);
  return u;
}

// The property's amounts added to a header's totals.
void AddToTotals(JournalPass& p, const JournalProperty& property) {
  p.properties += 1;
  p.owners += static_cast<long>(property.balances.size());
  p.rewritten += static_cast<long>(property.balances.size()) + 1;
  p.deleted += static_cast<long>(property.collections.size() + property.payments.size());
  p.base += property.base;
  p.vat += property.vat;
  p.withheld += property.withheld;
  p.fee += property.fee;
  for (const JournalOwner& o : property.balances) {
    p.collections += o.collections;
    p.stored += o.stored;
  }
}

// The highest pass id journaled (0 when none).
int16_t LastPassId(long& id) {
  id = 0;
  int16_t status = Find(kLessOrEqual, std::string(kKeyWidth, '\xFF'));
  if (NothingThere(status)) return 0;
  if (status == 0) id = RecordPass();
  return status;
}

}  // namespace

std::string PackedPassId(long id) {
  std::string digits = std::to_string(std::clamp(id, 0L, kLastPassId));
  return PackDigits(std::string(8 - digits.size(), '0') + digits);
}

long PassIdOf(const std::string& packed) {
  std::string digits = UnpackDigits(packed);
  long id = 0;
  for (char c : digits) id = id * 10 + (c >= '0' && c <= '9' ? c - '0' : 0);
  return id;
}

void PackedNow(std::string& date, std::string& time) {
  LocalTime now = Now();
  date = PackDigits(ZeroPad(now.year, 4) + ZeroPad(now.month, 2) + ZeroPad(now.day, 2));
  time = PackDigits(ZeroPad(now.hour, 2) + ZeroPad(now.minute, 2) + ZeroPad(now.second, 2));
}

void JournalStartPass() {
  Journal.passId = 0;
  Journal.pending = 0;
  StationIdentity();
  Journal.station = Locks.stationId;
  Journal.computer = Locks.computerName;
  PackedNow(Journal.startDate, Journal.startTime);
}

namespace {

// The header of the current pass, run with `request`, before any property.
JournalPass NewPassHeader(const SettlementRequest& request) {
  JournalPass h;
  h.station = Journal.station;
  h.computer = Journal.computer;
  h.startDate = Journal.startDate;
  h.startTime = Journal.startTime;
  h.settlementDate = request.SettlementDate;
  h.lowerKey = request.LowerOwnerKey;
  h.upperKey = request.UpperOwnerKey;
  h.carryConcept = request.CarryConcept;
  for (int i = 0; i < 2; ++i) {
    h.vatRates[i] = request.IvaRate[i];
    h.withholdingRates[i] = request.RetRate[i];
  }
  h.firmTaxId = request.FirmTaxId;
  h.format = kJournalFormat;
  return h;
}

}  // namespace

int16_t JournalWriteProperty(const SettlementRequest& request, const JournalProperty& property) {
  if (!Journal.enabled) return 0;
  long id = Journal.passId;
  int16_t status = 0;
  if (id == 0) {
    // The pass's first property: the next id, inside this transaction, so
    // that no other station's pass takes it meanwhile.  A record manager
    // that lets another transaction take it first refuses the header with
    // 5 (the key is taken): tried again, as with a busy database.
    long last = 0;
    if ((status = LastPassId(last)) != 0) return status;
    if (last >= kLastPassId) return B_DISK_FULL;
    id = last + 1;
    Journal.pending = id;
    JournalPass header = NewPassHeader(request);
    header.id = id;
    AddToTotals(header, property);
    PutHeader(header);
    status = Insert();
    if (status == B_DUPLICATE_KEY) return B_FILE_LOCKED;
  } else {
    Journal.pending = id;
    status = Find(kEqual, Key(id, kHeaderCode, 0));
    if (status != 0) return status;
    JournalPass header = GetHeader();
    AddToTotals(header, property);
    PutHeader(header);
    status = Update();
  }
  if (status != 0) return status;

  PutPropertyEntry(id, property);
  if ((status = Insert()) != 0) return status;
  unsigned sequence = 1;
  for (const JournalOwner& owner : property.balances) {
    if (sequence > kLastEntrySequence) return B_DISK_FULL;
    PutOwnerEntry(id, property.code, sequence++, owner);
    if ((status = Insert()) != 0) return status;
  }
  if ((status = PutDeleted(id, property.code, kFileCollections, property.collections, sequence)) != 0)
    return status;
  return PutDeleted(id, property.code, kFilePayments, property.payments, sequence);
}

void JournalPropertyCommitted() {
  if (Journal.pending != 0) Journal.passId = Journal.pending;
  Journal.pending = 0;
}

int16_t ReadJournalPass(long id, JournalPass& pass) {
  int16_t status = Find(kEqual, Key(id, kHeaderCode, 0));
  if (status == 0) pass = GetHeader();
  return NothingThere(status) ? int16_t{B_KEY_NOT_FOUND} : status;
}

int16_t JournalPasses(std::vector<JournalPass>& passes) {
  passes.clear();
  long id = 0;
  int16_t status = LastPassId(id);
  while (status == 0 && id > 0) {
    JournalPass pass;
    status = ReadJournalPass(id, pass);
    if (status == 0) passes.push_back(pass);
    else if (status != B_KEY_NOT_FOUND) return status;  // a pass without its header is left out
    if (id <= 1) return 0;
    // The last record of the passes before this one.
    status = Find(kLessOrEqual, PackedPassId(id - 1) + std::string(kKeyWidth - kPassWidth, '\xFF'));
    if (NothingThere(status)) return 0;
    if (status == 0) id = RecordPass();
  }
  return status;
}

int16_t JournalPropertiesOf(long id, std::vector<std::string>& codes, std::vector<bool>& undone) {
  codes.clear();
  undone.clear();
  int16_t status = Find(kGreaterOrEqual, Key(id, kHeaderCode, 1));
  while (status == 0 && RecordPass() == id) {
    const std::string code = RecordCode();
    if (RecordKind() == kPropertyEntry) {
      codes.push_back(code);
      undone.push_back(false);
    }
    // On to the property's undo entry, or past it.
    status = Find(kGreaterOrEqual, Key(id, code, kUndoSequence));
    if (status == 0 && RecordPass() == id && RecordCode() == code) {
      if (RecordKind() == kUndoEntry && !undone.empty() && codes.back() == code) undone.back() = true;
      status = Next();
    }
  }
  return NothingThere(status) ? 0 : status;
}

int16_t ReadJournalProperty(long id, const std::string& code, JournalProperty& property, bool& undone,
                            JournalUndo& undo) {
  property = JournalProperty{};
  undone = false;
  int16_t status = Find(kEqual, Key(id, code, 0));
  if (NothingThere(status)) return B_KEY_NOT_FOUND;
  if (status != 0) return status;
  if (RecordKind() != kPropertyEntry) return B_KEY_NOT_FOUND;
  GetPropertyEntry(property);
  for (status = Next(); status == 0 && RecordPass() == id && RecordCode() == code; status = Next()) {
    char kind = RecordKind();
    if (kind == kOwnerEntry) property.balances.push_back(GetOwnerEntry());
    else if (kind == kDeletedRecords) GetDeleted(property);
    else if (kind == kUndoEntry && RecordSequence() == kUndoSequence) {
      undone = true;
      undo = GetUndoEntry();
    }
  }
  return NothingThere(status) ? 0 : status;
}

int16_t LaterPassesOf(long id, const std::string& code, std::vector<long>& later) {
  later.clear();
  std::vector<long> settled;
  int16_t status = Find(kGreaterOrEqual, code + PackedPassId(id + 1), kByProperty);
  while (status == 0 && Bytes(kIndexCodeAt, kCodeWidth) == code) {
    settled.push_back(PassIdOf(Bytes(kIndexPassAt, kPassWidth)));
    status = Next();
  }
  if (!NothingThere(status) && status != 0) return status;
  for (long other : settled) {
    status = Find(kEqual, Key(other, code, kUndoSequence));
    if (NothingThere(status)) later.push_back(other);
    else if (status != 0) return status;
  }
  return 0;
}

int16_t JournalWriteUndo(long id, const std::string& code, const JournalUndo& undo) {
  PutUndoEntry(id, code, undo);
  int16_t status = Insert();
  if (status != 0) return status;
  status = Find(kEqual, Key(id, kHeaderCode, 0));
  if (status != 0) return status;
  JournalPass header = GetHeader();
  if (header.undone == 0) {
    header.undoStation = undo.station;
    header.undoComputer = undo.computer;
    header.undoStartDate = undo.date;
    header.undoStartTime = undo.time;
  }
  header.undone += 1;
  if (header.Undone()) {
    header.undoEndDate = undo.date;
    header.undoEndTime = undo.time;
  }
  PutHeader(header);
  return Update();
}
