// dates.h - packed dates and the date operations built on them: the short
// date text, typed-date parsing and validation, weekdays, date differences
// and the date text in the user's order, separator and language.
//
// A packed date is four packed digit pairs (input/packed.h):
// century, year, month, day (CCYYMMDD); the blank date has month and day 0.
//
// The user's formatting preferences (date separator and order, decimal and
// thousands characters) come from the user settings file KALROOT +
// "Vork.ini", section "Usuari", and are read once per run into
// `Preferences` (numbers.h uses the same struct).
//
// None of these operations fails: any input, however malformed, yields a
// result (non-digits count as 0, impossible dates give the blank date).
#pragma once
#include <string>

#include "input/packed.h"

struct FormatPreferences {
  char DatCaracter = 0;        // separator of numeric dates ("/")
  std::string DatOrdre;        // 3 letters, a permutation of D, M, A ("DMA")
  char DecCaracter = 0;        // decimal character of pictures ("'")
  char MilCaracter = 0;        // thousands character of pictures (".")
  bool datesLoaded = false;    // DatCaracter / DatOrdre read
  bool numbersLoaded = false;  // DecCaracter / MilCaracter read
};
extern FormatPreferences Preferences;

// Forgets the preferences, so that the next use reads the settings file
// again (for tests; the program reads them once).
void ResetFormatPreferences();
// Read the preferences now unless they are already loaded.
void LoadDatePreferences();
void LoadNumberPreferences();

// The decimal text of |value| zero-filled on the left and cut to its last
// `width` characters (meant for non-negative integers).
std::string ZeroPad(double value, int width);

// DDMMYY when the year lies within 50 years back and 49 ahead of the
// clock's year, else DDMMYYYY; "" for the blank date.
std::string DateShortText(const std::string& packed);
// A typed date (day, month, year; "7/4/23", "07.04.2023", "070423") as a
// packed date; the blank date when the text cannot be read.  Day and month
// are not checked against the calendar.
std::string ParseDate(const std::string& text);
// True when the typed text is not a real calendar date.
bool DateIsInvalid(const std::string& text);
// 1 = Monday ... 7 = Sunday (Julian calendar before 5 October 1582).
int WeekdayOf(const std::string& packed);

// ---- The calendar: the program's one computation of leap years, month
// lengths and day numbers.
// The leap rule in force: Julian (every fourth year) before 1582, Gregorian
// from 1582 on.  Day counts (DateDiff) follow it.
bool IsLeapYear(long long year);
// The Gregorian leap rule in every year, as typed dates and the calendar
// pop-up count February.
bool IsGregorianLeapYear(long long year);
// The days of `month` (1..12) of `year` by the rule in force.
int MonthLength(long long year, int month);
// The days of `month` (1..12) of `year` by the Gregorian rule.
int GregorianMonthLength(long long year, int month);
// Consecutive days of the Gregorian calendar (carried back before 1582) as
// consecutive numbers, 0 for 1 January 1970: day arithmetic and clocks.
long long DayNumber(long long year, int month, int day);
// The date of a DayNumber.
void DateOfDayNumber(long long number, long long& year, int& month, int& day);
// "D": days between the two packed dates; "M": months (days ignored);
// any other interval: 0.  Never negative, whatever the argument order.
long DateDiff(const std::string& interval, const std::string& a, const std::string& b);
// The date in the user's order: `parts` names the components wanted (d, m,
// a in any case); style 0 is numeric with the user's separator, padded to
// a fixed width ("dma" -> 10 characters); style 2 writes the month's name
// in the session's language.
std::string DateText(const std::string& parts, int style, const std::string& packed);
