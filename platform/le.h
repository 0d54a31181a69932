// le.h - little-endian numbers in byte buffers.
//
// The record manager's buffers, the record fields, the window save file, the
// browse index file and the lock files all keep their numbers low byte
// first; every file that reads or writes one calls these, so the byte order
// is written down once.  `p` points at the first byte (char, unsigned char
// or uint8_t buffers alike).
#pragma once
#include <cstdint>
#include <string>

inline uint16_t GetLe16(const void* p) {
  const auto* b = static_cast<const unsigned char*>(p);
  return static_cast<uint16_t>(b[0] | (b[1] << 8));
}

inline uint32_t GetLe32(const void* p) {
  const auto* b = static_cast<const unsigned char*>(p);
  return static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
         (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
}

inline uint64_t GetLe64(const void* p) {
  const auto* b = static_cast<const unsigned char*>(p);
  return static_cast<uint64_t>(GetLe32(b)) | (static_cast<uint64_t>(GetLe32(b + 4)) << 32);
}

inline void PutLe16(void* p, uint16_t value) {
  auto* b = static_cast<unsigned char*>(p);
  b[0] = static_cast<unsigned char>(value & 0xFF);
  b[1] = static_cast<unsigned char>(value >> 8);
}

inline void PutLe32(void* p, uint32_t value) {
  auto* b = static_cast<unsigned char*>(p);
  PutLe16(b, static_cast<uint16_t>(value & 0xFFFF));
  PutLe16(b + 2, static_cast<uint16_t>(value >> 16));
}

inline void PutLe64(void* p, uint64_t value) {
  auto* b = static_cast<unsigned char*>(p);
  PutLe32(b, static_cast<uint32_t>(value & 0xFFFFFFFFu));
  PutLe32(b + 4, static_cast<uint32_t>(value >> 32));
}

// The bytes of a 16-bit or 32-bit number, to append to a text.
inline std::string Le16Bytes(uint16_t value) {
  std::string bytes(2, '\0');
  PutLe16(bytes.data(), value);
  return bytes;
}

inline std::string Le32Bytes(uint32_t value) {
  std::string bytes(4, '\0');
  PutLe32(bytes.data(), value);
  return bytes;
}
