// operations.h - one BTRCALL as the operation functions see it.
//
// engine.cpp decodes the call (operation, bias, handle) into a Call and hands
// it to the function of its operation family: records.cpp (insert, update,
// delete), navigation.cpp (the get, step, position and direct operations).
#pragma once
#include <cstdint>

#include "recman/engine.h"

namespace recman {

struct Call {
  uint16_t operation = 0;  // without biases
  uint16_t lockBias = 0;   // 0, 100, 200, 300 or 400
  bool keyOnly = false;    // +50
  uint8_t* data = nullptr;
  uint32_t dataCapacity = 0;  // the caller's data length on entry
  uint32_t* dataLength = nullptr;
  uint8_t* key = nullptr;
  uint8_t keyLength = 0;
  int8_t keyNumber = 0;
  uint32_t handleId = 0;
  Handle* handle = nullptr;
};

int16_t InsertRecord(Call& c);
int16_t UpdateRecord(Call& c);
int16_t DeleteRecord(Call& c);

int16_t GetByKey(Call& c);     // 5 to 13
int16_t StepRecord(Call& c);   // 24, 33, 34, 35
int16_t GetPosition(Call& c);  // 22
int16_t GetDirect(Call& c);    // 23

// Shared helpers.
void ForgetReadAhead(Handle& h);
// After an update or delete through `writer`, made when the folder's change
// count was `before`: inside the process transaction, which holds the folder
// (nobody else changes it), what other handles read ahead in the folder's
// other files is still true, and so is what `writer` read ahead past its
// current record when `writerKeeps` (the write changed that record alone,
// none of its keys).  Anything else read ahead through `writer` is forgotten.
void AfterOwnWrite(Handle& writer, bool succeeded, bool writerKeeps, uint64_t before);
// This process changed a record of the file: what its handles read ahead
// follows (an update that moved no key mends the rows, a delete drops the
// row, an insert drops the batches).
void ReadAheadUpdated(OpenFile& file, const Row& row);
void ReadAheadDeleted(OpenFile& file, uint32_t pos);
void ReadAheadInserted(OpenFile& file);
void SetDataLength(Call& c, uint32_t n);
// Copies the record into the data buffer (22 when it does not all fit).
int16_t DeliverData(Call& c, const std::string& data);
// Writes key `key`'s value of the record into the key buffer.
void DeliverKey(Call& c, int key, const std::string& data);
// The caller's key value (the key buffer holds at least the key's length).
std::string KeyFromCaller(const Call& c, int key);
// Whether the caller's key buffer holds key `key` whole (a key number below
// 0 uses none): an operation whose key buffer is shorter answers 21 and
// reads, writes and returns nothing.
bool KeyBufferFits(const Call& c, int key);

}  // namespace recman
