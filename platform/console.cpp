// console.cpp - the console's cell buffer, cursor and the virtual backend.
//
// Every drawing operation of the program ends up here as a change of cells
// in Console.cells; the backend only ever sees the cells marked damaged, so
// a redraw that writes what is already there costs nothing on the wire.
#include "platform/console.h"

#include <algorithm>

#include "platform/platform.h"

ConsoleState Console;

namespace {

bool Inside(int row, int column) {
  return row >= 1 && row <= Console.rows && column >= 1 && column <= Console.columns;
}

size_t Index(int row, int column) { return static_cast<size_t>(row - 1) * Console.columns + (column - 1); }

void ResetBuffer(int rows, int columns) {
  Console.rows = rows;
  Console.columns = columns;
  Console.cells.assign(static_cast<size_t>(rows) * columns, ConsoleCell{});
  Console.damaged.assign(Console.cells.size(), 1);
  Console.anyDamage = true;
  Console.cursorRow = 1;
  Console.cursorColumn = 1;
  Console.attribute = 0x07;
}

// ---- Virtual backend ---------------------------------------------------------

void VirtualFlush() {
  std::fill(Console.damaged.begin(), Console.damaged.end(), 0);
  Console.anyDamage = false;
}

bool VirtualPoll(ConsoleEvent& event, int timeoutMs) {
  if (Console.scripted.empty() && timeoutMs != 0 && !Console.typedWhenWaited.empty()) {
    event = Console.typedWhenWaited.front();
    Console.typedWhenWaited.pop_front();
    return true;
  }
  if (Console.scripted.empty()) {
    if (timeoutMs < 0) {
      // A test that runs out of scripted keys while the program still
      // waits: answer Escape, which leaves every dialogue, and count it so
      // that the test can notice.
      ++Console.starved;
      event = ConsoleEvent{};
      event.kind = ConsoleEvent::KEY;
      event.key = 27;
      return true;
    }
    return false;
  }
  event = Console.scripted.front();
  Console.scripted.pop_front();
  return true;
}

void VirtualFlushInput() {}
void VirtualBell() { ++Console.bells; }
void VirtualStop() {}

const ConsoleBackend kVirtualBackend = {VirtualFlush, VirtualPoll, VirtualFlushInput,
                                        VirtualBell,  nullptr,     VirtualStop};

}  // namespace

void ConsoleStartVirtual(int rows, int columns) {
  ResetBuffer(rows, columns);
  Console.backend = &kVirtualBackend;
  Console.scripted.clear();
  Console.typedWhenWaited.clear();
  Console.starved = 0;
  Console.bells = 0;
  Console.cursorVisible = true;
  Console.cursorInsertShape = false;
  Console.mousePresent = true;
  Console.insertToggle = false;
  Console.clipboard.clear();
}

void ConsoleStop() {
  if (Console.backend && Console.backend->stop) Console.backend->stop();
  Console.backend = nullptr;
}

int ConsoleRows() { return Console.rows; }
int ConsoleColumns() { return Console.columns; }

void ConsolePutCell(int row, int column, ConsoleCell cell) {
  if (!Inside(row, column)) return;
  size_t i = Index(row, column);
  if (Console.cells[i] == cell) return;
  Console.cells[i] = cell;
  Console.damaged[i] = 1;
  Console.anyDamage = true;
}

ConsoleCell ConsoleGetCell(int row, int column) {
  if (!Inside(row, column)) return ConsoleCell{};
  return Console.cells[Index(row, column)];
}

void ConsoleWrite(const std::string& cp850) {
  for (unsigned char c : cp850) {
    if (Console.cursorColumn > Console.columns) {
      Console.cursorColumn = 1;
      if (Console.cursorRow < Console.rows) ++Console.cursorRow;
    }
    ConsolePutCell(Console.cursorRow, Console.cursorColumn, ConsoleCell{c, Console.attribute});
    ++Console.cursorColumn;
  }
  if (Console.cursorColumn > Console.columns + 1) Console.cursorColumn = Console.columns + 1;
}

void ConsoleSetAttribute(unsigned char attribute) { Console.attribute = attribute; }
unsigned char ConsoleAttribute() { return Console.attribute; }

void ConsoleScroll(int top, int left, int bottom, int right, int lines, unsigned char attribute) {
  top = std::max(top, 1);
  left = std::max(left, 1);
  bottom = std::min(bottom, Console.rows);
  right = std::min(right, Console.columns);
  if (top > bottom || left > right || lines == 0) return;
  int height = bottom - top + 1;
  int n = std::min(lines < 0 ? -lines : lines, height);
  ConsoleCell blank{' ', attribute};
  if (lines > 0) {
    for (int r = top; r <= bottom; ++r)
      for (int c = left; c <= right; ++c)
        ConsolePutCell(r, c, r + n <= bottom ? ConsoleGetCell(r + n, c) : blank);
  } else {
    for (int r = bottom; r >= top; --r)
      for (int c = left; c <= right; ++c)
        ConsolePutCell(r, c, r - n >= top ? ConsoleGetCell(r - n, c) : blank);
  }
}

