// The field editor: typing, deleting, moving, clipboard, option lists,
// hidden input, exit-key sets and the mouse.
#include "screen/editor.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "input/keys.h"
#include "platform/console.h"
#include "screen/windows.h"
#include "session/session.h"
#include "tests/screen/screen_test_support.h"

namespace {

std::string KeyName(int key) {
  switch (key) {
    case kKeyEnter: return "Enter";
    case kKeyEsc: return "Esc";
    case kKeyTab: return "Tab";
    case kKeyBackspace: return "Backspace";
    case kKeyDel: return "Del";
    case kKeyIns: return "Ins";
    case kKeyUp: return "Up";
    case kKeyDown: return "Down";
    case kKeyLeft: return "Left";
    case kKeyRight: return "Right";
    case kKeyHome: return "Home";
    case kKeyEnd: return "End";
    case kKeyShiftTab: return "Shift+Tab";
    case kKeyCtrlLeft: return "Ctrl+Left";
    case kKeyCtrlRight: return "Ctrl+Right";
    case kKeyCtrlHome: return "Ctrl+Home";
    case kKeyCtrlY: return "Ctrl+Y";
    case kKeyCtrlV: return "Ctrl+V";
    case kKeyCtrlC: return "Ctrl+C";
    case kKeyCtrlF4: return "Ctrl+F4";
    case kKeyAltF4: return "Alt+F4";
    case kKeyF2: return "F2";
    case kKeyAltX: return "Alt+X";
  }
  if (key < 0) return "click(" + std::to_string(-key / 100) + "," + std::to_string(-key % 100) + ")";
  if (key >= 32 && key < 127) return std::string("'") + static_cast<char>(key) + "'";
  char buffer[16];
  snprintf(buffer, sizeof buffer, "0x%X", static_cast<unsigned>(key));
  return buffer;
}

std::string KeyNames(const std::vector<int>& keys) {
  std::string names;
  for (int k : keys) names += (names.empty() ? "" : " ") + KeyName(k);
  return names;
}

class EditorTest : public ScreenTest {
 protected:
  // Edits `text` at row 5, column 10 with the keys given; the edit must end
  // on the last one.
  void Edit(std::string& text, int& cursor, const std::vector<int>& keys, int width = 0) {
    keys_ = keys;
    VirtualPushKeys(keys);
    key_ = 0;
    EditField(5, 10, width, text, cursor, key_);
    EXPECT_TRUE(Console.scripted.empty()) << "the edit ended early, on " << KeyName(key_);
    EXPECT_EQ(Console.starved, 0) << "the edit did not end on the last key";
  }
  std::string Trace() { return "keys: " + KeyNames(keys_) + "\n" + VirtualScreenDump(); }

