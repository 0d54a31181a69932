// help.h - the help pages offered with F1 while a field is edited.
#pragma once
#include <string>

// Shows the help page of a topic (the menu name of the session, trailing
// blanks removed).
void ShowHelp(const std::string& topic);
