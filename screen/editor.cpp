// editor.cpp - the field editor every screen edits its values with.
//
// A field is a fixed-length text shown in rows of `width` characters at a
// position relative to the innermost window.  The text never changes its
// length: inserting pushes the last (blank) character out, deleting pulls a
// blank in at the end, and the last position is never typed into.  A field
// may instead be restricted to a list of options ("|S,|N,"), chosen with the
// arrows, the blank or the first letter; or its input may be hidden behind
// a row of "X".  Which of the keys the editor does not consume end the edit
// is decided by the exit-key set (keys.cpp).
#include "screen/editor.h"

#include <algorithm>
#include <vector>

#include "platform/console.h"
#include "platform/le.h"
#include "platform/text.h"
#include "screen/windows.h"

namespace {

bool IsSeparator(char c) { return c == ' ' || c == ',' || c == '.' || c == ';' || c == ':'; }

// The options of a list "|one,|two,": the text after each "|" up to the
// next "," (or "|", or the end).
std::vector<std::string> ParseOptions(const std::string& list) {
  std::vector<std::string> options;
  size_t bar = list.find('|');
  while (bar != std::string::npos) {
    size_t end = list.find_first_of(",|", bar + 1);
    options.push_back(list.substr(bar + 1, end == std::string::npos ? std::string::npos : end - bar - 1));
    bar = list.find('|', bar + 1);
  }
  return options;
}

// Whether the 2-byte code of `key` is one of the exit-key set's entries.
bool InExitKeySet(KeyCode key) {
  const std::string& set = Keyboard.ExitKeySet;
  const uint16_t code = static_cast<uint16_t>(static_cast<unsigned>(key) & 0xFFFF);
  for (size_t i = 0; i + 1 < set.size(); i += 2)
    if (GetLe16(set.data() + i) == code) return true;
  return false;
}

struct Field {
  int top = 1, left = 1;  // absolute console position of the first character
  int width = 1;          // characters per row
  int rows = 1;
  std::vector<std::string> options;
  int option = 0;          // current option
  size_t optionWidth = 0;  // widest option
  ConsoleCell underLeftArrow, underRightArrow;
};

// Draws the field in the current colours and places the cursor.
void DrawField(const Field& f, std::string& text, int cursor) {
  unsigned char a = ConsoleAttribute();
  if (!f.options.empty()) {
    std::string shown = f.options[static_cast<size_t>(f.option)];
    shown.resize(f.optionWidth, ' ');
    // The field takes the current option's text, at the field's length.
    std::string value = f.options[static_cast<size_t>(f.option)];
    value.resize(text.size(), ' ');
    text = value;
    ConsolePutCell(f.top, f.left - 1, ConsoleCell{0x11, a});
    for (size_t i = 0; i < shown.size(); ++i)
      ConsolePutCell(f.top, f.left + static_cast<int>(i),
                     ConsoleCell{static_cast<unsigned char>(shown[i]), a});
    ConsolePutCell(f.top, f.left + static_cast<int>(f.optionWidth), ConsoleCell{0x10, a});
    ConsoleSetCursor(f.top, f.left);
    return;
  }
  if (Keyboard.maskCharacter != 0) {
    // Hidden input: a fixed row of marks that does not even tell the length.
    std::string shown(static_cast<size_t>(std::max(f.width - 1, 0)),
                      static_cast<char>(Keyboard.maskCharacter));
    shown.resize(std::min(text.size(), static_cast<size_t>(f.width) * f.rows), ' ');
    for (size_t i = 0; i < shown.size(); ++i) {
      int r = static_cast<int>(i) / f.width, c = static_cast<int>(i) % f.width;
      ConsolePutCell(f.top + r, f.left + c, ConsoleCell{static_cast<unsigned char>(shown[i]), a});
    }
  } else {
    for (size_t i = 0; i < text.size(); ++i) {
      int r = static_cast<int>(i) / f.width, c = static_cast<int>(i) % f.width;
      ConsolePutCell(f.top + r, f.left + c, ConsoleCell{static_cast<unsigned char>(text[i]), a});
    }
  }
  ConsoleSetCursor(f.top + (cursor - 1) / f.width, f.left + (cursor - 1) % f.width);
}

void StepOption(Field& f, int step) {
  int n = static_cast<int>(f.options.size());
  f.option = ((f.option + step) % n + n) % n;
}

// Selects the next option after the current one (wrapping once around the
// list) whose first letter is the typed one, accents and case aside.
void SelectByLetter(Field& f, unsigned char typed) {
  bool saved = Keyboard.foldLetters;
  Keyboard.foldLetters = true;
  std::string wanted = FoldText(std::string(1, static_cast<char>(typed)));
  int n = static_cast<int>(f.options.size());
  for (int i = 1; i <= n; ++i) {
    int candidate = (f.option + i) % n;
    const std::string& option = f.options[static_cast<size_t>(candidate)];
    if (!option.empty() && FoldText(option.substr(0, 1)) == wanted) {
      f.option = candidate;
      break;
    }
  }
  Keyboard.foldLetters = saved;
}

int WordLeft(const std::string& text, int cursor) {
  int i = cursor - 1;  // the character left of the cursor, 1-based
  while (i >= 1 && IsSeparator(text[static_cast<size_t>(i - 1)])) --i;
  if (i < 1) return 1;
  while (i > 1 && !IsSeparator(text[static_cast<size_t>(i - 2)])) --i;
  return i;
}

int WordRight(const std::string& text, int cursor) {
  int length = static_cast<int>(text.size());
  int i = cursor;
  while (i <= length && !IsSeparator(text[static_cast<size_t>(i - 1)])) ++i;
  while (i <= length && IsSeparator(text[static_cast<size_t>(i - 1)])) ++i;
  return i > length ? length : i;
}

// The field at window position (row, column) (0: where the cursor
// stands), `width` characters a row (0: one row of the whole text), with
// its options read from the keyboard's option list; the cursor is clamped
// into the text, and set on the first character of a list.
Field PlaceField(int& row, int& column, int width, const std::string& text, int& cursor) {
  int rowOffset = Windows.WindowDepth > 0 ? Windows.WindowTop : 0;
  int columnOffset = Windows.WindowDepth > 0 ? Windows.WindowLeft : 0;
  if (row == 0) row = ConsoleCursorRow() - rowOffset;
  if (column == 0) column = ConsoleCursorColumn() - columnOffset;
  int length = static_cast<int>(text.size());
  if (width <= 0) width = std::max(length, 1);

  Field f;
  f.top = row + rowOffset;
  f.left = column + columnOffset;
  f.width = width;
  f.rows = std::max((length + width - 1) / width, 1);
  cursor = std::clamp(cursor, 1, std::max(length, 1));

  f.options = ParseOptions(Keyboard.FieldOptions);
  if (!f.options.empty()) {
    for (const std::string& o : f.options) f.optionWidth = std::max(f.optionWidth, o.size());
    std::string current = TrimTrailingBlanks(text);
    for (size_t i = 0; i < f.options.size(); ++i)
      if (TrimTrailingBlanks(f.options[i]) == current) {
        f.option = static_cast<int>(i);
        break;
      }
    // What the arrows cover comes back when the edit ends.
    f.underLeftArrow = ConsoleGetCell(f.top, f.left - 1);
    f.underRightArrow = ConsoleGetCell(f.top, f.left + static_cast<int>(f.optionWidth));
    cursor = 1;
  }
  return f;
}

// What a key did to the field: changed it (or nothing), was not consumed
// (it may end the edit, if it is an exit key), or ended the edit whatever
// the exit keys.
enum class KeyEffect { kConsumed, kNotConsumed, kEndsEdit };

// A typed character: the next option of a list with that letter (the blank:
// the next option), else the character overwritten or inserted at the
// cursor; the last position is never typed into.
void TypeCharacter(Field& f, std::string& text, int& cursor, KeyCode key, bool insert) {
  int length = static_cast<int>(text.size());
  if (!f.options.empty()) {
    if (key == ' ') StepOption(f, 1);
    else SelectByLetter(f, static_cast<unsigned char>(key));
  } else if (cursor < length) {
    if (!insert) {
      text[static_cast<size_t>(cursor - 1)] = static_cast<char>(key);
      ++cursor;
    } else if (text.back() == ' ') {
      text.insert(static_cast<size_t>(cursor - 1), 1, static_cast<char>(key));
      text.pop_back();
      ++cursor;
    }
  }
}

// The keys that change the text: characters, deleting, blanking, the
// clipboard; false for any other key.
bool ApplyTextKey(Field& f, std::string& text, int& cursor, KeyCode key, bool insert) {
  const bool withOptions = !f.options.empty();
  const int length = static_cast<int>(text.size());
  bool isCharacter = (key >= 32 && key <= 126) || (key >= 128 && key <= 254);
  if ((key == kKeyAltX || key == kKeyAltC) && !Keyboard.TypeAhead.empty() && !withOptions) {
    // The calculator's or the calendar's result, about to be typed, takes
    // the field's place: a date typed into the middle of another helps no
    // one.
    text.assign(text.size(), ' ');
    cursor = 1;
  } else if (isCharacter) {
    TypeCharacter(f, text, cursor, key, insert);
  } else if (key == kKeyBackspace) {
    if (!withOptions && cursor > 1) {
      --cursor;
      text.erase(static_cast<size_t>(cursor - 1), 1);
      text += ' ';
    }
  } else if (key == kKeyDel) {
    if (!withOptions && cursor < length) {
      text.erase(static_cast<size_t>(cursor - 1), 1);
      text += ' ';
    }
  } else if (key == kKeyCtrlHome || key == kKeyCtrlY) {
    if (!withOptions) {
      text.assign(text.size(), ' ');
      cursor = 1;
    }
  } else if (key == kKeyCtrlV) {
    if (!withOptions) {
      std::string pasted;
      for (unsigned char c : ConsoleGetClipboard())
        if (c >= 32 && c != 127 && c != 255) pasted += static_cast<char>(c);
      pasted = TrimBlanks(pasted);
      for (size_t i = 0; i < pasted.size() && cursor - 1 + i < text.size(); ++i)
        text[cursor - 1 + i] = pasted[i];
    }
  } else if (key == kKeyCtrlC) {
    ConsoleSetClipboard(TrimBlanks(withOptions ? f.options[static_cast<size_t>(f.option)] : text));
  } else {
    return false;
  }
  return true;
}

// A mouse click (key -(100 * column + row)): on a list's arrows it steps
// the option, inside a text field it moves the cursor there; a click
// elsewhere ends the edit.
KeyEffect ApplyClick(Field& f, int& cursor, int length, KeyCode key) {
  const bool withOptions = !f.options.empty();
  int clickColumn = (-key) / 100, clickRow = (-key) % 100;
  int r = clickRow - f.top, c = clickColumn - f.left;
  if (withOptions && clickRow == f.top && clickColumn == f.left - 1) {
    StepOption(f, -1);
  } else if (withOptions && clickRow == f.top && clickColumn == f.left + static_cast<int>(f.optionWidth)) {
    StepOption(f, 1);
  } else if (withOptions && clickRow == f.top && c >= 0 && c < static_cast<int>(f.optionWidth)) {
    // A click on the option itself: nothing to move.
  } else if (!withOptions && r >= 0 && r < f.rows && c >= 0 && c < f.width && r * f.width + c < length) {
    cursor = r * f.width + c + 1;
  } else {
    return KeyEffect::kEndsEdit;
  }
  return KeyEffect::kConsumed;
}

// The keys that move: the insert toggle, the arrows, the word and row
// moves, a click; a move past the field's edge is not consumed.
KeyEffect ApplyMoveKey(Field& f, const std::string& text, int& cursor, KeyCode key, bool& insert) {
  const bool withOptions = !f.options.empty();
  const int length = static_cast<int>(text.size());
  const int width = f.width;
  bool ends = false;
  if (key == kKeyIns) {
    insert = !insert;
    Console.insertToggle = insert;
  } else if (key == kKeyLeft) {
    if (withOptions) StepOption(f, -1);
    else if (cursor > 1) --cursor;
  } else if (key == kKeyRight) {
    if (withOptions) StepOption(f, 1);
    else if (cursor < length) ++cursor;
  } else if (key == kKeyHome) {
    if (!withOptions) cursor = 1;
  } else if (key == kKeyEnd) {
    if (!withOptions)
      cursor = std::clamp(static_cast<int>(TrimTrailingBlanks(text).size()) + 1, 1, std::max(length, 1));
  } else if (key == kKeyCtrlLeft) {
    if (withOptions || cursor <= 1) ends = true;
    else cursor = WordLeft(text, cursor);
  } else if (key == kKeyCtrlRight) {
    if (withOptions || cursor >= length) ends = true;
    else cursor = WordRight(text, cursor);
  } else if (key == kKeyUp || key == kKeyShiftTab) {
    if (withOptions || cursor <= width) ends = true;
    else cursor -= width;
  } else if (key == kKeyDown) {
    if (withOptions || cursor + width > length) ends = true;
    else cursor += width;
  } else if (key < 0) {
    return ApplyClick(f, cursor, length, key);
  } else {
    ends = true;
  }
  return ends ? KeyEffect::kNotConsumed : KeyEffect::kConsumed;
}

}  // namespace

