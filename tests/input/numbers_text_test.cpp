// PlainNumberText and NumericValue: the text numbers are edited and stored
// in, and reading it back.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>

#include "input/numbers.h"

namespace {

TEST(PlainNumberText, ShortestDecimalWithoutLeadingZero) {
  struct Case {
    double value;
    std::string text;
  } cases[] = {
      {12.5, "12.5"},
      {-3, "-3"},
      {0.25, ".25"},
      {0, ""},
      {-0.0, ""},
      {-0.5, "-.5"},
      {100, "100"},
      {0.07, ".07"},
      {0.29, ".29"},
      {1234.56, "1234.56"},
      {0.1 + 0.2, ".30000000000000004"},
      {1e20, "100000000000000000000"},
      {-987654321012.34, "-987654321012.34"},
      {1e-5, ".00001"},
  };
  for (const Case& c : cases) EXPECT_EQ(PlainNumberText(c.value), c.text) << "value " << c.value;
}

TEST(PlainNumberText, AmountsWithCentsComeOutAsTyped) {
  std::mt19937_64 random(99);
  for (int i = 0; i < 100000; ++i) {
    long long cents = static_cast<long long>(random() % 10000000000000LL);  // up to 100 000 000 000.00
    std::string integer = std::to_string(cents / 100);
    std::string fraction = std::to_string(100 + cents % 100).substr(1);
    while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
    std::string expected = (integer == "0" ? "" : integer) + (fraction.empty() ? "" : "." + fraction);
    ASSERT_EQ(PlainNumberText(static_cast<double>(cents) / 100), expected) << cents << " cents";
  }
}

TEST(PlainNumberText, ReadsBackAsTheSameValue) {
  std::mt19937_64 random(2024);
  std::uniform_real_distribution<double> mantissa(-1, 1);
  for (int i = 0; i < 50000; ++i) {
    double v = mantissa(random) * std::pow(10.0, static_cast<int>(random() % 40) - 20);
    std::string text = PlainNumberText(v);
    ASSERT_EQ(NumericValue(text), v) << "text " << text;
  }
}

TEST(PlainNumberText, ExtremeValuesGiveFiniteTexts) {
  EXPECT_EQ(PlainNumberText(std::numeric_limits<double>::infinity()), "INF");
  EXPECT_EQ(PlainNumberText(-std::numeric_limits<double>::infinity()), "-INF");
  EXPECT_EQ(PlainNumberText(std::numeric_limits<double>::quiet_NaN()), "NAN");
  std::string huge = PlainNumberText(1e300);  // the double's whole digits
  EXPECT_EQ(huge.size(), 301u);
  EXPECT_EQ(NumericValue(huge), 1e300);
  std::string tiny = PlainNumberText(5e-324);
  EXPECT_EQ(tiny, "." + std::string(323, '0') + "5");
  std::string largest = PlainNumberText(-std::numeric_limits<double>::max());
  EXPECT_EQ(largest.size(), 310u);
  EXPECT_EQ(NumericValue(largest), -std::numeric_limits<double>::max());
}

TEST(NumericValue, ReadsSignDigitsAndOnePointUpToTheFirstOtherCharacter) {
  struct Case {
    std::string text;
    double value;
  } cases[] = {
      {"", 0},       {"   ", 0},    {"abc", 0},    {"12.5", 12.5},  {"  12.5", 12.5}, {"-3", -3},
      {"+3", 3},     {".25", 0.25}, {"-.5", -0.5}, {"1 234", 1234}, {"- 5", -5},      {"12.5.3", 12.5},
      {"12abc", 12}, {"12-3", 12},  {"--3", 0},    {"16 ", 16},     {" 16 ;x", 16},   {".", 0},
      {"-", 0},      {"1e3", 1},    {"007", 7},    {"3.", 3},       {"\t4", 4},       {"0.1", 0.1},
  };
  for (const Case& c : cases) EXPECT_EQ(NumericValue(c.text), c.value) << "\"" << c.text << "\"";
  EXPECT_FALSE(std::signbit(NumericValue("-0"))) << "no negative zero";
}

TEST(NumericValue, LongTextsSaturateOrVanishWithoutFailing) {
  EXPECT_EQ(NumericValue(std::string(1000, '9')), HUGE_VAL);
  EXPECT_EQ(NumericValue("-" + std::string(1000, '9')), -HUGE_VAL);
  EXPECT_EQ(NumericValue("." + std::string(1000, '0') + "1"), 0.0);
  EXPECT_EQ(NumericValue(std::string(1000, '0') + "42"), 42.0);
  EXPECT_EQ(NumericValue(std::string(1000, ' ')), 0.0);
  EXPECT_EQ(NumericValue(std::string(1000, '\xFF')), 0.0);
}

}  // namespace
