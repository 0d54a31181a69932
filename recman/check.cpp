// check.cpp - verifies a file against its marker, its records against their
// checksums and its indexes against its records; makes a lost marker again.
//
// The check streams: it walks the records once in position order, checking
// each one's checksum and length and looking up the index entry that each
// key calls for, then walks each index in order and looks up the record
// that each entry points at.  Nothing is gathered in memory but the report
// (at most 50 faults), so a file of any size is checked in bounded memory.
// SQLite's own quick_check of the database closes it.
#include "recman/check.h"

#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "recman/engine.h"
#include "recman/files.h"
#include "recman/integrity.h"
#include "recman/owner.h"
#include "recman/recman.h"
#include "recman/store.h"
#include "recman/transactions.h"

namespace {

constexpr int kReportedFaults = 50;

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

// A prepared statement, finalised at the end of its scope.
struct Statement {
  sqlite3_stmt* s = nullptr;
  Statement(sqlite3* db, const std::string& sql) {
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr) != SQLITE_OK) s = nullptr;
  }
  ~Statement() { sqlite3_finalize(s); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
};

struct Checker {
  Directory& dir;
  const CatalogEntry& entry;
  const FileSpec& spec;
  std::string& report;
  int faults = 0;
  void Fault(const std::string& line) {
    if (++faults <= kReportedFaults) report += line + "\n";
  }
};

// The records in position order: checksum, length, and the entry of each
// key found in its index, pointing at the record.
int16_t CheckRecords(Checker& c, uint64_t& records) {
  const std::string ids = std::to_string(c.entry.id);
  const size_t keys = c.spec.keys.size();
  Statement walk(c.dir.db, "SELECT pos, ver, data, seqs, sum FROM r" + ids + " ORDER BY pos");
  if (!walk.s) {
    c.Fault("record table missing");
    return B_IO_ERROR;
  }
  std::vector<std::unique_ptr<Statement>> lookups;
  for (size_t k = 0; k < keys; ++k) {
    lookups.push_back(std::make_unique<Statement>(
        c.dir.db, "SELECT pos FROM k" + ids + "_" + std::to_string(k) + " WHERE ik = ?1"));
    if (!lookups.back()->s) c.Fault("key " + std::to_string(k) + ": index table missing");
  }
  uint64_t unsummed = 0;
  int rc;
  while ((rc = sqlite3_step(walk.s)) == SQLITE_ROW) {
    ++records;
    Row row;
    row.pos = static_cast<uint32_t>(sqlite3_column_int64(walk.s, 0));
    row.version = sqlite3_column_int64(walk.s, 1);
    row.data = Blob(walk.s, 2);
    row.sequences = Blob(walk.s, 3);
    bool summed = sqlite3_column_type(walk.s, 4) != SQLITE_NULL;
    if (!summed) ++unsummed;
    if (summed && RecordChecksum(row.pos, row.version, row.data, row.sequences) !=
                      static_cast<uint32_t>(sqlite3_column_int64(walk.s, 4)))
      c.Fault("record " + std::to_string(row.pos) + ": does not match its checksum");
    bool lengthOk = c.spec.variableLength ? row.data.size() >= c.spec.recordLength
                                          : row.data.size() == c.spec.recordLength;
    if (!lengthOk) {
      c.Fault("record " + std::to_string(row.pos) + ": length " + std::to_string(row.data.size()));
      continue;
    }
    for (size_t k = 0; k < keys; ++k) {
      std::string e;
      sqlite3_stmt* q = lookups[k]->s;
      if (!q || !IndexEntry(c.spec, k, reinterpret_cast<const uint8_t*>(row.data.data()), row.sequences, e))
        continue;
      sqlite3_bind_blob(q, 1, e.data(), static_cast<int>(e.size()), SQLITE_STATIC);
      if (sqlite3_step(q) != SQLITE_ROW) {
        c.Fault("key " + std::to_string(k) + ": record " + std::to_string(row.pos) +
                " missing from the index");
      } else if (uint32_t at = static_cast<uint32_t>(sqlite3_column_int64(q, 0)); at != row.pos) {
        c.Fault("key " + std::to_string(k) + ": records " + std::to_string(at) + " and " +
                std::to_string(row.pos) + " share the unique value " + Hex(e));
      }
      sqlite3_reset(q);
    }
  }
  if (rc != SQLITE_DONE) return SqliteFailure(c.dir, rc);
  if (unsummed > 0)
    c.report += std::to_string(unsummed) + " records written without a checksum (by an older engine)\n";
  return B_OK;
}

