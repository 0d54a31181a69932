// Tests of the start-up steps: the parameter screen's defaults and the tax
// percentages.
#include <filesystem>
#include <string>
#include <vector>

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

// The session's date and the widths of the parameter screen's four fields
// (date, first and last property, carry-over concept); the defaults the
// first fields get, in order.
struct DefaultsCase {
  const char* what;
  std::string sessionDate;
  int widths[4];
  std::vector<std::string> values;
};

TEST_F(StartupTest, DefaultsFillTheParameterFieldsAtTheirWidths) {
  const DefaultsCase cases[] = {
      {"the fields' own widths",
       PackDigits("20261231"),
       {10, 5, 5, 2},
       {"311226    ", "1    ", "9999 ", "3 "}},
      {"cut to narrow fields", PackDigits("20261231"), {4, 3, 2, 1}, {"3112", "1  ", "99", "3"}},
      {"an unset session date leaves the date field blank",
       std::string(4, '\x80'),
       {10, 4, 4, 2},
       {std::string(10, ' ')}},
  };
  for (const DefaultsCase& c : cases) {
    Session.date = c.sessionDate;
    ParameterScreen(c.widths[0], c.widths[1], c.widths[2], c.widths[3]);
    GiveParameterDefaults();
    for (size_t f = 0; f < c.values.size(); ++f)
      EXPECT_EQ(Field(1, static_cast<int>(f + 1)).Value, c.values[f]) << c.what << ", field " << f + 1;
  }
}

TEST_F(StartupTest, DefaultsNeverReachBeyondAShortParameterScreen) {
  CreateFormTables(1, 2);
  Field(1, 1).Width = 3;
  GiveParameterDefaults();
  EXPECT_EQ(Field(1, 2).Value, "");
  EXPECT_EQ(Field(1, 1).Value.size(), 3u);
}

// What each settings file gives: the four rates (Iva0, Iva1, Ret0, Ret1),
// which of them are rates at all, or the problem that stops the program.
struct RatesCase {
  const char* rule;
  const char* contents;  // nullptr: no settings file
  float rates[4];
  bool set[4];
  const char* problem;  // "" when none
};

const RatesCase kRatesCases[] = {
    {"each rate from the Honoraris key of its section",
     "[Iva0]\r\nHonoraris=16\r\n[Iva1]\r\nHonoraris= 7.5 ; reduced\r\n[Ret0]\r\nHonoraris=15\r\n[Ret1]\r\n"
     "Honoraris=7\r\n",
     {16, 7.5f, 15, 7},
     {true, true, true, true},
     ""},
    {"a section or key that is not there gives no rate; 0 is a rate",
     "[Iva0]\r\nHonoraris=0\r\n[Iva1]\r\nAltres=9\r\n",
     {0, 0, 0, 0},
     {true, false, false, false},
     ""},
    {"a value that is not a number is no rate",
     "[Iva0]\r\nHonoraris=abc\r\n[Iva1]\r\nHonoraris=\r\n[Ret0]\r\nHonoraris=21,5\r\n[Ret1]\r\nHonoraris=-"
     "\r\n",
     {0, 0, 0, 0},
     {false, false, false, false},
     ""},
    {"no settings file, no rates", nullptr, {0, 0, 0, 0}, {false, false, false, false}, ""},
    {"the bounds themselves are percentages",
     "[Iva0]\r\nHonoraris=100\r\n[Ret0]\r\nHonoraris=0.0\r\n",
     {100, 0, 0, 0},
     {true, false, true, false},
     ""},
    {"a negative percentage stops the program",
     "[Iva0]\r\nHonoraris=21\r\n[Ret1]\r\nHonoraris=-21\r\n",
     {21, 0, 0, 0},
     {true, false, false, false},
     "[Ret1] Honoraris=-21: EL PERCENTATGE HA DE SER ENTRE 0 I 100"},
    {"a huge percentage stops the program",
     "[Iva0]\r\nHonoraris=99999999999999999999\r\n",
     {0, 0, 0, 0},
     {false, false, false, false},
     "[Iva0] Honoraris=99999999999999999999: EL PERCENTATGE HA DE SER ENTRE 0 I 100"},
};

TEST_F(StartupTest, EachSettingsFileGivesItsRatesOrItsProblem) {
  for (const RatesCase& c : kRatesCases) {
    std::filesystem::remove(temp.Dir() + "Vork.ini");
    if (c.contents) temp.Write("Vork.ini", c.contents);
    SessionState& s = Session;
    s.vatRates[0] = s.vatRates[1] = s.withholdingRates[0] = s.withholdingRates[1] = -1;
    s.vatRateSet[0] = s.vatRateSet[1] = s.withholdingRateSet[0] = s.withholdingRateSet[1] = true;
    const std::string problem = ReadTaxRates();
    const float rates[4] = {s.vatRates[0], s.vatRates[1], s.withholdingRates[0], s.withholdingRates[1]};
    const bool set[4] = {s.vatRateSet[0], s.vatRateSet[1], s.withholdingRateSet[0], s.withholdingRateSet[1]};
    for (int i = 0; i < 4; ++i) {
      EXPECT_FLOAT_EQ(rates[i], c.rates[i]) << c.rule << ", rate " << i;
      EXPECT_EQ(set[i], c.set[i]) << c.rule << ", rate " << i;
    }
    if (*c.problem == '\0') {
      EXPECT_EQ(problem, "") << c.rule;
    } else {
      EXPECT_NE(problem.find(c.problem), std::string::npos) << c.rule << ": " << problem;
      EXPECT_NE(problem.find("Vork.ini"), std::string::npos) << c.rule << ": " << problem;
    }
  }
}

}  // namespace
