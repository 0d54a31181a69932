// main.cpp - the program's entry.  The suite's menu starts it without
// arguments; it answers --help, --version and --check (the health check of
// the suite root, app/health_check.cpp) and reads no other argument.
#include <cstring>

#include "tarpelix_help.h"

int TarpelixMain();
int HealthCheck();

int main(int argc, char** argv) {
  if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0))
    PrintAndExit(kProgramHelp, kProgramHelp.helpText);
  if (argc > 1 && std::strcmp(argv[1], "--version") == 0)
    PrintAndExit(kProgramHelp, kProgramHelp.versionText);
  if (argc > 1 && std::strcmp(argv[1], "--check") == 0) return HealthCheck();
  return TarpelixMain();
}
