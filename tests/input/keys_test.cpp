// The key reader, the wait for a key, the exit-key set and case folding
// (the same as the settings reader's).
#include "input/keys.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/console.h"
#include "platform/platform.h"
#include "session/settings.h"

namespace {

std::string KeyName(int key) {
  switch (key) {
    case 0: return "none";
    case kKeyEnter: return "Enter";
    case kKeyEsc: return "Esc";
    case kKeyAltX: return "Alt+X";
    case kKeyAltC: return "Alt+C";
    case kKeyAltE: return "Alt+E";
    case kKeyF2: return "F2";
    case kKeyUp: return "Up";
    case kKeyRight: return "Right";
  }
  if (key > 32 && key < 127) return std::string("'") + static_cast<char>(key) + "'";
  char buffer[16];
  snprintf(buffer, sizeof buffer, "0x%X", static_cast<unsigned>(key));
  return buffer;
}

class KeysTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ConsoleStartVirtual();
    Keyboard = KeyboardState{};
  }
  KeyCode Read() {
    KeyCode key = 0;
    button_ = column_ = row_ = -1;
    ReadKey(key, button_, column_, row_);
    return key;
  }
  int button_ = 0, column_ = 0, row_ = 0;
};

#define EXPECT_KEY(actual, expected) \
  EXPECT_EQ(actual, expected) << "got " << KeyName(actual) << ", wanted " << KeyName(expected)

TEST_F(KeysTest, TypeAheadComesBeforeTheConsole) {
  Keyboard.TypeAhead = "a\x82";
  VirtualPushKey('x');
  EXPECT_KEY(Read(), 'a');
  EXPECT_KEY(Read(), 0x82);
  EXPECT_KEY(Read(), 'x');
  EXPECT_EQ(button_, 0);
  EXPECT_EQ(column_, 0);
  EXPECT_EQ(row_, 0);
}

TEST_F(KeysTest, ReadKeyAnswersAtOnceWhenNothingWaits) {
  EXPECT_KEY(Read(), 0);
  EXPECT_EQ(Console.starved, 0) << "ReadKey must not wait";
}

TEST_F(KeysTest, AltEGivesCharacter213AndOtherKeysPassThrough) {
  VirtualPushKeys({kKeyAltE, 0x6C00, 0x6200, 0x5800, kKeyEnter});
  EXPECT_KEY(Read(), 0xD5);
  EXPECT_KEY(Read(), 0x6C00);  // Alt+F5 as the console folded it
  EXPECT_KEY(Read(), 0x6200);  // Ctrl+F5
  EXPECT_KEY(Read(), 0x5800);  // Shift+F5
  EXPECT_KEY(Read(), kKeyEnter);
}

TEST_F(KeysTest, AltKeypadDigitsMakeOneCharacterModulo256) {
  VirtualPushAltKeypad("165");
  EXPECT_KEY(Read(), 165);
  VirtualPushAltKeypad("321");
  EXPECT_KEY(Read(), 65);
  VirtualPushAltKeypad("00000000000000000000000066");  // long runs do not overflow
  EXPECT_KEY(Read(), 66);
}

TEST_F(KeysTest, KeyThatEndsTheDigitsIsNotLost) {
  VirtualPushAltKeypad("65");
  VirtualPushKey('x');
  VirtualPushMouse(7, 3);
  EXPECT_KEY(Read(), 'A');
  EXPECT_KEY(Read(), 'x');
  EXPECT_KEY(Read(), 0);
  EXPECT_EQ(button_, 1);
  EXPECT_EQ(column_, 7);
  EXPECT_EQ(row_, 3);
}

TEST_F(KeysTest, MouseButtonsAreReportedOnlyWithAMouse) {
  VirtualPushMouse(10, 5, 2);
  EXPECT_KEY(Read(), 0);
  EXPECT_EQ(button_, 2);
  EXPECT_EQ(column_, 10);
  EXPECT_EQ(row_, 5);
  EXPECT_EQ(Keyboard.mouseState, 2);  // off until the next read

  ConsoleStartVirtual();
  Keyboard = KeyboardState{};
  Console.mousePresent = false;
  VirtualPushMouse(10, 5);
  VirtualPushKey('k');
  EXPECT_KEY(Read(), 0);
  EXPECT_EQ(button_, 0);
  EXPECT_EQ(Keyboard.mouseState, 3);
  EXPECT_KEY(Read(), 'k');
}

