// record_ops.cpp - reading, stepping, updating and deleting records of the
// files in the file table, the common call with its record-lock waits, lock
// modes, key images and transactions.
//
// Callers never see the engine's buffers: records arrive in and leave from
// the record variable given at open, and the key of the last keyed read is
// kept in the slot (current key number and value) and sent again by every
// call.  Every call goes through buffers of 1536 (data) and 256 (key) bytes.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "data/data.h"
#include "input/keys.h"
#include "platform/le.h"
#include "platform/platform.h"
#include "recman/recman.h"

namespace {

constexpr int kLockWaitMaxMs = 10000;  // a record held elsewhere: pauses of 1..10001 ms
constexpr int16_t kLockBias = B_SINGLE_NOWAIT_LOCK;

bool TakesLockBias(uint16_t operation) {
  return (operation >= 5 && operation <= 13) || operation == 19 || (operation >= 22 && operation <= 24) ||
         (operation >= 33 && operation <= 35);
}

// Bytes of the record variable the engine's answers may fill.
size_t RecordBytes(const DataFileSlot& slot) {
  long n = std::clamp<long>(slot.recordLength, 0, kDataBufferSize);
  if (slot.recordCapacity >= 0) n = std::min<long>(n, slot.recordCapacity);
  return slot.record ? static_cast<size_t>(n) : 0;
}

// The data buffer of a call that sends `length` bytes of record: the
// record variable, the rest of them spaces.  The engine neither reads nor
// writes the buffer beyond the length it is given.
void FillDataBuffer(const DataFileSlot& slot, unsigned char* data, size_t length) {
  size_t n = RecordBytes(slot);
  std::memcpy(data, slot.record, n);
  if (length > n) std::memset(data + n, ' ', length - n);
}

void DeliverRecord(DataFileSlot& slot, const unsigned char* data, uint32_t dataLength) {
  size_t n = std::min<size_t>(dataLength, RecordBytes(slot));
  if (n > 0) std::memcpy(slot.record, data, n);
}

// The key buffer holding the current key value; `filler` for the rest.
void FillKeyBuffer(const DataFileSlot& slot, char* key, char filler) {
  std::memset(key, filler, kKeyBufferSize);
  std::memcpy(key, slot.keyValue.data(), std::min<size_t>(slot.keyValue.size(), kKeyBufferSize - 1));
}

// The current key value takes back what the engine left in the key buffer,
// at its previous length.
void TakeBackKey(DataFileSlot& slot, const char* key) {
  size_t n = std::min<size_t>(slot.keyValue.size(), kKeyBufferSize - 1);
  slot.keyValue.assign(key, n);
}

uint8_t KeyLength(const DataFileSlot& slot) {
  return static_cast<uint8_t>(std::min<size_t>(slot.keyValue.size(), kKeyBufferSize - 1));
}

DataFileSlot* OpenSlot(int16_t file_number, int* index = nullptr) {
  int slot = FindSlot(file_number);
  if (slot <= 0) return nullptr;
  if (index) *index = slot;
  return &DataFiles.slots[slot];
}

// OpenSlot for a record operation: nullptr, with `status` B_FILE_NOT_OPEN,
// for a file number not in the table.
DataFileSlot* OpenSlotOrFail(int16_t file_number, int& index, int16_t& status) {
  DataFileSlot* file = OpenSlot(file_number, &index);
  if (!file) status = B_FILE_NOT_OPEN;
  return file;
}

// A number as the update log writes it: a blank for 0 and above (a minus
// sign otherwise), the digits, one blank.
std::string LogNumber(int value) { return (value >= 0 ? " " : "") + std::to_string(value) + " "; }

int16_t TransactionCall(uint16_t operation) {
  unsigned char data[kDataBufferSize] = {};
  uint32_t dataLength = 0;
  char key[kKeyBufferSize] = {};
  return CallEngine(operation, DataFiles.slots[0].positionBlock, data, &dataLength, key, 0, 0);
}

}  // namespace

void CallRecordManager(int slot, uint16_t operation, int16_t& status) {
  if (slot < 1 || slot >= kDataSlots || DataFiles.slots[slot].fileNumber == 0) {
    status = B_FILE_NOT_OPEN;
    return;
  }
  DataFileSlot& file = DataFiles.slots[slot];
  uint16_t plain = operation % 100;  // the operation without any bias
  uint16_t call = operation;
  if (file.lockMode != 0 && TakesLockBias(operation)) call = static_cast<uint16_t>(operation + kLockBias);
  char filler = ' ';
  if (plain == B_GET_GREATER || plain == B_GET_GE) filler = '\0';
  if (plain == B_GET_LESS || plain == B_GET_LE) filler = '\xFF';

  int attempts = 0;
  bool messageShown = false;
  for (;;) {
    if (attempts == 1) messageShown = ShowDataMessage(24, LockWaitText());
    unsigned char data[kDataBufferSize];
    uint32_t dataLength = static_cast<uint32_t>(std::clamp<int32_t>(file.recordLength, 0, kDataBufferSize));
    FillDataBuffer(file, data, dataLength);
    char key[kKeyBufferSize];
    FillKeyBuffer(file, key, filler);
    status = CallEngine(call, file.positionBlock, data, &dataLength, key, KeyLength(file),
                        static_cast<int8_t>(file.keyNumber));
    DeliverRecord(file, data, dataLength);
    TakeBackKey(file, key);
    if ((status == B_RECORD_LOCKED || status == B_FILE_LOCKED) && file.lockMode == 1) {
      PauseMs(static_cast<int>(std::lround(kLockWaitMaxMs * RandomUnit() + 1)));
      attempts = std::min(attempts + 1, 2);
      continue;
    }
    break;
  }
  if (messageShown) CloseDataMessage();
  // What was typed while the record was locked is not carried out now.
  if (attempts > 0) DropKeysTypedWhileWaiting();
}

