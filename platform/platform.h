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
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <string_view>

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
  std::function<int(const std::string& commandLine)> runCommand;
  std::function<std::string()> computerName;
};
extern PlatformHooks Platform;

LocalTime Now();
int SecondsSinceMidnight();
void PauseMs(int milliseconds);
double RandomUnit();        // uniform in [0, 1)
uint32_t SecureRandom32();  // from the kernel's random source
void Beep();                // the console bell (or the hook)

// ---- Environment, processes, identity --------------------------------------

std::string GetEnv(const std::string& name);     // "" when unset
int RunCommand(const std::string& commandLine);  // waits; returns exit code
std::string ComputerName();                      // host name, at most 15 bytes

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

// Turns a path formed the program's way (code page 850, "\" or "/"
// separators, any letter case) into the host path: "\" becomes "/", and
// each component that already exists on disk is matched without regard to
// letter case; components that do not exist are kept as given.
std::string HostPath(const std::string& programPath);

bool FileExists(const std::string& path);  // regular file
bool DirectoryExists(const std::string& path);
long long FileLength(const std::string& path);  // -1 when missing
bool DeleteFile(const std::string& path);
bool MakeDirectory(const std::string& path);  // one level
bool ReadWholeFile(const std::string& path, std::string& contents);
bool WriteWholeFile(const std::string& path, const std::string& contents);
// Opens, appends and closes; false when the file cannot be written.
bool AppendToFile(const std::string& path, const std::string& text);
bool ChangeDirectory(const std::string& path);
std::string CurrentDirectory();

// A stdio file opened through HostPath; closed when it goes out of scope.
struct FileHandle {
  FILE* f = nullptr;
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
  ExclusiveFile() = default;
  ~ExclusiveFile();
  ExclusiveFile(const ExclusiveFile&) = delete;
  ExclusiveFile& operator=(const ExclusiveFile&) = delete;
  explicit operator bool() const { return fd >= 0; }
  void Close();
};
// Status of an exclusive open attempt.
enum ExclusiveOpenResult { EXCL_OK = 0, EXCL_BUSY = 1, EXCL_NO_DIRECTORY = 2, EXCL_FAILED = 3 };
ExclusiveOpenResult OpenExclusive(const std::string& programPath, ExclusiveFile& file);
// Positioned reads and writes on an exclusive file; they return the bytes
// moved (less than asked at the end of the file or on error).
long ReadAt(ExclusiveFile& file, long long offset, void* buffer, long length);
long WriteAt(ExclusiveFile& file, long long offset, const void* buffer, long length);
long long ExclusiveFileLength(ExclusiveFile& file);
