// numbers.h - numbers as text: the picture formatter for displayed amounts,
// the plain number text used for editing and storing, the checks applied to
// typed numbers and the packing of dotted codes ("4300.12") into packed
// digits.  The numeric value of a text, NumericValue, is in platform/text.h.
//
// The decimal and thousands characters of pictures are user preferences
// kept in `Preferences` (dates.h), read once per run.
#pragma once
#include <string>

#include "input/dates.h"
#include "platform/text.h"  // NumericValue

// The value laid out in a picture made of "-" (sign position), "Z" and "9"
// digit positions, "," thousands separators and "." followed by "9"
// decimals.  Rounds half to even on the last decimal.  Always returns as
// many characters as the picture has; a value too large for the picture
// comes out as its plain digits, or as "!" characters when even those do
// not fit.
std::string FormatPicture(const std::string& picture, double value);
// The shortest decimal text of the value with "." as the point and no
// grouping: 12.5 -> "12.5", -3 -> "-3", 0.25 -> ".25", 0 -> "".
std::string PlainNumberText(double value);
// True when the text is not a number of the allowed form: `allowed` holds
// "." to allow a decimal point and "-" or "+" to allow a leading sign.
// Blanks are ignored.
bool NumberTextIsInvalid(const std::string& text, const std::string& allowed);
// True when the text is not a valid number with at most `decimals`
// decimals (0..16) and a sign only when minimum < 0, or when its value lies
// outside [minimum, maximum] at that precision.
bool NumberOutOfRange(const std::string& text, double minimum, double maximum, int decimals);
// The dotted code as packed digits: the first group 4 digits wide (6 for
// the long code forms), each later group 4 digits, a blank last group left
// out.
std::string PackCode(const std::string& code);
