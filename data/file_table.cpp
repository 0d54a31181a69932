// file_table.cpp - the table of open data files: open (with creation from the
// file's dictionary), statistics, and closing every file at once.
//
// The table has 41 slots; slot 0 is never a file, its position block is the
// scratch block of the calls that name no open file.  Files are entered from
// slot 40 downwards and stay open until ResetDataFiles: there is no single
// close.  A file that cannot be opened ends the program after a message, so
// callers only ever see 0, 1002 (number already open) or 1003 (table full).
#include <algorithm>
#include <cstring>

#include "data/data.h"
#include "input/keys.h"
#include "platform/le.h"
#include "platform/platform.h"
#include "recman/recman.h"
#include "session/session.h"

DataFileTable DataFiles;

namespace {

constexpr int kOpenRetryMs = 3000;  // wait between opens of a file locked elsewhere

uint16_t Word(const std::string& buffer, size_t offset) {
  if (offset + 2 > buffer.size()) return 0;
  return GetLe16(buffer.data() + offset);
}

// One open attempt of `hostPath` with the session's owner name.
int16_t OpenCall(DataFileSlot& slot, const std::string& hostPath) {
  unsigned char data[kDataBufferSize];
  std::memset(data, 0, sizeof data);
  uint32_t dataLength = 0;
  // Files created without an owner name are opened with none: data length 0.
  const std::string& owner = Session.ownerName;
  if (!owner.empty()) {
    size_t n = std::min(owner.size(), static_cast<size_t>(kDataBufferSize - 1));
    std::memcpy(data, owner.data(), n);
    dataLength = static_cast<uint32_t>(n + 1);  // the name and its zero byte
  }
  char key[kKeyBufferSize] = {};
  std::memcpy(key, hostPath.data(), hostPath.size());
  return CallEngine(B_OPEN, slot.positionBlock, data, &dataLength, key, static_cast<uint8_t>(hostPath.size()),
                    DataFiles.openMode);
}

void ClearSlot(DataFileSlot& slot) { slot = DataFileSlot{}; }

// The engine's statuses for a create buffer it cannot use.
bool SpecificationRefused(int16_t status) {
  switch (status) {
    case B_DATA_BUFFER_TOO_SHORT:
    case B_PAGE_SIZE_ERROR:
    case B_INVALID_KEY_COUNT:
    case B_INVALID_KEY_POSITION:
    case B_RECORD_LENGTH_ERROR:
    case B_KEY_LENGTH_ERROR:
    case B_INCONSISTENT_KEY_FLAGS:
    case B_INVALID_ACS:
    case B_KEY_TYPE_ERROR: return true;
    default: return false;
  }
}

}  // namespace

int16_t CallEngine(uint16_t operation, void* positionBlock, void* dataBuffer, uint32_t* dataLength,
                   void* keyBuffer, uint8_t keyLength, int8_t keyNumber) {
  // A request to end (the terminal closed) is acted on between two calls,
  // never inside one.
  EndIfRequested();
  ++DataFiles.engineCalls;
  std::string keySent;
  if (DataFiles.engineObserver && keyBuffer) keySent.assign(static_cast<const char*>(keyBuffer), keyLength);
  int16_t status = BTRCALL(operation, positionBlock, dataBuffer, dataLength, keyBuffer, keyLength, keyNumber);
  if (status != B_OK && RecmanLastDiagnostic(DataFiles.failure)) DataFiles.failureKnown = true;
  if (DataFiles.engineObserver)
    DataFiles.engineObserver(operation, positionBlock, dataBuffer, dataLength ? *dataLength : 0, keySent,
                             keyNumber, status);
  return status;
}

