// Tests of Translate, the language texts.
#include "session/language.h"

#include <vector>

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

// Each language file with the texts asked of it, in which language, and
// the answers expected.
struct Asked {
  const char* language;
  const char* text;
  const char* answer;
};
struct LanguageCase {
  const char* rule;
  const char* file;
  std::vector<Asked> asked;
};
const LanguageCase kCases[] = {
    {"each language takes its field",
     "FINQUES,FINCAS,FINCAS G,FINQUES O\r\n",
     {{"SPA", "FINQUES", "FINCAS"}, {"GLG", "FINQUES", "FINCAS G"}, {"OCI", "FINQUES", "FINQUES O"}}},
    {"the language code is read in any letter case",
     "FINQUES,FINCAS,FINCAS G,FINQUES O\r\n",
     {{"spa", "FINQUES", "FINCAS"},
      {"Spa", "FINQUES", "FINCAS"},
      {"sPA", "FINQUES", "FINCAS"},
      {"oci", "FINQUES", "FINQUES O"},
      {"cat", "FINQUES", "FINQUES"}}},
    {"keys match byte for byte, trailing spaces included",
     "\"EL CONCEPTE \",\"EL CONCEPTO \",\"O CONCEPTO \",\"ETH CONCEPTE \"\r\n",
     {{"SPA", "EL CONCEPTE ", "EL CONCEPTO "},
      {"SPA", "EL CONCEPTE", "EL CONCEPTE"},
      {"SPA", "el concepte ", "el concepte "}}},
    {"an unquoted key keeps its trailing spaces",
     "NO EXISTEIX EL CONCEPTE ,NO EXISTE EL CONCEPTO ,x,y\r\n",
     {{"SPA", "NO EXISTEIX EL CONCEPTE ", "NO EXISTE EL CONCEPTO "}}},
    {"the first of two records with the same key wins",
     "A,first,g,o\r\nA,second,g,o\r\n",
     {{"SPA", "A", "first"}}},
    {"an empty translation gives empty text", "A,,g,o\r\nB,b,g,\r\n", {{"SPA", "A", ""}, {"OCI", "B", ""}}},
    {"an unknown or blank code gives the text back",
     "A,es,gl,oc\r\n",
     {{"ENG", "A", "A"}, {"   ", "A", "A"}}},
    {"quoted texts hold commas", "\"UN, DOS\",\"UNO, DOS\",g,o\r\n", {{"SPA", "UN, DOS", "UNO, DOS"}}},
    {"records may run over lines, and lone line feeds end lines",
     "A\nes A\ngl A\noc A\nB,es B,gl B,oc B",
     {{"SPA", "A", "es A"}, {"SPA", "B", "es B"}}},
    {"a key without its translations at the end is ignored", "A,es,gl,oc\r\nB\r\n", {{"SPA", "B", "B"}}},
    {"a record cut short at the end is ignored, the others read",
     "A,es,gl,oc\r\nC,es C,gl C",
     {{"SPA", "C", "C"}, {"SPA", "A", "es"}}},
    {"a Ctrl-Z ends the records",
     "A,es,gl,oc\r\n\x1A"
     "B,es B,gl B,oc B\r\n",
     {{"SPA", "B", "B"}}},
};

TEST_F(TranslateTest, EveryFileAnswersWhatIsAsked) {
  for (const LanguageCase& c : kCases) {
    LanguageFile(c.file);
    for (const Asked& a : c.asked) {
      Session.language = a.language;
      EXPECT_EQ(Translate(a.text), a.answer) << c.rule << ": " << a.language << " \"" << a.text << "\"";
    }
  }
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
