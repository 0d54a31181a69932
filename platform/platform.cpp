// platform.cpp - clock, pauses, random numbers, environment, processes,
// computer name, paths and files on Linux.
#include "platform/platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <random>
#include <unordered_map>
#include <vector>

#include "platform/console.h"

PlatformHooks Platform;

// ---- Clock, pauses, random -----------------------------------------------------

LocalTime Now() {
  if (Platform.clock) return Platform.clock();
  auto now = std::chrono::system_clock::now();
  std::time_t t = std::chrono::system_clock::to_time_t(now);
  std::tm tm{};
  localtime_r(&t, &tm);
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  LocalTime lt;
  lt.year = tm.tm_year + 1900;
  lt.month = tm.tm_mon + 1;
  lt.day = tm.tm_mday;
  lt.hour = tm.tm_hour;
  lt.minute = tm.tm_min;
  lt.second = tm.tm_sec;
  lt.hundredths = static_cast<int>(ms / 10);
  return lt;
}

int SecondsSinceMidnight() {
  LocalTime t = Now();
  return t.hour * 3600 + t.minute * 60 + t.second;
}

int64_t SteadyMs() {
  if (Platform.steady) return Platform.steady();
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void PauseMs(int milliseconds) {
  // Every wait on another station is made of pauses: a request to end is
  // acted on before and after each, and wakes the pause itself.
  EndIfRequested();
  if (Platform.pause) {
    Platform.pause(milliseconds);
    EndIfRequested();
    return;
  }
  // Whatever the program drew before waiting (a lock message) must be on
  // the screen while it waits.
  ConsoleFlush();
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(milliseconds, 0));
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd wake{EndRequestFd(), POLLIN, 0};
    int ready = poll(&wake, wake.fd >= 0 ? 1 : 0, static_cast<int>(left.count()));
    if (ready > 0) break;  // an end was requested
  }
  EndIfRequested();
}

double RandomUnit() {
  if (Platform.random) return Platform.random();
  static std::mt19937_64 generator(SecureRandom32() ^ (static_cast<uint64_t>(getpid()) << 32));
  return std::generate_canonical<double, 53>(generator) * (1.0 - 1e-16);
}

uint32_t SecureRandom32() {
  uint32_t value = 0;
  if (getrandom(&value, sizeof value, 0) == static_cast<ssize_t>(sizeof value)) return value;
  // The kernel source is always there on Linux; this is only a fallback.
  std::random_device device;
  return device();
}

void Beep() {
  if (Platform.beep) {
    Platform.beep();
    return;
  }
  ConsoleBell();
}

// ---- Environment, processes, identity -------------------------------------------

std::string GetEnv(const std::string& name) {
  if (Platform.environment) {
    auto it = Platform.environment->find(name);
    return it == Platform.environment->end() ? std::string() : it->second;
  }
  const char* value = std::getenv(name.c_str());
  return value ? Utf8ToCp850(value) : std::string();
}

int RunProgram(const std::vector<std::string>& arguments) {
  if (Platform.runProgram) return Platform.runProgram(arguments);
  if (arguments.empty() || arguments[0].empty()) return 127;
  std::vector<std::string> utf8;
  for (const std::string& a : arguments) utf8.push_back(Cp850ToUtf8(a));
  std::vector<char*> argv;
  for (std::string& a : utf8) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  for (int fd = 0; fd <= 2; ++fd)
    posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
  pid_t pid = -1;
  int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return 127;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) return 127;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

std::string SystemErrorText(int error) { return Utf8ToCp850(std::strerror(error)); }

std::string ComputerName() {
  if (Platform.computerName) return Platform.computerName();
  char buffer[256] = {};
  if (gethostname(buffer, sizeof buffer - 1) != 0) return std::string();
  std::string name = Utf8ToCp850(buffer);
  size_t dot = name.find('.');
  if (dot != std::string::npos) name.resize(dot);
  if (name.size() > 15) name.resize(15);
  return name;
}

// ---- Paths -----------------------------------------------------------------

