// session_test_support.h - a fresh temporary directory per test and a
// replaceable environment, for the tests of the session and the start-up.
#pragma once
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>

#include "platform/platform.h"
#include "session/language.h"
#include "session/session.h"
#include "tests/temp_dir.h"

// Base fixture: a temp directory, an empty environment map in place of the
// process environment, the session cleared and the language file name
// forgotten; the current directory is restored afterwards.
class AppTest : public ::testing::Test {
 protected:
  TempDir temp{"tarpelix-app-"};
  std::map<std::string, std::string> environment;
  std::string savedDirectory;

  void SetUp() override {
    ASSERT_FALSE(temp.path.empty());
    Platform.environment = &environment;
    Session = SessionState{};
    Language = LanguageState{};
    ModuleName = "TARPELIX";
    savedDirectory = CurrentDirectory();
  }
  // A copy of the demonstration suite as the suite root, so that nothing
  // the program does can touch the sources; KALROOT and KALTMP name it.
  void UseDemoSuiteCopy() {
    std::filesystem::copy(
        TARPELIX_SOURCE_DIR "/demo", temp.path,
        std::filesystem::copy_options::recursive | std::filesystem::copy_options::overwrite_existing);
    environment["KALROOT"] = temp.Dir();
    environment["KALTMP"] = temp.path + "/TMP/";
  }
  void TearDown() override {
    Platform.environment = nullptr;
    ChangeDirectory(savedDirectory);
    Session = SessionState{};
    Language = LanguageState{};
  }
};
