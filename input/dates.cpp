// dates.cpp - the date operations over packed dates.
//
// Calendar rules: the Julian leap rule (every fourth year) applies before
// 1582 and the Gregorian rule from 1582 on, so day counts and weekdays are
// true to the calendar in force on each side of the reform; the ten days
// dropped in October 1582 are still counted by `DateDiff` (no caller spans
// them), and `WeekdayOf` switches formula on 5 October 1582 so that 4 October
// (Thursday) is followed by 15 October (Friday).  Typed dates are checked
// with the Gregorian month lengths, as the calendar pop-up shows them.
//
// Everything here is arithmetic on bounded values: texts of any length and
// content are accepted, and year values taken from over-long packed texts
// are capped, so nothing loops for long or overflows.
#include "input/dates.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "platform/platform.h"
#include "platform/text.h"
#include "session/session.h"
#include "session/settings.h"

FormatPreferences Preferences;

namespace {

// Years taken from packed texts longer than a date are capped here; real
// dates have at most four year digits.
constexpr long long kYearCap = 999999999;

int DigitValue(char c) { return c >= '0' && c <= '9' ? c - '0' : 0; }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Floor division and a modulo that is never negative, for weekday
// arithmetic that may meet year 0.
long long FloorDiv(long long a, long long b) {
  long long q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}
long long FloorMod(long long a, long long b) { return a - FloorDiv(a, b) * b; }

// The value of a digit text, capped (the digits are already known to be
// digits only).
long long CappedValue(const std::string& digits, long long cap) {
  long long value = 0;
  for (char c : digits) {
    value = value * 10 + DigitValue(c);
    if (value > cap) return cap;
  }
  return value;
}

struct DateParts {
  long long year = 0;
  int month = 0;
  int day = 0;
};

bool Earlier(const DateParts& a, const DateParts& b) {
  if (a.year != b.year) return a.year < b.year;
  if (a.month != b.month) return a.month < b.month;
  return a.day < b.day;
}

// Year, month and day of a packed date: the last byte is the day, the one
// before it the month, all leading bytes the year.
DateParts PartsOf(const std::string& packed) {
  std::string digits = UnpackDigits(packed);
  DateParts parts;
  size_t n = digits.size();
  if (n >= 2) parts.day = static_cast<int>(CappedValue(digits.substr(n - 2), 99));
  if (n >= 4) parts.month = static_cast<int>(CappedValue(digits.substr(n - 4, 2), 99));
  if (n > 4) parts.year = CappedValue(digits.substr(0, n - 4), kYearCap);
  return parts;
}

// Number of leap years among first..last (none when first > last).
long long LeapYearsBetween(long long first, long long last) {
  if (first > last) return 0;
  long long count = 0;
  long long julianLast = std::min(last, 1581LL);
  if (first <= julianLast) count += FloorDiv(julianLast, 4) - FloorDiv(first - 1, 4);
  long long gregorianFirst = std::max(first, 1582LL);
  if (gregorianFirst <= last) {
    auto upTo = [](long long y) { return y / 4 - y / 100 + y / 400; };
    count += upTo(last) - upTo(gregorianFirst - 1);
  }
  return count;
}

long long MonthDaysBetween(int fromMonth, int toMonth, long long year) {
  long long days = 0;
  for (int m = fromMonth; m <= toMonth; ++m) days += MonthLength(year, m);
  return days;
}

// Days from `a` to `b`, `a` not later than `b`.
long long DaysBetween(const DateParts& a, const DateParts& b) {
  long long days = 0;
  if (a.year < b.year) {
    long long fullYears = b.year - a.year - 1;
    days += 365 * fullYears + LeapYearsBetween(a.year + 1, b.year - 1);
    days += MonthDaysBetween(a.month, 12, a.year);
    days += MonthDaysBetween(1, b.month - 1, b.year);
  } else {
    days += MonthDaysBetween(a.month, b.month - 1, a.year);
  }
  days += b.day - a.day;
  return days < 0 ? -days : days;
}

int CurrentYear() { return Now().year; }

// Reading of a typed date shared by ParseDate and DateIsInvalid.
struct TypedDate {
  bool invalid = false;
  long day = 0, month = 0, year = 0;
  bool yearComplete = false;  // typed with more than three characters
};

// The value of a piece made of digits and blanks (blanks skipped); false
// when it does not fit a signed 16-bit number.
bool PieceValue(const std::string& piece, long& value) {
  value = 0;
  for (char c : piece) {
    if (c == ' ') continue;
    value = value * 10 + DigitValue(c);
    if (value > 32767) return false;
  }
  return true;
}

TypedDate ReadTypedDate(const std::string& text) {
  TypedDate date;
  std::string pieces[3];
  int separators = 0;
  for (char c : text) {
    if (IsDigit(c) || c == ' ') {
      pieces[separators] += c;
    } else if ((c == '.' || c == '/' || c == '-') && separators < 2) {
      ++separators;
    } else {
      date.invalid = true;
      return date;
    }
  }
  std::string dayText, monthText, yearText;
  if (separators == 0) {
    const std::string& all = pieces[0];
    dayText = all.substr(0, 2);
    monthText = all.size() > 2 ? all.substr(2, 2) : "";
    yearText = all.size() > 4 ? all.substr(4) : "";
  } else if (separators == 2) {
    dayText = pieces[0];
    monthText = pieces[1];
    yearText = pieces[2];
  } else {
    date.invalid = true;
    return date;
  }
  if (!PieceValue(dayText, date.day) || !PieceValue(monthText, date.month) ||
      !PieceValue(yearText, date.year)) {
    date.invalid = true;
    return date;
  }
  date.yearComplete = TrimBlanks(yearText).size() > 3;
  return date;
}

// The decimal text of a non-negative value without leading zeros: exact
// digits for whole numbers, the shortest exact fraction otherwise (".5").
std::string MagnitudeText(double value) {
  if (!std::isfinite(value)) return "0";
  double magnitude = std::fabs(value);
  char buffer[512];
  if (magnitude == std::floor(magnitude)) {
    int n = std::snprintf(buffer, sizeof buffer, "%.0f", magnitude);
    return std::string(buffer, n > 0 ? static_cast<size_t>(n) : 0);
  }
  auto result = std::to_chars(buffer, buffer + sizeof buffer, magnitude, std::chars_format::fixed);
  std::string text(buffer, result.ptr);
  if (text.size() > 1 && text[0] == '0' && text[1] == '.') text.erase(0, 1);
  return text;
}

const char* const kMonthNames[4][12] = {
    // Catalan (any other language code)
    {"gener", "febrer", "mar\x87", "abril", "maig", "juny", "juliol", "agost", "setembre", "octubre",
     "novembre", "desembre"},
    // SPA
    {"enero", "febrero", "marzo", "abril", "mayo", "junio", "julio", "agosto", "septiembre", "octubre",
     "noviembre", "diciembre"},
    // GLG
    {"janeiro", "fevereiro", "mar\x87o", "abril", "maio", "junho", "julho", "agosto", "setembro", "outubro",
     "novembro", "dezembro"},
    // OCI
    {"g\x8Ar", "hereu\x8Ar", "mar\x87", "abriu", "mai", "junh", "junhsega", "agost", "seteme", "octobre",
     "noveme", "deseme"},
};

std::string MonthName(int month) {
  if (month < 1 || month > 12) return "";
  std::string code = TrimBlanks(Session.language).substr(0, 3);
  for (char& c : code)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  int table = 0;
  if (code == "SPA") table = 1;
  else if (code == "GLG") table = 2;
  else if (code == "OCI") table = 3;
  return kMonthNames[table][month - 1];
}

}  // namespace

