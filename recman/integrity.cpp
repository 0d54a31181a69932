// integrity.cpp - record checksums and the diagnostics of failed calls.
#include "recman/integrity.h"

#include <zlib.h>

#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "platform/le.h"
#include "recman/recman.h"
#include "recman/store.h"

namespace recman {

namespace {

// CRC-32 (the polynomial of zlib, PNG and Ethernet).  On a processor with
// carry-less multiplication (PCLMULQDQ, every x86-64 of the last decade) the
// bulk of a buffer is folded 64 bytes at a time, after Gopal et al., "Fast
// CRC Computation for Generic Polynomials Using PCLMULQDQ" (Intel, 2009).
// What is shorter than 64 bytes and the tail below 16 go eight bytes a step
// through tables (ShortCrc); a long buffer on any other processor through
// zlib's.  All give the same values: a record's stored checksum does not
// depend on the machine that wrote it.
uint32_t ZlibCrc(uint32_t crc, const void* bytes, size_t n) {
  return static_cast<uint32_t>(crc32(crc, static_cast<const Bytef*>(bytes), static_cast<uInt>(n)));
}

#if defined(__x86_64__)
inline __m128i Load(const uint8_t* q) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q)); }

// 128 bits folded forward by the distance `k` stands for, onto `next`.
__attribute__((target("pclmul,sse2"))) inline __m128i Fold(__m128i x, __m128i k, __m128i next) {
  __m128i lo = _mm_clmulepi64_si128(x, k, 0x00);
  __m128i hi = _mm_clmulepi64_si128(x, k, 0x11);
  return _mm_xor_si128(_mm_xor_si128(hi, lo), next);
}

// `crc` and the result are the bit-inverted running value (zlib's crc
// before its final complement); `n` >= 64 and a multiple of 16.
__attribute__((target("pclmul,sse2"))) uint32_t FoldCrc(uint32_t crc, const uint8_t* p, size_t n) {
  // The folding constants of the bit-reflected polynomial 0xEDB88320:
  // x^(4*128+32) and x^(4*128-32) mod P, x^(128+32) and x^(128-32) mod P,
  // x^64 mod P, then P itself and the Barrett constant floor(x^64 / P).
  alignas(16) static const uint64_t k1k2[] = {0x0154442bd4, 0x01c6e41596};
  alignas(16) static const uint64_t k3k4[] = {0x01751997d0, 0x00ccaa009e};
  alignas(16) static const uint64_t k5k0[] = {0x0163cd6124, 0x0000000000};
  alignas(16) static const uint64_t poly[] = {0x01db710641, 0x01f7011641};
  __m128i x1 = _mm_xor_si128(Load(p), _mm_cvtsi32_si128(static_cast<int>(crc)));
  __m128i x2 = Load(p + 16), x3 = Load(p + 32), x4 = Load(p + 48);
  p += 64;
  n -= 64;
  __m128i k = _mm_load_si128(reinterpret_cast<const __m128i*>(k1k2));
  for (; n >= 64; p += 64, n -= 64) {
    x1 = Fold(x1, k, Load(p));
    x2 = Fold(x2, k, Load(p + 16));
    x3 = Fold(x3, k, Load(p + 32));
    x4 = Fold(x4, k, Load(p + 48));
  }
  // Four lanes into one, then 16 bytes at a time.
  k = _mm_load_si128(reinterpret_cast<const __m128i*>(k3k4));
  x1 = Fold(x1, k, x2);
  x1 = Fold(x1, k, x3);
  x1 = Fold(x1, k, x4);
  for (; n >= 16; p += 16, n -= 16) x1 = Fold(x1, k, Load(p));
  // 128 bits to 64, then Barrett reduction to 32.
  const __m128i low32 = _mm_setr_epi32(~0, 0, ~0, 0);
  x2 = _mm_clmulepi64_si128(x1, k, 0x10);
  x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), x2);
  k = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(k5k0));
  x2 = _mm_srli_si128(x1, 4);
  x1 = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, low32), k, 0x00), x2);
  k = _mm_load_si128(reinterpret_cast<const __m128i*>(poly));
  x2 = _mm_and_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, low32), k, 0x10), low32);
  x2 = _mm_clmulepi64_si128(x2, k, 0x00);
  x1 = _mm_xor_si128(x1, x2);
  return static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(x1, 4)));
}

// Asked while static objects are made: the processor's description is
// read first, whatever order the constructors run in.
const bool gHasClmul = [] {
  __builtin_cpu_init();
  return __builtin_cpu_supports("pclmul") != 0;
}();
#endif

// Eight bytes a step from eight tables ("slicing by 8"), for the pieces
// too short for the folding or for a call into zlib to pay: a record's
// header, the tail below 16 bytes, the insertion numbers.
struct SliceTables {
  uint32_t t[8][256];
  constexpr SliceTables() : t() {
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[0][i] = c;
    }
    for (int k = 1; k < 8; ++k)
      for (uint32_t i = 0; i < 256; ++i) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
  }
};
constexpr SliceTables kSlices;

