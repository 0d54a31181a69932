// main.cpp - the program's entry.  The suite's menu starts it without
// arguments; it answers --help and --version and reads no other argument.
#include <cstring>

#include "tarpelix_help.h"

int TarpelixMain();

int main(int argc, char** argv) {
  if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0))
    PrintAndExit(kProgramHelp, kProgramHelp.helpText);
  if (argc > 1 && std::strcmp(argv[1], "--version") == 0)
    PrintAndExit(kProgramHelp, kProgramHelp.versionText);
  return TarpelixMain();
}
