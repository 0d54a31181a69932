// records.h - the record variables of the six condominium data files.
//
// One global byte record per file, of exactly the file's record length; the
// data layer reads records into them and writes them back from them, so
// bytes this program does not interpret travel back unchanged.
#pragma once
#include <cstdint>
#include <string>

#include "input/packed.h"

constexpr int16_t kFileConcepts = 504;      // THRebut
constexpr int16_t kFileProperties = 511;    // FinquesH
constexpr int16_t kFileExpenseNotes = 512;  // FinDespH
constexpr int16_t kFileOwners = 513;        // PropietH
constexpr int16_t kFileCollections = 514;   // CobramH
constexpr int16_t kFilePayments = 515;      // PagamH

extern unsigned char THRebut[24];
extern unsigned char FinquesH[388];
extern unsigned char FinDespH[604];
extern unsigned char PropietH[428];
extern unsigned char PagamH[44];
extern unsigned char CobramH[24];

// The six files with their record variables, in the order the suite opens
// them (PagamH before CobramH).
struct SettlementFile {
  unsigned char* record;
  int32_t size;      // of the record variable
  const char* name;  // under the suite root's DADES folder
  int16_t number;
};
extern const SettlementFile kSettlementFiles[6];
// Opens the six files of `root` + "DADES\" with the data layer, each with
// its record variable; 0, or the first status other than 0 (a file number
// already open, a full table).  A file that cannot be opened ends the
// program in the data layer.
int16_t OpenSettlementFiles(const std::string& root);

// ---- Field accessors ---------------------------------------------------------
// Every field the program reads or writes is reached through these, so no
// other code computes an offset.  Codes and dates are packed digits (byte =
// 128 + two decimal digits), handed over as their raw bytes; amounts are
// little-endian LONG (32-bit) or INT (16-bit); texts are code page 850,
// blank-padded.  Setters cut or pad to the field's width (texts with blanks,
// packed fields with packed zeros, 0x80) and touch no other byte.  An index
// outside its range reads as 0 or "" and writes nothing.

// Record clearing for building records: amounts and codes zero bytes, text
// fields blanks.
void ClearConceptRecord();
void ClearPropertyRecord();
void ClearExpenseNoteRecord();
void ClearOwnerRecord();
void ClearPaymentRecord();
void ClearCollectionRecord();

// Receipt concepts (THRebut, 24 bytes).
int ConceptNumber();  // byte 0, the key: the number as a raw byte
void SetConceptNumber(int number);
std::string ConceptDescription();  // 20 bytes
void SetConceptDescription(const std::string& text);
int16_t ConceptType();  // 1 = carry-over concept
void SetConceptType(int16_t type);
// The one-byte key of concept `number` (the raw byte).
std::string ConceptKey(int number);

// Properties (FinquesH, 388 bytes).
std::string PropertyCode();  // 2 packed bytes, the key
void SetPropertyCode(const std::string& packed);
std::string PropertyDescription();  // 30 bytes
void SetPropertyDescription(const std::string& text);
int32_t PropertyFeePerOwner();  // fee per owner and month
void SetPropertyFeePerOwner(int32_t amount);
int16_t PropertyTaxIndex();  // 0 or 1: selects IvaRate and RetRate
void SetPropertyTaxIndex(int16_t index);
std::string PropertyLastSettlement();  // packed date, 4 bytes
void SetPropertyLastSettlement(const std::string& packed);
int32_t PropertyGroupTotal(int group);  // coefficient groups 2..7
void SetPropertyGroupTotal(int group, int32_t total);
std::string PropertyGroupName(int group);  // 2..7, 30 bytes
void SetPropertyGroupName(int group, const std::string& text);
std::string PropertyTaxId();  // 17 bytes
void SetPropertyTaxId(const std::string& text);

// Property expense notes (FinDespH, 604 bytes).
std::string ExpenseNotePropertyCode();  // 2 packed bytes, the key
void SetExpenseNotePropertyCode(const std::string& packed);
std::string ExpenseNoteText();  // 600 bytes
void SetExpenseNoteText(const std::string& text);

// Owners (PropietH, 428 bytes).
std::string OwnerCode();  // 4 packed bytes: property (2) + owner (2), the key
void SetOwnerCode(const std::string& packed);
std::string OwnerPropertyCode();  // the first 2 bytes of the owner code
int32_t OwnerShare(int group);    // groups 1..7 (group 1 in millionths)
void SetOwnerShare(int group, int32_t share);
int32_t OwnerConceptAmount(int n);  // concepts 1..8
void SetOwnerConceptAmount(int n, int32_t amount);
int16_t OwnerExtraConcept(int slot);  // the two further slots, 1..2
void SetOwnerExtraConcept(int slot, int16_t concept_number);
int32_t OwnerExtraAmount(int slot);
void SetOwnerExtraAmount(int slot, int32_t amount);

// Payments (PagamH, 44 bytes).
std::string PaymentPropertyCode();  // 2 packed bytes
void SetPaymentPropertyCode(const std::string& packed);
std::string PaymentDate();  // packed date
void SetPaymentDate(const std::string& packed);
std::string PaymentKey();  // property code + date, 6 bytes: the key
int32_t PaymentAmount();
void SetPaymentAmount(int32_t amount);
std::string PaymentFlag();  // "S" = charged to one owner
void SetPaymentFlag(const std::string& flag);
bool PaymentChargedToOwner();
std::string PaymentTarget();  // 2 packed bytes: owner number or coefficient group
void SetPaymentTarget(const std::string& packed);
int PaymentTargetNumber();  // PaymentTarget read as a 4-digit number

// Collections (CobramH, 24 bytes).
std::string CollectionOwnerCode();  // 4 packed bytes
void SetCollectionOwnerCode(const std::string& packed);
std::string CollectionDate();  // packed date
void SetCollectionDate(const std::string& packed);
std::string CollectionKey();  // owner code + date, 8 bytes: the key
int32_t CollectionAmount();   // amount collected
void SetCollectionAmount(int32_t amount);
int32_t CollectionDeducted();  // amount deducted from it
void SetCollectionDeducted(int32_t amount);
std::string CollectionKind();  // 1 byte; "C" and "I" count
void SetCollectionKind(const std::string& kind);
