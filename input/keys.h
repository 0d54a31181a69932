// keys.h - the key reader and the exit-key set.  The field editor that
// reads with them is screen/editor.h.
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

using KeyCode = int;

constexpr KeyCode kKeyBackspace = 8, kKeyTab = 9, kKeyEnter = 13, kKeyEsc = 27;
constexpr KeyCode kKeyCtrlC = 3, kKeyCtrlV = 22, kKeyCtrlY = 25;
constexpr KeyCode kKeyShiftTab = 0x0F00;
constexpr KeyCode kKeyAltE = 0x1200, kKeyAltF = 0x2100, kKeyAltX = 0x2D00, kKeyAltC = 0x2E00;
constexpr KeyCode kKeyF1 = 0x3B00, kKeyF2 = 0x3C00, kKeyF4 = 0x3E00;
constexpr KeyCode kKeyHome = 0x4700, kKeyUp = 0x4800, kKeyPgUp = 0x4900;
constexpr KeyCode kKeyLeft = 0x4B00, kKeyRight = 0x4D00;
constexpr KeyCode kKeyEnd = 0x4F00, kKeyDown = 0x5000, kKeyPgDn = 0x5100;
constexpr KeyCode kKeyIns = 0x5200, kKeyDel = 0x5300;
constexpr KeyCode kKeyCtrlF4 = 0x6100, kKeyAltF4 = 0x6B00;
constexpr KeyCode kKeyCtrlLeft = 0x7300, kKeyCtrlRight = 0x7400, kKeyCtrlHome = 0x7700;

struct KeyboardState {
  std::string TypeAhead;   // delivered as typed keys before the console's
  std::string ExitKeySet;  // 2-byte little-endian key codes
  std::vector<std::string> savedSets;
  std::string FieldOptions;  // "|option,|option," or empty
  int maskCharacter = 0;     // 0 or 'X'
  bool foldLetters = false;  // FoldText uses the letter table
  bool calculatorOpen = false;
  bool calendarOpen = false;
  int mouseState = 0;  // 0 not initialised, 1 on, 2 off, 3 absent
  // A console event that ended an Alt+keypad digit sequence; the next read
  // delivers it.
  std::vector<ConsoleEvent> pending;
  // The pop-ups Alt+X and Alt+C open, installed at start-up by the screen
  // layer (InstallScreenHooks: Calculator and CalendarPopup); their result is
  // typed next.  Without one the key comes through and nothing opens.
  std::string (*calculator)() = nullptr;
  std::string (*calendar)() = nullptr;
};
// Depth of the stack of saved exit-key sets; a "+" on a full stack drops the
// oldest saved set.
constexpr size_t kSavedKeySetDepth = 16;
extern KeyboardState Keyboard;

void ReadKey(KeyCode& key, int& button, int& column, int& row);
void WaitKey(KeyCode& key);
// As ReadKey, but waits (without spinning) until a key or a mouse button
// arrives; the field editor reads with it.
void ReadKeyWaiting(KeyCode& key, int& button, int& column, int& row);
void FlushKeys();
void KeySet(const std::string& operations, const std::string& keyList);
std::string FoldText(const std::string& text);
