// Tests of the demo suite root shipped in demo/: the form file gives the
// program the screens and lists it needs, every caption and message has its
// three translations, and the settings files give the values the demo is
// meant to show.
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "app/form_reader.h"
#include "app/program.h"
#include "app/session_setup.h"
#include "input/dates.h"
#include "screen/form.h"
#include "screen/form_driver.h"
#include "session/settings.h"
#include "settle/settlement.h"
#include "tests/session/session_test_support.h"

namespace {

// The messages the program passes through Translate besides the form's
// captions.
const char* const kMessages[] = {
    "*** conc.no def. ***",
    "NO EXISTEIX EL CONCEPTE ",
    "EL CONCEPTE ",
    " NO \x90S DE TIPUS R\xE3SSEC",
    "LIQUIDACI\xE0 FETA",
    "FINQUES NO LIQUIDADES:",
    "SENSE DATA DE LA DARRERA LIQUIDACI\xE0",
    "LIQUIDADA A UNA DATA POSTERIOR",
    "LIQUIDADA DES D'UN ALTRE LLOC DE TREBALL",
    "TIPUS D'IMPOST DESCONEGUT",
    "IMPORT MASSA GRAN",
    "NO S'HAN POGUT DESAR ELS CANVIS",
    "NO EXISTEIX LA CARPETA ",
    "NO ES POT LLEGIR EL FITXER DE PANTALLES ",
    "EL FITXER DE PANTALLES NO DEFINEIX CAP PANTALLA: ",
    "FITXER DE PANTALLES INCORRECTE: ",
    "L\xD6NIA ",
    "NOMBRE DE PANTALLES FORA DE L\xD6MITS",
    "NOMBRE DE CAMPS FORA DE L\xD6MITS",
    "NOMBRE DE LLISTES FORA DE L\xD6MITS",
    "AMPLADA DE CAMP FORA DE L\xD6MITS",
    "AMPLADA DE L\xD6NIA FORA DE L\xD6MITS",
    "AMPLADA DE DESCRIPCI\xE0 FORA DE L\xD6MITS",
    "LA PRIMERA FINCA \x90S POSTERIOR A LA DARRERA",
    "DATA INCORRECTA",
    "NOM\x90S S'HI ADMETEN XIFRES",
    "EL CONCEPTE HA DE SER DEL 0 AL 8",
    "NO S'HA TRIAT CAP L\xD6NIA DE LA LLISTA",
    "FITXER DE PANTALLES INCOMPLET: ",
    "HI FALTA ",
    "EL CAMP ",
    " DE LA PANTALLA ",
    "LA PANTALLA ",
    "LA LLISTA ",
    "EL NOMBRE DE LLISTES",
    "HI FALTA LA PANTALLA DE CONFIRMACI\xE0 (PANTALLA 2)",
    "LA PANTALLA 1 HA DE TENIR ELS QUATRE CAMPS DELS PAR\xB7METRES",
    " NO ES POT EDITAR",
    " HA DE SER UNA DATA",
    " HA DE SER UNA FINCA D'AMPLADA 5",
    " HA DE SER UN CONCEPTE",
    "LA PANTALLA 2 HA DE TENIR EL CAMP DE CONFIRMACI\xE0 D'AMPLADA 1",
    "LES TECLES DE LA PANTALLA ",
    " HAN D'INCLOURE RETORN (d) I ESC (1b)",
    " NOMENA LA LLISTA ",
    ", QUE NO EXISTEIX",
    " HA DE SER DEL FITXER DE FINQUES (511)",
    " HA DE SER DEL FITXER DE CONCEPTES (504)",
    " NOMENA UNA PANTALLA O UNA LLISTA QUE NO EXISTEIX",
};

class DemoSuiteTest : public AppTest {
 protected:
  std::string problem;
  void SetUp() override {
    AppTest::SetUp();
    UseDemoSuiteCopy();
    Platform.clock = [] { return LocalTime{2026, 6, 15, 10, 0, 0, 0}; };
  }
  void TearDown() override {
    Platform.clock = nullptr;
    Form = FormTables{};
    AppTest::TearDown();
  }
  void LoadForm(const std::string& language) {
    SetupSession();
    Session.language = language;
    ASSERT_TRUE(ReadFormFile(Session.root + "FORMS\\TARPELIX.JPN", problem)) << problem;
  }
};

TEST_F(DemoSuiteTest, SessionValuesOfTheDemoStation) {
  SetupSession();
  EXPECT_EQ(Session.language, "CAT");
  EXPECT_EQ(Session.menuName, "TARPELIX");
  EXPECT_EQ(Session.title, " ADMINISTRACI\xE0 DE FINQUES - LIQUIDACI\xE0 D'HONORARIS ");
  EXPECT_EQ(Session.date, PackDigits("20261231"));
  EXPECT_EQ(Session.foreground[0], 15);
  EXPECT_EQ(Session.background[0], 1);
  EXPECT_EQ(Session.firmTaxId, "ES12345678Z");
  EXPECT_EQ(Session.ownerName, "KAL1");
  EXPECT_EQ(GetIni("DecCaracter", "Usuari", Session.root + "Vork.ini"), "'");
  ReadTaxRates();
  EXPECT_FLOAT_EQ(Session.vatRates[0], 21);
  EXPECT_FLOAT_EQ(Session.vatRates[1], 10);
  EXPECT_FLOAT_EQ(Session.withholdingRates[0], 15);
  EXPECT_FLOAT_EQ(Session.withholdingRates[1], 7);
}

TEST_F(DemoSuiteTest, FormGivesTheParameterAndConfirmationScreensAndTheLists) {
  LoadForm("CAT");
  ASSERT_GE(Form.screenCount, 2);
  // The four parameters and the key line.
  ASSERT_EQ(Screen(1).FieldCount, 5);
  EXPECT_EQ(Field(1, 5).Flags, kFlagKeyLine);
  EXPECT_NE(Field(1, 5).Label.find("F4 LLISTA"), std::string::npos);
  const int16_t types[] = {1, 4, 4, 3};
  const int16_t lookups[] = {0, 1, 1, 2};
  for (int f = 1; f <= 4; ++f) {
    EXPECT_EQ(Field(1, f).Type, types[f - 1]) << "field " << f;
    EXPECT_EQ(Field(1, f).Lookup, lookups[f - 1]) << "field " << f;
    EXPECT_EQ(Field(1, f).Value.size(), static_cast<size_t>(Field(1, f).Width));
  }
  // The editor never types into a field's last position: one more than the
  // longest text ("31/12/2026", "9999", "8").
  EXPECT_EQ(Field(1, 1).Width, 11);
  EXPECT_EQ(Field(1, 2).Width, 5);
  EXPECT_EQ(Field(1, 3).Width, 5);
  EXPECT_EQ(Field(1, 4).Width, 2);
  // Property codes must keep their 4-byte packed form.
  for (int f : {2, 3}) {
    EXPECT_NE(Field(1, f).Width, 6);
    EXPECT_NE(Field(1, f).Width, 9);
  }
  EXPECT_EQ(Screen(1).ScreenKeys, "d,1b,4800,5000,4900,5100,3e00,4f00");
  EXPECT_NE(Field(1, 1).Label.find("DATA DE LIQUIDACI\xE0 :"), std::string::npos);
  EXPECT_NE(Field(1, 2).Label.find("DE LA FINCA :"), std::string::npos);
  EXPECT_NE(Field(1, 3).Label.find("FINS A LA FINCA :"), std::string::npos);
  EXPECT_NE(Field(1, 4).Label.find("CONCEPTE R\xE3SSEC :"), std::string::npos);
  ASSERT_EQ(Screen(2).FieldCount, 7);
  EXPECT_EQ(Field(2, 7).Flags, kFlagKeyLine);
  EXPECT_EQ(Field(2, 7).Label.find("F4"), std::string::npos) << "no list on the confirmation";
  EXPECT_EQ(Field(2, 1).Width, 1);
  // Fields 2 to 6 say what the pass will do, and are never edited; they are
  // wide enough for the longest of them (a tax identifier of 35).
  for (int f = 2; f <= 6; ++f) {
    EXPECT_NE(Field(2, f).Flags & kFlagDisplayOnly, 0) << "field " << f;
    EXPECT_GE(Field(2, f).Width, 35) << "field " << f;
    EXPECT_LE(Screen(2).WindowBox[2] + Field(2, f).Column + Field(2, f).Label.size() + Field(2, f).Width,
              static_cast<size_t>(Screen(2).WindowBox[4]))
        << "field " << f << " inside its window";
  }
  // Being one character wide, the answer is chosen from options, and a bare
  // Enter (the first option) must not confirm.
  EXPECT_EQ(Field(2, 1).Choices.substr(0, 3), "|N,");
  EXPECT_NE(Field(2, 1).Choices.find("|S,"), std::string::npos);
  EXPECT_NE(Field(2, 1).Label.find("CONFIRMEU LA LIQUIDACI\xE0 (S/N) :"), std::string::npos);
  EXPECT_EQ(Screen(2).ScreenKeys, "d,1b");
  ASSERT_EQ(Form.browseCount, 2);
  EXPECT_EQ(Browse(1).BrowseFile, 511);
  EXPECT_EQ(Browse(2).BrowseFile, 504);
  // Every window lies on the 80 x 25 console.
  for (int s = 1; s <= 2; ++s) {
    EXPECT_GE(Screen(s).WindowBox[1], 1);
    EXPECT_LE(Screen(s).WindowBox[3], 25);
    EXPECT_LE(Screen(s).WindowBox[4], 80);
  }
  for (int b = 1; b <= 2; ++b) {
    EXPECT_LE(Browse(b).BrowseBox[2], 25);
    EXPECT_LE(Browse(b).BrowseBox[3], 80);
  }
}

// The demo form holds what the program needs; each thing taken away from
// it is named in the refusal, with the file.
TEST_F(DemoSuiteTest, TheProgramRefusesAFormLackingWhatItNeeds) {
  const std::string path = Session.root + "FORMS\\TARPELIX.JPN";
  LoadForm("CAT");
  ASSERT_TRUE(CheckParameterForm(path, problem)) << problem;
  const FormTables demo = Form;
  const struct {
    void (*lack)();
    const char* said;
  } cases[] = {
      {[] { Form.screenCount = 1; }, "HI FALTA LA PANTALLA DE CONFIRMACI\xE0 (PANTALLA 2)"},
      {[] { Screen(1).FieldCount = 3; }, "LA PANTALLA 1 HA DE TENIR ELS QUATRE CAMPS DELS PAR\xB5METRES"},
      {[] { Field(1, 2).Flags = 4; }, "EL CAMP 2 DE LA PANTALLA 1 NO ES POT EDITAR"},
      {[] { Field(1, 1).Type = 0; }, "EL CAMP 1 DE LA PANTALLA 1 HA DE SER UNA DATA"},
      {[] { Field(1, 3).Width = 4; }, "EL CAMP 3 DE LA PANTALLA 1 HA DE SER UNA FINCA D'AMPLADA 5"},
      {[] { Field(1, 2).Width = 9; }, "EL CAMP 2 DE LA PANTALLA 1 HA DE SER UNA FINCA D'AMPLADA 5"},
      {[] { Field(1, 4).Type = 2; }, "EL CAMP 4 DE LA PANTALLA 1 HA DE SER UN CONCEPTE"},
      {[] { Field(2, 1).Width = 2; }, "LA PANTALLA 2 HA DE TENIR EL CAMP DE CONFIRMACI\xE0 D'AMPLADA 1"},
      {[] { Screen(2).ScreenKeys = "d"; },
       "LES TECLES DE LA PANTALLA 2 HAN D'INCLOURE RETORN (d) I ESC (1b)"},
      {[] { Screen(1).ScreenKeys = "1b,4800"; },
       "LES TECLES DE LA PANTALLA 1 HAN D'INCLOURE RETORN (d) I ESC (1b)"},
      {[] { Form.browseCount = 1; }, "EL CAMP 4 DE LA PANTALLA 1 NOMENA LA LLISTA 2, QUE NO EXISTEIX"},
      {[] { Field(1, 3).Lookup = 7; }, "EL CAMP 3 DE LA PANTALLA 1 NOMENA LA LLISTA 7, QUE NO EXISTEIX"},
      {[] { Browse(1).BrowseFile = 504; }, "LA LLISTA 1 HA DE SER DEL FITXER DE FINQUES (511)"},
      {[] { Browse(2).BrowseFile = 0; }, "LA LLISTA 2 HA DE SER DEL FITXER DE CONCEPTES (504)"},
      {[] { Browse(2).BrowseNext = 3; }, "LA LLISTA 2 NOMENA UNA PANTALLA O UNA LLISTA QUE NO EXISTEIX"},
  };
  for (const auto& c : cases) {
    Form = demo;
    c.lack();
    EXPECT_FALSE(CheckParameterForm(path, problem)) << c.said;
    EXPECT_EQ(problem, "FITXER DE PANTALLES INCORRECTE: " + HostPath(path) + ", " + c.said);
  }
  // In the operator's language.
  LoadForm("SPA");
  Form.screenCount = 1;
  EXPECT_FALSE(CheckParameterForm(path, problem));
  EXPECT_NE(problem.find("FICHERO DE PANTALLAS INCORRECTO"), std::string::npos) << problem;
  EXPECT_NE(problem.find("FALTA LA PANTALLA DE CONFIRMACI\xE0N"), std::string::npos) << problem;
}

TEST_F(DemoSuiteTest, EveryCaptionIsTranslatedAndKeepsItsWidth) {
  LoadForm("CAT");
  const FormTables catalan = Form;
  for (const char* language : {"SPA", "GLG", "OCI"}) {
    LoadForm(language);
    for (int s = 1; s <= Form.screenCount; ++s)
      for (int f = 1; f <= Screen(s).FieldCount; ++f) {
        const std::string& source = catalan.screens[s].fields[f].Label;
        EXPECT_NE(Field(s, f).Label, source) << language << " has no text for " << source;
        // Labels are right-aligned to one width so that values line up (a
        // key line is centred on its row).
        if (Field(s, f).Flags != kFlagKeyLine) {
          EXPECT_EQ(Field(s, f).Label.size(), source.size()) << language << ": " << Field(s, f).Label;
        }
        EXPECT_LE(Field(s, f).Label.size(), 80u) << language << ": " << Field(s, f).Label;
      }
    for (int b = 1; b <= Form.browseCount; ++b) EXPECT_FALSE(Browse(b).BrowseTitle.empty()) << language;
    // The option codes stay N and S in every language.
    EXPECT_EQ(Field(2, 1).Choices.substr(0, 3), "|N,") << language;
    EXPECT_NE(Field(2, 1).Choices.find("|S,"), std::string::npos) << language;
    if (std::string(language) != "SPA") {
      EXPECT_NE(Field(2, 1).Choices, catalan.screens[2].fields[1].Choices) << language;
    }
  }
}

TEST_F(DemoSuiteTest, EveryMessageHasItsTranslations) {
  SetupSession();
  ModuleName = "TARPELIX";
  for (const char* language : {"SPA", "GLG", "OCI"}) {
    Session.language = language;
    for (const char* message : kMessages) {
      std::string text = Translate(message);
      // The Spanish abbreviation of the undefined concept is the Catalan one,
      // and so are the screen's words.
      const std::string text0 = message;
      bool sameWord = std::string(language) == "SPA" &&
                      (text0 == kMessages[0] || text0 == " DE LA PANTALLA " || text0 == "LA PANTALLA ");
      if (!sameWord) { EXPECT_NE(text, message) << language << " has no text for " << Cp850ToUtf8(message); }
      EXPECT_FALSE(text.empty()) << language;
      // Pieces that are joined to others keep their joining spaces.
      EXPECT_EQ(text.back() == ' ', std::string(message).back() == ' ') << Cp850ToUtf8(text);
      EXPECT_EQ(text.front() == ' ', message[0] == ' ') << Cp850ToUtf8(text);
    }
  }
  Session.language = "SPA";
  EXPECT_EQ(Translate("NO EXISTEIX EL CONCEPTE "), "NO EXISTE EL CONCEPTO ");
  EXPECT_EQ(Translate("*** conc.no def. ***").size(), 20u);
}

// The texts the settlement journal's statements and tool, the progress line
// and the result of a pass (and its pages) pass through
// Translate, as their sources write them: T("...") and Translate("...").
std::vector<std::string> JournalTexts() {
  std::vector<std::string> texts;
  static const std::regex literal(R"re((?:\bT|Translate)\("((?:[^"\\]|\\.)*)"\))re");
  for (const char* file : {"/history/statement.cpp", "/history/taxes.cpp", "/tools/settlements.cpp",
                           "/settle/progress.cpp", "/settle/result.cpp", "/screen/pages.cpp",
                           "/app/program.cpp", "/settle/settlement.cpp", "/settle/parameters.cpp"}) {
    std::ifstream in(std::string(TARPELIX_SOURCE_DIR) + file);
    if (!in) ADD_FAILURE() << "no source " << file << ": its texts would go unchecked";
    std::stringstream source;
    source << in.rdbuf();
    const std::string code = source.str();
    for (std::sregex_iterator i(code.begin(), code.end(), literal), end; i != end; ++i) {
      std::string raw = (*i)[1], text;
      for (size_t k = 0; k < raw.size(); ++k) {
        if (raw[k] == '\\' && k + 1 < raw.size() && raw[k + 1] == 'x') {
          text += static_cast<char>(std::stoi(raw.substr(k + 2, 2), nullptr, 16));
          k += 3;
        } else if (raw[k] == '\\' && k + 1 < raw.size()) {
          text += raw[++k];
        } else {
          text += raw[k];
        }
      }
      texts.push_back(text);
    }
  }
  return texts;
}

TEST_F(DemoSuiteTest, EveryTextOfTheSettlementStatementsHasItsRecordInTheLanguageFile) {
  SetupSession();
  ModuleName = "TARPELIX";
  std::string file;
  ASSERT_TRUE(ReadWholeFile(temp.path + "/LOCALE/TARPELIX.LNG", file));
  const std::vector<std::string> texts = JournalTexts();
  ASSERT_GT(texts.size(), 60u);
  for (const std::string& text : texts) {
    EXPECT_NE(file.find("\"" + text + "\","), std::string::npos) << "no record for " << Cp850ToUtf8(text);
    for (const char* language : {"SPA", "GLG", "OCI"}) {
      Session.language = language;
      std::string translated = Translate(text);
      ASSERT_FALSE(translated.empty()) << language << " " << Cp850ToUtf8(text);
      EXPECT_EQ(translated.back() == ' ', text.back() == ' ') << language << " " << Cp850ToUtf8(translated);
      EXPECT_EQ(translated.front() == ' ', text.front() == ' ') << language << " " << Cp850ToUtf8(translated);
    }
  }
}

// The help of the program and of the menu in the four languages, as the
// viewer reads it: whole 80-byte lines, the key names marked (no bracket
// left), and true to what the program does.
TEST_F(DemoSuiteTest, TheHelpComesInTheFourLanguages) {
  for (const char* folder : {"AJUDA/", "AJUDA/SPA/", "AJUDA/GLG/", "AJUDA/OCI/"})
    for (const char* topic : {"TARPELIX", "QOLAMENU"}) {
      const std::string file = std::string(folder) + topic + ".HLP";
      std::string help;
      ASSERT_TRUE(ReadWholeFile(temp.Dir() + file, help)) << file;
      EXPECT_GT(help.size(), 20u * 80) << file;
      EXPECT_EQ(help.size() % 80, 0u) << file;
      EXPECT_EQ(help.find_first_of("[]\r\n"), std::string::npos) << file;
      if (std::string(topic) == "TARPELIX") {
        EXPECT_NE(help.find("settlements undo"), std::string::npos) << file << " does not tell the undo";
        EXPECT_NE(help.find("24"), std::string::npos) << file << " does not tell the reasons on row 24";
      }
    }
}

TEST_F(DemoSuiteTest, TextFilesUseCrLfLineEnds) {
  for (const char* file :
       {"FORMS/TARPELIX.JPN", "LOCALE/TARPELIX.LNG", "Vork.ini", "TMP/Sessio.ini", "TMP/VorkTerm.ini"}) {
    std::string contents;
    ASSERT_TRUE(ReadWholeFile(temp.Dir() + file, contents)) << file;
    for (size_t i = 0; i < contents.size(); ++i)
      if (contents[i] == '\n') { ASSERT_TRUE(i > 0 && contents[i - 1] == '\r') << file << " byte " << i; }
    EXPECT_TRUE(contents.size() >= 2 && contents.substr(contents.size() - 2) == "\r\n") << file;
  }
}

}  // namespace
