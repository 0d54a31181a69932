// frames.cpp - what is drawn inside the innermost window: its frame, the
// cursor placed relative to it, scrolled boxes and text.
#include "platform/console.h"
#include "screen/windows.h"

void DrawFrame(int style) {
  if (Windows.WindowDepth <= 0) return;
  static const unsigned char kStyles[3][6] = {
      {' ', ' ', ' ', ' ', ' ', ' '},
      {0xDA, 0xBF, 0xC0, 0xD9, 0xC4, 0xB3},
      {0xC9, 0xBB, 0xC8, 0xBC, 0xCD, 0xBA},
  };
  const unsigned char* s = kStyles[(style >= 0 && style <= 2) ? style : 0];
  unsigned char a = ConsoleAttribute();
  int top = Windows.WindowTop, left = Windows.WindowLeft, bottom = Windows.WindowBottom,
      right = Windows.WindowRight;
  for (int r = top; r <= bottom; ++r) {
    for (int c = left; c <= right; ++c) {
      unsigned char ch = ' ';
      bool edgeRow = r == top || r == bottom;
      bool edgeColumn = c == left || c == right;
      if (r == top && c == left) ch = s[0];
      else if (r == top && c == right) ch = s[1];
      else if (r == bottom && c == left) ch = s[2];
      else if (r == bottom && c == right) ch = s[3];
      else if (edgeRow) ch = s[4];
      else if (edgeColumn) ch = s[5];
      ConsolePutCell(r, c, ConsoleCell{ch, a});
    }
  }
}

void WinLocate(int column, int row) {
  int r = row, c = column;
  if (Windows.WindowDepth > 0) {
    r += Windows.WindowTop;
    c += Windows.WindowLeft;
  }
  if (r < 1 || r > ConsoleRows()) r = ConsoleCursorRow();
  if (c < 1 || c > ConsoleColumns()) c = ConsoleCursorColumn();
  ConsoleSetCursor(r, c);
}

int InnerTop() { return Windows.WindowDepth > 0 ? Windows.WindowTop + 1 : 1; }
int InnerLeft() { return Windows.WindowDepth > 0 ? Windows.WindowLeft + 1 : 1; }
int InnerRight() { return Windows.WindowDepth > 0 ? Windows.WindowRight - 1 : ScreenColumns(); }

void ScrollBox(int top, int left, int bottom, int right, int lines) {
  // The rectangle is given one less than the console rows and columns it
  // covers (the callers count from the frame's inner edge).
  int n = lines > 0 ? lines : -lines;
  if (n < 1) n = 1;
  ConsoleScroll(top + 1, left + 1, bottom + 1, right + 1, lines > 0 ? n : -n, ConsoleAttribute());
}

void WriteText(const std::string& text) { ConsoleWrite(text); }
