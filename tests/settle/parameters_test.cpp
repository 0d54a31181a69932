// parameters_test.cpp - the check of the parameter screen on the virtual
// console against a real concept file: the parameters it sets, the reasons
// of its refusals on row 24, and the confirmation screen whose answer must
// be exactly "S"; then the whole parameter screen with its browse lists: a
// four-digit property picked, a picked concept the field refuses.
#include <filesystem>
#include <fstream>

#include "screen/form_driver.h"
#include "settle_test_support.h"

namespace {

using settletest::SettleTest;

class ParameterCheckTest : public SettleTest {
 protected:
  void SetUp() override {
    SettleTest::SetUp();
    AddConcept(1, 2, "QUOTA ORDIN\xB7RIA");
    request.SettlementDate.clear();
    request.LowerOwnerKey.clear();
    request.UpperOwnerKey.clear();
    request.CarryConcept = 0;
    // The demo form's two screens.
    CreateFormTables(2, 6);
    FormScreen& s1 = Screen(1);
    s1.ScreenKeys = "d,1b,4800,5000";
    s1.FieldCount = 4;
    const struct {
      int row;
      const char* label;
      int width;
      int type;
    } fields[] = {{2, "DATA :", 10, kFieldDate},
                  {4, "DE LA FINCA :", 5, kFieldCode},
                  {5, "FINS A LA FINCA :", 5, kFieldCode},
                  {7, "CONCEPTE :", 2, kFieldConcept}};
    for (int f = 1; f <= 4; ++f) {
      FormField& field = Field(1, f);
      field.Row = static_cast<int16_t>(fields[f - 1].row);
      field.Column = 6;
      field.Label = fields[f - 1].label;
      field.Width = static_cast<int16_t>(fields[f - 1].width);
      field.Type = static_cast<int16_t>(fields[f - 1].type);
    }
    FormScreen& s2 = Screen(2);
    s2.ScreenKeys = "d,1b";
    s2.FieldCount = 1;
    s2.WindowBox[1] = 17, s2.WindowBox[2] = 20, s2.WindowBox[3] = 19, s2.WindowBox[4] = 61;
    // A one-character field cannot be typed into (the editor never types
    // into a text's last position): the answer is chosen from options, N
    // first so that a lone Enter does not confirm.
    FormField& answer = Field(2, 1);
    answer.Row = 1, answer.Column = 3, answer.Width = 1, answer.InfoWidth = 2;
    answer.Label = "CONFIRMEU LA LIQUIDACI\xE0 (S/N) :";
    answer.Choices = "|N,NO|S,S\xD6";
    Typed("31/12/2023", "1", "999", "3");
  }

  static void Typed(const std::string& date, const std::string& first, const std::string& last,
                    const std::string& carry) {
    SetFieldValue(1, 1, date);
    SetFieldValue(1, 2, first);
    SetFieldValue(1, 3, last);
    SetFieldValue(1, 4, carry);
    SetFieldValue(2, 1, "X");  // the check blanks it before asking
  }

  // The check, and when it accepts the parameter screen the confirmation
  // the dialogue asks then: 0 when both accept.
  int16_t Check(KeyCode key = kKeyEnter, int16_t screen = 1) {
    const int16_t result = CheckParameters(screen, key, request);
    if (result != 0 || key == kKeyEsc || screen != 1) return result;
    return ConfirmSettlement(request) ? 0 : -1;
  }

