// platform.h - everything the program asks of the operating system.
//
// The program was written for a Windows console over a case-insensitive file
// system; here it runs on Linux.  Every other folder reaches files, the
// environment, the clock, pauses, random numbers, processes and the
// computer's name through these functions only, so that tests can replace
// the clock, the environment, the pauses and the random source (see
// `Platform` below) and so that paths formed the program's way
// ("DADES\PropietH", "AJUDA\X.HLP") are resolved in one place.
//
// Texts crossing this interface are code page 850 bytes, as the program
// keeps them; conversion to and from the host's UTF-8 (file names,
// environment values) happens here and in the console, nowhere else.
#pragma once
#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

// ---- Local date and time ------------------------------------------------

struct LocalTime {
  int year = 1970, month = 1, day = 1;
  int hour = 0, minute = 0, second = 0;
  int hundredths = 0;
};

// ---- Replaceable services ------------------------------------------------

// Hooks a test sets to take the place of the real services; an empty hook
// means the real one.
struct PlatformHooks {
  std::function<LocalTime()> clock;
  std::function<void(int milliseconds)> pause;
  std::function<double()> random;  // uniform in [0, 1)
  // When set, environment variables are looked up here instead of the
  // process environment (values in code page 850).
  std::map<std::string, std::string>* environment = nullptr;
  std::function<void()> beep;  // when empty the console rings the bell
  // Takes the place of RunProgram: the argument vector it would start.
  std::function<int(const std::vector<std::string>& arguments)> runProgram;
  std::function<std::string()> computerName;
  // Milliseconds of a steady clock (see SteadyMs).
  std::function<int64_t()> steady;
};
extern PlatformHooks Platform;

LocalTime Now();
int SecondsSinceMidnight();
void PauseMs(int milliseconds);
// Milliseconds from an arbitrary start, never going back (for intervals
// such as how often a progress line is redrawn; not a time of day).
int64_t SteadyMs();
double RandomUnit();        // uniform in [0, 1)
uint32_t SecureRandom32();  // from the kernel's random source
void Beep();                // the console bell (or the hook)

// ---- Environment, processes, identity --------------------------------------

std::string GetEnv(const std::string& name);  // "" when unset
// Starts the program arguments[0] (looked up in PATH when it has no "/")
// with exactly these arguments, no shell in between, its input and output
// on /dev/null so that nothing it says reaches the screen, and waits for
// it; its exit code, or 127 when it could not be started.
int RunProgram(const std::vector<std::string>& arguments);
std::string ComputerName();  // host name, at most 15 bytes
// The system's reason for an errno value, as code page 850 text.
std::string SystemErrorText(int error);

// ---- Ending in order on a signal ----------------------------------------------
// Once InstallEndSignals has run, the signals that ask the program to end
// (SIGHUP when its terminal is closed, SIGINT, SIGTERM) no longer kill it
// where it stands: the first one is noted and wakes every wait, and the
// program ends at its next safe point (a pause, a wait for keys, a call of
// the record manager, see EndIfRequested): the steps registered with
// AtOrderlyEnd run, newest first (the data layer rolls back the open
// transaction and frees its lock records), the console is stopped and the
// signal then ends the process.  A second such signal ends it at once,
// the terminal restored.  SIGXFSZ is ignored from then on, so that a write
// beyond a file-size limit fails with a status instead of killing the
// program with its terminal raw.  A signal ignored when the program
// started (nohup) stays ignored.
void InstallEndSignals();
void AtOrderlyEnd(void (*step)());
// The signal of a pending request to end, 0 when there is none.
int EndRequested();
// At a safe point: when an end was requested, ends the program as above
// (it does not return); otherwise nothing.  Does nothing while the steps
// themselves run.
void EndIfRequested();
// The descriptor that becomes readable when an end is requested (for the
// waits that poll); -1 before InstallEndSignals.
int EndRequestFd();

// ---- Code page 850 <-> UTF-8 --------------------------------------------

std::string Cp850ToUtf8(const std::string& text);
std::string Utf8ToCp850(const std::string& text);  // unmappable or malformed -> '?'
// The UTF-8 character at the front of `bytes`.  kOk: its code point and
// its length in bytes.  kIncomplete: the bytes end inside it (or are empty).
// kInvalid: the first byte starts no character, or the form is malformed,
// overlong ("\xC0\xAF" is no "/"), a surrogate or beyond U+10FFFF; skip
// one byte.  Strict, as RFC 3629 has it.
enum class Utf8Status { kOk, kIncomplete, kInvalid };
Utf8Status DecodeUtf8(std::string_view bytes, char32_t& codePoint, size_t& length);
// The Unicode code point of a code page 850 byte, and back (0 when the code
// point has no code page 850 byte).
char32_t Cp850ToUnicode(unsigned char byte);
unsigned char UnicodeToCp850(char32_t codePoint);

// ---- Paths and files -------------------------------------------------------
// Every file the program opens for writing (lock files, the update log, the
// station's scratch files) is opened without following a symbolic link at
// its last component: a link where such a file belongs is refused (errno
// ELOOP) instead of having its target written with the rights of whoever
// runs the program.  New files get mode 0666 less the umask, new folders
// 0777 less the umask, so that a suite root set up for a group of users
// (a setgid folder and umask 002, see the README) stays writable for all.