void FindRecord(int16_t& status, int16_t direction, std::string key_value, int16_t key_number,
                int16_t file_number) {
  int index = 0;
  DataFileSlot* file = OpenSlotOrFail(file_number, index, status);
  if (!file) return;
  // The key's length from the file's statistics (as FileStats gives it).  A
  // Stat the record manager refuses (a busy or damaged database) answers
  // its own status, not "no such key".
  std::string statistics;
  int16_t statStatus = ReadFileStatistics(index, statistics);
  if (statStatus != B_OK && statStatus != B_DATA_BUFFER_TOO_SHORT) {
    status = statStatus;
    return;
  }
  int keyLength = 0;
  if (key_number >= 0)
    for (const KeySegmentSpec& segment : KeySegmentsOf(statistics, key_number)) keyLength += segment.length;
  // Key values travel in a 256-byte buffer whose length is one byte.
  keyLength = std::min(keyLength, kKeyBufferSize - 1);
  if (keyLength <= 0) {
    status = kStatusNoSuchKey;
    return;
  }
  file->keyNumber = key_number;
  key_value.resize(static_cast<size_t>(keyLength), '\0');
  file->keyValue = key_value;
  uint16_t operation = direction == 0 ? B_GET_EQUAL : direction > 0 ? B_GET_GE : B_GET_LE;
  status = 0;
  CallRecordManager(index, operation, status);
  if (status == B_DATA_BUFFER_TOO_SHORT) status = 0;
}

void SkipRecords(int16_t& status, int32_t count, int16_t file_number) {
  int index = 0;
  DataFileSlot* file = OpenSlotOrFail(file_number, index, status);
  if (!file) return;
  uint16_t operation = count >= 0 ? B_GET_NEXT : B_GET_PREVIOUS;
  int64_t n = count >= 0 ? int64_t{count} : -int64_t{count};
  status = 0;
  // All steps but the last move the position only: the record variable is
  // left alone and no lock is asked for.
  while (n > 1 && status == 0) {
    unsigned char scratch[kDataBufferSize];
    std::memset(scratch, ' ', sizeof scratch);
    uint32_t dataLength = kDataBufferSize;
    char key[kKeyBufferSize];
    FillKeyBuffer(*file, key, ' ');
    status = CallEngine(operation, file->positionBlock, scratch, &dataLength, key, KeyLength(*file),
                        static_cast<int8_t>(file->keyNumber));
    TakeBackKey(*file, key);
    if (status == B_DATA_BUFFER_TOO_SHORT) status = 0;
    --n;
  }
  if (n == 1 && status == 0) {
    CallRecordManager(index, operation, status);
    if (status == B_DATA_BUFFER_TOO_SHORT) status = 0;
  }
}

std::string UpdateLogLine(int16_t file_number, int16_t operation, int16_t status) {
  std::string line;
  const int values[3] = {file_number, operation, status};
  for (int i = 0; i < 3; ++i) {
    if (i > 0) line.resize((line.size() + 13) / 14 * 14, ' ');  // the next 14-column zone
    line += LogNumber(values[i]);
  }
  return line + "\r\n";
}

void UpdateRecord(int16_t& status, int16_t file_number) {
  int index = 0;
  DataFileSlot* file = OpenSlotOrFail(file_number, index, status);
  if (!file) return;
  int32_t position = RecordPosition(0, file_number);
  CallRecordManager(index, B_UPDATE, status);
  // Every station appends to the same log, each line with one write (the
  // file stays open for the run, see AppendLine).  Whether the name still
  // leads to the file open is asked once a transaction: a log renamed or
  // removed while a property is settled gets that property's later lines,
  // and the next transaction writes to the file the name now leads to.  A
  // line that cannot be written (a folder or file this user may not write,
  // a full disk, a symbolic link) does not fail the update; the operator
  // is told once per run.
  int error = 0;
  bool checkName = !(DataFiles.inTransaction && DataFiles.updateLogCheckedInTransaction);
  if (AppendLine(DataFiles.updateLog, "db.log", UpdateLogLine(file_number, B_UPDATE, status), &error,
                 checkName))
    DataFiles.updateLogCheckedInTransaction = DataFiles.inTransaction;
  else NoteUpdateLogFailure(CurrentDirectory() + "/db.log", error);
  if (status == B_DATA_BUFFER_TOO_SHORT) status = 0;
  if (status != 0) std::fill(file->keyValue.begin(), file->keyValue.end(), '\0');
  // The record as stored; with no position (0) this is only a position query.
  (void)RecordPosition(position, file_number);
}

