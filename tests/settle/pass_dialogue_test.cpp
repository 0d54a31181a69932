// pass_dialogue_test.cpp - what the operator sees and does while and after a
// settlement pass runs: the progress line on row 24, Escape between two
// properties, the keys typed meanwhile dropped.
#include <functional>

#include "settle_test_support.h"

namespace {

using settletest::SettleTest;

class PassDialogueTest : public SettleTest {
 protected:
  void Properties(int count) {
    for (int p = 1; p <= count; ++p) {
      AddProperty(Property(p).Fee(100).Last("20231130"));
      AddOwner(Owner(p, 1));
      AddCollection(p, 1, "20231201", 30, "C");
    }
  }
  bool Settled(int p) { return LastSettlement(p) == "20231231"; }
  // Runs `f` before every property's transaction, with the property's
  // place (1, 2, ...).
  static std::function<void(int)>& AtBegin() {
    static std::function<void(int)> f;
    return f;
  }
  static void CountBegins(SettlementOperation operation, int16_t) {
    static int begins = 0;
    if (operation == SettlementOperation::kBegin && AtBegin()) AtBegin()(++begins);
    if (!AtBegin()) begins = 0;
  }
  void TearDown() override {
    AtBegin() = nullptr;
    CountBegins(SettlementOperation::kFind, 0);
    Settlement.beforeRecordOperation = nullptr;
    SettleTest::TearDown();
  }
};

TEST_F(PassDialogueTest, RowTwentyFourShowsThePropertyAndHowFarThePassIs) {
  Properties(3);
  AddProperty(Property(1200).Fee(100).Last("20231130"));  // beyond the range
  ConsoleSetCursor(24, 1);
  ConsoleWrite("WHAT ROW 24 HELD");
  int64_t clock = 0;
  Platform.steady = [&] { return clock += kProgressRedrawMs; };  // every property redraws
  std::vector<std::string> rows;
  AtBegin() = [&](int) { rows.push_back(VirtualRowText(24)); };
  Settlement.beforeRecordOperation = CountBegins;
  SettlementPass(request);
  ASSERT_EQ(rows.size(), 3u);
  for (int p = 1; p <= 3; ++p) {
    std::string expected = " FINCA 000" + std::to_string(p) + " \xFA " + std::to_string(p) + " DE 3";
    EXPECT_EQ(rows[p - 1].substr(0, expected.size()), expected) << rows[p - 1];
    EXPECT_NE(rows[p - 1].find("ESC: ATURA LA LIQUIDACI\xE0 "), std::string::npos);
    EXPECT_EQ(rows[p - 1].size(), 80u);
  }
  EXPECT_EQ(VirtualRowText(24, 1, 16), "WHAT ROW 24 HELD") << "the row is given back after the pass";
  EXPECT_EQ(Windows.WindowDepth, 0);
}

TEST_F(PassDialogueTest, AFastPassRedrawsTheLineOnlyOnceAnInterval) {
  Properties(3);
  int64_t clock = 0;
  Platform.steady = [&] { return clock += kProgressRedrawMs / 2 + 1; };  // a redraw every other property
  std::vector<std::string> rows;
  AtBegin() = [&](int) { rows.push_back(VirtualRowText(24, 1, 20)); };
  Settlement.beforeRecordOperation = CountBegins;
  SettlementPass(request);
  EXPECT_EQ(rows, (std::vector<std::string>{" FINCA 0001 \xFA 1 DE 3", " FINCA 0001 \xFA 1 DE 3",
                                            " FINCA 0003 \xFA 3 DE 3"}));
}

TEST_F(PassDialogueTest, TheProgressIsInTheSessionsLanguage) {
  Session.language = "SPA";
  EXPECT_EQ(ProgressText(settletest::PropertyKey(123), 45, 999), "FINCA 0123 \xFA 45 DE 999");
  EXPECT_EQ(ProgressText(settletest::PropertyKey(123), 45, -1), "FINCA 0123 \xFA 45") << "a total not known";
}

TEST_F(PassDialogueTest, EscapeStopsThePassBetweenTwoPropertiesNeverInsideOne) {
  Properties(4);
  // Escape typed while property 2 is being settled, other keys around it.
  AtBegin() = [](int place) {
    if (place == 2) VirtualPushKeys({'7', kKeyAltX, kKeyEsc, kKeyEnter});
  };
  Settlement.beforeRecordOperation = CountBegins;
  bool calculatorOpened = false;
  static bool* opened = &calculatorOpened;
  Keyboard.calculator = [] {
    *opened = true;
    return std::string();
  };
  SettlementPass(request);
  EXPECT_TRUE(Settled(1));
  EXPECT_TRUE(Settled(2)) << "the property in progress is settled whole";
  EXPECT_FALSE(Settled(3));
  EXPECT_FALSE(Settled(4));
  EXPECT_EQ(CollectionsOf(3, 1), 1);
  ASSERT_EQ(Settlement.untouched.size(), 1u);
  EXPECT_EQ(UnpackDigits(Settlement.untouched[0].code), "0003");
  EXPECT_EQ(UnpackDigits(Settlement.untouched[0].lastCode), "0999");
  EXPECT_EQ(Settlement.untouched[0].reason, UntouchedReason::kStopped);
  EXPECT_EQ(UnpackDigits(Settlement.result.stoppedAt), "0003");
  EXPECT_EQ(Settlement.result.settled, 2);
  EXPECT_FALSE(calculatorOpened) << "no other key acts during a pass";
  EXPECT_TRUE(Console.scripted.empty()) << "and none is left for after it";
  EXPECT_FALSE(Keyboard.escapeTyped);
  EXPECT_EQ(Windows.WindowDepth, 0);
}

TEST_F(PassDialogueTest, KeysOtherThanEscapeNeitherStopThePassNorOutliveIt) {
  Properties(3);
  AtBegin() = [](int) { VirtualPushKeys({'S', kKeyEnter, kKeyF1, kKeyDown}); };
  Settlement.beforeRecordOperation = CountBegins;
  Keyboard.TypeAhead = "123";
  SettlementPass(request);
  for (int p = 1; p <= 3; ++p) EXPECT_TRUE(Settled(p)) << p;
  EXPECT_TRUE(Settlement.untouched.empty());
  EXPECT_TRUE(Console.scripted.empty());
  EXPECT_TRUE(Keyboard.TypeAhead.empty());
}

TEST_F(PassDialogueTest, EscapeTypedBeforeThePassStopsItBeforeTheFirstProperty) {
  Properties(2);
  VirtualPushKey(kKeyEsc);
  SettlementPass(request);
  EXPECT_FALSE(Settled(1));
  EXPECT_FALSE(Settled(2));
  ASSERT_EQ(Settlement.untouched.size(), 1u);
  EXPECT_EQ(UnpackDigits(Settlement.untouched[0].code), "0001");
}

// ---- The result ----------------------------------------------------------------------

class PassResultTest : public PassDialogueTest {
 protected:
  void SetUp() override {
    PassDialogueTest::SetUp();
    settletest::UseDemoFormats();
  }
  void TearDown() override {
    ResetFormatPreferences();
    PassDialogueTest::TearDown();
  }
  // The value of a result line whose label starts with `label`.
  std::string Value(const std::string& label) {
    for (const std::string& line : PassResultLines(request))
      if (line.compare(0, label.size(), label) == 0) return TrimBlanks(line.substr(label.size()));
    return "(no line " + label + ")";
  }
};

TEST_F(PassResultTest, TheResultSaysWhatThePassDidAndItsNumberInTheJournal) {
  request.IvaRate[0] = 21;
  request.RetRate[0] = 15;
  // Property 1: two owners, two months of 1000 each: 4000, VAT 840, withheld
  // 600; a collection of each owner and two payments.  Property 2: one
  // owner, one month of 250: 250, VAT 52.5 -> 52 (half to even), 37.5 -> 38.
  AddProperty(Property(1).Fee(1000).Last("20231031").TaxId("ESH12345678"));
  AddOwner(Owner(1, 1).Shares({500000}));
  AddOwner(Owner(1, 2).Shares({500000}));
  AddCollection(1, 1, "20231201", 100, "C");
  AddCollection(1, 2, "20231202", 100, "I");
  AddGroupPayment(1, "20231203", 5000, 1);
  AddOwnerPayment(1, "20231204", 700, 2);
  AddProperty(Property(2).Fee(250).Last("20231130").TaxId("ESH87654321"));
  AddOwner(Owner(2, 1));
  AddProperty(Property(3).Last(""));  // left untouched
  SettlementPass(request);
  const std::vector<std::string> lines = PassResultLines(request);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], "LIQUIDACI\xE0 FETA");
  EXPECT_EQ(Value("N\xE9MERO DE LIQUIDACI\xE0"), "1");
  EXPECT_EQ(Value("DATA DE LIQUIDACI\xE0"), "31/12/2023");
  EXPECT_EQ(Value("FINQUES "), "0001 A 0999");
  EXPECT_EQ(Value("FINQUES LIQUIDADES"), "2");
  EXPECT_EQ(Value("PROPIETARIS AMB SALDO"), "3");
  EXPECT_EQ(Value("HONORARIS"), "42,50");   // 4000 + 250 cents
  EXPECT_EQ(Value("IVA"), "8,92");          // 840 + 52
  EXPECT_EQ(Value("RETENCI\xE0"), "6,38");  // 600 + 38
  EXPECT_EQ(Value("TOTAL HONORARIS"), "45,04");
  EXPECT_EQ(Value("COBRAMENTS LIQUIDATS"), "2");
  EXPECT_EQ(Value("PAGAMENTS LIQUIDATS"), "2");
  EXPECT_NE(settletest::ResultText(request).find("0003  SENSE DATA"), std::string::npos);
  // The next pass has the next number.
  AddProperty(Property(4).Fee(10).Last("20231130"));
  AddOwner(Owner(4, 1));
  SettlementPass(request);
  EXPECT_EQ(Value("N\xE9MERO DE LIQUIDACI\xE0"), "2");
  EXPECT_EQ(Value("FINQUES LIQUIDADES"), "3");  // 1 and 2 again, with no months to charge
  EXPECT_EQ(Value("HONORARIS"), "0,10");
}

