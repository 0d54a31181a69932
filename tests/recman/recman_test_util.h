// recman_test_util.h - helpers shared by the record manager's tests: a
// create-buffer builder and thin BTRCALL wrappers (the temporary folder is
// tests/temp_dir.h).
#pragma once
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "recman/recman.h"
#include "recman/testing.h"
#include "tests/temp_dir.h"

namespace rt {

// Whether the tests run against the server store (RECMAN_TEST_STORE=server,
// see server_store_test.cpp) rather than SQLite.
inline bool OnServer() {
  const char* store = getenv("RECMAN_TEST_STORE");
  return store != nullptr && std::string(store) == "server";
}

struct Segment {
  uint16_t position;  // 1-based
  uint16_t length;
  uint16_t flags = 0;
  uint8_t type = 0;  // extended type, used when flags has KF_EXTENDED_TYPE
  uint8_t nullValue = 0;
};

// Builds a create buffer: one vector of segments per key.
struct SpecBuilder {
  uint16_t recordLength = 0;
  uint16_t pageSize = 4096;
  uint16_t fileFlags = 0;
  std::vector<std::vector<Segment>> keys;
  bool withAcs = false;
  uint8_t acs[256] = {};
  std::string acsName = "UPPER";

  std::string Build() const {
    std::string b(16, '\0');
    b[0] = static_cast<char>(recordLength & 0xFF);
    b[1] = static_cast<char>(recordLength >> 8);
    b[2] = static_cast<char>(pageSize & 0xFF);
    b[3] = static_cast<char>(pageSize >> 8);
    b[4] = static_cast<char>(keys.size());
    b[10] = static_cast<char>(fileFlags & 0xFF);
    b[11] = static_cast<char>(fileFlags >> 8);
    for (const auto& key : keys) {
      for (size_t i = 0; i < key.size(); ++i) {
        const Segment& s = key[i];
        std::string k(16, '\0');
        uint16_t flags = s.flags;
        if (i + 1 < key.size()) flags |= KF_SEGMENTED;
        k[0] = static_cast<char>(s.position & 0xFF);
        k[1] = static_cast<char>(s.position >> 8);
        k[2] = static_cast<char>(s.length & 0xFF);
        k[3] = static_cast<char>(s.length >> 8);
        k[4] = static_cast<char>(flags & 0xFF);
        k[5] = static_cast<char>(flags >> 8);
        k[10] = static_cast<char>(s.type);
        k[11] = static_cast<char>(s.nullValue);
        b += k;
      }
    }
    if (withAcs) {
      b.push_back(static_cast<char>(kAcsSignature));
      std::string name = acsName;
      name.resize(8, ' ');
      b += name;
      b.append(reinterpret_cast<const char*>(acs), 256);
    }
    return b;
  }

