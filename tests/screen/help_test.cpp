// help_test.cpp - the help viewer on the virtual console: fixed-length help
// files written here, scripted keys, and the screen read back while the
// viewer is open (a scripted Alt+X runs the test's calculator hook, which
// takes a snapshot of the screen; the viewer ignores the key itself).
#include "screen/help.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "input/keys.h"
#include "platform/console.h"
#include "platform/platform.h"
#include "screen/windows.h"
#include "session/session.h"
#include "tests/screen/screen_test_support.h"

namespace {

constexpr int kSnap = kKeyAltX;
constexpr int kLineLength = 80;
constexpr int kFirstTextRow = 5;  // window rows 4..22, text from row 5
constexpr int kVisible = 17;

std::string Record(const std::string& text) {
  std::string line = text.substr(0, kLineLength);
  line.resize(kLineLength, ' ');
  return line;
}

std::string Numbered(int n) {
  char text[32];
  std::snprintf(text, sizeof text, "LINIA %03d", n);
  return text;
}

class HelpTest : public ScreenTest {
 protected:
  std::string oldDirectory;

  void SetUp() override {
    ScreenTest::SetUp();
    ASSERT_TRUE(MakeDirectory(dir + "/AJUDA"));
    oldDirectory = CurrentDirectory();
    ASSERT_TRUE(ChangeDirectory(dir));
    Session.mode = "DOS";
    Keyboard.calculator = TakeSnapshot;
  }

  void TearDown() override {
    ChangeDirectory(oldDirectory);
    ScreenTest::TearDown();
  }

  void WriteHelp(const std::string& topic, const std::string& bytes) {
    ASSERT_TRUE(WriteWholeFile(dir + "/AJUDA/" + topic + ".HLP", bytes));
  }

  void WriteNumberedHelp(const std::string& topic, int lines) {
    std::string bytes;
    for (int n = 1; n <= lines; ++n) bytes += Record(Numbered(n));
    WriteHelp(topic, bytes);
  }

  // The line shown on window row `row` of a snapshot (76 characters from
  // screen column 3).
  static std::string Shown(const Snapshot& s, int row) {
    return s.rows[kFirstTextRow - 1 + row].substr(2, 76);
  }
  static std::string ShownTrimmed(const Snapshot& s, int row) {
    std::string text = Shown(s, row);
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
  }

  // Checks that the window shows lines first..last on its rows (blank
  // rows after the end of the file).
  static void ExpectLines(const Snapshot& s, int first, int last) {
    for (int row = 1; row <= kVisible; ++row) {
      int n = first + row - 1;
      std::string expected = n <= last ? Numbered(n) : "";
      EXPECT_EQ(ShownTrimmed(s, row), expected) << "window row " << row;
    }
  }

