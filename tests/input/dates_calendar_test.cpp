// Calendar arithmetic: DateDiff and WeekdayOf, checked against the standard
// library's Gregorian calendar for every day of 1583..2600 and against a
// Julian day number formula for every day of 1000..1582.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "input/dates.h"

namespace {

std::string Packed(int year, int month, int day) {
  std::string text;
  for (int v : {year / 100, year % 100, month, day}) text += static_cast<char>(128 + v);
  return text;
}

std::string Name(int year, int month, int day) {
  char text[48];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", year, month, day);
  return text;
}

// Julian day number of a date of the Julian calendar (1 Jan 4713 BC = 0).
long JulianDayNumber(long year, long month, long day) {
  long a = (14 - month) / 12;
  long y = year + 4800 - a;
  long m = month + 12 * a - 3;
  return day + (153 * m + 2) / 5 + 365 * y + y / 4 - 32083;
}

TEST(DateDiff, CountsDaysAcrossYearEndsAndLeapRules) {
  struct Case {
    std::string a, b;
    long days;
  } cases[] = {
      {Packed(2023, 12, 31), Packed(2024, 1, 1), 1},
      {Packed(2024, 1, 1), Packed(2023, 12, 31), 1},  // arguments swapped
      {Packed(1500, 2, 1), Packed(1501, 2, 1), 366},  // Julian: 1500 is a leap year
      {Packed(1700, 2, 1), Packed(1701, 2, 1), 365},
      {Packed(2000, 2, 1), Packed(2001, 2, 1), 366},
      {Packed(1582, 10, 4), Packed(1582, 10, 15), 11},  // the dropped days still count
      {Packed(2023, 4, 7), Packed(2023, 4, 7), 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DateDiff("D", c.a, c.b), c.days)
        << "days " << DateShortText(c.a) << " .. " << DateShortText(c.b);
    EXPECT_EQ(DateDiff("d", c.a, c.b), c.days) << "lower-case interval";
  }
  // Over the whole range of four-digit years: the proleptic Gregorian count
  // plus the 12 Julian leap days of 100, 200, 300, 500 ... 1500.
  using namespace std::chrono;
  long gregorian = (sys_days{9999y / 12 / 31} - sys_days{1y / 1 / 1}).count();
  EXPECT_EQ(DateDiff("D", Packed(1, 1, 1), Packed(9999, 12, 31)), gregorian + 12);
}

TEST(DateDiff, CountsMonthsIgnoringDays) {
  struct Case {
    std::string a, b;
    long months;
  } cases[] = {
      {Packed(2023, 1, 31), Packed(2023, 2, 1), 1},   {Packed(2022, 3, 15), Packed(2023, 2, 14), 11},
      {Packed(2023, 2, 14), Packed(2022, 3, 15), 11}, {Packed(2023, 5, 1), Packed(2023, 5, 31), 0},
      {Packed(1999, 12, 1), Packed(2024, 1, 1), 289},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DateDiff("M", c.a, c.b), c.months) << DateShortText(c.a) << " .. " << DateShortText(c.b);
    EXPECT_EQ(DateDiff("m", c.a, c.b), c.months) << "lower-case interval";
  }
}

TEST(DateDiff, OtherIntervalsAndMalformedDatesGiveNoSign) {
  EXPECT_EQ(DateDiff("Y", Packed(2000, 1, 1), Packed(2024, 1, 1)), 0);
  EXPECT_EQ(DateDiff("", Packed(2000, 1, 1), Packed(2024, 1, 1)), 0);
  EXPECT_EQ(DateDiff("DD", Packed(2000, 1, 1), Packed(2024, 1, 1)), 0);
  const std::string odd[] = {"",
                             std::string(1, '\x85'),
                             std::string(3, '\x99'),
                             std::string(1000, '\xE3'),
                             std::string(4, '\0'),
                             std::string(4, '\xFF'),
                             Packed(2023, 0, 0)};
  for (const std::string& a : odd)
    for (const std::string& b : odd)
      for (const char* interval : {"D", "M"}) {
        long result = DateDiff(interval, a, b);
        EXPECT_GE(result, 0) << interval << " sizes " << a.size() << ", " << b.size();
        EXPECT_EQ(result, DateDiff(interval, b, a))
            << "order matters for sizes " << a.size() << ", " << b.size();
      }
}

