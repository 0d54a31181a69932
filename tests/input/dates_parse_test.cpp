// Typed dates: ParseDate and DateIsInvalid, with the clock in 2024.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <string>

#include "input/dates.h"
#include "platform/platform.h"

namespace {

std::string Packed(int year, int month, int day) {
  std::string text;
  for (int v : {year / 100, year % 100, month, day}) text += static_cast<char>(128 + v);
  return text;
}
const std::string kBlank = Packed(0, 0, 0);

std::string Show(const std::string& packed) {
  std::string text;
  for (unsigned char b : packed) {
    char pair[8];
    std::snprintf(pair, sizeof pair, "%02d", (b & 127) % 100);
    text += pair;
  }
  return text.empty() ? "(empty)" : text;
}

class TypedDates : public ::testing::Test {
 protected:
  void SetUp() override {
    Platform.clock = [] { return LocalTime{2024, 6, 1}; };
  }
  void TearDown() override { Platform.clock = nullptr; }
};

TEST_F(TypedDates, ParseReadsDayMonthYearWithSeparatorsOrByPosition) {
  struct Case {
    std::string text;
    std::string packed;
  } cases[] = {
      {"7/4/23", Packed(2023, 4, 7)},
      {"7/4/80", Packed(1980, 4, 7)},  // 2080 is more than 49 years ahead
      {"7/4/73", Packed(2073, 4, 7)},
      {"7/4/74", Packed(1974, 4, 7)},
      {"7/4/75", Packed(1975, 4, 7)},
      {"07042023", Packed(2023, 4, 7)},
      {"070423", Packed(2023, 4, 7)},
      {"7-4-2023", Packed(2023, 4, 7)},
      {"7.4.2023", Packed(2023, 4, 7)},
      {"07/04/2023", Packed(2023, 4, 7)},
      {" 7/ 4/ 23", Packed(2023, 4, 7)},
      {"1 2/4/2023", Packed(2023, 4, 12)},  // blanks inside a number are skipped
      {"7/4/023", Packed(2023, 4, 7)},      // three characters: not complete
      {"7/4/0023", Packed(23, 4, 7)},       // four characters: taken as typed
      {"7/4/999", Packed(999, 4, 7)},       // a short year above 99 keeps its century
      {"31/02/23", Packed(2023, 2, 31)},    // not checked against the calendar
      {"0/0/23", Packed(23, 0, 0)},         // no century without day and month
      {"7/4/32767", Packed(2767, 4, 7)},    // largest 16-bit year, cut to 4 digits
  };
  for (const Case& c : cases) EXPECT_EQ(Show(ParseDate(c.text)), Show(c.packed)) << "\"" << c.text << "\"";
}

TEST_F(TypedDates, ParseGivesTheBlankDateForUnreadableText) {
  const std::string texts[] = {
      "",
      "7/4",
      "7.4.2023.",
      "7/4/2023x",
      "abc",
      "7/4/99999",
      "99999/1/2023",
      "7//4//2023",
      std::string(1000, '7'),
      std::string(1000, '/'),
      std::string(1000, '\xFF'),
      "7/4/2023\n",
  };
  for (const std::string& t : texts) {
    EXPECT_EQ(Show(ParseDate(t)), Show(kBlank)) << "\"" << t.substr(0, 20) << "\" (" << t.size() << " chars)";
    EXPECT_TRUE(DateIsInvalid(t)) << "\"" << t.substr(0, 20) << "\" (" << t.size() << " chars)";
  }
}

TEST_F(TypedDates, ParseAlwaysGivesFourPackedBytes) {
  std::mt19937 random(20240601);
  const char alphabet[] = "0123456789 ./-x";
  for (int i = 0; i < 20000; ++i) {
    std::string text(random() % 14, ' ');
    for (char& c : text) c = alphabet[random() % (sizeof alphabet - 1)];
    std::string packed = ParseDate(text);
    ASSERT_EQ(packed.size(), 4u) << "\"" << text << "\"";
    for (unsigned char b : packed) ASSERT_GE(b, 128) << "\"" << text << "\"";
  }
}

TEST_F(TypedDates, InvalidCatchesImpossibleDatesAndTheOctober1582Gap) {
  struct Case {
    std::string text;
    bool invalid;
  } cases[] = {
      {"29/02/2023", true},
      {"29/02/2024", false},
      {"10/10/1582", true},
      {"04/10/1582", false},
      {"05/10/1582", true},
      {"14/10/1582", true},
      {"15/10/1582", false},
      {"31/04/2023", true},
      {"30/04/2023", false},
      {"31/12/2023", false},
      {"32/01/2023", true},
      {"0/1/2023", true},
      {"1/0/2023", true},
      {"1/13/2023", true},
      {"29/02/00", false},  // 2000
      {"29/02/1900", true},
      {"29/2/72", false},  // 2072
      {"29/2/74", true},   // stays 2074 (fifty years ahead), not a leap year
      {"29/2/76", false},  // more than fifty years ahead: 1976
      {"070423", false},
      {"290223", true},
      {"", true},
      {"7/4", true},
      {"7.4.2023.", true},
      {"7/4/2023x", true},
      {"7/4/99999", true},
      {"  /  /    ", true},
      {"29/02/1500", true},  // typed dates follow the Gregorian month lengths
      {"7/4/999", false},
  };
  for (const Case& c : cases) EXPECT_EQ(DateIsInvalid(c.text), c.invalid) << "\"" << c.text << "\"";
}

// Every day of every month of 1583..2600 (and the days and months just
// outside the ranges) against the standard library's Gregorian calendar.
TEST_F(TypedDates, InvalidAgreesWithTheGregorianCalendarOverTenCenturies) {
  using namespace std::chrono;
  int mismatches = 0;
  std::string first;
  for (int y = 1583; y <= 2600; ++y)
    for (unsigned m = 0; m <= 13; ++m)
      for (unsigned d = 0; d <= 32; ++d) {
        char text[24];
        std::snprintf(text, sizeof text, "%u/%u/%d", d, m, y);
        bool expected = !year_month_day{year{y}, month{m}, day{d}}.ok();
        if (DateIsInvalid(text) != expected) {
          if (mismatches++ == 0) first = text;
        }
      }
  EXPECT_EQ(mismatches, 0) << "first mismatch: " << first;
}

// A valid typed date reads back as the packed date it names, and the short
// text of any date inside the two-digit window parses back to that date.
TEST_F(TypedDates, ShortTextAndParseAreInverseInsideTheWindow) {
  using namespace std::chrono;
  for (sys_days d = sys_days{1974y / 1 / 1}; d <= sys_days{2073y / 12 / 31}; d += days{1}) {
    year_month_day ymd{d};
    std::string packed = Packed(int(ymd.year()), unsigned(ymd.month()), unsigned(ymd.day()));
    std::string shortText = DateShortText(packed);
    ASSERT_EQ(shortText.size(), 6u) << Show(packed);
    ASSERT_FALSE(DateIsInvalid(shortText)) << shortText;
    ASSERT_EQ(Show(ParseDate(shortText)), Show(packed)) << shortText;
  }
  for (sys_days d = sys_days{1900y / 1 / 1}; d <= sys_days{2200y / 12 / 31}; d += days{1}) {
    year_month_day ymd{d};
    std::string packed = Packed(int(ymd.year()), unsigned(ymd.month()), unsigned(ymd.day()));
    std::string shortText = DateShortText(packed);
    ASSERT_EQ(Show(ParseDate(shortText)), Show(packed)) << shortText;
  }
}

}  // namespace
