// printable.h - terminal bytes as a failure message can show them: ESC as
// "\e", other control codes and every byte above ASCII as "\xNN".  Shared by
// the tests of the key decoder (bytes a terminal sends) and of the terminal
// console (bytes sent to it).
#pragma once
#include <cstdio>
#include <string>

inline std::string Printable(const std::string& bytes) {
  std::string text;
  for (unsigned char c : bytes) {
    if (c == 0x1b) {
      text += "\\e";
    } else if (c < 0x20 || c >= 0x7f) {
      char hex[8];
      snprintf(hex, sizeof hex, "\\x%02x", c);
      text += hex;
    } else {
      text += static_cast<char>(c);
    }
  }
  return text;
}
