// Typed-number checks (NumberTextIsInvalid, NumberOutOfRange) and the
// packing of dotted codes (PackCode).
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "input/numbers.h"

namespace {

std::string Digits(const std::string& packed) { return UnpackDigits(packed); }

TEST(NumberTextIsInvalid, AcceptsOnlyTheAllowedPointAndLeadingSign) {
  struct Case {
    std::string text, allowed;
    bool invalid;
  } cases[] = {
      {"12.5", "", true},
      {"-12.5", ".-", false},
      {"12-", "-", true},
      {" 12 ", "", false},
      {"", "", false},
      {"-", "-", false},
      {"+5", "+", false},
      {"+5", "-", false},
      {"-5", "", true},
      {"1.2.3", ".", true},
      {".5", ".", false},
      {"- 5", "-", false},
      {"5 -", "-", true},
      {".-5", ".-", true},
      {"--5", "-", true},
      {"12a", ".-", true},
      {"1,5", ".", true},
      {"\t5", "", true},
      {std::string(1000, '9'), "", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(NumberTextIsInvalid(c.text, c.allowed), c.invalid)
        << "\"" << c.text.substr(0, 20) << "\" allowing \"" << c.allowed << "\"";
}

TEST(NumberOutOfRange, ChecksFormAndRangeAtTheGivenDecimals) {
  struct Case {
    std::string text;
    double minimum, maximum;
    int decimals;
    bool refused;
  } cases[] = {
      {"10.01", 0, 10, 2, true},      {"10", 0, 10, 2, false},
      {"-1", 0, 10, 2, true},         {"-1", -5, 10, 2, false},
      {"-5.001", -5, 10, 2, false},  // rounds to -5.00
      {"-5.01", -5, 10, 2, true},     {"10.004", 0, 10, 2, false},
      {"10.006", 0, 10, 2, true},     {"1.5", 0, 10, 0, true},  // no point without decimals
      {"", 0, 10, 0, false},          {"", 1, 10, 0, true},     // blank reads as 0
      {"5", 10, 0, 0, true},                                    // maximum below minimum
      {"5", 0, 10, -1, true},         {"5", 0, 10, 17, true},
      {"5", 0, 10, 16, false},        {std::string(1000, '9'), 0, 1e300, 0, true},
      {"12 345", 0, 99999, 0, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(NumberOutOfRange(c.text, c.minimum, c.maximum, c.decimals), c.refused)
        << "\"" << c.text.substr(0, 20) << "\" in [" << c.minimum << ", " << c.maximum << "] with "
        << c.decimals << " decimals";
}

TEST(NumberOutOfRange, ARangeThatIsNotNumbersRefusesEverything) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_TRUE(NumberOutOfRange("1", nan, 10, 0));
  EXPECT_TRUE(NumberOutOfRange("1", 0, nan, 0));
  EXPECT_FALSE(NumberOutOfRange("1", -HUGE_VAL, HUGE_VAL, 0));
}

TEST(PackCode, GroupsAreZeroFilledToTheirWidths) {
  struct Case {
    std::string code, digits;
  } cases[] = {
      {"4300.12", "43000012"},
      {"12  .1", "00120001"},  // trailing blanks of the field do not count
      {"12  .9999", "00129999"},
      {"123456", "123456"},           // six characters without a point: a six-digit group
      {"1234567.8", "45670008"},      // nine characters: a four-digit first group
      {"1234567.890", "2345670890"},  // eleven characters, one point: six digits first
      {"12345678.90", "3456780090"},
      {"1.234567.89", "000145670089"},  // eleven characters but two points
      {"12.", "0012"},                  // a blank last group is left out
      {"12. ", "0012"},
      {".", "0000"},
      {"", ""},
      {"1.2.3", "000100020003"},
      {"-5.7", "00050007"},          // the sign is not a digit
      {"12345.123456", "23453456"},  // each group cut to its last digits
      {"ab.cd", "00000000"},
  };
  for (const Case& c : cases) {
    std::string expected = c.digits.size() % 2 ? c.digits + "0" : c.digits;
    EXPECT_EQ(Digits(PackCode(c.code)), expected) << "\"" << c.code << "\"";
  }
}

TEST(PackCode, LongGroupsKeepTheirExactLastDigits) {
  EXPECT_EQ(Digits(PackCode("12345678901234567891.1")), "78910001");
  EXPECT_EQ(PackCode(std::string(1000, '.')).size(), 2000u);  // 1000 groups of 4
  EXPECT_EQ(PackCode(std::string(1000, '9')).size(), 2u);
}

}  // namespace