TEST_F(PassResultTest, APassThatSettledNothingSaysSoAndHasNoNumber) {
  AddProperty(Property(700).Fee(10).Last("20231130"));
  SetParameters("20231231", 500, 600, 3);
  SettlementPass(request);
  EXPECT_EQ(PassResultLines(request)[0], "LIQUIDACI\xE0 FETA");
  EXPECT_EQ(Value("N\xE9MERO DE LIQUIDACI\xE0"), "CAP: NO S'HA LIQUIDAT CAP FINCA");
  EXPECT_EQ(Value("FINQUES "), "0500 A 0600");
  EXPECT_EQ(Value("FINQUES LIQUIDADES"), "0");
  EXPECT_EQ(Value("TOTAL HONORARIS"), "0,00");
  EXPECT_EQ(LastSettlement(700), "20231130");
}

TEST_F(PassResultTest, AStoppedPassSaysWhereInTheSessionsLanguage) {
  Session.language = "SPA";
  Properties(3);
  AtBegin() = [](int place) {
    if (place == 1) VirtualPushKey(kKeyEsc);
  };
  Settlement.beforeRecordOperation = CountBegins;
  SettlementPass(request);
  const std::string result = settletest::ResultText(request);
  EXPECT_EQ(PassResultLines(request)[0], "LIQUIDACI\xE0N DETENIDA EN LA FINCA 0002") << result;
  EXPECT_NE(result.find("N\xE9MERO DE LIQUIDACI\xE0N"), std::string::npos) << result;
  EXPECT_NE(result.find("FINCAS LIQUIDADAS"), std::string::npos) << result;
}

}  // namespace
