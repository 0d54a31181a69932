// The demo form on the virtual console: the fields are wide enough for what
// the operator types, and the one-character confirmation can be answered.
#include <filesystem>

#include "app/form_reader.h"
#include "app/program.h"
#include "app/session_setup.h"
#include "data/data.h"
#include "input/dates.h"
#include "input/keys.h"
#include "platform/console.h"
#include "screen/form.h"
#include "screen/form_driver.h"
#include "screen/hooks.h"
#include "screen/windows.h"
#include "settle/hooks.h"
#include "tests/session/session_test_support.h"

namespace {

constexpr KeyCode kEnter = 13, kEscape = 27;

class DemoScreensTest : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    UseDemoSuiteCopy();
    Platform.clock = [] { return LocalTime{2026, 6, 15, 10, 0, 0, 0}; };
    ConsoleStartVirtual();
    ResetWindows();
    Keyboard = KeyboardState{};
    InstallScreenHooks();  // as the program does at start
    InstallSettlementHooks();
    ResetFormatPreferences();
    SetupSession();
    std::string problem;
    ASSERT_TRUE(ReadFormFile(Session.root + "FORMS\\TARPELIX.JPN", problem)) << problem;
    GiveParameterDefaults();
  }
  void TearDown() override {
    ResetWindows();
    ConsoleStop();
    Platform.clock = nullptr;
    Form = FormTables{};
    Keyboard = KeyboardState{};
    ScreenExitCheck = nullptr;
    FormLookups = FormLookupHooks{};
    DataMessages = DataMessageHooks{};
    AppTest::TearDown();
  }
  KeyCode Run(int screenNumber) {
    int16_t screen = static_cast<int16_t>(screenNumber), pgUp = 0, pgDn = 0;
    KeyCode key = 0;
    RunFormScreen(screen, pgUp, pgDn, key);
    return key;
  }
  std::string Answer(const std::vector<int>& keys) {
    SetFieldValue(2, 1, " ");
    VirtualPushKeys(keys);
    Run(2);
    return Field(2, 1).Value;
  }
};

TEST_F(DemoScreensTest, ParameterScreenShowsItsDefaults) {
  VirtualPushKeys({kEscape});
  EXPECT_EQ(Run(1), kEscape);
  EXPECT_EQ(Field(1, 1).Value, "311226     ");
  EXPECT_EQ(Field(1, 2).Value, "1    ");
  EXPECT_EQ(Field(1, 3).Value, "9999 ");
  EXPECT_EQ(Field(1, 4).Value, "3 ");
  EXPECT_EQ(Console.starved, 0);
}

TEST_F(DemoScreensTest, FullDateAndFourDigitPropertiesCanBeTyped) {
  VirtualPushKeys({25});  // Ctrl+Y blanks the field
  VirtualPushText("31/12/2026");
  VirtualPushKeys({kEnter, 25});
  VirtualPushText("1500");
  VirtualPushKeys({kEnter, 25});
  VirtualPushText("45678");  // the fifth digit has no place
  VirtualPushKeys({kEscape, kEscape});
  Run(1);
  EXPECT_EQ(Field(1, 1).Value.substr(0, 10), "31/12/2026");
  EXPECT_EQ(Field(1, 2).Value, "1500 ");
  EXPECT_EQ(Field(1, 3).Value, "9999 ");  // left with Escape: not stored
}

TEST_F(DemoScreensTest, ConfirmationIsAnsweredWithTheLetterS) {
  EXPECT_EQ(Answer({'S', kEnter}), "S");
  EXPECT_EQ(Answer({'s', kEnter}), "S");  // the option search ignores case
  EXPECT_EQ(Answer({'N', kEnter}), "N");
  EXPECT_EQ(Console.starved, 0);
}

TEST_F(DemoScreensTest, BareEnterOnTheConfirmationDoesNotConfirm) {
  EXPECT_NE(Answer({kEnter}), "S");
  EXPECT_NE(Answer({kEscape}), "S");
  EXPECT_EQ(Console.starved, 0);
}

}  // namespace
