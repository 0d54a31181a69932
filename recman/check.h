// check.h - consistency check of a data file, for the recutil tool and tests.
//
// Not part of BTRCALL: it reads the store directly, in one read transaction,
// and compares every index with the entries its records call for.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Returns 0 when the file is sound; otherwise a status (12, 30, 51, ...) or
// B_IO_ERROR with one line per fault found appended to `report`.
int16_t RecmanCheckFile(const std::string& path, const std::string& owner, std::string& report);

// Writes again the marker of a file whose catalog entry stands in the
// directory's database without one (or with a marker that names no file of
// it).  0 when the marker was made, 59 when it is there and sound, 12 when
// the database holds no file of that name; `report` says what was done.
int16_t RecmanRepairMarker(const std::string& path, std::string& report);

// Copies the database of the data folder `folder`, as one consistent
// state, into `destination` (an existing folder without a database of its
// own), with a marker for every file: `destination` is then a data folder
// holding the records as they stood, whatever the stations did meanwhile.
// Stations go on reading and writing during the copy.  0, or a status with
// `report` saying why.
int16_t RecmanBackupFolder(const std::string& folder, const std::string& destination, std::string& report);

// Copies every file of the data folder `from` (catalog entries with their
// identities and owner names, records with their positions, versions and
// checksums, index entries) into the data folder `to`, whichever store
// each of them uses (SQLite, or a server when the folder's "recman.server"
// names one): all of it in one write transaction of `to`, from one
// consistent read of `from`, then the markers of `to`.  `to` must hold no
// data file yet.  0, or a status with `report` saying why; nothing is
// copied then.
int16_t RecmanCopyFolder(const std::string& from, const std::string& to, std::string& report);

// The data files of the folder `folder`, for a check of all of them: the
// names of its catalog entries and of the markers that stand in it (a
// marker may name no entry, an entry may have lost its marker), sorted,
// each once.  0, or a status with `report` saying why (a folder without a
// database gives its markers alone and the status 12).
int16_t RecmanFolderFiles(const std::string& folder, std::vector<std::string>& names, std::string& report);

// What a technician asks of a file beside its statistics: whether an owner
// name guards it (and whether without the name it opens read-only), and
// where it is kept: its marker and what holds its records.
struct RecmanFileFacts {
  bool ownerSet = false;
  bool ownerReadOnly = false;
  std::string marker;   // the marker's path
  std::string storage;  // "SQLite" ...
  std::string where;    // what holds the records ("/srv/kal/DADES/recman.db")
};
int16_t RecmanDescribeFile(const std::string& path, RecmanFileFacts& facts, std::string& report);
