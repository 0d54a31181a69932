// keys.h - file and key specifications, and the sort keys built from them.
//
// A file's layout arrives as the create buffer (a 16-byte file specification,
// one 16-byte specification per key segment, then the alternate collating
// sequence when a key uses one).  ParseCreateBuffer checks it and turns it
// into a FileSpec; BuildStatBuffer gives it back in the Stat layout.
//
// Every index stores, for each record, a sort key: the key's segments
// rewritten so that plain byte comparison (memcmp, which is also how SQLite
// orders BLOBs) follows the key's own order.  A key's sort key always has the
// key's full length, so a duplicate key can append an 8-byte big-endian
// insertion number and still sort by value first.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace recman {

struct KeySegment {
  uint16_t offset = 0;  // 0-based position in the record
  uint16_t length = 0;
  uint16_t flags = 0;
  uint8_t type = 0;  // RecmanKeyType, resolved from the flags
  uint8_t nullValue = 0;
};

enum class NullMode : uint8_t { kNone, kAllSegments, kAnySegment };

struct KeyDef {
  std::vector<KeySegment> segments;
  uint16_t length = 0;  // sum of the segment lengths
  bool duplicates = false;
  bool modifiable = false;
  NullMode nullMode = NullMode::kNone;
};

struct FileSpec {
  uint16_t recordLength = 0;
  uint16_t pageSize = 0;
  uint16_t fileFlags = 0;
  bool variableLength = false;
  std::vector<KeyDef> keys;
  bool hasAcs = false;
  uint8_t acs[256] = {};
  std::string image;  // the normalised create buffer, as Stat returns it
};

// Checks a create buffer of `length` bytes.  Returns 0 and fills `spec`, or
// the status that names the fault (24, 26, 27, 28, 29, 45, 48, 49, 22 for a
// buffer too short for what it announces).
int16_t ParseCreateBuffer(const uint8_t* buffer, size_t length, FileSpec& spec);

// The Stat data buffer: file specification with the record count, key
// specifications, alternate collating sequence.
std::string BuildStatBuffer(const FileSpec& spec, uint32_t records);

// The key's value as the caller sees it: its segments' bytes, concatenated.
void ExtractKeyValue(const KeyDef& key, const uint8_t* record, uint8_t* out);

// Sort key of a record's key.  Returns false when the record's key is null
// (the record stays out of that index).
bool EncodeRecordKey(const FileSpec& spec, const KeyDef& key, const uint8_t* record, std::string& out);

// Sort key of a key value given by a caller (segments concatenated).
void EncodeKeyValue(const FileSpec& spec, const KeyDef& key, const uint8_t* value, std::string& out);

// Index entry of a sort key: duplicate keys append the insertion number.
void AppendSequence(std::string& sortKey, uint64_t sequence);

}  // namespace recman
