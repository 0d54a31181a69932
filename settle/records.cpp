// records.cpp - the record variables and their field accessors.
//
// The offsets of the six layouts live here and nowhere else.  Every setter
// writes its own bytes only, so a record read from the file goes back with
// the bytes this program does not interpret exactly as they came.
#include "settle/records.h"

#include <algorithm>
#include <cstring>

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

template <size_t N>
std::string Bytes(const unsigned char (&record)[N], size_t at, size_t width) {
  return std::string(reinterpret_cast<const char*>(record) + at, width);
}

template <size_t N>
void PutBytes(unsigned char (&record)[N], size_t at, size_t width, const std::string& value,
              unsigned char pad) {
  size_t n = std::min(width, value.size());
  std::memcpy(record + at, value.data(), n);
  std::memset(record + at + n, pad, width - n);
}

template <size_t N>
void PutText(unsigned char (&record)[N], size_t at, size_t width, const std::string& value) {
  PutBytes(record, at, width, value, ' ');
}

template <size_t N>
void PutPacked(unsigned char (&record)[N], size_t at, size_t width, const std::string& value) {
  PutBytes(record, at, width, value, kPackedZero);
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

// THRebut
constexpr size_t kConceptNumberAt = 0;
constexpr size_t kConceptDescriptionAt = 1, kConceptDescriptionWidth = 20;
constexpr size_t kConceptTypeAt = 21;

// FinquesH
constexpr size_t kPropertyCodeAt = 0, kCodeWidth = 2;
constexpr size_t kPropertyDescriptionAt = 6, kPropertyDescriptionWidth = 30;
constexpr size_t kPropertyFeeAt = 110;
constexpr size_t kPropertyTaxIndexAt = 114;
constexpr size_t kPropertyLastSettlementAt = 160, kDateWidth = 4;
constexpr size_t kPropertyGroupAt = 164, kPropertyGroupStride = 34;  // total, then name
constexpr size_t kPropertyGroupNameWidth = 30;
constexpr size_t kPropertyTaxIdAt = 368, kPropertyTaxIdWidth = 17;

// FinDespH
constexpr size_t kNoteCodeAt = 0;
constexpr size_t kNoteTextAt = 2, kNoteTextWidth = 600;

// PropietH
constexpr size_t kOwnerCodeAt = 0, kOwnerCodeWidth = 4;
constexpr size_t kOwnerShareAt = 211;
constexpr size_t kOwnerConceptAt = 242, kOwnerConceptStride = 7;
constexpr size_t kOwnerExtraAt[2] = {295, 304};
constexpr size_t kOwnerExtraAmountOffset = 5;

// PagamH
constexpr size_t kPaymentCodeAt = 0, kPaymentDateAt = 2;
constexpr size_t kPaymentAmountAt = 35, kPaymentFlagAt = 39, kPaymentTargetAt = 40;

// CobramH
constexpr size_t kCollectionCodeAt = 0, kCollectionDateAt = 4;
constexpr size_t kCollectionAmountAt = 13, kCollectionDeductedAt = 17, kCollectionKindAt = 21;

static_assert(kConceptTypeAt + 2 <= sizeof THRebut);
static_assert(kPropertyTaxIdAt + kPropertyTaxIdWidth <= sizeof FinquesH);
static_assert(kPropertyGroupAt + 5 * kPropertyGroupStride + 4 + kPropertyGroupNameWidth <= kPropertyTaxIdAt);
static_assert(kNoteTextAt + kNoteTextWidth <= sizeof FinDespH);
static_assert(kOwnerExtraAt[1] + kOwnerExtraAmountOffset + 4 <= sizeof PropietH);
static_assert(kOwnerConceptAt + 7 * kOwnerConceptStride + 4 <= kOwnerExtraAt[0]);
static_assert(kPaymentTargetAt + kCodeWidth <= sizeof PagamH);
static_assert(kCollectionKindAt + 1 <= sizeof CobramH);

size_t GroupAt(int group) { return kPropertyGroupAt + kPropertyGroupStride * static_cast<size_t>(group - 2); }

}  // namespace

