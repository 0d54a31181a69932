// numbers.cpp - pictures, plain number texts, typed-number checks and
// packed codes.
//
// Rounding of displayed amounts is half to even on the last shown decimal,
// computed on the double |v| * 10^D, as amounts are rounded everywhere in
// the suite.  Plain number texts are the shortest texts that read back as
// the same double.  Non-finite values and values far beyond any picture never
// loop or overflow: they come out as "!" characters in pictures and as
// "INF"/"NAN" in plain texts.
#include "input/numbers.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n'; }

// The exact decimal digits of a whole, finite, non-negative double ("" for
// 0).  The largest double has 309 digits.
std::string WholeDigits(double x) {
  if (x == 0) return "";
  char buffer[400];
  int n = std::snprintf(buffer, sizeof buffer, "%.0f", x);
  if (n <= 0 || static_cast<size_t>(n) >= sizeof buffer) return "";
  return std::string(buffer, static_cast<size_t>(n));
}

// The digits of a code group's numeric value: blanks skipped, an optional
// sign dropped, digits up to the first other character, leading zeros
// removed.  Taken from the text rather than through a double, so that the
// last digits of a long group stay exact.
std::string GroupDigits(const std::string& group) {
  std::string digits;
  bool signSeen = false;
  for (char c : group) {
    if (IsBlank(c)) continue;
    if ((c == '-' || c == '+') && !signSeen && digits.empty()) {
      signSeen = true;
      continue;
    }
    if (!IsDigit(c)) break;
    signSeen = true;
    if (digits.empty() && c == '0') continue;
    digits += c;
  }
  return digits;
}

}  // namespace

std::string FormatPicture(const std::string& picture, double value) {
  LoadNumberPreferences();
  const size_t length = picture.size();
  int decimals = 0;
  size_t point = picture.find('.');
  if (point != std::string::npos)
    for (size_t i = point + 1; i < length; ++i)
      if (picture[i] == '9') ++decimals;

  bool negative = value < 0;
  double magnitude = std::fabs(value);
  double x = magnitude == 0 ? 0.0 : std::nearbyint(magnitude * std::pow(10.0, decimals));
  if (!std::isfinite(x)) return std::string(length, '!');
  std::string digits = WholeDigits(x);

  std::string text(length, ' ');
  size_t used = 0;  // digits placed, from the right
  for (size_t i = length; i-- > 0;) {
    char c = picture[i];
    bool digitsLeft = used < digits.size();
    switch (c) {
      case '9':
      case 'Z':
        if (digitsLeft) text[i] = digits[digits.size() - 1 - used++];
        else text[i] = c == '9' ? '0' : ' ';
        break;
      case ',':
        if (digitsLeft || (i + 1 < length && picture[i + 1] == '9')) text[i] = Preferences.MilCaracter;
        else text[i] = ' ';
        break;
      case '.': text[i] = Preferences.DecCaracter; break;
      case '-': text[i] = negative ? '-' : ' '; break;
      default: text[i] = c; break;
    }
  }
  if (used >= digits.size()) return text;

  // Too many digits for the picture: the plain number, right-aligned.
  size_t decimalCount = static_cast<size_t>(decimals);
  std::string integerDigits = digits.substr(0, digits.size() - std::min(decimalCount, digits.size()));
  if (length < integerDigits.size() + (negative ? 1 : 0)) return std::string(length, '!');
  std::string plain = (negative ? "-" : "") + integerDigits;
  if (decimals > 0) {
    std::string fraction = std::string(decimalCount, '0') + digits;
    plain += Preferences.DecCaracter;
    plain += fraction.substr(fraction.size() - decimalCount);
  }
  if (plain.size() >= length) return plain.substr(0, length);
  return std::string(length - plain.size(), ' ') + plain;
}

std::string PlainNumberText(double value) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
  if (value == 0) return "";
  // The shortest decimal text that reads back as the same double.  Shifting
  // the point by repeated multiplication by 10 would carry the binary
  // error of each product into the text (0.07 would become
  // .07000000000000001), so the digits come from the shortest round-trip
  // conversion instead.
  char buffer[512];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value), std::chars_format::fixed);
  if (result.ec != std::errc()) return "";
  std::string text(buffer, result.ptr);
  if (text.size() > 1 && text[0] == '0' && text[1] == '.') text.erase(0, 1);
  return (value < 0 ? "-" : "") + text;
}

bool NumberTextIsInvalid(const std::string& text, const std::string& allowed) {
  bool pointAllowed = allowed.find('.') != std::string::npos;
  bool signAllowed = allowed.find_first_of("-+") != std::string::npos;
  bool pointSeen = false, signClosed = false;
  for (char c : text) {
    if (c == ' ') continue;
    if (IsDigit(c)) {
      signClosed = true;
    } else if (c == '.') {
      if (!pointAllowed || pointSeen) return true;
      pointSeen = signClosed = true;
    } else if (c == '+' || c == '-') {
      if (signClosed || !signAllowed) return true;
      signClosed = true;
    } else {
      return true;
    }
  }
  return false;
}

bool NumberOutOfRange(const std::string& text, double minimum, double maximum, int decimals) {
  // A range that is not a pair of numbers accepts nothing.
  if (std::isnan(minimum) || std::isnan(maximum)) return true;
  if (maximum < minimum || decimals < 0 || decimals > 16) return true;
  std::string allowed;
  if (decimals > 0) allowed += '.';
  if (minimum < 0) allowed += '-';
  if (NumberTextIsInvalid(text, allowed)) return true;
  double scale = std::pow(10.0, decimals);
  double value = std::floor(NumericValue(text) * scale + 0.5);
  double low = std::floor(minimum * scale);
  double high = std::floor(maximum * scale + 0.5);
  return value < low || value > high;
}

std::string PackCode(const std::string& code) {
  size_t points = 0;
  for (char c : code)
    if (c == '.') ++points;
  size_t firstWidth = (code.size() == 6 && points == 0) || (code.size() == 11 && points < 2) ? 6 : 4;

  std::vector<std::string> groups(1);
  for (char c : code) {
    if (c == '.') groups.emplace_back();
    else groups.back() += c;
  }
  if (groups.back().find_first_not_of(' ') == std::string::npos) groups.pop_back();

  std::string joined;
  for (size_t i = 0; i < groups.size(); ++i) {
    size_t width = i == 0 ? firstWidth : 4;
    std::string digits = std::string(width, '0') + GroupDigits(groups[i]);
    joined += digits.substr(digits.size() - width);
  }
  return PackDigits(joined);
}