  std::vector<int> keys_;
  KeyCode key_ = 0;
};

TEST_F(EditorTest, OverwriteNeverTypesIntoTheLastPosition) {
  std::string text = "ABC ";
  int cursor = 3;
  Edit(text, cursor, {'X', kKeyEnter});
  EXPECT_EQ(text, "ABX ") << Trace();
  EXPECT_EQ(cursor, 4);
  EXPECT_EQ(key_, kKeyEnter);
  Edit(text, cursor, {'Y', kKeyEnter});
  EXPECT_EQ(text, "ABX ") << Trace();
  EXPECT_EQ(cursor, 4);
}

TEST_F(EditorTest, InsertNeedsABlankAtTheEnd) {
  Console.insertToggle = true;
  std::string text = "AB  ";
  int cursor = 1;
  Edit(text, cursor, {'X', kKeyEnter});
  EXPECT_EQ(text, "XAB ") << Trace();
  EXPECT_EQ(cursor, 2);
  text = "ABCD";
  cursor = 1;
  Edit(text, cursor, {'X', kKeyEnter});
  EXPECT_EQ(text, "ABCD") << Trace();
  EXPECT_EQ(cursor, 1);
}

// The calendar's or the calculator's result takes the place of the field's
// text, whatever the mode and where the cursor stands; a pop-up left with
// Esc (no result) changes nothing.
TEST_F(EditorTest, APopUpsResultReplacesTheText) {
  static std::string result;
  Keyboard.calendar = [] { return result; };
  Keyboard.calculator = [] { return result; };
  const struct {
    bool insert;
    int cursor;
    int key;
    const char* result;
    const char* text;
  } cases[] = {
      {true, 3, kKeyAltC, "15/05/2023", "15/05/2023 "},  // not 15/15/05/2023...
      {false, 7, kKeyAltC, "15/05/2023", "15/05/2023 "},
      {true, 1, kKeyAltX, "42", "42         "},
      {false, 11, kKeyAltX, "1234567890123", "1234567890 "},  // cut at the last position
  };
  for (const auto& c : cases) {
    Console.insertToggle = c.insert;
    std::string text = "150523     ";
    int cursor = c.cursor;
    result = c.result;
    Edit(text, cursor, {c.key, kKeyEnter});
    EXPECT_EQ(text, c.text) << Trace();
    EXPECT_EQ(key_, kKeyEnter);
  }
  result.clear();
  std::string text = "150523     ";
  int cursor = 3;
  Edit(text, cursor, {kKeyAltC});  // no exit keys: the key itself ends the edit
  EXPECT_EQ(text, "150523     ") << Trace();
}

TEST_F(EditorTest, InsToggleIsKeptInTheKeyboardStateAndShapesTheCursor) {
  std::string text = "AB  ";
  int cursor = 1;
  Edit(text, cursor, {kKeyIns, 'X', kKeyEnter});
  EXPECT_EQ(text, "XAB ") << Trace();
  EXPECT_TRUE(Console.insertToggle);
  EXPECT_TRUE(Console.cursorInsertShape);
  Edit(text, cursor, {kKeyIns, 'Y', kKeyEnter});
  EXPECT_EQ(text, "XYB ") << Trace();
  EXPECT_FALSE(Console.insertToggle);
  EXPECT_FALSE(Console.cursorInsertShape);
}

TEST_F(EditorTest, BackspaceDelAndBlanking) {
  struct Case {
    const char* name;
    std::string text;
    int cursor;
    std::vector<int> keys;
    std::string expected;
    int expectedCursor;
  };
  const Case cases[] = {
      {"backspace", "ABCD", 3, {kKeyBackspace, kKeyEnter}, "ACD ", 2},
      {"backspace at 1", "ABCD", 1, {kKeyBackspace, kKeyEnter}, "ABCD", 1},
      {"del", "ABCD", 2, {kKeyDel, kKeyEnter}, "ACD ", 2},
      {"del at the end", "ABCD", 4, {kKeyDel, kKeyEnter}, "ABCD", 4},
      {"ctrl+y", "ABCD", 3, {kKeyCtrlY, kKeyEnter}, "    ", 1},
      {"ctrl+home", "ABCD", 4, {kKeyCtrlHome, kKeyEnter}, "    ", 1},
      {"left right home end",
       "AB   ",
       1,
       {kKeyRight, kKeyRight, kKeyRight, kKeyHome, kKeyEnd, kKeyEnter},
       "AB   ",
       3},
      {"left stops at 1", "AB", 1, {kKeyLeft, kKeyEnter}, "AB", 1},
      {"right stops at the length", "AB", 2, {kKeyRight, kKeyEnter}, "AB", 2},
      {"end of a full text", "ABCD", 1, {kKeyEnd, kKeyEnter}, "ABCD", 4},
      {"cursor limited to the text", "ABCD", 9, {kKeyEnter}, "ABCD", 4},
  };
  for (const Case& c : cases) {
    std::string text = c.text;
    int cursor = c.cursor;
    Edit(text, cursor, c.keys);
    EXPECT_EQ(text, c.expected) << c.name << "\n" << Trace();
    EXPECT_EQ(cursor, c.expectedCursor) << c.name << "\n" << Trace();
  }
}

TEST_F(EditorTest, WordMovesStopAtSeparators) {
  std::string text = "uno, dos tres  ";  // 15 characters
  int cursor = 10;
  const std::vector<std::pair<int, int>> steps = {
      {kKeyCtrlLeft, 6}, {kKeyCtrlLeft, 1}, {kKeyCtrlRight, 6}, {kKeyCtrlRight, 10}, {kKeyCtrlRight, 15}};
  for (auto [key, expected] : steps) {
    Console.scripted.clear();
    VirtualPushKeys({key, kKeyEnter});
    EditField(5, 10, 0, text, cursor, key_);
    EXPECT_EQ(cursor, expected) << KeyName(key) << "\n" << VirtualScreenDump();
  }
  // Where they cannot move they end the edit.
  Edit(text, cursor, {kKeyCtrlRight});
  EXPECT_EQ(key_, kKeyCtrlRight);
  cursor = 1;
  Edit(text, cursor, {kKeyCtrlLeft});
  EXPECT_EQ(key_, kKeyCtrlLeft);
}

TEST_F(EditorTest, UpAndDownMoveBetweenRowsOrEndTheEdit) {
  std::string text = "abcdefghij";  // two rows of 5
  int cursor = 7;
  Edit(text, cursor, {kKeyUp, 'X', kKeyEnter}, 5);
  EXPECT_EQ(text, "aXcdefghij") << Trace();
  EXPECT_EQ(VirtualRowText(5, 10, 5), "aXcde") << Trace();
  EXPECT_EQ(VirtualRowText(6, 10, 5), "fghij") << Trace();
  cursor = 2;
  Edit(text, cursor, {kKeyUp}, 5);
  EXPECT_EQ(key_, kKeyUp);
  Edit(text, cursor, {kKeyDown, kKeyEnter}, 5);
  EXPECT_EQ(cursor, 7);
  Edit(text, cursor, {kKeyDown}, 5);
  EXPECT_EQ(key_, kKeyDown);
  Edit(text, cursor, {kKeyShiftTab, kKeyEnter}, 5);
  EXPECT_EQ(cursor, 2);
  Edit(text, cursor, {kKeyShiftTab}, 5);
  EXPECT_EQ(key_, kKeyUp) << "Shift+Tab leaves as Up";
}

TEST_F(EditorTest, ClipboardPasteIsFilteredTrimmedAndWrittenOver) {
  ConsoleSetClipboard("  x\x01y\x7Fz\xFF  ");
  std::string text = "ABCDEF";
  int cursor = 5;
  Edit(text, cursor, {kKeyCtrlV, kKeyEnter});
  EXPECT_EQ(text, "ABCDxy") << Trace();
  EXPECT_EQ(cursor, 5);
  text = "  hola  ";
  Edit(text, cursor, {kKeyCtrlC, kKeyEnter});
  EXPECT_EQ(ConsoleGetClipboard(), "hola");
}

TEST_F(EditorTest, OptionListSelectsByFirstLetterBlankAndArrows) {
  Keyboard.FieldOptions = "|S\xA1,|No";
  ConsolePutCell(5, 9, ConsoleCell{':', 0x07});
  ConsolePutCell(5, 12, ConsoleCell{'#', 0x07});
  struct Case {
    std::string start;
    std::vector<int> keys;
    std::string expected;
  };
  const Case cases[] = {
      {"No", {'s', kKeyEnter}, "S\xA1"},
      {"No", {'S', kKeyEnter}, "S\xA1"},
      {"S\xA1", {'n', kKeyEnter}, "No"},
      {"S\xA1", {'x', kKeyEnter}, "S\xA1"},
      {"S\xA1", {' ', kKeyEnter}, "No"},
      {"No", {' ', kKeyEnter}, "S\xA1"},
      {"No", {kKeyRight, kKeyEnter}, "S\xA1"},
      {"S\xA1", {kKeyLeft, kKeyEnter}, "No"},
      {"??", {kKeyEnter}, "S\xA1"},  // no option matches: the first one
      {"No", {kKeyBackspace, kKeyDel, kKeyCtrlY, kKeyEnter}, "No"},
  };
  for (const Case& c : cases) {
    std::string text = c.start;
    int cursor = 1;
    Edit(text, cursor, c.keys);
    EXPECT_EQ(text, c.expected) << Trace();
    EXPECT_EQ(VirtualRowText(5, 10, 2), c.expected) << Trace();
    // The arrows are gone and what they covered is back.
    EXPECT_EQ(VirtualRowText(5, 9, 4), ":" + c.expected + "#") << Trace();
  }
  std::string text = "No";
  int cursor = 1;
  Edit(text, cursor, {kKeyUp});
  EXPECT_EQ(key_, kKeyUp) << "Up ends the edit of an option list";
}

std::string gRow;
unsigned char gAttribute = 0;
std::string PeekAtTheField() {
  gRow = VirtualRowText(5, 9, 7);
  gAttribute = ConsoleGetCell(5, 10).attr;
  return "";
}

TEST_F(EditorTest, OptionListShowsArrowsAroundTheWidestOption) {
  Keyboard.FieldOptions = "|S,Yes|Maybe,|N,No";
  Keyboard.calculator = PeekAtTheField;
  KeySet("a", "d");
  std::string text = "N    ";
  int cursor = 1;
  Edit(text, cursor, {kKeyAltX, kKeyEnter});  // Alt+X is not an exit key here
  EXPECT_EQ(gRow, "\x11N    \x10") << Trace();
  EXPECT_EQ(VirtualRowText(5, 15, 1), " ") << Trace();
  EXPECT_EQ(gAttribute, SchemeAttribute(4)) << "edited in scheme u";
  EXPECT_EQ(text, "N    ");
  EXPECT_EQ(ConsoleGetCell(5, 10).attr, SchemeAttribute(0)) << "left in scheme h";
  EXPECT_EQ(Windows.currentScheme, 0);
}

TEST_F(EditorTest, HiddenInputShowsOnlyMarks) {
  KeySet("h", "");
  std::string text = "        ";
  int cursor = 1;
  Edit(text, cursor, {'s', 'e', 'c', kKeyEnter});
  EXPECT_EQ(text, "sec     ");
  EXPECT_EQ(VirtualRowText(5, 10, 8), "XXXXXXX ") << Trace();
  KeySet("v", "");
  Edit(text, cursor, {kKeyEnter});
  EXPECT_EQ(VirtualRowText(5, 10, 8), "sec     ") << Trace();
}

TEST_F(EditorTest, ExitKeySetDecidesWhichKeysEndTheEdit) {
  KeySet("+ea", "d,1b,4800,5000,4900,5100,4b00,4d00");
  std::string text = "AB  ";
  int cursor = 1;
  Edit(text, cursor, {kKeyF2, kKeyTab});
  EXPECT_EQ(key_, kKeyEnter) << "F2 is ignored, Tab ends as Enter";
  Edit(text, cursor, {kKeyF2, kKeyCtrlF4});
  EXPECT_EQ(key_, kKeyEsc);
  Edit(text, cursor, {kKeyAltF4});
  EXPECT_EQ(key_, kKeyEsc);
  Edit(text, cursor, {kKeyLeft, kKeyRight, kKeyEsc});
  EXPECT_EQ(key_, kKeyEsc) << "Left and Right move, they do not end";
  // Only whole entries count: 0x0D00 is not Enter.
  Edit(text, cursor, {0x0D00, 0x1B00, kKeyEnter});
  EXPECT_EQ(key_, kKeyEnter);
  KeySet("-", "");
  EXPECT_EQ(Keyboard.ExitKeySet, "");
  Edit(text, cursor, {kKeyF2});
  EXPECT_EQ(key_, kKeyF2) << "with an empty set every unconsumed key ends";
}

TEST_F(EditorTest, MouseMovesInsideAndEndsOutside) {
  KeySet("a", "d");
  std::string text = "ABCDEF";
  int cursor = 1;
  VirtualPushMouse(12, 5);
  Edit(text, cursor, {'X', kKeyEnter});
  EXPECT_EQ(text, "ABXDEF") << Trace();
  VirtualPushMouse(40, 20);
  Edit(text, cursor, {});
  EXPECT_EQ(key_, -(100 * 40 + 20)) << "a click elsewhere ends even when not an exit key";

  Keyboard.FieldOptions = "|S,|N,";
  text = "S";
  VirtualPushMouse(11, 5);  // on the right arrow
  Edit(text, cursor, {kKeyEnter});
  EXPECT_EQ(text, "N") << Trace();
  VirtualPushMouse(9, 5);  // on the left arrow
  Edit(text, cursor, {kKeyEnter});
  EXPECT_EQ(text, "S") << Trace();
}

TEST_F(EditorTest, PositionIsRelativeToTheWindowAndTheCursorLeftThere) {
  OpenWindow(3, 20, 12, 60);
  std::string text = "abc";
  int cursor = 1;
  VirtualPushKeys({kKeyRight, kKeyEnter});
  EditField(2, 4, 0, text, cursor, key_);
  EXPECT_EQ(VirtualRowText(5, 24, 3), "abc") << VirtualScreenDump();
  EXPECT_EQ(ConsoleCursorRow(), 5);
  EXPECT_EQ(ConsoleCursorColumn(), 24);
  EXPECT_EQ(cursor, 2);
  CloseWindow();

  // Row and column 0: where the cursor is.
  ConsoleSetCursor(8, 30);
  VirtualPushKeys({kKeyEnter});
  EditField(0, 0, 0, text, cursor, key_);
  EXPECT_EQ(VirtualRowText(8, 30, 3), "abc") << VirtualScreenDump();
}

TEST_F(EditorTest, EmptyTextIsHarmless) {
  std::string text;
  int cursor = 0;
  Edit(text, cursor, {'x', kKeyBackspace, kKeyDel, kKeyCtrlV, kKeyEnd, kKeyEnter});
  EXPECT_EQ(text, "");
}

}  // namespace