// Creates the data file from the dictionary of its base name:
// KALROOT + "ddf\" + base + ".xdf", a 16-bit count N and N bytes of the
// engine's create buffer.  A missing, short or oversized dictionary gives an
// empty specification, which the engine refuses with its own status.
int16_t CreateFromDictionary(const std::string& base, const std::string& hostPath,
                             std::string* dictionaryProblem) {
  const std::string dictionaryPath = Session.root + "ddf\\" + base + ".xdf";
  std::string dictionary;
  std::string spec;
  const bool read = ReadWholeFile(dictionaryPath, dictionary);
  if (read && dictionary.size() >= 2) {
    int16_t n = static_cast<int16_t>(Word(dictionary, 0));
    if (n > 0 && n <= kDataBufferSize && dictionary.size() >= 2 + static_cast<size_t>(n))
      spec = dictionary.substr(2, static_cast<size_t>(n));
  }
  if (dictionaryProblem) dictionaryProblem->clear();
  unsigned char data[kDataBufferSize];
  std::memset(data, ' ', sizeof data);
  std::memcpy(data, spec.data(), spec.size());
  uint32_t dataLength = kDataBufferSize;
  char key[kKeyBufferSize] = {};
  std::memcpy(key, hostPath.data(), hostPath.size());
  int16_t status = CallEngine(B_CREATE, DataFiles.slots[0].positionBlock, data, &dataLength, key,
                              static_cast<uint8_t>(hostPath.size()), -1);
  // The engine refuses a specification it cannot use: then the dictionary
  // is what is wrong, and what the message names.
  if (status != B_OK && status != B_FILE_EXISTS && dictionaryProblem &&
      (!read || spec.empty() || SpecificationRefused(status)))
    *dictionaryProblem = DictionaryProblemText(HostPath(dictionaryPath), !read);
  return status;
}

int FindSlot(int16_t file_number) {
  // File number 0 stands for a free slot and takes the scan.
  uint8_t* hint = file_number == 0
                      ? nullptr
                      : &DataFiles.slotHint[static_cast<uint16_t>(file_number) % DataFileTable::kSlotHints];
  if (hint && *hint > 0 && DataFiles.slots[*hint].fileNumber == file_number) return *hint;
  int highestFree = 0;
  for (int i = 1; i < kDataSlots; ++i) {
    if (DataFiles.slots[i].fileNumber == file_number) {
      if (hint) *hint = static_cast<uint8_t>(i);
      return i;
    }
    if (DataFiles.slots[i].fileNumber == 0) highestFree = i;
  }
  return -highestFree;
}

DataFileName SplitDataFileName(const std::string& name) {
  DataFileName parts;
  size_t baseStart = 0;
  size_t baseEnd = name.size();
  bool dotSeen = false;
  for (size_t i = name.size(); i-- > 0;) {
    char c = name[i];
    if (c == ':' || c == '\\' || c == '/') {
      baseStart = i + 1;
      break;
    }
    if (c == '.') {
      baseEnd = i;  // scanning backwards: the first dot of the name part wins
      dotSeen = true;
    }
  }
  parts.directory = name.substr(0, baseStart);
  parts.base = name.substr(baseStart, baseEnd - baseStart);
  parts.extension = dotSeen ? name.substr(baseEnd) : std::string(".dat");
  return parts;
}

void OpenDataFile(int16_t& status, void* record_address, const std::string& name, int16_t file_number,
                  int32_t record_capacity) {
  int found = FindSlot(file_number);
  if (found > 0) {
    status = kStatusAlreadyOpen;
    return;
  }
  if (found == 0) {
    status = kStatusTableFull;
    return;
  }
  RegisterDataEnd();  // an open file is closed however the program ends
  DataFileSlot& slot = DataFiles.slots[-found];
  ClearSlot(slot);
  slot.fileNumber = file_number;
  slot.record = record_address;
  slot.recordCapacity = record_capacity;

  DataFileName parts = SplitDataFileName(name);
  std::string hostPath = HostPath(parts.directory + parts.base + parts.extension);

  int16_t result = B_INVALID_FILE_NAME;
  bool created = false;
  bool waited = false;
  std::string dictionaryProblem;
  DataFiles.failureKnown = false;
  if (!hostPath.empty() && hostPath.size() < kKeyBufferSize) {
    for (;;) {
      result = OpenCall(slot, hostPath);
      if (result == B_FILE_LOCKED) {
        PauseMs(kOpenRetryMs);  // another station holds the file: wait without limit
        waited = true;
        continue;
      }
      if (result == B_FILE_NOT_FOUND && !created && DataFiles.openMode != B_MODE_READ_ONLY) {
        created = true;
        int16_t createStatus = CreateFromDictionary(parts.base, hostPath, &dictionaryProblem);
        // Another station may have created it in the meantime: open that one.
        if (createStatus == B_OK || createStatus == B_FILE_EXISTS) continue;
        // Another station holds the data folder longer than the record
        // manager waits: wait as for a locked file, then again.
        if (createStatus == B_FILE_LOCKED) {
          created = false;
          PauseMs(kOpenRetryMs);
          waited = true;
          continue;
        }
        result = createStatus;
      }
      break;
    }
  }
  // What was typed while another station held the file is not carried out
  // now.
  if (waited) DropKeysTypedWhileWaiting();
  if (result != B_OK) EndOnDataError(OpenFailureMessage(hostPath, result, dictionaryProblem));

  int16_t recordLength = 0, keyLength = 0;
  FileStats(recordLength, keyLength, 0, file_number);
  slot.recordLength = recordLength;
  slot.keyValue.assign(static_cast<size_t>(keyLength), '\0');
  slot.keyNumber = 0;
  status = 0;
}

