// data.h - the data layer: the table of open record files and the record
// operations over the record manager (recman/recman.h).
//
// Callers name a file by their own file number (504, 511..515) and hand
// over, once at open, the address of the record variable that reads fill
// and updates write from.  Every operation answers a 16-bit status: 0 for
// success, otherwise the record manager's status or one of the data
// layer's own below.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "recman/recman.h"

// The data layer's own statuses.
constexpr int16_t kStatusAlreadyOpen = 1002;  // file number already in the table
constexpr int16_t kStatusTableFull = 1003;    // all 40 slots taken
constexpr int16_t kStatusNoSuchKey = 1004;    // keyed read on a key the file lacks

// ---- The file table -----------------------------------------------------------
// Slot 0 never holds a file: its position block serves the calls that name
// no file (create, reset, transactions).  Slots 1..40 hold open files and
// fill from 40 downwards.
constexpr int kDataSlots = 41;         // slot 0 and the 40 file slots
constexpr int kDataBufferSize = 1536;  // records are at most this long
constexpr int kKeyBufferSize = 256;    // key values and paths at most 255 bytes

// One open file: its engine position block, the caller's record variable
// and the key of the last keyed read, which every later call sends again.
struct DataFileSlot {
  int16_t fileNumber = 0;  // 0 = free
  unsigned char positionBlock[128] = {};
  void* record = nullptr;    // the caller's record variable
  int32_t recordLength = 0;  // the file's record length, from its statistics
  // How many bytes of the record variable may be written: the record length
  // cut to the variable's size when the caller told it (see OpenDataFile).
  int32_t recordCapacity = -1;
  int16_t keyNumber = 0;  // key of the last keyed read
  std::string keyValue;   // key value as last sent to or returned by the engine
  int16_t lockMode = 0;   // 0 "D" none, 1 "A" lock and wait, 2 "B" lock, no wait
};

// The file table, the saved lock modes and what the last failure left.
struct DataFileTable {
  DataFileSlot slots[kDataSlots];
  // Saved lock modes: pairs of bytes (slot number, mode), newest last.
  std::string lockModeStack;
  uint64_t engineCalls = 0;    // calls made to the record manager so far
  bool inTransaction = false;  // begun and neither ended nor aborted
  // The message of a failed "db.log" line, waiting for the transaction's
  // end; and whether this run has already told of one.
  std::string heldNotice;
  bool updateLogFailureTold = false;
  // "db.log", kept open for appending while the run lasts; and whether the
  // transaction under way has already checked that the name leads to it.
  AppendLog updateLog;
  bool updateLogCheckedInTransaction = false;
  // What the record manager told of the last call that failed on the
  // operating system or its storage (a damaged or replaced database...):
  // the status, the storage's code and message, errno and the folder.
  bool failureKnown = false;
  RecmanDiagnostic failure;
  // The record manager's open mode of OpenDataFile: B_MODE_READ_ONLY for the
  // tools that only read, which then write nothing in the data folder (a
  // user who may only read it reads it) and create no missing file.
  int8_t openMode = B_MODE_NORMAL;
  // Where each file number was last found, by the number modulo kSlotHints:
  // tried first, and trusted only when that slot still holds the file.
  static constexpr int kSlotHints = 256;
  uint8_t slotHint[kSlotHints] = {};
  // When set, told of every call of the record manager once it returned:
  // the key as it was sent, the buffers as they came back and the status
  // (the benchmarks trace a pass with it).  Unset in the program.
  void (*engineObserver)(uint16_t operation, void* positionBlock, const void* dataBuffer, uint32_t dataLength,
                         const std::string& keySent, int8_t keyNumber, int16_t status) = nullptr;
};
extern DataFileTable DataFiles;

// ---- Open and close ---------------------------------------------------------
// Opens the data file `name` (directory, base name, extension ".dat" when it
// has none; see SplitDataFileName) as `file_number`, with reads filling and
// updates writing `record_address`.  A file another station holds is tried
// again every 3 seconds; a missing one is created from its dictionary
// (CreateFromDictionary).  Status 0, kStatusAlreadyOpen or kStatusTableFull;
// a file that cannot be opened ends the program (EndOnDataError).
// `record_capacity` is the size of the record variable when known (< 0:
// trusted to hold the file's record length); the array overload below passes
// it, so a file whose records are longer than the variable never writes past
// its end.
void OpenDataFile(int16_t& status, void* record_address, const std::string& name, int16_t file_number,
                  int32_t record_capacity = -1);
// OpenDataFile with the size of the record array as its capacity.
template <std::size_t N>
void OpenDataFile(int16_t& status, unsigned char (&record)[N], const std::string& name, int16_t file_number) {
  OpenDataFile(status, static_cast<void*>(record), name, file_number, static_cast<int32_t>(N));
}
// Closes every file at once (the engine's reset, which also aborts an open
// transaction) and empties the table; the engine's status, the table left
// as it was when the reset fails.
void ResetDataFiles(int16_t& status);
// The slot (1..40) holding `file_number`; otherwise minus the highest free
// slot, or 0 when the table is full.  File number 0 finds a free slot.
int FindSlot(int16_t file_number);
// The record length of the open file `file_number` and the length of its
// key `key_number` (the sum of its segments, at most 255; 0 when the file
// lacks the key, not asked for with a negative key number); both 0 when the
// file is not open or its statistics cannot be read.
void FileStats(int16_t& record_length, int16_t& key_length, int16_t key_number, int16_t file_number);

