// check.cpp - verifies a file against its marker, its records against their
// checksums and its indexes against its records; makes a lost marker again;
// copies a whole folder.
//
// The check streams: it walks the records once in position order, checking
// each one's checksum and length and looking up the index entry that each
// key calls for, then walks each index in order and looks up the record
// that each entry points at.  Nothing is gathered in memory but a batch of
// rows and the report (at most 50 faults), so a file of any size is checked
// in bounded memory.  The store's own check of its storage closes it.
#include "recman/check.h"

#include <dirent.h>
#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

#include "recman/engine.h"
#include "recman/files.h"
#include "recman/integrity.h"
#include "recman/owner.h"
#include "recman/recman.h"
#include "recman/store.h"
#include "recman/store_sqlite.h"
#include "recman/transactions.h"

namespace recman {
namespace {

constexpr int kReportedFaults = 50;
constexpr unsigned kCheckBatch = 256;

std::string Hex(const std::string& s) {
  static const char d[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : s) {
    out.push_back(d[c >> 4]);
    out.push_back(d[c & 15]);
  }
  return out;
}

struct Checker {
  OpenFile& file;
  std::string& report;
  int faults = 0;
  void Fault(const std::string& line) {
    if (++faults <= kReportedFaults) report += line + "\n";
  }
};

// The records in position order: checksum, length, and the entry of each
// key found in its index, pointing at the record.
int16_t CheckRecords(Checker& c, uint64_t& records) {
  const FileSpec& spec = c.file.spec;
  const size_t keys = spec.keys.size();
  uint64_t unsummed = 0;
  int64_t after = 0;
  for (;;) {
    std::vector<Row> rows;
    int16_t st = FetchPhysical(c.file, true, after, kCheckBatch, rows);
    if (st != B_OK) {
      c.Fault("records unreadable");
      return st;
    }
    if (rows.empty()) break;
    after = rows.back().pos;
    for (const Row& row : rows) {
      ++records;
      if (row.checksum < 0) ++unsummed;
      if (row.checksum >= 0 && RecordChecksum(row.pos, row.version, row.data, row.sequences) !=
                                   static_cast<uint32_t>(row.checksum))
        c.Fault("record " + std::to_string(row.pos) + ": does not match its checksum");
      bool lengthOk =
          spec.variableLength ? row.data.size() >= spec.recordLength : row.data.size() == spec.recordLength;
      if (!lengthOk) {
        c.Fault("record " + std::to_string(row.pos) + ": length " + std::to_string(row.data.size()));
        continue;
      }
      for (size_t k = 0; k < keys; ++k) {
        std::string e;
        if (!IndexEntry(spec, k, reinterpret_cast<const uint8_t*>(row.data.data()), row.sequences, e))
          continue;
        uint32_t at = 0;
        bool found = false;
        st = FindIndexEntry(c.file, static_cast<int>(k), e, at, found);
        if (st != B_OK) return st;
        if (!found) {
          c.Fault("key " + std::to_string(k) + ": record " + std::to_string(row.pos) +
                  " missing from the index");
        } else if (at != row.pos) {
          c.Fault("key " + std::to_string(k) + ": records " + std::to_string(at) + " and " +
                  std::to_string(row.pos) + " share the unique value " + Hex(e));
        }
      }
    }
  }
  if (unsummed > 0)
    c.report += std::to_string(unsummed) + " records written without a checksum (by an older engine)\n";
  return B_OK;
}

// Each index in order: every entry points at a record whose bytes call for
// exactly that entry.
int16_t CheckIndexes(Checker& c) {
  const FileSpec& spec = c.file.spec;
  for (size_t k = 0; k < spec.keys.size(); ++k) {
    std::string after;
    for (;;) {
      std::vector<std::pair<std::string, uint32_t>> entries;
      int16_t st = ListIndexEntries(c.file, static_cast<int>(k), after, kCheckBatch, entries);
      if (st != B_OK) return st;
      if (entries.empty()) break;
      after = entries.back().first;
      for (const auto& [ik, pos] : entries) {
        Row row;
        bool found = false;
        st = FetchRecord(c.file, pos, row, found);
        if (st != B_OK) return st;
        if (!found) {
          c.Fault("key " + std::to_string(k) + ": entry " + Hex(ik) + " for record " + std::to_string(pos) +
                  " has no record");
          continue;
        }
        std::string e;
        bool present =
            row.data.size() >= spec.recordLength &&
            IndexEntry(spec, k, reinterpret_cast<const uint8_t*>(row.data.data()), row.sequences, e);
        if (!present || e != ik)
          c.Fault("key " + std::to_string(k) + ": entry " + Hex(ik) + " points at " + std::to_string(pos) +
                  ", whose key is " + (present ? Hex(e) : std::string("null")));
      }
    }
  }
  return B_OK;
}

int16_t CheckTables(OpenFile& file, std::string& report) {
  Checker c{file, report};
  uint64_t records = 0;
  int16_t st = CheckRecords(c, records);
  if (st == B_OK) st = CheckIndexes(c);
  if (st != B_OK) return st;
  // Inside this process's transaction, deletes not yet counted in the
  // catalog wait in the directory's pending counts.
  uint32_t stored = 0;
  if (ReadRecordCount(file, stored) == B_OK && stored != records)
    c.Fault("record count " + std::to_string(stored) + " but " + std::to_string(records) + " records");
  std::vector<std::string> faults;
  file.dir->store->CheckStorage(faults);
  for (const std::string& f : faults) c.Fault(f);
  if (c.faults > kReportedFaults) report += std::to_string(c.faults - kReportedFaults) + " more faults\n";
  return c.faults == 0 ? int16_t{B_OK} : int16_t{B_IO_ERROR};
}

int16_t Resolve(const std::string& path, DataPath& where) {
  return ResolveDataPath(reinterpret_cast<const uint8_t*>(path.data()), static_cast<uint32_t>(path.size()),
                         B_FILE_NOT_FOUND, where);
}

// The folders a copy goes from and to, each resolved as the folder of a
// file inside it; they must exist and differ.
int16_t ResolveTwoFolders(const std::string& from, const std::string& to, DataPath& source, DataPath& target,
                          std::string& report) {
  for (const std::string* f : {&from, &to}) {
    if (Resolve(*f + "/x", f == &from ? source : target) != B_OK) {
      report += *f + ": no such folder\n";
      return B_FILE_NOT_FOUND;
    }
  }
  if (source.directory == target.directory) {
    report += "the copy must go to another folder\n";
    return B_INVALID_FILE_NAME;
  }
  return B_OK;
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
  const std::string store = file.dir ? file.dir->store->Where() : where.directory + "/" + kStoreName;
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
}  // namespace recman

// The checks and copies are the tools' entry points (check.h), written
// in the engine's own terms.
using namespace recman;

namespace {

// What every entry point begins with: the engine's mutex for the whole
// call, no diagnostic left from an earlier call, and the operation a
// diagnostic names.
std::unique_lock<std::mutex> EnterCheck(const char* operation) {
  std::unique_lock<std::mutex> lock(gRecman.mutex);
  ClearDiagnostic();
  gRecman.operation = operation;
  return lock;
}

}  // namespace

int16_t RecmanCheckFile(const std::string& path, const std::string& owner, std::string& report) {
  auto lock = EnterCheck("check");
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
  // Read through a file of its own (the file may be open or not), in one
  // snapshot unless this process's transaction holds the folder.
  OpenFile checked;
  checked.dir = file.dir;
  checked.id = entry.id;
  checked.name = file.where.name;
  checked.spec = spec;
  Store& store = *file.dir->store;
  bool ownSnapshot = !file.dir->transactionOpen && store.BeginSnapshot();
  st = CheckTables(checked, report);
  if (ownSnapshot) store.EndSnapshot();
  if (gRecman.files.count({file.dir, entry.id}) == 0) store.ForgetFile(entry.id);
  return st;
}

int16_t RecmanRepairMarker(const std::string& path, std::string& report) {
  auto lock = EnterCheck("repair-marker");
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
            file.dir->store->Where() + "\n";
  return B_OK;
}

int16_t RecmanBackupFolder(const std::string& folder, const std::string& destination, std::string& report) {
  auto lock = EnterCheck("backup");
  DataPath from, to;
  int16_t resolved = ResolveTwoFolders(folder, destination, from, to, report);
  if (resolved != B_OK) return resolved;
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
  std::vector<CatalogEntry> files;
  st = ListCatalogEntries(*dir, "", files);
  if (st != B_OK) return st;
  st = BackupSqliteStore(*dir->store, target, report);
  if (st != B_OK) return st;
  for (const CatalogEntry& e : files) {
    DataPath marker{to.directory, e.name, to.directory + "/" + e.name};
    if (!WriteMarker(marker, e.uuid, true)) {
      report += "cannot write the marker " + marker.full + "\n";
      return B_CREATE_IO_ERROR;
    }
  }
  report += std::to_string(files.size()) + " files copied to " + to.directory + "\n";
  return B_OK;
}

namespace recman {
namespace {

// Copies one file's catalog entry, records and index entries from `from`
// (inside its read transaction) into `to` (inside its write transaction).
int16_t CopyFile(Directory& from, Directory& to, const CatalogEntry& e, uint64_t& records,
                 std::string& report) {
  FileSpec spec;
  if (ParseCreateBuffer(reinterpret_cast<const uint8_t*>(e.spec.data()), e.spec.size(), spec) != B_OK) {
    report += e.name + ": stored specification is unreadable\n";
    return B_NOT_A_RECORD_FILE;
  }
  int64_t id = 0;
  int16_t st = to.store->AddCatalogEntry(e.name, e.uuid, spec, id);
  if (st == B_OK && !e.ownerHash.empty())
    st = to.store->SetOwnerEntry(id, e.ownerSalt, e.ownerHash, e.ownerMode);
  if (st == B_OK) st = to.store->SetCounters(id, e.records, e.nextPos);
  if (st != B_OK) return st;
  OpenFile source, target;
  source.dir = &from;
  source.id = e.id;
  source.name = e.name;
  source.spec = spec;
  target.dir = &to;
  target.id = id;
  target.name = e.name;
  target.spec = spec;
  int64_t after = 0;
  for (;;) {
    std::vector<Row> rows;
    st = FetchPhysical(source, true, after, kCheckBatch, rows);
    if (st != B_OK || rows.empty()) break;
    after = rows.back().pos;
    for (const Row& r : rows) {
      // A damaged record is not carried over as if it were sound.
      st = VerifyRow(source, r);
      if (st == B_OK)
        st = WriteRecordRow(target, RowWrite::kInsert, r.pos, r.version, r.data, r.sequences,
                            RecordChecksum(r.pos, r.version, r.data, r.sequences));
      if (st != B_OK) break;
      ++records;
    }
    if (st != B_OK) break;
  }
  for (size_t k = 0; k < spec.keys.size() && st == B_OK; ++k) {
    std::string key;
    for (;;) {
      std::vector<std::pair<std::string, uint32_t>> entries;
      st = ListIndexEntries(source, static_cast<int>(k), key, kCheckBatch, entries);
      if (st != B_OK || entries.empty()) break;
      key = entries.back().first;
      for (const auto& [ik, pos] : entries) {
        st = InsertIndexEntry(target, static_cast<int>(k), ik, pos);
        if (st != B_OK) break;
      }
      if (st != B_OK) break;
    }
  }
  if (gRecman.files.count({&from, e.id}) == 0) from.store->ForgetFile(e.id);
  to.store->ForgetFile(id);
  return st;
}

}  // namespace
}  // namespace recman

int16_t RecmanCopyFolder(const std::string& from, const std::string& to, std::string& report) {
  auto lock = EnterCheck("copy");
  if (gRecman.inTransaction) return B_OPERATION_NOT_ALLOWED;
  DataPath source, target;
  int16_t resolved = ResolveTwoFolders(from, to, source, target, report);
  if (resolved != B_OK) return resolved;
  Directory* in = nullptr;
  int16_t st = GetDirectory(source.directory, false, in, true);
  if (st == B_FILE_NOT_FOUND) report += source.directory + ": no data files in this folder\n";
  if (st != B_OK) return st;
  EndRead(*in);
  std::vector<CatalogEntry> files;
  st = in->store->BeginReadTransaction();
  if (st == B_OK) st = ListCatalogEntries(*in, "", files);
  if (st != B_OK) {
    in->store->Rollback();
    return st;
  }
  // Nothing may stand in the destination for any of the files.
  for (const CatalogEntry& e : files) {
    std::string uuid;
    if (ReadMarker(target.directory + "/" + e.name, uuid) != MarkerState::kMissing) {
      report += target.directory + "/" + e.name + " exists already\n";
      in->store->Rollback();
      return B_FILE_EXISTS;
    }
  }
  Directory* out = nullptr;
  st = GetDirectory(target.directory, true, out);
  std::vector<CatalogEntry> present;
  if (st == B_OK) st = ListCatalogEntries(*out, "", present);
  if (st == B_OK && !present.empty()) {
    report += out->store->Where() + " holds data files already\n";
    st = B_FILE_EXISTS;
  }
  if (st != B_OK) {
    in->store->Rollback();
    return st;
  }
  EndRead(*out);
  WriteScope scope;
  st = BeginWrite(*out, scope);
  scope.modified = true;
  uint64_t records = 0;
  for (size_t i = 0; i < files.size() && st == B_OK; ++i) st = CopyFile(*in, *out, files[i], records, report);
  st = EndWrite(scope, st);
  in->store->Rollback();
  if (st != B_OK) {
    report += "nothing was copied\n";
    return st;
  }
  for (const CatalogEntry& e : files) {
    DataPath marker{target.directory, e.name, target.directory + "/" + e.name};
    if (!WriteMarker(marker, e.uuid, SyncEnabled())) {
      report += "cannot write the marker " + marker.full + ": " + std::strerror(errno) + "\n";
      return B_CREATE_IO_ERROR;
    }
  }
  report += std::to_string(files.size()) + " files, " + std::to_string(records) + " records copied from " +
            in->store->Where() + " to " + out->store->Where() + "\n";
  return B_OK;
}

int16_t RecmanFolderFiles(const std::string& folder, std::vector<std::string>& names, std::string& report) {
  auto lock = EnterCheck("check");
  names.clear();
  DataPath where;
  if (Resolve(folder + "/x", where) != B_OK) {
    report += folder + ": no such folder\n";
    return B_FILE_NOT_FOUND;
  }
  std::set<std::string> found;
  if (DIR* d = opendir(where.directory.c_str())) {
    while (dirent* e = readdir(d)) {
      const std::string name = e->d_name;
      std::string uuid;
      DataPath probe{where.directory, name, where.directory + "/" + name};
      if (name == "." || name == ".." || name.rfind(kStoreName, 0) == 0 || name == kLockName ||
          name.find(".recman-tmp") != std::string::npos)
        continue;
      if (ReadMarker(probe.full, uuid) != MarkerState::kMissing) found.insert(name);
    }
    closedir(d);
  }
  Directory* dir = nullptr;
  int16_t st = GetDirectory(where.directory, false, dir, true);
  if (st == B_OK) {
    EndRead(*dir);
    std::vector<CatalogEntry> entries;
    st = ListCatalogEntries(*dir, "", entries);
    for (const CatalogEntry& e : entries) {
      // A marker of the name in another letter case is that file's.
      bool marked = false;
      for (const std::string& n : found) marked = marked || strcasecmp(n.c_str(), e.name.c_str()) == 0;
      if (!marked) found.insert(e.name);
    }
  }
  names.assign(found.begin(), found.end());
  return st;
}

int16_t RecmanDescribeFile(const std::string& path, RecmanFileFacts& facts, std::string& report) {
  auto lock = EnterCheck("stat");
  MarkedFile file;
  int16_t st = MatchMarker(path, file, report);
  if (st != B_OK) return st;
  facts.ownerSet = !file.entry.ownerHash.empty();
  facts.ownerReadOnly = facts.ownerSet && file.entry.ownerMode == B_OWNER_READ_ONLY;
  facts.marker = file.where.full;
  facts.storage = file.dir->store->Name();
  facts.where = file.dir->store->Where();
  return B_OK;
}
