// store.cpp - what every store shares: the folder's directory object and
// its store, the record counts kept through a transaction, the index
// entries of a record and the switches of tests.
#include "recman/store.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>

#include "platform/le.h"
#include "recman/integrity.h"
#include "recman/locks.h"
#include "recman/owner.h"
#include "recman/recman.h"
#include "recman/store_pg.h"
#include "recman/store_sqlite.h"
#include "recman/testing.h"

namespace recman {

namespace {

int gBusyTimeoutForTests = -1;
std::string gServerForTests;
RecmanDurability gDurability = RecmanDurability::kFull;

bool DirectoryInUse(const Directory* dir) {
  if (dir->transactionOpen) return true;
  for (const auto& [key, file] : gRecman.files)
    if (file->dir == dir) return true;
  return false;
}

}  // namespace

Directory::Directory() = default;
Directory::~Directory() = default;

int BusyTimeoutMs() {
  if (gBusyTimeoutForTests >= 0) return gBusyTimeoutForTests;
  const char* v = std::getenv("RECMAN_BUSY_TIMEOUT_MS");
  if (v && *v) {
    long n = std::strtol(v, nullptr, 10);
    if (n >= 0 && n < 24L * 3600 * 1000) return static_cast<int>(n);
  }
  return 30000;
}

RecmanDurability DurabilityForTests() { return gDurability; }

bool SyncEnabled() { return gDurability != RecmanDurability::kOff; }

bool FolderOnServer(const std::string& folder) {
  return access((folder + "/" + kServerName).c_str(), F_OK) == 0;
}

int16_t OpenStore(Directory& dir, bool create, std::unique_ptr<Store>& out) {
  std::string server = dir.path + "/" + kServerName;
  if (access(server.c_str(), F_OK) == 0) {
    ServerSettings settings;
    std::string error;
    if (!ReadServerFile(server, settings, error))
      return NoteFailure(B_IO_ERROR, &dir, error, 0, nullptr, 0, server);
    return OpenServerStore(dir, settings, create, out);
  }
  if (!gServerForTests.empty() && access((dir.path + "/" + kStoreName).c_str(), F_OK) != 0) {
    // The tests' folders are made server folders by their first create,
    // each in a schema of its own.
    if (!create) return B_FILE_NOT_FOUND;
    std::ofstream file(server);
    file << "# made by the record manager's tests\n"
         << gServerForTests << "\nschema t_" << RandomHex(8) << "\n";
    file.close();
    if (!file)
      return NoteFailure(B_CREATE_IO_ERROR, &dir, "cannot write " + server, errno, nullptr, 0, server);
    return OpenStore(dir, create, out);
  }
  return OpenSqliteStore(dir, create, out);
}

int16_t GetDirectory(const std::string& canonical, bool create, Directory*& out, bool readOnly) {
  out = nullptr;
  if (gRecman.unusableDirectories.count(canonical)) return B_IO_ERROR;
  auto it = gRecman.directories.find(canonical);
  if (it != gRecman.directories.end() && it->second->store->Replaced()) {
    // The folder was replaced.  Files still open in the old one keep their
    // entry under another name until the process ends; opens and creates
    // from now on go to the new folder.
    if (DirectoryInUse(it->second.get())) {
      auto node = gRecman.directories.extract(it);
      node.key() = canonical + '\n' + std::to_string(++gRecman.replacedDirectories);
      gRecman.directories.insert(std::move(node));
    } else {
      gRecman.directories.erase(it);
    }
    it = gRecman.directories.end();
  }
  if (it != gRecman.directories.end()) {
    out = it->second.get();
    // Opened for reading and now wanted for writing: the connection is
    // made again for writing (the handles open on it keep their files and
    // the open locks taken).
    if (out->readOnly && !readOnly) {
      if (out->transactionOpen) {
        out = nullptr;
        return B_OPERATION_NOT_ALLOWED;
      }
      int16_t st = out->store->ReopenForWriting();
      out->snapshotOpen = false;
      if (st != B_OK) {
        out = nullptr;
        return st;
      }
    }
    int16_t st = EnsureConnection(*out);
    if (st != B_OK) out = nullptr;
    return st;
  }
  auto dir = std::make_unique<Directory>();
  dir->path = canonical;
  dir->readOnly = readOnly && !create;
  int16_t st = OpenStore(*dir, create, dir->store);
  if (st != B_OK) return st;
  out = dir.get();
  gRecman.directories.emplace(canonical, std::move(dir));
  return B_OK;
}

int16_t EnsureConnection(Directory& dir) { return dir.store->Connect(); }

void CloseConnection(Directory& dir) {
  dir.store->Disconnect();
  dir.snapshotOpen = false;
}

int16_t ListCatalogEntries(Directory& dir, const std::string& name, std::vector<CatalogEntry>& out) {
  return dir.store->ListCatalogEntries(name, out);
}

int16_t FindCatalogEntry(Directory& dir, const std::string& name, CatalogEntry& out, bool& found) {
  std::vector<CatalogEntry> all;
  int16_t st = ListCatalogEntries(dir, name, all);
  found = st == B_OK && !all.empty();
  if (found) out = all.front();
  return st;
}

int16_t ReadRecordCount(OpenFile& file, uint32_t& count) {
  int64_t n = 0;
  // While the process transaction holds the folder nobody else changes the
  // stored count: it is read once a transaction and file, again only after
  // this process changed it.
  bool held = gRecman.inTransaction && file.dir->transactionOpen;
  if (held && file.countTransaction == gRecman.transactionSerial) {
    n = file.storedCount;
  } else {
    int16_t st = file.dir->store->StoredRecordCount(file, n);
    if (st != B_OK) return st;
    file.countTransaction = held ? gRecman.transactionSerial : 0;
    file.storedCount = n;
  }
  auto pending = file.dir->pendingCounts.find(file.id);
  if (pending != file.dir->pendingCounts.end()) n += pending->second;
  count = n < 0 ? 0 : static_cast<uint32_t>(n > 0xFFFFFFFFLL ? 0xFFFFFFFFLL : n);
  return B_OK;
}

int16_t AdjustRecordCount(OpenFile& file, int delta) {
  if (gRecman.inTransaction && file.dir->transactionOpen) {
    file.dir->pendingCounts[file.id] += delta;
    return B_OK;
  }
  file.countTransaction = 0;
  return file.dir->store->AddToRecordCount(file.id, delta);
}

int16_t FlushRecordCounts(Directory& dir) {
  int16_t st = B_OK;
  for (const auto& [id, delta] : dir.pendingCounts) {
    if (delta == 0) continue;
    st = dir.store->AddToRecordCount(id, delta);
    if (st != B_OK) break;
  }
  dir.pendingCounts.clear();
  return st;
}

uint64_t SequenceOf(const std::string& sequences, size_t key) {
  if (sequences.size() < (key + 1) * 8) return 0;
  return GetLe64(sequences.data() + key * 8);
}

void SetSequence(std::string& sequences, size_t key, uint64_t value) {
  if (sequences.size() < (key + 1) * 8) sequences.resize((key + 1) * 8, '\0');
  PutLe64(sequences.data() + key * 8, value);
}

bool IndexEntry(const FileSpec& spec, size_t key, const uint8_t* record, const std::string& sequences,
                std::string& out) {
  const KeyDef& k = spec.keys[key];
  if (!EncodeRecordKey(spec, k, record, out)) return false;
  if (k.duplicates) AppendSequence(out, SequenceOf(sequences, key));
  return true;
}

}  // namespace recman

// ---- The settings of testing.h -------------------------------------------------

void RecmanSetDurabilityForTests(RecmanDurability durability) {
  std::lock_guard<std::mutex> guard(recman::gRecman.mutex);
  recman::gDurability = durability;
}

void RecmanSetBusyTimeoutForTests(int milliseconds) {
  std::lock_guard<std::mutex> guard(recman::gRecman.mutex);
  recman::gBusyTimeoutForTests = milliseconds;
  for (auto& [path, dir] : recman::gRecman.directories)
    if (dir->store) dir->store->SetBusyTimeout(milliseconds);
}

void RecmanSetServerForTests(const std::string& connection) {
  std::lock_guard<std::mutex> guard(recman::gRecman.mutex);
  recman::gServerForTests = connection;
}
