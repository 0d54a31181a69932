// data_test_support.h - what the data layer's tests share: a fresh suite root
// in a temporary folder (with DADES, ddf and a station temporary folder), the
// virtual console, pause and random hooks, a builder of the record manager's
// create buffers, a direct insert (the program itself inserts nothing), and
// the data layer's messages caught where the screen layer would show them.
#pragma once
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "data/data.h"
#include "data/locks.h"
#include "input/keys.h"
#include "platform/console.h"
#include "platform/platform.h"
#include "recman/recman.h"
#include "session/session.h"
#include "tests/temp_dir.h"

namespace datatest {

// The data layer's messages as its message hooks receive them: every text
// shown, and how many of them are open (shown and not yet closed).
struct ShownMessages {
  std::vector<std::string> texts;
  std::vector<int> rows;  // the row each was centred on
  int open = 0;
  // True while a message holding `text` is open.
  bool Showing(const std::string& text) const {
    return open > 0 && !texts.empty() && texts.back().find(text) != std::string::npos;
  }
  // Everything shown, one message a line.
  std::string All() const {
    std::string all;
    for (const std::string& t : texts) all += t + "\n";
    return all;
  }
};
inline ShownMessages Messages;

inline void CatchDataMessages() {
  Messages = ShownMessages{};
  DataMessages.show = [](int row, const std::string& text) {
    Messages.texts.push_back(text);
    Messages.rows.push_back(row);
    ++Messages.open;
    return true;
  };
  DataMessages.close = [] { --Messages.open; };
}

// One segment of a key in a create buffer.
struct Segment {
  int position = 1;  // 1-based
  int length = 1;
  uint16_t flags = 0;
  uint8_t type = 0;  // extended type, with KF_EXTENDED_TYPE
};
using Key = std::vector<Segment>;

inline void PutWord(std::string& buffer, size_t at, uint16_t value) {
  buffer[at] = static_cast<char>(value & 0xFF);
  buffer[at + 1] = static_cast<char>(value >> 8);
}

// The record manager's create buffer: file specification, key segments
// (KF_SEGMENTED set on every segment but a key's last), then the alternate
// collating sequence when `acsTable` (256 bytes) is given.
inline std::string CreateBuffer(int recordLength, const std::vector<Key>& keys,
                                const std::string& acsTable = "", uint16_t fileFlags = 0,
                                int pageSize = 1024) {
  std::string buffer(16, '\0');
  PutWord(buffer, 0, static_cast<uint16_t>(recordLength));
  PutWord(buffer, 2, static_cast<uint16_t>(pageSize));
  buffer[4] = static_cast<char>(keys.size());
  PutWord(buffer, 10, fileFlags);
  for (const Key& key : keys) {
    for (size_t i = 0; i < key.size(); ++i) {
      std::string spec(16, '\0');
      uint16_t flags = key[i].flags;
      if (i + 1 < key.size()) flags |= KF_SEGMENTED;
      PutWord(spec, 0, static_cast<uint16_t>(key[i].position));
      PutWord(spec, 2, static_cast<uint16_t>(key[i].length));
      PutWord(spec, 4, flags);
      spec[10] = static_cast<char>(key[i].type);
      buffer += spec;
    }
  }
  if (!acsTable.empty()) {
    buffer += static_cast<char>(kAcsSignature);
    buffer += "UPPER   ";
    buffer += acsTable;
  }
  return buffer;
}

// A dictionary file: the 16-bit count, then the create buffer.
inline std::string Dictionary(const std::string& createBuffer) {
  std::string out(2, '\0');
  PutWord(out, 0, static_cast<uint16_t>(createBuffer.size()));
  return out + createBuffer;
}

// A fresh suite root for every test: ROOT/DADES, ROOT/ddf, ROOT/TMP; the
// session pointing there, the current directory there (for "db.log"), the
// virtual console, pauses counted instead of slept, a fixed random value.
class DataTest : public ::testing::Test {
 protected:
  TempDir temp{"tarpelix_data_"};
  const std::string dir = temp.path;  // host path of the root, no trailing slash
  std::string root;                   // the program's root: dir + "/"
  std::string previousDirectory;
  std::vector<int> pauses;
  double randomValue = 0.5;

