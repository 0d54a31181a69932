// text.h - small helpers over the program's byte texts (code page 850),
// used by every folder: one home for each, so that no file keeps a copy of
// its own.
#pragma once
#include <string>

// The text without the blanks (spaces) at its start and end.
std::string TrimBlanks(const std::string& text);
// The text without the blanks (spaces) at its end.
std::string TrimTrailingBlanks(const std::string& text);
// The text placed left-aligned in `width` characters: cut, or filled with
// spaces (a negative width counts as 0).
std::string FitToWidth(const std::string& text, int width);

// The numeric value of a text, as the BASIC VAL reads it: blanks skipped
// wherever they stand, optional sign, digits, one decimal point; reading
// stops at the first other character.  "" or a non-numeric text gives 0.
double NumericValue(const std::string& text);

// ---- Code page 850 letters ----------------------------------------------------
// The field editor's two case-folding tables, the only ones of the program;
// bytes below 64 and above 237 are left as they are by both.
// Upper case with the accents kept: a..z and the accented small letters to
// their capitals ("\x85" a grave to "\xB7" A grave); other bytes unchanged.
unsigned char UpperCp850(unsigned char c);
// The plain capital a letter is written with, accents and case removed
// ("\x85" and "\xB7" both to "A"); a blank for every byte that is no letter.
unsigned char PlainLetterCp850(unsigned char c);
// The text with UpperCp850 applied to every byte.
std::string UpperCaseCp850(const std::string& text);
