// FormatPicture: digit positions, separators, half-to-even rounding,
// overflow, and the decimal and thousands characters from "Vork.ini".
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <string>

#include "input/numbers.h"
#include "platform/platform.h"
#include "session/session.h"
#include "tests/temp_dir.h"

namespace {

const std::string kAmount = "-Z,ZZZ,ZZZ,ZZZ,ZZZ,ZZ9";       // 22 characters
const std::string kCents = "-ZZ,ZZZ,ZZZ,ZZZ,ZZ9.99";        // 22 characters
const std::string kThousandths = "-Z,ZZZ,ZZZ,ZZZ,ZZ9.999";  // 22 characters

class Pictures : public ::testing::Test {
 protected:
  void SetUp() override { Use('\'', '.'); }
  void TearDown() override { ResetFormatPreferences(); }
  void Use(char decimal, char thousands) {
    Preferences.DecCaracter = decimal;
    Preferences.MilCaracter = thousands;
    Preferences.numbersLoaded = true;
  }
};

struct PictureCase {
  std::string picture;
  double value;
  std::string text;
};

void Check(const PictureCase& c) {
  std::string text = FormatPicture(c.picture, c.value);
  EXPECT_EQ(text, c.text) << "picture \"" << c.picture << "\" value " << c.value;
  EXPECT_EQ(text.size(), c.picture.size()) << "picture \"" << c.picture << "\" value " << c.value;
}

TEST_F(Pictures, DigitsFillFromTheRightWithSeparatorsWhileDigitsRemain) {
  const PictureCase cases[] = {
      {kAmount, 1234, std::string(17, ' ') + "1.234"},
      {kAmount, -1234, "-" + std::string(16, ' ') + "1.234"},
      {kAmount, 0, std::string(21, ' ') + "0"},
      {kAmount, 123, std::string(19, ' ') + "123"},
      {kAmount, 1234567, std::string(13, ' ') + "1.234.567"},
      {kThousandths, 1234567.891, std::string(9, ' ') + "1.234.567'891"},
      {"9,999", 5, "0.005"},  // "," before a "9" keeps its character
      {"ZZ9.99", 0, "  0'00"},
      {"-Z9", -5, "- 5"},
      {"Z,ZZ9", 999, "  999"},
      {"Z,ZZ9", 1000, "1.000"},
      {"", 12, ""},
      {"ZZ9 kg", 12, " 12 kg"},  // other characters stay as written
  };
  for (const PictureCase& c : cases) Check(c);
}

TEST_F(Pictures, RoundsHalfToEvenOnTheLastDecimal) {
  const PictureCase cases[] = {
      {kCents, 0.05, std::string(18, ' ') + "0'05"},
      {kCents, 2.125, std::string(18, ' ') + "2'12"},  // 212.5 -> 212
      {kCents, 2.375, std::string(18, ' ') + "2'38"},  // 237.5 -> 238
      {kCents, 0.025, std::string(18, ' ') + "0'02"},  // the product is the double 2.5
      {kCents, 0.015, std::string(18, ' ') + "0'02"},  // the product is the double 1.5
      {kCents, 0.035, std::string(18, ' ') + "0'04"},  // 3.5000000000000004 rounds up
      {"ZZ9", 0.5, "  0"},
      {"ZZ9", 1.5, "  2"},
      {"ZZ9", 2.5, "  2"},
      {"ZZ9", 2.51, "  3"},
      {"-ZZ9", -2.5, "-  2"},
      {"ZZ9", 1e-300, "  0"},
  };
  for (const PictureCase& c : cases) Check(c);
}

TEST_F(Pictures, TooManyDigitsShowThePlainNumberOrExclamationMarks) {
  const PictureCase cases[] = {
      {kAmount, 12345678901234567890.0, "  12345678901234567168"},  // 20 digits (the double's exact value)
      {kAmount, 1e22, std::string(22, '!')},                        // 23 digits
      {kAmount, -1e19, " -10000000000000000000"},
      {kAmount, -1e20, "-100000000000000000000"},
      {kAmount, -1e21, std::string(22, '!')},  // 22 digits and the sign
      {"-ZZ9", -12345, "!!!!"},
      {"-ZZ,ZZ9", -123456, "-123456"},
      {"-ZZ9.99", 12345.678, "12345'6"},  // cut to the picture's width
      {"ZZ9.99", 1234.5, "1234'5"},
      {"Z9.9", 123.25, "123'"},
  };
  for (const PictureCase& c : cases) Check(c);
}

TEST_F(Pictures, NonFiniteAndHugeValuesNeverBreakTheWidth) {
  const double values[] = {1e300,
                           -1e300,
                           std::numeric_limits<double>::max(),
                           std::numeric_limits<double>::infinity(),
                           -std::numeric_limits<double>::infinity(),
                           std::numeric_limits<double>::quiet_NaN(),
                           5e-324,
                           -0.0};
  const std::string pictures[] = {kAmount,
                                  kCents,
                                  "9",
                                  "",
                                  std::string(1000, '9'),
                                  "ZZ9." + std::string(400, '9'),
                                  std::string(1000, ',')};
  for (const std::string& p : pictures)
    for (double v : values) EXPECT_EQ(FormatPicture(p, v).size(), p.size()) << "value " << v;
  EXPECT_EQ(FormatPicture(kAmount, std::numeric_limits<double>::infinity()), std::string(22, '!'));
  EXPECT_EQ(FormatPicture(kAmount, std::numeric_limits<double>::quiet_NaN()), std::string(22, '!'));
  EXPECT_EQ(FormatPicture(kAmount, 1e300), std::string(22, '!'));
  EXPECT_EQ(FormatPicture("9", -0.0), "0");
  std::string wide = FormatPicture(std::string(400, '9'), 1e300);
  EXPECT_EQ(wide.substr(0, 117), std::string(99, '0') + "100000000000000005") << "exact digits of the double";
  EXPECT_EQ(wide.find_first_not_of("0123456789"), std::string::npos);
}

TEST_F(Pictures, UsesTheUsersDecimalAndThousandsCharacters) {
  Use(',', ' ');
  Check({kThousandths, 1234567.891, std::string(9, ' ') + "1 234 567,891"});
  Use('.', ',');
  Check({kCents, -1234.5, "-" + std::string(13, ' ') + "1,234.50"});
}

TEST(PicturePreferences, ReadOnceFromTheUserSectionWithDefaults) {
  SessionState saved = Session;
  TempDir temp{"numbers_picture_"};
  ASSERT_FALSE(temp.path.empty());
  const std::string dir = temp.path;
  Session.root = dir + "/";
  ResetFormatPreferences();

  EXPECT_EQ(FormatPicture("Z,ZZ9.99", 1234.5), "1.234'50") << "defaults without a settings file";
  ASSERT_TRUE(WriteWholeFile(dir + "/Vork.ini", "[Usuari]\r\nDecCaracter=,\r\nMilCaracter=.\r\n"));
  EXPECT_EQ(FormatPicture("Z,ZZ9.99", 1234.5), "1.234'50") << "kept for the run";
  ResetFormatPreferences();
  EXPECT_EQ(FormatPicture("Z,ZZ9.99", 1234.5), "1.234,50");
  ResetFormatPreferences();
  ASSERT_TRUE(WriteWholeFile(dir + "/Vork.ini", "[Usuari]\r\nDecCaracter=\r\nMilCaracter=\r\n"));
  EXPECT_EQ(FormatPicture("Z,ZZ9.99", 1234.5), "1.234'50") << "empty values give the defaults";

  ResetFormatPreferences();
  Session = saved;
}

}  // namespace