TEST(WeekdayOf, KnownDaysAroundTheCalendarReform) {
  struct Case {
    int year, month, day, weekday;
  } cases[] = {
      {1582, 10, 4, 4},                                   // Thursday, last Julian day
      {1582, 10, 15, 5},                                  // Friday, first Gregorian day
      {2001, 1, 1, 1},   {2024, 2, 29, 4}, {1, 1, 1, 6},  // Saturday in the Julian calendar
      {9999, 12, 31, 5},
  };
  for (const Case& c : cases)
    EXPECT_EQ(WeekdayOf(Packed(c.year, c.month, c.day)), c.weekday) << Name(c.year, c.month, c.day);
}

TEST(WeekdayOf, AlwaysBetweenOneAndSevenForAnyText) {
  std::mt19937 random(7);
  for (int i = 0; i < 20000; ++i) {
    std::string text(random() % 9, ' ');
    for (char& c : text) c = static_cast<char>(random() % 256);
    int w = WeekdayOf(text);
    ASSERT_GE(w, 1) << "length " << text.size();
    ASSERT_LE(w, 7) << "length " << text.size();
  }
  EXPECT_GE(WeekdayOf(""), 1);
  EXPECT_LE(WeekdayOf(std::string(1000, '\x99')), 7);
}

TEST(CalendarGregorian, EveryDayFrom1582ReformTo2600) {
  using namespace std::chrono;
  std::string previous;
  int failures = 0;
  std::string first;
  auto fail = [&](const std::string& what) {
    if (failures++ == 0) first = what;
  };
  for (sys_days d = sys_days{1582y / 10 / 15}; d <= sys_days{2600y / 12 / 31}; d += days{1}) {
    year_month_day ymd{d};
    int y = int(ymd.year());
    int m = int(unsigned(ymd.month()));
    int dd = int(unsigned(ymd.day()));
    std::string packed = Packed(y, m, dd);
    std::string name = Name(y, m, dd);
    if (WeekdayOf(packed) != int(weekday{d}.iso_encoding())) fail("weekday of " + name);
    long fromNewYear = (d - sys_days{ymd.year() / 1 / 1}).count();
    if (DateDiff("D", Packed(y, 1, 1), packed) != fromNewYear) fail("days from 1 January to " + name);
    if (!previous.empty() && DateDiff("D", previous, packed) != 1) fail("days from the day before " + name);
    if (dd == 1 && m == 1) {
      long yearLength = (sys_days{(ymd.year() + years{1}) / 1 / 1} - d).count();
      if (DateDiff("D", packed, Packed(y + 1, 1, 1)) != yearLength) fail("length of year " + name);
    }
    previous = packed;
  }
  EXPECT_EQ(failures, 0) << "first failure: " << first;
}

TEST(CalendarGregorian, DayCountsBetweenRandomDatesMatch) {
  using namespace std::chrono;
  std::mt19937 random(1583);
  const sys_days low = sys_days{1582y / 10 / 15};
  const int span = (sys_days{2600y / 12 / 31} - low).count();
  for (int i = 0; i < 20000; ++i) {
    sys_days a = low + days{random() % span}, b = low + days{random() % span};
    year_month_day ya{a}, yb{b};
    std::string pa = Packed(int(ya.year()), unsigned(ya.month()), unsigned(ya.day()));
    std::string pb = Packed(int(yb.year()), unsigned(yb.month()), unsigned(yb.day()));
    long expected = std::abs((b - a).count());
    ASSERT_EQ(DateDiff("D", pa, pb), expected) << DateShortText(pa) << " .. " << DateShortText(pb);
    long months = std::abs(12 * (int(yb.year()) - int(ya.year())) +
                           (int(unsigned(yb.month())) - int(unsigned(ya.month()))));
    ASSERT_EQ(DateDiff("M", pa, pb), months) << DateShortText(pa) << " .. " << DateShortText(pb);
  }
}

