// The programs' command line: options and operands in any order, both
// forms of a value, shortened names, and wrong use ended with exit code 2
// and a message naming the option.
#include "platform/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

enum { kHelp = 'h', kRoot = 256, kCsv, kInit, kRecord, kReplace };

const struct option kOptions[] = {{"help", 0, nullptr, kHelp},       {"version", 0, nullptr, 'V'},
                                  {"root", 1, nullptr, kRoot},       {"csv", 0, nullptr, kCsv},
                                  {"init", 2, nullptr, kInit},       {"record", 1, nullptr, kRecord},
                                  {"replace", 0, nullptr, kReplace}, {nullptr, 0, nullptr, 0}};
const ProgramHelp kTool = {"tool", "Usage: tool [OPTION]...\n", "tool (tarpelix) 9.9\n", "h", kOptions};

CommandLine Read(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), "/usr/bin/tool");
  std::vector<char*> argv;
  for (std::string& a : arguments) argv.push_back(a.data());
  argv.push_back(nullptr);
  return ReadCommandLine(static_cast<int>(arguments.size()), argv.data(), kTool);
}

// "--root=/x" and the like: each option read, with its value.
std::string Described(const CommandLine& line) {
  std::string text;
  for (const CommandLineOption& o : line.options) text += o.name + (o.given ? "=" + o.value : "") + " ";
  for (const std::string& operand : line.operands) text += "[" + operand + "] ";
  return text;
}

TEST(CommandLine, OptionsAndOperandsInAnyOrderAndBothFormsOfAValue) {
  struct Case {
    std::vector<std::string> arguments;
    std::string read;
  } cases[] = {
      {{"--root=/srv/kal/", "--csv"}, "--root=/srv/kal/ --csv "},
      {{"--root", "/srv/kal/", "x"}, "--root=/srv/kal/ [x] "},
      {{"dump", "F", "--record", "-1"}, "--record=-1 [dump] [F] "},  // a value may start with '-'
      {{"--ro=a", "--cs"}, "--root=a --csv "},                       // shortened while unambiguous
      {{"--init", "a"}, "--init [a] "},                              // an optional value only after '='
      {{"--init=DEMO"}, "--init=DEMO "},
      {{"--csv", "--", "--root"}, "--csv [--root] "},  // "--" ends the options
      {{"-"}, "[-] "},
      {{}, ""},
  };
  for (const Case& c : cases) {
    std::string joined;
    for (const std::string& a : c.arguments) joined += a + " ";
    EXPECT_EQ(Described(Read(c.arguments)), c.read) << joined;
  }
  // The option values are the generated header's, in the order given.
  CommandLine line = Read({"--replace", "--record=8", "--record=9"});
  ASSERT_EQ(line.options.size(), 3u);
  EXPECT_EQ(line.options[0].option, kReplace);
  EXPECT_EQ(line.options[2].option, kRecord);
  EXPECT_EQ(line.options[2].value, "9");
}

TEST(CommandLine, HelpAndVersionAreAnsweredOnTheStandardOutput) {
  EXPECT_EXIT(Read({"--help"}), testing::ExitedWithCode(0), "");
  EXPECT_EXIT(Read({"x", "-h"}), testing::ExitedWithCode(0), "");
  EXPECT_EXIT(Read({"--vers"}), testing::ExitedWithCode(0), "");
  EXPECT_EXIT(Read({"--bogus", "--help"}), testing::ExitedWithCode(2), "unknown option");  // in order
  // Standard output that cannot be written: the answer is an error.
  EXPECT_EXIT(
      {
        if (!std::freopen("/dev/full", "w", stdout)) std::exit(3);
        Read({"--help"});
      },
      testing::ExitedWithCode(1), "tool: cannot write the standard output");
}

TEST(CommandLine, WrongUseEndsWithTwoAndNamesTheOption) {
  struct Case {
    std::vector<std::string> arguments;
    const char* message;
  } cases[] = {
      {{"--bogus"}, "tool: unknown option '--bogus'"},
      {{"--bogus=3"}, "tool: unknown option '--bogus'"},
      {{"-x"}, "tool: unknown option '-x'"},
      {{"--root"}, "tool: option '--root' needs a value"},
      {{"x", "--record"}, "tool: option '--record' needs a value"},
      {{"--csv=yes"}, "tool: option '--csv' takes no value"},
      {{"--re", "1"}, "tool: option '--re' is ambiguous"},
  };
  for (const Case& c : cases) {
    EXPECT_EXIT(Read(c.arguments), testing::ExitedWithCode(2),
                std::string(c.message) + "\nTry 'tool --help' for more information.")
        << c.arguments[0];
  }
  EXPECT_EXIT(WrongUse(kTool, "the suite root is missing"), testing::ExitedWithCode(2),
              "^tool: the suite root is missing\nTry 'tool --help'");
}

TEST(CommandLine, ProgramDirectoryIsTheFolderOfTheRunningProgram) {
  const std::string folder = ProgramDirectory();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back() == '/', folder == "/");
  EXPECT_EQ(folder, std::string(TARPELIX_BINARY_DIR) + "/tests");
}

}  // namespace