int16_t ReadFileStatistics(int slot, std::string& statistics) {
  statistics.clear();
  if (slot < 1 || slot >= kDataSlots) return B_FILE_NOT_OPEN;
  unsigned char data[kDataBufferSize] = {};
  uint32_t dataLength = kDataBufferSize;
  char key[kKeyBufferSize];
  std::memset(key, ' ', sizeof key);
  int16_t status = CallEngine(B_STAT, DataFiles.slots[slot].positionBlock, data, &dataLength, key, 255, 0);
  if (status == B_OK || status == B_DATA_BUFFER_TOO_SHORT)
    statistics.assign(reinterpret_cast<char*>(data), std::min<uint32_t>(dataLength, kDataBufferSize));
  return status;
}

std::vector<KeySegmentSpec> KeySegmentsOf(const std::string& statistics, int key_number,
                                          int* segments_of_all_keys) {
  std::vector<KeySegmentSpec> result;
  int keys = Word(statistics, 4);
  size_t offset = 16;
  int segments = 0;
  for (int k = 0; k < keys; ++k) {
    bool more = true;
    while (more) {
      if (offset + 16 > statistics.size()) {  // a buffer cut short: stop where it ends
        if (segments_of_all_keys) *segments_of_all_keys = segments;
        return k == key_number ? std::vector<KeySegmentSpec>{} : result;
      }
      KeySegmentSpec spec;
      spec.length = Word(statistics, offset + 2);
      spec.flags = Word(statistics, offset + 4);
      if (k == key_number) result.push_back(spec);
      more = (spec.flags & KF_SEGMENTED) != 0;
      offset += 16;
      ++segments;
    }
  }
  if (segments_of_all_keys) *segments_of_all_keys = segments;
  return result;
}

void FileStats(int16_t& record_length, int16_t& key_length, int16_t key_number, int16_t file_number) {
  record_length = 0;
  key_length = 0;
  int slot = FindSlot(file_number);
  if (slot <= 0) return;
  std::string statistics;
  if (ReadFileStatistics(slot, statistics) != B_OK && statistics.empty()) return;
  record_length = static_cast<int16_t>(Word(statistics, 0));
  if (key_number < 0) return;
  int total = 0;
  for (const KeySegmentSpec& segment : KeySegmentsOf(statistics, key_number)) total += segment.length;
  // Key values travel in a 256-byte buffer whose length is one byte.
  key_length = static_cast<int16_t>(std::min(total, kKeyBufferSize - 1));
}

void ResetDataFiles(int16_t& status) {
  unsigned char data[4] = {};
  uint32_t dataLength = 0;
  char key[kKeyBufferSize] = {};
  status = CallEngine(B_RESET, DataFiles.slots[0].positionBlock, data, &dataLength, key, 0, 0);
  if (status != B_OK) return;
  for (int i = 1; i < kDataSlots; ++i) ClearSlot(DataFiles.slots[i]);
}
