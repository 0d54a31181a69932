// arguments.h - command-line arguments of the tools: numbers, and the
// command a tool of several commands is given.
#pragma once
#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/command_line.h"

// A whole number in [low, high] written in `base`, nothing else; false for
// an empty text, trailing characters, an overflow or a value out of range.
inline bool ParseNumber(const std::string& text, long low, long high, long& value, int base = 10) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(text.c_str(), &end, base);
  if (errno != 0 || *end != '\0' || v < low || v > high) return false;
  value = v;
  return true;
}

// The command the first operand names among the tool's `commands` (each
// with its `name`); none or an unknown one is wrong use, `missing` saying
// what to give.
template <typename Command, size_t N>
const Command& ChosenCommand(const CommandLine& line, const Command (&commands)[N], const ProgramHelp& help,
                             const std::string& missing) {
  if (line.operands.empty()) WrongUse(help, missing);
  for (const Command& c : commands)
    if (line.operands[0] == c.name) return c;
  WrongUse(help, "unknown command '" + line.operands[0] + "'");
}
