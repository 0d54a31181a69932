// form_driver_test.cpp - the form screen driver on the virtual console: a
// small form built here, scripted keys and mouse clicks, and the screen and
// the field values read back.
#include "screen/form_driver.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <map>
#include <string>

#include "platform/console.h"
#include "platform/platform.h"
#include "screen/form.h"
#include "screen/windows.h"
#include "tests/screen/form_driver_test_support.h"

namespace {

TEST_F(FormDriverTest, ScreenOfOnlyDisplayOnlyFieldsReturnsAtOnceWithTheKeyGiven) {
  DefineScreen(1, 2);
  DefineField(1, 1, 3, 2, "Un: ", 5, "uno", kFlagDisplayOnly);
  DefineField(1, 2, 4, 2, "Dos: ", 5, "dos", kFlagDisplayOnly);
  VirtualPushKey(kKeyEnter);
  EXPECT_EQ(Run(1, 0x4242), 0x4242);
  EXPECT_EQ(Console.scripted.size(), 1u) << "no key may be read";
  EXPECT_EQ(VirtualRowText(3, 2, 9), "Un: uno  ") << VirtualScreenDump();
}

TEST_F(FormDriverTest, EnterOnTheLastEditableFieldAcceptsTheScreen) {
  StandardScreen();
  VirtualPushKeys({kKeyEnter, kKeyEnter, kKeyEnter});
  EXPECT_EQ(Run(1), kKeyEnter) << VirtualScreenDump();
  EXPECT_EQ(Console.starved, 0);
  EXPECT_TRUE(Console.scripted.empty());
}

TEST_F(FormDriverTest, DownOnTheLastEditableFieldStaysThere) {
  StandardScreen();
  Type({kKeyDown, kKeyDown, kKeyDown, kKeyDown, "Q", kKeyEnter});
  EXPECT_EQ(Run(1), kKeyEnter) << VirtualScreenDump();
  EXPECT_EQ(Value(1, 4), "QDD   ");
  EXPECT_EQ(Value(1, 1), "AAA   ");
  EXPECT_EQ(Value(1, 2), "BBB   ");
  EXPECT_EQ(Console.starved, 0);
}

TEST_F(FormDriverTest, UpMovesBackOverDisplayOnlyFieldsAndStaysOnTheFirst) {
  StandardScreen();
  Type({kKeyEnter, kKeyEnter, kKeyUp, kKeyUp, kKeyUp, "U", kKeyCode2});
  EXPECT_EQ(Run(1), kKeyCode2) << VirtualScreenDump();
  EXPECT_EQ(Value(1, 1), "UAA   ");
  EXPECT_EQ(Console.starved, 0);
}

TEST_F(FormDriverTest, PageKeysGoToTheFirstAndLastEditableFields) {
  StandardScreen();
  Type({kKeyPgDn, "L", kKeyPgUp, "F", kKeyCode2});
  EXPECT_EQ(Run(1), kKeyCode2) << VirtualScreenDump();
  EXPECT_EQ(Value(1, 4), "LDD   ");
  EXPECT_EQ(Value(1, 1), "FAA   ");
}

TEST_F(FormDriverTest, EscOnALaterFieldGoesToTheFirstAndEscOnTheFirstCancels) {
  StandardScreen();
  Type({kKeyEnter, "X"});
  VirtualPushKey(kKeyEsc);  // field 2: typed text dropped, back to field 1
  Type({"Y", kKeyEnter, kKeyEsc, kKeyEsc});
  EXPECT_EQ(Run(1), kKeyEsc) << VirtualScreenDump();
  EXPECT_EQ(Value(1, 1), "YAA   ");
  EXPECT_EQ(Value(1, 2), "BBB   ");
  EXPECT_EQ(VirtualRowText(4, 2, 13), "Segon: BBB   ") << VirtualScreenDump();
  EXPECT_EQ(Console.starved, 0);
}

TEST_F(FormDriverTest, AnotherScreenKeyEndsTheScreenWithThatKey) {
  StandardScreen();
  Screen(1).ScreenKeys = kScreenKeys + ",4400";  // F10
  VirtualPushKey(0x4400);
  EXPECT_EQ(Run(1), 0x4400);
}

TEST_F(FormDriverTest, EnterOnTheLastFieldOpensTheContinuationAndEscThereComesBack) {
  StandardScreen(2);
  ContinuationScreen();
  VirtualPushKeys({kKeyEnter, kKeyEnter, kKeyEnter});  // on to the continuation
  VirtualPushText("W");
  VirtualPushKey(kKeyEsc);  // its first field: back to field 4 of screen 1
  VirtualPushText("R");
  VirtualPushKeys({kKeyEnter, kKeyEnter, kKeyEnter});  // continuation again, then past its end
  EXPECT_EQ(Run(1), kKeyEnter) << VirtualScreenDump();
  EXPECT_EQ(Value(1, 4), "RDD   ");
  EXPECT_EQ(Value(2, 1), "CCC   ");
  EXPECT_EQ(Console.starved, 0);
  EXPECT_EQ(Windows.WindowDepth, 0);
  EXPECT_FALSE(FileExists(HostPath(WindowSaveFile())));
  EXPECT_EQ(VirtualRowText(10, 10, 10), std::string(10, ' ')) << "the window is closed";
}

TEST_F(FormDriverTest, UpOnTheFirstFieldOfTheContinuationComesBack) {
  StandardScreen(2);
  ContinuationScreen();
  VirtualPushKeys({kKeyPgDn, kKeyDown, kKeyUp});  // Down on the last field opens it too
  Type({"S", kKeyCode2});
  EXPECT_EQ(Run(1), kKeyCode2) << VirtualScreenDump();
  EXPECT_EQ(Value(1, 4), "SDD   ");
}

TEST_F(FormDriverTest, F2OpensTheContinuationFromAnyField) {
  StandardScreen(2);
  ContinuationScreen();
  Type({kKeyF2, "V", kKeyEnter, kKeyEnter});
  EXPECT_EQ(Run(1), kKeyEnter) << VirtualScreenDump();
  EXPECT_EQ(Value(2, 1), "VCC   ");
  EXPECT_EQ(Value(1, 1), "AAA   ");
}

TEST_F(FormDriverTest, F2WithoutAContinuationStays) {
  StandardScreen();
  Type({kKeyF2, "Z", kKeyCode2});
  EXPECT_EQ(Run(1), kKeyCode2);
  EXPECT_EQ(Value(1, 1), "ZAA   ");
}

TEST_F(FormDriverTest, ContinuationIsDrawnInADoubleFrameAndTheScreenRestored) {
  StandardScreen(2);
  ContinuationScreen();
  Screen(2).fields[1].Type = kFieldAmount;
  Screen(2).fields[1].Value = FitToWidth("12", 6);
  std::string inside;
  int depth = -1;
  Platform.beep = [&] {
    inside = VirtualRowText(10, 10, 51) + "\n" + VirtualRowText(11, 10, 11);
    depth = Windows.WindowDepth;
  };
  std::string before = VirtualScreenDump();
  Type({kKeyF2, "x"});
  VirtualPushKey(kKeyEnter);  // refused: the beep takes the picture
  Type({kKeyEsc, kKeyEsc});
  EXPECT_EQ(Run(1), kKeyEsc);
  EXPECT_EQ(depth, 1);
  EXPECT_EQ(inside, "\xC9" + std::string(49, '\xCD') + "\xBB\n\xBA Cont1: x2") << Cp850ToUtf8(inside);
  EXPECT_EQ(Windows.WindowDepth, 0);
  EXPECT_EQ(VirtualRowText(10), std::string(80, ' ')) << VirtualScreenDump();
}

TEST_F(FormDriverTest, TitleIsCentredOnRowOneInTheTitleColours) {
  StandardScreen();
  VirtualPushKey(kKeyEsc);
  Run(1);
  // " PROVA " has 7 characters: column 41 - round(3.5) = 37.
  EXPECT_EQ(VirtualRowText(1, 37, 7), " PROVA ") << VirtualScreenDump();
  EXPECT_EQ(ConsoleGetCell(1, 38).attr, SchemeAttribute(2));
  EXPECT_EQ(ConsoleGetCell(3, 2).attr, SchemeAttribute(1)) << "labels";
  EXPECT_EQ(VirtualRowText(3, 2, 11), "Primer: AAA");
}

TEST_F(FormDriverTest, StartBlankFieldLeftBlankKeepsItsValue) {
  StandardScreen();
  Screen(1).fields[1].Flags = kFlagStartBlank;
  Screen(1).fields[2].Flags = kFlagStartBlank;
  VirtualPushKey(kKeyEnter);  // field 1 left blank
  VirtualPushText("N");       // field 2 typed afresh
  VirtualPushKeys({kKeyEnter, kKeyEnter});
  EXPECT_EQ(Run(1), kKeyEnter);
  EXPECT_EQ(Value(1, 1), "AAA   ");
  EXPECT_EQ(Value(1, 2), "N     ");
}

TEST_F(FormDriverTest, HiddenFieldNeverShowsItsValue) {
  StandardScreen();
  FormField& secret = Screen(1).fields[2];
  secret.Flags = kFlagHidden;
  secret.InfoWidth = 4;
  secret.Value = FitToWidth("SECRET", 6);
  Type({kKeyEnter, "PQ", kKeyEnter, kKeyEnter});
  EXPECT_EQ(Run(1), kKeyEnter);
  EXPECT_EQ(Value(1, 2), "PQ    ");
  std::string screen = VirtualScreenDump();
  EXPECT_EQ(screen.find("SECRET"), std::string::npos) << screen;
  EXPECT_EQ(screen.find("PQ"), std::string::npos) << screen;
  EXPECT_EQ(Keyboard.maskCharacter, 0) << "the mask is switched off after the field";
}

TEST_F(FormDriverTest, BlankDateFieldReceivesTheSessionDate) {
  DefineScreen(1, 1);
  DefineField(1, 1, 3, 2, "Data: ", 10, "", 0, kFieldDate);
  VirtualPushKey(kKeyEnter);
  EXPECT_EQ(Run(1), kKeyEnter);
  EXPECT_EQ(Value(1, 1), "070423    ");
  EXPECT_EQ(VirtualRowText(3, 2, 16), "Data: 7/4/2023  ") << VirtualScreenDump();
}

TEST_F(FormDriverTest, RejectedValueStaysInTheBufferAfterABeep) {
  DefineScreen(1, 1);
  DefineField(1, 1, 3, 2, "Data: ", 10, "", 0, kFieldDate);
  VirtualPushText("310223");  // 31 February
  Type({kKeyEnter, kKeyHome});
  VirtualPushText("2");  // corrected to 21 February
  VirtualPushKey(kKeyEnter);
  EXPECT_EQ(Run(1), kKeyEnter) << VirtualScreenDump();
  EXPECT_EQ(Console.bells, 1);
  EXPECT_EQ(Value(1, 1), "210223    ");
}

TEST_F(FormDriverTest, AmountFieldRefusesLettersAndAcceptsDigits) {
  DefineScreen(1, 1);
  DefineField(1, 1, 3, 2, "Import: ", 6, "", 0, kFieldAmount);
  Type({"12x", kKeyEnter, kKeyRight, kKeyRight, kKeyDel, kKeyEnter});
  EXPECT_EQ(Run(1), kKeyEnter) << VirtualScreenDump();
  EXPECT_EQ(Console.bells, 1);
  EXPECT_EQ(Value(1, 1), "12    ");
}

// A refused value says why on row 24, beside the beep; the next key puts
// the row back as it was.
TEST_F(FormDriverTest, EachRefusalShowsItsReasonOnRowTwentyFourUntilTheNextKey) {
  const struct {
    int type;
    const char* typed;
    int lookup;
    const char* reason;
  } cases[] = {
      {kFieldDate, "310223", 0, "DATA INCORRECTA"},  // 31 February
      {kFieldAmount, "12x", 0, "NOM\x90S S'HI ADMETEN XIFRES"},
      {kFieldConcept, "9", 0, "EL CONCEPTE HA DE SER DEL 0 AL 8"},
      {kFieldText, "", 1, "NO S'HA TRIAT CAP L\xD6NIA DE LA LLISTA"},  // the list cancelled
  };
  static std::vector<std::string> rowsAtBeep;
  Platform.beep = [] { rowsAtBeep.push_back(TrimBlanks(VirtualRowText(kReasonRow))); };
  for (const auto& c : cases) {
    rowsAtBeep.clear();
    ConsoleSetCursor(kReasonRow, 1);
    WriteText("ABAIX");  // what the reason covers
    DefineScreen(1, 1);
    DefineField(1, 1, 3, 2, "Camp: ", 8, "", 0, c.type).Lookup = static_cast<int16_t>(c.lookup);
    VirtualPushText(c.typed);
    Type({c.lookup != 0 ? kKeyF4 : kKeyEnter, kKeyCtrlY, kKeyEsc});
    EXPECT_EQ(Run(1), kKeyEsc) << c.reason;
    ASSERT_EQ(rowsAtBeep.size(), 1u) << c.reason;
    EXPECT_NE(rowsAtBeep[0].find(c.reason), std::string::npos) << rowsAtBeep[0];
    EXPECT_EQ(TrimBlanks(VirtualRowText(kReasonRow)), "ABAIX") << c.reason;
  }
}

// The calculator types a number as it is into a date or code field, in
// hundredths into any other; the pop-up's result replaces the field's text.
TEST_F(FormDriverTest, TheCalculatorKnowsTheFieldItTypesInto) {
  static std::vector<bool> plain;
  static std::string answer;
  Keyboard.calculator = [] {
    plain.push_back(Keyboard.plainNumbers);
    return answer;
  };
  const struct {
    int type;
    bool plain;
    const char* answer;
    const char* shown;
  } cases[] = {{kFieldDate, true, "150523", "15/5/2023  "},
               {kFieldConcept, true, "0", "0  "},
               {kFieldCode, true, "1009", "1009 "},
               {kFieldAmount, false, "700", "700  "},
               {kFieldText, false, "700", "700  "}};
  for (const auto& c : cases) {
    plain.clear();
    answer = c.answer;
    DefineScreen(1, 1);
    DefineField(1, 1, 3, 2, "Camp: ",
                c.type == kFieldDate      ? 11
                : c.type == kFieldConcept ? 3
                                          : 5,
                "123", 0, c.type);
    VirtualPushKeys({kKeyAltX, kKeyEnter});
    EXPECT_EQ(Run(1), kKeyEnter) << c.type;
    EXPECT_EQ(plain, std::vector<bool>{c.plain}) << c.type;
    EXPECT_EQ(VirtualRowText(3, 8, static_cast<int>(std::string(c.shown).size())), c.shown) << c.type;
    EXPECT_FALSE(Keyboard.plainNumbers) << "set for the field's edit only";
  }
}

// A screen's key line stands centred on the last row while the screen
// runs, a continuation's over it; each screen puts back what was there.
TEST_F(FormDriverTest, TheKeyLineStandsOnTheLastRowWhileItsScreenRuns) {
  static std::vector<std::string> lastRows;
  Keyboard.calculator = [] {
    lastRows.push_back(VirtualRowText(ScreenRows()));
    return std::string();
  };
  ConsoleSetCursor(ScreenRows(), 1);
  WriteText("ABANS");
  DefineScreen(1, 2, 2);
  DefineField(1, 1, 3, 2, "Primer: ", 6, "AAA");
  DefineField(1, 2, 0, 0, "F1 AJUDA   ESC SURT", 0, "", kFlagKeyLine);
  DefineScreen(2, 2, 0, 10, 10, 14, 60);
  DefineField(2, 1, 1, 2, "Cont: ", 6, "CCC");
  DefineField(2, 2, 0, 0, "ESC TORNA", 0, "", kFlagKeyLine);
  // Alt+X on the first screen, Enter to the continuation, Alt+X there,
  // Esc back, Alt+X again, Esc out.
  VirtualPushKeys({kKeyAltX, kKeyEnter, kKeyAltX, kKeyEsc, kKeyAltX, kKeyEsc});
  EXPECT_EQ(Run(1), kKeyEsc) << VirtualScreenDump();
  ASSERT_EQ(lastRows.size(), 3u);
  EXPECT_EQ(TrimBlanks(lastRows[0]), "F1 AJUDA   ESC SURT");
  EXPECT_EQ(lastRows[0].find("F1 AJUDA"), static_cast<size_t>((80 - 19) / 2)) << "centred";
  EXPECT_EQ(TrimBlanks(lastRows[1]), "ESC TORNA");
  EXPECT_EQ(lastRows[2], lastRows[0]);
  EXPECT_EQ(TrimBlanks(VirtualRowText(ScreenRows())), "ABANS") << "put back when the screen ended";
}

TEST_F(FormDriverTest, MouseClickOnALabelOrDescriptionAreaSelectsThatField) {
  StandardScreen();
  Screen(1).fields[2].InfoWidth = 10;
  VirtualPushMouse(4, 6);  // on the label "Quart: "
  VirtualPushText("M");
  VirtualPushMouse(2 + 7 + 6 + 5, 4);  // in the description area of field 2
  VirtualPushText("D");
  VirtualPushMouse(60, 20);  // on no field: stays
  VirtualPushText("E");
  VirtualPushMouse(8, 5);  // on the display-only field: stays
  VirtualPushKeys({kKeyCode2});
  EXPECT_EQ(Run(1), kKeyCode2) << VirtualScreenDump();
  EXPECT_EQ(Value(1, 4), "MDD   ");
  EXPECT_EQ(Value(1, 2), "EBB   ");
  EXPECT_EQ(Value(1, 1), "AAA   ");
  EXPECT_EQ(Console.starved, 0);
}

TEST_F(FormDriverTest, MouseClickInAWindowCountsFromTheWindow) {
  StandardScreen(2);
  ContinuationScreen();
  VirtualPushKey(kKeyF2);
  VirtualPushMouse(10 + 3, 10 + 2);  // label of the continuation's field 2
  Type({"K", kKeyEnter});
  EXPECT_EQ(Run(1), kKeyEnter) << VirtualScreenDump();
  EXPECT_EQ(Value(2, 2), "KEE   ");
  EXPECT_EQ(Value(2, 1), "CCC   ");
}

TEST_F(FormDriverTest, F4OnAFieldWithoutLookupStays) {
  StandardScreen();
  VirtualPushText("ZZ");
  VirtualPushKey(kKeyF4);  // nothing to look up: edited again from the stored value
  Type({"K", kKeyCode2});
  EXPECT_EQ(Run(1), kKeyCode2);
  EXPECT_EQ(Value(1, 1), "KAA   ");
  EXPECT_EQ(Console.bells, 0);
}

TEST_F(FormDriverTest, CancelledLookupBeepsAndKeepsTheTypedText) {
  StandardScreen();
  Screen(1).fields[1].Lookup = 1;
  VirtualPushText("ZZ");
  VirtualPushKey(kKeyF4);  // the browse list is cancelled
  VirtualPushKey(kKeyCode2);
  EXPECT_EQ(Run(1), kKeyCode2);
  EXPECT_EQ(Console.bells, 1);
  EXPECT_EQ(Value(1, 1), "ZZA   ");
}

TEST_F(FormDriverTest, F1WithoutAMenuNameEditsTheFieldAgainFromItsValue) {
  StandardScreen();
  Type({"ZZ", kKeyF1, kKeyCode2});
  EXPECT_EQ(Run(1), kKeyCode2);
  EXPECT_EQ(Value(1, 1), "AAA   ");
  EXPECT_EQ(Console.bells, 0);
}

TEST_F(FormDriverTest, F1ShowsTheMenuHelpAndTheFieldIsEditedAgainFromItsValue) {
  StandardScreen();
  Session.menuName = "TARPELIX  ";
  Type({"ZZ", kKeyF1});
  VirtualPushKey(kKeyEsc);  // leaves the help window, not the screen
  VirtualPushKey(kKeyCode2);
  EXPECT_EQ(Run(1), kKeyCode2) << VirtualScreenDump();
  EXPECT_EQ(Value(1, 1), "AAA   ");
  EXPECT_EQ(Console.starved, 0);
  EXPECT_EQ(Windows.WindowDepth, 0);
}

TEST_F(FormDriverTest, ChoicesShowTheDescriptionOfTheStoredCode) {
  DefineScreen(1, 2);
  FormField& answer = DefineField(1, 1, 3, 2, "Confirmar: ", 1, "N");
  answer.InfoWidth = 3;
  answer.Choices = "x|S,S\xA1|N,No";
  FormField& none = DefineField(1, 2, 4, 2, "Altre: ", 1, "Q");
  none.Choices = "|S,S\xA1|N,No";
  ShowFieldValue(1, 1);
  ShowFieldValue(1, 2);
  EXPECT_EQ(VirtualRowText(3, 13, 4), "No  ");
  EXPECT_EQ(VirtualRowText(4, 9, 4), "    ") << "no entry matches: nothing written";
}

TEST_F(FormDriverTest, LongValueIsShownInLinesOfTheLineWidth) {
  DefineScreen(1, 1);
  FormField& text = DefineField(1, 1, 3, 2, "Text: ", 6, "ABCDEF");
  text.LineWidth = 3;
  ShowFieldValue(1, 1);
  EXPECT_EQ(VirtualRowText(3, 8, 4), "ABC ");
  EXPECT_EQ(VirtualRowText(4, 8, 4), "DEF ");
}

TEST_F(FormDriverTest, IsAllOfTellsBlankTexts) {
  EXPECT_TRUE(IsAllOf("", 32));
  EXPECT_TRUE(IsAllOf("   ", 32));
  EXPECT_FALSE(IsAllOf("  a", 32));
  EXPECT_TRUE(IsAllOf("--", '-'));
}

// ---- Bad form data ----------------------------------------------------------

TEST_F(FormDriverTest, FieldCountBeyondTheTablesIsCutToThem) {
  StandardScreen();
  Screen(1).FieldCount = 50;
  DefineField(1, 6, 8, 2, "Sis: ", 4, "six");
  Type({kKeyPgDn, "L", kKeyEnter});
  EXPECT_EQ(Run(1), kKeyEnter);
  EXPECT_EQ(Value(1, 6), "Lix ");
}

TEST_F(FormDriverTest, ContinuationToItselfOrToAMissingScreenIsNone) {
  for (int next : {1, 99}) {
    StandardScreen(next);
    VirtualPushKeys({kKeyF2, kKeyPgDn, kKeyEnter});
    EXPECT_EQ(Run(1), kKeyEnter) << "NextScreen " << next;
    EXPECT_TRUE(Console.scripted.empty());
    EXPECT_EQ(Windows.WindowDepth, 0);
  }
}

TEST_F(FormDriverTest, ScreensChainedInACircleNestOnlyToTheLimit) {
  DefineScreen(1, 1, 2, 2, 2, 6, 40);
  DefineField(1, 1, 1, 1, "U: ", 4, "1", 0, kFieldAmount);
  DefineScreen(2, 1, 1, 8, 2, 12, 40);
  DefineField(2, 1, 1, 1, "D: ", 4, "2", 0, kFieldAmount);
  int deepest = 0;
  Platform.beep = [&] { deepest = Windows.WindowDepth; };
  for (int i = 0; i < 20; ++i) VirtualPushKey(kKeyF2);
  VirtualPushText("x");
  VirtualPushKey(kKeyEnter);  // refused where it is: the beep notes the depth
  for (int i = 0; i < 20; ++i) VirtualPushKey(kKeyEsc);
  EXPECT_EQ(Run(1), kKeyEsc);
  EXPECT_EQ(deepest, kMaxScreenNesting);
  EXPECT_EQ(Windows.WindowDepth, 0);
}

TEST_F(FormDriverTest, FieldOfWidthZeroIsNeverEdited) {
  DefineScreen(1, 2);
  DefineField(1, 1, 3, 2, "Buit: ", 0);
  DefineField(1, 2, 4, 2, "Ple: ", 4, "ok");
  Type({"W", kKeyEnter});
  EXPECT_EQ(Run(1), kKeyEnter);
  EXPECT_EQ(Value(1, 1), "");
  EXPECT_EQ(Value(1, 2), "Wk  ");
}

TEST_F(FormDriverTest, WindowOutsideTheConsoleDrawsInTheCurrentOne) {
  StandardScreen();
  Screen(1).WindowBox[1] = 30;  // below the last row
  Screen(1).WindowBox[2] = 1;
  Screen(1).WindowBox[3] = 40;
  Screen(1).WindowBox[4] = 80;
  VirtualPushKey(kKeyEsc);
  EXPECT_EQ(Run(1), kKeyEsc);
  EXPECT_EQ(VirtualRowText(3, 2, 11), "Primer: AAA") << VirtualScreenDump();
  EXPECT_EQ(Windows.WindowDepth, 0);
}

}  // namespace

namespace {
int checksMade = 0;
int16_t RefuseTheFirstExit(int16_t&, KeyCode& key) {
  ++checksMade;
  return key == kKeyEsc || checksMade > 1 ? 0 : -1;
}
}  // namespace

TEST_F(FormDriverTest, RefusedExitCheckResumesAtTheFirstFieldWithTheValuesKept) {
  StandardScreen();
  checksMade = 0;
  ScreenExitCheck = RefuseTheFirstExit;
  // Through the three editable fields, typing into the last one: refused.
  Type({kKeyEnter, kKeyEnter, "Z", kKeyEnter});
  // Back on the first field: a letter there proves where editing resumed.
  Type({"Y", kKeyEnter, kKeyEnter, kKeyEnter});
  EXPECT_EQ(Run(1), kKeyEnter) << VirtualScreenDump();
  EXPECT_EQ(checksMade, 2);
  EXPECT_EQ(Value(1, 1), "YAA   ");
  EXPECT_EQ(Value(1, 4), "ZDD   ");
  EXPECT_EQ(Console.starved, 0);
}