// Each index in order: every entry points at a record whose bytes call for
// exactly that entry.
int16_t CheckIndexes(Checker& c) {
  const std::string ids = std::to_string(c.entry.id);
  Statement record(c.dir.db, "SELECT data, seqs FROM r" + ids + " WHERE pos = ?1");
  if (!record.s) return B_IO_ERROR;
  for (size_t k = 0; k < c.spec.keys.size(); ++k) {
    Statement walk(c.dir.db, "SELECT ik, pos FROM k" + ids + "_" + std::to_string(k) + " ORDER BY ik");
    if (!walk.s) continue;  // reported by CheckRecords
    int rc;
    while ((rc = sqlite3_step(walk.s)) == SQLITE_ROW) {
      std::string ik = Blob(walk.s, 0);
      uint32_t pos = static_cast<uint32_t>(sqlite3_column_int64(walk.s, 1));
      sqlite3_bind_int64(record.s, 1, pos);
      if (sqlite3_step(record.s) != SQLITE_ROW) {
        c.Fault("key " + std::to_string(k) + ": entry " + Hex(ik) + " for record " + std::to_string(pos) +
                " has no record");
      } else {
        std::string data = Blob(record.s, 0), seqs = Blob(record.s, 1), e;
        bool present = data.size() >= c.spec.recordLength &&
                       IndexEntry(c.spec, k, reinterpret_cast<const uint8_t*>(data.data()), seqs, e);
        if (!present || e != ik)
          c.Fault("key " + std::to_string(k) + ": entry " + Hex(ik) + " points at " + std::to_string(pos) +
                  ", whose key is " + (present ? Hex(e) : std::string("null")));
      }
      sqlite3_reset(record.s);
    }
    if (rc != SQLITE_DONE) return SqliteFailure(c.dir, rc);
  }
  return B_OK;
}

int16_t CheckTables(Directory& dir, const CatalogEntry& entry, const FileSpec& spec, std::string& report) {
  Checker c{dir, entry, spec, report};
  uint64_t records = 0;
  int16_t st = CheckRecords(c, records);
  if (st == B_OK) st = CheckIndexes(c);
  if (st != B_OK) return st;

  Statement count(dir.db, "SELECT records FROM recman_file WHERE id = " + std::to_string(entry.id));
  if (count.s && sqlite3_step(count.s) == SQLITE_ROW) {
    // Inside this process's transaction, deletes not yet counted in the
    // catalog wait in the directory's pending counts.
    int64_t stored = sqlite3_column_int64(count.s, 0);
    auto pending = dir.pendingCounts.find(entry.id);
    if (pending != dir.pendingCounts.end()) stored += pending->second;
    if (static_cast<uint64_t>(stored) != records)
      c.Fault("record count " + std::to_string(stored) + " but " + std::to_string(records) + " records");
  }
  Statement quick(dir.db, "PRAGMA quick_check");
  while (quick.s && sqlite3_step(quick.s) == SQLITE_ROW) {
    const unsigned char* t = sqlite3_column_text(quick.s, 0);
    std::string line = t ? reinterpret_cast<const char*>(t) : "";
    if (line != "ok") c.Fault("database: " + line);
  }
  if (c.faults > kReportedFaults) report += std::to_string(c.faults - kReportedFaults) + " more faults\n";
  return c.faults == 0 ? int16_t{B_OK} : int16_t{B_IO_ERROR};
}

int16_t Resolve(const std::string& path, DataPath& where) {
  return ResolveDataPath(reinterpret_cast<const uint8_t*>(path.data()), static_cast<uint32_t>(path.size()),
                         B_FILE_NOT_FOUND, where);
}

// A data file found by its path: where it is, the store of its folder and
// the catalog entry its marker names.
struct MarkedFile {
  DataPath where;
  Directory* dir = nullptr;
  CatalogEntry entry;
};

