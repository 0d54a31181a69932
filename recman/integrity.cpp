// integrity.cpp - record checksums and the diagnostics of failed calls.
#include "recman/integrity.h"

#include <zlib.h>

#include <cstring>

#include "recman/recman.h"
#include "recman/store.h"

namespace recman {

namespace {

// CRC-32 (the polynomial of zlib, PNG and Ethernet) through zlib, which
// works a word at a time from its tables; a chain of calls gives the value of
// one call over all the bytes.
uint32_t Crc(uint32_t crc, const void* bytes, size_t n) {
  return static_cast<uint32_t>(crc32(crc, static_cast<const Bytef*>(bytes), static_cast<uInt>(n)));
}

uint32_t CrcLe(uint32_t crc, uint64_t value, int bytes) {
  uint8_t b[8];
  for (int i = 0; i < bytes; ++i) b[i] = static_cast<uint8_t>((value >> (8 * i)) & 0xFF);
  return Crc(crc, b, static_cast<size_t>(bytes));
}

std::string Where(const OpenFile& file) { return file.dir->path + "/" + file.name; }

}  // namespace

uint32_t RecordChecksum(uint32_t pos, int64_t version, const std::string& data,
                        const std::string& sequences) {
  uint32_t crc = CrcLe(0, pos, 4);
  crc = CrcLe(crc, static_cast<uint64_t>(version), 8);
  crc = CrcLe(crc, data.size(), 4);
  crc = Crc(crc, data.data(), data.size());
  return Crc(crc, sequences.data(), sequences.size());
}

int16_t VerifyRow(OpenFile& file, const Row& row, int key) {
  if (row.checksum >= 0 &&
      RecordChecksum(row.pos, row.version, row.data, row.sequences) != static_cast<uint32_t>(row.checksum))
    return NoteFailure(B_IO_ERROR, file.dir,
                       "record " + std::to_string(row.pos) + " of " + Where(file) +
                           " does not match its checksum: the data folder is damaged");
  const FileSpec& spec = file.spec;
  bool lengthOk =
      spec.variableLength ? row.data.size() >= spec.recordLength : row.data.size() == spec.recordLength;
  if (!lengthOk)
    return NoteFailure(B_IO_ERROR, file.dir,
                       "record " + std::to_string(row.pos) + " of " + Where(file) + " has a length of " +
                           std::to_string(row.data.size()) + " bytes: the data folder is damaged");
  if (key >= 0 && static_cast<size_t>(key) < spec.keys.size() && !row.sortKey.empty()) {
    std::string entry;
    if (!IndexEntry(spec, static_cast<size_t>(key), reinterpret_cast<const uint8_t*>(row.data.data()),
                    row.sequences, entry) ||
        entry != row.sortKey)
      return NoteFailure(B_IO_ERROR, file.dir,
                         "the index of key " + std::to_string(key) + " of " + Where(file) +
                             " does not match record " + std::to_string(row.pos) +
                             ": the data folder is damaged");
  }
  return B_OK;
}

int16_t NoteFailure(int16_t status, const Directory* dir, const std::string& message, int osError,
                    const char* storage, int code, const std::string& path) {
  // The first failure of a call is the one that explains it: a rollback
  // after it must not put its own in its place.
  if (gRecman.diagnosticSet) return status;
  gRecman.diagnosticSet = true;
  gRecman.diagnostic = RecmanDiagnostic{};
  gRecman.diagnostic.status = status;
  gRecman.diagnostic.code = code;
  if (storage) gRecman.diagnostic.storage = storage;
  gRecman.diagnostic.osError = osError;
  gRecman.diagnostic.message = message;
  // The storage's log names the system call and the file behind an I/O
  // failure, which its own message does not.
  if (storage && !gRecman.storageLog.empty() && gRecman.storageLog != message)
    gRecman.diagnostic.message += "; " + gRecman.storageLog;
  if (dir) gRecman.diagnostic.folder = dir->path;
  gRecman.diagnostic.operation = gRecman.operation;
  gRecman.diagnostic.path = path;
  if (path.empty() && storage && dir)
    gRecman.diagnostic.path = dir->store ? dir->store->Where() : dir->path + "/" + kStoreName;
  return status;
}

int16_t NoteSystemFailure(int16_t status, const Directory* dir, const std::string& path, int osError) {
  return NoteFailure(status, dir, std::strerror(osError), osError, nullptr, 0, path);
}

void NoteStorageLog(int code, const char* line) {
  int primary = code & 0xFF;
  if (line && (primary == 10 /* SQLITE_IOERR */ || primary == 14 /* SQLITE_CANTOPEN */))
    gRecman.storageLog = line;
}

void ClearDiagnostic() {
  gRecman.diagnosticSet = false;
  gRecman.storageLog.clear();
}

}  // namespace recman

bool RecmanLastDiagnostic(RecmanDiagnostic& out) {
  std::lock_guard<std::mutex> guard(recman::gRecman.mutex);
  if (!recman::gRecman.diagnosticSet) return false;
  out = recman::gRecman.diagnostic;
  return true;
}

std::string RecmanDiagnosticText(const RecmanDiagnostic& d) {
  std::string head = d.operation;
  if (!d.path.empty()) head += (head.empty() ? "" : " ") + d.path;
  std::string text = head.empty() ? std::string() : head + ": ";
  if (!d.storage.empty()) {
    text += d.storage + " " + std::to_string(d.code) + " (" + d.message + ")";
  } else {
    text += d.message;
  }
  if (d.osError != 0 && d.message != std::strerror(d.osError))
    text += ", errno " + std::to_string(d.osError) + " (" + std::strerror(d.osError) + ")";
  else if (d.osError != 0) text += " (errno " + std::to_string(d.osError) + ")";
  if (d.path.empty() && !d.folder.empty()) text += ", folder " + d.folder;
  return text;
}
