// form_driver_test.cpp - the form screen driver on the virtual console: a
// small form built here, scripted keys and mouse clicks, and the screen and
// the field values read back.
#include "screen/form_driver.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <map>
#include <string>

#include "app/form.h"
#include "app/session.h"
#include "data/data.h"
#include "input/dates.h"
#include "input/keys.h"
#include "platform/console.h"
#include "platform/platform.h"
#include "recman/recman.h"
#include "screen/windows.h"
#include "settle/parameters.h"
#include "settle/records.h"
#include "settle/settlement.h"

namespace {

// Enter, Esc, Up, Down, PgUp, PgDn, code 2 (Ctrl+B), F2 and F4 end an edit
// (End is the editor's own: it moves to the end of the text).
const std::string kScreenKeys = "d,1b,4800,5000,4900,5100,2,3c00,3e00";
constexpr KeyCode kKeyCode2 = 2;  // accepts the screen from any field

class FormDriverTest : public ::testing::Test {
 protected:
  std::string dir;
  std::map<std::string, std::string> environment;

  void SetUp() override {
    char pattern[] = "/tmp/form_driver_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
    environment["KALROOT"] = dir + "/";
    environment["KALTMP"] = dir + "/";
    Platform.environment = &environment;
    Platform.clock = [] {
      LocalTime t;
      t.year = 2024;
      t.month = 5;
      t.day = 2;
      return t;
    };
    Session = SessionState{};
    Session.root = dir + "/";
    Session.tempDir = dir + "/";
    Session.title = " PROVA ";
    Session.language = "CAT";
    Session.date = PackDigits("20230407");
    ConsoleStartVirtual();
    ResetWindows();
    Keyboard = KeyboardState{};
    ResetFormatPreferences();
    // The driver on its own: every screen passes its exit check.
    ScreenExitCheck = [](int16_t&, KeyCode&) -> int16_t { return 0; };
    CreateFormTables(3, 6);
  }

  void TearDown() override {
    ResetWindows();
    ScreenExitCheck = CheckParameters;
    Platform = PlatformHooks{};
    std::filesystem::remove_all(dir);
  }

  static void DefineScreen(int screen, int fields, int next = 0, int top = 0, int left = 0, int bottom = 0,
                           int right = 0) {
    FormScreen& s = Screen(screen);
    s.ScreenKeys = kScreenKeys;
    s.FieldCount = static_cast<int16_t>(fields);
    s.NextScreen = static_cast<int16_t>(next);
    s.WindowBox[1] = static_cast<int16_t>(top);
    s.WindowBox[2] = static_cast<int16_t>(left);
    s.WindowBox[3] = static_cast<int16_t>(bottom);
    s.WindowBox[4] = static_cast<int16_t>(right);
  }

  static FormField& DefineField(int screen, int field, int row, int column, const std::string& label,
                                int width, const std::string& value = "", int flags = 0,
                                int type = kFieldText) {
    FormField& f = Field(screen, field);
    f.Row = static_cast<int16_t>(row);
    f.Column = static_cast<int16_t>(column);
    f.Label = label;
    f.Width = static_cast<int16_t>(width);
    f.Flags = static_cast<int16_t>(flags);
    f.Type = static_cast<int16_t>(type);
    f.Value = FitToWidth(value, width);
    return f;
  }

  // Screen 1: four text fields, the third display-only, no window.
  static void StandardScreen(int next = 0) {
    DefineScreen(1, 4, next);
    DefineField(1, 1, 3, 2, "Primer: ", 6, "AAA");
    DefineField(1, 2, 4, 2, "Segon: ", 6, "BBB");
    DefineField(1, 3, 5, 2, "Info: ", 6, "III", kFlagDisplayOnly);
    DefineField(1, 4, 6, 2, "Quart: ", 6, "DDD");
  }

  // Screen 2: the continuation, two text fields in a window.
  static void ContinuationScreen() {
    DefineScreen(2, 2, 0, 10, 10, 14, 60);
    DefineField(2, 1, 1, 2, "Cont1: ", 6, "CCC");
    DefineField(2, 2, 2, 2, "Cont2: ", 6, "EEE");
  }

  static KeyCode Run(int screen, KeyCode key = 0) {
    int16_t number = static_cast<int16_t>(screen), up = 0, down = 0;
    RunFormScreen(number, up, down, key);
    return key;
  }

