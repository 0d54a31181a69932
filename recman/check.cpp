// check.cpp - verifies a file's indexes against its records.
//
// For every record it rebuilds the index entries (sort key and insertion
// number) that each key calls for, then walks each index table in order and
// reports entries that are missing, extra or point at the wrong record; it
// also checks record lengths, the catalog's record count and SQLite's own
// quick_check of the database.
#include "recman/check.h"

#include <sqlite3.h>

#include <algorithm>
#include <mutex>
#include <utility>
#include <vector>

#include "recman/engine.h"
#include "recman/files.h"
#include "recman/owner.h"
#include "recman/recman.h"
#include "recman/store.h"
#include "recman/transactions.h"

namespace {

std::string Hex(const std::string& s) {
  static const char d[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : s) {
    out.push_back(d[c >> 4]);
    out.push_back(d[c & 15]);
  }
  return out;
}

std::string Blob(sqlite3_stmt* s, int i) {
  const void* p = sqlite3_column_blob(s, i);
  return p ? std::string(static_cast<const char*>(p), static_cast<size_t>(sqlite3_column_bytes(s, i)))
           : std::string();
}

int16_t CheckTables(Directory& dir, const CatalogEntry& entry, const FileSpec& spec, std::string& report) {
  const size_t keys = spec.keys.size();
  std::vector<std::vector<std::pair<std::string, uint32_t>>> expected(keys);
  std::string ids = std::to_string(entry.id);
  int faults = 0;
  auto fault = [&](const std::string& line) {
    if (++faults <= 50) report += line + "\n";
  };
  sqlite3_stmt* s = nullptr;
  std::string sql = "SELECT pos, data, seqs FROM r" + ids + " ORDER BY pos";
  if (sqlite3_prepare_v2(dir.db, sql.c_str(), -1, &s, nullptr) != SQLITE_OK) {
    report += "record table missing\n";
    return B_IO_ERROR;
  }
  uint64_t records = 0;
  int rc;
  while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
    ++records;
    uint32_t pos = static_cast<uint32_t>(sqlite3_column_int64(s, 0));
    std::string data = Blob(s, 1), seqs = Blob(s, 2);
    bool lengthOk = spec.variableLength ? data.size() >= spec.recordLength : data.size() == spec.recordLength;
    if (!lengthOk) {
      fault("record " + std::to_string(pos) + ": length " + std::to_string(data.size()));
      continue;
    }
    for (size_t k = 0; k < keys; ++k) {
      std::string e;
      if (IndexEntry(spec, k, reinterpret_cast<const uint8_t*>(data.data()), seqs, e))
        expected[k].emplace_back(std::move(e), pos);
    }
  }
  sqlite3_finalize(s);
  if (rc != SQLITE_DONE) return SqliteStatus(rc);

