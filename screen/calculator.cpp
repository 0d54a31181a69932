// calculator.cpp - the pop-up adding machine and its tape.
//
// The machine works like a desk adding machine: numbers are typed into the
// entry, an operator key combines the accumulator with the entry by the
// operator pressed before it (the pending one), and every operation is
// printed on a paper tape of 22 lines that scrolls upwards.  The window is
// 26 columns wide over screen rows 1 to 25; it shows only as much tape as
// there is, so the screen beneath stays visible above it.
//
// Values are doubles.  Typed numbers are built from their digits as whole
// scaled integers (at most 15 digits), so typing never accumulates binary
// rounding errors; results are normalised for display to at most 15
// significant digits.  A division by zero or an overflow leaves a value
// that is not finite: it shows as "ERROR" on the entry and the tape, every
// key but C, Esc and the window moves is refused with a beep, and the next
// C clears everything.  Nothing divides or multiplies such a value in a
// loop, so the calculator never hangs on it.
#include "screen/calculator.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "input/keys.h"
#include "input/numbers.h"
#include "platform/console.h"
#include "platform/platform.h"
#include "screen/windows.h"
#include "session/session.h"

namespace {

constexpr int kMaxDigits = 15;  // significant digits a typed or shown value keeps
constexpr int kAmountWidth = 22;
constexpr int kEntryRow = 24;

// Box characters (code page 850).
constexpr char kHorizontal = '\xC4', kVertical = '\xB3';
constexpr char kTopLeft = '\xDA', kTopRight = '\xBF', kBottomLeft = '\xC0', kBottomRight = '\xD9';
constexpr char kTeeLeft = '\xC3', kTeeRight = '\xB4';

double PowerOfTen(int n) {
  static const double kPowers[] = {1e0, 1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7, 1e8,
                                   1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16};
  if (n >= 0 && n <= 16) return kPowers[n];
  return std::pow(10.0, n);
}

// Rounds to the nearest integer, halves to the even neighbour.
double RoundHalfEven(double x) {
  double r = std::round(x);
  if (std::fabs(x - std::trunc(x)) == 0.5) r = 2.0 * std::round(x / 2.0);
  return r;
}

struct Shown {
  double value = 0;
  bool point = false;
  int16_t decimals = 0;
};

// A value as the display shows it: at most 15 significant digits, no
// trailing zero decimals.  A value that is not finite is left as it is.
Shown Normalise(double value) {
  Shown shown;
  shown.value = value;
  if (!std::isfinite(value)) return shown;
  double magnitude = std::fabs(value);
  int integerDigits = magnitude >= 1 ? static_cast<int>(std::floor(std::log10(magnitude))) + 1 : 0;
  // log10 can be one off near powers of ten; settle it by comparison.
  while (integerDigits > 0 && magnitude < PowerOfTen(integerDigits - 1)) --integerDigits;
  while (magnitude >= PowerOfTen(integerDigits)) ++integerDigits;
  double copy = magnitude;
  int decimals = 0;
  while (copy != std::floor(copy) && decimals + integerDigits < kMaxDigits) {
    copy *= 10;
    ++decimals;
  }
  copy = RoundHalfEven(copy);
  while (decimals > 0 && std::fmod(copy, 10.0) == 0) {
    copy /= 10;
    --decimals;
  }
  shown.value = std::copysign(copy / PowerOfTen(decimals), value);
  if (shown.value == 0) shown.value = 0;  // no negative zero on the display
  shown.point = decimals > 0;
  shown.decimals = static_cast<int16_t>(decimals);
  return shown;
}

bool InError(const CalculatorState& s) { return !std::isfinite(s.entry) || !std::isfinite(s.accumulator); }

void ResetState(CalculatorState& s) { s = CalculatorState{}; }

// ---- The tape file ----------------------------------------------------------------

std::string NumberText(double value) {
  char buffer[400];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
  if (result.ec != std::errc()) return "0";
  return std::string(buffer, result.ptr);
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// Splits the file into its fields: separated by "," or line ends, texts in
// double quotes.  False when a quote is not closed.
bool SplitFields(const std::string& text, std::vector<std::string>& fields) {
  size_t i = 0, n = text.size();
  auto isLineEnd = [](char c) { return c == '\r' || c == '\n'; };
  while (i < n) {
    while (i < n && (isLineEnd(text[i]) || text[i] == ' ' || text[i] == '\t')) ++i;
    if (i >= n) break;
    std::string field;
    if (text[i] == '"') {
      size_t close = text.find('"', i + 1);
      if (close == std::string::npos) return false;
      field = text.substr(i + 1, close - i - 1);
      i = close + 1;
      while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
      if (i < n && text[i] != ',' && !isLineEnd(text[i])) return false;
    } else {
      size_t start = i;
      while (i < n && text[i] != ',' && !isLineEnd(text[i])) ++i;
      field = text.substr(start, i - start);
      while (!field.empty() && (field.back() == ' ' || field.back() == '\t')) field.pop_back();
    }
    fields.push_back(field);
    if (i < n && text[i] == ',') ++i;
  }
  return true;
}

bool ParseDouble(const std::string& field, double& value) {
  if (field.empty()) return false;
  char* end = nullptr;
  value = std::strtod(field.c_str(), &end);
  return end && *end == '\0';
}

bool ParseInteger(const std::string& field, long minimum, long maximum, long& value) {
  if (field.empty()) return false;
  char* end = nullptr;
  value = std::strtol(field.c_str(), &end, 10);
  return end && *end == '\0' && value >= minimum && value <= maximum;
}

bool ParseFlag(const std::string& field, bool& flag) {
  long value = 0;
  if (!ParseInteger(field, -1, 1, value)) return false;
  flag = value != 0;
  return true;
}

bool IsOneOf(const std::string& text, std::initializer_list<const char*> choices) {
  for (const char* c : choices)
    if (text == c) return true;
  return false;
}

bool ParseState(const std::vector<std::string>& f, CalculatorState& s) {
  constexpr size_t kFields = 4 + 4 + 2 + 4 * kCalculatorTapeLines;
  if (f.size() != kFields) return false;
  long number = 0;
  if (!ParseInteger(f[0], 1, 999, number)) return false;
  s.windowColumn = static_cast<int16_t>(number);
  if (!ParseInteger(f[1], 2, kEmptyTape, number)) return false;
  s.firstTapeLine = static_cast<int32_t>(number);
  if (!ParseDouble(f[2], s.entry) || !ParseDouble(f[3], s.accumulator)) return false;
  if (!ParseFlag(f[4], s.cleared) || !ParseFlag(f[5], s.typing) || !ParseFlag(f[6], s.point)) return false;
  if (!ParseInteger(f[7], 0, kMaxDigits, number)) return false;
  s.decimals = static_cast<int16_t>(number);
  if (!IsOneOf(f[8], {"", "+", "-", "*", "/", "="})) return false;
  s.operatorKey = f[8];
  if (!IsOneOf(f[9], {"", "+", "-", "*", "/", "="})) return false;
  s.pending = f[9];
  for (int i = 0; i < kCalculatorTapeLines; ++i) {
    const std::string* line = &f[10 + 4 * i];
    CalculatorTapeLine& t = s.tape[i];
    if (!ParseDouble(line[0], t.amount) || !ParseFlag(line[1], t.point)) return false;
    if (!ParseInteger(line[2], 0, kMaxDigits, number)) return false;
    t.decimals = static_cast<int16_t>(number);
    const std::string& op = line[3];
    if (op.empty()) {
      t.operatorKey = ' ';
    } else if (op.size() == 1 && std::strchr("+-*/%R= ", op[0]) != nullptr) {
      t.operatorKey = op[0];
    } else {
      return false;
    }
  }
  return true;
}

// ---- Display ------------------------------------------------------------------------

std::string AmountPicture(bool point, int decimals) {
  std::string picture = "Z,ZZZ,ZZZ,ZZZ,ZZZ,ZZ9";
  if (point) picture += "." + std::string(static_cast<size_t>(decimals), '9');
  return "-" + picture.substr(picture.size() - 21);
}

std::string AmountText(double amount, bool point, int decimals) {
  if (!std::isfinite(amount)) return std::string(kAmountWidth - 5, ' ') + "ERROR";
  std::string text = FormatPicture(AmountPicture(point, point ? decimals : 0), amount);
  text.resize(kAmountWidth, ' ');
  return text;
}

std::string Border(char left, char right) {
  return std::string(1, left) + std::string(kCalculatorWidth - 2, kHorizontal) + std::string(1, right);
}

// Writes a line at an absolute screen row, from the window's left column.
void PutRow(int row, const std::string& text) {
  WinLocate(0, row - Windows.WindowTop);
  WriteText(text);
}

void Draw(const CalculatorState& s) {
  SetColourScheme("n");
  int first = s.firstTapeLine;
  if (first <= kCalculatorTapeLines) {
    PutRow(first - 1, Border(kTopLeft, kTopRight));
    for (int i = first; i <= kCalculatorTapeLines; ++i) {
      const CalculatorTapeLine& t = s.tape[i - 1];
      PutRow(i, std::string(1, kVertical) + AmountText(t.amount, t.point, t.decimals) + " " +
                    std::string(1, t.operatorKey) + std::string(1, kVertical));
    }
    PutRow(kCalculatorTapeLines + 1, Border(kTeeLeft, kTeeRight));
  } else {
    PutRow(kCalculatorTapeLines + 1, Border(kTopLeft, kTopRight));
  }
  PutRow(kEntryRow, std::string(1, kVertical) + AmountText(s.entry, s.point, s.decimals) + "  " +
                        std::string(1, kVertical));
  PutRow(kEntryRow + 1, Border(kBottomLeft, kBottomRight));
}

int RightmostColumn() { return ScreenColumns() - kCalculatorWidth + 1; }

bool OpenCalculatorWindow(const CalculatorState& s) {
  return OpenWindow(1, s.windowColumn, kEntryRow + 1, s.windowColumn + kCalculatorWidth - 1);
}

// ---- Keys ------------------------------------------------------------------------------

void AddTapeLine(CalculatorState& s, double amount, bool point, int decimals, char operatorKey) {
  for (int i = 0; i + 1 < kCalculatorTapeLines; ++i) s.tape[i] = s.tape[i + 1];
  CalculatorTapeLine& newest = s.tape[kCalculatorTapeLines - 1];
  newest.amount = amount;
  newest.point = point;
  newest.decimals = static_cast<int16_t>(decimals);
  newest.operatorKey = operatorKey;
  if (s.firstTapeLine > 2) --s.firstTapeLine;
}

void ShowEntry(CalculatorState& s, double value) {
  Shown shown = Normalise(value);
  s.entry = shown.value;
  s.point = shown.point;
  s.decimals = shown.decimals;
}

int DigitCount(double wholeNumber) {
  int count = 0;
  while (wholeNumber >= 1 && count <= kMaxDigits + 1) {
    wholeNumber = std::floor(wholeNumber / 10);
    ++count;
  }
  return count;
}

void TypeDigit(CalculatorState& s, int digit) {
  if (!s.typing) {
    s.entry = 0;
    s.point = false;
    s.decimals = 0;
  }
  // The digits typed so far as a whole number; the sign stays (a number
  // whose sign was changed with T goes on growing away from zero).
  double scaled = std::round(std::fabs(s.entry) * PowerOfTen(s.point ? s.decimals : 0));
  double grown = scaled * 10 + digit;
  if (DigitCount(grown) > kMaxDigits || (s.point && s.decimals >= kMaxDigits)) {
    Beep();
    return;
  }
  double magnitude = s.point ? grown / PowerOfTen(++s.decimals) : grown;
  s.entry = std::copysign(magnitude, s.entry);
  s.typing = true;
}

void TypePoint(CalculatorState& s) {
  if (!s.typing) {
    s.entry = 0;
    s.point = false;
    s.decimals = 0;
  }
  if (!s.point) {
    s.point = true;
    s.decimals = 0;
  }
  s.typing = true;
}

void Backspace(CalculatorState& s) {
  if (!s.point) {
    s.entry = std::trunc(s.entry / 10);
  } else if (s.decimals - 1 < 0) {
    s.point = false;
    s.decimals = 0;
  } else {
    double scaled = std::round(std::fabs(s.entry) * PowerOfTen(s.decimals));
    --s.decimals;
    s.entry = std::copysign(std::trunc(scaled / 10) / PowerOfTen(s.decimals), s.entry);
  }
  s.typing = s.typing && s.entry != 0;
}

void ClearAll(CalculatorState& s) {
  s.entry = 0;
  s.accumulator = 0;
  s.point = false;
  s.decimals = 0;
  s.typing = false;
  s.operatorKey.clear();
  // The pending operator goes too: after a clear the next number starts a
  // new calculation instead of being combined with the cleared total.
  s.pending.clear();
  s.cleared = true;
}

// Returns true when the tape was emptied (the window must be redrawn).
bool Clear(CalculatorState& s) {
  if (InError(s)) {
    ClearAll(s);
    return false;
  }
  if (s.typing) {
    // Clear entry: back to the running result.
    ShowEntry(s, s.accumulator);
    s.typing = false;
    s.operatorKey = s.pending;
    return false;
  }
  if (!s.cleared) {
    ClearAll(s);
    return false;
  }
  s.firstTapeLine = kEmptyTape;
  for (CalculatorTapeLine& t : s.tape) t = CalculatorTapeLine{};
  return true;
}

void Round(CalculatorState& s) {
  double rounded = std::copysign(RoundHalfEven(std::fabs(s.entry) * 100) / 100, s.entry);
  s.entry = rounded;
  // A result on the entry becomes the running total; a number being typed
  // is only rounded, so that the pending operator still combines it.
  if (!s.typing) s.accumulator = rounded;
  s.point = true;
  s.decimals = 2;
  AddTapeLine(s, s.entry, s.point, s.decimals, 'R');
}

void Percent(CalculatorState& s) {
  AddTapeLine(s, s.entry, s.point, s.decimals, '%');
  double value = (s.pending == "+" || s.pending == "-") ? s.accumulator / 100 * s.entry : s.entry / 100;
  ShowEntry(s, value);
}

void ApplyOperator(CalculatorState& s, char key) {
  const std::string& p = s.pending;
  if (p == "+") s.accumulator += s.entry;
  else if (p == "-") s.accumulator -= s.entry;
  else if (p == "*") s.accumulator *= s.entry;
  else if (p == "/") s.accumulator /= s.entry;
  else if (p.empty()) s.accumulator = s.entry;
  else if (p == "=" && s.typing) s.accumulator = s.entry;  // a new number after a total starts anew
  // "=" pending without a new number: the total goes on as the running result.
  AddTapeLine(s, s.entry, s.point, s.decimals, key);
  ShowEntry(s, s.accumulator);
  s.typing = false;
  s.operatorKey = std::string(1, key);
  if (key == '=') {
    s.operatorKey.clear();
    AddTapeLine(s, s.entry, s.point, s.decimals, ' ');
  }
  s.cleared = false;
  s.pending = std::string(1, key);
  if (InError(s)) Beep();
}

// The result handed to a field that takes a number as it is (a date, a
// code): the value with its own decimals, without a sign; 0 is "0".
std::string PlainResultText(const CalculatorState& s) {
  int d = std::clamp<int>(s.point ? s.decimals : 0, 0, 15);
  double value = s.typing ? s.entry : s.accumulator;
  char buffer[400];
  std::snprintf(buffer, sizeof buffer, "%.*f", d,
                RoundHalfEven(std::fabs(value) * PowerOfTen(d)) / PowerOfTen(d));
  return buffer;
}

// The result handed to the field: the value's digits with the point placed
// as if the value were multiplied by 100 (amount fields hold hundredths),
// without a sign.
std::string ResultText(const CalculatorState& s) {
  if (Keyboard.plainNumbers) return PlainResultText(s);
  int d = s.decimals < 2 ? 2 : s.decimals;
  double value = s.typing ? s.entry : s.accumulator;
  double v = RoundHalfEven(std::fabs(value) * PowerOfTen(d));
  if (v == 0) return "";
  char buffer[400];
  std::snprintf(buffer, sizeof buffer, "%.0f", v);
  std::string digits = buffer;
  if (static_cast<int>(digits.size()) < d - 2)
    digits.insert(0, static_cast<size_t>(d - 2) - digits.size(), '0');
  size_t integerPart = digits.size() - static_cast<size_t>(d - 2);
  std::string result = digits.substr(0, integerPart);
  if (d > 2) result += "." + digits.substr(integerPart);
  return result;
}

}  // namespace

std::string CalculatorTapeFile() { return Session.terminalDir + "KALCALC.TMP"; }

std::string CalculatorTapeText(const CalculatorState& s) {
  const std::string kEnd = "\r\n";
  std::string text;
  text += std::to_string(s.windowColumn) + "," + std::to_string(s.firstTapeLine) + "," + NumberText(s.entry) +
          "," + NumberText(s.accumulator) + kEnd;
  text += std::string(s.cleared ? "-1" : "0") + "," + (s.typing ? "-1" : "0") + "," + (s.point ? "-1" : "0") +
          "," + std::to_string(s.decimals) + kEnd;
  text += Quoted(s.operatorKey) + "," + Quoted(s.pending) + kEnd;
  for (const CalculatorTapeLine& t : s.tape)
    text += NumberText(t.amount) + "," + (t.point ? "-1" : "0") + "," + std::to_string(t.decimals) + "," +
            Quoted(std::string(1, t.operatorKey)) + kEnd;
  return text;
}

bool ReadCalculatorTape(const std::string& path, CalculatorState& state) {
  ResetState(state);
  std::string text;
  if (!ReadWholeFile(path, text)) return false;
  std::vector<std::string> fields;
  CalculatorState read;
  if (!SplitFields(text, fields) || !ParseState(fields, read)) return false;
  state = read;
  return true;
}

bool WriteCalculatorTape(const std::string& path, const CalculatorState& state) {
  return WriteWholeFile(path, CalculatorTapeText(state));
}

std::string Calculator() {
  KeySet("+e", "");
  SetColourScheme("+n");
  bool cursorWasShown = ConsoleCursorShown();
  ConsoleShowCursor(false);

  std::string path = CalculatorTapeFile();
  {
    // Made when missing, never through a symbolic link; a tape that cannot
    // be kept is told once, and the calculator works without it.
    FileHandle tape(path, "ab");
    if (!tape) TellRefusedFile(path, tape.error);
  }
  CalculatorState s;
  ReadCalculatorTape(path, s);
  if (s.windowColumn > RightmostColumn()) s.windowColumn = static_cast<int16_t>(RightmostColumn());
  if (s.windowColumn < 1) s.windowColumn = 1;

  std::string result;
  bool opened = OpenCalculatorWindow(s);
  while (opened) {
    Draw(s);
    KeyCode key = 0;
    WaitKey(key);
    if (key == kKeyEsc) break;
    if (key == 'F' || key == 'f' || key == kKeyAltF) {
      if (InError(s)) {
        Beep();
        continue;
      }
      result = ResultText(s);
      break;
    }
    if (key == kKeyLeft || key == kKeyCtrlLeft || key == kKeyRight || key == kKeyCtrlRight) {
      bool left = key == kKeyLeft || key == kKeyCtrlLeft;
      if (left)
        s.windowColumn = static_cast<int16_t>(s.windowColumn <= 1 ? RightmostColumn() : s.windowColumn - 1);
      else
        s.windowColumn = static_cast<int16_t>(s.windowColumn >= RightmostColumn() ? 1 : s.windowColumn + 1);
      CloseWindow();
      opened = OpenCalculatorWindow(s);
      continue;
    }
    if (key <= 0 || key > 255) continue;
    char c = static_cast<char>(key);
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c == 13) c = '=';
    if (InError(s) && c != 'C') {
      Beep();
      continue;
    }
    if (c >= '0' && c <= '9') {
      TypeDigit(s, c - '0');
    } else if (c == '.') {
      TypePoint(s);
    } else if (key == kKeyBackspace) {
      Backspace(s);
    } else if (c == 'T') {
      s.entry = -s.entry;
    } else if (c == 'C') {
      if (Clear(s)) {
        CloseWindow();
        opened = OpenCalculatorWindow(s);
      }
    } else if (c == 'R') {
      Round(s);
    } else if (c == '%') {
      Percent(s);
    } else if (c == '+' || c == '-' || c == '*' || c == '/') {
      ApplyOperator(s, c);
    } else if (c == '=') {
      if (s.typing) ApplyOperator(s, '=');
    }
  }

  WriteCalculatorTape(path, s);
  if (opened) CloseWindow();
  ConsoleShowCursor(cursorWasShown);
  SetColourScheme("-");
  KeySet("-", "");
  return result;
}