TEST(CalendarJulian, EveryDayFrom1000To4October1582) {
  const int monthLength[] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  std::string previous;
  int failures = 0;
  std::string first;
  auto fail = [&](const std::string& what) {
    if (failures++ == 0) first = what;
  };
  for (int y = 1000; y <= 1582; ++y) {
    bool leap = y % 4 == 0;
    for (int m = 1; m <= 12; ++m) {
      int length = monthLength[m] + (m == 2 && leap ? 1 : 0);
      for (int d = 1; d <= length; ++d) {
        if (y == 1582 && (m > 10 || (m == 10 && d > 4))) break;
        std::string packed = Packed(y, m, d);
        std::string name = Name(y, m, d);
        long jdn = JulianDayNumber(y, m, d);
        if (WeekdayOf(packed) != jdn % 7 + 1) fail("weekday of " + name);
        if (DateDiff("D", Packed(y, 1, 1), packed) != jdn - JulianDayNumber(y, 1, 1))
          fail("days from 1 January to " + name);
        if (!previous.empty() && DateDiff("D", previous, packed) != 1)
          fail("days from the day before " + name);
        previous = packed;
      }
    }
  }
  EXPECT_EQ(failures, 0) << "first failure: " << first;
  // 29 February exists in the Julian century years the Gregorian rule drops.
  for (int y : {1100, 1300, 1500}) EXPECT_EQ(DateDiff("D", Packed(y, 2, 28), Packed(y, 3, 1)), 2) << y;
}

TEST(CalendarJulian, DayCountsBetweenRandomDatesMatch) {
  std::mt19937 random(1000);
  for (int i = 0; i < 20000; ++i) {
    int y1 = 4 + random() % 1577, y2 = 4 + random() % 1577;
    int m1 = 1 + random() % 12, m2 = 1 + random() % 12;
    int d1 = 1 + random() % 28, d2 = 1 + random() % 28;
    long expected = std::abs(JulianDayNumber(y2, m2, d2) - JulianDayNumber(y1, m1, d1));
    ASSERT_EQ(DateDiff("D", Packed(y1, m1, d1), Packed(y2, m2, d2)), expected)
        << Name(y1, m1, d1) << " .. " << Name(y2, m2, d2);
  }
}

TEST(Calendar, LeapRulesAndMonthLengths) {
  struct Case {
    long long year;
    bool leap, gregorianLeap;
  } const cases[] = {
      {1500, true, false},  // Julian before 1582: every fourth year
      {1580, true, true},   {1582, false, false}, {1600, true, true},   {1700, false, false},
      {1900, false, false}, {2000, true, true},   {2023, false, false}, {2024, true, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsLeapYear(c.year), c.leap) << c.year;
    EXPECT_EQ(IsGregorianLeapYear(c.year), c.gregorianLeap) << c.year;
    EXPECT_EQ(MonthLength(c.year, 2), c.leap ? 29 : 28) << c.year;
    EXPECT_EQ(GregorianMonthLength(c.year, 2), c.gregorianLeap ? 29 : 28) << c.year;
  }
  const int lengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  for (int m = 1; m <= 12; ++m) {
    EXPECT_EQ(MonthLength(2023, m), lengths[m - 1]) << m;
    EXPECT_EQ(GregorianMonthLength(2023, m), lengths[m - 1]) << m;
  }
}

TEST(Calendar, DayNumbersCountConsecutiveGregorianDays) {
  EXPECT_EQ(DayNumber(1970, 1, 1), 0);
  EXPECT_EQ(DayNumber(2000, 3, 1) - DayNumber(2000, 2, 28), 2);
  EXPECT_EQ(DayNumber(1900, 3, 1) - DayNumber(1900, 2, 28), 1);
  EXPECT_EQ(DayNumber(1969, 12, 31), -1);
  // Against the standard library's calendar, and back, over the years a
  // packed date holds.
  for (int year = 1; year <= 9999; year += 7) {
    for (int month = 1; month <= 12; month += 5) {
      const int day = GregorianMonthLength(year, month);
      const std::chrono::year_month_day ymd{std::chrono::year{year}, std::chrono::month{unsigned(month)},
                                            std::chrono::day{unsigned(day)}};
      const long long expected = std::chrono::sys_days{ymd}.time_since_epoch().count();
      ASSERT_EQ(DayNumber(year, month, day), expected) << Name(year, month, day);
      long long y = 0;
      int m = 0, d = 0;
      DateOfDayNumber(expected, y, m, d);
      ASSERT_EQ(Name(static_cast<int>(y), m, d), Name(year, month, day));
    }
  }
}

}  // namespace
