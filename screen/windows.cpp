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
// The cells come back from the copy each open window keeps in memory
// (Windows.opened), never from the file: a full disk, a file-size limit, a
// save file damaged or replaced by another program of the station, or a
// symbolic link in its place (refused, and told once) never leave a window
// on the screen.  The file is still written frame by frame, as the suite's
// programs keep it.
#include "screen/windows.h"

#include <algorithm>
#include <cstdio>
#include <utility>

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

void PutPointer(std::string& bytes, long pointer) { PutLe32(bytes.data(), static_cast<uint32_t>(pointer)); }

long GetPointer(const std::string& bytes) { return static_cast<int32_t>(GetLe32(bytes.data())); }

// Writes `bytes` at 1-based position `at` and the pointer at position 1.
bool WriteFrame(FileHandle& file, long at, const std::string& bytes) {
  std::string pointer(4, '\0');
  PutPointer(pointer, at + static_cast<long>(bytes.size()));
  if (fseek(file.f, at - 1, SEEK_SET) != 0) return false;
  if (fwrite(bytes.data(), 1, bytes.size(), file.f) != bytes.size()) return false;
  if (fseek(file.f, 0, SEEK_SET) != 0) return false;
  return fwrite(pointer.data(), 1, 4, file.f) == 4 && fflush(file.f) == 0;
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
  int refused = 0;  // why the file could not be opened
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
  if (!file) {
    file = FileHandle(path, "w+b");
    refused = file.error;
  }

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
  // When the file cannot be written the window opens all the same: it
  // closes from the in-memory copy.
  bool written = file && WriteFrame(file, pointer, frame);
  file.Close();

  OpenedWindow memo;
  memo.cursorRow = ConsoleCursorRow();
  memo.cursorColumn = ConsoleCursorColumn();
  memo.top = Windows.WindowTop;
  memo.left = Windows.WindowLeft;
  memo.bottom = Windows.WindowBottom;
  memo.right = Windows.WindowRight;
  memo.windowTop = static_cast<int16_t>(top);
  memo.windowLeft = static_cast<int16_t>(left);
  memo.windowBottom = static_cast<int16_t>(bottom);
  memo.windowRight = static_cast<int16_t>(right);
  memo.cells = frame.substr(static_cast<size_t>(kFrameHead), frame.size() - kFrameHead - kFrameTail);
  memo.fileStart = written ? pointer : 0;
  Windows.opened.push_back(std::move(memo));
  SetCurrentRect(top, left, bottom, right);
  ++Windows.WindowDepth;
  // Told once the window is in place (the message is a window of its own).
  if (refused != 0) TellRefusedFile(path, refused);
  return true;
}

void CloseWindow() {
  // With no window open there is nothing to close (a leftover save file
  // from an earlier run is not restored onto this screen).
  if (Windows.WindowDepth <= 0) return;
  --Windows.WindowDepth;
  if (Windows.opened.empty()) {  // the depth was set by hand: nothing to put back
    SetCurrentRect(0, 0, 0, 0);
    return;
  }
  OpenedWindow memo = std::move(Windows.opened.back());
  Windows.opened.pop_back();

  size_t i = 0;
  unsigned char lastAttribute = ConsoleAttribute();
  for (int r = memo.windowTop; r <= memo.windowBottom; ++r)
    for (int c = memo.windowLeft; c <= memo.windowRight && i + 1 < memo.cells.size(); ++c) {
      ConsoleCell cell{static_cast<unsigned char>(memo.cells[i]),
                       static_cast<unsigned char>(memo.cells[i + 1])};
      ConsolePutCell(r, c, cell);
      lastAttribute = cell.attr;
      i += 2;
    }
  ConsoleSetAttribute(lastAttribute);
  ConsoleSetCursor(memo.cursorRow, memo.cursorColumn);
  SetCurrentRect(memo.top, memo.left, memo.bottom, memo.right);

  // The save file follows: its pointer back to this window's frame, or
  // the file gone with the first frame (or when this frame never got in).
  std::string path = WindowSaveFile();
  if (memo.fileStart >= 6 && Windows.WindowDepth > 0) {
    FileHandle file(path, "r+b");
    std::string pointer(4, '\0');
    PutPointer(pointer, memo.fileStart);
    if (file && fseek(file.f, 0, SEEK_SET) == 0) fwrite(pointer.data(), 1, 4, file.f);
  } else if (FileExists(path)) {
    DeleteFile(path);
  }
  if (Windows.WindowDepth == 0) {
    Windows.opened.clear();
    SetCurrentRect(0, 0, 0, 0);
  }
}
