// progress.cpp - the progress line of a settlement pass, on row 24.
//
// The line lives in a window of its own over row 24, so that what the row
// showed before (the parameter screen, a reason for a refusal) comes back
// when the pass ends; a lock message opened during the pass covers it and
// goes again.  Drawing only touches the console's cells: the terminal is
// brought up to date by the next look for keys, which the pass makes
// before every property.  A pass of many small properties redraws the line
// once every kProgressRedrawMs, not once per property, so that a slow
// terminal does not slow the pass down.
#include <algorithm>
#include <cstdint>
#include <string>

#include "input/dates.h"
#include "platform/platform.h"
#include "screen/windows.h"
#include "session/language.h"
#include "settle/settlement.h"

namespace {

constexpr int kProgressRow = 24;

struct ProgressState {
  bool open = false;    // the window over row 24 is open
  long total = -1;      // properties of the range, -1 not known
  bool drawn = false;   // drawn at least once since StartProgress
  int64_t drawnAt = 0;  // SteadyMs() of the last drawing
};
ProgressState Progress;

void DrawProgress(const std::string& code, long reached) {
  const int width = ScreenColumns();
  std::string left = " " + ProgressText(code, reached, Progress.total);
  std::string right = Translate("ESC: ATURA LA LIQUIDACI\xE0") + " ";
  std::string line = left;
  if (static_cast<int>(left.size() + right.size()) < width)
    line += std::string(static_cast<size_t>(width) - left.size() - right.size(), ' ') + right;
  line.resize(static_cast<size_t>(std::max(width, 0)), ' ');
  SetColourScheme("+rh");
  WinLocate(0, 0);  // the window is row 24 alone: its "frame" row is the line
  WriteText(line);
  SetColourScheme("-");
}

}  // namespace

std::string ProgressText(const std::string& code, long reached, long total) {
  std::string text = Translate("FINCA ") + UnpackDigits(code) + " \xFA " + std::to_string(reached);
  if (total >= reached) text += Translate(" DE ") + std::to_string(total);
  return text;
}

void StartProgress(long total) {
  EndProgress();
  Progress = ProgressState{};
  Progress.total = total;
  Progress.open = ScreenRows() >= kProgressRow && OpenWindow(kProgressRow, 1, kProgressRow, ScreenColumns());
}

void ShowProgress(const std::string& code, long reached) {
  if (!Progress.open) return;
  int64_t now = SteadyMs();
  if (Progress.drawn && now - Progress.drawnAt < kProgressRedrawMs) return;
  Progress.drawn = true;
  Progress.drawnAt = now;
  DrawProgress(code, reached);
}

void EndProgress() {
  if (!Progress.open) return;
  Progress.open = false;
  CloseWindow();
}