void DeleteRecord(int16_t& status, int16_t file_number) {
  int index = 0;
  DataFileSlot* file = OpenSlotOrFail(file_number, index, status);
  if (!file) return;
  status = 0;
  CallRecordManager(index, B_DELETE, status);
  if (status != 0) std::fill(file->keyValue.begin(), file->keyValue.end(), '\0');
}

void InsertRecord(int16_t& status, int16_t file_number) {
  int index = 0;
  if (!OpenSlotOrFail(file_number, index, status)) return;
  status = 0;
  CallRecordManager(index, B_INSERT, status);
}

int32_t RecordPosition(int32_t position, int16_t file_number) {
  DataFileSlot* file = OpenSlot(file_number);
  if (!file) return 0;
  unsigned char data[kDataBufferSize];
  uint32_t dataLength = kDataBufferSize;
  char key[kKeyBufferSize];
  // The engine reads no more of the data buffer than a get direct's
  // position, and answers in it.
  if (position == 0) {
    std::memset(data, 0, 4);
    key[0] = '\0';
    int16_t status = CallEngine(B_GET_POSITION, file->positionBlock, data, &dataLength, key, 0, 0);
    return status == B_OK ? static_cast<int32_t>(GetLe32(data)) : 0;
  }
  PutLe32(data, static_cast<uint32_t>(position));
  FillKeyBuffer(*file, key, ' ');
  int16_t status = CallEngine(B_GET_DIRECT, file->positionBlock, data, &dataLength, key, KeyLength(*file),
                              static_cast<int8_t>(file->keyNumber));
  TakeBackKey(*file, key);
  if (status == B_DATA_BUFFER_TOO_SHORT) status = 0;
  if (status == B_OK) DeliverRecord(*file, data, dataLength);
  return status;
}

std::string CurrentKeyImage(int16_t file_number) {
  int index = 0;
  DataFileSlot* file = OpenSlot(file_number, &index);
  if (!file) return std::string();
  std::string statistics;
  ReadFileStatistics(index, statistics);
  int allSegments = 0;
  std::vector<KeySegmentSpec> segments = KeySegmentsOf(statistics, file->keyNumber, &allSegments);
  // The alternate collating sequence follows the last key specification: a
  // signature byte, 8 name bytes, then the 256-byte table.
  size_t table = 16 + 16 * static_cast<size_t>(allSegments) + 9;
  bool haveTable = statistics.size() >= table + 256;

  std::string image = file->keyValue;
  size_t p = 0;  // 0-based start of the segment
  for (const KeySegmentSpec& segment : segments) {
    size_t length = static_cast<size_t>(segment.length);
    if (segment.flags & KF_BINARY) {
      // Binary numbers are stored low byte first; reversed, they compare as bytes.
      if (image.size() < p + length) image.resize(p + length, '\0');
      std::reverse(image.begin() + static_cast<long>(p), image.begin() + static_cast<long>(p + length));
    } else if ((segment.flags & KF_ALT_COLLATING) && haveTable) {
      for (size_t i = p; i < p + length && i < image.size(); ++i)
        image[i] = statistics[table + static_cast<unsigned char>(image[i])];
    }
    p += length;
  }
  return image;
}

void SetLockMode(int16_t& status, const std::string& modes, int16_t file_number) {
  int index = 0;
  DataFileSlot* file = OpenSlotOrFail(file_number, index, status);
  if (!file) return;
  std::string& stack = DataFiles.lockModeStack;
  for (char c : modes) {
    switch (c) {
      case 'D':
      case 'd': file->lockMode = 0; break;
      case 'A':
      case 'a': file->lockMode = 1; break;
      case 'B':
      case 'b': file->lockMode = 2; break;
      case '+':
        stack += static_cast<char>(index);
        stack += static_cast<char>(file->lockMode);
        break;
      case '-':
        for (size_t i = stack.size() / 2; i-- > 0;) {
          if (static_cast<unsigned char>(stack[2 * i]) == index) {
            file->lockMode = static_cast<int16_t>(static_cast<unsigned char>(stack[2 * i + 1]));
            stack.erase(2 * i, 2);
            break;
          }
        }
        break;
      default: break;
    }
  }
}

int16_t BeginTransaction() {
  int16_t status = TransactionCall(B_BEGIN_TRANS);
  if (status == 0) DataFiles.inTransaction = true;
  DataFiles.updateLogCheckedInTransaction = false;
  return status;
}

int16_t EndTransaction() {
  int16_t status = TransactionCall(B_END_TRANS);
  if (status == 0) {
    DataFiles.inTransaction = false;
    ShowHeldDataNotice();
  }
  return status;
}

int16_t AbortTransaction() {
  int16_t status = TransactionCall(B_ABORT_TRANS);
  DataFiles.inTransaction = false;  // whatever it answers, nothing of it is kept
  ShowHeldDataNotice();
  return status;
}
