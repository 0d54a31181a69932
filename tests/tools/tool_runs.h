// tool_runs.h - what the tests of the tools share: a command line run with
// its exit code, standard output and standard error (tests/command_run.h),
// and the lines and comma-separated fields of an output.
#pragma once
#include <sstream>
#include <string>
#include <vector>

#include "tests/command_run.h"

namespace toolruns {

using commandrun::Result;
using commandrun::RunCommand;
using commandrun::RunCommandWithErrors;

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The fields of a CSV line (quotes taken away, a separator inside quotes
// kept).
inline std::vector<std::string> Split(const std::string& line, char separator = ',') {
  std::vector<std::string> fields;
  std::string field;
  bool quoted = false;
  for (char c : line) {
    if (c == '"') quoted = !quoted;
    else if (c == separator && !quoted) fields.push_back(field), field.clear();
    else field += c;
  }
  fields.push_back(field);
  return fields;
}

}  // namespace toolruns