// ---- Preferences -----------------------------------------------------------

void ResetFormatPreferences() { Preferences = FormatPreferences(); }

// A value from section "Usuari" of the user settings file.  Blanks around
// the value are dropped ("DatCaracter = -" means "-"); a value made only of
// blanks stands for the blank character itself.
static std::string UserSetting(const char* key) {
  std::string root = Session.root.empty() ? GetEnv("KALROOT") : Session.root;
  std::string value = GetIni(key, "Usuari", root + "Vork.ini");
  std::string trimmed = TrimBlanks(value);
  return trimmed.empty() ? value.substr(0, 1) : trimmed;
}

void LoadDatePreferences() {
  if (Preferences.datesLoaded) return;
  std::string separator = UserSetting("DatCaracter");
  Preferences.DatCaracter = separator.empty() ? '/' : separator[0];
  std::string order = UserSetting("DatOrdre");
  if (TrimBlanks(order).empty()) order = "DMA";
  for (char& c : order)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  order.resize(3, ' ');
  Preferences.DatOrdre = order;
  Preferences.datesLoaded = true;
}

void LoadNumberPreferences() {
  if (Preferences.numbersLoaded) return;
  std::string decimal = UserSetting("DecCaracter");
  Preferences.DecCaracter = decimal.empty() ? '\'' : decimal[0];
  std::string thousands = UserSetting("MilCaracter");
  Preferences.MilCaracter = thousands.empty() ? '.' : thousands[0];
  Preferences.numbersLoaded = true;
}