// ---- Clearing ---------------------------------------------------------------

void ClearConceptRecord() {
  std::memset(THRebut, 0, sizeof THRebut);
  PutText(THRebut, kConceptDescriptionAt, kConceptDescriptionWidth, "");
}

void ClearPropertyRecord() {
  std::memset(FinquesH, 0, sizeof FinquesH);
  PutText(FinquesH, kPropertyDescriptionAt, kPropertyDescriptionWidth, "");
  for (int g = 2; g <= 7; ++g) PutText(FinquesH, GroupAt(g) + 4, kPropertyGroupNameWidth, "");
  PutText(FinquesH, kPropertyTaxIdAt, kPropertyTaxIdWidth, "");
}

void ClearExpenseNoteRecord() {
  std::memset(FinDespH, 0, sizeof FinDespH);
  PutText(FinDespH, kNoteTextAt, kNoteTextWidth, "");
}

void ClearOwnerRecord() { std::memset(PropietH, 0, sizeof PropietH); }

void ClearPaymentRecord() {
  std::memset(PagamH, 0, sizeof PagamH);
  PutText(PagamH, kPaymentFlagAt, 1, "");
}

void ClearCollectionRecord() {
  std::memset(CobramH, 0, sizeof CobramH);
  PutText(CobramH, kCollectionKindAt, 1, "");
}

// ---- Receipt concepts ---------------------------------------------------------

int ConceptNumber() { return THRebut[kConceptNumberAt]; }
void SetConceptNumber(int number) {
  if (number >= 0 && number <= 255) THRebut[kConceptNumberAt] = static_cast<unsigned char>(number);
}
std::string ConceptDescription() { return Bytes(THRebut, kConceptDescriptionAt, kConceptDescriptionWidth); }
void SetConceptDescription(const std::string& text) {
  PutText(THRebut, kConceptDescriptionAt, kConceptDescriptionWidth, text);
}
int16_t ConceptType() { return Int(THRebut, kConceptTypeAt); }
void SetConceptType(int16_t type) { PutInt(THRebut, kConceptTypeAt, type); }
std::string ConceptKey(int number) {
  if (number < 0 || number > 255) return std::string();
  return std::string(1, static_cast<char>(number));
}

// ---- Properties -------------------------------------------------------------

std::string PropertyCode() { return Bytes(FinquesH, kPropertyCodeAt, kCodeWidth); }
void SetPropertyCode(const std::string& packed) { PutPacked(FinquesH, kPropertyCodeAt, kCodeWidth, packed); }
std::string PropertyDescription() {
  return Bytes(FinquesH, kPropertyDescriptionAt, kPropertyDescriptionWidth);
}
void SetPropertyDescription(const std::string& text) {
  PutText(FinquesH, kPropertyDescriptionAt, kPropertyDescriptionWidth, text);
}
int32_t PropertyFeePerOwner() { return Long(FinquesH, kPropertyFeeAt); }
void SetPropertyFeePerOwner(int32_t amount) { PutLong(FinquesH, kPropertyFeeAt, amount); }
int16_t PropertyTaxIndex() { return Int(FinquesH, kPropertyTaxIndexAt); }
void SetPropertyTaxIndex(int16_t index) { PutInt(FinquesH, kPropertyTaxIndexAt, index); }
std::string PropertyLastSettlement() { return Bytes(FinquesH, kPropertyLastSettlementAt, kDateWidth); }
void SetPropertyLastSettlement(const std::string& packed) {
  PutPacked(FinquesH, kPropertyLastSettlementAt, kDateWidth, packed);
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
  return Bytes(FinquesH, GroupAt(group) + 4, kPropertyGroupNameWidth);
}
void SetPropertyGroupName(int group, const std::string& text) {
  if (group >= 2 && group <= 7) PutText(FinquesH, GroupAt(group) + 4, kPropertyGroupNameWidth, text);
}
std::string PropertyTaxId() { return Bytes(FinquesH, kPropertyTaxIdAt, kPropertyTaxIdWidth); }
void SetPropertyTaxId(const std::string& text) {
  PutText(FinquesH, kPropertyTaxIdAt, kPropertyTaxIdWidth, text);
}

