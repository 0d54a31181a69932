// keys.cpp - the key reader, the wait for a key, the exit-key set and the
// case-folding tables.
//
// Every key of the program comes through ReadKey: the type-ahead text
// first (what the calculator or the calendar handed back, delivered as if
// typed), then the console's events, which already carry the program's
// 16-bit key codes with Shift, Ctrl and Alt folded in.  On top of that this
// file adds character entry by code on the numeric keypad (Alt held), the
// Alt+E shortcut for the character 213, and the two pop-ups on Alt+X and
// Alt+C, which the screen layer installs in Keyboard.calculator and
// Keyboard.calendar (they draw in windows, a layer above this one).
#include "input/keys.h"

#include <cctype>
#include <cstdlib>

#include "platform/console.h"
#include "platform/le.h"

KeyboardState Keyboard;

namespace {

// How long to wait for the next keypad digit while Alt is held: the digits
// of one code are typed in a row; a pause this long ends the code.
constexpr int kAltDigitWaitMs = 700;

enum MouseState { MOUSE_UNSET = 0, MOUSE_ON = 1, MOUSE_OFF = 2, MOUSE_ABSENT = 3 };

// Upper case of code page 850, accents kept; entry i is the code 64 + i.
const unsigned char kUpperTable[174] = {
    0x40, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4A, 0x4B, 0x4C, 0x4D, 0x4E, 0x4F,
    0x50, 0x51, 0x52, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5A, 0x5B, 0x5C, 0x5D, 0x5E, 0x5F,
    0x60, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4A, 0x4B, 0x4C, 0x4D, 0x4E, 0x4F,
    0x50, 0x51, 0x52, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5A, 0x7B, 0x7C, 0x7D, 0x7E, 0x7F,
    0x80, 0x9A, 0x90, 0xB6, 0x8E, 0xB7, 0x8F, 0x80, 0xD2, 0xD3, 0xD4, 0xD8, 0xD7, 0xDE, 0x8E, 0x8F,
    0x90, 0x92, 0x92, 0xE2, 0x99, 0xE3, 0xEA, 0xEB, 0x98, 0x99, 0x9A, 0x9B, 0x9C, 0x9D, 0x9E, 0x9F,
    0xB5, 0xD6, 0xE0, 0xE9, 0xA5, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0xAA, 0xAB, 0xAC, 0xAD, 0xAE, 0xAF,
    0xB0, 0xB1, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6, 0xB7, 0xB8, 0xB9, 0xBA, 0xBB, 0xBC, 0xBD, 0xBE, 0xBF,
    0xC0, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC7, 0xC7, 0xC8, 0xC9, 0xCA, 0xCB, 0xCC, 0xCD, 0xCE, 0xCF,
    0xD1, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8, 0xD9, 0xDA, 0xDB, 0xDC, 0xDD, 0xDE, 0xDF,
    0xE0, 0xE1, 0xE2, 0xE3, 0xE5, 0xE5, 0xE6, 0xE7, 0xE8, 0xE9, 0xEA, 0xEB, 0xED, 0xED,
};

// Letters with accents and case removed, everything else blank; entry i is
// the code 64 + i.
const unsigned char kLetterTable[174] = {
    0x20, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4A, 0x4B, 0x4C, 0x4D, 0x4E, 0x4F,
    0x50, 0x51, 0x52, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5A, 0x20, 0x20, 0x20, 0x20, 0x20,
    0x20, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4A, 0x4B, 0x4C, 0x4D, 0x4E, 0x4F,
    0x50, 0x51, 0x52, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5A, 0x20, 0x20, 0x20, 0x20, 0x20,
    0x43, 0x55, 0x45, 0x41, 0x41, 0x41, 0x41, 0x43, 0x45, 0x45, 0x45, 0x49, 0x49, 0x49, 0x41, 0x41,
    0x45, 0x41, 0x41, 0x4F, 0x4F, 0x4F, 0x55, 0x55, 0x59, 0x4F, 0x55, 0x4F, 0x20, 0x4F, 0x20, 0x20,
    0x41, 0x49, 0x4F, 0x55, 0x4E, 0x4E, 0x41, 0x4F, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20,
    0x20, 0x20, 0x20, 0x20, 0x20, 0x41, 0x41, 0x41, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20,
    0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x41, 0x41, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20,
    0x44, 0x44, 0x45, 0x45, 0x45, 0x45, 0x49, 0x49, 0x49, 0x20, 0x20, 0x20, 0x20, 0x20, 0x49, 0x20,
    0x4F, 0x53, 0x4F, 0x4F, 0x4F, 0x4F, 0x20, 0x54, 0x54, 0x55, 0x55, 0x55, 0x59, 0x59,
};

bool NextEvent(ConsoleEvent& event, int timeoutMs) {
  if (!Keyboard.pending.empty()) {
    event = Keyboard.pending.front();
    Keyboard.pending.erase(Keyboard.pending.begin());
    return true;
  }
  return ConsolePollEvent(event, timeoutMs);
}

// Opens a pop-up unless it is already open (or none is installed); what it
// returns is typed next.
void OpenPopup(bool& open, std::string (*popup)()) {
  if (open || !popup) return;
  open = true;
  std::string result = popup();
  open = false;
  Keyboard.TypeAhead = result;
}

// One read: timeoutMs 0 answers at once, a negative value waits.  False
// when the console had no event to give.
bool ReadOnce(KeyCode& key, int& button, int& column, int& row, int timeoutMs) {
  key = 0;
  button = column = row = 0;
  if (!Keyboard.TypeAhead.empty()) {
    key = static_cast<unsigned char>(Keyboard.TypeAhead[0]);
    Keyboard.TypeAhead.erase(0, 1);
    return true;
  }

  if (Keyboard.mouseState == MOUSE_UNSET) Keyboard.mouseState = ConsoleHasMouse() ? MOUSE_OFF : MOUSE_ABSENT;
  if (Keyboard.mouseState == MOUSE_OFF) Keyboard.mouseState = MOUSE_ON;

  ConsoleEvent event;
  if (!NextEvent(event, timeoutMs)) return false;

  if (event.kind == ConsoleEvent::MOUSE) {
    if (Keyboard.mouseState != MOUSE_ON || event.button == 0) return true;
    button = event.button;
    column = event.column;
    row = event.row;
    Keyboard.mouseState = MOUSE_OFF;
    return true;
  }
  if (event.kind != ConsoleEvent::KEY) return true;

  if (event.altKeypadDigit >= 0) {
    // Character entry by code: the digits typed on the keypad with Alt
    // held make one character, code = value mod 256 (kept reduced as the
    // digits come, which gives the same remainder).
    int value = 0;
    bool ended = false;
    while (event.kind == ConsoleEvent::KEY && event.altKeypadDigit >= 0 && event.altKeypadDigit <= 9) {
      value = (value * 10 + event.altKeypadDigit) % 256;
      if (!NextEvent(event, kAltDigitWaitMs)) {
        ended = true;
        break;
      }
    }
    // The event that ended the digits belongs to the next read.
    if (!ended) Keyboard.pending.insert(Keyboard.pending.begin(), event);
    key = value;
    Keyboard.mouseState = MOUSE_OFF;
    return true;
  }

  key = event.key & 0xFFFF;
  if (key == kKeyAltE) key = 0xD5;
  Keyboard.mouseState = MOUSE_OFF;

  if (key == kKeyAltX) OpenPopup(Keyboard.calculatorOpen, Keyboard.calculator);
  else if (key == kKeyAltC) OpenPopup(Keyboard.calendarOpen, Keyboard.calendar);
  return true;
}

}  // namespace

