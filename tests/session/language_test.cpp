// Tests of Translate, the language texts.
#include "session/language.h"

#include "tests/session/session_test_support.h"

namespace {

class TranslateTest : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    Session.root = temp.Dir();
    Session.language = "SPA";
  }
  void LanguageFile(const std::string& contents) { temp.Write("LOCALE/TARPELIX.LNG", contents); }
};

TEST_F(TranslateTest, CatalanTouchesNoFile) {
  temp.MakeFolder("LOCALE");
  Session.language = "CAT";
  EXPECT_EQ(Translate("FINQUES"), "FINQUES");
  EXPECT_FALSE(temp.Exists("LOCALE/TARPELIX.LNG"));
}

TEST_F(TranslateTest, EachLanguageTakesItsField) {
  LanguageFile("FINQUES,FINCAS,FINCAS G,FINQUES O\r\n");
  EXPECT_EQ(Translate("FINQUES"), "FINCAS");
  Session.language = "GLG";
  EXPECT_EQ(Translate("FINQUES"), "FINCAS G");
  Session.language = "OCI";
  EXPECT_EQ(Translate("FINQUES"), "FINQUES O");
}

TEST_F(TranslateTest, TheLanguageCodeIsReadInAnyLetterCase) {
  LanguageFile("FINQUES,FINCAS,FINCAS G,FINQUES O\r\n");
  for (const char* code : {"spa", "Spa", "sPA"}) {
    Session.language = code;
    EXPECT_EQ(Translate("FINQUES"), "FINCAS") << code;
  }
  Session.language = "oci";
  EXPECT_EQ(Translate("FINQUES"), "FINQUES O");
  Session.language = "cat";
  EXPECT_EQ(Translate("FINQUES"), "FINQUES");
}

// What keeps the language from being shown is said once at start, in
// Catalan, naming the file; a missing file or Catalan is nothing to say.
TEST_F(TranslateTest, ALanguageThatCannotBeShownIsSaid) {
  const struct {
    const char* language;
    const char* file;  // nullptr: no file
    const char* said;
  } cases[] = {
      {"SPA", "A,B,C,D\r\nE,F,G,H\r\n", ""},
      {"spa", "A,B,C,D\r\n", ""},
      {"SPA", nullptr, ""},
      {"CAT", "\x01\x02garbage", ""},
      {"   ", "\x01\x02garbage", ""},
      {"ENG", "A,B,C,D\r\n", "IDIOMA ENG DESCONEGUT: ELS TEXTS ES MOSTREN EN CATAL\xB7"},
      {"SPA",
       "\x7f"
       "ELF\x02\x01",
       "EL FITXER D'IDIOMES LOCALE/TARPELIX.LNG NO \x90S UN FITXER DE TEXT"},
      {"GLG", "A,B,C,D\r\nE,F\r\n",
       "EL FITXER D'IDIOMES LOCALE/TARPELIX.LNG T\x90 UN REGISTRE SENSE ELS 4 TEXTOS"},
      {"OCI", "just some words\r\n",
       "EL FITXER D'IDIOMES LOCALE/TARPELIX.LNG T\x90 UN REGISTRE SENSE ELS 4 TEXTOS"},
      // A Ctrl-Z ends the data: what follows it is not read.
      {"SPA", "A,B,C,D\r\n\x1A\x01\x02", ""},
  };
  const std::string here = CurrentDirectory();
  ASSERT_TRUE(ChangeDirectory(temp.path));  // the program runs in the suite root
  for (const auto& c : cases) {
    Session.language = c.language;
    DeleteFile(temp.Dir() + "LOCALE/TARPELIX.LNG");
    if (c.file != nullptr) LanguageFile(c.file);
    EXPECT_EQ(LanguageSetupProblem(), c.said) << c.language << " " << (c.file ? c.file : "(none)");
  }
  ChangeDirectory(here);
}

TEST_F(TranslateTest, KeysMatchByteForByteTrailingSpacesIncluded) {
  LanguageFile("\"EL CONCEPTE \",\"EL CONCEPTO \",\"O CONCEPTO \",\"ETH CONCEPTE \"\r\n");
  EXPECT_EQ(Translate("EL CONCEPTE "), "EL CONCEPTO ");
  EXPECT_EQ(Translate("EL CONCEPTE"), "EL CONCEPTE");
  EXPECT_EQ(Translate("el concepte "), "el concepte ");
}

