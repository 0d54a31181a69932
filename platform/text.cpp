// text.cpp - the text helpers of text.h.
#include "platform/text.h"

#include <charconv>
#include <cmath>

namespace {

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