void ConsoleClear(unsigned char attribute) {
  for (int r = 1; r <= Console.rows; ++r)
    for (int c = 1; c <= Console.columns; ++c) ConsolePutCell(r, c, ConsoleCell{' ', attribute});
  Console.cursorRow = 1;
  Console.cursorColumn = 1;
}

void ConsoleSetCursor(int row, int column) {
  Console.cursorRow = std::clamp(row, 1, Console.rows);
  Console.cursorColumn = std::clamp(column, 1, Console.columns + 1);
}
int ConsoleCursorRow() { return Console.cursorRow; }
int ConsoleCursorColumn() { return Console.cursorColumn; }
void ConsoleShowCursor(bool visible) { Console.cursorVisible = visible; }
bool ConsoleCursorShown() { return Console.cursorVisible; }
void ConsoleSetCursorShape(bool insertShape) { Console.cursorInsertShape = insertShape; }

void ConsoleFlush() {
  if (Console.backend && Console.backend->flush) Console.backend->flush();
}

bool ConsolePollEvent(ConsoleEvent& event, int timeoutMs) {
  event = ConsoleEvent{};
  if (!Console.backend) return false;
  ConsoleFlush();
  return Console.backend->poll(event, timeoutMs);
}

void ConsoleFlushInput() {
  if (Console.backend && Console.backend->flushInput) Console.backend->flushInput();
}

void ConsoleBell() {
  if (Console.backend && Console.backend->bell) Console.backend->bell();
}

bool ConsoleHasMouse() { return Console.mousePresent; }

void ConsoleSetClipboard(const std::string& cp850) {
  Console.clipboard = cp850;
  if (Console.backend && Console.backend->setClipboard) Console.backend->setClipboard(cp850);
}

std::string ConsoleGetClipboard() { return Console.clipboard; }

// ---- Virtual console helpers ---------------------------------------------------

void VirtualPushKey(int key) {
  ConsoleEvent e;
  e.kind = ConsoleEvent::KEY;
  e.key = key;
  Console.scripted.push_back(e);
}

void VirtualTypeWhenWaited(const std::vector<int>& keys) {
  for (int k : keys) {
    ConsoleEvent e;
    e.kind = ConsoleEvent::KEY;
    e.key = k;
    Console.typedWhenWaited.push_back(e);
  }
}

void VirtualPushKeys(const std::vector<int>& keys) {
  for (int k : keys) VirtualPushKey(k);
}

void VirtualPushText(const std::string& cp850) {
  for (unsigned char c : cp850) VirtualPushKey(c);
}

void VirtualPushAltKeypad(const std::string& digits) {
  // Keypad keys as the console reports them: Ins 0, End 1, Down 2, PgDn 3,
  // Left 4, centre 5, Right 6, Home 7, Up 8, PgUp 9.
  static const int kKeypad[10] = {0x5200, 0x4F00, 0x5000, 0x5100, 0x4B00,
                                  0x4C00, 0x4D00, 0x4700, 0x4800, 0x4900};
  for (char d : digits) {
    if (d < '0' || d > '9') continue;
    ConsoleEvent e;
    e.kind = ConsoleEvent::KEY;
    e.key = kKeypad[d - '0'];
    e.altKeypadDigit = d - '0';
    Console.scripted.push_back(e);
  }
}

void VirtualPushMouse(int column, int row, int button) {
  ConsoleEvent e;
  e.kind = ConsoleEvent::MOUSE;
  e.button = button;
  e.column = column;
  e.row = row;
  Console.scripted.push_back(e);
}

std::string VirtualRowText(int row, int column, int length) {
  std::string text;
  if (row < 1 || row > Console.rows) return text;
  int last = length < 0 ? Console.columns : std::min(Console.columns, column + length - 1);
  for (int c = std::max(column, 1); c <= last; ++c) text += static_cast<char>(ConsoleGetCell(row, c).ch);
  return text;
}

std::string VirtualScreenDump() {
  std::string dump;
  for (int r = 1; r <= Console.rows; ++r) {
    std::string label = std::to_string(r);
    dump += (label.size() < 2 ? " " : "") + label + "|";
    dump += Cp850ToUtf8(VirtualRowText(r));
    dump += "|\n";
  }
  return dump;
}
