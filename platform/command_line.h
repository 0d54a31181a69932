// command_line.h - the command lines of the programs, read the way Unix
// tools read theirs.
//
// Each program's options, its --help text and its version come from its help
// source (tools/NAME.help, app/tarpelix.help), from which the build makes a
// header NAME_help.h holding one ProgramHelp and the ProgramOption values.
#pragma once
#include <getopt.h>

#include <string>
#include <vector>

struct ProgramHelp {
  const char* name;                  // the program's name, as its messages start
  const char* helpText;              // what --help prints
  const char* versionText;           // what --version prints
  const char* shortOptions;          // getopt's letters ("h", "o:")
  const struct option* longOptions;  // getopt_long's table, ended by a zero entry
};

struct CommandLineOption {
  int option = 0;      // getopt_long's value: the ProgramOption of NAME_help.h
  std::string name;    // as given, for messages ("--root", "-h")
  std::string value;   // its value, "" when none was given
  bool given = false;  // a value was given (for an optional value)
};

struct CommandLine {
  std::vector<CommandLineOption> options;  // in the order given
  std::vector<std::string> operands;       // the arguments that are not options
};

// Reads the command line with getopt_long: options and operands in any
// order, "--" ends the options, "--root=DIR" and "--root DIR" alike, a long
// option may be shortened while it stays unambiguous.  --help and --version
// are answered here on standard output (exit code 0); an unknown option or a
// missing or unwanted value is wrong use (WrongUse).
CommandLine ReadCommandLine(int argc, char** argv, const ProgramHelp& help);

// Ends the program after wrong use of its command line: "NAME: message" and
// where to find the usage on standard error, exit code 2.
[[noreturn]] void WrongUse(const ProgramHelp& help, const std::string& message);

// Writes `text` on standard output and ends the program: exit code 0, or 1
// when the output could not be written.
[[noreturn]] void PrintAndExit(const ProgramHelp& help, const char* text);

// The folder of the running program's file (/usr/bin), code page 850; ""
// when it cannot be told.
std::string ProgramDirectory();
