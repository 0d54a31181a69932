// files.cpp - resolving data file paths; reading and writing marker files.
#include "recman/files.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "recman/engine.h"
#include "recman/recman.h"

namespace recman {

namespace {

constexpr const char* kMarkerTitle = "RECMAN DATA FILE 1\n";
constexpr const char* kPendingLine = "\npending\n";  // right after the id

bool ReservedName(const std::string& name) {
  return name == "." || name == ".." || name.rfind(kStoreName, 0) == 0 || name == kLockName ||
         name == kServerName || name.find(".recman-tmp") != std::string::npos;
}

bool WriteAll(int fd, const std::string& s) {
  size_t done = 0;
  while (done < s.size()) {
    ssize_t n = write(fd, s.data() + done, s.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

int16_t ResolveDataPath(const uint8_t* key, uint32_t length, int16_t missingStatus, DataPath& out) {
  out = DataPath{};
  if (key == nullptr) return B_INVALID_FILE_NAME;
  std::string s;
  for (uint32_t i = 0; i < length && key[i] != 0; ++i)
    s.push_back(key[i] == '\\' ? '/' : static_cast<char>(key[i]));
  while (!s.empty() && s.back() == ' ') s.pop_back();
  if (s.empty() || s.size() >= PATH_MAX) return B_INVALID_FILE_NAME;
  size_t slash = s.rfind('/');
  std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : s.substr(0, slash);
  out.name = slash == std::string::npos ? s : s.substr(slash + 1);
  if (out.name.empty() || ReservedName(out.name)) return B_INVALID_FILE_NAME;
  char resolved[PATH_MAX];
  if (realpath(dir.c_str(), resolved) == nullptr) return missingStatus;
  out.directory = resolved;
  if (out.directory.size() > 1 && out.directory.back() == '/') out.directory.pop_back();
  out.full = (out.directory == "/" ? "" : out.directory) + "/" + out.name;
  return B_OK;
}

MarkerState ReadMarker(const std::string& path, std::string& uuid, bool* pending) {
  uuid.clear();
  if (pending) *pending = false;
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) {
    if (errno == ELOOP) fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT || errno == ENOTDIR ? MarkerState::kMissing : MarkerState::kUnreadable;
  }
  char buf[1024];
  ssize_t n = read(fd, buf, sizeof buf - 1);
  close(fd);
  if (n < 0) return errno == EISDIR ? MarkerState::kForeign : MarkerState::kUnreadable;
  std::string text(buf, static_cast<size_t>(n));
  if (text.rfind(kMarkerTitle, 0) != 0) return MarkerState::kForeign;
  size_t at = text.find("\nid ");
  if (at == std::string::npos) return MarkerState::kForeign;
  size_t end = text.find('\n', at + 4);
  if (end == std::string::npos) return MarkerState::kForeign;
  uuid = text.substr(at + 4, end - at - 4);
  if (pending) *pending = text.find(kPendingLine) != std::string::npos;
  return uuid.empty() ? MarkerState::kForeign : MarkerState::kOk;
}

bool WriteMarker(const DataPath& path, const std::string& uuid, bool sync, bool pending) {
  std::string text = std::string(kMarkerTitle) + "id " + uuid + (pending ? kPendingLine : "\n") + "name " +
                     path.name + "\nThe records of this file are kept in " + kStoreName +
                     " in this directory, or on the server that " + kServerName +
                     " in it names; use recutil to look at them.\n";
  std::string tmp = path.full + ".recman-tmp" + std::to_string(getpid());
  int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, text) && (!sync || fsync(fd) == 0);
  ok = close(fd) == 0 && ok;
  if (ok) ok = rename(tmp.c_str(), path.full.c_str()) == 0;
  if (!ok) {
    unlink(tmp.c_str());
    return false;
  }
  int dfd = sync ? open(path.directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
  if (dfd >= 0) {
    fsync(dfd);
    close(dfd);
  }
  return true;
}

}  // namespace recman
