// store_sql.h - what the two SQL stores (store_sqlite.cpp, store_pg.cpp)
// share: the names of a file's tables and the statement slots of its keys.
//
// A data file is a record table "r<id>" (pos, ver, data, seqs, sum) and one
// index table "k<id>_<key>" (ik, pos) per key.  Each store prepares its
// statements per open file in slots: kPerKey for each key, then its own
// record slots.
#pragma once
#include <cstdint>
#include <string>

#include "recman/store.h"

namespace recman {

enum KeySlot { kSlotGe, kSlotGt, kSlotLe, kSlotLt, kSlotExact, kSlotInsert, kSlotDelete, kSlotList, kPerKey };

inline std::string Table(int64_t id) { return "r" + std::to_string(id); }
inline std::string IndexTable(int64_t id, int key) {
  return "k" + std::to_string(id) + "_" + std::to_string(key);
}

// The key slot of a keyed fetch.
inline KeySlot FetchSlot(Find how) {
  switch (how) {
    case Find::kGe: return kSlotGe;
    case Find::kGt: return kSlotGt;
    case Find::kLe: return kSlotLe;
    default: return kSlotLt;
  }
}

}  // namespace recman
