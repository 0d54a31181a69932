// Tests of the start-up steps: the parameter screen's defaults and the tax
// percentages.
#include "app/program.h"
#include "input/dates.h"
#include "screen/form.h"
#include "settle/settlement.h"
#include "tests/session/session_test_support.h"

namespace {

class StartupTest : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    Platform.clock = [] { return LocalTime{2026, 6, 15, 10, 0, 0, 0}; };
    Session.root = temp.Dir();
  }
  void TearDown() override {
    Platform.clock = nullptr;
    Form = FormTables{};
    AppTest::TearDown();
  }
  void ParameterScreen(int dateWidth, int firstWidth, int lastWidth, int conceptWidth) {
    CreateFormTables(2, 4);
    Screen(1).FieldCount = 4;
    const int widths[] = {dateWidth, firstWidth, lastWidth, conceptWidth};
    for (int f = 1; f <= 4; ++f) {
      Field(1, f).Width = static_cast<int16_t>(widths[f - 1]);
      Field(1, f).Value = std::string(widths[f - 1], ' ');
    }
  }
};

TEST_F(StartupTest, DefaultsFillTheParameterFieldsAtTheirWidths) {
  Session.date = PackDigits("20261231");
  ParameterScreen(10, 5, 5, 2);
  GiveParameterDefaults();
  EXPECT_EQ(Field(1, 1).Value, "311226    ");
  EXPECT_EQ(Field(1, 2).Value, "1    ");
  EXPECT_EQ(Field(1, 3).Value, "9999 ");
  EXPECT_EQ(Field(1, 4).Value, "3 ");
}

TEST_F(StartupTest, DefaultsAreCutToNarrowFields) {
  Session.date = PackDigits("20261231");
  ParameterScreen(4, 3, 2, 1);
  GiveParameterDefaults();
  EXPECT_EQ(Field(1, 1).Value, "3112");
  EXPECT_EQ(Field(1, 2).Value, "1  ");
  EXPECT_EQ(Field(1, 3).Value, "99");
  EXPECT_EQ(Field(1, 4).Value, "3");
}

TEST_F(StartupTest, UnsetSessionDateLeavesTheDateFieldBlank) {
  Session.date = std::string(4, '\x80');
  ParameterScreen(10, 4, 4, 2);
  GiveParameterDefaults();
  EXPECT_EQ(Field(1, 1).Value, std::string(10, ' '));
}

TEST_F(StartupTest, DefaultsNeverReachBeyondAShortParameterScreen) {
  CreateFormTables(1, 2);
  Field(1, 1).Width = 3;
  GiveParameterDefaults();
  EXPECT_EQ(Field(1, 2).Value, "");
  EXPECT_EQ(Field(1, 1).Value.size(), 3u);
}

TEST_F(StartupTest, TaxRatesComeFromTheHonorarisKeyOfEachSection) {
  temp.Write("Vork.ini",
             "[Iva0]\r\nHonoraris=16\r\n[Iva1]\r\nHonoraris= 7.5 ; reduced\r\n"
             "[Ret1]\r\nHonoraris=abc\r\nAltres=9\r\n");
  IvaRate[0] = IvaRate[1] = RetRate[0] = RetRate[1] = -1;
  ReadTaxRates();
  EXPECT_FLOAT_EQ(IvaRate[0], 16);
  EXPECT_FLOAT_EQ(IvaRate[1], 7.5);
  EXPECT_FLOAT_EQ(RetRate[0], 0);  // no section Ret0
  EXPECT_FLOAT_EQ(RetRate[1], 0);  // not a number
}

TEST_F(StartupTest, MissingSettingsFileGivesZeroRates) {
  IvaRate[0] = RetRate[1] = 5;
  ReadTaxRates();
  EXPECT_FLOAT_EQ(IvaRate[0], 0);
  EXPECT_FLOAT_EQ(RetRate[1], 0);
}

}  // namespace
