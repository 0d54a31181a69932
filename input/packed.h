// packed.h - packed digits: decimal digits held two to a byte, the form of
// every date, property code and owner code in the data files.
//
// A packed byte is 128 + (pair value 0..99), so no packed byte is a control
// character and two packed texts of the same length sort as their digit
// texts do.  Bytes 128..227 are packed digit pairs; any other byte is none.
#pragma once
#include <string>

// The packed byte of the pair 00: the filler of an empty packed field.
constexpr unsigned char kPackedZero = 128;

// Whether the byte is a packed digit pair (128..227).
bool IsPackedPair(unsigned char byte);
// The value 0..99 of a packed digit pair; 0 for a byte that is none.
int PackedPairValue(unsigned char byte);

// The digit text packed two digits per byte: the text is right-aligned in
// its own width and zero-filled, non-digits count 0; an odd length leaves
// the last digit as the tens digit of the last byte ("123" -> 12, 30).
std::string PackDigits(const std::string& digits);
// Two digits per packed byte ("05" for 5); a byte that is no packed pair
// gives the last two digits of its low seven bits.
std::string UnpackDigits(const std::string& packed);

// The number of two packed bytes read as one 4-digit number (0..9999); a
// byte that is not a packed digit pair counts as 00.
int PackedNumber(const std::string& packed);
// Two packed bytes for a number 0..9999 (clamped into that range).
std::string PackedFromNumber(int number);
