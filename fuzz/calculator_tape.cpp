// Fuzzing the calculator's tape file reader: any file is read or refused,
// never a crash, leak or hang; a refused file leaves the start values; a
// file read once is written and read again to the same state.
#include "fuzz_support.h"
#include "screen/calculator.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = WriteFuzzFile("KALCALC.TMP", data, size);
  static const std::string startText = CalculatorTapeText(CalculatorState{});
  CalculatorState state;
  const bool read = ReadCalculatorTape(path, state);
  const std::string text = CalculatorTapeText(state);
  if (!read) {
    if (text != startText) __builtin_trap();  // a refused file changes nothing
    return 0;
  }
  if (state.firstTapeLine < 1 || state.firstTapeLine > kEmptyTape) __builtin_trap();
  if (state.windowColumn < 1 || state.windowColumn > 999) __builtin_trap();
  if (!WriteCalculatorTape(path, state)) __builtin_trap();
  CalculatorState again;
  if (!ReadCalculatorTape(path, again)) __builtin_trap();  // what it writes, it reads
  if (CalculatorTapeText(again) != text) __builtin_trap();
  return 0;
}