TEST_F(KeysTest, WaitKeyTurnsAButtonIntoAKeyCode) {
  VirtualPushMouse(10, 5, 1);
  VirtualPushKey(kKeyF2);
  KeyCode key = 0;
  WaitKey(key);
  EXPECT_KEY(key, 10 * 256 + 64 + 5);
  WaitKey(key);
  EXPECT_KEY(key, kKeyF2);
  EXPECT_EQ(Console.starved, 0);
}

TEST_F(KeysTest, WaitKeyWaitsOnTheConsole) {
  // The virtual console answers a wait with nothing left by Esc and counts
  // it: the wait went to the console instead of spinning.
  KeyCode key = 0;
  WaitKey(key);
  EXPECT_KEY(key, kKeyEsc);
  EXPECT_EQ(Console.starved, 1);
}

TEST_F(KeysTest, WaitWithoutAConsoleAnswersEscInsteadOfSpinning) {
  ConsoleStop();
  KeyCode key = 0;
  WaitKey(key);
  EXPECT_KEY(key, kKeyEsc);
  ConsoleStartVirtual();
}

std::string FakeCalculator() {
  EXPECT_TRUE(Keyboard.calculatorOpen);
  // Alt+X inside the calculator does not open a second one.
  VirtualPushKey(kKeyAltX);
  KeyCode key = 0;
  int b, c, r;
  ReadKey(key, b, c, r);
  EXPECT_KEY(key, kKeyAltX);
  return "12.50";
}
int calendarCalls = 0;
std::string FakeCalendar() {
  ++calendarCalls;
  return "15/05/2023";
}

TEST_F(KeysTest, AltXAndAltCTypeTheirResultIntoTheNextReads) {
  Keyboard.calculator = FakeCalculator;
  Keyboard.calendar = FakeCalendar;
  Keyboard.TypeAhead = "";
  VirtualPushKey(kKeyAltX);
  EXPECT_KEY(Read(), kKeyAltX);
  EXPECT_FALSE(Keyboard.calculatorOpen);
  EXPECT_EQ(Keyboard.TypeAhead, "12.50");
  EXPECT_KEY(Read(), '1');

  VirtualPushKey(kKeyAltC);
  EXPECT_KEY(Read(), '2');  // type-ahead first
  Keyboard.TypeAhead.clear();
  EXPECT_KEY(Read(), kKeyAltC);
  EXPECT_EQ(calendarCalls, 1);
  EXPECT_EQ(Keyboard.TypeAhead, "15/05/2023");

  // Already open: the key comes through, nothing opens, nothing is typed.
  Keyboard.calendarOpen = true;
  Keyboard.TypeAhead = "";
  VirtualPushKey(kKeyAltC);
  EXPECT_KEY(Read(), kKeyAltC);
  EXPECT_EQ(calendarCalls, 1);
  EXPECT_EQ(Keyboard.TypeAhead, "");
}

TEST_F(KeysTest, FlushKeysDropsEverythingTypedAhead) {
  Keyboard.TypeAhead = "abc";
  VirtualPushAltKeypad("65");
  VirtualPushKey('x');
  EXPECT_KEY(Read(), 'a');
  Keyboard.TypeAhead.clear();
  EXPECT_KEY(Read(), 'A');  // 'x' now waits in the reader
  Keyboard.TypeAhead = "zz";
  FlushKeys();
  EXPECT_KEY(Read(), 0);
}

std::string SetBytes(std::initializer_list<int> codes) {
  std::string bytes;
  for (int code : codes) {
    bytes += static_cast<char>(code & 0xFF);
    bytes += static_cast<char>((code >> 8) & 0xFF);
  }
  return bytes;
}

