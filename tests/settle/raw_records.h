// raw_records.h - the data files of a suite root read straight through the
// record manager, without the program's data layer or record accessors: a
// snapshot of every record of the six files, and plain decoders of the
// bytes the settlement works with (offsets as the record layouts give them).
//
// The tests that check the settlement against an independent computation,
// and those that compare the data after a crash or after two stations with
// the data after one uninterrupted pass, read the files this way.
#pragma once
#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "recman/recman.h"

namespace rawrecords {

// The records of one file in key 0 order, as stored.
using Records = std::vector<std::string>;
// The six files by name.
using Snapshot = std::map<std::string, Records>;

inline const char* const kFiles[] = {"THRebut", "FinquesH", "FinDespH", "PropietH", "PagamH", "CobramH"};

// Every record of DIR/DADES/NAME.dat (host path) along key 0; `status` gets
// the first unexpected status.
inline Records ReadAll(const std::string& dir, const std::string& name, int& status) {
  Records out;
  unsigned char block[kPositionBlockSize] = {};
  std::vector<unsigned char> data(1536);
  char key[256] = {};
  std::string path = dir + "/DADES/" + name + ".dat";
  std::memcpy(key, path.data(), path.size());
  uint32_t length = 0;
  status =
      BTRCALL(B_OPEN, block, data.data(), &length, key, static_cast<uint8_t>(path.size()), B_MODE_READ_ONLY);
  if (status != B_OK) return out;
  std::memset(key, 0, sizeof key);
  length = static_cast<uint32_t>(data.size());
  int16_t st = BTRCALL(B_GET_FIRST, block, data.data(), &length, key, 255, 0);
  while (st == B_OK) {
    out.emplace_back(reinterpret_cast<const char*>(data.data()), length);
    length = static_cast<uint32_t>(data.size());
    st = BTRCALL(B_GET_NEXT, block, data.data(), &length, key, 255, 0);
  }
  if (st != B_END_OF_FILE) status = st;
  length = 0;
  BTRCALL(B_CLOSE, block, data.data(), &length, key, 0, 0);
  return out;
}

inline Snapshot TakeSnapshot(const std::string& dir, int& status) {
  Snapshot s;
  status = B_OK;
  for (const char* name : kFiles) {
    int st = B_OK;
    s[name] = ReadAll(dir, name, st);
    if (st != B_OK && status == B_OK) status = st;
  }
  return s;
}

// ---- Plain decoders -------------------------------------------------------------------

inline int32_t Long(const std::string& r, size_t at) {
  uint32_t v = 0;
  for (size_t i = 0; i < 4; ++i) v |= static_cast<uint32_t>(static_cast<unsigned char>(r[at + i])) << (8 * i);
  return static_cast<int32_t>(v);
}
inline int16_t Int(const std::string& r, size_t at) {
  return static_cast<int16_t>(static_cast<unsigned char>(r[at]) | static_cast<unsigned char>(r[at + 1]) << 8);
}
// Packed digit pairs (128 + value) read as one decimal number.
inline long Packed(const std::string& r, size_t at, size_t width) {
  long v = 0;
  for (size_t i = 0; i < width; ++i) v = v * 100 + (static_cast<unsigned char>(r[at + i]) & 127);
  return v;
}

// Field offsets.
constexpr size_t kConceptType = 21;
constexpr size_t kPropertyFee = 110, kPropertyTaxIndex = 114, kPropertyDate = 160, kPropertyTaxId = 368;
constexpr size_t kPropertyGroupTotal[8] = {0, 0, 164, 198, 232, 266, 300, 334};
constexpr size_t kNoteText = 2;
constexpr size_t kOwnerShare = 211, kOwnerSlot = 242, kOwnerExtra[2] = {295, 304};
constexpr size_t kPaymentDate = 2, kPaymentAmount = 35, kPaymentFlag = 39, kPaymentTarget = 40;
constexpr size_t kCollectionDate = 4, kCollectionAmount = 13, kCollectionDeducted = 17, kCollectionKind = 21;

inline int32_t OwnerSlot(const std::string& owner, int n) {
  return Long(owner, kOwnerSlot + 7 * static_cast<size_t>(n - 1));
}

// The owner records of a snapshot by owner code (4 packed bytes).
inline std::map<std::string, std::string> OwnersByCode(const Snapshot& s) {
  std::map<std::string, std::string> out;
  for (const std::string& r : s.at("PropietH")) out[r.substr(0, 4)] = r;
  return out;
}

}  // namespace rawrecords