void EditField(int row, int column, int width, std::string& text, int& cursor, KeyCode& key) {
  Field f = PlaceField(row, column, width, text, cursor);
  bool insert = Console.insertToggle;
  bool done = false;
  while (!done) {
    SetColourScheme("u");
    DrawField(f, text, cursor);
    ConsoleSetCursorShape(insert);
    ConsoleShowCursor(true);
    // A refused input's reason stands beside the field until the next key.
    ShowPostedReason();
    int button = 0, mouseColumn = 0, mouseRow = 0;
    ReadKeyWaiting(key, button, mouseColumn, mouseRow);
    ConsoleShowCursor(false);
    ClearReason();
    if (button != 0) key = -(100 * mouseColumn + mouseRow);

    if (ApplyTextKey(f, text, cursor, key, insert)) continue;
    KeyEffect effect = ApplyMoveKey(f, text, cursor, key, insert);
    if (effect == KeyEffect::kEndsEdit) {
      done = true;
    } else if (effect == KeyEffect::kNotConsumed) {
      if (key == kKeyShiftTab) key = kKeyUp;
      else if (key == kKeyTab) key = kKeyEnter;
      else if (key == kKeyCtrlF4 || key == kKeyAltF4) key = kKeyEsc;
      done = Keyboard.ExitKeySet.empty() || InExitKeySet(key);
    }
  }

  SetColourScheme("h");
  DrawField(f, text, cursor);
  if (!f.options.empty()) {
    ConsolePutCell(f.top, f.left - 1, f.underLeftArrow);
    ConsolePutCell(f.top, f.left + static_cast<int>(f.optionWidth), f.underRightArrow);
  }
  WinLocate(column, row);
}
