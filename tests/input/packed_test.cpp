// packed_test.cpp - packed digits: the pair bytes, packing and unpacking
// digit texts, and the 4-digit packed numbers of property and owner codes.
#include "input/packed.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

std::string Bytes(std::initializer_list<int> values) {
  std::string text;
  for (int v : values) text += static_cast<char>(v);
  return text;
}

// Packed bytes built pair by pair, independent of the code under test.
std::string Packed(std::initializer_list<int> pairs) {
  std::string out;
  for (int p : pairs) out += static_cast<char>(128 + p);
  return out;
}

std::string Show(const std::string& bytes) {
  std::string text = "[";
  for (unsigned char b : bytes) text += (text.size() > 1 ? " " : "") + std::to_string(b);
  return text + "]";
}

TEST(PackedPair, OnlyBytes128To227ArePairs) {
  struct Case {
    int byte;
    bool pair;
    int value;
  } cases[] = {
      {0, false, 0},  {5, false, 0},   {127, false, 0}, {128, true, 0},
      {135, true, 7}, {227, true, 99}, {228, false, 0}, {255, false, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsPackedPair(static_cast<unsigned char>(c.byte)), c.pair) << c.byte;
    EXPECT_EQ(PackedPairValue(static_cast<unsigned char>(c.byte)), c.value) << c.byte;
  }
}

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

TEST(PackedNumber, TwoPackedBytesAreAFourDigitNumber) {
  struct Case {
    std::string packed;
    int number;
  } cases[] = {
      {Packed({0, 0}), 0},
      {Packed({99, 99}), 9999},
      {Packed({1, 2}), 102},
      {Bytes({5, 130}), 2},  // a byte that is no pair counts 00
      {Packed({12}), 1200},  // a missing byte counts 00
      {"", 0},
      {Packed({1, 2, 3}), 102},  // bytes past the second are ignored
  };
  for (const Case& c : cases) EXPECT_EQ(PackedNumber(c.packed), c.number) << Show(c.packed);
}

TEST(PackedNumber, NumbersPackIntoTwoBytesAndBack) {
  struct Case {
    int number;
    std::string packed;
  } cases[] = {
      {102, Packed({1, 2})},     {0, Packed({0, 0})},
      {9999, Packed({99, 99})},  {-5, Packed({0, 0})},  // clamped
      {10000, Packed({99, 99})},                        // clamped
  };
  for (const Case& c : cases) EXPECT_EQ(Show(PackedFromNumber(c.number)), Show(c.packed)) << c.number;
  EXPECT_EQ(PackedFromNumber(PackedNumber(Packed({45, 67}))), Packed({45, 67}));
}

}  // namespace
