// listing.h - how the clerk's listings write amounts, dates, codes and
// fields (the balances listing, the settlement statements): one home for
// each, texts in code page 850.
#pragma once
#include <cstdint>
#include <string>

// Cents as euros: "1.234,56" (for people) or "1234.56" (for CSV).
std::string EuroText(long long cents, bool csv = false);
// DD/MM/YYYY of a packed date; "" for the blank date.
std::string DayText(const std::string& packed);
// HH:MM:SS of 3 packed bytes; "" when blank.
std::string ClockText(const std::string& packed);
// The 4 digits of a 2-byte packed property code ("0012"), and an owner
// code as "0012.0003".
std::string PropertyText(const std::string& packed);
std::string OwnerText(const std::string& packed);
// A percentage as people write it: "21,00 %" ("21.00" for CSV, no sign).
std::string PercentText(double percent, bool csv = false);
// A whole number with thousands points ("1.000.000").
std::string CountText(long long value);

std::string Trimmed(std::string text);  // trailing blanks and zero bytes cut
std::string RightAligned(const std::string& text, size_t width);
std::string LeftAligned(const std::string& text, size_t width);
// A CSV field in double quotes, quotes doubled.
std::string CsvField(const std::string& text);
// Text for an HTML page: & < > " escaped.
std::string HtmlText(const std::string& text);
// Stored text as a terminal may show it: control characters in caret
// notation ("^A", "^[", "^?" for 0x7F), so that a damaged record or station
// name never reaches the terminal as its own commands; line breaks kept
// when asked (a listing's own lines).
std::string VisibleText(const std::string& text, bool keepLineBreaks = false);
