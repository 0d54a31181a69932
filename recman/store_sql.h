// store_sql.h - what the two SQL stores (store_sqlite.cpp, store_pg.cpp)
// share: the names of a file's tables, the statement slots of its keys and
// records, and the statements both ask alike.
//
// A data file is a record table "r<id>" (pos, ver, data, seqs, sum) and one
// index table "k<id>_<key>" (ik, pos) per key.  Each store prepares its
// statements per open file in slots: kPerKey for each key, then the
// kRowSlots of its record rows, then its own record slots.  The two speak
// the same SQL but for how a statement names its parameters and joins an
// index to its records; SqlDialect says that, and the store's own
// statements.
#pragma once
#include <cstdint>
#include <string>

#include "recman/store.h"

namespace recman {

enum KeySlot { kSlotGe, kSlotGt, kSlotLe, kSlotLt, kSlotExact, kSlotInsert, kSlotDelete, kSlotList, kPerKey };
// The record row slots after the key slots; a store's own follow from kRowSlots.
enum RowSlot {
  kSlotFetch,
  kSlotInsertRow,
  kSlotUpdateRow,
  kSlotDeleteRow,
  kSlotStepNext,
  kSlotStepPrev,
  kRowSlots
};

// How a store words its statements.
struct SqlDialect {
  char mark;               // before a parameter's number: '?' or '$'
  const char* bytesType;   // after a byte string parameter ("::bytea")
  const char* numberType;  // after a whole number parameter ("::int8")
  const char* join;        // the join of an index table to its record table
  // The lookup of one entry of index `key` (kSlotExact), and the store's own
  // record slot `slot` (kRowSlots and above).
  std::string (*exactSql)(int64_t id, int key);
  std::string (*ownSql)(int64_t id, int slot);
};

inline std::string Table(int64_t id) { return "r" + std::to_string(id); }
inline std::string IndexTable(int64_t id, int key) {
  return "k" + std::to_string(id) + "_" + std::to_string(key);
}

// The statement of an open file's slot.
std::string SlotSql(const SqlDialect& d, const OpenFile& f, size_t slot);

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
