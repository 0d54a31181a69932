// text.cpp - the text helpers of text.h.
#include "platform/text.h"

#include <charconv>
#include <cmath>

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n'; }

}  // namespace

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
