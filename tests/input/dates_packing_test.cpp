// Packed digits, zero padding and the short date text.
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

TEST(PackDigits, PacksPairsAsHighBitBytes) {
  struct Case {
    std::string digits;
    std::string packed;
  } cases[] = {
      {"20230407", Bytes({148, 151, 132, 135})},
      {" 7", Bytes({135})},  // zero-filled to 07
      {"7 ", Bytes({135})},  // trimmed, then right-aligned
      {"", ""},
      {"123", Bytes({140, 158})},  // odd length: last digit is a tens digit
      {"1 2", Bytes({138, 148})},  // inner blank counts 0
      {"ab", Bytes({128})},        // non-digits count 0
      {"9x", Bytes({218})},
      {"99", Bytes({227})},
      {"00000000", Bytes({128, 128, 128, 128})},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Show(PackDigits(c.digits)), Show(c.packed)) << "digits \"" << c.digits << "\"";
}

TEST(PackDigits, EqualLengthTextsSortAsTheirDigits) {
  for (int a = 0; a < 10000; a += 37)
    for (int b = 0; b < 10000; b += 101) {
      char ta[8], tb[8];
      std::snprintf(ta, sizeof ta, "%04d", a);
      std::snprintf(tb, sizeof tb, "%04d", b);
      int digitOrder = std::string(ta).compare(tb);
      int packedOrder = PackDigits(ta).compare(PackDigits(tb));
      ASSERT_EQ(digitOrder < 0, packedOrder < 0) << ta << " vs " << tb;
      ASSERT_EQ(digitOrder == 0, packedOrder == 0) << ta << " vs " << tb;
    }
}

TEST(PackDigits, NoPackedByteIsBelow128EvenForLongOrOddInput) {
  std::string text;
  for (int i = 0; i < 1001; ++i) text += static_cast<char>(i % 256);
  std::string packed = PackDigits(text);
  EXPECT_EQ(packed.size(), 501u);
  for (unsigned char b : packed) ASSERT_GE(b, 128);
}

TEST(UnpackDigits, WritesTwoDigitsPerByte) {
  struct Case {
    std::string packed;
    std::string digits;
  } cases[] = {
      {Bytes({148, 151, 132, 135}), "20230407"},
      {Bytes({133}), "05"},
      {Bytes({5}), "05"},    // high bit missing: same value
      {Bytes({228}), "00"},  // 100: its last two digits
      {Bytes({255}), "27"},  // 127
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(UnpackDigits(c.packed), c.digits) << Show(c.packed);
}

TEST(UnpackDigits, UndoesPackDigitsForEveryFourDigitText) {
  for (int n = 0; n < 10000; ++n) {
    char text[8];
    std::snprintf(text, sizeof text, "%04d", n);
    ASSERT_EQ(UnpackDigits(PackDigits(text)), text);
  }
}

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
