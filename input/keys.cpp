// keys.cpp - the key reader, the wait for a key, the exit-key set and the
// folding of texts (over the tables of platform/text.h).
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
#include "platform/text.h"

KeyboardState Keyboard;

namespace {

// How long to wait for the next keypad digit while Alt is held: the digits
// of one code are typed in a row; a pause this long ends the code.
constexpr int kAltDigitWaitMs = 700;
// DropTypedKeys reads at most this many events at a time.
constexpr size_t kDropAtMost = 4096;

enum MouseState { MOUSE_UNSET = 0, MOUSE_ON = 1, MOUSE_OFF = 2, MOUSE_ABSENT = 3 };

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

bool DropTypedKeys() {
  auto drop = [](const ConsoleEvent& event) {
    if (event.kind == ConsoleEvent::KEY && event.key == kKeyEsc) Keyboard.escapeTyped = true;
  };
  for (const ConsoleEvent& event : Keyboard.pending) drop(event);
  Keyboard.pending.clear();
  Keyboard.TypeAhead.clear();
  // Only what is ready now: a console that keeps delivering keys cannot
  // hold the program here.
  for (size_t read = 0; read < kDropAtMost; ++read) {
    ConsoleEvent event;
    if (!ConsolePollEvent(event, 0)) break;
    drop(event);
  }
  return Keyboard.escapeTyped;
}

void DropKeysTypedWhileWaiting() {
  DropTypedKeys();
  FlushKeys();
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
  if (!Keyboard.foldLetters) return UpperCaseCp850(text);
  std::string folded = text;
  for (char& c : folded) c = static_cast<char>(PlainLetterCp850(static_cast<unsigned char>(c)));
  return folded;
}