  static std::string Value(int screen, int field) { return Field(screen, field).Value; }
};

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
  VirtualPushKeys({kKeyDown, kKeyDown, kKeyDown, kKeyDown});
  VirtualPushText("Q");
  VirtualPushKey(kKeyEnter);
  EXPECT_EQ(Run(1), kKeyEnter) << VirtualScreenDump();
  EXPECT_EQ(Value(1, 4), "QDD   ");
  EXPECT_EQ(Value(1, 1), "AAA   ");
  EXPECT_EQ(Value(1, 2), "BBB   ");
  EXPECT_EQ(Console.starved, 0);
}

TEST_F(FormDriverTest, UpMovesBackOverDisplayOnlyFieldsAndStaysOnTheFirst) {
  StandardScreen();
  VirtualPushKeys({kKeyEnter, kKeyEnter, kKeyUp, kKeyUp, kKeyUp});
  VirtualPushText("U");
  VirtualPushKeys({kKeyCode2});
  EXPECT_EQ(Run(1), kKeyCode2) << VirtualScreenDump();
  EXPECT_EQ(Value(1, 1), "UAA   ");
  EXPECT_EQ(Console.starved, 0);
}

TEST_F(FormDriverTest, PageKeysGoToTheFirstAndLastEditableFields) {
  StandardScreen();
  VirtualPushKeys({kKeyPgDn});
  VirtualPushText("L");
  VirtualPushKeys({kKeyPgUp});
  VirtualPushText("F");
  VirtualPushKeys({kKeyCode2});
  EXPECT_EQ(Run(1), kKeyCode2) << VirtualScreenDump();
  EXPECT_EQ(Value(1, 4), "LDD   ");
  EXPECT_EQ(Value(1, 1), "FAA   ");
}

TEST_F(FormDriverTest, EscOnALaterFieldGoesToTheFirstAndEscOnTheFirstCancels) {
  StandardScreen();
  VirtualPushKey(kKeyEnter);
  VirtualPushText("X");
  VirtualPushKey(kKeyEsc);  // field 2: typed text dropped, back to field 1
  VirtualPushText("Y");
  VirtualPushKeys({kKeyEnter, kKeyEsc, kKeyEsc});
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
  VirtualPushText("S");
  VirtualPushKey(kKeyCode2);
  EXPECT_EQ(Run(1), kKeyCode2) << VirtualScreenDump();
  EXPECT_EQ(Value(1, 4), "SDD   ");
}

TEST_F(FormDriverTest, F2OpensTheContinuationFromAnyField) {
  StandardScreen(2);
  ContinuationScreen();
  VirtualPushKey(kKeyF2);
  VirtualPushText("V");
  VirtualPushKeys({kKeyEnter, kKeyEnter});
  EXPECT_EQ(Run(1), kKeyEnter) << VirtualScreenDump();
  EXPECT_EQ(Value(2, 1), "VCC   ");
  EXPECT_EQ(Value(1, 1), "AAA   ");
}

TEST_F(FormDriverTest, F2WithoutAContinuationStays) {
  StandardScreen();
  VirtualPushKey(kKeyF2);
  VirtualPushText("Z");
  VirtualPushKey(kKeyCode2);
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
  VirtualPushKey(kKeyF2);
  VirtualPushText("x");
  VirtualPushKey(kKeyEnter);  // refused: the beep takes the picture
  VirtualPushKey(kKeyEsc);
  VirtualPushKey(kKeyEsc);
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
  VirtualPushKey(kKeyEnter);
  VirtualPushText("PQ");
  VirtualPushKeys({kKeyEnter, kKeyEnter});
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
  VirtualPushKey(kKeyEnter);
  VirtualPushKey(kKeyHome);
  VirtualPushText("2");  // corrected to 21 February
  VirtualPushKey(kKeyEnter);
  EXPECT_EQ(Run(1), kKeyEnter) << VirtualScreenDump();
  EXPECT_EQ(Console.bells, 1);
  EXPECT_EQ(Value(1, 1), "210223    ");
}

TEST_F(FormDriverTest, AmountFieldRefusesLettersAndAcceptsDigits) {
  DefineScreen(1, 1);
  DefineField(1, 1, 3, 2, "Import: ", 6, "", 0, kFieldAmount);
  VirtualPushText("12x");
  VirtualPushKey(kKeyEnter);
  VirtualPushKeys({kKeyRight, kKeyRight, kKeyDel});
  VirtualPushKey(kKeyEnter);
  EXPECT_EQ(Run(1), kKeyEnter) << VirtualScreenDump();
  EXPECT_EQ(Console.bells, 1);
  EXPECT_EQ(Value(1, 1), "12    ");
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
  VirtualPushText("K");
  VirtualPushKeys({kKeyEnter});
  EXPECT_EQ(Run(1), kKeyEnter) << VirtualScreenDump();
  EXPECT_EQ(Value(2, 2), "KEE   ");
  EXPECT_EQ(Value(2, 1), "CCC   ");
}

