// help.cpp - the help pages.
//
// Placeholder: the help viewer is not built yet, so asking for a topic shows
// nothing and returns at once; the form driver then edits the field again.
#include "screen/help.h"

void ShowHelp(const std::string& topic) { (void)topic; }