  void Run(const std::string& topic, const std::vector<int>& keys) {
    VirtualPushKeys(keys);
    ShowHelp(topic);
    EXPECT_EQ(Console.starved, 0) << VirtualScreenDump();
  }
};

TEST_F(HelpTest, OnTwentyFiveRowsTheWindowShowsSeventeenLinesInsideADoubleFrame) {
  WriteNumberedHelp("PROVA", 100);
  Run("PROVA", {kSnap, kKeyEsc});
  ASSERT_EQ(snapshots.size(), 1u);
  const Snapshot& s = snapshots[0];
  EXPECT_EQ(s.rows[4][0], '\xC9');
  EXPECT_EQ(s.rows[4][79], '\xBB');
  EXPECT_EQ(s.rows[22][0], '\xC8');
  EXPECT_EQ(s.rows[5][0], '\xBA');
  ExpectLines(s, 1, 17);
  EXPECT_EQ(s.rows[5].substr(2, 9), "LINIA 001");
}

TEST_F(HelpTest, EndShowsTheLastSeventeenLinesAndHomeTheFirstAgain) {
  WriteNumberedHelp("PROVA", 100);
  Run("PROVA", {kKeyEnd, kSnap, kKeyHome, kSnap, kKeyEsc});
  ASSERT_EQ(snapshots.size(), 2u);
  ExpectLines(snapshots[0], 84, 100);
  ExpectLines(snapshots[1], 1, 17);
}

TEST_F(HelpTest, DownAndUpScrollByOneLineAndStopAtBothEnds) {
  WriteNumberedHelp("PROVA", 20);
  Run("PROVA", {kKeyUp, kSnap, kKeyDown, kSnap, kKeyDown, kKeyDown, kKeyDown, kSnap, kKeyUp, kSnap, kKeyEsc});
  ASSERT_EQ(snapshots.size(), 4u);
  ExpectLines(snapshots[0], 1, 17);
  ExpectLines(snapshots[1], 2, 18);
  ExpectLines(snapshots[2], 4, 20);  // the fourth Down finds no line 21
  ExpectLines(snapshots[3], 3, 19);
}

TEST_F(HelpTest, PageDownAndPageUpMoveByAWindowAndKeepItFull) {
  WriteNumberedHelp("PROVA", 40);
  Run("PROVA", {kKeyPgDn, kSnap, kKeyPgDn, kSnap, kKeyPgDn, kSnap, kKeyPgUp, kSnap, kKeyPgUp, kSnap, kKeyPgUp,
                kSnap, kKeyEsc});
  ASSERT_EQ(snapshots.size(), 6u);
  ExpectLines(snapshots[0], 18, 34);
  ExpectLines(snapshots[1], 24, 40);  // the last page is filled back to 17 lines
  ExpectLines(snapshots[2], 24, 40);  // nothing after it
  ExpectLines(snapshots[3], 7, 23);
  ExpectLines(snapshots[4], 1, 17);  // cut at the start
  ExpectLines(snapshots[5], 1, 17);
}

TEST_F(HelpTest, AShortFileLeavesTheRestEmptyAndTheScrollKeysDoNothing) {
  WriteNumberedHelp("CURT", 5);
  Run("CURT", {kKeyDown, kKeyPgDn, kKeyEnd, kSnap, kKeyEsc});
  ASSERT_EQ(snapshots.size(), 1u);
  ExpectLines(snapshots[0], 1, 5);
}

TEST_F(HelpTest, AMissingFileShowsAnEmptyWindowThatEscCloses) {
  ConsoleWrite("SOTA");
  Run("NOHIHA", {kSnap, kKeyDown, kKeyEnd, kKeyEsc});
  ASSERT_EQ(snapshots.size(), 1u);
  EXPECT_EQ(snapshots[0].depth, 1);
  ExpectLines(snapshots[0], 1, 0);
  EXPECT_EQ(Windows.WindowDepth, 0);
  EXPECT_EQ(VirtualRowText(1, 1, 4), "SOTA");
}

TEST_F(HelpTest, ADamagedFileLosesOnlyItsPartialLastLine) {
  std::string bytes = Record(Numbered(1)) + Record(Numbered(2)) + Record(Numbered(3)) + "LINIA 004 TALLADA";
  WriteHelp("TALLAT", bytes);
  Run("TALLAT", {kKeyEnd, kKeyDown, kSnap, kKeyEsc});
  ASSERT_EQ(snapshots.size(), 1u);
  ExpectLines(snapshots[0], 1, 3);
}

TEST_F(HelpTest, OnlySeventySixCharactersOfALineAreShown) {
  std::string text;
  for (int i = 0; i < 80; ++i) text += static_cast<char>('A' + i % 26);
  WriteHelp("AMPLE", Record(text));
  Run("AMPLE", {kSnap, kKeyEsc});
  const Snapshot& s = snapshots.at(0);
  EXPECT_EQ(Shown(s, 1), text.substr(0, 76));
  EXPECT_EQ(s.rows[kFirstTextRow].substr(78, 1), " ");
  EXPECT_EQ(s.rows[kFirstTextRow][79], '\xBA');
}

TEST_F(HelpTest, StyleCodesSwitchColoursAndDoNotCountAsShownCharacters) {
  // code 30 "BRILL" code 30 "NORMAL", then 70 more letters: 81 visible
  // characters in all, of which 76 are shown.
  std::string line = std::string("\x1E") + "BRILL" + "\x1E" + "NORMAL" + std::string(70, 'x');
  // code 31 wins over code 30; code 16 is reverse.
  std::string second = std::string("\x1F") + "BARRA" + "\x1E" + "ENCARA" + "\x1F" + "BRILL" + "\x1E" +
                       "\x10" + "REVERS" + "\x10" + "FI";
  WriteHelp("ESTILS", line.substr(0, 80) + Record(second));
  Run("ESTILS", {kSnap, kKeyEsc});
  const Snapshot& s = snapshots.at(0);
  const int row = kFirstTextRow;
  const auto& a = s.attributes[row];
  EXPECT_EQ(s.rows[row].substr(2, 11), "BRILLNORMAL");
  EXPECT_EQ(a[3], SchemeAttribute(0));  // B
  EXPECT_EQ(a[7], SchemeAttribute(0));  // L
  EXPECT_EQ(a[8], SchemeAttribute(1));  // N
  EXPECT_EQ(s.rows[row].substr(2, 76), std::string("BRILLNORMAL") + std::string(65, 'x'));
  EXPECT_EQ(s.rows[row + 1].substr(2, 24), "BARRAENCARABRILLREVERSFI");
  const auto& b = s.attributes[row + 1];
  EXPECT_EQ(b[3], SchemeAttribute(4));   // BARRA
  EXPECT_EQ(b[8], SchemeAttribute(4));   // ENCARA: bright is on but the bar wins
  EXPECT_EQ(b[14], SchemeAttribute(1));  // BRILL: bar off returns to normal
  EXPECT_EQ(b[19], SchemeAttribute(2));  // REVERS
  EXPECT_EQ(b[25], SchemeAttribute(1));  // FI
}

TEST_F(HelpTest, FOneOpensTheGeneralHelpAboveAndGoesOnAfterIt) {
  WriteNumberedHelp("PROVA", 30);
  WriteHelp(kGeneralHelpTopic, Record("AJUDA GENERAL"));
  Run("PROVA", {kKeyDown, kKeyF1, kSnap, kKeyEsc, kSnap, kKeyEsc});
  ASSERT_EQ(snapshots.size(), 2u);
  EXPECT_EQ(snapshots[0].depth, 2);
  EXPECT_EQ(ShownTrimmed(snapshots[0], 1), "AJUDA GENERAL");
  EXPECT_EQ(snapshots[1].depth, 1);
  ExpectLines(snapshots[1], 2, 18);
  EXPECT_EQ(Windows.WindowDepth, 0);
}

// A Spanish, Galician or Aranese session reads the help of its language's
// folder when the suite has it, and the suite's own help otherwise; the
// general help too.
TEST_F(HelpTest, EachLanguageReadsItsOwnHelpFolderFirst) {
  ASSERT_TRUE(MakeDirectory(dir + "/AJUDA/SPA"));
  ASSERT_TRUE(MakeDirectory(dir + "/AJUDA/OCI"));
  WriteHelp("PROVA", Record("AJUDA EN CATALA"));
  WriteHelp("SPA/PROVA", Record("AYUDA EN CASTELLANO"));
  WriteHelp(kGeneralHelpTopic, Record("AJUDA GENERAL"));
  WriteHelp(std::string("OCI/") + kGeneralHelpTopic, Record("AJUDA GENERAU"));
  const struct {
    const char* language;
    const char* topic;
    const char* shown;
  } cases[] = {
      {"SPA", "PROVA", "AYUDA EN CASTELLANO"},     {"spa", "PROVA", "AYUDA EN CASTELLANO"},
      {"CAT", "PROVA", "AJUDA EN CATALA"},         {"GLG", "PROVA", "AJUDA EN CATALA"},  // no GLG folder
      {"OCI", "PROVA", "AJUDA EN CATALA"},         {"OCI", kGeneralHelpTopic, "AJUDA GENERAU"},
      {"SPA", kGeneralHelpTopic, "AJUDA GENERAL"},  // no Spanish general help
      {"ENG", "PROVA", "AJUDA EN CATALA"},
  };
  for (const auto& c : cases) {
    Session.language = c.language;
    snapshots.clear();
    Run(c.topic, {kSnap, kKeyEsc});
    ASSERT_EQ(snapshots.size(), 1u);
    EXPECT_EQ(ShownTrimmed(snapshots[0], 1), c.shown) << c.language << " " << c.topic;
  }
}

TEST_F(HelpTest, FOneInsideTheGeneralHelpDoesNothing) {
  WriteHelp(kGeneralHelpTopic, Record("AJUDA GENERAL"));
  Run(kGeneralHelpTopic, {kKeyF1, kSnap, kKeyEsc});
  ASSERT_EQ(snapshots.size(), 1u);
  EXPECT_EQ(snapshots[0].depth, 1);
  EXPECT_EQ(ShownTrimmed(snapshots[0], 1), "AJUDA GENERAL");
  EXPECT_EQ(Windows.WindowDepth, 0);
}

TEST_F(HelpTest, EscRestoresTheScreenColoursAndCursorExactly) {
  std::vector<ConsoleCell> before = FillPattern();
  SetColourScheme("n");
  ConsoleSetCursor(7, 9);
  WriteNumberedHelp("PROVA", 50);
  Run("PROVA", {kKeyPgDn, kKeyDown, kKeyEsc});
  EXPECT_TRUE(Console.cells == before);
  EXPECT_EQ(Windows.currentScheme, 1);
  EXPECT_EQ(ConsoleCursorRow(), 7);
  EXPECT_EQ(ConsoleCursorColumn(), 9);
  EXPECT_TRUE(ConsoleCursorShown());
  EXPECT_FALSE(FileExists(WindowSaveFile()));
}

TEST_F(HelpTest, OnAWindowsTerminalTheDocumentOpenerGetsThePageAsItsOnlyArgument) {
  environment["COMSPEC"] = "C:\\WINDOWS\\SYSTEM32\\CMD.EXE";  // never used
  std::vector<std::vector<std::string>> started;
  Platform.runProgram = [&](const std::vector<std::string>& arguments) {
    started.push_back(arguments);
    return 0;
  };
  Session.mode = "WIN";
  ShowHelp("TARPELIX");
  Session.documentOpener = "/usr/local/bin/obre document";
  ShowHelp("QOLAMENU");
  ASSERT_EQ(started.size(), 2u);
  EXPECT_EQ(started[0], (std::vector<std::string>{"xdg-open", dir + "/AJUDA/TARPELIX.HTM"}));
  EXPECT_EQ(started[1],
            (std::vector<std::string>{"/usr/local/bin/obre document", dir + "/AJUDA/QOLAMENU.HTM"}));
  EXPECT_EQ(Windows.WindowDepth, 0);
}

// A topic is a plain file name of the help folder; anything else (shell
// characters, a way out of the folder, a NUL that would cut ".HLP" off, a
// control character) starts nothing and reads nothing: the empty window.
TEST_F(HelpTest, ATopicThatIsNoPlainNameShowsTheEmptyWindowAndStartsNothing) {
  ASSERT_TRUE(WriteWholeFile(dir + "/secret.HLP", Record("SECRET OUTSIDE THE HELP FOLDER")));
  ASSERT_TRUE(WriteWholeFile(dir + "/AJUDA/x.HLP", Record("WHAT A CUT NAME WOULD REACH")));
  ASSERT_TRUE(WriteWholeFile(dir + "/AJUDA/x", Record("WHAT A NUL WOULD REACH")));
  const std::vector<std::string> topics = {"x|touch PWNED|",
                                           "x;touch PWNED",
                                           "$(touch PWNED)",
                                           "`touch PWNED`",
                                           "../secret",
                                           "..",
                                           "AJUDA/../x",
                                           "a\\..\\secret",
                                           std::string("x\0", 2),
                                           "x\n",
                                           "",
                                           "/etc/passwd",
                                           "x y"};
  std::vector<std::vector<std::string>> started;
  Platform.runProgram = [&](const std::vector<std::string>& arguments) {
    started.push_back(arguments);
    return 0;
  };
  for (const char* mode : {"DOS", "WIN"}) {
    Session.mode = mode;
    for (const std::string& topic : topics) {
      SCOPED_TRACE(std::string(mode) + " topic [" + topic + "]");
      snapshots.clear();
      Run(topic, {kSnap, kKeyEsc});
      ASSERT_EQ(snapshots.size(), 1u);
      EXPECT_EQ(snapshots[0].depth, 1);
      ExpectLines(snapshots[0], 1, 0);
      EXPECT_EQ(Windows.WindowDepth, 0);
    }
  }
  EXPECT_TRUE(started.empty());
  EXPECT_FALSE(std::filesystem::exists(dir + "/PWNED"));
  // Plain names still reach their pages, accented letters and "-", "_",
  // "." included.
  Session.mode = "DOS";
  WriteNumberedHelp("LIQUIDACI\xE0-2_v.1", 3);
  snapshots.clear();
  Run("LIQUIDACI\xE0-2_v.1", {kSnap, kKeyEsc});
  ASSERT_EQ(snapshots.size(), 1u);
  ExpectLines(snapshots[0], 1, 3);
}

// The real launcher: the opener runs as a program of its own with the page
// as its argument; no text of it or of the topic goes through a shell.
TEST_F(HelpTest, TheOpenerIsStartedWithoutAShell) {
  const std::string opener = dir + "/opener";
  ASSERT_TRUE(WriteWholeFile(opener, "#!/bin/sh\nprintf '%s\\n' \"$#\" \"$@\" > \"" + dir + "/opened\"\n"));
  std::filesystem::permissions(opener, std::filesystem::perms::owner_all);
  Session.mode = "WIN";
  Session.documentOpener = opener;
  ShowHelp("TARPELIX");
  std::string opened;
  ASSERT_TRUE(ReadWholeFile(dir + "/opened", opened));
  EXPECT_EQ(opened, "1\n" + dir + "/AJUDA/TARPELIX.HTM\n");
  // A setting with shell text names a program that does not exist: nothing
  // runs, and the operator is back in the field.
  Session.documentOpener = "true; touch " + dir + "/PWNED";
  ShowHelp("TARPELIX");
  Session.documentOpener = dir + "/no-such-opener";  // not started, not reported
  ShowHelp("TARPELIX");
  EXPECT_FALSE(std::filesystem::exists(dir + "/PWNED"));
  EXPECT_EQ(Windows.WindowDepth, 0);
}

}  // namespace