TEST_F(FormDriverTest, F4OnAFieldWithoutLookupStays) {
  StandardScreen();
  VirtualPushText("ZZ");
  VirtualPushKey(kKeyF4);  // nothing to look up: edited again from the stored value
  VirtualPushText("K");
  VirtualPushKey(kKeyCode2);
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
  VirtualPushText("ZZ");
  VirtualPushKey(kKeyF1);
  VirtualPushKey(kKeyCode2);
  EXPECT_EQ(Run(1), kKeyCode2);
  EXPECT_EQ(Value(1, 1), "AAA   ");
  EXPECT_EQ(Console.bells, 0);
}

TEST_F(FormDriverTest, F1ShowsTheMenuHelpAndTheFieldIsEditedAgainFromItsValue) {
  StandardScreen();
  Session.menuName = "TARPELIX  ";
  VirtualPushText("ZZ");
  VirtualPushKey(kKeyF1);
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

TEST_F(FormDriverTest, LookupPickStoresThePropertyOrConceptCode) {
  DefineScreen(1, 3);
  DefineField(1, 1, 3, 2, "Finca: ", 4, "1");
  DefineField(1, 2, 4, 2, "Concepte: ", 3, "3");
  DefineField(1, 3, 5, 2, "Altre: ", 3, "abc");
  std::string code = PackDigits("0012");
  FinquesH[0] = static_cast<unsigned char>(code[0]);
  FinquesH[1] = static_cast<unsigned char>(code[1]);
  THRebut[0] = 7;
  ApplyLookupPick(1, 1, 1);
  ApplyLookupPick(2, 1, 2);
  ApplyLookupPick(3, 1, 3);
  EXPECT_EQ(Value(1, 1), "012 ");
  EXPECT_EQ(Value(1, 2), "7  ");
  EXPECT_EQ(Value(1, 3), "abc");
}

TEST_F(FormDriverTest, IsAllOfTellsBlankTexts) {
  EXPECT_TRUE(IsAllOf("", 32));
  EXPECT_TRUE(IsAllOf("   ", 32));
  EXPECT_FALSE(IsAllOf("  a", 32));
  EXPECT_TRUE(IsAllOf("--", '-'));
}

// ---- Concept fields, against a real concept file -----------------------------

// The concept file THRebut with concepts 1..8, created through the data
// layer from a dictionary written here: 24-byte records, key 0 the concept
// number as one unsigned binary byte.
class ConceptFieldTest : public FormDriverTest {
 protected:
  void SetUp() override {
    FormDriverTest::SetUp();
    // The data layer writes its update log in the current directory.
    previousDirectory = CurrentDirectory();
    ASSERT_TRUE(ChangeDirectory(dir));
    std::string spec(32, '\0');
    spec[0] = 24;              // record length
    spec[2] = 0, spec[3] = 4;  // page size 1024
    spec[4] = 1;               // one key
    spec[16] = 1;              // key: position 1,
    spec[18] = 1;              // length 1,
    spec[20] = KF_BINARY;      // unsigned binary
    std::string dictionary = std::string(1, static_cast<char>(spec.size())) + '\0' + spec;
    ASSERT_TRUE(MakeDirectory(dir + "/ddf"));
    ASSERT_TRUE(MakeDirectory(dir + "/DADES"));
    ASSERT_TRUE(WriteWholeFile(dir + "/ddf/THRebut.xdf", dictionary));
    int16_t status = -1;
    OpenDataFile(status, THRebut, Session.root + "DADES\\THRebut", kFileConcepts);
    ASSERT_EQ(status, 0);
    for (int n = 1; n <= 8; ++n) {
      ClearConceptRecord();
      SetConceptNumber(n);
      SetConceptDescription("CONCEPTE " + std::to_string(n));
      SetConceptType(n == 3 ? 1 : 0);
      CallRecordManager(FindSlot(kFileConcepts), B_INSERT, status);
      ASSERT_EQ(status, 0) << "concept " << n;
    }
    DefineScreen(1, 1);
    DefineField(1, 1, 3, 2, "Concepte: ", 2, "3", 0, kFieldConcept).InfoWidth = 22;
  }

  void TearDown() override {
    int16_t status = 0;
    ResetDataFiles(status);
    ChangeDirectory(previousDirectory);
    FormDriverTest::TearDown();
  }

  std::string previousDirectory;
};

TEST_F(ConceptFieldTest, ShowsTheDescriptionOfTheConcept) {
  ShowFieldValue(1, 1);
  EXPECT_EQ(VirtualRowText(3, 12, 24), "3   " + FitToWidth("CONCEPTE 3", 20)) << VirtualScreenDump();
}

TEST_F(ConceptFieldTest, AcceptsZeroWithABlankDescription) {
  VirtualPushText("0");
  VirtualPushKey(kKeyEnter);
  EXPECT_EQ(Run(1), kKeyEnter) << VirtualScreenDump();
  EXPECT_EQ(Value(1, 1), "0 ");
  EXPECT_EQ(VirtualRowText(3, 12, 24), "0   " + std::string(20, ' '));
  EXPECT_EQ(Console.bells, 0);
}

TEST_F(ConceptFieldTest, AcceptsEveryExistingConceptFromOneToEight) {
  for (int n = 1; n <= 8; ++n) {
    VirtualPushText(std::to_string(n));
    VirtualPushKey(kKeyEnter);
    EXPECT_EQ(Run(1), kKeyEnter) << "concept " << n;
    EXPECT_EQ(Value(1, 1), std::to_string(n) + " ");
    EXPECT_EQ(VirtualRowText(3, 16, 10), "CONCEPTE " + std::to_string(n));
  }
  EXPECT_EQ(Console.bells, 0);
}

TEST_F(ConceptFieldTest, RefusesNineAndLettersWithABeep) {
  VirtualPushText("9");
  VirtualPushKey(kKeyEnter);  // out of range
  VirtualPushText("x");
  VirtualPushKey(kKeyEnter);  // not a number
  VirtualPushText("5");
  VirtualPushKey(kKeyEnter);
  EXPECT_EQ(Run(1), kKeyEnter) << VirtualScreenDump();
  EXPECT_EQ(Console.bells, 2);
  EXPECT_EQ(Value(1, 1), "5 ");
}

TEST_F(ConceptFieldTest, RefusesAConceptMissingFromTheFile) {
  int16_t status = 0;
  FindRecord(status, 0, ConceptKey(6), 0, kFileConcepts);
  ASSERT_EQ(status, 0);
  DeleteRecord(status, kFileConcepts);
  ASSERT_EQ(status, 0);
  EXPECT_NE(StoreFieldValue(1, "6", 1, kKeyEnter), 0);
  EXPECT_EQ(Value(1, 1), "3 ");
  Field(1, 1).Value = "6 ";
  ShowFieldValue(1, 1);
  EXPECT_EQ(VirtualRowText(3, 16, 20), "*** conc.no def. ***");
}

// ---- Bad form data ----------------------------------------------------------

TEST_F(FormDriverTest, FieldCountBeyondTheTablesIsCutToThem) {
  StandardScreen();
  Screen(1).FieldCount = 50;
  DefineField(1, 6, 8, 2, "Sis: ", 4, "six");
  VirtualPushKeys({kKeyPgDn});
  VirtualPushText("L");
  VirtualPushKey(kKeyEnter);
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
  VirtualPushText("W");
  VirtualPushKey(kKeyEnter);
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

// ---- The settlement dialogue ------------------------------------------------

TEST_F(FormDriverTest, SettlementDialogueRepeatsUntilEsc) {
  StandardScreen();
  VirtualPushKeys({kKeyCode2, kKeyCode2});  // two accepted screens
  VirtualPushText("T");
  VirtualPushKeys({kKeyEsc});
  RunSettlement();
  EXPECT_TRUE(Console.scripted.empty());
  EXPECT_EQ(Console.starved, 0);
  EXPECT_EQ(Value(1, 1), "AAA   ") << "Esc on the first field drops the typed text";
}

TEST_F(FormDriverTest, SettlementDialogueEndsOnAScreenWithNothingToEdit) {
  DefineScreen(1, 1);
  DefineField(1, 1, 3, 2, "Info: ", 4, "x", kFlagDisplayOnly);
  RunSettlement();  // returns instead of settling without end
  EXPECT_EQ(Console.starved, 0);
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
  VirtualPushKeys({kKeyEnter, kKeyEnter});
  VirtualPushText("Z");
  VirtualPushKey(kKeyEnter);
  // Back on the first field: a letter there proves where editing resumed.
  VirtualPushText("Y");
  VirtualPushKeys({kKeyEnter, kKeyEnter, kKeyEnter});
  EXPECT_EQ(Run(1), kKeyEnter) << VirtualScreenDump();
  EXPECT_EQ(checksMade, 2);
  EXPECT_EQ(Value(1, 1), "YAA   ");
  EXPECT_EQ(Value(1, 4), "ZDD   ");
  EXPECT_EQ(Console.starved, 0);
}