namespace {

// Folds a UTF-8 name to upper case for comparison: ASCII and the Latin-1
// letters (all the accented letters of code page 850 that have a case).
std::string FoldName(const std::string& utf8Name) {
  std::string cp = Utf8ToCp850(utf8Name);
  std::string folded;
  for (unsigned char c : cp) {
    char32_t u = Cp850ToUnicode(c);
    if (c < 128) u = c;
    if (u >= 'a' && u <= 'z') u -= 32;
    else if (u >= 0xE0 && u <= 0xFE && u != 0xF7) u -= 32;
    unsigned char back = u < 128 ? static_cast<unsigned char>(u) : UnicodeToCp850(u);
    folded += static_cast<char>(back ? back : c);
  }
  return folded;
}

bool SameIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() == b.size() && strcasecmp(a.c_str(), b.c_str()) == 0) return true;
  return FoldName(a) == FoldName(b);
}

bool Exists(const std::string& hostPath) {
  struct stat st;
  return ::stat(hostPath.c_str(), &st) == 0;
}

}  // namespace

namespace {

// Absolute paths resolved before, whose every component was found: kept
// while the run lasts, and trusted while the resolved path is still there
// (one stat instead of one a component).  Forgotten when full.
struct ResolvedPaths {
  std::mutex mutex;
  std::unordered_map<std::string, std::string> byPath;
  static constexpr size_t kMaxPaths = 256;
} gResolved;

std::string ResolveHostPath(const std::string& programPath, bool& allFound);

}  // namespace

std::string HostPath(const std::string& programPath) {
  bool absolute = !programPath.empty() && (programPath[0] == '\\' || programPath[0] == '/');
  if (absolute) {
    std::string known;
    {
      std::lock_guard<std::mutex> guard(gResolved.mutex);
      auto it = gResolved.byPath.find(programPath);
      if (it != gResolved.byPath.end()) known = it->second;
    }
    if (!known.empty() && Exists(known)) return known;
  }
  bool allFound = false;
  std::string resolved = ResolveHostPath(programPath, allFound);
  if (absolute) {
    std::lock_guard<std::mutex> guard(gResolved.mutex);
    if (!allFound) {
      gResolved.byPath.erase(programPath);
    } else {
      if (gResolved.byPath.size() >= ResolvedPaths::kMaxPaths) gResolved.byPath.clear();
      gResolved.byPath[programPath] = resolved;
    }
  }
  return resolved;
}

namespace {

// Resolves component by component; `allFound` when every component was
// found on disk.
std::string ResolveHostPath(const std::string& programPath, bool& allFound) {
  allFound = false;
  std::string path = Cp850ToUtf8(programPath);
  for (char& c : path)
    if (c == '\\') c = '/';
  if (path.empty()) return path;

  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t slash = path.find('/', start);
    if (slash == std::string::npos) slash = path.size();
    parts.push_back(path.substr(start, slash - start));
    start = slash + 1;
  }
  bool absolute = path[0] == '/';
  std::string result = absolute ? "/" : "";
  bool matching = true;  // stops once a component does not exist
  bool first = true;
  for (size_t i = absolute ? 1 : 0; i < parts.size(); ++i) {
    const std::string& part = parts[i];
    if (part.empty()) {
      if (i + 1 == parts.size() && !first) result += "";  // trailing slash
      continue;
    }
    std::string base = result.empty() ? "." : result;
    std::string candidate = result + part;
    if (matching && part != "." && part != ".." && !Exists(candidate)) {
      std::string found;
      if (DIR* dir = opendir(base.c_str())) {
        while (dirent* entry = readdir(dir)) {
          if (SameIgnoringCase(entry->d_name, part)) {
            found = entry->d_name;
            break;
          }
        }
        closedir(dir);
      }
      if (!found.empty()) candidate = result + found;
      else matching = false;
    }
    result = candidate;
    first = false;
    if (i + 1 < parts.size()) result += "/";
  }
  allFound = matching;
  return result;
}

}  // namespace

bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(HostPath(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
  struct stat st;
  return ::stat(HostPath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

long long FileLength(const std::string& path) {
  struct stat st;
  if (::stat(HostPath(path).c_str(), &st) != 0) return -1;
  return st.st_size;
}

bool DeleteFile(const std::string& path) { return ::unlink(HostPath(path).c_str()) == 0; }

std::vector<std::string> DirectoryEntries(const std::string& path) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(HostPath(path).c_str())) {
    while (dirent* entry = readdir(dir)) {
      std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(Utf8ToCp850(name));
    }
    closedir(dir);
  }
  return names;
}

bool DirectoryUsable(const std::string& path, int& error) {
  std::string host = HostPath(path);
  struct stat st;
  if (::stat(host.c_str(), &st) != 0) {
    error = errno;
    return false;
  }
  if (!S_ISDIR(st.st_mode)) {
    error = ENOTDIR;
    return false;
  }
  if (::access(host.c_str(), W_OK | X_OK) != 0) {
    error = errno;
    return false;
  }
  error = 0;
  return true;
}

bool MakeDirectory(const std::string& path) {
  std::string host = HostPath(path);
  while (host.size() > 1 && host.back() == '/') host.pop_back();
  return ::mkdir(host.c_str(), 0777) == 0;
}

bool ReadWholeFile(const std::string& path, std::string& contents) {
  FileHandle file(path, "rb");
  contents.clear();
  if (!file) return false;
  char buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, file.f)) > 0) contents.append(buffer, n);
  return !ferror(file.f);
}

bool WriteWholeFile(const std::string& path, const std::string& contents) {
  FileHandle file(path, "wb");
  if (!file) return false;
  bool ok = fwrite(contents.data(), 1, contents.size(), file.f) == contents.size();
  FILE* f = file.f;
  file.f = nullptr;
  return fclose(f) == 0 && ok;
}

