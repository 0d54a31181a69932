// Fuzzing the dictionaries (ddf\NAME.xdf) from which a missing data file is
// created: whatever the file holds, the record manager creates a file that
// works or refuses with a status, never a crash, leak or hang; a created
// file takes a record of its own length, gives it back and counts it.
#include <filesystem>

#include "data/data.h"
#include "fuzz_support.h"
#include "recman/recman.h"
#include "session/session.h"

namespace {

uint16_t Word(const std::string& b, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Session.root = FuzzDirectory();
  WriteFuzzFile("ddf/FUZZ.xdf", data, size);
  const std::string folder = FuzzDirectory() + "DADES";
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);  // a new data folder each time
  std::filesystem::create_directories(folder);
  const std::string file = folder + "/FUZZ.dat";

  const int16_t created = CreateFromDictionary("FUZZ", file);
  if (created != B_OK) return 0;
  uint8_t block[kPositionBlockSize] = {};
  std::string owner(1, '\0');
  uint32_t length = 0;
  std::string key = file;
  if (BTRCALL(B_OPEN, block, owner.data(), &length, key.data(), static_cast<uint8_t>(key.size()), 0) != B_OK)
    __builtin_trap();  // what it created, it opens
  std::string stat(4096, '\0');
  char keyBuffer[256];
  length = static_cast<uint32_t>(stat.size());
  if (BTRCALL(B_STAT, block, stat.data(), &length, keyBuffer, 255, 0) != B_OK || length < 16)
    __builtin_trap();
  const uint16_t recordLength = Word(stat, 0);
  if (recordLength == 0) __builtin_trap();
  // A record of the input's own bytes; keys may refuse it (a duplicate, a
  // null key), never crash.
  std::string record(recordLength, '\0');
  for (size_t i = 0; i < record.size() && size > 0; ++i) record[i] = static_cast<char>(data[i % size]);
  length = recordLength;
  const int inserted = BTRCALL(B_INSERT, block, record.data(), &length, keyBuffer, 255, 0);
  if (inserted == B_OK) {
    std::string back(recordLength + 16, '\0');
    length = static_cast<uint32_t>(back.size());
    if (BTRCALL(B_STEP_FIRST, block, back.data(), &length, keyBuffer, 255, 0) != B_OK) __builtin_trap();
    if (back.substr(0, length) != record) __builtin_trap();
    length = static_cast<uint32_t>(stat.size());
    if (BTRCALL(B_STAT, block, stat.data(), &length, keyBuffer, 255, 0) != B_OK) __builtin_trap();
    if (static_cast<uint8_t>(stat[6]) != 1) __builtin_trap();  // one record counted
  }
  length = 0;
  BTRCALL(B_CLOSE, block, nullptr, &length, nullptr, 0, 0);
  return 0;
}