// ---- Expense notes -------------------------------------------------------------

std::string ExpenseNotePropertyCode() { return Bytes(FinDespH, kNoteCodeAt, kCodeWidth); }
void SetExpenseNotePropertyCode(const std::string& packed) {
  PutPacked(FinDespH, kNoteCodeAt, kCodeWidth, packed);
}
std::string ExpenseNoteText() { return Bytes(FinDespH, kNoteTextAt, kNoteTextWidth); }
void SetExpenseNoteText(const std::string& text) { PutText(FinDespH, kNoteTextAt, kNoteTextWidth, text); }

// ---- Owners -----------------------------------------------------------------------

std::string OwnerCode() { return Bytes(PropietH, kOwnerCodeAt, kOwnerCodeWidth); }
void SetOwnerCode(const std::string& packed) { PutPacked(PropietH, kOwnerCodeAt, kOwnerCodeWidth, packed); }
std::string OwnerPropertyCode() { return Bytes(PropietH, kOwnerCodeAt, kCodeWidth); }
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

std::string PaymentPropertyCode() { return Bytes(PagamH, kPaymentCodeAt, kCodeWidth); }
void SetPaymentPropertyCode(const std::string& packed) {
  PutPacked(PagamH, kPaymentCodeAt, kCodeWidth, packed);
}
std::string PaymentDate() { return Bytes(PagamH, kPaymentDateAt, kDateWidth); }
void SetPaymentDate(const std::string& packed) { PutPacked(PagamH, kPaymentDateAt, kDateWidth, packed); }
std::string PaymentKey() { return Bytes(PagamH, kPaymentCodeAt, kCodeWidth + kDateWidth); }
int32_t PaymentAmount() { return Long(PagamH, kPaymentAmountAt); }
void SetPaymentAmount(int32_t amount) { PutLong(PagamH, kPaymentAmountAt, amount); }
std::string PaymentFlag() { return Bytes(PagamH, kPaymentFlagAt, 1); }
void SetPaymentFlag(const std::string& flag) { PutText(PagamH, kPaymentFlagAt, 1, flag); }
bool PaymentChargedToOwner() { return PagamH[kPaymentFlagAt] == 'S'; }
std::string PaymentTarget() { return Bytes(PagamH, kPaymentTargetAt, kCodeWidth); }
void SetPaymentTarget(const std::string& packed) { PutPacked(PagamH, kPaymentTargetAt, kCodeWidth, packed); }
int PaymentTargetNumber() { return PackedNumber(PaymentTarget()); }

// ---- Collections ------------------------------------------------------------------

std::string CollectionOwnerCode() { return Bytes(CobramH, kCollectionCodeAt, kOwnerCodeWidth); }
void SetCollectionOwnerCode(const std::string& packed) {
  PutPacked(CobramH, kCollectionCodeAt, kOwnerCodeWidth, packed);
}
std::string CollectionDate() { return Bytes(CobramH, kCollectionDateAt, kDateWidth); }
void SetCollectionDate(const std::string& packed) {
  PutPacked(CobramH, kCollectionDateAt, kDateWidth, packed);
}
std::string CollectionKey() { return Bytes(CobramH, kCollectionCodeAt, kOwnerCodeWidth + kDateWidth); }
int32_t CollectionAmount() { return Long(CobramH, kCollectionAmountAt); }
void SetCollectionAmount(int32_t amount) { PutLong(CobramH, kCollectionAmountAt, amount); }
int32_t CollectionDeducted() { return Long(CobramH, kCollectionDeductedAt); }
void SetCollectionDeducted(int32_t amount) { PutLong(CobramH, kCollectionDeductedAt, amount); }
std::string CollectionKind() { return Bytes(CobramH, kCollectionKindAt, 1); }
void SetCollectionKind(const std::string& kind) { PutText(CobramH, kCollectionKindAt, 1, kind); }