// The file at `path`: its marker and the catalog entries of its name, with
// what does not belong together described in `report`.  0 when the marker
// names the newest entry (in `file.entry`); otherwise the status to answer
// (a path that does not resolve gives the status of that).
int16_t MatchMarker(const std::string& path, MarkedFile& file, std::string& report) {
  const DataPath& where = file.where;
  int16_t st = Resolve(path, file.where);
  if (st != B_OK) return st;
  std::string uuid;
  MarkerState marker = ReadMarker(where.full, uuid);
  if (marker == MarkerState::kUnreadable) {
    report += where.full + ": the marker cannot be read: " + std::strerror(errno) + "\n";
    return B_ACCESS_DENIED;
  }
  // Checks and repairs only read the database: a folder the user may read
  // but not write is checked all the same, and a lost database stays lost.
  st = GetDirectory(where.directory, false, file.dir, true);
  const std::string store = where.directory + "/" + kStoreName;
  if (st == B_FILE_NOT_FOUND && marker == MarkerState::kForeign) {
    report += where.full + ": not a marker of a data file, and " + store + " is missing or empty\n";
    return B_NOT_A_RECORD_FILE;
  }
  if (st == B_FILE_NOT_FOUND && marker == MarkerState::kOk) {
    report += where.full + ": the marker names a file of " + store +
              ", which is missing or empty: the database is lost; restore the folder from a backup\n";
    return B_IO_ERROR;
  }
  if (st != B_OK) return st;
  EndRead(*file.dir);
  std::vector<CatalogEntry> entries;
  st = ListCatalogEntries(*file.dir, where.name, entries);
  if (st != B_OK) return st;
  if (marker == MarkerState::kForeign) {
    // Not a marker at all (damaged, or some other file in its place).
    report += where.full + ": not a marker of a data file (damaged?)";
    report += entries.empty() ? "; " + store + " holds no file of that name\n"
                              : "; " + store +
                                    " holds a file of that name: move this file away and run recutil "
                                    "repair-marker " +
                                    where.full + " to make its marker again\n";
    if (!entries.empty()) file.entry = entries.front();
    return B_NOT_A_RECORD_FILE;
  }
  if (marker == MarkerState::kMissing) {
    if (entries.empty()) return B_FILE_NOT_FOUND;
    report += where.full + ": no marker, but " + store + " holds a file of that name (entry " +
              std::to_string(entries.front().id) + "): recutil repair-marker makes its marker again\n";
    file.entry = entries.front();
    return B_IO_ERROR;
  }
  if (entries.empty() || entries.front().uuid != uuid) {
    report += where.full + ": the marker names no file of " + store + " (copied from another folder?)";
    report += entries.empty() ? "\n"
                              : "; the database holds a file of that name: recutil repair-marker gives it "
                                "its own marker again\n";
    if (!entries.empty()) file.entry = entries.front();
    return B_IO_ERROR;
  }
  file.entry = entries.front();
  return B_OK;
}

}  // namespace

int16_t RecmanCheckFile(const std::string& path, const std::string& owner, std::string& report) {
  std::lock_guard<std::mutex> guard(gRecman.mutex);
  ClearDiagnostic();
  gRecman.operation = "check";
  MarkedFile file;
  int16_t st = MatchMarker(path, file, report);
  if (st != B_OK) return st;
  const CatalogEntry& entry = file.entry;
  if (!entry.ownerHash.empty() && entry.ownerMode != B_OWNER_READ_ONLY &&
      !OwnerMatches(entry.ownerSalt, entry.ownerHash, owner.substr(0, kMaxOwnerName)))
    return B_INVALID_OWNER;
  FileSpec spec;
  if (ParseCreateBuffer(reinterpret_cast<const uint8_t*>(entry.spec.data()), entry.spec.size(), spec) !=
      B_OK) {
    report += "stored specification is unreadable\n";
    return B_NOT_A_RECORD_FILE;
  }
  bool ownTransaction = !file.dir->transactionOpen;
  if (ownTransaction) Exec(*file.dir, "BEGIN");
  st = CheckTables(*file.dir, entry, spec, report);
  if (ownTransaction) Exec(*file.dir, "COMMIT");
  return st;
}

