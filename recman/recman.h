// recman.h - the record manager's one entry point.
//
// The suite's programs keep their data in record files reached through a
// single call, BTRCALL, in the manner of the classic record managers: an
// operation code, a 128-byte position block owned by the caller, a data
// buffer with its length, a key buffer with its length and a key number.
// Every call returns a status; 0 is success.  This header is the whole
// interface of the engine in recman/; nothing else of it is visible.
#pragma once
#include <cstdint>
#include <string>

// Operation codes.
enum RecmanOperation : uint16_t {
  B_OPEN = 0,
  B_CLOSE = 1,
  B_INSERT = 2,
  B_UPDATE = 3,
  B_DELETE = 4,
  B_GET_EQUAL = 5,
  B_GET_NEXT = 6,
  B_GET_PREVIOUS = 7,
  B_GET_GREATER = 8,
  B_GET_GE = 9,
  B_GET_LESS = 10,
  B_GET_LE = 11,
  B_GET_FIRST = 12,
  B_GET_LAST = 13,
  B_CREATE = 14,
  B_STAT = 15,
  B_BEGIN_TRANS = 19,
  B_END_TRANS = 20,
  B_ABORT_TRANS = 21,
  B_GET_POSITION = 22,
  B_GET_DIRECT = 23,
  B_STEP_NEXT = 24,
  B_UNLOCK = 27,
  B_RESET = 28,
  B_SET_OWNER = 29,
  B_CLEAR_OWNER = 30,
  B_STEP_FIRST = 33,
  B_STEP_LAST = 34,
  B_STEP_PREVIOUS = 35,
};

// Biases added to an operation code.
enum RecmanBias : uint16_t {
  B_KEY_ONLY = 50,  // get operations: return the key only
  B_SINGLE_WAIT_LOCK = 100,
  B_SINGLE_NOWAIT_LOCK = 200,
  B_MULTI_WAIT_LOCK = 300,
  B_MULTI_NOWAIT_LOCK = 400,
};

// Statuses.
enum RecmanStatus : int16_t {
  B_OK = 0,
  B_INVALID_OPERATION = 1,
  B_IO_ERROR = 2,
  B_FILE_NOT_OPEN = 3,
  B_KEY_NOT_FOUND = 4,
  B_DUPLICATE_KEY = 5,
  B_INVALID_KEY_NUMBER = 6,
  B_DIFFERENT_KEY_NUMBER = 7,
  B_INVALID_POSITIONING = 8,
  B_END_OF_FILE = 9,
  B_MODIFIABLE_KEY_CHANGED = 10,
  B_INVALID_FILE_NAME = 11,
  B_FILE_NOT_FOUND = 12,
  B_DATA_BUFFER_TOO_SHORT = 22,
  B_CREATE_IO_ERROR = 25,
  B_INVALID_RECORD_ADDRESS = 43,
  B_INVALID_KEY_PATH = 44,
  B_ACCESS_DENIED = 46,
  B_INVALID_OWNER = 51,
  B_FILE_EXISTS = 59,
  B_CONFLICT = 80,
  B_RECORD_LOCKED = 84,
  B_FILE_LOCKED = 85,

  // Further statuses of the engine, with the classic record manager's
  // numbers.
  B_DISK_FULL = 18,
  B_KEY_BUFFER_TOO_SHORT = 21,
  B_PAGE_SIZE_ERROR = 24,
  B_INVALID_KEY_COUNT = 26,
  B_INVALID_KEY_POSITION = 27,
  B_RECORD_LENGTH_ERROR = 28,
  B_KEY_LENGTH_ERROR = 29,
  B_NOT_A_RECORD_FILE = 30,
  B_TRANSACTION_ACTIVE = 37,
  B_NO_TRANSACTION = 39,
  B_OPERATION_NOT_ALLOWED = 41,
  B_INCONSISTENT_KEY_FLAGS = 45,
  B_INVALID_ACS = 48,
  B_KEY_TYPE_ERROR = 49,
  B_OWNER_ALREADY_SET = 50,
  B_HANDLE_TABLE_FULL = 87,
  B_INCOMPATIBLE_LOCK_TYPE = 93,
};

