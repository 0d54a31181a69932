// screen_test_support.h - the one set-up of the tests that draw on the
// virtual console: a temporary suite root that is also the station's
// folder, a Catalan session with five distinct colour pairs, no windows, an
// empty keyboard and the default number and date preferences; after each
// test the windows, the keyboard and the platform hooks are put back, so
// that no test sees what another left behind.
//
// TakeSnapshot, installed as the Alt+X hook by the tests that want it,
// keeps what the screen shows at the moment the scripted Alt+X is read:
// the way to look at a pop-up while it is open.
#pragma once
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "input/dates.h"
#include "input/keys.h"
#include "platform/console.h"
#include "platform/platform.h"
#include "screen/windows.h"
#include "session/session.h"
#include "tests/screen_capture.h"
#include "tests/temp_dir.h"

struct Snapshot {
  std::vector<std::string> rows;  // rows[r] is screen row r, from 1; rows[0] unused
  std::vector<std::vector<unsigned char>> attributes;
  int depth = 0;  // the windows open
};
inline std::vector<Snapshot> snapshots;

inline std::string TakeSnapshot() {
  ScreenCapture screen = CaptureScreen();
  snapshots.push_back(Snapshot{std::move(screen.rows), std::move(screen.attributes), Windows.WindowDepth});
  return "";
}

class ScreenTest : public ::testing::Test {
 protected:
  TempDir temp{"screen_test_"};
  const std::string dir = temp.path;
  std::map<std::string, std::string> environment;

  void SetUp() override {
    ASSERT_FALSE(dir.empty());
    environment["KALROOT"] = dir + "/";
    environment["KALTMP"] = dir + "/";
    Platform.environment = &environment;
    Session = SessionState{};
    Session.root = dir + "/";
    Session.tempDir = dir + "/";
    Session.terminalDir = dir + "/";
    Session.language = "CAT";
    for (int i = 0; i < 5; ++i) {
      Session.foreground[i] = static_cast<int16_t>(i + 1);
      Session.background[i] = static_cast<int16_t>(i + 6);
    }
    ConsoleStartVirtual();
    ResetWindows();
    ResetFormatPreferences();
    Keyboard = KeyboardState{};
    snapshots.clear();
  }

  // Covers the screen with cells each different from its neighbours, in
  // character and colour, and returns them: what a window or pop-up must
  // put back exactly when it goes.
  std::vector<ConsoleCell> FillPattern() {
    for (int r = 1; r <= 25; ++r)
      for (int c = 1; c <= 80; ++c)
        ConsolePutCell(r, c,
                       ConsoleCell{static_cast<unsigned char>('A' + (r * 3 + c) % 26),
                                   static_cast<unsigned char>((r * 7 + c * 13) % 256)});
    return Console.cells;
  }

  void TearDown() override {
    ResetWindows();
    Keyboard = KeyboardState{};
    Platform = PlatformHooks{};
  }
};
