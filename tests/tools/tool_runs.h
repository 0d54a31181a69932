// tool_runs.h - what the tests of the tools share: a command line run with
// its exit code, standard output and standard error, and the lines and
// comma-separated fields of an output.
#pragma once
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace toolruns {

struct Result {
  int exit = -1;
  std::string out, err;
};

// Runs a shell command line; its exit code, standard output and error.
inline Result RunCommand(const std::string& commandLine) {
  static int n = 0;
  const std::string errFile = (std::filesystem::temp_directory_path() /
                               ("tarpelix_tool_err_" + std::to_string(getpid()) + "_" + std::to_string(++n)))
                                  .string();
  Result r;
  FILE* pipe = popen((commandLine + " 2>" + errFile).c_str(), "r");
  if (!pipe) return r;
  char buffer[4096];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) r.out.append(buffer, got);
  int status = pclose(pipe);
  r.exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::ifstream err(errFile);
  std::stringstream text;
  text << err.rdbuf();
  r.err = text.str();
  std::filesystem::remove(errFile);
  return r;
}

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