  void SetUp() override {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    ASSERT_FALSE(dir.empty());
    root = dir + "/";
    std::filesystem::create_directories(dir + "/DADES");
    std::filesystem::create_directories(dir + "/ddf");
    std::filesystem::create_directories(dir + "/TMP");
    previousDirectory = std::filesystem::current_path().string();
    std::filesystem::current_path(dir);
    Session = SessionState{};
    Session.root = root;
    Session.tempDir = root + "TMP/";
    Session.language = "CAT";
    ConsoleStartVirtual();
    CatchDataMessages();
    Keyboard = KeyboardState{};
    Platform.pause = [this](int ms) { pauses.push_back(ms); };
    Platform.random = [this] { return randomValue; };
    Platform.computerName = [] { return std::string("ESTACIO1"); };
    Platform.beep = [] {};
    DataFiles = DataFileTable{};
    Locks = LockState{};
  }

  void TearDown() override {
    int16_t status = 0;
    ResetDataFiles(status);
    DataFiles = DataFileTable{};
    Locks = LockState{};
    DataMessages = DataMessageHooks{};
    Platform = PlatformHooks{};
    std::filesystem::current_path(previousDirectory);
  }

  void WriteDictionary(const std::string& base, const std::string& createBuffer) {
    ASSERT_TRUE(WriteWholeFile(root + "ddf/" + base + ".xdf", Dictionary(createBuffer)));
  }

  // Copies the program's own dictionaries (demo/ddf) into this root.
  void UseDemoDictionaries() {
    for (const char* base : {"THRebut", "FinquesH", "FinDespH", "PropietH", "PagamH", "CobramH"}) {
      std::filesystem::copy_file(std::string(TARPELIX_SOURCE_DIR) + "/demo/ddf/" + base + ".xdf",
                                 dir + "/ddf/" + base + ".xdf");
    }
  }

  // Opens ROOT/DADES/base with a dictionary built from `createBuffer`.
  void OpenWith(const std::string& base, const std::string& createBuffer, void* record, int16_t fileNumber,
                int32_t capacity) {
    WriteDictionary(base, createBuffer);
    int16_t status = -1;
    OpenDataFile(status, record, root + "DADES\\" + base, fileNumber, capacity);
    ASSERT_EQ(status, 0);
  }

  // Inserts a record through the file's own position block (the program
  // has no insert of its own); a short record is padded with blanks to the
  // record length.
  static int16_t Insert(int16_t fileNumber, const std::string& record) {
    int slot = FindSlot(fileNumber);
    if (slot <= 0) return B_FILE_NOT_OPEN;
    std::string data = record;
    if (data.size() < static_cast<size_t>(DataFiles.slots[slot].recordLength))
      data.resize(static_cast<size_t>(DataFiles.slots[slot].recordLength), ' ');
    uint32_t length = static_cast<uint32_t>(data.size());
    data.resize(kDataBufferSize, ' ');
    char key[kKeyBufferSize] = {};
    return BTRCALL(B_INSERT, DataFiles.slots[slot].positionBlock, data.data(), &length, key, 255, 0);
  }

  std::string Log() {
    std::string text;
    ReadWholeFile(root + "db.log", text);
    return text;
  }
};

// Another station working on the same data file: a child process with its
// own handle on the file, driven step by step through pipes (the record
// manager never lets two handles of one process block each other).
class OtherStation {
 public:
  OtherStation() = default;
  OtherStation(const OtherStation&) = delete;
  OtherStation& operator=(const OtherStation&) = delete;
  ~OtherStation() { Stop(); }

