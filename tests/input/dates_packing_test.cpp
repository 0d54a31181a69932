// Zero padding and the short date text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "input/dates.h"
#include "platform/platform.h"

namespace {

std::string Bytes(std::initializer_list<int> values) {
  std::string text;
  for (int v : values) text += static_cast<char>(v);
  return text;
}

// Packed date built byte by byte, independent of PackDigits.
std::string Packed(int year, int month, int day) {
  return Bytes({128 + year / 100, 128 + year % 100, 128 + month, 128 + day});
}

std::string Show(const std::string& bytes) {
  std::string text = "[";
  for (unsigned char b : bytes) text += (text.size() > 1 ? " " : "") + std::to_string(b);
  return text + "]";
}

class PackingClock : public ::testing::Test {
 protected:
  void SetUp() override {
    Platform.clock = [] { return LocalTime{2024, 3, 15}; };
  }
  void TearDown() override { Platform.clock = nullptr; }
};

TEST(ZeroPad, FillsWithZerosAndKeepsTheLastCharacters) {
  struct Case {
    double value;
    int width;
    std::string text;
  } cases[] = {
      {5, 2, "05"},       {2023, 4, "2023"},
      {12345, 4, "2345"}, {0, 3, "000"},
      {7, 0, ""},         {7, -3, ""},
      {-5, 3, "005"},  // the sign is dropped
      {2.5, 4, "02.5"},   {1e15, 16, "1000000000000000"},
  };
  for (const Case& c : cases) EXPECT_EQ(ZeroPad(c.value, c.width), c.text) << c.value << " width " << c.width;
}

TEST(ZeroPad, NonFiniteAndHugeValuesStillGiveTheWidth) {
  const double values[] = {1e300, -1e300, std::numeric_limits<double>::infinity(),
                           std::numeric_limits<double>::quiet_NaN(), 5e-324};
  for (double v : values) {
    std::string text = ZeroPad(v, 6);
    EXPECT_EQ(text.size(), 6u) << v;
  }
  EXPECT_EQ(ZeroPad(std::numeric_limits<double>::quiet_NaN(), 3), "000");
}

TEST_F(PackingClock, ShortTextUsesTwoYearDigitsInsideTheCentury) {
  struct Case {
    std::string packed;
    std::string text;
  } cases[] = {
      {Packed(2023, 4, 7), "070423"},     {Packed(1950, 4, 7), "07041950"},
      {Packed(1974, 1, 1), "010174"},                                        // clock year - 50
      {Packed(1973, 12, 31), "31121973"}, {Packed(2073, 12, 31), "311273"},  // clock year + 49
      {Packed(2074, 1, 1), "01012074"},   {Packed(2000, 2, 29), "290200"},
      {Packed(2023, 0, 0), ""},  // blank date
      {Bytes({128, 128, 128, 128}), ""},  {"", ""},
      {Packed(2023, 0, 5), "050023"},  // only a blank month and day make it blank
  };
  for (const Case& c : cases) EXPECT_EQ(DateShortText(c.packed), c.text) << Show(c.packed);
}

TEST_F(PackingClock, ShortTextOfOddLengthsDoesNotFail) {
  EXPECT_EQ(DateShortText(Bytes({135})), "07000007");       // the lone byte is day and year
  EXPECT_EQ(DateShortText(Bytes({132, 135})), "07040000");  // year 0, outside the window
  std::string longText(1000, static_cast<char>(128 + 19));
  longText += Bytes({132, 135});
  EXPECT_EQ(DateShortText(longText), "07041919");  // last four year digits
}

}  // namespace