// Splits a data file name the way OpenDataFile does: directory (up to and
// including the last ":", "\" or "/"), base name, and extension (from the
// first dot after the directory; ".dat" when there is none).
struct DataFileName {
  std::string directory, base, extension;
};
DataFileName SplitDataFileName(const std::string& name);

// ---- Record operations ------------------------------------------------------
// Each of them answers B_FILE_NOT_OPEN for a file number not in the table.
//
// Reads the record of key `key_number` equal to (`direction` 0), greater or
// equal to (> 0) or less or equal to (< 0) `key_value` (cut or padded with
// zero bytes to the key's length) into the record variable; that key becomes
// the file's current key.  kStatusNoSuchKey when the file lacks the key.
void FindRecord(int16_t& status, int16_t direction, std::string key_value, int16_t key_number,
                int16_t file_number);
// Moves `count` records on (> 0) or back (< 0) in the order of the current
// key and reads the last one into the record variable; the steps before it
// leave the variable and the locks alone.  Status of the first step that
// failed (B_END_OF_FILE at either end).
void SkipRecords(int16_t& status, int32_t count, int16_t file_number);
// Writes the record variable over the current record, appends the call's
// line to "db.log" (UpdateLogLine; a line that cannot be added is told
// once, NoteUpdateLogFailure) and reads the record back as stored.  On a
// failure the current key value is cleared to zero bytes.
void UpdateRecord(int16_t& status, int16_t file_number);
// Deletes the current record; on a failure the current key value is cleared
// to zero bytes.
void DeleteRecord(int16_t& status, int16_t file_number);
// Inserts the record variable as a new record (it becomes the current
// record); status as the record manager answers (5: the key is taken).
// The suite's six files never get records from the program; the
// settlement journal and its undo do.
void InsertRecord(int16_t& status, int16_t file_number);
// With `position` 0: the position of the current record (0 when there is
// none or the file is not open).  Otherwise reads the record at `position`
// into the record variable and gives the engine's status.
int32_t RecordPosition(int32_t position, int16_t file_number);
// The current key value as the engine compares it: binary segments byte
// reversed (high byte first), alternate-collating ones through the file's
// table; "" when the file is not open.
std::string CurrentKeyImage(int16_t file_number);
// Applies the letters of `modes` (any case) in order to the file's record
// locks: "d" none, "a" lock and wait (retried with pauses of up to 10
// seconds, the lock-wait message on row 24 from the second try), "b" lock
// without waiting (B_RECORD_LOCKED comes back); "+" saves the file's mode,
// "-" takes back the last mode saved for the file (nothing when none is
// saved).  Other letters count for nothing; status changes only for a file
// that is not open.
void SetLockMode(int16_t& status, const std::string& modes, int16_t file_number);
// The common call of every record operation on table slot `slot`: the
// record variable and the current key go in and come back, the lock bias is
// added to reads when the file's lock mode asks for it, and a record or file
// locked elsewhere is waited for in lock mode "a".  B_FILE_NOT_OPEN for an
// empty or impossible slot.
void CallRecordManager(int slot, uint16_t operation, int16_t& status);

// The line UpdateRecord appends to "db.log" for one call (CR LF included).
std::string UpdateLogLine(int16_t file_number, int16_t operation, int16_t status);

// ---- Transactions -----------------------------------------------------------
// All files of one directory change together or not at all between a begin
// and an end; an abort (or a crash) leaves them as they were.
// Each gives the engine's status: B_TRANSACTION_ACTIVE for a begin inside a
// transaction, B_NO_TRANSACTION for an end or abort outside one.
int16_t BeginTransaction();  // starts a transaction
// End and abort then show a notice held back while the transaction was
// open (ShowHeldDataNotice).
int16_t EndTransaction();    // keeps what it changed
int16_t AbortTransaction();  // undoes what it changed

// ---- Messages of the data layer ---------------------------------------------
// Each carries its four language texts (code page 850) and is chosen by the
// session's language code.
std::string OpenFailureText();    // "NO ES POT ACCEDIR AL FITXER " ...
std::string LockWaitText();       // "FITXER BLOQUEJAT. ESPEREU UN MOMENT." ...
std::string FolderFailureText();  // "NO ES POT ACCEDIR A LA CARPETA " ...
// A file (or with `folder`, a folder) the program cannot open or write:
// OpenFailureText() (FolderFailureText()), its path on this system and the
// reason (SystemReasonText) or, for a symbolic link (ELOOP: never followed
// where the program writes), "ÉS UN ENLLAÇ SIMBÒLIC" ...
std::string FileProblemText(const std::string& path, int error, bool folder = false);
// The record manager's status as words ("ACCÉS DENEGAT", "FITXER MALMÈS" ...).
std::string StatusReasonText(int16_t status);
// An errno value as words for the common causes ("NO EXISTEIX", "ÉS UN
// FITXER, NO UNA CARPETA", "ACCÉS DENEGAT" ...), with the system's own text
// after them; the system's text alone for the others.
std::string SystemReasonText(int error);
// The fatal message of a data file that cannot be opened (or created): the
// file as the system spells it, the status as words and its number, what to
// do where there is something to do ("EXECUTEU recutil check FOLDER"), and
// the record manager's account on a line of its own.  A folder of the file
// that is missing, or a file in its place, is named as the folder; a
// dictionary that is missing or unusable as the dictionary.
std::string OpenFailureMessage(const std::string& hostPath, int16_t status,
                               const std::string& dictionaryProblem = std::string());
