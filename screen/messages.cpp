// messages.cpp - message windows: a framed box centred on a row, the
// message the operator has to answer with a key, and the reason line that
// tells in a word why an input was refused.
#include <algorithm>
#include <vector>

#include "data/data.h"
#include "input/keys.h"
#include "platform/console.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "screen/windows.h"

bool ShowMessage(int centreRow, const std::string& text) {
  SetColourScheme("+rh");
  std::string formatted = FormatParagraph(text, 0, 76, "i");
  int k = static_cast<int>(formatted.size() / 76);
  int top = std::max(centreRow - (k + 1) / 2 - 2, 1);
  int bottom = top + k + 1;
  if (bottom > ScreenRows()) {
    bottom = ScreenRows();
    top = bottom - k - 1;
  }
  if (top < 1) {
    SetColourScheme("-");
    return false;
  }
  std::vector<std::string> lines;
  int longest = 0;
  for (int i = 0; i < k; ++i) {
    std::string line = TrimTrailingBlanks(formatted.substr(static_cast<size_t>(i) * 76, 76));
    longest = std::max(longest, static_cast<int>(line.size()));
    lines.push_back(line);
  }
  // The box is centred on column 41 and grows with the longest line.
  int left = 41 - (longest + 1) / 2 - 2;
  int right = longest / 2 + 41 + 1;
  bool opened = OpenWindow(top, left, bottom, right);
  if (opened) {
    DrawFrame(1);
    for (int i = 0; i < k; ++i) {
      WinLocate(2, i + 1);
      WriteText(lines[static_cast<size_t>(i)]);
    }
  }
  SetColourScheme("-");
  return opened;
}

void ShowMessageAndWait(int centreRow, const std::string& text) {
  bool shown = ShowMessage(centreRow, text);  // a message too tall opens nothing
  Beep();
  FlushKeys();
  KeyCode key = 0;
  WaitKey(key);
  if (shown) CloseWindow();
}

void TellRefusedFile(const std::string& path, int error) {
  std::vector<std::string>& told = Windows.refusedFilesTold;
  if (std::find(told.begin(), told.end(), path) != told.end()) return;
  told.push_back(path);
  ShowMessageAndWait(24, FileProblemText(path, error));
}

void PostReason(const std::string& text) {
  ClearReason();
  Windows.reason = text;
}

void ShowPostedReason() {
  if (Windows.reason.empty() || Windows.reasonShown) return;
  const int row = std::min(kReasonRow, ScreenRows());
  const int columns = ScreenColumns();
  if (row < 1 || columns < 1) return;
  Windows.underReason.clear();
  for (int c = 1; c <= columns; ++c) Windows.underReason.push_back(ConsoleGetCell(row, c));
  std::string text = " " + Windows.reason.substr(0, static_cast<size_t>(std::max(columns - 2, 0))) + " ";
  int column = std::max((columns - static_cast<int>(text.size())) / 2 + 1, 1);
  SetColourScheme("+rh");
  unsigned char attribute = ConsoleAttribute();
  for (size_t i = 0; i < text.size(); ++i)
    ConsolePutCell(row, column + static_cast<int>(i),
                   ConsoleCell{static_cast<unsigned char>(text[i]), attribute});
  SetColourScheme("-");
  Windows.reasonShown = true;
}

void ShowReason(const std::string& text) {
  PostReason(text);
  ShowPostedReason();
}

void ClearReason() {
  if (Windows.reasonShown) {
    const int row = std::min(kReasonRow, ScreenRows());
    for (size_t i = 0; i < Windows.underReason.size(); ++i)
      ConsolePutCell(row, static_cast<int>(i) + 1, Windows.underReason[i]);
  }
  Windows.reason.clear();
  Windows.reasonShown = false;
  Windows.underReason.clear();
}
