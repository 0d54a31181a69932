// calendar.cpp - the pop-up calendar.
//
// A framed window on the right of the screen (rows 1-24, columns 59-80)
// shows one quarter of a year: the year on the first row, then three
// blocks of seven rows, one per month, each a title row with the month's
// name and six week rows with the day numbers under their weekdays.  The
// weekday initials head the columns in the window's top border.  The
// selected day is drawn in the bar colours (scheme "u").
//
// Month lengths are the Gregorian ones, as typed dates count them, and day
// arithmetic runs on the day numbers of dates.h, so moving across months
// and years needs no special cases; weekdays are WeekdayOf's (the Julian
// calendar's before October 1582).  The shown quarter follows the selected
// date.
#include "screen/calendar.h"

#include <algorithm>
#include <cstdio>

#include "input/dates.h"
#include "input/keys.h"
#include "platform/console.h"
#include "platform/platform.h"
#include "screen/windows.h"
#include "session/session.h"

namespace {

constexpr int kTop = 1, kLeft = 59, kBottom = 24, kRight = 80;
constexpr int kInnerWidth = kRight - kLeft - 1;  // 20: seven day columns of 3
constexpr int kFirstYear = 1, kLastYear = 9999;  // what a packed date holds

struct CalendarDate {
  int year = 2000, month = 1, day = 1;
};

std::string Packed(const CalendarDate& d) {
  return PackDigits(ZeroPad(d.year, 4) + ZeroPad(d.month, 2) + ZeroPad(d.day, 2));
}

bool IsCalendarDate(const CalendarDate& d) {
  return d.year >= kFirstYear && d.year <= kLastYear && d.month >= 1 && d.month <= 12 && d.day >= 1 &&
         d.day <= GregorianMonthLength(d.year, d.month);
}

// The session date, or the computer's date when the session has none.
CalendarDate StartDate() {
  std::string digits = UnpackDigits(Session.date);
  CalendarDate d;
  if (digits.size() == 8) {
    d.year = std::stoi(digits.substr(0, 4));
    d.month = std::stoi(digits.substr(4, 2));
    d.day = std::stoi(digits.substr(6, 2));
    if (IsCalendarDate(d)) return d;
  }
  LocalTime now = Now();
  d.year = now.year;
  d.month = now.month;
  d.day = now.day;
  if (!IsCalendarDate(d)) d = CalendarDate{};
  return d;
}

int QuarterStart(int month) { return ((month - 1) / 3) * 3 + 1; }

std::string WeekdayHeader() {
  std::string code = Session.language.substr(0, 3);
  if (code == "SPA" || code == "GLG") return " L  M  X  J  V  S  D";
  if (code == "OCI") return "DL DT DC DJ DD DS DG";
  return "DL DT DC DJ DV DS DG";
}

void WriteAt(int column, int row, const std::string& text) {
  WinLocate(column, row);
  WriteText(text);
}

std::string Centred(const std::string& text, int width) {
  std::string cut = text.substr(0, static_cast<size_t>(width));
  int before = (width - static_cast<int>(cut.size())) / 2;
  std::string line = std::string(static_cast<size_t>(before), ' ') + cut;
  line.resize(static_cast<size_t>(width), ' ');
  return line;
}

void DrawMonth(int year, int month, int firstRow, const CalendarDate& selected) {
  CalendarDate first{year, month, 1};
  SetColourScheme("n");
  WriteAt(1, firstRow, Centred(FoldText(DateText("m", 2, Packed(first))), kInnerWidth));
  for (int week = 1; week <= 6; ++week) WriteAt(1, firstRow + week, std::string(kInnerWidth, ' '));
  int firstWeekday = WeekdayOf(Packed(first));
  int length = GregorianMonthLength(year, month);
  for (int day = 1; day <= length; ++day) {
    int weekday = (firstWeekday - 1 + day - 1) % 7 + 1;
    int row = firstRow + 1 + (firstWeekday + day - 2) / 7;
    bool isSelected = month == selected.month && day == selected.day && year == selected.year;
    SetColourScheme(isSelected ? "u" : "n");
    char number[12];
    std::snprintf(number, sizeof number, "%2d", day);
    WriteAt(3 * weekday - 2, row, number);
  }
  SetColourScheme("n");
}

void DrawQuarter(const CalendarDate& selected) {
  SetColourScheme("n");
  WriteAt(1, 0, WeekdayHeader());
  char year[8];
  std::snprintf(year, sizeof year, " %4d ", selected.year);
  WriteAt(1, 1, Centred(year, kInnerWidth));
  int firstMonth = QuarterStart(selected.month);
  for (int block = 0; block < 3; ++block)
    DrawMonth(selected.year, firstMonth + block, 2 + 7 * block, selected);
}

CalendarDate MoveDays(const CalendarDate& d, int days) {
  long long year = 0;
  CalendarDate moved;
  DateOfDayNumber(DayNumber(d.year, d.month, d.day) + days, year, moved.month, moved.day);
  if (year < kFirstYear || year > kLastYear) return d;
  moved.year = static_cast<int>(year);
  return IsCalendarDate(moved) ? moved : d;
}

CalendarDate MoveMonths(const CalendarDate& d, int months) {
  int index = d.year * 12 + (d.month - 1) + months;
  CalendarDate moved;
  moved.year = index / 12;
  moved.month = index % 12 + 1;
  if (moved.year < kFirstYear || moved.year > kLastYear) return d;
  moved.day = std::min(d.day, GregorianMonthLength(moved.year, moved.month));
  return moved;
}

CalendarDate WithMonth(const CalendarDate& d, int month) {
  CalendarDate moved{d.year, month, std::min(d.day, GregorianMonthLength(d.year, month))};
  return moved;
}

}  // namespace

std::string CalendarPopup() {
  KeySet("+ea", "4d00,4b00,5000,4800,5100,4900,4700,4f00,2100,1b");
  ConsoleShowCursor(false);
  SetColourScheme("+n");
  bool opened = OpenWindow(kTop, kLeft, kBottom, kRight);

  std::string result;
  if (opened) {
    DrawFrame(1);
    CalendarDate date = StartDate();
    for (;;) {
      DrawQuarter(date);
      KeyCode key = 0;
      WaitKey(key);
      if (key == kKeyEsc) break;
      if (key == 'F' || key == 'f' || key == kKeyAltF) {
        result = DateText("dma", 0, Packed(date));
        break;
      }
      switch (key) {
        case kKeyRight: date = MoveDays(date, 1); break;
        case kKeyLeft: date = MoveDays(date, -1); break;
        case kKeyDown: date = MoveDays(date, 7); break;
        case kKeyUp: date = MoveDays(date, -7); break;
        case kKeyPgDn: date = MoveMonths(date, 3); break;
        case kKeyPgUp: date = MoveMonths(date, -3); break;
        case kKeyHome: date = WithMonth(date, 1); break;
        case kKeyEnd: date = WithMonth(date, 12); break;
        default: break;  // any other key is ignored
      }
    }
    CloseWindow();
  }
  ConsoleShowCursor(true);
  SetColourScheme("-");
  KeySet("-", "");
  return result;
}