uint32_t ShortCrc(uint32_t crc, const uint8_t* p, size_t n) {
  const auto& t = kSlices.t;
  crc = ~crc;
  for (; n >= 8; p += 8, n -= 8) {
    uint32_t lo = GetLe32(p) ^ crc, hi = GetLe32(p + 4);
    crc = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
          t[3][hi & 0xFF] ^ t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
  }
  for (; n > 0; ++p, --n) crc = t[0][(crc ^ *p) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

uint32_t Crc(uint32_t crc, const void* bytes, size_t n) {
  const uint8_t* p = static_cast<const uint8_t*>(bytes);
#if defined(__x86_64__)
  if (gHasClmul && n >= 64) {
    const size_t bulk = n & ~size_t{15};
    crc = ~FoldCrc(~crc, p, bulk);
    p += bulk;
    n -= bulk;
  }
#endif
  return n < 64 ? ShortCrc(crc, p, n) : ZlibCrc(crc, p, n);
}

std::string Where(const OpenFile& file) { return file.dir->path + "/" + file.name; }

}  // namespace

uint32_t RecordChecksum(uint32_t pos, int64_t version, const std::string& data,
                        const std::string& sequences) {
  uint8_t head[16];
  PutLe32(head, pos);
  PutLe64(head + 4, static_cast<uint64_t>(version));
  PutLe32(head + 12, static_cast<uint32_t>(data.size()));
  uint32_t crc = Crc(0, head, sizeof head);
  crc = Crc(crc, data.data(), data.size());
  return Crc(crc, sequences.data(), sequences.size());
}

int16_t VerifyRow(OpenFile& file, const Row& row, int key) {
  if (row.checksum >= 0 &&
      RecordChecksum(row.pos, row.version, row.data, row.sequences) != static_cast<uint32_t>(row.checksum))
    return NoteFailure(B_IO_ERROR, file.dir,
                       "record " + std::to_string(row.pos) + " of " + Where(file) +
                           " does not match its checksum: the data folder is damaged");
  const FileSpec& spec = file.spec;
  bool lengthOk =
      spec.variableLength ? row.data.size() >= spec.recordLength : row.data.size() == spec.recordLength;
  if (!lengthOk)
    return NoteFailure(B_IO_ERROR, file.dir,
                       "record " + std::to_string(row.pos) + " of " + Where(file) + " has a length of " +
                           std::to_string(row.data.size()) + " bytes: the data folder is damaged");
  if (key >= 0 && static_cast<size_t>(key) < spec.keys.size() && !row.sortKey.empty()) {
    std::string entry;
    if (!IndexEntry(spec, static_cast<size_t>(key), reinterpret_cast<const uint8_t*>(row.data.data()),
                    row.sequences, entry) ||
        entry != row.sortKey)
      return NoteFailure(B_IO_ERROR, file.dir,
                         "the index of key " + std::to_string(key) + " of " + Where(file) +
                             " does not match record " + std::to_string(row.pos) +
                             ": the data folder is damaged");
  }
  return B_OK;
}

int16_t NoteFailure(int16_t status, const Directory* dir, const std::string& message, int osError,
                    const char* storage, int code, const std::string& path) {
  // The first failure of a call is the one that explains it: a rollback
  // after it must not put its own in its place.
  if (gRecman.diagnosticSet) return status;
  gRecman.diagnosticSet = true;
  gRecman.diagnostic = RecmanDiagnostic{};
  gRecman.diagnostic.status = status;
  gRecman.diagnostic.code = code;
  if (storage) gRecman.diagnostic.storage = storage;
  gRecman.diagnostic.osError = osError;
  gRecman.diagnostic.message = message;
  // The storage's log names the system call and the file behind an I/O
  // failure, which its own message does not.
  if (storage && !gRecman.storageLog.empty() && gRecman.storageLog != message)
    gRecman.diagnostic.message += "; " + gRecman.storageLog;
  if (dir) gRecman.diagnostic.folder = dir->path;
  gRecman.diagnostic.operation = gRecman.operation;
  gRecman.diagnostic.path = path;
  if (path.empty() && storage && dir)
    gRecman.diagnostic.path = dir->store ? dir->store->Where() : dir->path + "/" + kStoreName;
  return status;
}

int16_t NoteSystemFailure(int16_t status, const Directory* dir, const std::string& path, int osError) {
  return NoteFailure(status, dir, std::strerror(osError), osError, nullptr, 0, path);
}

void NoteStorageLog(int code, const char* line) {
  int primary = code & 0xFF;
  if (line && (primary == 10 /* SQLITE_IOERR */ || primary == 14 /* SQLITE_CANTOPEN */))
    gRecman.storageLog = line;
}

void ClearDiagnostic() {
  gRecman.diagnosticSet = false;
  gRecman.storageLog.clear();
}

}  // namespace recman

bool RecmanLastDiagnostic(RecmanDiagnostic& out) {
  std::lock_guard<std::mutex> guard(recman::gRecman.mutex);
  if (!recman::gRecman.diagnosticSet) return false;
  out = recman::gRecman.diagnostic;
  return true;
}

std::string RecmanDiagnosticText(const RecmanDiagnostic& d) {
  std::string head = d.operation;
  if (!d.path.empty()) head += (head.empty() ? "" : " ") + d.path;
  std::string text = head.empty() ? std::string() : head + ": ";
  if (!d.storage.empty()) {
    text += d.storage + " " + std::to_string(d.code) + " (" + d.message + ")";
  } else {
    text += d.message;
  }
  if (d.osError != 0 && d.message != std::strerror(d.osError))
    text += ", errno " + std::to_string(d.osError) + " (" + std::strerror(d.osError) + ")";
  else if (d.osError != 0) text += " (errno " + std::to_string(d.osError) + ")";
  if (d.path.empty() && !d.folder.empty()) text += ", folder " + d.folder;
  return text;
}
