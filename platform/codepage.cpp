// codepage.cpp - code page 850 <-> Unicode, the only place where the
// program's byte texts meet the host's UTF-8, with the one UTF-8 decoder of
// the program (file names, the environment, the terminal's keys).
//
// One table gives the code point of every byte; the reverse map is built
// from it.  Bytes below 32 and 127 are control codes in text, but on the
// console they are the classic glyphs (the browse list's ◄ ► marks are the
// bytes 0x11 and 0x10), so the display direction has its own lookup.
#include <array>
#include <string_view>
#include <unordered_map>

#include "platform/platform.h"

namespace {

const char32_t kHigh[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,  // 80
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,  // 90
    0x00FF, 0x00D6, 0x00DC, 0x00F8, 0x00A3, 0x00D8, 0x00D7, 0x0192,
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,  // A0
    0x00BF, 0x00AE, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x00C1, 0x00C2, 0x00C0,  // B0
    0x00A9, 0x2563, 0x2551, 0x2557, 0x255D, 0x00A2, 0x00A5, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x00E3, 0x00C3,  // C0
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x00A4,
    0x00F0, 0x00D0, 0x00CA, 0x00CB, 0x00C8, 0x0131, 0x00CD, 0x00CE,  // D0
    0x00CF, 0x2518, 0x250C, 0x2588, 0x2584, 0x00A6, 0x00CC, 0x2580,
    0x00D3, 0x00DF, 0x00D4, 0x00D2, 0x00F5, 0x00D5, 0x00B5, 0x00FE,  // E0
    0x00DE, 0x00DA, 0x00DB, 0x00D9, 0x00FD, 0x00DD, 0x00AF, 0x00B4,
    0x00AD, 0x00B1, 0x2017, 0x00BE, 0x00B6, 0x00A7, 0x00F7, 0x00B8,  // F0
    0x00B0, 0x00A8, 0x00B7, 0x00B9, 0x00B3, 0x00B2, 0x25A0, 0x00A0,
};

// Console glyphs of the control codes 0..31.
const char32_t kLowGlyphs[32] = {
    0x0020, 0x263A, 0x263B, 0x2665, 0x2666, 0x2663, 0x2660, 0x2022, 0x25D8, 0x25CB, 0x25D9,
    0x2642, 0x2640, 0x266A, 0x266B, 0x263C, 0x25BA, 0x25C4, 0x2195, 0x203C, 0x00B6, 0x00A7,
    0x25AC, 0x21A8, 0x2191, 0x2193, 0x2192, 0x2190, 0x221F, 0x2194, 0x25B2, 0x25BC,
};

const std::unordered_map<char32_t, unsigned char>& ReverseMap() {
  static const std::unordered_map<char32_t, unsigned char> map = [] {
    std::unordered_map<char32_t, unsigned char> m;
    for (int b = 0; b < 128; ++b) m[static_cast<char32_t>(b)] = static_cast<unsigned char>(b);
    for (int b = 0; b < 128; ++b) m.emplace(kHigh[b], static_cast<unsigned char>(128 + b));
    for (int b = 1; b < 32; ++b) m.emplace(kLowGlyphs[b], static_cast<unsigned char>(b));
    m.emplace(0x2302, 127);
    return m;
  }();
  return map;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

char32_t Cp850ToUnicode(unsigned char byte) {
  if (byte >= 128) return kHigh[byte - 128];
  if (byte < 32) return kLowGlyphs[byte];
  if (byte == 127) return 0x2302;
  return byte;
}

unsigned char UnicodeToCp850(char32_t codePoint) {
  const auto& map = ReverseMap();
  auto it = map.find(codePoint);
  return it == map.end() ? 0 : it->second;
}

std::string Cp850ToUtf8(const std::string& text) {
  std::string out;
  out.reserve(text.size() + text.size() / 2);
  for (unsigned char c : text) {
    if (c < 128) out += static_cast<char>(c);  // control codes stay control codes in text
    else AppendUtf8(out, kHigh[c - 128]);
  }
  return out;
}

Utf8Status DecodeUtf8(std::string_view b, char32_t& codePoint, size_t& length) {
  if (b.empty()) return Utf8Status::kIncomplete;
  unsigned char c = static_cast<unsigned char>(b[0]);
  int extra;
  if (c < 0x80) {
    codePoint = c;
    length = 1;
    return Utf8Status::kOk;
  } else if (c >= 0xC2 && c <= 0xDF) {
    codePoint = c & 0x1F;
    extra = 1;
  } else if (c >= 0xE0 && c <= 0xEF) {
    codePoint = c & 0x0F;
    extra = 2;
  } else if (c >= 0xF0 && c <= 0xF4) {
    codePoint = c & 0x07;
    extra = 3;
  } else {
    return Utf8Status::kInvalid;
  }
  for (int i = 1; i <= extra; ++i) {
    if (static_cast<size_t>(i) >= b.size()) return Utf8Status::kIncomplete;
    unsigned char d = static_cast<unsigned char>(b[i]);
    if ((d & 0xC0) != 0x80) return Utf8Status::kInvalid;
    codePoint = (codePoint << 6) | (d & 0x3F);
  }
  if ((extra == 2 && codePoint < 0x800) || (extra == 3 && (codePoint < 0x10000 || codePoint > 0x10FFFF)) ||
      (codePoint >= 0xD800 && codePoint <= 0xDFFF))
    return Utf8Status::kInvalid;
  length = 1 + extra;
  return Utf8Status::kOk;
}

std::string Utf8ToCp850(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  std::string_view rest(text);
  while (!rest.empty()) {
    char32_t cp = 0;
    size_t length = 1;
    Utf8Status status = DecodeUtf8(rest, cp, length);
    if (status == Utf8Status::kIncomplete) {  // cut short at the end
      out += '?';
      break;
    }
    if (status == Utf8Status::kInvalid) {
      out += '?';  // a byte that starts no character, or a malformed form
      rest.remove_prefix(1);
      continue;
    }
    rest.remove_prefix(length);
    if (cp < 0x80) {
      out += static_cast<char>(cp);
      continue;
    }
    unsigned char b = UnicodeToCp850(cp);
    out += b ? static_cast<char>(b) : '?';
  }
  return out;
}
