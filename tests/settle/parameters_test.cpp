// parameters_test.cpp - the check of the parameter screen on the virtual
// console against a real concept file: the parameters it sets, the concept
// messages, the silent refusal of a reversed range, and the confirmation
// screen whose answer must be exactly "S".
#include "screen/form_driver.h"
#include "settle_test_support.h"

namespace {

using settletest::SettleTest;

class ParameterCheckTest : public SettleTest {
 protected:
  void SetUp() override {
    SettleTest::SetUp();
    AddConcept(1, 2, "QUOTA ORDIN\xB7RIA");
    SettlementDate.clear();
    LowerOwnerKey.clear();
    UpperOwnerKey.clear();
    CarryConcept = 0;
    // The demo form's two screens.
    CreateFormTables(2, 4);
    FormScreen& s1 = Screen(1);
    s1.ScreenKeys = "d,1b,4800,5000";
    s1.FieldCount = 4;
    const struct {
      int row;
      const char* label;
      int width;
      int type;
    } fields[] = {{2, "DATA :", 10, kFieldDate},
                  {4, "DE LA FINCA :", 4, kFieldAmount},
                  {5, "FINS A LA FINCA :", 4, kFieldAmount},
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

  int16_t Check(KeyCode key = kKeyEnter, int16_t screen = 1) { return CheckParameters(screen, key); }

  // The confirmation screen was run when its caption was drawn.
  bool ConfirmationAsked() const { return ScreenContains("CONFIRMEU LA LIQUIDACI\xE0"); }
  static bool ScreenContains(const std::string& text) {
    return settletest::ScreenText().find(text) != std::string::npos;
  }
};

TEST_F(ParameterCheckTest, EscapeIsAcceptedAtOnce) {
  uint64_t calls = DataFiles.engineCalls;
  EXPECT_EQ(Check(kKeyEsc), 0);
  EXPECT_EQ(DataFiles.engineCalls, calls) << "no concept lookup";
  EXPECT_EQ(beeps, 0);
  EXPECT_TRUE(SettlementDate.empty()) << "nothing is set";
  EXPECT_FALSE(ConfirmationAsked());
}

TEST_F(ParameterCheckTest, OtherScreensPassUnchecked) {
  uint64_t calls = DataFiles.engineCalls;
  EXPECT_EQ(Check(kKeyEnter, 2), 0);
  EXPECT_EQ(Check(kKeyEnter, 3), 0);
  EXPECT_EQ(DataFiles.engineCalls, calls);
  EXPECT_TRUE(SettlementDate.empty());
}

TEST_F(ParameterCheckTest, AnSOnTheConfirmationScreenAccepts) {
  VirtualPushKeys({'S', kKeyEnter});
  EXPECT_EQ(Check(), 0);
  EXPECT_EQ(Field(2, 1).Value, "S");
  EXPECT_EQ(SettlementDate, PackDigits("20231231"));
  EXPECT_EQ(LowerOwnerKey, PackDigits("00010001"));
  EXPECT_EQ(UpperOwnerKey, PackDigits("09999999"));
  EXPECT_EQ(CarryConcept, 3);
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

TEST_F(ParameterCheckTest, AMissingConceptIsNamedInTheMessage) {
  Typed("31/12/2023", "1", "999", "12");
  VirtualPushKey(kKeyEnter);  // read by the message
  EXPECT_EQ(Check(), -1);
  ASSERT_EQ(screensAtBeep.size(), 1u);
  EXPECT_NE(screensAtBeep[0].find("NO EXISTEIX EL CONCEPTE 12"), std::string::npos) << screensAtBeep[0];
  // Centred on row 12: a one-line message is framed on rows 10 to 12.
  EXPECT_NE(screensAtBeep[0].find("NO EXISTEIX"), std::string::npos);
  size_t row = 0, at = screensAtBeep[0].find("NO EXISTEIX");
  for (size_t i = 0; i < at; ++i) row += screensAtBeep[0][i] == '\n';
  EXPECT_EQ(row + 1, 10u);  // the text row of a one-line box centred on row 12
  EXPECT_EQ(Windows.WindowDepth, 0) << "the message is gone";
  EXPECT_FALSE(ConfirmationAsked());
  EXPECT_EQ(CarryConcept, 12) << "set even when refused";
  EXPECT_EQ(Console.starved, 0);
}

TEST_F(ParameterCheckTest, ConceptZeroEndsTheMessageAfterItsFirstPart) {
  Typed("31/12/2023", "1", "999", "0");
  EXPECT_EQ(Check(), -1);
  ASSERT_EQ(screensAtBeep.size(), 1u);
  size_t at = screensAtBeep[0].find("NO EXISTEIX EL CONCEPTE");
  ASSERT_NE(at, std::string::npos);
  // The frame follows the text's last letter after the one blank of the
  // box's margin.
  std::string after = screensAtBeep[0].substr(at + 23, 2);
  EXPECT_EQ(after[0], ' ');
  EXPECT_NE(after[1], '0');
}

TEST_F(ParameterCheckTest, AConceptNotOfTheCarryOverTypeIsRefusedWithItsDescription) {
  Typed("31/12/2023", "1", "999", "1");
  EXPECT_EQ(Check(), -1);
  ASSERT_EQ(screensAtBeep.size(), 1u);
  EXPECT_NE(screensAtBeep[0].find("EL CONCEPTE QUOTA ORDIN\xB7RIA NO \x90S DE TIPUS R\xE3SSEC"),
            std::string::npos)
      << screensAtBeep[0];
  EXPECT_FALSE(ConfirmationAsked());
}

TEST_F(ParameterCheckTest, TheMessagesAreTranslated) {
  Session.language = "SPA";
  Typed("31/12/2023", "1", "999", "12");
  EXPECT_EQ(Check(), -1);
  ASSERT_EQ(screensAtBeep.size(), 1u);
  EXPECT_NE(screensAtBeep[0].find("NO EXISTE EL CONCEPTO 12"), std::string::npos) << screensAtBeep[0];
}

TEST_F(ParameterCheckTest, AReversedRangeIsRefusedSilently) {
  Typed("31/12/2023", "50", "20", "3");
  VirtualPushKeys({'S', kKeyEnter});
  EXPECT_EQ(Check(), -1);
  EXPECT_EQ(beeps, 0);
  EXPECT_FALSE(ConfirmationAsked());
  EXPECT_EQ(Console.scripted.size(), 2u) << "no key was read";
  EXPECT_EQ(LowerOwnerKey, PackDigits("00500001"));
  EXPECT_EQ(UpperOwnerKey, PackDigits("00209999"));
}

TEST_F(ParameterCheckTest, AMissingConceptWithAReversedRangeShowsOnlyTheConceptMessage) {
  Typed("31/12/2023", "50", "20", "12");
  EXPECT_EQ(Check(), -1);
  EXPECT_EQ(beeps, 1);
  EXPECT_FALSE(ConfirmationAsked());
}

TEST_F(ParameterCheckTest, ASingleProperty) {
  Typed("31/12/2023", "7", "7", "3");
  VirtualPushKeys({'S', kKeyEnter});
  EXPECT_EQ(Check(), 0);
  EXPECT_EQ(LowerOwnerKey, PackDigits("00070001"));
  EXPECT_EQ(UpperOwnerKey, PackDigits("00079999"));
}

TEST_F(ParameterCheckTest, AConceptNumberBeyondOneByteIsNotFound) {
  Typed("31/12/2023", "1", "999", "");
  SetFieldValue(1, 4, "");
  Field(1, 4).Width = 3;
  SetFieldValue(1, 4, "259");  // 259 would be concept 3 if cut to a byte
  EXPECT_EQ(Check(), -1);
  ASSERT_EQ(screensAtBeep.size(), 1u);
  EXPECT_NE(screensAtBeep[0].find("NO EXISTEIX EL CONCEPTE 259"), std::string::npos);
}

}  // namespace
