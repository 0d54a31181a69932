// screen_capture.h - what the virtual console shows, for tests of screens.
#pragma once
#include <string>
#include <vector>

#include "platform/console.h"

// The screen's rows as text and each cell's colour attribute, indexed from
// 1 as the program counts rows and columns (index 0 is unused).
struct ScreenCapture {
  std::vector<std::string> rows;
  std::vector<std::vector<unsigned char>> attributes;
};

inline ScreenCapture CaptureScreen() {
  ScreenCapture s;
  s.rows.push_back("");
  s.attributes.push_back({});
  for (int r = 1; r <= ConsoleRows(); ++r) {
    s.rows.push_back(VirtualRowText(r));
    std::vector<unsigned char> a(1, 0);
    for (int c = 1; c <= ConsoleColumns(); ++c) a.push_back(ConsoleGetCell(r, c).attr);
    s.attributes.push_back(a);
  }
  return s;
}