// "LA CARPETA DE DADES ... ESTÀ MALMESA O HA ESTAT CANVIADA. EXECUTEU
// recutil check ..." ...: the data folder of the last failure, damaged or
// replaced, and what to run on it.  What was written and what was not is
// the caller's to say.
std::string DamagedFolderText(const std::string& folder);
// The record manager's account of the last failure (DataFiles.failure), as
// one line of code page 850 text; empty when none is known.
std::string FailureDetail();
// `message` with FailureDetail() on a line of its own below it, when there
// is one (the message's lines padded to the message window's width).
std::string WithFailureDetail(const std::string& message);
// A message as lines for the error output: the blanks that pad a line of
// the message window end that line.
std::string AsOutputLines(const std::string& message);

// Shows `message` at screen row 12, beeps, waits for a key, closes every data
// file and ends the program with exit code 1.  The data layer's answer to a
// failure it cannot recover from (a data file that cannot be opened, a lock
// folder that cannot be reached).  The message also goes to the error
// output, once the terminal is given back, so that it stays readable after
// the screen is cleared.
[[noreturn]] void EndOnDataError(const std::string& message);

// The data layer's part of every end of the program: an open transaction
// rolled back, the station's lock records freed (EndStationRun), every data
// file closed.  Registered with AtOrderlyEnd, so that it also runs when the
// program is asked to end by a signal (its terminal closed).
void EndDataInOrder();
// Registers EndDataInOrder with the platform's orderly end (once).
void RegisterDataEnd();

// A line that could not be added to "db.log": the update itself stands,
// and the operator is told once per run (row 24, a key), as soon as no
// transaction is open, so that no other station waits on this one meanwhile.
void NoteUpdateLogFailure(const std::string& path, int error);
// Shows what NoteUpdateLogFailure held back, once no transaction is open.
void ShowHeldDataNotice();

// The data layer draws nothing itself: its messages (the lock wait on row 24,
// the fatal error on row 12) go through these, which the screen layer above
// installs at start-up (InstallScreenHooks: ShowMessage and CloseWindow).
// Without them a wait shows nothing.
struct DataMessageHooks {
  // Opens a message window centred on `row`; true when a window opened.
  bool (*show)(int row, const std::string& text) = nullptr;
  // Closes the window the last successful `show` opened.
  void (*close)() = nullptr;
};
extern DataMessageHooks DataMessages;
// Through the hooks: true when a window opened, which CloseDataMessage then
// closes.
bool ShowDataMessage(int row, const std::string& text);
// Closes the window ShowDataMessage opened (nothing without the hooks).
void CloseDataMessage();

// ---- Inside the data layer -------------------------------------------------------
// BTRCALL, counted in DataFiles.engineCalls.
int16_t CallEngine(uint16_t operation, void* positionBlock, void* dataBuffer, uint32_t* dataLength,
                   void* keyBuffer, uint8_t keyLength, int8_t keyNumber);
// Creates the data file `hostPath` from the dictionary of its base name,
// KALROOT + "ddf\" + base + ".xdf" (never replacing an existing file); the
// engine's status.  A dictionary that is missing or cannot be used is said
// in `dictionaryProblem`, when given (its path and what is wrong).
int16_t CreateFromDictionary(const std::string& base, const std::string& hostPath,
                             std::string* dictionaryProblem = nullptr);
// The station's identity file "LOCKS.TMP" at `hostPath` holds a name that
// is not text: what it is and what to do.
std::string StationIdentityProblemText(const std::string& hostPath);
// "EL DICCIONARI path NO EXISTEIX" (`missing`) or "... ÉS INCORRECTE".
std::string DictionaryProblemText(const std::string& hostPath, bool missing);
// The engine's statistics of the file in `slot` (Stat, operation 15): the
// returned buffer, cut to the length the engine reported.  Status as returned.
int16_t ReadFileStatistics(int slot, std::string& statistics);
// One segment of a key specification in a statistics buffer.
struct KeySegmentSpec {
  int length = 0;      // bytes of the key value
  uint16_t flags = 0;  // KF_* flags: segmented, binary, alternate collating...
};
// The segments of key `key_number` (empty when the file has no such key);
// `segments_of_all_keys`, when given, receives the number of specifications
// of every key, after which the alternate collating sequence follows.
std::vector<KeySegmentSpec> KeySegmentsOf(const std::string& statistics, int key_number,
                                          int* segments_of_all_keys = nullptr);
