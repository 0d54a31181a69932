// text.cpp - the text helpers of text.h.
#include "platform/text.h"

#include <charconv>
#include <cmath>

namespace {

// The field editor's tables as the suite documents them: one byte (two
// hexadecimal digits) per code from 64 to 237.
constexpr int kFirstFolded = 64, kLastFolded = 237;
constexpr char kUpperHex[] =
    "404142434445464748494a4b4c4d4e4f505152535455565758595a5b5c5d5e5f604142434445464748494a4b4c4d4e4f"
    "505152535455565758595a7b7c7d7e7f809a90b68eb78f80d2d3d4d8d7de8e8f909292e299e3eaeb98999a9b9c9d9e9f"
    "b5d6e0e9a5a5a6a7a8a9aaabacadaeafb0b1b2b3b4b5b6b7b8b9babbbcbdbebfc0c1c2c3c4c5c7c7c8c9cacbcccdcecf"
    "d1d1d2d3d4d5d6d7d8d9dadbdcdddedfe0e1e2e3e5e5e6e7e8e9eaebeded";
constexpr char kPlainLetterHex[] =
    "204142434445464748494a4b4c4d4e4f505152535455565758595a2020202020204142434445464748494a4b4c4d4e4f"
    "505152535455565758595a2020202020435545414141414345454549494941414541414f4f4f5555594f554f204f2020"
    "41494f554e4e414f20202020202020202020202020414141202020202020202020202020202041412020202020202020"
    "444445454545494949202020202049204f534f4f4f4f2054545555555959";

constexpr int HexDigit(char c) { return c <= '9' ? c - '0' : c - 'a' + 10; }

constexpr unsigned char FromTable(const char* hex, unsigned char c) {
  if (c < kFirstFolded || c > kLastFolded) return c;
  int at = 2 * (c - kFirstFolded);
  return static_cast<unsigned char>(HexDigit(hex[at]) * 16 + HexDigit(hex[at + 1]));
}
static_assert(sizeof kUpperHex == 2 * (kLastFolded - kFirstFolded + 1) + 1);
static_assert(sizeof kPlainLetterHex == sizeof kUpperHex);
static_assert(FromTable(kUpperHex, 'a') == 'A' && FromTable(kPlainLetterHex, 0xB7) == 'A');

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n'; }

}  // namespace

std::string TrimBlanks(const std::string& text) {
  size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return std::string();
  size_t last = text.find_last_not_of(' ');
  return text.substr(first, last - first + 1);
}

std::string TrimTrailingBlanks(const std::string& text) {
  size_t last = text.find_last_not_of(' ');
  return last == std::string::npos ? std::string() : text.substr(0, last + 1);
}

std::string FitToWidth(const std::string& text, int width) {
  size_t size = width > 0 ? static_cast<size_t>(width) : 0;
  std::string result = text.substr(0, size);
  result.resize(size, ' ');
  return result;
}

double NumericValue(const std::string& text) {
  // Blanks are skipped wherever they stand, as the BASIC VAL does.
  std::string number;
  bool negative = false, signSeen = false, pointSeen = false, digitSeen = false;
  for (char c : text) {
    if (IsBlank(c)) continue;
    if ((c == '-' || c == '+') && !signSeen && number.empty()) {
      signSeen = true;
      negative = c == '-';
    } else if (IsDigit(c)) {
      number += c;
      digitSeen = true;
    } else if (c == '.' && !pointSeen) {
      number += c;
      pointSeen = true;
    } else {
      break;
    }
    signSeen = true;
  }
  if (!digitSeen) return 0.0;
  double value = 0.0;
  auto result = std::from_chars(number.data(), number.data() + number.size(), value);
  if (result.ec == std::errc::result_out_of_range) {
    // Too large when a non-zero digit stands before the point, else too
    // small to be told from 0.
    size_t firstNonZero = number.find_first_not_of('0');
    bool large = firstNonZero != std::string::npos && number[firstNonZero] != '.';
    value = large ? HUGE_VAL : 0.0;
  } else if (result.ec != std::errc()) {
    value = 0.0;
  }
  if (value == 0.0) return 0.0;
  return negative ? -value : value;
}

unsigned char UpperCp850(unsigned char c) { return FromTable(kUpperHex, c); }

unsigned char PlainLetterCp850(unsigned char c) { return FromTable(kPlainLetterHex, c); }

std::string UpperCaseCp850(const std::string& text) {
  std::string upper = text;
  for (char& c : upper) c = static_cast<char>(UpperCp850(static_cast<unsigned char>(c)));
  return upper;
}