  for (size_t k = 0; k < keys; ++k) {
    auto& want = expected[k];
    std::sort(want.begin(), want.end());
    for (size_t i = 1; i < want.size(); ++i)
      if (want[i].first == want[i - 1].first)
        fault("key " + std::to_string(k) + ": records " + std::to_string(want[i - 1].second) + " and " +
              std::to_string(want[i].second) + " share the unique value " + Hex(want[i].first));
    sql = "SELECT ik, pos FROM k" + ids + "_" + std::to_string(k) + " ORDER BY ik";
    if (sqlite3_prepare_v2(dir.db, sql.c_str(), -1, &s, nullptr) != SQLITE_OK) {
      fault("key " + std::to_string(k) + ": index table missing");
      continue;
    }
    size_t i = 0;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
      std::string ik = Blob(s, 0);
      uint32_t pos = static_cast<uint32_t>(sqlite3_column_int64(s, 1));
      while (i < want.size() && want[i].first < ik) {
        fault("key " + std::to_string(k) + ": record " + std::to_string(want[i].second) +
              " missing from the index");
        ++i;
      }
      if (i < want.size() && want[i].first == ik) {
        if (want[i].second != pos)
          fault("key " + std::to_string(k) + ": entry " + Hex(ik) + " points at " + std::to_string(pos) +
                " instead of " + std::to_string(want[i].second));
        ++i;
      } else {
        fault("key " + std::to_string(k) + ": entry " + Hex(ik) + " for record " + std::to_string(pos) +
              " has no record");
      }
    }
    for (; i < want.size(); ++i)
      fault("key " + std::to_string(k) + ": record " + std::to_string(want[i].second) +
            " missing from the index");
    sqlite3_finalize(s);
  }

  sql = "SELECT records FROM recman_file WHERE id = " + ids;
  if (sqlite3_prepare_v2(dir.db, sql.c_str(), -1, &s, nullptr) == SQLITE_OK &&
      sqlite3_step(s) == SQLITE_ROW) {
    // Inside this process's transaction, deletes not yet counted in the
    // catalog wait in the directory's pending counts.
    int64_t stored = sqlite3_column_int64(s, 0);
    auto pending = dir.pendingCounts.find(entry.id);
    if (pending != dir.pendingCounts.end()) stored += pending->second;
    uint64_t counted = static_cast<uint64_t>(stored);
    if (counted != records)
      fault("record count " + std::to_string(counted) + " but " + std::to_string(records) + " records");
  }
  sqlite3_finalize(s);

  if (sqlite3_prepare_v2(dir.db, "PRAGMA quick_check", -1, &s, nullptr) == SQLITE_OK) {
    while (sqlite3_step(s) == SQLITE_ROW) {
      const unsigned char* t = sqlite3_column_text(s, 0);
      std::string line = t ? reinterpret_cast<const char*>(t) : "";
      if (line != "ok") fault("database: " + line);
    }
  }
  sqlite3_finalize(s);
  if (faults > 50) report += std::to_string(faults - 50) + " more faults\n";
  return faults == 0 ? int16_t{B_OK} : int16_t{B_IO_ERROR};
}

}  // namespace

int16_t RecmanCheckFile(const std::string& path, const std::string& owner, std::string& report) {
  std::lock_guard<std::mutex> guard(gRecman.mutex);
  DataPath where;
  int16_t st = ResolveDataPath(reinterpret_cast<const uint8_t*>(path.data()),
                               static_cast<uint32_t>(path.size()), B_FILE_NOT_FOUND, where);
  if (st != B_OK) return st;
  std::string uuid;
  switch (ReadMarker(where.full, uuid)) {
    case MarkerState::kOk: break;
    case MarkerState::kMissing: return B_FILE_NOT_FOUND;
    case MarkerState::kForeign: return B_NOT_A_RECORD_FILE;
    case MarkerState::kUnreadable: return B_ACCESS_DENIED;
  }
  Directory* dir = nullptr;
  st = GetDirectory(where.directory, false, dir);
  if (st != B_OK) return st;
  CatalogEntry entry;
  bool found = false;
  st = FindCatalogEntry(*dir, where.name, entry, found);
  if (st != B_OK) return st;
  if (!found || entry.uuid != uuid) return B_FILE_NOT_FOUND;
  if (!entry.ownerHash.empty() && entry.ownerMode != B_OWNER_READ_ONLY &&
      !OwnerMatches(entry.ownerSalt, entry.ownerHash, owner.substr(0, kMaxOwnerName)))
    return B_INVALID_OWNER;
  FileSpec spec;
  if (ParseCreateBuffer(reinterpret_cast<const uint8_t*>(entry.spec.data()), entry.spec.size(), spec) !=
      B_OK) {
    report += "stored specification is unreadable\n";
    return B_NOT_A_RECORD_FILE;
  }
  EndRead(*dir);
  bool ownTransaction = !dir->transactionOpen;
  if (ownTransaction) Exec(*dir, "BEGIN");
  st = CheckTables(*dir, entry, spec, report);
  if (ownTransaction) Exec(*dir, "COMMIT");
  return st;
}
