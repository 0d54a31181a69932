// command_line.cpp - ReadCommandLine over glibc's getopt_long.
//
// getopt_long's own messages are turned off (opterr = 0) so that every
// message of wrong use has the same shape and names the program as its
// other messages do, whatever path it was started by.
#include "platform/command_line.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

namespace {

const struct option* LongOption(const ProgramHelp& help, int value) {
  for (const struct option* o = help.longOptions; o->name; ++o)
    if (o->val == value) return o;
  return nullptr;
}

// The long options whose names start with `prefix` ("root" for "--ro").
int LongOptionsStartingWith(const ProgramHelp& help, const std::string& prefix) {
  int count = 0;
  for (const struct option* o = help.longOptions; o->name; ++o)
    if (std::strncmp(o->name, prefix.c_str(), prefix.size()) == 0) ++count;
  return count;
}

// The option of a refused element as the user wrote it: "--root" for
// "--root=x", "-r" for a letter.  `element` is the argument getopt_long
// read last; `value` its optopt (0 for an unknown long option).
std::string WrittenOption(const ProgramHelp& help, const char* element, int value) {
  std::string text = element ? element : "";
  if (text.rfind("--", 0) == 0) {
    std::string name = text.substr(0, text.find('='));
    const struct option* o = LongOption(help, value);
    if (value == 0 || (o && std::strncmp(o->name, name.c_str() + 2, name.size() - 2) == 0)) return name;
  }
  if (value > 0 && value < 256) return std::string("-") + static_cast<char>(value);
  return text;
}

}  // namespace

[[noreturn]] void WrongUse(const ProgramHelp& help, const std::string& message) {
  std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", help.name, message.c_str(),
               help.name);
  std::exit(2);
}

[[noreturn]] void PrintAndExit(const ProgramHelp& help, const char* text) {
  std::fputs(text, stdout);
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fprintf(stderr, "%s: cannot write the standard output\n", help.name);
    std::exit(1);
  }
  std::exit(0);
}

CommandLine ReadCommandLine(int argc, char** argv, const ProgramHelp& help) {
  CommandLine line;
  // ":" first: a missing value is told apart from an unknown option.
  const std::string shortOptions = std::string(":") + help.shortOptions;
  opterr = 0;
  optind = 0;  // glibc: start afresh, as for a new command line
  for (;;) {
    int index = -1;
    int c = getopt_long(argc, argv, shortOptions.c_str(), help.longOptions, &index);
    if (c == -1) break;
    const char* element = optind > 0 && optind <= argc ? argv[optind - 1] : nullptr;
    if (c == '?' || c == ':') {
      std::string written = WrittenOption(help, element, optopt);
      if (c == ':') WrongUse(help, "option '" + written + "' needs a value");
      if (optopt != 0 && written.rfind("--", 0) == 0 && element && std::strchr(element, '='))
        WrongUse(help, "option '" + written + "' takes no value");
      if (written.rfind("--", 0) == 0 && LongOptionsStartingWith(help, written.substr(2)) > 1)
        WrongUse(help, "option '" + written + "' is ambiguous");
      WrongUse(help, "unknown option '" + written + "'");
    }
    CommandLineOption option;
    option.option = c;
    option.name = index >= 0 ? std::string("--") + help.longOptions[index].name
                             : std::string("-") + static_cast<char>(c);
    option.given = optarg != nullptr;
    option.value = optarg ? optarg : "";
    const struct option* known = index >= 0 ? &help.longOptions[index] : LongOption(help, c);
    if (known && std::strcmp(known->name, "help") == 0) PrintAndExit(help, help.helpText);
    if (known && std::strcmp(known->name, "version") == 0) PrintAndExit(help, help.versionText);
    line.options.push_back(option);
  }
  for (int i = optind; i < argc; ++i) line.operands.push_back(argv[i]);
  return line;
}

std::string ProgramDirectory() {
  char buffer[4096];
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return std::string();
  std::string path(buffer, static_cast<size_t>(n));
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : Utf8ToCp850(path.substr(0, slash == 0 ? 1 : slash));
}
