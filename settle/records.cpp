// records.cpp - the record variables and their field accessors.
//
// The offsets of the six layouts live here and nowhere else.  Every setter
// writes its own bytes only, so a record read from the file goes back with
// the bytes this program does not interpret exactly as they came.
#include "settle/records.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>

#include "data/data.h"
#include "platform/le.h"

unsigned char THRebut[24];
unsigned char FinquesH[388];
unsigned char FinDespH[604];
unsigned char PropietH[428];
unsigned char PagamH[44];
unsigned char CobramH[24];

const SettlementFile kSettlementFiles[6] = {
    {THRebut, sizeof THRebut, "THRebut", kFileConcepts},
    {FinquesH, sizeof FinquesH, "FinquesH", kFileProperties},
    {FinDespH, sizeof FinDespH, "FinDespH", kFileExpenseNotes},
    {PropietH, sizeof PropietH, "PropietH", kFileOwners},
    {PagamH, sizeof PagamH, "PagamH", kFilePayments},
    {CobramH, sizeof CobramH, "CobramH", kFileCollections},
};

int16_t OpenSettlementFiles(const std::string& root) {
  int16_t result = 0;
  for (const SettlementFile& f : kSettlementFiles) {
    int16_t status = 0;
    OpenDataFile(status, f.record, root + "DADES\\" + f.name, f.number, f.size);
    if (result == 0) result = status;
  }
  return result;
}

namespace {

// A field of bytes (a code, a date, a text): where it starts in its record
// and how many bytes it takes.  Amounts are reached by their place alone.
struct Field {
  size_t at, width;
  constexpr size_t End() const { return at + width; }
};

template <size_t N>
std::string Bytes(const unsigned char (&record)[N], Field f) {
  return std::string(reinterpret_cast<const char*>(record) + f.at, f.width);
}

template <size_t N>
void PutBytes(unsigned char (&record)[N], Field f, const std::string& value, unsigned char pad) {
  size_t n = std::min(f.width, value.size());
  std::memcpy(record + f.at, value.data(), n);
  std::memset(record + f.at + n, pad, f.width - n);
}

template <size_t N>
void PutText(unsigned char (&record)[N], Field f, const std::string& value) {
  PutBytes(record, f, value, ' ');
}

template <size_t N>
void PutPacked(unsigned char (&record)[N], Field f, const std::string& value) {
  PutBytes(record, f, value, kPackedZero);
}

// Amounts and codes zero bytes, the text fields `texts` blanks.
template <size_t N>
void Clear(unsigned char (&record)[N], std::initializer_list<Field> texts) {
  std::memset(record, 0, N);
  for (Field f : texts) PutText(record, f, "");
}

template <size_t N>
int32_t Long(const unsigned char (&record)[N], size_t at) {
  return static_cast<int32_t>(GetLe32(record + at));
}

template <size_t N>
void PutLong(unsigned char (&record)[N], size_t at, int32_t value) {
  PutLe32(record + at, static_cast<uint32_t>(value));
}

template <size_t N>
int16_t Int(const unsigned char (&record)[N], size_t at) {
  return static_cast<int16_t>(GetLe16(record + at));
}

template <size_t N>
void PutInt(unsigned char (&record)[N], size_t at, int16_t value) {
  PutLe16(record + at, static_cast<uint16_t>(value));
}

// A property code, an owner code (property + owner), a date.
constexpr size_t kCodeWidth = 2, kOwnerCodeWidth = 4, kDateWidth = 4;

// THRebut
constexpr size_t kConceptNumberAt = 0, kConceptTypeAt = 21;
constexpr Field kConceptDescription = {1, 20};

// FinquesH
constexpr Field kPropertyCode = {0, kCodeWidth}, kPropertyDescription = {6, 30};
constexpr size_t kPropertyFeeAt = 110, kPropertyTaxIndexAt = 114;
constexpr Field kPropertyLastSettlement = {160, kDateWidth}, kPropertyTaxId = {368, 17};
// Groups 2..7, each its total then its name.
constexpr size_t kPropertyGroupAt = 164, kPropertyGroupStride = 34, kPropertyGroupNameWidth = 30;

// FinDespH
constexpr Field kNoteCode = {0, kCodeWidth}, kNoteText = {2, 600};

// PropietH
constexpr Field kOwnerCode = {0, kOwnerCodeWidth}, kOwnerPropertyCode = {0, kCodeWidth};
constexpr size_t kOwnerShareAt = 211;
constexpr size_t kOwnerConceptAt = 242, kOwnerConceptStride = 7;
constexpr size_t kOwnerExtraAt[2] = {295, 304};
constexpr size_t kOwnerExtraAmountOffset = 5;

// PagamH: the key is the property code and the date.
constexpr Field kPaymentCode = {0, kCodeWidth}, kPaymentDate = {2, kDateWidth},
                kPaymentKey = {0, kCodeWidth + kDateWidth};
constexpr size_t kPaymentAmountAt = 35;
constexpr Field kPaymentFlag = {39, 1}, kPaymentTarget = {40, kCodeWidth};

// CobramH: the key is the owner code and the date.
constexpr Field kCollectionCode = {0, kOwnerCodeWidth}, kCollectionDate = {4, kDateWidth},
                kCollectionKey = {0, kOwnerCodeWidth + kDateWidth};
constexpr size_t kCollectionAmountAt = 13, kCollectionDeductedAt = 17;
constexpr Field kCollectionKind = {21, 1};

static_assert(kConceptTypeAt + 2 <= sizeof THRebut);
static_assert(kPropertyTaxId.End() <= sizeof FinquesH);
static_assert(kPropertyGroupAt + 5 * kPropertyGroupStride + 4 + kPropertyGroupNameWidth <= kPropertyTaxId.at);
static_assert(kNoteText.End() <= sizeof FinDespH);
static_assert(kOwnerExtraAt[1] + kOwnerExtraAmountOffset + 4 <= sizeof PropietH);
static_assert(kOwnerConceptAt + 7 * kOwnerConceptStride + 4 <= kOwnerExtraAt[0]);
static_assert(kPaymentTarget.End() <= sizeof PagamH);
static_assert(kCollectionKind.End() <= sizeof CobramH);

size_t GroupAt(int group) { return kPropertyGroupAt + kPropertyGroupStride * static_cast<size_t>(group - 2); }
Field GroupName(int group) { return {GroupAt(group) + 4, kPropertyGroupNameWidth}; }

}  // namespace

