// The paragraph formatter, the framed message window, and the message
// windows the data layer shows through the screen hooks.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "data/data.h"
#include "input/keys.h"
#include "platform/console.h"
#include "platform/platform.h"
#include "screen/calculator.h"
#include "screen/calendar.h"
#include "screen/hooks.h"
#include "screen/windows.h"
#include "session/session.h"
#include "tests/screen/screen_test_support.h"

namespace {

struct ParagraphCase {
  const char* name;
  std::string text;
  int indent;
  int width;
  std::string align;
  std::string expected;
};

TEST(FormatParagraph, EveryAlignment) {
  const ParagraphCase cases[] = {
      {"centred word", "abc", 0, 10, "C", "   abc    "},
      {"centred lower case", "abc", 0, 10, "centre", "   abc    "},
      {"left E", "abc def", 0, 5, "E", "abc  def  "},
      {"left L", "ab", 0, 4, "L", "ab  "},
      {"left I", "ab", 0, 4, "i", "ab  "},
      {"dashes N", "ab", 0, 5, "N", "ab---"},
      {"dashes -", "ab", 0, 5, "-", "ab---"},
      {"right D", "ab", 0, 5, "D", "   ab"},
      {"right R", "ab cd ef", 0, 5, "R", "ab cd   ef"},
      {"not padded", "ab", 0, 5, "X", "ab"},
      {"no alignment", "ab", 0, 5, "", "ab"},
      {"justified, last line unpadded", "aa bb cc dd ee", 0, 10, "A", "aa  bb  ccdd ee"},
      {"justified round the gaps", "a b c ddddddddd", 0, 9, "B", "a   b   cddddddddd"},
      {"justified line without a gap", "abcdefghijkl", 0, 5, "A", "abcdefghijkl"},
      {"long word split", "abcdefghij", 0, 4, "L", "abcdefghij  "},
      {"word not split", "uno dos tres", 0, 7, "L", "uno dostres   "},
      {"first-line indent", "aa bb cc", 2, 6, "L", "  aa  bb cc "},
      {"hanging indent", "aa bb cc dd", -2, 6, "L", "aa bb   cc    dd  "},
      {"justified after indent", "aa bb cc dd", 1, 8, "A", " aa   bbcc dd"},
      {"trailing blanks at the end dropped", "ab   ", 0, 5, "R", "   ab"},
      {"control characters take no room",
       std::string("ab\x01"
                   "cd"),
       0, 4, "L",
       std::string("ab\x01"
                   "cd")},
      {"empty text", "", 0, 10, "L", ""},
  };
  for (const ParagraphCase& c : cases) {
    EXPECT_EQ(FormatParagraph(c.text, c.indent, c.width, c.align), c.expected)
        << c.name << ": \"" << c.text << "\" indent " << c.indent << " width " << c.width << " align \""
        << c.align << "\"";
  }
}

TEST(FormatParagraph, IndentAsWideAsTheLineStillEnds) {
  EXPECT_EQ(FormatParagraph("abc", 5, 3, "L"), "     abc ");
  EXPECT_EQ(FormatParagraph("abc", 0, 0, "L"), "abc");
}

class MessageTest : public ScreenTest {};

TEST_F(MessageTest, EightyCharactersWithoutBlanksFillTheWidestBox) {
  std::string text;
  for (int i = 0; i < 80; ++i) text += static_cast<char>('A' + i % 26);
  SetColourScheme("n");
  EXPECT_TRUE(ShowMessage(12, text));
  EXPECT_EQ(Windows.WindowDepth, 1);
  EXPECT_EQ(Windows.WindowTop, 9);
  EXPECT_EQ(Windows.WindowBottom, 12);
  EXPECT_EQ(Windows.WindowLeft, 1);
  EXPECT_EQ(Windows.WindowRight, 80);
  EXPECT_EQ(VirtualRowText(10, 3, 76), text.substr(0, 76)) << VirtualScreenDump();
  EXPECT_EQ(VirtualRowText(11, 3, 4), text.substr(76)) << VirtualScreenDump();
  EXPECT_EQ(ConsoleGetCell(9, 1).ch, 0xDA);
  EXPECT_EQ(ConsoleGetCell(12, 80).ch, 0xD9);
  EXPECT_EQ(ConsoleGetCell(10, 3).attr, SchemeAttribute(2));
  // The caller's colours come back; the window stays open for the caller.
  EXPECT_EQ(Windows.currentScheme, 1);
  EXPECT_EQ(ConsoleAttribute(), SchemeAttribute(1));
  CloseWindow();
  EXPECT_EQ(VirtualRowText(10), std::string(80, ' '));
}

TEST_F(MessageTest, ShortMessageBoxIsCentredOnColumn41) {
  ShowMessage(12, "HOLA");
  EXPECT_EQ(Windows.WindowTop, 9);
  EXPECT_EQ(Windows.WindowBottom, 11);
  EXPECT_EQ(Windows.WindowLeft, 37);
  EXPECT_EQ(Windows.WindowRight, 44);
  EXPECT_EQ(VirtualRowText(10, 37, 8), "\xB3 HOLA \xB3") << VirtualScreenDump();
  CloseWindow();
}

TEST_F(MessageTest, TwoLinesTakeTheLongerLinesWidth) {
  std::string text = std::string(70, 'x') + " " + std::string(10, 'y');
  ShowMessage(5, text);
  EXPECT_EQ(Windows.WindowTop, 2);
  EXPECT_EQ(Windows.WindowBottom, 5);
  EXPECT_EQ(Windows.WindowLeft, 41 - 35 - 2);
  EXPECT_EQ(Windows.WindowRight, 35 + 41 + 1);
  EXPECT_EQ(VirtualRowText(4, 6, 10), std::string(10, 'y')) << VirtualScreenDump();
  CloseWindow();
}

TEST_F(MessageTest, BoxIsKeptOnTheConsole) {
  ShowMessage(1, "TOP");
  EXPECT_EQ(Windows.WindowTop, 1);
  EXPECT_EQ(Windows.WindowBottom, 3);
  CloseWindow();
  ShowMessage(30, "BOTTOM");
  EXPECT_EQ(Windows.WindowTop, 23);
  EXPECT_EQ(Windows.WindowBottom, 25);
  CloseWindow();
}

TEST_F(MessageTest, MessageTallerThanTheConsoleShowsNothing) {
  SetColourScheme("u");
  std::string text;
  for (int i = 0; i < 30; ++i) text += std::string(70, 'w') + " ";
  EXPECT_FALSE(ShowMessage(12, text));
  EXPECT_EQ(Windows.WindowDepth, 0);
  EXPECT_EQ(VirtualRowText(12), std::string(80, ' '));
  EXPECT_EQ(Windows.currentScheme, 4);
  EXPECT_TRUE(Windows.schemeStack.empty());
}

TEST_F(MessageTest, ShowMessageAndWaitTakesOneKeyAfterABeepAndClosesTheWindow) {
  int bells = 0;
  Platform.beep = [&] {
    ++bells;
    EXPECT_EQ(Windows.WindowDepth, 1) << "the beep comes with the message on screen";
  };
  Keyboard.TypeAhead = "x";  // typed before the message: never its answer
  VirtualPushKeys({kKeyEnter, 'y'});
  ShowMessageAndWait(12, "HOLA");
  EXPECT_EQ(bells, 1);
  EXPECT_EQ(Windows.WindowDepth, 0);
  EXPECT_EQ(VirtualRowText(10), std::string(80, ' '));
  EXPECT_TRUE(Keyboard.TypeAhead.empty());
  ASSERT_EQ(Console.scripted.size(), 1u) << "one key answers it";
  EXPECT_EQ(Console.scripted.front().key, 'y');
}

// ---- Pages -------------------------------------------------------------------------

// The screen as each key is asked for: the first line of the page and the
// bottom edge of its frame.
std::vector<std::string>* pagesSeen = nullptr;
const ConsoleBackend* virtualBackend = nullptr;
bool LookingPoll(ConsoleEvent& event, int timeoutMs) {
  if (timeoutMs != 0 && pagesSeen)
    pagesSeen->push_back(VirtualRowText(kPagesTop + 1, kPagesLeft + 2, 7) + "|" +
                         VirtualRowText(kPagesBottom));
  return virtualBackend->poll(event, timeoutMs);
}

TEST_F(MessageTest, ALongTextIsShownAPageAtATimeAndEscapeClosesIt) {
  Session.language = "CAT";
  Keyboard = KeyboardState{};
  int bells = 0;
  Platform.beep = [&] { ++bells; };
  ConsoleSetCursor(10, 1);
  ConsoleWrite("UNDER THE PAGES");
  std::vector<std::string> lines;
  for (int i = 1; i <= 40; ++i) lines.push_back("LINE " + std::to_string(i));
  lines.push_back(std::string(100, 'w'));  // cut to the window
  ASSERT_EQ(PageCount(lines.size()), 3);   // 18 lines a page
  EXPECT_EQ(PageCount(0), 1);

  struct Step {
    int key;
    std::string page;  // the page's first line and number as the key is read
  };
  const Step steps[] = {
      {kKeyPgUp, "LINE 1 |1 DE 3"},   // before the first page: a beep
      {kKeyPgDn, "LINE 1 |1 DE 3"},   //
      {kKeyEnter, "LINE 19|2 DE 3"},  // does nothing here: a beep
      {kKeyDown, "LINE 19|2 DE 3"},   //
      {kKeyPgDn, "LINE 37|3 DE 3"},   // past the last page: a beep
      {kKeyHome, "LINE 37|3 DE 3"},   //
      {kKeyEnd, "LINE 1 |1 DE 3"},    //
      {kKeyEsc, "LINE 37|3 DE 3"},
  };
  for (const Step& step : steps) VirtualTypeWhenWaited({step.key});
  ConsoleBackend looking = *Console.backend;
  virtualBackend = Console.backend;
  looking.poll = LookingPoll;
  Console.backend = &looking;
  std::vector<std::string> seen;
  pagesSeen = &seen;
  ShowPages(lines);
  pagesSeen = nullptr;
  Console.backend = virtualBackend;

  ASSERT_EQ(seen.size(), std::size(steps));
  for (size_t i = 0; i < seen.size(); ++i) {
    const std::string& expected = steps[i].page;
    EXPECT_EQ(seen[i].substr(0, 8), expected.substr(0, 8)) << "key " << i;
    EXPECT_NE(seen[i].find("P\xB7GINA " + expected.substr(8)), std::string::npos)
        << "key " << i << ": " << seen[i];
  }
  EXPECT_EQ(bells, 3);
  EXPECT_EQ(Windows.WindowDepth, 0);
  EXPECT_EQ(VirtualRowText(10, 1, 15), "UNDER THE PAGES") << "the screen comes back";
  EXPECT_TRUE(Console.typedWhenWaited.empty());
  Platform = PlatformHooks{};
}

TEST_F(MessageTest, TheFooterSaysThePageAndTheKeys) {
  Session.language = "CAT";
  EXPECT_EQ(PageFooter(1, 3), "P\xB7GINA 1 DE 3 \xFA AVP\xB7G/REP\xB7G: PASSA P\xB7GINA \xFA ESC: TANCA");
  EXPECT_EQ(PageFooter(1, 1), "P\xB7GINA 1 DE 1 \xFA ESC: TANCA");
}

TEST_F(MessageTest, TheScreenHooksShowTheDataLayersMessagesAndOpenThePopups) {
  EXPECT_FALSE(ShowDataMessage(24, LockWaitText())) << "nothing shows before the hooks are in";
  EXPECT_EQ(Windows.WindowDepth, 0);

  InstallScreenHooks();
  EXPECT_TRUE(ShowDataMessage(24, LockWaitText()));
  EXPECT_EQ(Windows.WindowDepth, 1);
  EXPECT_EQ(Windows.WindowTop, 21);
  EXPECT_EQ(Windows.WindowBottom, 23);
  EXPECT_NE(VirtualRowText(22).find("FITXER BLOQUEJAT. ESPEREU UN MOMENT."), std::string::npos)
      << VirtualScreenDump();
  CloseDataMessage();
  EXPECT_EQ(Windows.WindowDepth, 0);
  EXPECT_EQ(VirtualRowText(22), std::string(80, ' '));
  EXPECT_EQ(Keyboard.calculator, &Calculator);
  EXPECT_EQ(Keyboard.calendar, &CalendarPopup);

  DataMessages = DataMessageHooks{};
}

}  // namespace