TEST_F(KeysTest, KeySetOperations) {
  KeySet("a", "d,1b");
  EXPECT_EQ(Keyboard.ExitKeySet, SetBytes({13, 27}));
  KeySet("+EA", "4800,,3b00");
  EXPECT_EQ(Keyboard.ExitKeySet, SetBytes({0x4800, 0, 0x3B00}));
  KeySet("a", "3e00");
  EXPECT_EQ(Keyboard.ExitKeySet, SetBytes({0x4800, 0, 0x3B00, 0x3E00}));
  KeySet("-", "");
  EXPECT_EQ(Keyboard.ExitKeySet, SetBytes({13, 27}));
  KeySet("-", "");  // nothing saved: the set stays
  EXPECT_EQ(Keyboard.ExitKeySet, SetBytes({13, 27}));
  KeySet("h", "");
  EXPECT_EQ(Keyboard.maskCharacter, 'X');
  KeySet("V", "");
  EXPECT_EQ(Keyboard.maskCharacter, 0);
  KeySet("e", "");
  EXPECT_EQ(Keyboard.ExitKeySet, "");
}

TEST_F(KeysTest, FullSavedSetStackDropsItsOldest) {
  for (int i = 1; i <= static_cast<int>(kSavedKeySetDepth) + 2; ++i) {
    KeySet("e", "");
    KeySet("a+", std::to_string(i));
  }
  EXPECT_EQ(Keyboard.savedSets.size(), kSavedKeySetDepth);
  for (int i = static_cast<int>(kSavedKeySetDepth) + 2; i >= 3; --i) {
    KeySet("-", "");
    EXPECT_EQ(Keyboard.ExitKeySet, SetBytes({std::stoi(std::to_string(i), nullptr, 16)})) << i;
  }
  KeySet("-", "");
  EXPECT_EQ(Keyboard.ExitKeySet, SetBytes({3}));
}

TEST_F(KeysTest, FoldTextUpperCaseKeepsAccents) {
  // a e-acute n-tilde c-cedilla a-grave, then characters outside 64..237.
  EXPECT_EQ(FoldText("a\x82\xA4\x87\x85z1 \xEE\xFF"), "A\x90\xA5\x80\xB7Z1 \xEE\xFF");
  EXPECT_EQ(FoldText("Hola, M\xA2n"), "HOLA, M\xE0N");
}

TEST_F(KeysTest, FoldTextLetterTableDropsAccentsAndCase) {
  Keyboard.foldLetters = true;
  EXPECT_EQ(FoldText("S\xA1s\x90\x82\xA4\xA5@[1"), "SISEENN  1");
  Keyboard.foldLetters = false;
  EXPECT_EQ(FoldText("s\xA1"), "S\xD6");
}

// The settings reader compares section names and keys in upper case: it must
// fold every byte exactly as the field editor does, or a name written in
// small letters would be found by one and not by the other.
TEST_F(KeysTest, TheSettingsReaderFoldsEveryByteAsTheEditorDoes) {
  std::string file =
      std::filesystem::temp_directory_path() / ("fold_test_" + std::to_string(getpid()) + ".ini");
  for (int c = 33; c <= 255; ++c) {
    if (c == '[' || c == ']' || c == '=' || c == ';' || c == 26 || c == 127) continue;
    const std::string name(1, static_cast<char>(c)), folded = FoldText(name);
    ASSERT_TRUE(WriteWholeFile(file, "[S" + name + "]\r\nK" + name + "=ok\r\n"));
    EXPECT_EQ(GetIni("K" + folded, "S" + folded, file), "ok") << "byte 0x" << std::hex << c;
  }
  // Where the editor's table keeps a letter as it is, so does the reader: o
  // slash (0x9B) and thorn (0xE7) do not match the capitals 0x9D and 0xE8.
  for (const char* small : {"\x9B", "\xE7"}) {
    const std::string capital(
        1, static_cast<char>(static_cast<unsigned char>(small[0]) + (small[0] == '\x9B' ? 2 : 1)));
    ASSERT_TRUE(WriteWholeFile(file, std::string("[S") + small + "]\r\nK=ok\r\n"));
    EXPECT_EQ(FoldText(small), small);
    EXPECT_EQ(GetIni("K", "S" + capital, file), "");
  }
  std::filesystem::remove(file);
}

}  // namespace