// ---- Clearing ---------------------------------------------------------------

void ClearConceptRecord() { Clear(THRebut, {kConceptDescription}); }
void ClearPropertyRecord() {
  Clear(FinquesH, {kPropertyDescription, kPropertyTaxId});
  for (int g = 2; g <= 7; ++g) PutText(FinquesH, GroupName(g), "");
}
void ClearExpenseNoteRecord() { Clear(FinDespH, {kNoteText}); }
void ClearOwnerRecord() { Clear(PropietH, {}); }
void ClearPaymentRecord() { Clear(PagamH, {kPaymentFlag}); }
void ClearCollectionRecord() { Clear(CobramH, {kCollectionKind}); }

// ---- Receipt concepts ---------------------------------------------------------

int ConceptNumber() { return THRebut[kConceptNumberAt]; }
void SetConceptNumber(int number) {
  if (number >= 0 && number <= 255) THRebut[kConceptNumberAt] = static_cast<unsigned char>(number);
}
std::string ConceptDescription() { return Bytes(THRebut, kConceptDescription); }
void SetConceptDescription(const std::string& text) { PutText(THRebut, kConceptDescription, text); }
int16_t ConceptType() { return Int(THRebut, kConceptTypeAt); }
void SetConceptType(int16_t type) { PutInt(THRebut, kConceptTypeAt, type); }
std::string ConceptKey(int number) {
  if (number < 0 || number > 255) return std::string();
  return std::string(1, static_cast<char>(number));
}

// ---- Properties -------------------------------------------------------------

std::string PropertyCode() { return Bytes(FinquesH, kPropertyCode); }
void SetPropertyCode(const std::string& packed) { PutPacked(FinquesH, kPropertyCode, packed); }
std::string PropertyDescription() { return Bytes(FinquesH, kPropertyDescription); }
void SetPropertyDescription(const std::string& text) { PutText(FinquesH, kPropertyDescription, text); }
int32_t PropertyFeePerOwner() { return Long(FinquesH, kPropertyFeeAt); }
void SetPropertyFeePerOwner(int32_t amount) { PutLong(FinquesH, kPropertyFeeAt, amount); }
int16_t PropertyTaxIndex() { return Int(FinquesH, kPropertyTaxIndexAt); }
void SetPropertyTaxIndex(int16_t index) { PutInt(FinquesH, kPropertyTaxIndexAt, index); }
std::string PropertyLastSettlement() { return Bytes(FinquesH, kPropertyLastSettlement); }
void SetPropertyLastSettlement(const std::string& packed) {
  PutPacked(FinquesH, kPropertyLastSettlement, packed);
}
int32_t PropertyGroupTotal(int group) {
  if (group < 2 || group > 7) return 0;
  return Long(FinquesH, GroupAt(group));
}
void SetPropertyGroupTotal(int group, int32_t total) {
  if (group >= 2 && group <= 7) PutLong(FinquesH, GroupAt(group), total);
}
std::string PropertyGroupName(int group) {
  if (group < 2 || group > 7) return std::string();
  return Bytes(FinquesH, GroupName(group));
}
void SetPropertyGroupName(int group, const std::string& text) {
  if (group >= 2 && group <= 7) PutText(FinquesH, GroupName(group), text);
}
std::string PropertyTaxId() { return Bytes(FinquesH, kPropertyTaxId); }
void SetPropertyTaxId(const std::string& text) { PutText(FinquesH, kPropertyTaxId, text); }

