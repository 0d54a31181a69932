// console.h - the text console the screens draw on.
//
// A console of 80 columns and 25 rows (1-based rows and columns) whose cells
// each hold a code page 850 byte and an attribute (background * 16 +
// foreground, the usual 16-colour text palette).  The cell buffer lives here,
// above the backend: reading a cell back (window save and restore) is a
// memory read, and ConsoleFlush sends only the cells changed since the last
// flush.  Two backends sit behind it, chosen at start-up:
//   - the terminal backend (console_term.cpp, ncursesw), which also decodes
//     the terminal's key sequences into the program's 16-bit key codes;
//   - the virtual backend, in memory, for tests: scripted keys and mouse
//     clicks, and the screen read back as text.
#pragma once
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

struct ConsoleCell {
  unsigned char ch = ' ';
  unsigned char attr = 0x07;
  bool operator==(const ConsoleCell&) const = default;
};

// One input event.  Keys arrive already as the program's key codes: a
// character key is its code page 850 code, an extended key its scan code *
// 256 with Shift, Ctrl and Alt folded into the classic extended codes.
struct ConsoleEvent {
  enum Kind { NONE = 0, KEY = 1, MOUSE = 2 } kind = NONE;
  int key = 0;
  // 0..9 when the key is a numeric-keypad digit typed while left Alt is
  // held (character entry by code), -1 otherwise.
  int altKeypadDigit = -1;
  int button = 0;  // mouse: 1 left, 2 right, 4 middle
  int column = 0;  // mouse: console column, 1-based
  int row = 0;     // mouse: console row, 1-based
};

struct ConsoleBackend {
  // Sends the cells marked in `damaged` (rows * columns flags), the cursor
  // position, visibility and shape to the device.
  void (*flush)() = nullptr;
  // Waits up to timeoutMs (negative: without limit) for an event.
  bool (*poll)(ConsoleEvent& event, int timeoutMs) = nullptr;
  void (*flushInput)() = nullptr;
  void (*bell)() = nullptr;
  void (*setClipboard)(const std::string& cp850) = nullptr;  // may be null
  void (*stop)() = nullptr;
};

struct ConsoleState {
  int rows = 25;
  int columns = 80;
  std::vector<ConsoleCell> cells;      // rows * columns, row-major
  std::vector<unsigned char> damaged;  // one flag per cell
  bool anyDamage = true;
  int cursorRow = 1, cursorColumn = 1;
  bool cursorVisible = true;
  bool cursorInsertShape = false;  // half-height (insert) or block
  unsigned char attribute = 0x07;
  bool mousePresent = false;
  bool insertToggle = false;  // the keyboard's Insert state, kept for the run
  std::string clipboard;      // code page 850; the fallback when the terminal offers none
  const ConsoleBackend* backend = nullptr;
  // Virtual backend.
  std::deque<ConsoleEvent> scripted;
  // Scripted events that come only once the program waits for one (as an
  // operator types when the screen asks): after `scripted`, and never to a
  // look that does not wait (timeout 0).
  std::deque<ConsoleEvent> typedWhenWaited;
  int starved = 0;  // blocking reads made after the script ran out
  int bells = 0;
};
extern ConsoleState Console;

// Start-up and shut-down.
bool ConsoleStartTerminal();  // false when no terminal is available
// Why the last ConsoleStartTerminal gave false: the input or the output is
// not a terminal, TERM names no terminal type (empty, "dumb", "unknown"),
// TERM names a type the terminal database does not know, or something else.
enum class TerminalProblem : uint8_t { kNone, kNotATerminal, kNoType, kUnknownType, kOther };
TerminalProblem ConsoleTerminalProblem();
void ConsoleStartVirtual(int rows = 25, int columns = 80);
void ConsoleStop();

int ConsoleRows();
int ConsoleColumns();

// Cells.  Positions outside the console are ignored (reads give a blank).
void ConsolePutCell(int row, int column, ConsoleCell cell);
ConsoleCell ConsoleGetCell(int row, int column);
// Writes the bytes at the cursor in the current attribute and moves the
// cursor on; writing past the last column goes on at the next row.
void ConsoleWrite(const std::string& cp850);
void ConsoleSetAttribute(unsigned char attribute);
unsigned char ConsoleAttribute();
// Scrolls the rectangle up (lines > 0) or down (lines < 0), filling the
// freed rows with blanks in `attribute`.
void ConsoleScroll(int top, int left, int bottom, int right, int lines, unsigned char attribute);
void ConsoleClear(unsigned char attribute);

// Cursor.
void ConsoleSetCursor(int row, int column);
int ConsoleCursorRow();
int ConsoleCursorColumn();
void ConsoleShowCursor(bool visible);
bool ConsoleCursorShown();
void ConsoleSetCursorShape(bool insertShape);

// Output and input.
void ConsoleFlush();
// Flushes the output, then waits up to timeoutMs (negative: without limit)
// for an event.  False when none came.
bool ConsolePollEvent(ConsoleEvent& event, int timeoutMs);
void ConsoleFlushInput();
void ConsoleBell();
bool ConsoleHasMouse();

// Clipboard: copy goes to the terminal (OSC 52) where it can, and is kept
// here for paste in any case.
void ConsoleSetClipboard(const std::string& cp850);
std::string ConsoleGetClipboard();

// ---- Virtual console helpers for tests --------------------------------------

void VirtualPushKey(int key);
void VirtualPushKeys(const std::vector<int>& keys);
// Keys the operator types once the program waits for a key (typedWhenWaited).
void VirtualTypeWhenWaited(const std::vector<int>& keys);
void VirtualPushText(const std::string& cp850);  // one key per byte
void VirtualPushAltKeypad(const std::string& digits);
void VirtualPushMouse(int column, int row, int button = 1);
// The characters of a row from `column`, `length` cells (to the end of the
// row when length < 0), as code page 850 bytes.
std::string VirtualRowText(int row, int column = 1, int length = -1);
// The whole screen as lines of text, for failure messages.
std::string VirtualScreenDump();