bool AppendToFile(const std::string& path, const std::string& text, int* error) {
  std::string host = HostPath(path);
  int fd = ::open(host.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
  if (fd < 0) {
    if (error) *error = errno;
    return false;
  }
  // One write with O_APPEND: lines of several stations never interleave.
  ssize_t n = ::write(fd, text.data(), text.size());
  int written = errno;
  ::close(fd);
  if (n == static_cast<ssize_t>(text.size())) return true;
  if (error) *error = n < 0 ? written : ENOSPC;  // a short write: the disk or a size limit
  return false;
}

AppendLog::~AppendLog() { Close(); }

AppendLog::AppendLog(AppendLog&& other) noexcept
    : fd(other.fd), host(std::move(other.host)), opened(other.opened) {
  other.fd = -1;
}

AppendLog& AppendLog::operator=(AppendLog&& other) noexcept {
  if (this != &other) {
    Close();
    fd = other.fd;
    host = std::move(other.host);
    opened = other.opened;
    other.fd = -1;
  }
  return *this;
}

void AppendLog::Close() {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

namespace {

AppendLog::Identity IdentityOf(const struct stat& st) {
  return {st.st_dev, st.st_ino, st.st_mode, st.st_uid, st.st_gid};
}

}  // namespace

bool AppendLine(AppendLog& log, const std::string& path, const std::string& text, int* error,
                bool checkName) {
  // The file still open serves while the name leads to it, as it was: not
  // removed, renamed, replaced (by a link too) nor given other rights.
  if (log.fd >= 0 && log.path == path) {
    struct stat st {};
    if (checkName && (::lstat(log.host.c_str(), &st) != 0 || IdentityOf(st) != log.opened)) log.Close();
  } else {
    log.Close();
  }
  if (log.fd < 0) {
    log.path = path;
    log.host = HostPath(path);
    log.fd = ::open(log.host.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (log.fd < 0) {
      if (error) *error = errno;
      return false;
    }
    struct stat st {};
    if (::fstat(log.fd, &st) != 0) {
      if (error) *error = errno;
      log.Close();
      return false;
    }
    log.opened = IdentityOf(st);
  }
  // One write with O_APPEND: lines of several stations never interleave.
  ssize_t n = ::write(log.fd, text.data(), text.size());
  if (n == static_cast<ssize_t>(text.size())) return true;
  if (error) *error = n < 0 ? errno : ENOSPC;  // a short write: the disk or a size limit
  log.Close();
  return false;
}

bool ChangeDirectory(const std::string& path) {
  std::string host = HostPath(path);
  return !host.empty() && ::chdir(host.c_str()) == 0;
}

std::string CurrentDirectory() {
  char buffer[4096];
  if (!getcwd(buffer, sizeof buffer)) return std::string();
  return Utf8ToCp850(buffer);
}

// ---- Files -----------------------------------------------------------------

FileHandle::FileHandle(const std::string& programPath, const char* mode) {
  std::string host = HostPath(programPath);
  bool update = std::strchr(mode, '+') != nullptr;
  int flags = O_CLOEXEC;
  switch (mode[0]) {
    case 'w': flags |= (update ? O_RDWR : O_WRONLY) | O_CREAT | O_TRUNC | O_NOFOLLOW; break;
    case 'a': flags |= (update ? O_RDWR : O_WRONLY) | O_CREAT | O_APPEND | O_NOFOLLOW; break;
    default: flags |= update ? O_RDWR | O_NOFOLLOW : O_RDONLY; break;
  }
  int fd = ::open(host.c_str(), flags, 0666);
  if (fd < 0) {
    error = errno;
    return;
  }
  f = fdopen(fd, mode);
  if (!f) {
    error = errno;
    ::close(fd);
  }
}

FileHandle::~FileHandle() { Close(); }

FileHandle::FileHandle(FileHandle&& other) noexcept : f(other.f), error(other.error) { other.f = nullptr; }

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
  if (this != &other) {
    Close();
    f = other.f;
    error = other.error;
    other.f = nullptr;
  }
  return *this;
}

void FileHandle::Close() {
  if (f) fclose(f);
  f = nullptr;
}

ExclusiveFile::~ExclusiveFile() { Close(); }

ExclusiveFile::ExclusiveFile(ExclusiveFile&& other) noexcept : fd(other.fd), error(other.error) {
  other.fd = -1;
}

ExclusiveFile& ExclusiveFile::operator=(ExclusiveFile&& other) noexcept {
  if (this != &other) {
    Close();
    fd = other.fd;
    error = other.error;
    other.fd = -1;
  }
  return *this;
}

void ExclusiveFile::Close() {
  if (fd >= 0) ::close(fd);  // closing the description drops its lock
  fd = -1;
}

ExclusiveOpenResult OpenExclusive(const std::string& programPath, ExclusiveFile& file) {
  file.Close();
  file.error = 0;
  std::string host = HostPath(programPath);
  int fd = ::open(host.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
  if (fd < 0) {
    file.error = errno;
    if (errno == ENOENT) return EXCL_NO_DIRECTORY;
    return EXCL_FAILED;
  }
  // An open-file-description lock: exclusive between processes and between
  // two opens in the same process alike, and gone when the holder dies.
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  if (fcntl(fd, F_OFD_SETLK, &lock) != 0) {
    ::close(fd);
    return EXCL_BUSY;
  }
  file.fd = fd;
  return EXCL_OK;
}

ExclusiveHolder ProbeExclusive(const std::string& programPath) {
  int fd = ::open(HostPath(programPath).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return errno == ENOENT ? HOLDER_NO_FILE : HOLDER_UNKNOWN;
  ExclusiveHolder holder = HOLDER_UNKNOWN;
  struct stat st;
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  // The question is asked through a description of its own, so a hold of
  // this very process counts like anyone else's.
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && fcntl(fd, F_OFD_GETLK, &lock) == 0)
    holder = lock.l_type == F_UNLCK ? HOLDER_NONE : HOLDER_PRESENT;
  ::close(fd);
  return holder;
}

bool ExclusiveFileIsAt(ExclusiveFile& file, const std::string& programPath) {
  struct stat held, there;
  if (file.fd < 0 || fstat(file.fd, &held) != 0) return false;
  if (::lstat(HostPath(programPath).c_str(), &there) != 0) return false;
  return held.st_dev == there.st_dev && held.st_ino == there.st_ino;
}

long ReadAt(ExclusiveFile& file, long long offset, void* buffer, long length) {
  if (file.fd < 0 || length <= 0) return 0;
  ssize_t n = ::pread(file.fd, buffer, static_cast<size_t>(length), offset);
  return n < 0 ? 0 : static_cast<long>(n);
}

long WriteAt(ExclusiveFile& file, long long offset, const void* buffer, long length) {
  if (file.fd < 0 || length <= 0) return 0;
  ssize_t n = ::pwrite(file.fd, buffer, static_cast<size_t>(length), offset);
  return n < 0 ? 0 : static_cast<long>(n);
}

long long ExclusiveFileLength(ExclusiveFile& file) {
  struct stat st;
  if (file.fd < 0 || fstat(file.fd, &st) != 0) return -1;
  return st.st_size;
}
