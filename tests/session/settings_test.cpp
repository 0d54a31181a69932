// Tests of GetIni, the settings file reader.
#include "session/settings.h"

#include "tests/session/session_test_support.h"

namespace {

class GetIniTest : public AppTest {
 protected:
  std::string file;
  void Settings(const std::string& contents) { file = temp.Write("Vork.ini", contents); }
};

TEST_F(GetIniTest, SpacesAroundTheValueStayAndTheCommentIsCut) {
  Settings("[Iva0]\r\n  Iva = 16 ; comment\r\n");
  EXPECT_EQ(GetIni("iva", "Iva0", file), " 16 ");
}

TEST_F(GetIniTest, SemicolonInsideQuotesStillCutsTheLineAndNoUnquoting) {
  Settings("[S]\r\nK=\" A;B\"\r\n");
  EXPECT_EQ(GetIni("K", "S", file), "\" A");
}

TEST_F(GetIniTest, EnclosingQuotesAreRemovedOnce) {
  Settings("[S]\r\nA=\"abc\"\r\nB=\"\"\r\nC=\"\r\nD=\"\"x\"\"\r\n");
  EXPECT_EQ(GetIni("A", "S", file), "abc");
  EXPECT_EQ(GetIni("B", "S", file), "");
  EXPECT_EQ(GetIni("C", "S", file), "\"");
  EXPECT_EQ(GetIni("D", "S", file), "\"x\"");
}

TEST_F(GetIniTest, SectionHeadersMatchWithInnerSpacesOrNoClosingBracketInAnyCase) {
  Settings("[  Iva0  ]\r\nHonoraris=16\r\n[ret0\r\nHonoraris=15\r\n");
  EXPECT_EQ(GetIni("Honoraris", "IVA0", file), "16");
  EXPECT_EQ(GetIni("honoraris", "Ret0", file), "15");
}

TEST_F(GetIniTest, EntriesOutsideTheSectionAreNeverReturned) {
  Settings("Honoraris=1\r\n[Iva1]\r\nHonoraris=2\r\n[Iva0]\r\nAltre=3\r\n[Ret0]\r\nHonoraris=4\r\n");
  EXPECT_EQ(GetIni("Honoraris", "Iva0", file), "");
  EXPECT_EQ(GetIni("Honoraris", "Iva1", file), "2");
}

TEST_F(GetIniTest, OnlyTheFirstOccurrenceOfASectionIsSearched) {
  Settings("[S]\r\nA=1\r\n[T]\r\n[S]\r\nB=2\r\n");
  EXPECT_EQ(GetIni("A", "S", file), "1");
  EXPECT_EQ(GetIni("B", "S", file), "");
}

TEST_F(GetIniTest, FirstOfTwoEqualKeysWins) {
  Settings("[S]\r\nKey=first\r\nKEY=second\r\n");
  EXPECT_EQ(GetIni("key", "s", file), "first");
}

TEST_F(GetIniTest, LineWithoutKeyMatchesTheEmptyKey) {
  Settings("[S]\r\n=5\r\n");
  EXPECT_EQ(GetIni("", "S", file), "5");
  EXPECT_EQ(GetIni("  ", "S", file), "5");
}

TEST_F(GetIniTest, CallerSpacesAroundKeyAndSectionAreIgnored) {
  Settings("[Usuari]\r\nIdioma=SPA\r\n");
  EXPECT_EQ(GetIni("  Idioma ", " Usuari  ", file), "SPA");
}

TEST_F(GetIniTest, KeyKeepsInnerSpacesAndLosesTrailingOnes) {
  Settings("[S]\r\nNom Menu   =X\r\n");
  EXPECT_EQ(GetIni("nom menu", "S", file), "X");
  EXPECT_EQ(GetIni("NomMenu", "S", file), "");
}

TEST_F(GetIniTest, LinesWithoutEqualsAndCommentLinesAreSkipped) {
  Settings("; a comment [S]\r\n[S]\r\n  ; Key=no\r\njust text\r\n   \r\nKey=yes\r\n");
  EXPECT_EQ(GetIni("Key", "S", file), "yes");
}

TEST_F(GetIniTest, MissingFileSectionOrKeyGiveEmptyText) {
  Settings("[S]\r\nA=1\r\n");
  EXPECT_EQ(GetIni("A", "S", temp.Dir() + "none.ini"), "");
  EXPECT_EQ(GetIni("A", "Other", file), "");
  EXPECT_EQ(GetIni("B", "S", file), "");
}

TEST_F(GetIniTest, LoneLineFeedsAndCarriageReturnsEndLinesToo) {
  Settings("[A]\nX=1\n[B]\r\nX=2\r\n[C]\rX=3\r");
  EXPECT_EQ(GetIni("X", "A", file), "1");
  EXPECT_EQ(GetIni("X", "B", file), "2");
  EXPECT_EQ(GetIni("X", "C", file), "3");
}

TEST_F(GetIniTest, LastLineWithoutLineEndIsRead) {
  Settings("[S]\r\nA=last");
  EXPECT_EQ(GetIni("A", "S", file), "last");
}

TEST_F(GetIniTest, AccentedLettersCompareWithoutCase) {
  // "[Sessió]" written in lower case, asked for as "SESSIÓ".
  Settings("[Sessi\xA2]\r\nDescripci\xA2=ok\r\n");
  EXPECT_EQ(GetIni("DESCRIPCI\xE0", "SESSI\xE0", file), "ok");
}

TEST_F(GetIniTest, ValueIsEverythingAfterTheFirstEquals) {
  Settings("[S]\r\nFormula=a=b \r\n");
  EXPECT_EQ(GetIni("Formula", "S", file), "a=b ");
}

TEST_F(GetIniTest, ProgramPathsWithBackslashesAndAnyCaseAreFound) {
  temp.Write("TMP/VorkTerm.ini", "[Pantalla]\r\nSeleccio=2\r\n");
  EXPECT_EQ(GetIni("Seleccio", "Pantalla", temp.path + "\\tmp\\VORKTERM.INI"), "2");
}

}  // namespace
