// console_term.h - the terminal console started on chosen descriptors.
//
// The program calls ConsoleStartTerminal() (console.h), which uses standard
// input and output and the TERM variable.  Tests start the same backend on
// a pseudo-terminal of their own through this entry.
#pragma once
#include <string>

// Starts the terminal console reading keys from inputFd and drawing on
// outputFd (both must be terminals) for the terminal type given (a terminfo
// name).  False, with nothing changed, when that is not possible.
bool ConsoleStartTerminalOn(int inputFd, int outputFd, const std::string& terminalType);
