// arguments.h - command-line number arguments of the tools.
#pragma once
#include <cerrno>
#include <cstdlib>
#include <string>

// A whole number in [low, high] written in `base`, nothing else; false for
// an empty text, trailing characters, an overflow or a value out of range.
inline bool ParseNumber(const std::string& text, long low, long high, long& value, int base = 10) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(text.c_str(), &end, base);
  if (errno != 0 || *end != '\0' || v < low || v > high) return false;
  value = v;
  return true;
}
