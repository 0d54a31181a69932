// temp_dir.h - the one temporary folder helper of the tests: a fresh folder
// under /tmp for a test (or a fixture), removed with everything in it when
// it goes.  It needs nothing of the program, so the tests of every folder,
// the record manager's included, can use it.
#pragma once
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

struct TempDir {
  // The folder's host path, without a final "/"; empty, and the test failed,
  // when none could be made.
  std::string path;

  // A folder /tmp/<prefix>XXXXXX.
  explicit TempDir(const std::string& prefix = "tarpelix-") {
    std::string pattern = "/tmp/" + prefix + "XXXXXX";
    if (mkdtemp(pattern.data())) path = pattern;
    else ADD_FAILURE() << "no temporary folder " << pattern << ": " << std::strerror(errno);
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path.empty()) std::filesystem::remove_all(path, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The folder as the program writes folders, with a final "/".
  std::string Dir() const { return path + "/"; }
  // The host path of `relative` inside the folder.
  std::string File(const std::string& relative) const { return path + "/" + relative; }
  // Writes `contents` to `relative` (its folders made first); its host path.
  std::string Write(const std::string& relative, const std::string& contents) const {
    std::filesystem::path file = std::filesystem::path(path) / relative;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << contents;
    out.close();
    EXPECT_FALSE(out.fail()) << file;
    return file.string();
  }
  void MakeFolder(const std::string& relative) const {
    std::filesystem::create_directories(std::filesystem::path(path) / relative);
  }
  bool Exists(const std::string& relative) const {
    return std::filesystem::exists(std::filesystem::path(path) / relative);
  }
};