// Turns a path formed the program's way (code page 850, "\" or "/"
// separators, any letter case) into the host path: "\" becomes "/", and
// each component that already exists on disk is matched without regard to
// letter case; components that do not exist are kept as given.  An
// absolute path whose components were all found is kept for the run and
// served again while the resolved path still exists.
std::string HostPath(const std::string& programPath);

bool FileExists(const std::string& path);  // regular file
bool DirectoryExists(const std::string& path);
long long FileLength(const std::string& path);  // -1 when missing
bool DeleteFile(const std::string& path);
bool MakeDirectory(const std::string& path);  // one level
bool ReadWholeFile(const std::string& path, std::string& contents);
bool WriteWholeFile(const std::string& path, const std::string& contents);
// Opens, appends with one write(2) and closes; false when the file cannot
// be written, with the reason in *error when given.
bool AppendToFile(const std::string& path, const std::string& text, int* error = nullptr);
// A file kept open for appending lines for as long as the run needs it (the
// update log): each line is one write(2) with O_APPEND, so several stations
// may append to the same file.  Before a line one lstat checks that the
// name still leads to the file open, as it was opened; a file removed,
// renamed, replaced or given other rights is opened again by its name
// (as AppendToFile would open it).  A caller that has just checked (the
// lines of one transaction after its first) may leave the check out.
struct AppendLog {
  // What tells the file open from another one under its name.
  struct Identity {
    dev_t device = 0;
    ino_t inode = 0;
    mode_t mode = 0;
    uid_t owner = 0;
    gid_t group = 0;
    bool operator==(const Identity&) const = default;
  };
  int fd = -1;
  std::string path;  // as the program named it
  std::string host;  // resolved
  Identity opened;   // of the file open, as it was opened
  AppendLog() = default;
  ~AppendLog();
  AppendLog(const AppendLog&) = delete;
  AppendLog& operator=(const AppendLog&) = delete;
  AppendLog(AppendLog&& other) noexcept;
  AppendLog& operator=(AppendLog&& other) noexcept;
  void Close();
};
// Appends `text` to the file `path` through `log`; false when it cannot be
// written, with the reason in *error when given.  With `checkName` false
// the file open serves without asking whether the name still leads to it.
bool AppendLine(AppendLog& log, const std::string& path, const std::string& text, int* error = nullptr,
                bool checkName = true);
bool ChangeDirectory(const std::string& path);
std::string CurrentDirectory();
// The names in a folder ("." and ".." left out); empty when it cannot be read.
std::vector<std::string> DirectoryEntries(const std::string& path);
// Whether the folder exists and this process may create files in it; the
// reason in `error` when not.
bool DirectoryUsable(const std::string& path, int& error);

// A stdio file opened through HostPath; closed when it goes out of scope.
// A mode that writes ("w", "a" or "+") never follows a symbolic link at the
// last component (see above).
struct FileHandle {
  FILE* f = nullptr;
  int error = 0;  // errno of an open that failed
  FileHandle() = default;
  FileHandle(const std::string& programPath, const char* mode);
  ~FileHandle();
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  FileHandle(FileHandle&& other) noexcept;
  FileHandle& operator=(FileHandle&& other) noexcept;
  explicit operator bool() const { return f != nullptr; }
  void Close();
};

// A file opened for reading and writing without sharing: no other holder
// (process or open description) can hold it at the same time.  Created when
// missing.  Used for the lock files shared between workstations.
struct ExclusiveFile {
  int fd = -1;
  int error = 0;  // errno of an open that failed
  ExclusiveFile() = default;
  ~ExclusiveFile();
  ExclusiveFile(const ExclusiveFile&) = delete;
  ExclusiveFile& operator=(const ExclusiveFile&) = delete;
  ExclusiveFile(ExclusiveFile&& other) noexcept;
  ExclusiveFile& operator=(ExclusiveFile&& other) noexcept;
  explicit operator bool() const { return fd >= 0; }
  void Close();
};
// Status of an exclusive open attempt.  EXCL_FAILED: any other reason, in
// file.error (ELOOP for a symbolic link, which is never followed).
enum ExclusiveOpenResult { EXCL_OK = 0, EXCL_BUSY = 1, EXCL_NO_DIRECTORY = 2, EXCL_FAILED = 3 };
ExclusiveOpenResult OpenExclusive(const std::string& programPath, ExclusiveFile& file);
// Whether an open description holds a file the way OpenExclusive does,
// looked at without creating the file or taking it.  The operating system
// drops the hold when its holder ends, however it ends.
enum ExclusiveHolder {
  HOLDER_NO_FILE = 0,  // there is no such file
  HOLDER_PRESENT = 1,  // someone holds it now
  HOLDER_NONE = 2,     // the file is there and nobody holds it
  HOLDER_UNKNOWN = 3   // it could not be looked at (rights, a link...)
};
ExclusiveHolder ProbeExclusive(const std::string& programPath);
// Whether the file held is still the one at `programPath` (not removed or
// replaced since it was opened).
bool ExclusiveFileIsAt(ExclusiveFile& file, const std::string& programPath);
// Positioned reads and writes on an exclusive file; they return the bytes
// moved (less than asked at the end of the file or on error).
long ReadAt(ExclusiveFile& file, long long offset, void* buffer, long length);
long WriteAt(ExclusiveFile& file, long long offset, const void* buffer, long length);
long long ExclusiveFileLength(ExclusiveFile& file);
