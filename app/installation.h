// installation.h - what an installed program finds beside itself: the
// demonstration suite root, which it must never write to, and what it says
// when it is started with no suite root at all.
#pragma once
#include <string>

// The demonstration suite root installed with the program
// (PREFIX/share/tarpelix/demo, found from the program's own folder), code
// page 850; "" when there is none (a program run from its build tree).
std::string InstalledDemoRoot();

// Why the program cannot start on the session's suite root, with what to
// do instead (code page 850, several lines); "" when it can.  Refused: the
// installed demonstration suite root, which is read-only, and no suite root
// at all (KALROOT not set and no form file in the current folder).
std::string SuiteRootProblem();
