// windows.cpp - the window stack, frames, window-relative cursor placement,
// colour schemes, the paragraph formatter, message windows and the value
// stack.
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
#include <cctype>
#include <cstdio>

#include "input/keys.h"
#include "platform/console.h"
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

void PutPointer(std::string& bytes, long pointer) {
  uint32_t u = static_cast<uint32_t>(pointer);
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((u >> (8 * i)) & 0xFF);
}

long GetPointer(const std::string& bytes) {
  uint32_t u = 0;
  for (int i = 0; i < 4; ++i) u |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) << (8 * i);
  return static_cast<long>(static_cast<int32_t>(u));
}

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

unsigned char SchemeAttribute(int scheme) {
  if (scheme < 0 || scheme > 4) scheme = 0;
  return static_cast<unsigned char>((Session.background[scheme] & 15) * 16 +
                                    (Session.foreground[scheme] & 15));
}

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

// ---- Colour schemes ---------------------------------------------------------------

void SetColourScheme(const std::string& code) {
  std::string upper;
  for (unsigned char c : code) upper += static_cast<char>(std::toupper(c));
  if (upper.find_first_not_of(' ') == std::string::npos) return;
  if (upper.find('+') != std::string::npos) Windows.schemeStack += static_cast<char>(Windows.currentScheme);
  int scheme;
  if (upper.find('-') != std::string::npos) {
    scheme = 0;
    if (!Windows.schemeStack.empty()) {
      scheme = static_cast<unsigned char>(Windows.schemeStack.back());
      Windows.schemeStack.pop_back();
      if (scheme > 4) scheme = 0;
    }
  } else if (upper.find('U') != std::string::npos) {
    scheme = 4;
  } else {
    scheme = (upper.find('R') != std::string::npos ? 2 : 0) + (upper.find('N') != std::string::npos ? 1 : 0);
  }
  ConsoleSetAttribute(SchemeAttribute(scheme));
  Windows.currentScheme = scheme;
}

// ---- Paragraphs and messages -------------------------------------------------------

namespace {

// Widens a line to `width` by adding one space at a time to the gaps
// between words after the indent, left to right and round again.
// The positions of the gaps between words after the indent: the first
// blank of each run of blanks that has a word on both sides.
std::vector<size_t> Gaps(const std::string& line, int indent) {
  std::vector<size_t> gaps;
  for (size_t i = static_cast<size_t>(indent) + 1; i < line.size(); ++i) {
    if (line[i] != ' ' || line[i - 1] == ' ') continue;
    size_t j = i;
    while (j < line.size() && line[j] == ' ') ++j;
    if (j < line.size()) gaps.push_back(i);
  }
  return gaps;
}

// Widens a line to `width` by adding one blank at a time to the gaps
// between words, left to right and round again from the first gap.
std::string Justify(std::string line, int indent, int width) {
  size_t next = 0;
  while (static_cast<int>(line.size()) < width) {
    std::vector<size_t> gaps = Gaps(line, indent);
    if (gaps.empty()) break;
    if (next >= gaps.size()) next = 0;
    line.insert(gaps[next], 1, ' ');
    ++next;
  }
  return line;
}

}  // namespace

std::string FormatParagraph(const std::string& text, int indent, int width, const std::string& align) {
  int firstIndent = indent > 0 ? indent : 0;
  int laterIndent = indent < 0 ? -indent : 0;
  char letter = align.empty() ? ' ' : static_cast<char>(std::toupper(static_cast<unsigned char>(align[0])));
  auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };

  std::string out;
  size_t n = text.size(), pos = 0;
  bool first = true;
  while (pos < n) {
    int lineIndent = first ? firstIndent : laterIndent;
    first = false;
    // A line always takes at least one character, so that an indent as
    // wide as the line cannot stop the text from being used up.
    int room = std::max(width - lineIndent, 1);
    size_t j = pos;
    int used = 0;
    while (j < n) {
      if (byte(j) < 32) ++j;
      else if (used < room) ++used, ++j;
      else break;
    }
    bool insideWord = j < n && byte(j) > ' ';
    if (insideWord) {
      // Step back to the last blank (or control character) of the taken
      // part so that no word is split; a word longer than the room has no
      // such place and is split at the room.
      size_t k = j - 1;
      while (k > pos && byte(k) > ' ') --k;
      if (k > pos) j = k;
    }
    std::string taken = text.substr(pos, j - pos);
    if (!insideWord && (j >= n || byte(j) < ' '))
      while (!taken.empty() && taken.back() == ' ') taken.pop_back();
    std::string line = std::string(static_cast<size_t>(lineIndent), ' ') + taken;

    size_t next = j;
    while (next < n && text[next] == ' ') ++next;
    bool lastLine = next >= n;

    int missing = width - static_cast<int>(line.size());
    switch (letter) {
      case 'E':
      case 'L':
      case 'I':
        if (missing > 0) line.append(static_cast<size_t>(missing), ' ');
        break;
      case 'N':
      case '-':
        if (missing > 0) line.append(static_cast<size_t>(missing), '-');
        break;
      case 'D':
      case 'R':
        if (missing > 0) line.insert(0, static_cast<size_t>(missing), ' ');
        break;
      case 'C':
        if (missing > 0) {
          line.insert(0, static_cast<size_t>(missing / 2), ' ');
          line.append(static_cast<size_t>((missing + 1) / 2), ' ');
        }
        break;
      case 'A':
      case 'B':
        if (!lastLine && !Gaps(line, lineIndent).empty()) line = Justify(line, lineIndent, width);
        break;
      default: break;
    }
    out += line;
    pos = next;
  }
  return out;
}

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
    std::string line = formatted.substr(static_cast<size_t>(i) * 76, 76);
    while (!line.empty() && line.back() == ' ') line.pop_back();
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

// ---- Value stack and text -------------------------------------------------------------

void PushValue(const std::string& text) {
  // The length is a 16-bit number: a longer item keeps its first 65535 bytes.
  std::string item = text.size() > 0xFFFF ? text.substr(0, 0xFFFF) : text;
  Windows.valueStack += item;
  Windows.valueStack += static_cast<char>(item.size() & 0xFF);
  Windows.valueStack += static_cast<char>((item.size() >> 8) & 0xFF);
}

std::string PopValue() {
  std::string& stack = Windows.valueStack;
  if (stack.size() < 2) {
    // Nothing pushed: an unpaired pop gets an empty item.
    stack.clear();
    return "";
  }
  size_t length = static_cast<unsigned char>(stack[stack.size() - 2]) |
                  (static_cast<size_t>(static_cast<unsigned char>(stack[stack.size() - 1])) << 8);
  stack.resize(stack.size() - 2);
  if (length > stack.size()) {
    // A length larger than what is left: the stack is not what its users
    // pushed; hand back what there is rather than reading before it.
    std::string all = stack;
    stack.clear();
    return all;
  }
  std::string item = stack.substr(stack.size() - length);
  stack.resize(stack.size() - length);
  return item;
}

void WriteText(const std::string& text) { ConsoleWrite(text); }
