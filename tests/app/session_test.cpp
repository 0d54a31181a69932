// Tests of SetupSession: the session values from the environment and the
// settings files.
#include "app/session_setup.h"
#include "input/dates.h"
#include "session/settings.h"
#include "tests/session/session_test_support.h"

namespace {

class SessionTest : public AppTest {
 protected:
  // A station folder TMP with its two settings files, named by KALTMP.
  void Station(const std::string& sessio, const std::string& vorkTerm) {
    temp.Write("TMP/Sessio.ini", sessio);
    temp.Write("TMP/VorkTerm.ini", vorkTerm);
    environment["KALTMP"] = temp.path + "/TMP";
  }
};

TEST_F(SessionTest, TemporaryDirectoryGetsASeparatorAndNamesBothStationFiles) {
  Station("[Menu]\r\nTitol=LIQUIDACI\xE0\r\nNomMenu=TARPELIX\r\n", "[Sistema]\r\nIdioma=SPA\r\n");
  SetupSession();
  EXPECT_EQ(Session.tempDir, temp.path + "/TMP\\");
  EXPECT_EQ(Session.title, " LIQUIDACI\xE0 ");
  EXPECT_EQ(Session.menuName, "TARPELIX");
  EXPECT_EQ(Session.language, "SPA");
}

TEST_F(SessionTest, DirectoryEndingsAreKept) {
  for (std::string value : {"C:\\TMP\\", "C:", "/srv/kal/tmp/"}) {
    environment["KALTMP"] = value;
    SetupSession();
    EXPECT_EQ(Session.tempDir, value);
  }
}

TEST_F(SessionTest, EmptyTemporaryDirectoryReadsSessioHereAndVorkTermFromTheTerminal) {
  temp.Write("Sessio.ini", "[Terminal]\r\nDir=" + temp.path + "/TERM\r\n");
  temp.Write("TERM/VorkTerm.ini", "[Sistema]\r\nIdioma=OCI\r\n");
  ASSERT_TRUE(ChangeDirectory(temp.path));
  SetupSession();
  EXPECT_EQ(Session.terminalDir, temp.path + "/TERM\\");
  EXPECT_EQ(Session.tempDir, Session.terminalDir);
  EXPECT_EQ(Session.language, "OCI");
}

// The station's screen settings and the colour pairs of the five schemes
// they give.
struct ColoursCase {
  const char* what;
  const char* settings;
  int16_t foreground[5], background[5];
};

TEST_F(SessionTest, SelectionNamesTheColourSetAndAMissingOneFallsBackToTheDefault) {
  const ColoursCase cases[] = {
      {"the selection names the colour set",
       "[Pantalla]\r\nSeleccio=2\r\nCol0=00000000000000000000\r\nCol2=15010714000301140603\r\n",
       {15, 7, 0, 1, 6},
       {1, 14, 3, 14, 3}},
      {"a missing colour set falls back to the default",
       "[Pantalla]\r\nSeleccio=2\r\nCol0=01020304050607080910\r\n",
       {15, 7, 0, 0, 0},
       {0, 0, 7, 7, 7}},
  };
  for (const ColoursCase& c : cases) {
    Session = SessionState{};
    Station("", c.settings);
    SetupSession();
    for (int k = 0; k < 5; ++k) {
      EXPECT_EQ(Session.foreground[k], c.foreground[k]) << c.what << ", scheme " << k;
      EXPECT_EQ(Session.background[k], c.background[k]) << c.what << ", scheme " << k;
    }
  }
}

TEST_F(SessionTest, ShortColourSetGivesZeroForMissingPairs) {
  Station("", "[Pantalla]\r\nCol0=1501071\r\n");
  SetupSession();
  EXPECT_EQ(Session.foreground[0], 15);
  EXPECT_EQ(Session.background[0], 1);
  EXPECT_EQ(Session.foreground[1], 7);
  EXPECT_EQ(Session.background[1], 1);
  EXPECT_EQ(Session.foreground[2], 0);
  EXPECT_EQ(Session.background[4], 0);
}

// The suite's settings (Vork.ini; nullptr: none), the station's, and the
// language the session takes.
struct LanguageCase {
  const char* what;
  const char* suite;
  const char* station;
  const char* language;
};

TEST_F(SessionTest, TheTerminalsLanguageWinsAndIsCutOrPaddedToThreeCharacters) {
  const LanguageCase cases[] = {
      {"the terminal's language wins over the suite's settings", "[Usuari]\r\nIdioma=SPA\r\n",
       "[Sistema]\r\nIdioma=GLG\r\n", "GLG"},
      {"the suite's settings give the language when the terminal has none", "[Usuari]\r\nIdioma=SPA\r\n",
       "[Sistema]\r\nIdioma=   \r\n", "SPA"},
      {"a longer code is cut", nullptr, "[Sistema]\r\nIdioma=SPANISH\r\n", "SPA"},
      {"a shorter code is padded", nullptr, "[Sistema]\r\nIdioma=ES\r\n", "ES "},
      {"no code at all is three blanks", nullptr, "", "   "},
  };
  for (const LanguageCase& c : cases) {
    Session = SessionState{};
    environment.erase("KALROOT");
    if (c.suite) {
      temp.Write("Vork.ini", c.suite);
      environment["KALROOT"] = temp.Dir();
    }
    Station("", c.station);
    SetupSession();
    EXPECT_EQ(Session.language, c.language) << c.what;
  }
}

TEST_F(SessionTest, EmptyTitleGivesTwoBlanks) {
  Station("[Menu]\r\nTitol=\r\n", "");
  SetupSession();
  EXPECT_EQ(Session.title, "  ");
  EXPECT_EQ(Session.menuName, "");
}

TEST_F(SessionTest, EnvironmentModeFollowsTheWebAndWindowsVariables) {
  SetupSession();
  EXPECT_EQ(Session.mode, "DOS");
  environment["SYSTEMROOT"] = "C:\\WINDOWS";
  SetupSession();
  EXPECT_EQ(Session.mode, "WIN");
  environment["HTTP_ACCEPT"] = "text/html";
  SetupSession();
  EXPECT_EQ(Session.mode, "CGI");
  environment.erase("HTTP_ACCEPT");
  environment["HTTP_USER_AGENT"] = "Mozilla";
  SetupSession();
  EXPECT_EQ(Session.mode, "CGI");
}

TEST_F(SessionTest, TerminalTypeInTermIsNotTakenForADirectory) {
  Station("[Terminal]\r\nDir=\r\n", "");
  environment["TERM"] = "xterm-256color";
  SetupSession();
  EXPECT_EQ(Session.terminalDir, "");
}

TEST_F(SessionTest, TermNamingAnExistingDirectoryIsTheTerminalDirectory) {
  Station("", "");
  temp.MakeFolder("TERMINAL");
  environment["TERM"] = temp.path + "/TERMINAL";
  SetupSession();
  EXPECT_EQ(Session.terminalDir, temp.path + "/TERMINAL\\");
}

TEST_F(SessionTest, SessionDateIsPackedFromItsDigitText) {
  Station("", "[Sistema]\r\nData=20261231\r\n");
  SetupSession();
  EXPECT_EQ(Session.date, PackDigits("20261231"));
  Station("", "");
  SetupSession();
  EXPECT_EQ(Session.date, std::string(4, '\x80'));
  EXPECT_EQ(DateShortText(Session.date), "");
}

TEST_F(SessionTest, RootIsKeptAsADirectoryAndFirmValuesAreRead) {
  temp.Write("Vork.ini", "[Administrador]\r\nNIF=ES12345678Z\r\n[Dades]\r\nPropietari=KAL1\r\n");
  environment["KALROOT"] = temp.Dir();
  SetupSession();
  EXPECT_EQ(Session.root, temp.Dir());
  EXPECT_EQ(Session.firmTaxId, "ES12345678Z");
  EXPECT_EQ(Session.ownerName, "KAL1");

  environment["KALROOT"] = temp.path;  // written without the final separator
  SetupSession();
  EXPECT_EQ(Session.root, temp.path + "\\");
  EXPECT_EQ(Session.ownerName, "KAL1");
}

TEST_F(SessionTest, RelativeDirectoriesBecomeAbsoluteSoThatTheySurviveTheChangeOfDirectory) {
  temp.Write("kal/Vork.ini", "[Dades]\r\nPropietari=KAL1\r\n");
  temp.Write("tmp/Sessio.ini", "[Terminal]\r\nDir=term\r\n");
  ASSERT_TRUE(ChangeDirectory(temp.path));
  environment["KALROOT"] = "kal/";
  environment["KALTMP"] = "tmp";
  SetupSession();
  EXPECT_EQ(Session.root, CurrentDirectory() + "/kal/");
  EXPECT_EQ(Session.tempDir, CurrentDirectory() + "/tmp\\");
  EXPECT_EQ(Session.terminalDir, CurrentDirectory() + "/term\\");
  ASSERT_TRUE(ChangeDirectory(Session.root));
  EXPECT_EQ(GetIni("Propietari", "Dades", Session.root + "Vork.ini"), "KAL1");
}

TEST_F(SessionTest, MissingFilesLeaveEmptyValuesAndDefaults) {
  environment["KALTMP"] = temp.path + "/none";
  SetupSession();
  EXPECT_EQ(Session.title, "  ");
  EXPECT_EQ(Session.terminalDir, "");
  EXPECT_EQ(Session.foreground[0], 15);
  EXPECT_EQ(Session.background[2], 7);
  EXPECT_EQ(Session.firmTaxId, "");
}

}  // namespace
