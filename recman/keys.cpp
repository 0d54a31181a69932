// keys.cpp - create-buffer parsing, the Stat image, and sort-key encoding.
//
// The encoding turns every segment type into bytes whose memcmp order is the
// key's order, so that the indexes can be plain SQLite BLOB primary keys:
//   string           bytes as they are (through the collating table or upper
//                    case when the segment asks for it);
//   zero-terminated  bytes up to the first zero, then zeros to the length;
//   unsigned / binary little-endian turned big-endian;
//   signed integer   big-endian with the sign bit flipped;
//   descending       every byte of the encoded segment complemented.
// Each segment keeps its full length, so the concatenation of the segments
// compares segment by segment.
#include "recman/keys.h"

#include <cstring>

#include "platform/le.h"
#include "recman/recman.h"

namespace recman {

namespace {

constexpr uint16_t kConsistentFlags = KF_DUPLICATES | KF_MODIFIABLE | KF_NULL | KF_MANUAL;
constexpr int kMaxKeys = 119;
constexpr int kMaxSegments = 1024;

int16_t ParseSegment(const uint8_t* p, const FileSpec& spec, KeySegment& seg) {
  uint16_t position = GetLe16(p);
  seg.length = GetLe16(p + 2);
  seg.flags = GetLe16(p + 4);
  seg.nullValue = p[11];
  if (seg.length == 0 || seg.length > kMaxKeyLength) return B_KEY_LENGTH_ERROR;
  if (position == 0 || position - 1 + seg.length > spec.recordLength) return B_INVALID_KEY_POSITION;
  seg.offset = static_cast<uint16_t>(position - 1);
  if (seg.flags & KF_EXTENDED_TYPE) {
    seg.type = p[10];
    switch (seg.type) {
      case KT_STRING:
      case KT_ZSTRING: break;
      case KT_INTEGER:
      case KT_UNSIGNED:
        if (seg.length > 8) return B_KEY_LENGTH_ERROR;
        break;
      default: return B_KEY_TYPE_ERROR;
    }
  } else {
    seg.type = (seg.flags & KF_BINARY) ? KT_UNSIGNED : KT_STRING;
  }
  bool textual = seg.type == KT_STRING || seg.type == KT_ZSTRING;
  if ((seg.flags & (KF_ALT_COLLATING | KF_NO_CASE)) && !textual) return B_INCONSISTENT_KEY_FLAGS;
  if ((seg.flags & KF_ALT_COLLATING) && (seg.flags & KF_NO_CASE)) return B_INCONSISTENT_KEY_FLAGS;
  return B_OK;
}

uint8_t Translate(const FileSpec& spec, const KeySegment& seg, uint8_t c) {
  if (seg.flags & KF_ALT_COLLATING) return spec.acs[c];
  if ((seg.flags & KF_NO_CASE) && c >= 'a' && c <= 'z') return static_cast<uint8_t>(c - 32);
  return c;
}

void EncodeSegment(const FileSpec& spec, const KeySegment& seg, const uint8_t* in, uint8_t* out) {
  const unsigned n = seg.length;
  switch (seg.type) {
    case KT_INTEGER:
      for (unsigned i = 0; i < n; ++i) out[i] = in[n - 1 - i];
      out[0] ^= 0x80;
      break;
    case KT_UNSIGNED:
      for (unsigned i = 0; i < n; ++i) out[i] = in[n - 1 - i];
      break;
    case KT_ZSTRING: {
      bool ended = false;
      for (unsigned i = 0; i < n; ++i) {
        if (!ended && in[i] == 0) ended = true;
        out[i] = ended ? 0 : Translate(spec, seg, in[i]);
      }
      break;
    }
    default:
      for (unsigned i = 0; i < n; ++i) out[i] = Translate(spec, seg, in[i]);
      break;
  }
  if (seg.flags & KF_DESCENDING)
    for (unsigned i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(~out[i]);
}

bool SegmentIsNull(const KeySegment& seg, const uint8_t* record) {
  const uint8_t* p = record + seg.offset;
  for (unsigned i = 0; i < seg.length; ++i)
    if (p[i] != seg.nullValue) return false;
  return true;
}

}  // namespace

int16_t ParseCreateBuffer(const uint8_t* buffer, size_t length, FileSpec& spec) {
  spec = FileSpec{};
  if (buffer == nullptr || length < kCreateSpecSize) return B_DATA_BUFFER_TOO_SHORT;
  spec.recordLength = GetLe16(buffer);
  spec.pageSize = GetLe16(buffer + 2);
  unsigned keyCount = GetLe16(buffer + 4);  // byte 4 the count, byte 5 the version (0)
  spec.fileFlags = GetLe16(buffer + 10);
  spec.variableLength = (spec.fileFlags & kFileVariableLength) != 0;
  if (spec.recordLength == 0) return B_RECORD_LENGTH_ERROR;
  if (spec.pageSize < 512 || spec.pageSize > 16384 || spec.pageSize % 512 != 0) return B_PAGE_SIZE_ERROR;
  if (keyCount > kMaxKeys) return B_INVALID_KEY_COUNT;

  size_t at = kCreateSpecSize;
  int segments = 0;
  for (unsigned k = 0; k < keyCount; ++k) {
    KeyDef key;
    uint16_t first = 0;
    for (;;) {
      if (at + kCreateSpecSize > length) return B_DATA_BUFFER_TOO_SHORT;
      if (++segments > kMaxSegments) return B_INVALID_KEY_COUNT;
      KeySegment seg;
      int16_t st = ParseSegment(buffer + at, spec, seg);
      if (st != B_OK) return st;
      if (key.segments.empty()) {
        first = seg.flags;
      } else if ((seg.flags & kConsistentFlags) != (first & kConsistentFlags)) {
        return B_INCONSISTENT_KEY_FLAGS;
      }
      if (key.length + seg.length > kMaxKeyLength) return B_KEY_LENGTH_ERROR;
      key.length = static_cast<uint16_t>(key.length + seg.length);
      if (seg.flags & KF_ALT_COLLATING) spec.hasAcs = true;
      key.segments.push_back(seg);
      at += kCreateSpecSize;
      if (!(seg.flags & KF_SEGMENTED)) break;
    }
    key.duplicates = first & KF_DUPLICATES;
    key.modifiable = first & KF_MODIFIABLE;
    if (first & KF_MANUAL) key.nullMode = NullMode::kAnySegment;
    else if (first & KF_NULL) key.nullMode = NullMode::kAllSegments;
    spec.keys.push_back(std::move(key));
  }
  size_t end = at;
  if (spec.hasAcs) {
    if (at + kAcsSize > length) return B_INVALID_ACS;
    if (buffer[at] != kAcsSignature) return B_INVALID_ACS;
    std::memcpy(spec.acs, buffer + at + 9, 256);
    end += kAcsSize;
  }
  spec.image.assign(reinterpret_cast<const char*>(buffer), end);
  // Counters and reserved bytes are the engine's to fill in at Stat time.
  for (int i = 6; i < 10; ++i) spec.image[i] = 0;
  spec.image[5] = 0;
  spec.image[12] = spec.image[13] = spec.image[14] = spec.image[15] = 0;
  for (size_t s = kCreateSpecSize; s < at; s += kCreateSpecSize)
    for (int i = 6; i < 10; ++i) spec.image[s + i] = 0;
  return B_OK;
}

std::string BuildStatBuffer(const FileSpec& spec, uint32_t records) {
  std::string out = spec.image;
  PutLe32(out.data() + 6, records);
  return out;
}

void ExtractKeyValue(const KeyDef& key, const uint8_t* record, uint8_t* out) {
  for (const KeySegment& seg : key.segments) {
    std::memcpy(out, record + seg.offset, seg.length);
    out += seg.length;
  }
}

bool EncodeRecordKey(const FileSpec& spec, const KeyDef& key, const uint8_t* record, std::string& out) {
  if (key.nullMode != NullMode::kNone) {
    bool any = false, all = true;
    for (const KeySegment& seg : key.segments) {
      bool n = SegmentIsNull(seg, record);
      any = any || n;
      all = all && n;
    }
    if (key.nullMode == NullMode::kAllSegments ? all : any) return false;
  }
  out.resize(key.length);
  uint8_t* p = reinterpret_cast<uint8_t*>(out.data());
  for (const KeySegment& seg : key.segments) {
    EncodeSegment(spec, seg, record + seg.offset, p);
    p += seg.length;
  }
  return true;
}

void EncodeKeyValue(const FileSpec& spec, const KeyDef& key, const uint8_t* value, std::string& out) {
  out.resize(key.length);
  uint8_t* p = reinterpret_cast<uint8_t*>(out.data());
  for (const KeySegment& seg : key.segments) {
    EncodeSegment(spec, seg, value, p);
    value += seg.length;
    p += seg.length;
  }
}

void AppendSequence(std::string& sortKey, uint64_t sequence) {
  for (int i = 7; i >= 0; --i) sortKey.push_back(static_cast<char>((sequence >> (8 * i)) & 0xFF));
}

}  // namespace recman