  // The confirmation screen was run when its caption was drawn.
  bool ConfirmationAsked() const { return ScreenContains("CONFIRMEU LA LIQUIDACI\xE0"); }
  static bool ScreenContains(const std::string& text) {
    return settletest::ScreenText().find(text) != std::string::npos;
  }
  // Row 24 of a screen caught at a beep, without its blanks.
  static std::string ReasonRow(const std::string& screen) {
    size_t at = 0;
    for (int row = 1; row < kReasonRow && at != std::string::npos; ++row) at = screen.find('\n', at) + 1;
    return TrimBlanks(screen.substr(at, screen.find('\n', at) - at));
  }
};

TEST_F(ParameterCheckTest, EscapeIsAcceptedAtOnce) {
  uint64_t calls = DataFiles.engineCalls;
  EXPECT_EQ(Check(kKeyEsc), 0);
  EXPECT_EQ(DataFiles.engineCalls, calls) << "no concept lookup";
  EXPECT_EQ(beeps, 0);
  EXPECT_TRUE(request.SettlementDate.empty()) << "nothing is set";
  EXPECT_FALSE(ConfirmationAsked());
}

TEST_F(ParameterCheckTest, OtherScreensPassUnchecked) {
  uint64_t calls = DataFiles.engineCalls;
  EXPECT_EQ(Check(kKeyEnter, 2), 0);
  EXPECT_EQ(Check(kKeyEnter, 3), 0);
  EXPECT_EQ(DataFiles.engineCalls, calls);
  EXPECT_TRUE(request.SettlementDate.empty());
}

TEST_F(ParameterCheckTest, AnSOnTheConfirmationScreenAccepts) {
  VirtualPushKeys({'S', kKeyEnter});
  EXPECT_EQ(Check(), 0);
  EXPECT_EQ(Field(2, 1).Value, "S");
  EXPECT_EQ(request.SettlementDate, PackDigits("20231231"));
  EXPECT_EQ(request.LowerOwnerKey, PackDigits("00010001"));
  EXPECT_EQ(request.UpperOwnerKey, PackDigits("09999999"));
  EXPECT_EQ(request.CarryConcept, 3);
  EXPECT_EQ(beeps, 0);
}

TEST_F(ParameterCheckTest, NEnterAloneAndEscapeRefuse) {
  const std::vector<std::vector<KeyCode>> answers = {
      {'N', kKeyEnter}, {kKeyEnter}, {kKeyEsc}, {'S', kKeyEsc}};
  for (const auto& keys : answers) {
    VirtualPushKeys(keys);
    EXPECT_EQ(Check(), -1) << "answer key " << keys[0];
    EXPECT_NE(Field(2, 1).Value, "S");
  }
  EXPECT_EQ(beeps, 0) << "refused without a word";
  EXPECT_EQ(Console.starved, 0);
}

TEST_F(ParameterCheckTest, ALowerCaseSOrABlankAnswerRefuses) {
  // Forms whose options give these answers.
  Field(2, 1).Choices = "|S,SI|s,si";
  VirtualPushKeys({'s', kKeyEnter});
  EXPECT_EQ(Check(), -1);
  EXPECT_EQ(Field(2, 1).Value, "s");
  Field(2, 1).Choices = "| ,--|S,SI";
  VirtualPushKeys({kKeyEnter});
  EXPECT_EQ(Check(), -1);
  EXPECT_EQ(Field(2, 1).Value, " ");
  EXPECT_EQ(Console.starved, 0);
}

// Every refusal beeps once and says why on row 24, in the session's
// language, without waiting for a key; the operator stays on the screen.
TEST_F(ParameterCheckTest, EveryRefusalSaysWhyOnRowTwentyFour) {
  const struct {
    const char* language;
    const char* first;
    const char* last;
    const char* carry;
    const char* reason;
  } cases[] = {
      {"CAT", "1", "999", "12", "NO EXISTEIX EL CONCEPTE 12"},
      {"CAT", "1", "999", "0", "NO EXISTEIX EL CONCEPTE"},  // the number text of 0 is empty
      {"CAT", "1", "999", "1", "EL CONCEPTE QUOTA ORDIN\xB7RIA NO \x90S DE TIPUS R\xE3SSEC"},
      {"CAT", "50", "20", "3", "LA PRIMERA FINCA \x90S POSTERIOR A LA DARRERA"},
      {"CAT", "1500", "1009", "3", "LA PRIMERA FINCA \x90S POSTERIOR A LA DARRERA"},
      // A missing concept together with a reversed range: the concept's reason.
      {"CAT", "50", "20", "12", "NO EXISTEIX EL CONCEPTE 12"},
      {"SPA", "1", "999", "12", "NO EXISTE EL CONCEPTO 12"},
      {"SPA", "50", "20", "3", "LA PRIMERA FINCA ES POSTERIOR A LA \xE9LTIMA"},
  };
  for (const auto& c : cases) {
    Session.language = c.language;
    screensAtBeep.clear();
    Typed("31/12/2023", c.first, c.last, c.carry);
    VirtualPushKeys({'S', kKeyEnter});  // a confirmation that must not be asked
    EXPECT_EQ(Check(), -1) << c.reason;
    ASSERT_EQ(screensAtBeep.size(), 1u) << c.reason;
    EXPECT_EQ(ReasonRow(screensAtBeep[0]), c.reason) << screensAtBeep[0];
    EXPECT_FALSE(ConfirmationAsked()) << c.reason;
    EXPECT_EQ(Console.scripted.size(), 2u) << "no key was read: " << c.reason;
    EXPECT_EQ(Windows.WindowDepth, 0);
    // The parameters are set even when refused.
    EXPECT_EQ(request.CarryConcept, std::stoi(c.carry));
    EXPECT_EQ(request.LowerOwnerKey, PackCode(std::string(c.first) + ".1"));
    Console.scripted.clear();
    ClearReason();
  }
}

TEST_F(ParameterCheckTest, WithoutTheAdministratorsTaxIdentifierNoPassIsAsked) {
  Session.firmTaxId = "   ";
  VirtualPushKeys({'S', kKeyEnter});
  EXPECT_EQ(Check(), -1);
  ASSERT_EQ(screensAtBeep.size(), 1u);
  EXPECT_EQ(ReasonRow(screensAtBeep[0]), "FALTA EL NIF DE L'ADMINISTRADOR A Vork.ini [Administrador] NIF");
  EXPECT_FALSE(ConfirmationAsked());
}

// The confirmation's fields 2 to 6 say what the pass will do.
TEST_F(ParameterCheckTest, TheConfirmationSaysWhatThePassWillDo) {
  settletest::UseDemoFormats();
  FormScreen& s2 = Screen(2);
  s2.FieldCount = 6;
  s2.WindowBox[1] = 13, s2.WindowBox[2] = 2, s2.WindowBox[3] = 21, s2.WindowBox[4] = 79;
  for (int f = 2; f <= 6; ++f) {
    FormField& field = Field(2, f);
    field.Row = static_cast<int16_t>(f - 1), field.Column = 1, field.Width = 40;
    field.Flags = kFlagDisplayOnly;
    field.Label = "INFO " + std::to_string(f) + " : ";
    SetFieldValue(2, f, "");
  }
  Field(2, 1).Row = 7;
  for (int p : {1, 5, 999, 1000}) AddProperty(Property(p));
  Session.vatRates[0] = 21, Session.vatRates[1] = 0;
  Session.withholdingRates[0] = 15, Session.withholdingRates[1] = 7.5f;
  Session.withholdingRateSet[1] = false;
  Session.firmTaxId = "ES12345678Z ";
  VirtualTypeWhenWaited({'S', kKeyEnter});
  EXPECT_EQ(Check(), 0);
  auto value = [](int f) { return TrimBlanks(Field(2, f).Value); };
  EXPECT_EQ(value(2), "31/12/2023");
  EXPECT_EQ(value(3), "0001 A 0999 (3 AL FITXER)");
  EXPECT_EQ(value(4), "IVA 21 % \xFA RETENCI\xE0 15 %");
  EXPECT_EQ(value(5), "IVA 0 % \xFA RETENCI\xE0 NO DEFINIT") << "0 is a rate; a rate not given is said so";
  EXPECT_EQ(value(6), "ES12345678Z");
  Session.vatRates[1] = 12.5f, Session.withholdingRateSet[1] = true;
  VirtualTypeWhenWaited({'S', kKeyEnter});
  EXPECT_EQ(Check(), 0);
  EXPECT_EQ(value(5), "IVA 12,5 % \xFA RETENCI\xE0 7,5 %");
  ResetFormatPreferences();
}

TEST_F(ParameterCheckTest, ASingleProperty) {
  Typed("31/12/2023", "7", "7", "3");
  VirtualPushKeys({'S', kKeyEnter});
  EXPECT_EQ(Check(), 0);
  EXPECT_EQ(request.LowerOwnerKey, PackDigits("00070001"));
  EXPECT_EQ(request.UpperOwnerKey, PackDigits("00079999"));
}

TEST_F(ParameterCheckTest, AConceptNumberBeyondOneByteIsNotFound) {
  Typed("31/12/2023", "1", "999", "");
  SetFieldValue(1, 4, "");
  Field(1, 4).Width = 3;
  SetFieldValue(1, 4, "259");  // 259 would be concept 3 if cut to a byte
  EXPECT_EQ(Check(), -1);
  ASSERT_EQ(screensAtBeep.size(), 1u);
  EXPECT_EQ(ReasonRow(screensAtBeep[0]), "NO EXISTEIX EL CONCEPTE 259");
}

// The data folder's database replaced under the station (a copy moved into
// place while it sat at the parameter screen): the concept's look-up fails
// for that, not for a missing concept, and says so, with the folder and
// what to run; nothing is settled.
TEST_F(ParameterCheckTest, AReplacedDatabaseIsSaidAsWhatItIsNotAsAMissingConcept) {
  const std::string folder = std::filesystem::canonical(temp.path + "/DADES").string();
  const std::string db = folder + "/recman.db", copy = folder + "/copy.db";
  std::filesystem::copy_file(db, copy);
  ASSERT_EQ(rename(copy.c_str(), db.c_str()), 0);
  // Another station's write, as its change counter (the first bytes of the
  // folder's lock file) tells: the station reads afresh.
  std::fstream counter(folder + "/recman.lck", std::ios::in | std::ios::out | std::ios::binary);
  uint64_t changes = 0;
  counter.read(reinterpret_cast<char*>(&changes), sizeof changes);
  changes += 2;
  counter.seekp(0);
  counter.write(reinterpret_cast<const char*>(&changes), sizeof changes);
  counter.close();
  VirtualPushKey(kKeyEnter);
  EXPECT_EQ(Check(), -1);
  ASSERT_EQ(screensAtBeep.size(), 1u);
  const std::string& shown = screensAtBeep[0];
  EXPECT_EQ(shown.find("NO EXISTEIX EL CONCEPTE"), std::string::npos) << shown;
  EXPECT_NE(shown.find("LA CARPETA DE DADES " + folder), std::string::npos) << shown;
  EXPECT_NE(shown.find("recutil check"), std::string::npos) << shown;
  EXPECT_NE(shown.find("LIQUIDAT CAP FINCA."), std::string::npos) << shown;
  EXPECT_NE(shown.find("replaced or deleted"), std::string::npos) << shown;
  EXPECT_FALSE(ConfirmationAsked());
}

TEST_F(ParameterCheckTest, FourDigitPropertiesMakeTheirOwnKeys) {
  Typed("31/12/2023", "1009", "9999", "3");
  VirtualPushKeys({'S', kKeyEnter});
  EXPECT_EQ(Check(), 0);
  EXPECT_EQ(request.LowerOwnerKey, PackDigits("10090001"));
  EXPECT_EQ(request.UpperOwnerKey, PackDigits("99999999"));
}

// ---- The whole parameter screen, with its browse lists ------------------------

class ParameterScreenTest : public ParameterCheckTest {
 protected:
  void SetUp() override {
    ParameterCheckTest::SetUp();
    Screen(1).ScreenKeys = "d,1b,4800,5000,4900,5100,3e00";
    Screen(1).WindowBox[1] = 4, Screen(1).WindowBox[2] = 2, Screen(1).WindowBox[3] = 14;
    Screen(1).WindowBox[4] = 70;
    Field(1, 2).Lookup = Field(1, 3).Lookup = 1;
    Field(1, 4).Lookup = 2;
    Field(1, 4).InfoWidth = 22;
    CreateBrowseTables(2);
    DefineBrowse(1, kFileProperties, "_FINQUES_");
    DefineBrowse(2, kFileConcepts, "_CONCEPTES_");
    AddConcept(10, 0, "DESPESES BANC\xB7RIES");
    for (int p : {12, 1009, 1500}) AddProperty(Property(p));
  }
  static void DefineBrowse(int n, int16_t file, const std::string& title) {
    BrowseDefinition& b = Browse(n);
    b.BrowseFile = file;
    b.BrowseBox[0] = 6, b.BrowseBox[1] = 20, b.BrowseBox[2] = 20, b.BrowseBox[3] = 70;
    b.BrowseTitle = title;
  }
  // The parameter screen and the confirmation after it, as the dialogue
  // asks them.
  KeyCode RunParameterScreen() { return RequestSettlement(request); }
};

TEST_F(ParameterScreenTest, AFourDigitPropertyPickedIsStoredWhole) {
  // Field 2: F4, the second property (1009); field 3: F4, the third (1500).
  VirtualPushKeys({kKeyEnter, kKeyF4, kKeyDown, kKeyEnter, kKeyF4, kKeyDown, kKeyDown, kKeyEnter});
  VirtualPushKeys({kKeyEnter, 'S', kKeyEnter});  // the concept 3, the confirmation
  EXPECT_EQ(RunParameterScreen(), kKeyEnter) << settletest::ScreenText();
  EXPECT_EQ(Field(1, 2).Value, "1009 ");
  EXPECT_EQ(Field(1, 3).Value, "1500 ");
  EXPECT_EQ(request.LowerOwnerKey, PackDigits("10090001"));
  EXPECT_EQ(request.UpperOwnerKey, PackDigits("15009999"));
  EXPECT_EQ(beeps, 0);
  EXPECT_TRUE(Console.scripted.empty());
}

TEST_F(ParameterScreenTest, APickedConceptTheFieldRefusesIsEditedAgainWithItsReason) {
  // On the concept field: F4, the third concept (1, 3, 10; 10 is beyond
  // the field's 0 to 8): refused, and the field is edited again, never
  // confirmed.
  VirtualPushKeys({kKeyPgDn, kKeyF4, kKeyDown, kKeyDown, kKeyEnter});
  // The operator sees 10 in the field: Enter is refused again; he blanks
  // it and types 3.
  VirtualPushKeys({kKeyEnter, kKeyCtrlY, '3', kKeyEnter, 'S', kKeyEnter});
  EXPECT_EQ(RunParameterScreen(), kKeyEnter) << settletest::ScreenText();
  ASSERT_EQ(screensAtBeep.size(), 2u);
  for (const std::string& screen : screensAtBeep) {
    EXPECT_EQ(ReasonRow(screen), "EL CONCEPTE HA DE SER DEL 0 AL 8");
    EXPECT_EQ(screen.find("CONFIRMEU"), std::string::npos) << "no confirmation before the refusal";
  }
  EXPECT_NE(screensAtBeep[1].find("CONCEPTE :10"), std::string::npos) << screensAtBeep[1];
  EXPECT_EQ(Field(1, 4).Value, "3 ");
  EXPECT_EQ(request.CarryConcept, 3);
  EXPECT_EQ(ReasonRow(settletest::ScreenText()), "") << "the next key took the reason away";
  EXPECT_TRUE(Console.scripted.empty());
}

}  // namespace
