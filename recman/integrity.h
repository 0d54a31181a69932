// integrity.h - what the engine checks of what its storage hands back, and
// what it keeps of a failure.
//
// Independent of the storage behind store.h: every record carries a
// checksum of its bytes computed here when it is written and verified here
// whenever it is read, and every failure of the storage or the operating
// system leaves a diagnostic (status, the storage's code and message, errno,
// the folder) for the caller to show.
#pragma once
#include <cstdint>
#include <string>

#include "recman/engine.h"

namespace recman {

// CRC-32 (the polynomial of zip and PNG) over the record's position (4
// bytes, little-endian), version (8 bytes, little-endian), data length (4
// bytes, little-endian), data and insertion numbers.
uint32_t RecordChecksum(uint32_t pos, int64_t version, const std::string& data, const std::string& sequences);

// Checks a record read from the store: its checksum when it has one, its
// length, and with `key` >= 0 that the index entry it was found by is the
// one its bytes call for.  0, or 2 with the diagnostic noted.
int16_t VerifyRow(OpenFile& file, const Row& row, int key = -1);

// Notes the diagnostic of a failure (status 2, 18, 25, 85 ...): the
// directory concerned (null when none), the message, errno (0 when none),
// for a failure of the storage its name ("SQLite") and error code, and the
// file concerned (for the storage's failures the folder's database unless
// given).  The operation is the call's (gRecman.operation).  Only the first
// failure of a call is kept.  Returns `status`.
int16_t NoteFailure(int16_t status, const Directory* dir, const std::string& message, int osError = 0,
                    const char* storage = nullptr, int code = 0, const std::string& path = std::string());
// A system call on `path` that failed with `osError`: the system's reason
// is the message.
int16_t NoteSystemFailure(int16_t status, const Directory* dir, const std::string& path, int osError);
// Keeps a line of the storage's own error log (the system call, the file
// and errno behind an I/O failure) for the diagnostic of the current call.
void NoteStorageLog(int code, const char* line);
// Forgets the diagnostic: every call starts without one.
void ClearDiagnostic();

}  // namespace recman