  // Starts the child and opens `hostPath` there in `mode`; the open's status.
  int16_t Start(const std::string& hostPath, int8_t mode) {
    if (pipe(commands_) != 0 || pipe(answers_) != 0) return -1;
    child_ = fork();
    if (child_ < 0) return -1;
    if (child_ == 0) Serve(hostPath, mode);
    close(commands_[0]);
    close(answers_[1]);
    commands_[0] = answers_[1] = -1;
    return Answer();
  }
  // Reads `key` on key 0 with a single no-wait record lock.
  int16_t Lock(const std::string& key) { return Ask('L', key); }
  int16_t Unlock() { return Ask('U', ""); }
  // Begins a transaction and reads the first record: the station then holds
  // its directory's database for writing until End.
  int16_t Hold() { return Ask('H', ""); }
  int16_t End() { return Ask('E', ""); }
  int16_t Close() { return Ask('C', ""); }
  void Stop() {
    if (child_ > 0) {
      Ask('Q', "");
      int status = 0;
      waitpid(child_, &status, 0);
      child_ = -1;
    }
    for (int* fds : {commands_, answers_})
      for (int i = 0; i < 2; ++i)
        if (fds[i] >= 0) close(fds[i]), fds[i] = -1;
  }

 private:
  pid_t child_ = -1;
  int commands_[2] = {-1, -1};
  int answers_[2] = {-1, -1};

  int16_t Ask(char command, const std::string& key) {
    std::string message(1, command);
    message += static_cast<char>(key.size());
    message += key;
    if (write(commands_[1], message.data(), message.size()) != static_cast<ssize_t>(message.size()))
      return -1;
    return Answer();
  }
  int16_t Answer() {
    int16_t status = -1;
    if (read(answers_[0], &status, sizeof status) != sizeof status) return -1;
    return status;
  }

  [[noreturn]] void Serve(const std::string& hostPath, int8_t mode) {
    close(commands_[1]);
    close(answers_[0]);
    unsigned char block[kPositionBlockSize] = {};
    unsigned char data[kDataBufferSize] = {};
    char key[kKeyBufferSize] = {};
    std::memcpy(key, hostPath.data(), hostPath.size());
    uint32_t length = 0;
    int16_t status = BTRCALL(B_OPEN, block, data, &length, key, static_cast<uint8_t>(hostPath.size()), mode);
    for (;;) {
      if (write(answers_[1], &status, sizeof status) != sizeof status) _exit(1);
      unsigned char head[2];
      if (read(commands_[0], head, 2) != 2) _exit(1);
      std::memset(key, 0, sizeof key);
      if (head[1] > 0 && read(commands_[0], key, head[1]) != head[1]) _exit(1);
      length = kDataBufferSize;
      switch (head[0]) {
        case 'L':
          status = BTRCALL(static_cast<uint16_t>(int{B_GET_EQUAL} + int{B_SINGLE_NOWAIT_LOCK}), block, data,
                           &length, key, head[1], 0);
          break;
        case 'U': status = BTRCALL(B_UNLOCK, block, data, &length, key, 0, 0); break;
        case 'H': {
          unsigned char scratch[kPositionBlockSize] = {};
          uint32_t none = 0;
          status = BTRCALL(B_BEGIN_TRANS, scratch, data, &none, key, 0, 0);
          if (status == 0) status = BTRCALL(B_GET_FIRST, block, data, &length, key, 255, 0);
          break;
        }
        case 'E': {
          unsigned char scratch[kPositionBlockSize] = {};
          uint32_t none = 0;
          status = BTRCALL(B_END_TRANS, scratch, data, &none, key, 0, 0);
          break;
        }
        case 'C': status = BTRCALL(B_CLOSE, block, data, &length, key, 0, 0); break;
        default:
          status = 0;
          if (write(answers_[1], &status, sizeof status) != sizeof status) _exit(1);
          _exit(0);
      }
    }
  }
};

}  // namespace datatest
