// keys.h - the key reader, the exit-key set and the folding of texts for
// comparison.  The field editor that reads with them is screen/editor.h.
//
// Key codes: a character key is its code page 850 code (1..255); an
// extended key is its scan code * 256 (Up 0x4800 ...); a mouse click is
// -(column * 100 + row); 0 means no key.  They are held in an int, so the
// high extended codes (F11 0x8500, F12 0x8600) stay positive and never read
// as mouse clicks.
#pragma once
#include <string>
#include <vector>

#include "platform/console.h"

// A key code as above.
using KeyCode = int;

// The keys the program names.  Control characters:
constexpr KeyCode kKeyBackspace = 8, kKeyTab = 9, kKeyEnter = 13, kKeyEsc = 27;
// Ctrl+C copies the field, Ctrl+V pastes into it, Ctrl+Y blanks it (the editor's).
constexpr KeyCode kKeyCtrlC = 3, kKeyCtrlV = 22, kKeyCtrlY = 25;
// Extended keys, scan code * 256: Shift+Tab.
constexpr KeyCode kKeyShiftTab = 0x0F00;
// Alt+E (read as the character 213), Alt+F (hands a pop-up's result back, as
// F does), Alt+X (calculator), Alt+C (calendar).
constexpr KeyCode kKeyAltE = 0x1200, kKeyAltF = 0x2100, kKeyAltX = 0x2D00, kKeyAltC = 0x2E00;
// F1 help, F2 on to the screen's continuation, F4 browse list.
constexpr KeyCode kKeyF1 = 0x3B00, kKeyF2 = 0x3C00, kKeyF4 = 0x3E00;
// The cursor keys.
constexpr KeyCode kKeyHome = 0x4700, kKeyUp = 0x4800, kKeyPgUp = 0x4900;
constexpr KeyCode kKeyLeft = 0x4B00, kKeyRight = 0x4D00;
constexpr KeyCode kKeyEnd = 0x4F00, kKeyDown = 0x5000, kKeyPgDn = 0x5100;
// Insert and Delete.
constexpr KeyCode kKeyIns = 0x5200, kKeyDel = 0x5300;
// Ctrl+F4 and Alt+F4, which end an edit as Esc does.
constexpr KeyCode kKeyCtrlF4 = 0x6100, kKeyAltF4 = 0x6B00;
// Ctrl+Left and Ctrl+Right (a word left or right), Ctrl+Home (blanks the field).
constexpr KeyCode kKeyCtrlLeft = 0x7300, kKeyCtrlRight = 0x7400, kKeyCtrlHome = 0x7700;

// The state of the keyboard for the whole run.
struct KeyboardState {
  std::string TypeAhead;               // delivered as typed keys before the console's
  std::string ExitKeySet;              // the keys that end an edit: 2-byte little-endian codes
  std::vector<std::string> savedSets;  // exit-key sets saved by KeySet "+", newest last
  std::string FieldOptions;            // the choices of the next edit: "|option,|option," or empty
  // The field being edited takes a number as it is (a date, a code), not an
  // amount in hundredths: the calculator hands its result back unscaled.
  bool plainNumbers = false;
  int maskCharacter = 0;        // 'X' while the edited text is hidden (KeySet "h"), else 0
  bool foldLetters = false;     // FoldText gives plain capitals, not upper case
  bool calculatorOpen = false;  // the calculator is on screen (Alt+X does not open another)
  bool calendarOpen = false;    // the calendar is on screen (Alt+C does not open another)
  int mouseState = 0;           // 0 not initialised, 1 on, 2 off, 3 absent
  // An Escape was among the keys DropTypedKeys dropped: the settlement
  // pass, which is the one wait that Escape ends, clears it at its start
  // and stops when it is set.
  bool escapeTyped = false;
  // A console event that ended an Alt+keypad digit sequence; the next read
  // delivers it.
  std::vector<ConsoleEvent> pending;
  // The pop-ups Alt+X and Alt+C open, installed at start-up by the screen
  // layer (InstallScreenHooks: Calculator and CalendarPopup); their result is
  // typed next.  Without one the key comes through and nothing opens.
  std::string (*calculator)() = nullptr;
  std::string (*calendar)() = nullptr;
};
extern KeyboardState Keyboard;
// Depth of the stack of saved exit-key sets; a "+" on a full stack drops the
// oldest saved set.
constexpr size_t kSavedKeySetDepth = 16;

// One read without waiting: the next type-ahead character, else the
// console's next event; `key` 0 when there is none.  A mouse click gives key
// 0 with `button` (1 left, 2 right, 4 middle) and the console `column` and
// `row`.  Alt + keypad digits make one character (code mod 256), Alt+E the
// character 213; Alt+X and Alt+C open the calculator and the calendar, whose
// result becomes the type-ahead.
void ReadKey(KeyCode& key, int& button, int& column, int& row);
// Waits for a key and gives its code; a mouse click comes as
// column * 256 + button * 64 + row.
void WaitKey(KeyCode& key);
// As ReadKey, but waits (without spinning) until a key or a mouse button
// arrives; the field editor reads with it.  Esc when the console cannot wait.
void ReadKeyWaiting(KeyCode& key, int& button, int& column, int& row);
// Drops every key typed and not read yet, the type-ahead included.
void FlushKeys();
// Reads every key the console has ready and drops it without acting on it
// (no pop-up opens, no field sees it), the type-ahead too; an Escape among
// them sets Keyboard.escapeTyped.  True when Keyboard.escapeTyped is set.
// For the times the program works or waits on something other than the
// operator (a settlement pass, another station's lock, a busy database).
bool DropTypedKeys();
// The end of such a wait: what was typed during it is dropped, never
// carried out after it (DropTypedKeys, then FlushKeys for what the console
// has not decoded yet); an Escape among it is kept in Keyboard.escapeTyped.
void DropKeysTypedWhileWaiting();
// Applies the letters of `operations` (any case) in order: "a" adds the
// comma-separated hexadecimal codes of `keyList` ("d,1b,4800") to the
// exit-key set, "e" empties it, "+" saves it, "-" puts back the last saved,
// "h" hides the edited text behind "X" marks, "v" shows it again; other
// letters count for nothing.
void KeySet(const std::string& operations, const std::string& keyList);
// The text upper-cased with its accents (UpperCaseCp850), or as plain
// capitals without accents (PlainLetterCp850) while Keyboard.foldLetters.
std::string FoldText(const std::string& text);
