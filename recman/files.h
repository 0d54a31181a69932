// files.h - data file paths and the marker file that stands for each file.
//
// A data file's records live in its directory's database, but the file
// itself stays visible where the caller named it: a small text "marker"
// file holding the identity (a random id) of the catalog entry it belongs to.
// A data file exists when its marker exists and the catalog of the directory
// has an entry of that name with that id.  Deleting the marker deletes the
// file for its callers; a marker copied or renamed elsewhere opens nothing.
#pragma once
#include <cstdint>
#include <string>

namespace recman {

struct DataPath {
  std::string directory;  // canonical (realpath), no trailing slash
  std::string name;       // file name inside it
  std::string full;       // directory + "/" + name
};

// Splits the caller's path (at most `length` bytes, up to the first zero,
// trailing blanks ignored, "\" taken as "/").  Returns 0, 11 for a name that
// cannot be a data file, or `missingStatus` when the directory does not exist.
int16_t ResolveDataPath(const uint8_t* key, uint32_t length, int16_t missingStatus, DataPath& out);

enum class MarkerState : uint8_t { kOk, kMissing, kForeign, kUnreadable };
// `pending`, when given, tells a marker written by a create before its
// catalog entry was committed (see WriteMarker).
MarkerState ReadMarker(const std::string& path, std::string& uuid, bool* pending = nullptr);
// Writes the marker atomically (temporary file, fsync, rename, fsync of the
// directory, unless `sync` is false).  Returns false on failure.  A create
// writes it `pending` before its commit and again without after: a pending
// marker whose id the committed catalog does not know is what a create
// that never committed (a process killed in it) left behind.
bool WriteMarker(const DataPath& path, const std::string& uuid, bool sync, bool pending = false);

}  // namespace recman
