// Tests of GetIni, the settings file reader: a table of settings files, each
// with the questions asked of it and the answers expected.
#include "session/settings.h"

#include <vector>

#include "tests/session/session_test_support.h"

namespace {

struct Question {
  const char* key;
  const char* section;
  const char* answer;
};

struct SettingsCase {
  const char* rule;
  const char* contents;
  std::vector<Question> questions;
};

const SettingsCase kCases[] = {
    {"spaces around the value stay and the comment is cut",
     "[Iva0]\r\n  Iva = 16 ; comment\r\n",
     {{"iva", "Iva0", " 16 "}}},
    {"a semicolon inside quotes still cuts the line, and nothing is unquoted",
     "[S]\r\nK=\" A;B\"\r\n",
     {{"K", "S", "\" A"}}},
    {"enclosing quotes are removed once",
     "[S]\r\nA=\"abc\"\r\nB=\"\"\r\nC=\"\r\nD=\"\"x\"\"\r\n",
     {{"A", "S", "abc"}, {"B", "S", ""}, {"C", "S", "\""}, {"D", "S", "\"x\""}}},
    {"section headers match with inner spaces or no closing bracket, in any case",
     "[  Iva0  ]\r\nHonoraris=16\r\n[ret0\r\nHonoraris=15\r\n",
     {{"Honoraris", "IVA0", "16"}, {"honoraris", "Ret0", "15"}}},
    {"entries outside the section are never returned",
     "Honoraris=1\r\n[Iva1]\r\nHonoraris=2\r\n[Iva0]\r\nAltre=3\r\n[Ret0]\r\nHonoraris=4\r\n",
     {{"Honoraris", "Iva0", ""}, {"Honoraris", "Iva1", "2"}}},
    {"only the first occurrence of a section is searched",
     "[S]\r\nA=1\r\n[T]\r\n[S]\r\nB=2\r\n",
     {{"A", "S", "1"}, {"B", "S", ""}}},
    {"the first of two equal keys wins", "[S]\r\nKey=first\r\nKEY=second\r\n", {{"key", "s", "first"}}},
    {"a line without a key matches the empty key", "[S]\r\n=5\r\n", {{"", "S", "5"}, {"  ", "S", "5"}}},
    {"the caller's spaces around key and section are ignored",
     "[Usuari]\r\nIdioma=SPA\r\n",
     {{"  Idioma ", " Usuari  ", "SPA"}}},
    {"a key keeps its inner spaces and loses its trailing ones",
     "[S]\r\nNom Menu   =X\r\n",
     {{"nom menu", "S", "X"}, {"NomMenu", "S", ""}}},
    {"lines without equals and comment lines are skipped",
     "; a comment [S]\r\n[S]\r\n  ; Key=no\r\njust text\r\n   \r\nKey=yes\r\n",
     {{"Key", "S", "yes"}}},
    {"a missing section or key gives empty text", "[S]\r\nA=1\r\n", {{"A", "Other", ""}, {"B", "S", ""}}},
    {"lone line feeds and carriage returns end lines too",
     "[A]\nX=1\n[B]\r\nX=2\r\n[C]\rX=3\r",
     {{"X", "A", "1"}, {"X", "B", "2"}, {"X", "C", "3"}}},
    {"the last line without a line end is read", "[S]\r\nA=last", {{"A", "S", "last"}}},
    // "[Sessió]" written in lower case, asked for as "SESSIÓ".
    {"accented letters compare without case",
     "[Sessi\xA2]\r\nDescripci\xA2=ok\r\n",
     {{"DESCRIPCI\xE0", "SESSI\xE0", "ok"}}},
    {"the value is everything after the first equals", "[S]\r\nFormula=a=b \r\n", {{"Formula", "S", "a=b "}}},
};

class GetIniTest : public AppTest {};

TEST_F(GetIniTest, EveryFileAnswersItsQuestions) {
  for (const SettingsCase& c : kCases) {
    const std::string file = temp.Write("Vork.ini", c.contents);
    for (const Question& q : c.questions) {
      EXPECT_EQ(GetIni(q.key, q.section, file), q.answer)
          << c.rule << ": [" << q.section << "] " << q.key << "\nin: " << c.contents;
      std::string value = "x";
      bool present = GetIniEntry(q.key, q.section, file, value);
      EXPECT_EQ(value, q.answer) << c.rule;
      if (*q.answer != '\0') { EXPECT_TRUE(present) << c.rule; }
    }
  }
}

TEST_F(GetIniTest, AnEmptyValueIsThereAndAMissingKeyIsNot) {
  const std::string file =
      temp.Write("Vork.ini", "[Iva0]\r\nHonoraris=\r\n[Iva1]\r\nAltre=1\r\n[Ret0]\r\nHonoraris=0\r\n");
  std::string value = "x";
  EXPECT_TRUE(GetIniEntry("Honoraris", "Iva0", file, value));
  EXPECT_EQ(value, "");
  EXPECT_TRUE(GetIniEntry("Honoraris", "Ret0", file, value));
  EXPECT_EQ(value, "0");
  EXPECT_FALSE(GetIniEntry("Honoraris", "Iva1", file, value)) << "a section without the key";
  EXPECT_EQ(value, "");
  EXPECT_FALSE(GetIniEntry("Honoraris", "Ret1", file, value)) << "no such section";
  EXPECT_FALSE(GetIniEntry("Honoraris", "Iva0", temp.Dir() + "none.ini", value)) << "no such file";
}

TEST_F(GetIniTest, AMissingFileGivesEmptyText) {
  temp.Write("Vork.ini", "[S]\r\nA=1\r\n");
  EXPECT_EQ(GetIni("A", "S", temp.Dir() + "none.ini"), "");
}

TEST_F(GetIniTest, ProgramPathsWithBackslashesAndAnyCaseAreFound) {
  temp.Write("TMP/VorkTerm.ini", "[Pantalla]\r\nSeleccio=2\r\n");
  EXPECT_EQ(GetIni("Seleccio", "Pantalla", temp.path + "\\tmp\\VORKTERM.INI"), "2");
}

}  // namespace