// ---- Zero padding ----------------------------------------------------------

std::string ZeroPad(double value, int width) {
  if (width <= 0) return "";
  if (width > 32767) width = 32767;
  std::string text = std::string(width, '0') + MagnitudeText(value);
  return text.substr(text.size() - width);
}

// ---- Date texts ------------------------------------------------------------

std::string DateShortText(const std::string& packed) {
  size_t n = packed.size();
  std::string dayByte = n >= 1 ? packed.substr(n - 1) : "";
  std::string monthByte = n >= 2 ? packed.substr(n - 2, 1) : "";
  std::string yearBytes = n >= 2 ? packed.substr(0, n - 2) : packed;
  long long day = CappedValue(UnpackDigits(dayByte), 99);
  long long month = CappedValue(UnpackDigits(monthByte), 99);
  if (day == 0 && month == 0) return "";
  std::string yearDigits = UnpackDigits(yearBytes);
  long long year = CappedValue(yearDigits, kYearCap);
  int current = CurrentYear();
  std::string text = ZeroPad(static_cast<double>(day), 2) + ZeroPad(static_cast<double>(month), 2);
  if (year >= current - 50 && year <= current + 49) return text + ZeroPad(static_cast<double>(year % 100), 2);
  // The last four digits of the year, exact even for over-long texts.
  std::string four = std::string(4, '0') + yearDigits;
  return text + four.substr(four.size() - 4);
}

std::string ParseDate(const std::string& text) {
  TypedDate date = ReadTypedDate(text);
  if (date.invalid) return PackDigits("00000000");
  long year = date.year;
  // A year typed short gets the century of the clock's year, moved into the
  // window [clock year - 50, clock year + 49].  A short year of 100 or more
  // ("7/4/999") already names its century and is taken as typed, as
  // DateIsInvalid checks it.
  if (!date.yearComplete && year < 100 && date.day > 0 && date.month > 0) {
    int current = CurrentYear();
    year = 100L * (current / 100) + year;
    if (year - current > 49) year -= 100;
    else if (current - year > 50) year += 100;
  }
  return PackDigits(ZeroPad(static_cast<double>(year), 4) + ZeroPad(static_cast<double>(date.month), 2) +
                    ZeroPad(static_cast<double>(date.day), 2));
}

bool DateIsInvalid(const std::string& text) {
  TypedDate date = ReadTypedDate(text);
  if (date.invalid) return true;
  long year = date.year;
  if (year < 100 && !date.yearComplete) {
    int current = CurrentYear();
    year = 100L * (current / 100) + year;
    if (year - current > 50) year -= 100;
    else if (current - year > 50) year += 100;
  }
  long number = year * 10000 + date.month * 100 + date.day;
  if (number > 15821004 && number < 15821015) return true;
  if (date.month < 1 || date.month > 12) return true;
  if (date.day < 1) return true;
  // Month lengths for typed dates follow the Gregorian rule in every year.
  return date.day > GregorianMonthLength(year, static_cast<int>(date.month));
}

// ---- Calendar arithmetic ---------------------------------------------------

long DateDiff(const std::string& interval, const std::string& a, const std::string& b) {
  std::string letter = interval;
  for (char& c : letter)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  DateParts first = PartsOf(a), second = PartsOf(b);
  if (Earlier(second, first)) std::swap(first, second);
  if (letter == "D") return static_cast<long>(DaysBetween(first, second));
  if (letter == "M") {
    long long months = 12 * (second.year - first.year) + (second.month - first.month);
    return static_cast<long>(months < 0 ? -months : months);
  }
  return 0;
}

