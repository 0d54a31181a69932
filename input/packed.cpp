// packed.cpp - packed digits: packing, unpacking and the packed numbers.
#include "input/packed.h"

#include <algorithm>

#include "platform/text.h"

namespace {

constexpr unsigned char kPackedLast = 227;

int DigitValue(char c) { return c >= '0' && c <= '9' ? c - '0' : 0; }

}  // namespace

bool IsPackedPair(unsigned char byte) { return byte >= kPackedZero && byte <= kPackedLast; }

int PackedPairValue(unsigned char byte) { return IsPackedPair(byte) ? byte - kPackedZero : 0; }

std::string PackDigits(const std::string& digits) {
  size_t n = digits.size();
  std::string text = std::string(n, '0') + TrimBlanks(digits);
  text = text.substr(text.size() - n);
  std::string packed((n + 1) / 2, '\0');
  for (size_t i = 0; i < packed.size(); ++i) {
    int high = DigitValue(text[2 * i]);
    int low = 2 * i + 1 < n ? DigitValue(text[2 * i + 1]) : 0;
    packed[i] = static_cast<char>((10 * high + low) | kPackedZero);
  }
  return packed;
}

std::string UnpackDigits(const std::string& packed) {
  std::string digits;
  digits.reserve(packed.size() * 2);
  for (unsigned char byte : packed) {
    int value = (byte & 127) % 100;
    digits += static_cast<char>('0' + value / 10);
    digits += static_cast<char>('0' + value % 10);
  }
  return digits;
}

int PackedNumber(const std::string& packed) {
  int value = 0;
  for (size_t i = 0; i < 2; ++i)
    value = value * 100 + (i < packed.size() ? PackedPairValue(static_cast<unsigned char>(packed[i])) : 0);
  return value;
}

std::string PackedFromNumber(int number) {
  number = std::clamp(number, 0, 9999);
  std::string packed(2, '\0');
  packed[0] = static_cast<char>(kPackedZero + number / 100);
  packed[1] = static_cast<char>(kPackedZero + number % 100);
  return packed;
}