// ---- Expense notes -------------------------------------------------------------

std::string ExpenseNotePropertyCode() { return Bytes(FinDespH, kNoteCode); }
void SetExpenseNotePropertyCode(const std::string& packed) { PutPacked(FinDespH, kNoteCode, packed); }
std::string ExpenseNoteText() { return Bytes(FinDespH, kNoteText); }
void SetExpenseNoteText(const std::string& text) { PutText(FinDespH, kNoteText, text); }

// ---- Owners -----------------------------------------------------------------------

std::string OwnerCode() { return Bytes(PropietH, kOwnerCode); }
void SetOwnerCode(const std::string& packed) { PutPacked(PropietH, kOwnerCode, packed); }
std::string OwnerPropertyCode() { return Bytes(PropietH, kOwnerPropertyCode); }
int32_t OwnerShare(int group) {
  if (group < 1 || group > 7) return 0;
  return Long(PropietH, kOwnerShareAt + 4 * static_cast<size_t>(group - 1));
}
void SetOwnerShare(int group, int32_t share) {
  if (group >= 1 && group <= 7) PutLong(PropietH, kOwnerShareAt + 4 * static_cast<size_t>(group - 1), share);
}
int32_t OwnerConceptAmount(int n) {
  if (n < 1 || n > 8) return 0;
  return Long(PropietH, kOwnerConceptAt + kOwnerConceptStride * static_cast<size_t>(n - 1));
}
void SetOwnerConceptAmount(int n, int32_t amount) {
  if (n >= 1 && n <= 8)
    PutLong(PropietH, kOwnerConceptAt + kOwnerConceptStride * static_cast<size_t>(n - 1), amount);
}
int16_t OwnerExtraConcept(int slot) {
  if (slot < 1 || slot > 2) return 0;
  return Int(PropietH, kOwnerExtraAt[slot - 1]);
}
void SetOwnerExtraConcept(int slot, int16_t concept_number) {
  if (slot >= 1 && slot <= 2) PutInt(PropietH, kOwnerExtraAt[slot - 1], concept_number);
}
int32_t OwnerExtraAmount(int slot) {
  if (slot < 1 || slot > 2) return 0;
  return Long(PropietH, kOwnerExtraAt[slot - 1] + kOwnerExtraAmountOffset);
}
void SetOwnerExtraAmount(int slot, int32_t amount) {
  if (slot >= 1 && slot <= 2) PutLong(PropietH, kOwnerExtraAt[slot - 1] + kOwnerExtraAmountOffset, amount);
}

// ---- Payments ---------------------------------------------------------------------

std::string PaymentPropertyCode() { return Bytes(PagamH, kPaymentCode); }
void SetPaymentPropertyCode(const std::string& packed) { PutPacked(PagamH, kPaymentCode, packed); }
std::string PaymentDate() { return Bytes(PagamH, kPaymentDate); }
void SetPaymentDate(const std::string& packed) { PutPacked(PagamH, kPaymentDate, packed); }
std::string PaymentKey() { return Bytes(PagamH, kPaymentKey); }
int32_t PaymentAmount() { return Long(PagamH, kPaymentAmountAt); }
void SetPaymentAmount(int32_t amount) { PutLong(PagamH, kPaymentAmountAt, amount); }
std::string PaymentFlag() { return Bytes(PagamH, kPaymentFlag); }
void SetPaymentFlag(const std::string& flag) { PutText(PagamH, kPaymentFlag, flag); }
bool PaymentChargedToOwner() { return PagamH[kPaymentFlag.at] == 'S'; }
std::string PaymentTarget() { return Bytes(PagamH, kPaymentTarget); }
void SetPaymentTarget(const std::string& packed) { PutPacked(PagamH, kPaymentTarget, packed); }
int PaymentTargetNumber() { return PackedNumber(PaymentTarget()); }

// ---- Collections ------------------------------------------------------------------

std::string CollectionOwnerCode() { return Bytes(CobramH, kCollectionCode); }
void SetCollectionOwnerCode(const std::string& packed) { PutPacked(CobramH, kCollectionCode, packed); }
std::string CollectionDate() { return Bytes(CobramH, kCollectionDate); }
void SetCollectionDate(const std::string& packed) { PutPacked(CobramH, kCollectionDate, packed); }
std::string CollectionKey() { return Bytes(CobramH, kCollectionKey); }
int32_t CollectionAmount() { return Long(CobramH, kCollectionAmountAt); }
void SetCollectionAmount(int32_t amount) { PutLong(CobramH, kCollectionAmountAt, amount); }
int32_t CollectionDeducted() { return Long(CobramH, kCollectionDeductedAt); }
void SetCollectionDeducted(int32_t amount) { PutLong(CobramH, kCollectionDeductedAt, amount); }
std::string CollectionKind() { return Bytes(CobramH, kCollectionKind); }
void SetCollectionKind(const std::string& kind) { PutText(CobramH, kCollectionKind, kind); }
