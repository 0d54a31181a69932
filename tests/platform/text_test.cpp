// The byte-text helpers (text.h) and the little-endian numbers (le.h).
#include "platform/text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "platform/le.h"

namespace {

TEST(TextHelpers, TrimAndFit) {
  struct Case {
    std::string text, both, trailing;
    int width;
    std::string fitted;
  } const cases[] = {
      {"", "", "", 3, "   "},
      {"   ", "", "", 2, "  "},
      {"  ab c  ", "ab c", "  ab c", 4, "  ab"},
      {"abc", "abc", "abc", 5, "abc  "},
      {"\tx\t ", "\tx\t", "\tx\t", 0, ""},  // only spaces are blanks
      {"abc", "abc", "abc", -2, ""},        // a negative width counts as 0
      {" \x85s ", "\x85s", " \x85s", 3, " \x85s"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TrimBlanks(c.text), c.both) << '"' << c.text << '"';
    EXPECT_EQ(TrimTrailingBlanks(c.text), c.trailing) << '"' << c.text << '"';
    EXPECT_EQ(FitToWidth(c.text, c.width), c.fitted) << '"' << c.text << "\" width " << c.width;
  }
}

TEST(LittleEndian, NumbersAreStoredLowByteFirst) {
  unsigned char bytes[8] = {};
  PutLe16(bytes, 0xA1B2);
  EXPECT_EQ(bytes[0], 0xB2);
  EXPECT_EQ(bytes[1], 0xA1);
  EXPECT_EQ(GetLe16(bytes), 0xA1B2);
  PutLe32(bytes, 0x80C0FF01u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), 4), std::string("\x01\xFF\xC0\x80", 4));
  EXPECT_EQ(GetLe32(bytes), 0x80C0FF01u);
  EXPECT_EQ(static_cast<int32_t>(GetLe32(bytes)), -2134835455);  // the sign bit is the last byte's
  PutLe64(bytes, 0x0102030405060708ull);
  EXPECT_EQ(bytes[0], 0x08);
  EXPECT_EQ(bytes[7], 0x01);
  EXPECT_EQ(GetLe64(bytes), 0x0102030405060708ull);
  EXPECT_EQ(Le16Bytes(0x0D1B), std::string("\x1B\x0D", 2));
  EXPECT_EQ(Le32Bytes(5), std::string("\x05\x00\x00\x00", 4));
  const std::string signedChars = "\xFF\xFE";  // a char buffer reads the same
  EXPECT_EQ(GetLe16(signedChars.data()), 0xFEFF);
}

}  // namespace