  // Upper-case table for ASCII letters as the alternate collating sequence.
  void UseUpperAcs() {
    withAcs = true;
    for (int i = 0; i < 256; ++i) acs[i] = static_cast<uint8_t>(i >= 'a' && i <= 'z' ? i - 32 : i);
  }
};

struct Block {
  uint8_t bytes[kPositionBlockSize] = {};
  void* get() { return bytes; }
};

inline int16_t Create(const std::string& path, const std::string& spec, int8_t keyNumber = kCreateNoReplace) {
  Block scratch;
  std::string data = spec;
  data.resize(1536, ' ');
  uint32_t len = static_cast<uint32_t>(data.size());
  std::string key = path;
  return BTRCALL(B_CREATE, scratch.get(), data.data(), &len, key.data(), static_cast<uint8_t>(key.size()),
                 keyNumber);
}

inline int16_t Open(Block& pb, const std::string& path, int8_t mode = B_MODE_NORMAL,
                    const std::string& owner = "") {
  std::string data = owner;
  data.push_back('\0');
  uint32_t len = static_cast<uint32_t>(data.size());
  std::string key = path;
  return BTRCALL(B_OPEN, pb.get(), data.data(), &len, key.data(), static_cast<uint8_t>(key.size()), mode);
}

inline int16_t Close(Block& pb) {
  uint32_t len = 0;
  return BTRCALL(B_CLOSE, pb.get(), nullptr, &len, nullptr, 0, 0);
}

inline int16_t Reset() {
  Block scratch;
  uint32_t len = 0;
  return BTRCALL(B_RESET, scratch.get(), nullptr, &len, nullptr, 0, 0);
}

inline int16_t Simple(uint16_t op) {
  Block scratch;
  uint32_t len = 0;
  return BTRCALL(op, scratch.get(), nullptr, &len, nullptr, 0, 0);
}

inline int16_t Insert(Block& pb, const std::string& record, int8_t keyNumber = 0) {
  std::string data = record;
  uint32_t len = static_cast<uint32_t>(data.size());
  char key[256] = {};
  return BTRCALL(B_INSERT, pb.get(), data.data(), &len, key, 255, keyNumber);
}

inline int16_t Update(Block& pb, const std::string& record, int8_t keyNumber = 0) {
  std::string data = record;
  uint32_t len = static_cast<uint32_t>(data.size());
  char key[256] = {};
  return BTRCALL(B_UPDATE, pb.get(), data.data(), &len, key, 255, keyNumber);
}

inline int16_t Delete(Block& pb) {
  uint32_t len = 0;
  char key[256] = {};
  return BTRCALL(B_DELETE, pb.get(), nullptr, &len, key, 255, 0);
}

struct Result {
  int16_t status = 0;
  std::string data;
  std::string key;  // the whole 255-byte key buffer
};

// A get or step operation; `key` is the key value sent (zero-padded).
inline Result Get(Block& pb, uint16_t op, int8_t keyNumber, const std::string& key = "",
                  uint32_t capacity = 1536) {
  Result r;
  std::string data(std::max<uint32_t>(capacity, 4), ' ');
  uint32_t len = capacity;
  std::string kb = key;
  kb.resize(255, '\0');
  r.status = BTRCALL(op, pb.get(), data.data(), &len, kb.data(), 255, keyNumber);
  if (r.status == B_OK || r.status == B_DATA_BUFFER_TOO_SHORT) r.data = data.substr(0, len);
  r.key = kb;
  return r;
}

inline uint32_t Position(Block& pb, int16_t* status = nullptr) {
  uint8_t data[16] = {};
  uint32_t len = sizeof data;
  int16_t st = BTRCALL(B_GET_POSITION, pb.get(), data, &len, nullptr, 0, 0);
  if (status) *status = st;
  return data[0] | (data[1] << 8) | (data[2] << 16) | (static_cast<uint32_t>(data[3]) << 24);
}

inline Result GetDirect(Block& pb, uint32_t pos, int8_t keyNumber, uint16_t bias = 0) {
  Result r;
  std::string data(1536, ' ');
  for (int i = 0; i < 4; ++i) data[i] = static_cast<char>((pos >> (8 * i)) & 0xFF);
  uint32_t len = 1536;
  std::string kb(255, '\0');
  r.status = BTRCALL(B_GET_DIRECT + bias, pb.get(), data.data(), &len, kb.data(), 255, keyNumber);
  if (r.status == B_OK || r.status == B_DATA_BUFFER_TOO_SHORT) r.data = data.substr(0, len);
  r.key = kb;
  return r;
}

struct Stat {
  int16_t status = 0;
  std::string buffer;
  uint16_t recordLength() const {
    return static_cast<uint8_t>(buffer[0]) | (static_cast<uint8_t>(buffer[1]) << 8);
  }
  uint16_t keyCount() const {
    return static_cast<uint8_t>(buffer[4]) | (static_cast<uint8_t>(buffer[5]) << 8);
  }
  uint32_t records() const {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(static_cast<uint8_t>(buffer[6 + i])) << (8 * i);
    return v;
  }
};

inline Stat GetStat(Block& pb) {
  Stat s;
  std::string data(1536, ' ');
  uint32_t len = 1536;
  std::string kb(255, ' ');
  s.status = BTRCALL(B_STAT, pb.get(), data.data(), &len, kb.data(), 255, 0);
  if (s.status == B_OK) s.buffer = data.substr(0, len);
  return s;
}

// Little-endian helpers for building records.
inline void PutLe(std::string& rec, size_t at, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) rec[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

// Most files of these tests are keyed by a record number: the record's
// first four bytes, little-endian, key 0.
inline SpecBuilder IdSpec(uint16_t recordLength) {
  SpecBuilder s;
  s.recordLength = recordLength;
  s.keys = {{{1, 4, KF_BINARY}}};
  return s;
}

// The key 0 of record number `id`.
inline std::string IdKey(uint32_t id) {
  std::string k(4, '\0');
  PutLe(k, 0, id, 4);
  return k;
}

// A record of `length` bytes of `fill` that begins with its number.
inline std::string IdRecord(size_t length, uint32_t id, char fill) {
  std::string r(length, fill);
  PutLe(r, 0, id, 4);
  return r;
}

// A forked process with two pipes, to run one side of a two-process test.
struct ChildSide {
  int up = -1, down = -1;
  void Tell(char c) const { (void)!write(up, &c, 1); }
  char Wait() const {
    char c = 0;
    return read(down, &c, 1) == 1 ? c : 0;
  }
  // Tells the test `c`, waits until it answers (or kills the child) and
  // ends well: the last step of a child that holds its state for the test.
  int TellAndWait(char c) const {
    Tell(c);
    Wait();
    return 0;
  }
};

struct Child {
  pid_t pid = -1;
  int up = -1, down = -1;
  // Waits for a byte from the child; 0 on timeout or end.
  char Heard(int timeoutMs = 20000) const {
    struct pollfd p = {up, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) != 1) return 0;
    char c = 0;
    return read(up, &c, 1) == 1 ? c : 0;
  }
  void Tell(char c) const { (void)!write(down, &c, 1); }
  // Exit code of the child, -1 when a signal ended it.
  int Join() {
    int st = 0;
    if (pid > 0) waitpid(pid, &st, 0);
    pid = -1;
    close(up);
    close(down);
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  }
  void Kill() {
    if (pid > 0) kill(pid, SIGKILL);
    Join();
  }
};

template <typename Body>
Child Spawn(Body body) {
  int up[2], down[2];
  if (pipe(up) != 0 || pipe(down) != 0) return Child{};
  pid_t pid = fork();
  if (pid == 0) {
    close(up[0]);
    close(down[1]);
    ChildSide side{up[1], down[0]};
    _exit(body(side));
  }
  close(up[1]);
  close(down[0]);
  return Child{pid, up[0], down[1]};
}

template <typename Body>
int InChild(Body body) {
  Child c = Spawn([&](ChildSide&) { return body(); });
  return c.Join();
}

// The fixture of the record manager's tests: a temporary folder, and the
// record manager reset (every file closed) after each test.
class RecmanTest : public ::testing::Test {
 protected:
  TempDir dir;
  void TearDown() override { Reset(); }
};

// A file made in the folder from `spec`, open in `pb`, with `records`.
class OpenFileTest : public RecmanTest {
 protected:
  std::string path;
  Block pb;
  void CreateWith(const std::string& name, const SpecBuilder& spec, const std::vector<std::string>& records) {
    path = dir.File(name);
    ASSERT_EQ(Create(path, spec.Build()), B_OK);
    ASSERT_EQ(Open(pb, path), B_OK);
    for (const std::string& r : records) ASSERT_EQ(Insert(pb, r), B_OK);
  }
};

}  // namespace rt
