// listing.cpp - amounts, dates, codes and fields of the clerk's listings.
#include "settle/listing.h"

#include <cmath>

#include "input/dates.h"

namespace {

std::string WithThousands(std::string digits) {
  for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3) digits.insert(static_cast<size_t>(i), ".");
  return digits;
}

unsigned long long Magnitude(long long v) {
  return v < 0 ? 0ULL - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
}

}  // namespace

std::string EuroText(long long cents, bool csv) {
  unsigned long long v = Magnitude(cents);
  std::string units = std::to_string(v / 100);
  std::string fraction = std::to_string(v % 100);
  if (fraction.size() < 2) fraction.insert(0, "0");
  if (!csv) units = WithThousands(units);
  return (cents < 0 ? "-" : "") + units + (csv ? "." : ",") + fraction;
}

std::string DayText(const std::string& packed) {
  std::string d = UnpackDigits(packed);
  if (d.size() != 8 || d.substr(4) == "0000") return std::string();
  return d.substr(6, 2) + "/" + d.substr(4, 2) + "/" + d.substr(0, 4);
}

std::string ClockText(const std::string& packed) {
  std::string t = UnpackDigits(packed);
  if (t.size() != 6) return std::string();
  return t.substr(0, 2) + ":" + t.substr(2, 2) + ":" + t.substr(4, 2);
}

std::string PropertyText(const std::string& packed) { return UnpackDigits(packed.substr(0, 2)); }

std::string OwnerText(const std::string& packed) {
  std::string d = UnpackDigits(packed.substr(0, 4));
  return d.size() == 8 ? d.substr(0, 4) + "." + d.substr(4, 4) : d;
}

std::string PercentText(double percent, bool csv) {
  long long hundredths = std::llround(percent * 100);
  std::string text = EuroText(hundredths, csv);
  return csv ? text : text + " %";
}

std::string CountText(long long value) {
  return (value < 0 ? "-" : "") + WithThousands(std::to_string(Magnitude(value)));
}

std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
  return text;
}

std::string RightAligned(const std::string& text, size_t width) {
  return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

std::string LeftAligned(const std::string& text, size_t width) {
  return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

std::string CsvField(const std::string& text) {
  std::string quoted = "\"";
  for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

std::string HtmlText(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string VisibleText(const std::string& text, bool keepLineBreaks) {
  std::string out;
  for (char c : text) {
    unsigned char b = static_cast<unsigned char>(c);
    if (b == '\n' && keepLineBreaks) {
      out += c;
    } else if (b < 0x20 || b == 0x7F) {
      out += '^';
      out += static_cast<char>(b == 0x7F ? '?' : b + 0x40);
    } else {
      out += c;
    }
  }
  return out;
}