TEST_F(TranslateTest, UnquotedKeyKeepsItsTrailingSpaces) {
  LanguageFile("NO EXISTEIX EL CONCEPTE ,NO EXISTE EL CONCEPTO ,x,y\r\n");
  EXPECT_EQ(Translate("NO EXISTEIX EL CONCEPTE "), "NO EXISTE EL CONCEPTO ");
}

TEST_F(TranslateTest, FirstOfTwoRecordsWithTheSameKeyWins) {
  LanguageFile("A,first,g,o\r\nA,second,g,o\r\n");
  EXPECT_EQ(Translate("A"), "first");
}

TEST_F(TranslateTest, EmptyTranslationGivesEmptyText) {
  LanguageFile("A,,g,o\r\nB,b,g,\r\n");
  EXPECT_EQ(Translate("A"), "");
  Session.language = "OCI";
  EXPECT_EQ(Translate("B"), "");
}

TEST_F(TranslateTest, UnknownCodeOrBlankCodeGivesTheTextBack) {
  LanguageFile("A,es,gl,oc\r\n");
  Session.language = "ENG";
  EXPECT_EQ(Translate("A"), "A");
  Session.language = "   ";
  EXPECT_EQ(Translate("A"), "A");
}

TEST_F(TranslateTest, QuotedTextsHoldCommas) {
  LanguageFile("\"UN, DOS\",\"UNO, DOS\",g,o\r\n");
  EXPECT_EQ(Translate("UN, DOS"), "UNO, DOS");
}

TEST_F(TranslateTest, RecordsMayRunOverLinesAndLoneLineFeedsEndLines) {
  LanguageFile("A\nes A\ngl A\noc A\nB,es B,gl B,oc B");
  EXPECT_EQ(Translate("A"), "es A");
  EXPECT_EQ(Translate("B"), "es B");
}

TEST_F(TranslateTest, KeyWithoutItsTranslationsAtTheEndIsIgnored) {
  LanguageFile("A,es,gl,oc\r\nB\r\n");
  EXPECT_EQ(Translate("B"), "B");
  LanguageFile("A,es,gl,oc\r\nC,es C,gl C");
  EXPECT_EQ(Translate("C"), "C");
  EXPECT_EQ(Translate("A"), "es");
}

TEST_F(TranslateTest, CtrlZEndsTheRecords) {
  LanguageFile(
      "A,es,gl,oc\r\n\x1A"
      "B,es B,gl B,oc B\r\n");
  EXPECT_EQ(Translate("B"), "B");
}

TEST_F(TranslateTest, MissingFileIsCreatedEmptyInAnExistingLocaleFolder) {
  temp.MakeFolder("LOCALE");
  EXPECT_EQ(Translate("A"), "A");
  ASSERT_TRUE(temp.Exists("LOCALE/TARPELIX.LNG"));
  EXPECT_EQ(FileLength(temp.Dir() + "LOCALE/TARPELIX.LNG"), 0);
}

TEST_F(TranslateTest, NoFolderIsCreated) {
  EXPECT_EQ(Translate("A"), "A");
  EXPECT_FALSE(temp.Exists("LOCALE"));
}

TEST_F(TranslateTest, FolderAndFileAreFoundInAnyLetterCase) {
  temp.Write("locale/tarpelix.lng", "A,es,gl,oc\r\n");
  EXPECT_EQ(Translate("A"), "es");
}

TEST_F(TranslateTest, ChangedFileIsSeenByTheNextCall) {
  LanguageFile("A,old,g,o\r\n");
  EXPECT_EQ(Translate("A"), "old");
  LanguageFile("A,new,g,o\r\n");
  EXPECT_EQ(Translate("A"), "new");
}

TEST_F(TranslateTest, FileNameIsFixedByTheFirstCall) {
  LanguageFile("A,es,gl,oc\r\n");
  temp.Write("LOCALE/OTHER.LNG", "A,other,gl,oc\r\n");
  EXPECT_EQ(Translate("A"), "es");
  ModuleName = "OTHER";
  EXPECT_EQ(Translate("A"), "es");
}

}  // namespace
