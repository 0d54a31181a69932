// records.h - the record variables of the six condominium data files.
//
// One global byte record per file, of exactly the file's record length; the
// data layer reads records into them and writes them back from them, so
// bytes this program does not interpret travel back unchanged.
#pragma once
#include <cstdint>
#include <string>

constexpr int16_t kFileConcepts = 504;     // THRebut
constexpr int16_t kFileProperties = 511;   // FinquesH
constexpr int16_t kFileExpenseNotes = 512; // FinDespH
constexpr int16_t kFileOwners = 513;       // PropietH
constexpr int16_t kFileCollections = 514;  // CobramH
constexpr int16_t kFilePayments = 515;     // PagamH

extern unsigned char THRebut[24];
extern unsigned char FinquesH[388];
extern unsigned char FinDespH[604];
extern unsigned char PropietH[428];
extern unsigned char PagamH[44];
extern unsigned char CobramH[24];
