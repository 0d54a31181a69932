// fuzz_support.h - one temporary directory per fuzzing process, removed at
// exit, where each input is written as the file under test.
#pragma once
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/platform.h"

inline const std::string& FuzzDirectory() {
  static const std::string path = [] {
    char name[] = "/tmp/tarpelix-fuzz-XXXXXX";
    std::string made = mkdtemp(name) ? name : "/tmp";
    static std::string removeAtExit;
    removeAtExit = made;
    atexit([] {
      std::error_code ignored;
      if (removeAtExit != "/tmp") std::filesystem::remove_all(removeAtExit, ignored);
    });
    return made + "/";
  }();
  return path;
}

inline std::string WriteFuzzFile(const std::string& relative, const uint8_t* data, size_t size) {
  const std::string path = FuzzDirectory() + relative;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  WriteWholeFile(path, std::string(reinterpret_cast<const char*>(data), size));
  return path;
}