void ReadKey(KeyCode& key, int& button, int& column, int& row) { ReadOnce(key, button, column, row, 0); }

void ReadKeyWaiting(KeyCode& key, int& button, int& column, int& row) {
  do {
    if (!ReadOnce(key, button, column, row, -1)) {
      // A console that cannot wait (none started, or stopped) would make
      // this loop spin: answer Esc, which leaves every dialogue.
      key = kKeyEsc;
      return;
    }
  } while (key == 0 && button == 0);
}

void WaitKey(KeyCode& key) {
  int button = 0, column = 0, row = 0;
  ReadKeyWaiting(key, button, column, row);
  if (key == 0) key = (column * 256 + button * 64 + row) & 0xFFFF;
}

void FlushKeys() {
  // Everything typed before this point is dropped, the pop-ups' unread
  // results included: the operator is about to be asked something new.
  ConsoleFlushInput();
  Keyboard.pending.clear();
  Keyboard.TypeAhead.clear();
}

void KeySet(const std::string& operations, const std::string& keyList) {
  for (unsigned char op : operations) {
    switch (std::toupper(op)) {
      case 'A': {
        size_t start = 0;
        while (start <= keyList.size()) {
          size_t comma = keyList.find(',', start);
          if (comma == std::string::npos) comma = keyList.size();
          std::string entry = keyList.substr(start, comma - start);
          // An empty entry adds the code 0, which never ends an edit.
          long code = std::strtol(entry.c_str(), nullptr, 16);
          Keyboard.ExitKeySet += Le16Bytes(static_cast<uint16_t>(code & 0xFFFF));
          start = comma + 1;
        }
        break;
      }
      case 'E': Keyboard.ExitKeySet.clear(); break;
      case '+':
        // A full stack drops its oldest set: the nesting that matters
        // (a pop-up inside a field inside a screen) is far shallower.
        if (Keyboard.savedSets.size() >= kSavedKeySetDepth)
          Keyboard.savedSets.erase(Keyboard.savedSets.begin());
        Keyboard.savedSets.push_back(Keyboard.ExitKeySet);
        break;
      case '-':
        if (!Keyboard.savedSets.empty()) {
          Keyboard.ExitKeySet = Keyboard.savedSets.back();
          Keyboard.savedSets.pop_back();
        }
        break;
      case 'H': Keyboard.maskCharacter = 'X'; break;
      case 'V': Keyboard.maskCharacter = 0; break;
      default: break;
    }
  }
}

std::string FoldText(const std::string& text) {
  const unsigned char* table = Keyboard.foldLetters ? kLetterTable : kUpperTable;
  std::string folded = text;
  for (char& c : folded) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u >= 64 && u <= 237) c = static_cast<char>(table[u - 64]);
  }
  return folded;
}