// Open modes (key number of B_OPEN).
enum RecmanOpenMode : int8_t {
  B_MODE_NORMAL = 0,
  B_MODE_READ_ONLY = -2,
  B_MODE_EXCLUSIVE = -4,
};

// Access modes of B_SET_OWNER (its key number).
enum RecmanOwnerMode : int8_t {
  B_OWNER_ALL_ACCESS = 0,  // the owner name is needed to open the file
  B_OWNER_READ_ONLY = 1,   // without the name the file opens read-only
};

// Unlock (B_UNLOCK) key numbers: >= 0 the single record lock; these two for
// multiple record locks.
constexpr int8_t kUnlockOneMultiple = -1;  // the record whose position is in the data buffer
constexpr int8_t kUnlockAllMultiple = -2;

// Create (B_CREATE) key number that refuses to replace an existing file.
constexpr int8_t kCreateNoReplace = -1;

// File flag of the file specification: records longer than the record length
// (the fixed part) are accepted.
constexpr uint16_t kFileVariableLength = 0x0001;

// Key flags in the file and key specifications of B_CREATE and B_STAT.
enum RecmanKeyFlag : uint16_t {
  KF_DUPLICATES = 0x0001,
  KF_MODIFIABLE = 0x0002,
  KF_BINARY = 0x0004,
  KF_NULL = 0x0008,
  KF_SEGMENTED = 0x0010,
  KF_ALT_COLLATING = 0x0020,
  KF_DESCENDING = 0x0040,
  KF_SUPPLEMENTAL = 0x0080,
  KF_EXTENDED_TYPE = 0x0100,
  KF_MANUAL = 0x0200,   // null key when ANY segment holds the null value
  KF_NO_CASE = 0x0400,  // string segment compared without letter case
};

// Extended key types (byte 10 of a key specification when KF_EXTENDED_TYPE).
enum RecmanKeyType : uint8_t {
  KT_STRING = 0,
  KT_INTEGER = 1,    // signed little-endian, 1 to 8 bytes
  KT_ZSTRING = 11,   // zero-terminated string
  KT_UNSIGNED = 14,  // unsigned little-endian, 1 to 8 bytes
};

constexpr int kPositionBlockSize = 128;
constexpr int kCreateSpecSize = 16;  // file specification and each key spec
constexpr int kAcsSize = 265;        // 0xAC, 8 name bytes, 256-byte table
constexpr uint8_t kAcsSignature = 0xAC;
constexpr int kMaxKeyLength = 255;

// The entry point.  dataLength is in/out; keyBuffer must hold 255 bytes for
// operations that return a key.
int16_t BTRCALL(uint16_t operation, void* positionBlock, void* dataBuffer, uint32_t* dataLength,
                void* keyBuffer, uint8_t keyLength, int8_t keyNumber);

// ---- Diagnostics ------------------------------------------------------------
// What lies behind a status that a call answered because of the operating
// system or the storage (a damaged or replaced database, a full disk, a
// lock held too long...).

struct RecmanDiagnostic {
  int16_t status = 0;     // the status the call answered
  std::string storage;    // "SQLite" when the storage failed, empty for the engine's own checks
  int code = 0;           // the storage's extended error code, 0 when none
  int osError = 0;        // errno behind the failure, 0 when none
  std::string message;    // the storage's message, or the engine's own
  std::string folder;     // the data folder concerned
  std::string operation;  // what was being done: "open", "update", "check" ...
  std::string path;       // the file concerned (the database, the lock file, a marker), when known
};

// The diagnostic of this process's last call, when that call failed for
// such a reason; false after a call that succeeded or failed otherwise.
bool RecmanLastDiagnostic(RecmanDiagnostic& out);
// One line for people: the operation, the file and the reason, as
// "update /srv/kal/DADES/recman.db: database disk image is malformed (SQLite 11)"
// or "open /srv/kal/DADES/recman.lck: Permission denied (errno 13)"; the
// folder when no file is known.
std::string RecmanDiagnosticText(const RecmanDiagnostic& d);
