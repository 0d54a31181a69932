// store_sql.cpp - the statements the two SQL stores ask alike.
#include "recman/store_sql.h"

namespace recman {

namespace {

std::string BytesParam(const SqlDialect& d, int n) { return d.mark + std::to_string(n) + d.bytesType; }
std::string NumberParam(const SqlDialect& d, int n) { return d.mark + std::to_string(n) + d.numberType; }

// Index `key`: entry (ik) and position, or entry and limit, as parameters 1 and 2.
std::string KeySql(const SqlDialect& d, int64_t id, int key, size_t slot) {
  std::string x = IndexTable(id, key), r = Table(id);
  std::string ik = BytesParam(d, 1), second = NumberParam(d, 2);
  std::string join = "SELECT x.ik, x.pos, r.ver, r.data, r.seqs, r.sum FROM " + x + " AS x " + d.join + " " +
                     r + " AS r ON r.pos = x.pos WHERE x.ik ";
  switch (slot) {
    case kSlotGe: return join + ">= " + ik + " ORDER BY x.ik LIMIT " + second;
    case kSlotGt: return join + "> " + ik + " ORDER BY x.ik LIMIT " + second;
    case kSlotLe: return join + "<= " + ik + " ORDER BY x.ik DESC LIMIT " + second;
    case kSlotLt: return join + "< " + ik + " ORDER BY x.ik DESC LIMIT " + second;
    case kSlotExact: return d.exactSql(id, key);
    case kSlotInsert: return "INSERT INTO " + x + "(ik, pos) VALUES(" + ik + ", " + second + ")";
    case kSlotList: return "SELECT ik, pos FROM " + x + " WHERE ik > " + ik + " ORDER BY ik LIMIT " + second;
    default: return "DELETE FROM " + x + " WHERE ik = " + ik;
  }
}

// The record rows: position, version, data, insertion numbers and checksum
// as parameters 1 to 5; a step takes position and limit.
std::string RowSql(const SqlDialect& d, int64_t id, size_t slot) {
  std::string r = Table(id), pos = NumberParam(d, 1), ver = NumberParam(d, 2), data = BytesParam(d, 3),
              seqs = BytesParam(d, 4), sum = NumberParam(d, 5);
  switch (slot) {
    case kSlotFetch: return "SELECT ver, data, seqs, sum FROM " + r + " WHERE pos = " + pos;
    case kSlotInsertRow:
      return "INSERT INTO " + r + "(pos, ver, data, seqs, sum) VALUES(" + pos + ", " + ver + ", " + data +
             ", " + seqs + ", " + sum + ")";
    case kSlotUpdateRow:
      return "UPDATE " + r + " SET ver = " + ver + ", data = " + data + ", seqs = " + seqs +
             ", sum = " + sum + " WHERE pos = " + pos;
    case kSlotDeleteRow: return "DELETE FROM " + r + " WHERE pos = " + pos;
    case kSlotStepNext:
      return "SELECT pos, ver, data, seqs, sum FROM " + r + " WHERE pos > " + pos + " ORDER BY pos LIMIT " +
             NumberParam(d, 2);
    default:
      return "SELECT pos, ver, data, seqs, sum FROM " + r + " WHERE pos < " + pos +
             " ORDER BY pos DESC LIMIT " + NumberParam(d, 2);
  }
}

}  // namespace

std::string SlotSql(const SqlDialect& d, const OpenFile& f, size_t slot) {
  size_t keySlots = f.spec.keys.size() * kPerKey;
  if (slot < keySlots) return KeySql(d, f.id, static_cast<int>(slot / kPerKey), slot % kPerKey);
  slot -= keySlots;
  if (slot < kRowSlots) return RowSql(d, f.id, slot);
  return d.ownSql(f.id, static_cast<int>(slot));
}

}  // namespace recman
