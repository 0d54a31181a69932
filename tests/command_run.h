// command_run.h - a shell command line run by a test: its exit code and
// what it wrote.  It needs nothing of the program, so the tests of every
// folder that start a program or a tool can use it.
#pragma once
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace commandrun {

struct Result {
  int exit = -1;
  std::string out, err;
};

// Runs a shell command line and reads what it writes to standard output
// into `out`; its exit code, -1 when it did not exit.
inline int ReadCommand(const std::string& commandLine, std::string& out) {
  FILE* pipe = popen(commandLine.c_str(), "r");
  if (!pipe) return -1;
  char buffer[4096];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, got);
  int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs a shell command line; its exit code, standard output and error.
inline Result RunCommand(const std::string& commandLine) {
  static int n = 0;
  const std::string errFile = (std::filesystem::temp_directory_path() /
                               ("tarpelix_tool_err_" + std::to_string(getpid()) + "_" + std::to_string(++n)))
                                  .string();
  Result r;
  r.exit = ReadCommand(commandLine + " 2>" + errFile, r.out);
  std::ifstream err(errFile);
  std::stringstream text;
  text << err.rdbuf();
  r.err = text.str();
  std::filesystem::remove(errFile);
  return r;
}

// Runs a shell command line; its exit code, and its standard output and
// error together in `out`, in the order written.
inline Result RunCommandWithErrors(const std::string& commandLine) {
  Result r;
  r.exit = ReadCommand(commandLine + " 2>&1", r.out);
  return r;
}

}  // namespace commandrun
