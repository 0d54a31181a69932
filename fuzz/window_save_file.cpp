// Fuzzing the window stack's save file "WinPush.tmp": whatever another
// program or a crashed run left in it, closing the windows never crashes,
// always closes every window, and never writes a cell outside the windows
// being closed.
//
// The windows are those of the demonstration suite's parameter screen and
// of the pop-ups opened over it (help, browse list, calculator), so that
// the seed files, saved while those were open, match them.
#include "fuzz_support.h"
#include "platform/console.h"
#include "screen/windows.h"
#include "session/session.h"

namespace {

struct Rect {
  int top, left, bottom, right;
};
constexpr Rect kParameterScreen = {6, 12, 15, 69};
constexpr Rect kPopups[] = {{4, 1, 22, 80}, {5, 20, 20, 70}, {1, 1, 25, 26}};

unsigned char Pattern(int row, int column) {
  return static_cast<unsigned char>((row * 31 + column * 7) & 0xFF);
}

void Run(const Rect& popup, const uint8_t* data, size_t size) {
  ResetWindows();
  for (int r = 1; r <= 25; ++r)
    for (int c = 1; c <= 80; ++c) ConsolePutCell(r, c, ConsoleCell{Pattern(r, c), 0x07});
  ConsoleSetCursor(1, 1);
  OpenWindow(kParameterScreen.top, kParameterScreen.left, kParameterScreen.bottom, kParameterScreen.right);
  OpenWindow(popup.top, popup.left, popup.bottom, popup.right);
  const bool open = Windows.WindowDepth == 2;
  // The file as something else left it.
  WriteFuzzFile("TMP/WinPush.tmp", data, size);
  CloseWindow();
  CloseWindow();
  CloseWindow();  // one more than is open: nothing happens
  if (!open || Windows.WindowDepth != 0 || !Windows.opened.empty()) __builtin_trap();
  if (Windows.WindowTop != 0 || Windows.WindowLeft != 0) __builtin_trap();
  // Only the cells the two windows covered may have been restored.
  for (int r = 1; r <= 25; ++r)
    for (int c = 1; c <= 80; ++c) {
      const bool covered = (r >= popup.top && r <= popup.bottom && c >= popup.left && c <= popup.right) ||
                           (r >= kParameterScreen.top && r <= kParameterScreen.bottom &&
                            c >= kParameterScreen.left && c <= kParameterScreen.right);
      ConsoleCell cell = ConsoleGetCell(r, c);
      if (!covered && (cell.ch != Pattern(r, c) || cell.attr != 0x07)) __builtin_trap();
    }
  if (ConsoleCursorRow() < 1 || ConsoleCursorRow() > 25 || ConsoleCursorColumn() < 1 ||
      ConsoleCursorColumn() > 80)
    __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = [] {
    ConsoleStartVirtual(25, 80);
    Session.tempDir = FuzzDirectory() + "TMP/";
    std::filesystem::create_directories(Session.tempDir);
    return true;
  }();
  (void)ready;
  for (const Rect& popup : kPopups) Run(popup, data, size);
  return 0;
}
