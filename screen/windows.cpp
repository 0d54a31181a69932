// windows.cpp - the window stack and its save file.
//
// The cells hidden by each open window are kept in the save file
// "WinPush.tmp" in the station's temporary directory, one frame per window,
// oldest first, after a 4-byte little-endian pointer to the end of the
// newest frame (1-based, as the rest of the suite counts file positions).
// Every number inside a frame is zero-padded decimal text:
//
//   cursor row, cursor column          2 + 2
//   enclosing window top/left/bottom/right   2 each (00 when none)
//   this window's top/left/bottom/right      2 each
//   cells, row by row: character byte, attribute byte
//   frame length = 20 + 2 * cells + 5  5
//
// Closing a window only moves the pointer back; the file goes away when the
// last window closes.  The file is reopened on every operation, so a window
// opened by one part of the program can be closed by another.
//
// The file is a temporary file that outlives a crashed run and that any
// program of the station could overwrite, so nothing read back from it is
// trusted: a frame is used only when its numbers are well formed, its
// rectangle lies on the console and matches the window being closed, and
// its length adds up.  A window always closes (depth, rectangle and cursor
// come back from the in-memory copy in Windows.opened); only its cells stay
// unrestored when the file cannot be used.
#include "screen/windows.h"

#include <algorithm>
#include <cstdio>

#include "platform/console.h"
#include "platform/le.h"
#include "platform/platform.h"
#include "session/session.h"

WindowState Windows;