int WeekdayOf(const std::string& packed) {
  DateParts date = PartsOf(packed);
  DateParts newYear{date.year, 1, 1};
  long long dayOfYear = Earlier(date, newYear) ? DaysBetween(date, newYear) : DaysBetween(newYear, date);
  long long y = date.year - 1;
  long long w;
  if (Earlier(date, DateParts{1582, 10, 5})) {
    w = FloorMod(FloorMod(y + FloorDiv(y, 4), 7) + 5 + dayOfYear, 7) + 1;
  } else {
    w = FloorMod(FloorMod(y + FloorDiv(y, 4) - FloorDiv(y, 100) + FloorDiv(y, 400), 7) + dayOfYear, 7) + 1;
  }
  return static_cast<int>(w);
}

bool IsLeapYear(long long year) { return year < 1582 ? FloorMod(year, 4) == 0 : IsGregorianLeapYear(year); }

bool IsGregorianLeapYear(long long year) {
  return FloorMod(year, 4) == 0 && (FloorMod(year, 100) != 0 || FloorMod(year, 400) == 0);
}

namespace {

// 31 for months 1, 3, 5, 7, 8, 10, 12 and 30 for the others; February apart.
int LengthOutsideFebruary(int month) { return 30 + ((1 + ((month + 1) % 9)) % 2); }

}  // namespace

int MonthLength(long long year, int month) {
  return month == 2 ? 28 + (IsLeapYear(year) ? 1 : 0) : LengthOutsideFebruary(month);
}

int GregorianMonthLength(long long year, int month) {
  return month == 2 ? 28 + (IsGregorianLeapYear(year) ? 1 : 0) : LengthOutsideFebruary(month);
}

// Counted in 400-year eras from 1 March of year 0, where the leap day falls
// at the end of a counted year (H. Hinnant's days_from_civil).
long long DayNumber(long long year, int month, int day) {
  long long y = year - (month <= 2 ? 1 : 0);
  long long era = FloorDiv(y, 400);
  long long yoe = y - era * 400;
  long long mp = (month + 9) % 12;
  long long doy = (153 * mp + 2) / 5 + day - 1;
  long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void DateOfDayNumber(long long number, long long& year, int& month, int& day) {
  long long z = number + 719468;
  long long era = FloorDiv(z, 146097);
  long long doe = z - era * 146097;
  long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  long long mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = yoe + era * 400 + (month <= 2 ? 1 : 0);
}

std::string DateText(const std::string& parts, int style, const std::string& packed) {
  LoadDatePreferences();
  std::string digits = UnpackDigits(packed);
  if (digits.size() < 8) digits = std::string(8 - digits.size(), '0') + digits;
  std::string yearText = digits.substr(0, 4);
  int month = static_cast<int>(CappedValue(digits.substr(4, 2), 99));
  int day = static_cast<int>(CappedValue(digits.substr(6, 2), 99));

  std::string wanted = parts;
  for (char& c : wanted)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  bool wantDay = wanted.find('D') != std::string::npos;
  bool wantMonth = wanted.find('M') != std::string::npos;
  bool wantYear = wanted.find('A') != std::string::npos;

  std::string text;
  if (month != 0 || day != 0) {
    bool first = true;
    for (char letter : Preferences.DatOrdre) {
      std::string component;
      if (letter == 'D' && wantDay) component = std::to_string(day);
      else if (letter == 'A' && wantYear) component = yearText;
      else if (letter == 'M' && wantMonth) component = style == 0 ? std::to_string(month) : MonthName(month);
      else continue;
      if (style == 0 && !first) text += Preferences.DatCaracter;
      text += component;
      first = false;
    }
  }
  if (style != 0) return text;
  long width =
      (wantMonth ? 2 : 0) + (wantYear ? 4 : 0) + (wantDay ? 2 : 0) + static_cast<long>(parts.size()) - 1;
  if (width < 0) width = 0;
  text.resize(static_cast<size_t>(width), ' ');
  return text;
}
