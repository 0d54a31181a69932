// calendar_test.cpp - the pop-up calendar on the virtual console: scripted
// keys, the returned date text, and the screen read back while the
// calendar is open (a scripted Alt+X runs the test's calculator hook, which
// takes a snapshot; the calendar ignores the key itself).
#include "screen/calendar.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <map>
#include <string>
#include <utility>
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
constexpr int kLeft = 59;  // window columns 59..80, day columns from 60

// The interior of calendar row `row` (window-relative) in a snapshot.
std::string Inside(const Snapshot& s, int row) { return s.rows[1 + row].substr(kLeft, 20); }

std::string Trimmed(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  size_t first = text.find_first_not_of(' ');
  return first == std::string::npos ? std::string() : text.substr(first);
}

class CalendarTest : public ScreenTest {
 protected:
  void SetUp() override {
    ScreenTest::SetUp();
    Platform.clock = [] { return LocalTime{2024, 2, 29}; };
    Keyboard.calculator = TakeSnapshot;
  }

  std::string Run(const std::string& sessionDate, const std::vector<int>& keys) {
    Session.date = PackDigits(sessionDate);
    VirtualPushKeys(keys);
    std::string result = CalendarPopup();
    EXPECT_EQ(Console.starved, 0) << VirtualScreenDump();
    return result;
  }

  // The screen column of a weekday (1 = Monday) and the screen row of a
  // week row of month block `block`.
  static int DayColumn(int weekday) { return kLeft + 3 * weekday - 2; }
  static int DayRow(int block, int week) { return 1 + 2 + 7 * block + week; }
};

TEST_F(CalendarTest, OpensOnTheSessionDateWithItsQuarterAndTheDayHighlighted) {
  std::string result = Run("20230515", {kSnap, kKeyEsc});
  EXPECT_EQ(result, "");
  ASSERT_EQ(snapshots.size(), 1u);
  const Snapshot& s = snapshots[0];
  EXPECT_EQ(Trimmed(Inside(s, 1)), "2023");
  EXPECT_EQ(Trimmed(Inside(s, 2)), "ABRIL");
  EXPECT_EQ(Trimmed(Inside(s, 9)), "MAIG");
  EXPECT_EQ(Trimmed(Inside(s, 16)), "JUNY");
  EXPECT_EQ(s.rows[1].substr(kLeft, 20), "DL DT DC DJ DV DS DG");
  // 1 May 2023 was a Monday, so 15 May is the Monday of the third week.
  EXPECT_EQ(Inside(s, 10).substr(0, 2), " 1");
  int row = DayRow(1, 3), column = DayColumn(1);
  EXPECT_EQ(s.rows[row].substr(column - 1, 2), "15");
  EXPECT_EQ(s.attributes[row][column], SchemeAttribute(4));
  EXPECT_EQ(s.attributes[row][column + 1], SchemeAttribute(4));
  EXPECT_EQ(s.attributes[row][DayColumn(2)], SchemeAttribute(1));  // the 16th
  // 1 April 2023 was a Saturday; 30 April a Sunday in the fifth week row,
  // and the sixth row of the grid stays blank.
  EXPECT_EQ(s.rows[DayRow(0, 1)].substr(DayColumn(6) - 1, 2), " 1");
  EXPECT_EQ(s.rows[DayRow(0, 5)].substr(DayColumn(7) - 1, 2), "30");
  EXPECT_EQ(s.rows[DayRow(0, 6)].substr(kLeft, 20), std::string(20, ' '));
}

TEST_F(CalendarTest, LeftOnTheFirstOfAprilGoesToTheEndOfMarchAndTheFirstQuarter) {
  std::string result = Run("20230401", {kKeyLeft, kSnap, 'F'});
  EXPECT_EQ(result, "31/3/2023 ");
  const Snapshot& s = snapshots.at(0);
  EXPECT_EQ(Trimmed(Inside(s, 2)), "GENER");
  EXPECT_EQ(Trimmed(Inside(s, 9)), "FEBRER");
  EXPECT_EQ(Trimmed(Inside(s, 16)), "MAR\x80");  // MARÇ in code page 850
}

TEST_F(CalendarTest, PageDownKeepsTheDayCutToTheShorterMonth) {
  std::string result = Run("20230131", {kKeyPgDn, kSnap, kKeyAltF});
  EXPECT_EQ(result, "30/4/2023 ");
  EXPECT_EQ(Trimmed(Inside(snapshots.at(0), 2)), "ABRIL");
}

TEST_F(CalendarTest, WeeksCrossTheYearAndQuartersCrossBothWays) {
  EXPECT_EQ(Run("20231228", {kKeyDown, 'f'}), "4/1/2024  ");
  EXPECT_EQ(Run("20240104", {kKeyUp, kKeyRight, 'F'}), "29/12/2023");
  EXPECT_EQ(Run("20230215", {kKeyPgUp, 'F'}), "15/11/2022");
  EXPECT_EQ(Run("20240531", {kKeyPgUp, 'F'}), "29/2/2024 ");
}

TEST_F(CalendarTest, HomeAndEndGoToJanuaryAndDecemberOfTheSameYear) {
  EXPECT_EQ(Run("20230531", {kKeyHome, 'F'}), "31/1/2023 ");
  EXPECT_EQ(Run("20230531", {kKeyEnd, 'F'}), "31/12/2023");
  EXPECT_EQ(Run("20240331", {kKeyHome, kKeyRight, kKeyEnd, kKeyHome, kKeyPgDn, 'F'}), "1/4/2024  ");
}

TEST_F(CalendarTest, OtherKeysAreIgnored) {
  EXPECT_EQ(Run("20230515", {'x', kKeyEnter, kKeyF1, '5', 'F'}), "15/5/2023 ");
}

TEST_F(CalendarTest, WeekdayHeaderFollowsTheLanguage) {
  Session.language = "SPA";
  Run("20230515", {kSnap, kKeyEsc});
  Session.language = "OCI";
  Run("20230515", {kSnap, kKeyEsc});
  ASSERT_EQ(snapshots.size(), 2u);
  EXPECT_EQ(snapshots[0].rows[1].substr(kLeft, 20), " L  M  X  J  V  S  D");
  EXPECT_EQ(Trimmed(Inside(snapshots[0], 9)), "MAYO");
  EXPECT_EQ(snapshots[1].rows[1].substr(kLeft, 20), "DL DT DC DJ DD DS DG");
}

TEST_F(CalendarTest, ABlankSessionDateStartsOnTheComputersDate) {
  EXPECT_EQ(Run("00000000", {'F'}), "29/2/2024 ");
}

TEST_F(CalendarTest, EscLeavesTheScreenKeySetColoursAndCursorAsTheyWere) {
  std::vector<ConsoleCell> before = FillPattern();
  KeySet("+ea", "d,1b");
  std::string keys = Keyboard.ExitKeySet;
  size_t saved = Keyboard.savedSets.size();
  SetColourScheme("r");
  EXPECT_EQ(Run("20230515", {kKeyDown, kKeyPgDn, kKeyEsc}), "");
  EXPECT_TRUE(Console.cells == before);
  EXPECT_EQ(Keyboard.ExitKeySet, keys);
  EXPECT_EQ(Keyboard.savedSets.size(), saved);
  EXPECT_EQ(Windows.currentScheme, 2);
  EXPECT_EQ(Windows.WindowDepth, 0);
  EXPECT_TRUE(ConsoleCursorShown());
}

}  // namespace