int16_t RecmanRepairMarker(const std::string& path, std::string& report) {
  std::lock_guard<std::mutex> guard(gRecman.mutex);
  ClearDiagnostic();
  gRecman.operation = "repair-marker";
  MarkedFile file;
  std::string found;
  int16_t st = MatchMarker(path, file, found);
  const DataPath& where = file.where;
  if (st == B_OK) {
    report += where.full + ": the marker is sound\n";
    return B_FILE_EXISTS;
  }
  // A damaged marker is not written over: what stands there may be a file
  // of the office's own; moved away, the marker is made again.
  if (st == B_NOT_A_RECORD_FILE) {
    report += found;
    return st;
  }
  if (st != B_IO_ERROR || file.entry.id == 0) {
    report += found;
    return st == B_IO_ERROR ? int16_t{B_FILE_NOT_FOUND} : st;
  }
  if (!WriteMarker(where, file.entry.uuid, SyncEnabled())) {
    report += where.full + ": cannot write the marker: " + std::strerror(errno) + "\n";
    return B_CREATE_IO_ERROR;
  }
  report += where.full + ": marker made again for entry " + std::to_string(file.entry.id) + " of " +
            where.directory + "/" + kStoreName + "\n";
  return B_OK;
}

int16_t RecmanBackupFolder(const std::string& folder, const std::string& destination, std::string& report) {
  std::lock_guard<std::mutex> guard(gRecman.mutex);
  ClearDiagnostic();
  gRecman.operation = "backup";
  DataPath from, to;
  // Resolved as the folder of a file inside it.
  for (const std::string* f : {&folder, &destination}) {
    if (Resolve(*f + "/x", f == &folder ? from : to) != B_OK) {
      report += *f + ": no such folder\n";
      return B_FILE_NOT_FOUND;
    }
  }
  if (from.directory == to.directory) {
    report += "the copy must go to another folder\n";
    return B_INVALID_FILE_NAME;
  }
  const std::string target = to.directory + "/" + kStoreName;
  if (access(target.c_str(), F_OK) == 0) {
    report += target + " exists already\n";
    return B_FILE_EXISTS;
  }
  Directory* dir = nullptr;
  int16_t st = GetDirectory(from.directory, false, dir, true);
  if (st == B_FILE_NOT_FOUND) report += from.directory + ": no database " + kStoreName + " in this folder\n";
  if (st != B_OK) return st;
  EndRead(*dir);
  std::vector<std::pair<std::string, std::string>> files;  // name, identity
  {
    Statement list(dir->db, "SELECT name, uuid FROM recman_file ORDER BY id");
    while (list.s && sqlite3_step(list.s) == SQLITE_ROW)
      files.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(list.s, 0)),
                         reinterpret_cast<const char*>(sqlite3_column_text(list.s, 1)));
  }
  sqlite3* copy = nullptr;
  int rc = sqlite3_open_v2(target.c_str(), &copy, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  if (rc == SQLITE_OK) {
    // One step: the whole database from one read snapshot, which writers
    // of the write-ahead log do not wait for.
    sqlite3_backup* backup = sqlite3_backup_init(copy, "main", dir->db, "main");
    if (backup) {
      rc = sqlite3_backup_step(backup, -1);
      sqlite3_backup_finish(backup);
      if (rc == SQLITE_DONE) rc = SQLITE_OK;
    } else {
      rc = sqlite3_errcode(copy);
    }
  }
  if (rc == SQLITE_OK) rc = sqlite3_exec(copy, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) {
    report += std::string("copy failed: ") + (copy ? sqlite3_errmsg(copy) : sqlite3_errstr(rc)) + "\n";
    st =
        NoteFailure(SqliteStatus(rc), dir, copy ? sqlite3_errmsg(copy) : sqlite3_errstr(rc), 0, "SQLite", rc);
    sqlite3_close(copy);
    unlink(target.c_str());
    return st == B_OK ? int16_t{B_IO_ERROR} : st;
  }
  sqlite3_close(copy);
  for (const auto& [name, uuid] : files) {
    DataPath marker{to.directory, name, to.directory + "/" + name};
    if (!WriteMarker(marker, uuid, true)) {
      report += "cannot write the marker " + marker.full + "\n";
      return B_CREATE_IO_ERROR;
    }
  }
  report += std::to_string(files.size()) + " files copied to " + to.directory + "\n";
  return B_OK;
}
