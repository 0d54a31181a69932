// calculator.h - the pop-up adding machine opened with Alt+X from any key
// read, with its paper tape.
//
// The whole state (tape, accumulator, entry, pending operator, window
// place) lives in the tape file "KALCALC.TMP" of the terminal directory
// between openings, in this run or a later one.
#pragma once
#include <cstdint>
#include <string>

constexpr int kCalculatorTapeLines = 22;
constexpr int kCalculatorWidth = 26;
// The first tape line index of an empty tape.
constexpr int32_t kEmptyTape = kCalculatorTapeLines + 1;

struct CalculatorTapeLine {
  double amount = 0;
  bool point = false;
  int16_t decimals = 0;
  char operatorKey = ' ';  // '+', '-', '*', '/', '%', 'R', '=' or ' '
};

struct CalculatorState {
  int16_t windowColumn = 1;            // left column of the window
  int32_t firstTapeLine = kEmptyTape;  // oldest visible line (2..22), 23 = empty
  double entry = 0;
  double accumulator = 0;
  bool cleared = true;                            // the last C cleared everything
  bool typing = false;                            // the next digit continues the entry
  bool point = false;                             // the entry has a decimal point
  int16_t decimals = 0;                           // digits after the point
  std::string operatorKey;                        // the operator key being applied
  std::string pending;                            // "+", "-", "*", "/", "=" or ""
  CalculatorTapeLine tape[kCalculatorTapeLines];  // tape[0] is line 1, the oldest
};

// Session.terminalDir + "KALCALC.TMP".
std::string CalculatorTapeFile();
// Reads a tape file.  A missing, empty or damaged file (missing fields,
// values that are not numbers or are out of range, more than the 22 tape
// lines) leaves `state` at the start values and answers false; a sound
// file answers true.
bool ReadCalculatorTape(const std::string& path, CalculatorState& state);
// Writes the state as a tape file (replacing it); false when it cannot.
bool WriteCalculatorTape(const std::string& path, const CalculatorState& state);
// The text the tape file holds for a state (lines ended by CR LF).
std::string CalculatorTapeText(const CalculatorState& state);

// Opens the calculator; returns the result to be typed into the field, or
// "" when the operator leaves with Esc.  The result of F is an amount in
// hundredths (12.5 gives "1250"), or, while Keyboard.plainNumbers (a date
// or code field), the number as it is ("12.5").
std::string Calculator();