namespace {

constexpr long kPointerSize = 4;
constexpr long kFirstFrame = 5;  // 1-based position of the first frame
constexpr long kFrameHead = 20;  // ten 2-digit numbers
constexpr long kFrameTail = 5;   // the 5-digit frame length

struct Rect {
  int top = 0, left = 0, bottom = 0, right = 0;
};

bool RectOnConsole(const Rect& r) {
  // Two decimal digits per coordinate in the save file.
  int rows = std::min(ScreenRows(), 99), columns = std::min(ScreenColumns(), 99);
  return r.top >= 1 && r.top <= rows && r.bottom >= 1 && r.bottom <= rows && r.left >= 1 &&
         r.left <= columns && r.right >= 1 && r.right <= columns && r.top <= r.bottom && r.left <= r.right;
}

Rect CurrentRect() {
  return Rect{Windows.WindowTop, Windows.WindowLeft, Windows.WindowBottom, Windows.WindowRight};
}

void SetCurrentRect(int top, int left, int bottom, int right) {
  Windows.WindowTop = static_cast<int16_t>(top);
  Windows.WindowLeft = static_cast<int16_t>(left);
  Windows.WindowBottom = static_cast<int16_t>(bottom);
  Windows.WindowRight = static_cast<int16_t>(right);
}

std::string TwoDigits(int value) {
  char buffer[8];
  snprintf(buffer, sizeof buffer, "%02d", std::clamp(value, 0, 99));
  return buffer;
}

// The decimal value of `count` digits at `at`, or -1 when any is not a digit.
long Digits(const std::string& data, size_t at, size_t count) {
  if (at + count > data.size()) return -1;
  long value = 0;
  for (size_t i = at; i < at + count; ++i) {
    unsigned char c = data[i];
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return value;
}

void PutPointer(std::string& bytes, long pointer) { PutLe32(bytes.data(), static_cast<uint32_t>(pointer)); }

long GetPointer(const std::string& bytes) { return static_cast<int32_t>(GetLe32(bytes.data())); }

// A frame read back from the save file and found well formed.
struct SavedFrame {
  long start = 0;  // 1-based position of the frame
  int cursorRow = 0, cursorColumn = 0;
  Rect enclosing, window;
  std::string cells;  // character, attribute, ...
};

// Reads the newest frame of the save file; false when there is none or it
// is damaged.
bool ReadNewestFrame(const std::string& data, SavedFrame& frame) {
  if (static_cast<long>(data.size()) < kPointerSize) return false;
  long pointer = GetPointer(data);
  long size = static_cast<long>(data.size());
  if (pointer < kFirstFrame + kFrameHead + 2 + kFrameTail || pointer - 1 > size) return false;
  long length = Digits(data, static_cast<size_t>(pointer - 1 - kFrameTail), kFrameTail);
  if (length < kFrameHead + 2 + kFrameTail) return false;
  long start = pointer - length;
  if (start < kFirstFrame) return false;
  long numbers[10];
  for (int i = 0; i < 10; ++i) {
    numbers[i] = Digits(data, static_cast<size_t>(start - 1 + 2 * i), 2);
    if (numbers[i] < 0) return false;
  }
  frame.start = start;
  frame.cursorRow = static_cast<int>(numbers[0]);
  frame.cursorColumn = static_cast<int>(numbers[1]);
  frame.enclosing = Rect{int(numbers[2]), int(numbers[3]), int(numbers[4]), int(numbers[5])};
  frame.window = Rect{int(numbers[6]), int(numbers[7]), int(numbers[8]), int(numbers[9])};
  if (frame.cursorRow < 1 || frame.cursorRow > ScreenRows() || frame.cursorColumn < 1 ||
      frame.cursorColumn > ScreenColumns() + 1)
    return false;
  const Rect& e = frame.enclosing;
  bool noEnclosing = e.top == 0 && e.left == 0 && e.bottom == 0 && e.right == 0;
  if (!noEnclosing && !RectOnConsole(e)) return false;
  if (!RectOnConsole(frame.window)) return false;
  long cells =
      long(frame.window.bottom - frame.window.top + 1) * (frame.window.right - frame.window.left + 1);
  if (length != kFrameHead + 2 * cells + kFrameTail) return false;
  frame.cells = data.substr(static_cast<size_t>(start - 1 + kFrameHead), static_cast<size_t>(2 * cells));
  return true;
}

bool SameRect(const Rect& a, const Rect& b) {
  return a.top == b.top && a.left == b.left && a.bottom == b.bottom && a.right == b.right;
}

// Writes `bytes` at 1-based position `at` and the pointer at position 1.
bool WriteFrame(FileHandle& file, long at, const std::string& bytes) {
  std::string pointer(4, '\0');
  PutPointer(pointer, at + static_cast<long>(bytes.size()));
  if (fseek(file.f, at - 1, SEEK_SET) != 0) return false;
  if (fwrite(bytes.data(), 1, bytes.size(), file.f) != bytes.size()) return false;
  if (fseek(file.f, 0, SEEK_SET) != 0) return false;
  return fwrite(pointer.data(), 1, 4, file.f) == 4;
}

}  // namespace

std::string WindowSaveFile() { return Session.tempDir + "WinPush.tmp"; }

void ResetWindows() {
  Windows = WindowState{};
  DeleteFile(WindowSaveFile());
}

int ScreenColumns() { return ConsoleColumns(); }
int ScreenRows() { return ConsoleRows(); }

// ---- Window stack ---------------------------------------------------------------

bool OpenWindow(int top, int left, int bottom, int right) {
  Rect rect{top, left, bottom, right};
  if (!RectOnConsole(rect)) return false;

  // With no window open, whatever the save file holds is a leftover of an
  // earlier run: the stack starts afresh.
  bool fresh = Windows.WindowDepth <= 0;
  if (fresh) {
    Windows.WindowDepth = 0;
    Windows.opened.clear();
  }

  std::string path = WindowSaveFile();
  long pointer = kFirstFrame;
  FileHandle file;
  if (!fresh) {
    file = FileHandle(path, "r+b");
    if (file) {
      std::string head(4, '\0');
      long size = -1;
      if (fseek(file.f, 0, SEEK_END) == 0) size = ftell(file.f);
      if (size >= kPointerSize && fseek(file.f, 0, SEEK_SET) == 0 && fread(head.data(), 1, 4, file.f) == 4) {
        pointer = GetPointer(head);
        // A pointer that does not point into the file: the stack on disk
        // is damaged and is started again.
        if (pointer < kFirstFrame || pointer - 1 > size) file.Close();
      } else {
        pointer = kFirstFrame;
      }
    }
    if (!file) pointer = kFirstFrame;
  }
  if (!file) file = FileHandle(path, "w+b");

  std::string frame;
  frame += TwoDigits(ConsoleCursorRow()) + TwoDigits(ConsoleCursorColumn());
  frame += TwoDigits(Windows.WindowTop) + TwoDigits(Windows.WindowLeft) + TwoDigits(Windows.WindowBottom) +
           TwoDigits(Windows.WindowRight);
  frame += TwoDigits(top) + TwoDigits(left) + TwoDigits(bottom) + TwoDigits(right);
  for (int r = top; r <= bottom; ++r)
    for (int c = left; c <= right; ++c) {
      ConsoleCell cell = ConsoleGetCell(r, c);
      frame += static_cast<char>(cell.ch);
      frame += static_cast<char>(cell.attr);
    }
  // At most 99 * 99 cells: the length always fits its five digits.
  long length = static_cast<long>(frame.size()) + kFrameTail;
  for (long unit = 10000; unit >= 1; unit /= 10) frame += static_cast<char>('0' + (length / unit) % 10);
  // When the file cannot be written the window still opens: it closes
  // from the in-memory copy, without its cells.
  if (file) WriteFrame(file, pointer, frame);
  file.Close();

  OpenedWindow memo;
  memo.cursorRow = ConsoleCursorRow();
  memo.cursorColumn = ConsoleCursorColumn();
  memo.top = Windows.WindowTop;
  memo.left = Windows.WindowLeft;
  memo.bottom = Windows.WindowBottom;
  memo.right = Windows.WindowRight;
  Windows.opened.push_back(memo);
  SetCurrentRect(top, left, bottom, right);
  ++Windows.WindowDepth;
  return true;
}

void CloseWindow() {
  // With no window open there is nothing to close (a leftover save file
  // from an earlier run is not restored onto this screen).
  if (Windows.WindowDepth <= 0) return;
  --Windows.WindowDepth;
  bool haveMemo = !Windows.opened.empty();
  OpenedWindow memo;
  if (haveMemo) {
    memo = Windows.opened.back();
    Windows.opened.pop_back();
  }

  std::string path = WindowSaveFile();
  std::string data;
  SavedFrame frame;
  bool fileThere = ReadWholeFile(path, data) && static_cast<long>(data.size()) >= kPointerSize;
  bool usable = fileThere && ReadNewestFrame(data, frame) && SameRect(frame.window, CurrentRect());
  if (usable && haveMemo)
    usable = SameRect(frame.enclosing, Rect{memo.top, memo.left, memo.bottom, memo.right});

  if (usable) {
    size_t i = 0;
    unsigned char lastAttribute = ConsoleAttribute();
    for (int r = frame.window.top; r <= frame.window.bottom; ++r)
      for (int c = frame.window.left; c <= frame.window.right; ++c) {
        ConsoleCell cell{static_cast<unsigned char>(frame.cells[i]),
                         static_cast<unsigned char>(frame.cells[i + 1])};
        ConsolePutCell(r, c, cell);
        lastAttribute = cell.attr;
        i += 2;
      }
    ConsoleSetAttribute(lastAttribute);
    ConsoleSetCursor(frame.cursorRow, frame.cursorColumn);
    SetCurrentRect(frame.enclosing.top, frame.enclosing.left, frame.enclosing.bottom, frame.enclosing.right);
    if (frame.start < 6) {
      DeleteFile(path);
    } else {
      FileHandle file(path, "r+b");
      std::string pointer(4, '\0');
      PutPointer(pointer, frame.start);
      if (file && fseek(file.f, 0, SEEK_SET) == 0) fwrite(pointer.data(), 1, 4, file.f);
    }
  } else {
    // Save file missing or damaged: the cells cannot come back, but the
    // window is closed all the same.  A damaged file is dropped so that
    // no later close reads garbage from it (the outer windows then close
    // from memory too).
    if (FileExists(path)) DeleteFile(path);
    if (haveMemo) {
      ConsoleSetCursor(memo.cursorRow, memo.cursorColumn);
      SetCurrentRect(memo.top, memo.left, memo.bottom, memo.right);
    } else {
      SetCurrentRect(0, 0, 0, 0);
    }
  }
  if (Windows.WindowDepth == 0) {
    Windows.opened.clear();
    SetCurrentRect(0, 0, 0, 0);
  }
}
