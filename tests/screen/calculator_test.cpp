// calculator_test.cpp - the adding machine on the virtual console: keys
// typed into it, the result it hands back, the state and tape it leaves in
// its tape file, and the window read back while it is open (a scripted
// Alt+X runs the test's hook, which takes a snapshot; the open calculator
// ignores the key itself).
#include "screen/calculator.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "input/dates.h"
#include "input/keys.h"
#include "platform/console.h"
#include "platform/platform.h"
#include "screen/windows.h"
#include "session/session.h"
#include "tests/screen/screen_test_support.h"

namespace {

constexpr int kSnap = kKeyAltX;
const std::string kVertical = "\xB3";

// The keys of a text typed on the calculator.
std::vector<int> Keys(const std::string& text) {
  std::vector<int> keys;
  for (unsigned char c : text) keys.push_back(c);
  return keys;
}

std::vector<int> operator+(std::vector<int> a, const std::vector<int>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// A tape or entry amount as the window shows it: 22 characters.
std::string Amount(const std::string& shown) { return std::string(22 - shown.size(), ' ') + shown; }

class CalculatorTest : public ScreenTest {
 protected:
  void SetUp() override {
    ScreenTest::SetUp();
    Keyboard.calculator = TakeSnapshot;
  }

  std::string TapePath() { return dir + "/KALCALC.TMP"; }

  std::string Run(const std::vector<int>& keys) {
    VirtualPushKeys(keys);
    std::string result = Calculator();
    EXPECT_EQ(Console.starved, 0) << VirtualScreenDump();
    return result;
  }

  // Runs the keys, leaves with Esc and reads back the state it saved.
  CalculatorState After(const std::vector<int>& keys) {
    EXPECT_EQ(Run(keys + std::vector<int>{kKeyEsc}), "");
    CalculatorState state;
    EXPECT_TRUE(ReadCalculatorTape(TapePath(), state));
    return state;
  }

  static const CalculatorTapeLine& Line(const CalculatorState& s, int line) { return s.tape[line - 1]; }
};

TEST_F(CalculatorTest, AdditionPrintsBothNumbersAndTheTotalOnTheTape) {
  CalculatorState s = After(Keys("12+30=") + std::vector<int>{kSnap});
  EXPECT_EQ(s.entry, 42);
  EXPECT_EQ(s.accumulator, 42);
  EXPECT_EQ(s.firstTapeLine, 20);
  EXPECT_EQ(Line(s, 20).amount, 12);
  EXPECT_EQ(Line(s, 20).operatorKey, '+');
  EXPECT_EQ(Line(s, 21).amount, 30);
  EXPECT_EQ(Line(s, 21).operatorKey, '=');
  EXPECT_EQ(Line(s, 22).amount, 42);
  EXPECT_EQ(Line(s, 22).operatorKey, ' ');

  ASSERT_EQ(snapshots.size(), 1u);
  const std::vector<std::string>& rows = snapshots[0].rows;
  EXPECT_EQ(rows[19].substr(0, 26), "\xDA" + std::string(24, '\xC4') + "\xBF");
  EXPECT_EQ(rows[20].substr(0, 26), kVertical + Amount("12") + " +" + kVertical);
  EXPECT_EQ(rows[21].substr(0, 26), kVertical + Amount("30") + " =" + kVertical);
  EXPECT_EQ(rows[22].substr(0, 26), kVertical + Amount("42") + "  " + kVertical);
  EXPECT_EQ(rows[23].substr(0, 26), "\xC3" + std::string(24, '\xC4') + "\xB4");
  EXPECT_EQ(rows[24].substr(0, 26), kVertical + Amount("42") + "  " + kVertical);
  EXPECT_EQ(rows[25].substr(0, 26), "\xC0" + std::string(24, '\xC4') + "\xD9");
  EXPECT_EQ(rows[18].substr(0, 26), std::string(26, ' '));  // the screen beneath
}

TEST_F(CalculatorTest, PercentAfterPlusTakesThePercentageOfTheAccumulator) {
  CalculatorState s = After(Keys("200+10%"));
  EXPECT_EQ(s.entry, 20);
  EXPECT_EQ(Line(s, 22).amount, 10);
  EXPECT_EQ(Line(s, 22).operatorKey, '%');
  s = After(Keys("C") + Keys("C") + Keys("200+10%="));
  EXPECT_EQ(s.entry, 220);
}

TEST_F(CalculatorTest, PercentAfterTimesDividesTheEntryByAHundred) {
  CalculatorState s = After(Keys("50*10%"));
  EXPECT_DOUBLE_EQ(s.entry, 0.1);
  EXPECT_TRUE(s.point);
  EXPECT_EQ(s.decimals, 1);
  s = After(Keys("=") + std::vector<int>{kKeyEnter});
  EXPECT_EQ(s.entry, 5);
}

TEST_F(CalculatorTest, RoundTakesTwoDecimalsWithTiesToEven) {
  CalculatorState s = After(Keys("2.125R"));
  EXPECT_DOUBLE_EQ(s.entry, 2.12);
  EXPECT_EQ(Line(s, 22).operatorKey, 'R');
  EXPECT_EQ(s.decimals, 2);
  s = After(Keys("CC2.375R"));
  EXPECT_DOUBLE_EQ(s.entry, 2.38);
  s = After(Keys("CC2.375TR"));
  EXPECT_DOUBLE_EQ(s.entry, -2.38);
}

TEST_F(CalculatorTest, ClearRestoresTheTotalThenClearsAllThenEmptiesTheTape) {
  CalculatorState s = After(Keys("12+5C"));
  EXPECT_EQ(s.entry, 12);
  EXPECT_FALSE(s.typing);
  EXPECT_EQ(s.pending, "+");
  s = After(Keys("C"));
  EXPECT_EQ(s.entry, 0);
  EXPECT_EQ(s.accumulator, 0);
  EXPECT_TRUE(s.cleared);
  EXPECT_EQ(s.firstTapeLine, 22);  // the tape is still there
  s = After(Keys("C") + std::vector<int>{kSnap});
  EXPECT_EQ(s.firstTapeLine, kEmptyTape);
  // The empty tape: the entry box alone, the screen beneath above it.
  const std::vector<std::string>& rows = snapshots.at(0).rows;
  EXPECT_EQ(rows[22].substr(0, 26), std::string(26, ' '));
  EXPECT_EQ(rows[23].substr(0, 26), "\xDA" + std::string(24, '\xC4') + "\xBF");
}

// Keys typed from an empty tape (after an earlier run, where one is
// given) and the entry they leave.
struct EntryCase {
  const char* what;
  const char* earlier;
  const char* keys;
  double entry;
};

TEST_F(CalculatorTest, TotalsRoundingAndNewCalculationsLeaveTheEntry) {
  const EntryCase cases[] = {
      {"round on a total makes it the running result", nullptr, "100/3=R*3=", 99.99},
      {"after clear-all a new number starts a new calculation", nullptr, "12*CC7=", 7},
      {"a new number after a total starts a new calculation", nullptr, "12+30=5+3=", 8},
      {"no new number after a total: the total goes on", "12+30=5+3=", "CC12+30=+8=", 50},
  };
  for (const EntryCase& c : cases) {
    std::filesystem::remove(TapePath());
    if (c.earlier) After(Keys(c.earlier));
    EXPECT_DOUBLE_EQ(After(Keys(c.keys)).entry, c.entry) << c.what;
  }
}

TEST_F(CalculatorTest, FReturnsTheValueInHundredthsWithoutSign) {
  EXPECT_EQ(Run(Keys("7F")), "700");
  EXPECT_EQ(Run(Keys("CC0.5F")), "50");
  EXPECT_EQ(Run(Keys("CC0.125") + std::vector<int>{kKeyAltF}), "12.5");
  EXPECT_EQ(Run(Keys("CC123.45TF")), "12345");
  EXPECT_EQ(Run(Keys("CC0.0001F")), ".01");
  EXPECT_EQ(Run(Keys("CC12+30=f")), "4200");  // not typing: the total
  EXPECT_EQ(Run(Keys("CCF")), "");
  EXPECT_EQ(Run(Keys("99") + std::vector<int>{kKeyEsc}), "");
}

// On a date or code field the number is typed as it is.
TEST_F(CalculatorTest, FOnADateOrCodeFieldReturnsTheNumberAsItIs) {
  Keyboard.plainNumbers = true;
  EXPECT_EQ(Run(Keys("7F")), "7");
  EXPECT_EQ(Run(Keys("CC150523F")), "150523");
  EXPECT_EQ(Run(Keys("CC12.5TF")), "12.5");
  EXPECT_EQ(Run(Keys("CC1000+9=f")), "1009");  // not typing: the total
  EXPECT_EQ(Run(Keys("CC10/4=F")), "2.5");
  EXPECT_EQ(Run(Keys("CCF")), "0");
  EXPECT_EQ(Run(Keys("99") + std::vector<int>{kKeyEsc}), "");
  Keyboard.plainNumbers = false;
  EXPECT_EQ(Run(Keys("CC1000+9=f")), "100900");
}

TEST_F(CalculatorTest, DivisionByZeroShowsErrorAndTheNextClearRecovers) {
  CalculatorState s = After(Keys("5/0=") + std::vector<int>{kSnap} + Keys("7+F") + std::vector<int>{kSnap});
  ASSERT_EQ(snapshots.size(), 2u);
  EXPECT_EQ(snapshots[0].rows[24].substr(0, 26), kVertical + Amount("ERROR") + "  " + kVertical);
  EXPECT_EQ(snapshots[0].rows[22].substr(0, 26), kVertical + Amount("ERROR") + "  " + kVertical);
  EXPECT_EQ(snapshots[0].rows[21].substr(0, 26), kVertical + Amount("0") + " =" + kVertical);
  EXPECT_EQ(snapshots[1].rows, snapshots[0].rows);  // 7, + and F were refused
  EXPECT_EQ(Console.bells, 4);                      // the error itself and the three refused keys
  EXPECT_FALSE(std::isfinite(s.entry));

  // The error survives in the tape file and the next opening shows it;
  // C clears it and the machine works again.
  s = After(std::vector<int>{kSnap} + Keys("C2+3=") + std::vector<int>{kSnap});
  EXPECT_EQ(snapshots[2].rows[24].substr(0, 26), kVertical + Amount("ERROR") + "  " + kVertical);
  EXPECT_EQ(s.entry, 5);
  EXPECT_EQ(snapshots[3].rows[24].substr(0, 26), kVertical + Amount("5") + "  " + kVertical);
}

TEST_F(CalculatorTest, ZeroDividedByZeroIsAnErrorToo) {
  CalculatorState s = After(Keys("0/0="));
  EXPECT_TRUE(std::isnan(s.entry));
  s = After(Keys("C"));
  EXPECT_EQ(s.entry, 0);
  EXPECT_EQ(s.accumulator, 0);
}

TEST_F(CalculatorTest, AnOverflowIsAnErrorAndDisplayEnds) {
  CalculatorState s = After(Keys("999999999999999*999999999999999=******"));
  EXPECT_FALSE(std::isfinite(s.accumulator));
}

TEST_F(CalculatorTest, ResultsAreShownWithTheirOwnDecimals) {
  CalculatorState s = After(Keys("0.1+0.2=") + std::vector<int>{kSnap});
  EXPECT_DOUBLE_EQ(s.entry, 0.3);
  EXPECT_EQ(s.decimals, 1);
  EXPECT_EQ(snapshots.at(0).rows[24].substr(0, 26), kVertical + Amount("0'3") + "  " + kVertical);
  s = After(Keys("CC1234.5+1=") + std::vector<int>{kSnap});
  EXPECT_EQ(snapshots.at(1).rows[24].substr(0, 26), kVertical + Amount("1.235'5") + "  " + kVertical);
  s = After(Keys("CC10/3="));
  EXPECT_EQ(s.decimals, 14);  // 15 significant digits
}

TEST_F(CalculatorTest, BackspaceRemovesTheLastDigitAndThenThePoint) {
  CalculatorState s = After(Keys("123") + std::vector<int>{kKeyBackspace});
  EXPECT_EQ(s.entry, 12);
  s = After(Keys("CC1.25") + std::vector<int>{kKeyBackspace});
  EXPECT_DOUBLE_EQ(s.entry, 1.2);
  EXPECT_EQ(s.decimals, 1);
  s = After(Keys("CC1.25") + std::vector<int>{kKeyBackspace, kKeyBackspace, kKeyBackspace});
  EXPECT_EQ(s.entry, 1);
  EXPECT_FALSE(s.point);
  EXPECT_TRUE(s.typing);
  s = After(Keys("CC1") + std::vector<int>{kKeyBackspace});
  EXPECT_EQ(s.entry, 0);
  EXPECT_FALSE(s.typing);
}

TEST_F(CalculatorTest, DigitsAfterTheSignChangeGrowAwayFromZero) {
  CalculatorState s = After(Keys("5T3"));
  EXPECT_EQ(s.entry, -53);
}

TEST_F(CalculatorTest, TypingStopsAtFifteenDigits) {
  CalculatorState s = After(Keys("1234567890123456789"));
  EXPECT_EQ(s.entry, 123456789012345.0);
  EXPECT_EQ(Console.bells, 4);
}

TEST_F(CalculatorTest, TheTapeKeepsTwentyTwoLinesAndShowsTwentyOne) {
  std::vector<int> keys;
  for (int i = 1; i <= 30; ++i) keys = keys + Keys(std::to_string(i) + "+");
  CalculatorState s = After(keys + std::vector<int>{kSnap});
  EXPECT_EQ(s.firstTapeLine, 2);
  EXPECT_EQ(Line(s, 1).amount, 9);
  EXPECT_EQ(Line(s, 22).amount, 30);
  EXPECT_EQ(s.entry, 465);
  const std::vector<std::string>& rows = snapshots.at(0).rows;
  EXPECT_EQ(rows[1].substr(0, 26), "\xDA" + std::string(24, '\xC4') + "\xBF");
  EXPECT_EQ(rows[2].substr(0, 26), kVertical + Amount("10") + " +" + kVertical);
}

TEST_F(CalculatorTest, LeftAndRightMoveTheWindowAndWrapAtTheEdges) {
  CalculatorState s = After(Keys("1+") + std::vector<int>{kKeyLeft, kSnap, kKeyRight, kKeyCtrlRight, kSnap});
  EXPECT_EQ(s.windowColumn, 2);
  const std::vector<std::string>& atRight = snapshots.at(0).rows;
  EXPECT_EQ(atRight[25].substr(54, 26), "\xC0" + std::string(24, '\xC4') + "\xD9");
  EXPECT_EQ(atRight[25].substr(0, 26), std::string(26, ' '));
  EXPECT_EQ(snapshots.at(1).rows[25].substr(1, 26), "\xC0" + std::string(24, '\xC4') + "\xD9");
  EXPECT_EQ(snapshots.at(1).rows[25].substr(54, 26), std::string(26, ' '));
}

TEST_F(CalculatorTest, TheTapeFileOutlivesTheRun) {
  EXPECT_EQ(Run(Keys("12+30=") + std::vector<int>{kKeyEsc}), "");
  std::string text;
  ASSERT_TRUE(ReadWholeFile(TapePath(), text));
  EXPECT_EQ(text.substr(0, text.find("\r\n", text.find("\r\n", text.find("\r\n") + 2) + 2) + 2),
            "1,20,42,42\r\n0,0,0,0\r\n\"\",\"=\"\r\n");
  EXPECT_NE(text.find("12,0,0,\"+\"\r\n30,0,0,\"=\"\r\n42,0,0,\" \"\r\n"), std::string::npos);

  // A later opening (as in a later run) goes on from the tape file.
  ConsoleStartVirtual();
  ResetWindows();
  EXPECT_EQ(Run(Keys("+8=F")), "5000");
  CalculatorState s;
  ASSERT_TRUE(ReadCalculatorTape(TapePath(), s));
  EXPECT_EQ(s.firstTapeLine, 17);
  EXPECT_EQ(Line(s, 21).amount, 8);
}

TEST_F(CalculatorTest, DoublesReadBackEqual) {
  CalculatorState s;
  s.entry = 0.1 + 0.2;
  s.accumulator = -1234567.890123;
  s.tape[5].amount = 1e-7;
  s.tape[6].amount = 123456789012345678.0;
  ASSERT_TRUE(WriteCalculatorTape(TapePath(), s));
  CalculatorState read;
  ASSERT_TRUE(ReadCalculatorTape(TapePath(), read));
  EXPECT_EQ(read.entry, s.entry);
  EXPECT_EQ(read.accumulator, s.accumulator);
  EXPECT_EQ(read.tape[5].amount, s.tape[5].amount);
  EXPECT_EQ(read.tape[6].amount, s.tape[6].amount);
  EXPECT_EQ(CalculatorTapeText(s).find('e'), std::string::npos);  // plain decimals
}

TEST_F(CalculatorTest, AMissingFileIsCreatedAndStartsFromTheStartValues) {
  EXPECT_FALSE(FileExists(TapePath()));
  CalculatorState s = After({});
  EXPECT_EQ(s.windowColumn, 1);
  EXPECT_EQ(s.firstTapeLine, kEmptyTape);
  EXPECT_TRUE(s.cleared);
}

// A symbolic link where the tape belongs is never followed: told once,
// and the calculator works without its tape; the file the link points to
// stays as it was.
TEST_F(CalculatorTest, ASymbolicLinkInPlaceOfTheTapeIsRefusedAndToldOnce) {
  const std::string victim = dir + "/victim";
  ASSERT_TRUE(WriteWholeFile(victim, "precious"));
  std::filesystem::create_symlink(victim, TapePath());
  EXPECT_EQ(Run(std::vector<int>{kSnap} + Keys("12+30=F")), "4200");  // the first key answers the message
  EXPECT_EQ(Run(Keys("7F")), "700");                                  // told once
  ASSERT_EQ(snapshots.size(), 1u);
  std::string message;
  for (const std::string& row : snapshots[0].rows) message += row;
  EXPECT_NE(message.find("NO ES POT ACCEDIR AL FITXER " + TapePath() + ":"), std::string::npos) << message;
  std::string contents;
  ASSERT_TRUE(ReadWholeFile(victim, contents));
  EXPECT_EQ(contents, "precious");
}

TEST_F(CalculatorTest, ADamagedTapeFileStartsFromTheStartValues) {
  CalculatorState good;
  good.windowColumn = 30;
  good.entry = 42;
  std::string text = CalculatorTapeText(good);
  std::string lastLine = "0,0,0,\" \"\r\n";
  const std::vector<std::string> damaged = {
      text.substr(0, text.size() - lastLine.size()),   // a tape line missing
      "1,23\r\n",                                      // most fields missing
      "abc" + text.substr(2),                          // a column that is no number
      "30,23,4x2,0" + text.substr(text.find("\r\n")),  // an entry that is no number
      text + lastLine,                                 // more lines than the tape holds
      "30,99" + text.substr(text.find(",0,") + 0),     // a first tape line out of range
      "\"30,23,42,0\r\n",                              // a quote never closed
      std::string("\x00\xff\x01", 3),                  // bytes of no sense
  };
  for (size_t i = 0; i < damaged.size(); ++i) {
    ASSERT_TRUE(WriteWholeFile(TapePath(), damaged[i]));
    CalculatorState s;
    EXPECT_FALSE(ReadCalculatorTape(TapePath(), s)) << "case " << i;
    EXPECT_EQ(s.windowColumn, 1) << "case " << i;
    EXPECT_EQ(s.entry, 0) << "case " << i;
    EXPECT_EQ(Run(Keys("2+2=F")), "400") << "case " << i;
  }
  ASSERT_TRUE(WriteWholeFile(TapePath(), text));
  CalculatorState s;
  EXPECT_TRUE(ReadCalculatorTape(TapePath(), s));
  EXPECT_EQ(s.windowColumn, 30);
}

TEST_F(CalculatorTest, LeavingRestoresScreenKeySetColoursAndCursor) {
  std::vector<ConsoleCell> before = FillPattern();
  KeySet("+ea", "d,1b");
  std::string keys = Keyboard.ExitKeySet;
  SetColourScheme("u");
  EXPECT_EQ(Run(Keys("1+2=CCC1+") + std::vector<int>{kKeyLeft, 'F'}), "100");
  EXPECT_TRUE(Console.cells == before);
  EXPECT_EQ(Keyboard.ExitKeySet, keys);
  EXPECT_EQ(Windows.currentScheme, 4);
  EXPECT_EQ(Windows.WindowDepth, 0);
  EXPECT_TRUE(ConsoleCursorShown());
}

}  // namespace
