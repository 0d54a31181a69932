// app_test_support.h - a fresh temporary directory per test and a
// replaceable environment, for the start-up tests.
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

// A directory made with mkdtemp and removed with everything in it.
struct TempDir {
  std::string path;  // without a trailing separator
  TempDir() {
    char name[] = "/tmp/tarpelix-app-XXXXXX";
    if (mkdtemp(name)) path = name;
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path.empty()) std::filesystem::remove_all(path, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  // The directory as the program writes directories, with a final "/".
  std::string Dir() const { return path + "/"; }
  std::string Write(const std::string& relative, const std::string& contents) const {
    std::filesystem::path file = std::filesystem::path(path) / relative;
    std::filesystem::create_directories(file.parent_path());
    EXPECT_TRUE(WriteWholeFile(file.string(), contents)) << file;
    return file.string();
  }
  void MakeFolder(const std::string& relative) const {
    std::filesystem::create_directories(std::filesystem::path(path) / relative);
  }
  bool Exists(const std::string& relative) const {
    return std::filesystem::exists(std::filesystem::path(path) / relative);
  }
};

// Base fixture: a temp directory, an empty environment map in place of the
// process environment, the session cleared and the language file name
// forgotten; the current directory is restored afterwards.
class AppTest : public ::testing::Test {
 protected:
  TempDir temp;
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
  void TearDown() override {
    Platform.environment = nullptr;
    ChangeDirectory(savedDirectory);
    Session = SessionState{};
    Language = LanguageState{};
  }
};
