// text.h - small helpers over the program's byte texts (code page 850),
// used by every folder: one home for each, so that no file keeps a copy of
// its own.
#pragma once
#include <string>

// The numeric value of a text, as the BASIC VAL reads it: blanks skipped
// wherever they stand, optional sign, digits, one decimal point; reading
// stops at the first other character.  "" or a non-numeric text gives 0.
double NumericValue(const std::string& text);
