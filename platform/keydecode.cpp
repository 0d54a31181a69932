// keydecode.cpp - the terminal key decoder: byte sequences to PC key codes.
//
// Shape: one step function reads the longest complete input at the front of
// the pending bytes and returns a token (a key with its modifiers, a typed
// character, a mouse press, a paste bracket, or nothing for a sequence the
// program has no use for); a second function turns tokens into console
// events.  Everything a terminal may send is in the tables below:
//   - CSI sequences, ESC [ params final: xterm's arrows and editing keys with
//     the modifier parameter (ESC [ 1 ; 5 D Ctrl+Left, ESC [ 15 ; 2 ~
//     Shift+F5), the numbered "~" keys of VT220, xterm, the Linux console and
//     rxvt, rxvt's "$" (Shift), "^" (Ctrl) and "@" (Ctrl+Shift) finals, the
//     Linux console's F1..F5 (ESC [ [ A..E), SGR (1006) and X10 mouse
//     reports, modifyOtherKeys (ESC [ 27 ; mod ; code ~) and CSI u;
//   - SS3 sequences, ESC O final, with an optional modifier (ESC O 5 P): the
//     application-mode cursor keys, F1..F4 and the keypad;
//   - ESC before anything else is Alt (the Escape prefix), decided by time:
//     a lone ESC with nothing after it within the Escape timeout is the Esc
//     key;
//   - UTF-8 text, mapped to code page 850; characters without a code page
//     850 byte are dropped.
#include "platform/keydecode.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>

#include "platform/platform.h"

namespace {

constexpr char kEsc = '\x1b';
constexpr int kShift = 1, kAlt = 2, kCtrl = 4;

// Unmodified codes of the named keys.
constexpr int kUp = 0x4800, kDown = 0x5000, kLeft = 0x4B00, kRight = 0x4D00;
constexpr int kHome = 0x4700, kEnd = 0x4F00, kPgUp = 0x4900, kPgDn = 0x5100;
constexpr int kIns = 0x5200, kDel = 0x5300, kCentre = 0x4C00, kTab = 9;
constexpr int kF1 = 0x3B00, kF11 = 0x8500, kF12 = 0x8600;

constexpr int FKey(int n) { return n <= 10 ? kF1 + (n - 1) * 0x100 : (n == 11 ? kF11 : kF12); }

// The PC keyboard's extended codes of the editing keys with one modifier.
struct ModifiedCodes {
  int base, shift, ctrl, alt;
};
const ModifiedCodes kModified[] = {
    {kUp, kUp, 0x8D00, 0x9800},       {kDown, kDown, 0x9100, 0xA000},      {kLeft, kLeft, 0x7300, 0x9B00},
    {kRight, kRight, 0x7400, 0x9D00}, {kHome, kHome, 0x7700, 0x9700},      {kEnd, kEnd, 0x7500, 0x9F00},
    {kPgUp, kPgUp, 0x8400, 0x9900},   {kPgDn, kPgDn, 0x7600, 0xA100},      {kIns, kIns, 0x9200, 0xA200},
    {kDel, kDel, 0x9300, 0xA300},     {kCentre, kCentre, 0x8F00, kCentre}, {kTab, 0x0F00, 0x9400, 0xA500},
};

bool IsFunctionKey(int key) {
  return (key >= kF1 && key <= FKey(10) && (key & 0xFF) == 0) || key == kF11 || key == kF12;
}

bool IsNamedKey(int key) {
  if (IsFunctionKey(key)) return true;
  for (const auto& m : kModified)
    if (m.base == key) return true;
  return false;
}

// Keys with a number before "~" (VT220 style).  The Linux console and rxvt
// number Shift+F1..F10 as F11..F20: F11 and F12 hide Shift+F1 and Shift+F2,
// and 25..34 are Shift+F3..F10.
struct TildeKey {
  int number, key, modifiers;
};
const TildeKey kTildeKeys[] = {
    {1, kHome, 0},         {2, kIns, 0},          {3, kDel, 0},          {4, kEnd, 0},
    {5, kPgUp, 0},         {6, kPgDn, 0},         {7, kHome, 0},         {8, kEnd, 0},
    {11, FKey(1), 0},      {12, FKey(2), 0},      {13, FKey(3), 0},      {14, FKey(4), 0},
    {15, FKey(5), 0},      {17, FKey(6), 0},      {18, FKey(7), 0},      {19, FKey(8), 0},
    {20, FKey(9), 0},      {21, FKey(10), 0},     {23, kF11, 0},         {24, kF12, 0},
    {25, FKey(3), kShift}, {26, FKey(4), kShift}, {28, FKey(5), kShift}, {29, FKey(6), kShift},
    {31, FKey(7), kShift}, {32, FKey(8), kShift}, {33, FKey(9), kShift}, {34, FKey(10), kShift},
};

// Final letters of CSI and SS3 key sequences; "G" and "Z" come only after
// CSI.
struct FinalKey {
  char final;
  int key, modifiers;
};
const FinalKey kFinals[] = {
    {'A', kUp, 0},     {'B', kDown, 0},   {'C', kRight, 0},    {'D', kLeft, 0},   {'H', kHome, 0},
    {'F', kEnd, 0},    {'E', kCentre, 0}, {'P', FKey(1), 0},   {'Q', FKey(2), 0}, {'R', FKey(3), 0},
    {'S', FKey(4), 0}, {'G', kCentre, 0}, {'Z', kTab, kShift},
};

// The key of a final letter after CSI (`csi`) or SS3; false when it names
// none.  rxvt sends the arrows' letters in lower case for Shift+arrow after
// CSI and Ctrl+arrow after SS3.
bool FinalKeyOf(char final, bool csi, FinalKey& found) {
  int modifiers = 0;
  if (final >= 'a' && final <= 'd') {
    final = static_cast<char>(final - 'a' + 'A');
    modifiers = csi ? kShift : kCtrl;
  } else if (!csi && (final == 'G' || final == 'Z')) {
    return false;
  }
  for (const FinalKey& k : kFinals) {
    if (k.final != final) continue;
    found = FinalKey{final, k.key, k.modifiers | modifiers};
    return true;
  }
  return false;
}

// The numeric keypad in application mode: SS3 + letter -> the character.
const char kKeypadFinals[] = "pqrstuvwxyMjklmnoX";
const char kKeypadCharacters[] = "0123456789\r*+,-./=";

// Alt+character codes of the PC keyboard (scan code * 256), by character.
struct AltCode {
  char character;
  int code;
};
const AltCode kAltCodes[] = {
    {'q', 0x1000}, {'w', 0x1100},  {'e', 0x1200}, {'r', 0x1300},  {'t', 0x1400}, {'y', 0x1500}, {'u', 0x1600},
    {'i', 0x1700}, {'o', 0x1800},  {'p', 0x1900}, {'[', 0x1A00},  {']', 0x1B00}, {'a', 0x1E00}, {'s', 0x1F00},
    {'d', 0x2000}, {'f', 0x2100},  {'g', 0x2200}, {'h', 0x2300},  {'j', 0x2400}, {'k', 0x2500}, {'l', 0x2600},
    {';', 0x2700}, {'\'', 0x2800}, {'`', 0x2900}, {'\\', 0x2B00}, {'z', 0x2C00}, {'x', 0x2D00}, {'c', 0x2E00},
    {'v', 0x2F00}, {'b', 0x3000},  {'n', 0x3100}, {'m', 0x3200},  {',', 0x3300}, {'.', 0x3400}, {'/', 0x3500},
    {'1', 0x7800}, {'2', 0x7900},  {'3', 0x7A00}, {'4', 0x7B00},  {'5', 0x7C00}, {'6', 0x7D00}, {'7', 0x7E00},
    {'8', 0x7F00}, {'9', 0x8000},  {'0', 0x8100}, {'-', 0x8200},  {'=', 0x8300},
};

// ---- Tokens ------------------------------------------------------------------

struct Token {
  size_t consumed = 0;  // 0: incomplete, wait for more bytes
  enum Kind { NONE, KEY, NAMED, CHAR, MOUSE, KEYPAD, PASTE_START, PASTE_END } kind = NONE;
  int value = 0;  // KEY: final code; NAMED: unmodified code; CHAR: code page 850 byte; KEYPAD: character
  int modifiers = 0;
  int button = 0, column = 0, row = 0;
  bool sequence = false;  // a complete escape sequence (an Escape prefix before it means Alt)
};

Token Incomplete() { return Token{}; }

Token Nothing(size_t consumed) { return Token{.consumed = consumed}; }

Token Key(int code, size_t consumed) {
  return Token{.consumed = consumed, .kind = Token::KEY, .value = code};
}

Token Named(int key, int modifiers, size_t consumed) {
  return Token{
      .consumed = consumed, .kind = Token::NAMED, .value = key, .modifiers = modifiers, .sequence = true};
}

Token Char(int cp850, int modifiers, size_t consumed) {
  return Token{.consumed = consumed, .kind = Token::CHAR, .value = cp850, .modifiers = modifiers};
}

// Modifier bits from xterm's parameter (1 + Shift 1 + Alt 2 + Ctrl 4 +
// Meta 8; Meta counts as Alt).
int ModifierBits(int parameter) {
  if (parameter < 2) return 0;
  int bits = parameter - 1;
  return (bits & kShift) | ((bits & (kAlt | 8)) ? kAlt : 0) | (bits & kCtrl);
}

// ---- UTF-8 -------------------------------------------------------------------

// A typed character beyond ASCII: its code page 850 byte, or 0 when it has
// none.  Only bytes 128..255 count: the code page's glyphs of the control
// codes (U+263A for 1, U+2302 for 127 ...) must not type Ctrl+A or DEL.
int TypedCp850(char32_t codePoint) {
  unsigned char b = UnicodeToCp850(codePoint);
  return b >= 128 ? b : 0;
}

// A UTF-8 character at the front of b (b[0] >= 0x80).
Token DecodeText(std::string_view b, bool idle) {
  char32_t cp = 0;
  size_t length = 0;
  switch (DecodeUtf8(b, cp, length)) {
    case Utf8Status::kIncomplete: return idle ? Nothing(b.size()) : Incomplete();
    case Utf8Status::kInvalid: return Nothing(1);
    case Utf8Status::kOk: break;
  }
  int code = TypedCp850(cp);
  return code ? Char(code, 0, length) : Nothing(length);
}

// A character named by its Unicode code point with modifiers, as sent by
// modifyOtherKeys and CSI u.
Token OtherKey(int codePoint, int modifiers, size_t consumed) {
  Token t;
  if (codePoint == 9) {
    t = Named(kTab, modifiers, consumed);
  } else if (codePoint == 127 || codePoint == 8) {
    t = Key(8, consumed);
  } else if (codePoint == 0) {
    // As the NUL byte: key code 0 is no key at all to the key reader.
    t = Key(0x0300, consumed);
  } else if (codePoint > 0 && codePoint < 32) {
    t = Key(codePoint, consumed);
  } else if (codePoint < 127) {
    if ((modifiers & kCtrl) && !(modifiers & kAlt) &&
        ((codePoint | 0x20) >= 'a' && (codePoint | 0x20) <= 'z'))
      t = Key(codePoint & 0x1F, consumed);
    else t = Char(codePoint, modifiers & kAlt, consumed);
  } else {
    int code = TypedCp850(static_cast<char32_t>(codePoint));
    t = code ? Char(code, 0, consumed) : Nothing(consumed);
  }
  t.sequence = true;
  return t;
}

// ---- Escape sequences ------------------------------------------------------------

constexpr size_t kLongestSequence = 64;

std::vector<int> Parameters(std::string_view text) {
  std::vector<int> values;
  size_t i = 0;
  while (i <= text.size()) {
    size_t end = text.find(';', i);
    if (end == std::string_view::npos) end = text.size();
    std::string_view field = text.substr(i, end - i);
    field = field.substr(0, field.find(':'));  // sub-parameters: keep the first
    int value = -1;
    if (!field.empty()) {
      value = 0;
      for (char c : field) {
        if (c < '0' || c > '9') {
          value = -1;
          break;
        }
        value = std::min(value * 10 + (c - '0'), 1000000);
      }
    }
    values.push_back(value);
    i = end + 1;
  }
  return values;
}

Token MousePress(int buttonBits, int column, int row, size_t consumed) {
  Token t = Nothing(consumed);
  t.sequence = true;
  // Motion (32) and wheel (64, 128) reports are not clicks; 3 is a release
  // in the X10 encoding.
  if (buttonBits & (32 | 64 | 128)) return t;
  static const int kButtons[4] = {1, 4, 2, 0};  // left, middle, right
  int button = kButtons[buttonBits & 3];
  if (!button || column < 1 || row < 1) return t;
  t.kind = Token::MOUSE;
  t.button = button;
  t.column = column;
  t.row = row;
  return t;
}

Token InterpretCsi(std::string_view parameters, bool intermediates, char final, size_t consumed) {
  char privateMark = 0;
  if (!parameters.empty() && parameters[0] >= '<' && parameters[0] <= '?') {
    privateMark = parameters[0];
    parameters.remove_prefix(1);
  }
  std::vector<int> p = Parameters(parameters);
  auto at = [&p](size_t i, int otherwise) { return i < p.size() && p[i] >= 0 ? p[i] : otherwise; };
  Token ignored = Nothing(consumed);
  ignored.sequence = true;
  if (privateMark == '<') {
    if (final == 'M' && p.size() >= 3) return MousePress(at(0, 0), at(1, 0), at(2, 0), consumed);
    return ignored;  // a release
  }
  if (privateMark || intermediates) return ignored;  // replies to queries the program never makes

  if (final == '~' || final == '^' || final == '$' || final == '@') {
    int number = at(0, 1);
    if (final == '~' && number == 200) {
      Token t = Nothing(consumed);
      t.kind = Token::PASTE_START;
      return t;
    }
    if (final == '~' && number == 27 && p.size() >= 3)
      return OtherKey(at(2, 0), ModifierBits(at(1, 1)), consumed);
    int modifiers = final == '~'   ? ModifierBits(at(1, 1))
                    : final == '^' ? kCtrl
                    : final == '$' ? kShift
                                   : kCtrl | kShift;
    for (const auto& k : kTildeKeys)
      if (k.number == number) return Named(k.key, k.modifiers | modifiers, consumed);
    return ignored;
  }
  if (final == 'u') return OtherKey(at(0, 0), ModifierBits(at(1, 1)), consumed);
  FinalKey k;
  if (FinalKeyOf(final, true, k)) {
    int modifier = p.size() >= 2 ? at(1, 1) : at(0, 1);
    return Named(k.key, k.modifiers | ModifierBits(modifier), consumed);
  }
  return ignored;
}

// b starts with ESC [.
Token DecodeCsi(std::string_view b, bool idle) {
  if (b.size() == 2) return idle ? Char('[', kAlt, 2) : Incomplete();
  if (b[2] == '[') {  // Linux console: ESC [ [ A .. E are F1 .. F5
    if (b.size() < 4) return idle ? Nothing(b.size()) : Incomplete();
    if (b[3] >= 'A' && b[3] <= 'E') return Named(FKey(1 + b[3] - 'A'), 0, 4);
    Token t = Nothing(4);
    t.sequence = true;
    return t;
  }
  if (b[2] == 'M') {  // X10 mouse report: three raw bytes follow
    if (b.size() < 6) return idle ? Nothing(b.size()) : Incomplete();
    auto raw = [&b](size_t i) { return static_cast<unsigned char>(b[i]) - 32; };
    return MousePress(raw(3), raw(4), raw(5), 6);
  }
  size_t i = 2;
  while (i < b.size() && b[i] >= 0x30 && b[i] <= 0x3F) ++i;
  size_t parametersEnd = i;
  while (i < b.size() && b[i] >= 0x20 && b[i] <= 0x2F && b[i] != '$') ++i;
  if (i >= b.size()) {
    if (idle || b.size() > kLongestSequence) return Nothing(b.size());
    return Incomplete();
  }
  char final = b[i];
  if (final == '$' || (final >= 0x40 && final <= 0x7E))
    return InterpretCsi(b.substr(2, parametersEnd - 2), i > parametersEnd, final, i + 1);
  // Not a sequence after all: ESC [ then a control or non-ASCII byte was
  // Alt+[ typed before it; a broken sequence is dropped up to that byte.
  return i == 2 ? Char('[', kAlt, 2) : Nothing(i);
}

// b starts with ESC O.
Token DecodeSs3(std::string_view b, bool idle) {
  if (b.size() == 2) return idle ? Char('O', kAlt, 2) : Incomplete();
  size_t i = 2;
  while (i < b.size() && ((b[i] >= '0' && b[i] <= '9') || b[i] == ';')) ++i;
  if (i >= b.size()) {
    if (idle || b.size() > kLongestSequence) return Nothing(b.size());
    return Incomplete();
  }
  char final = b[i];
  if (final < 0x40 || final > 0x7E) return i == 2 ? Char('O', kAlt, 2) : Nothing(i);
  std::vector<int> p = Parameters(b.substr(2, i - 2));
  int modifiers = ModifierBits(p.back());
  FinalKey k;
  if (FinalKeyOf(final, false, k)) return Named(k.key, k.modifiers | modifiers, i + 1);
  if (const char* at = std::strchr(kKeypadFinals, final)) {
    Token t;
    t.consumed = i + 1;
    t.kind = Token::KEYPAD;
    t.value = kKeypadCharacters[at - kKeypadFinals];
    t.modifiers = modifiers;
    t.sequence = true;
    return t;
  }
  Token t = Nothing(i + 1);
  t.sequence = true;
  return t;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

// The decoding step: the input at the front of b (not empty, not in a paste).
Token DecodeOne(const KeyDecoder& decoder, std::string_view b, bool idle) {
  unsigned char c = static_cast<unsigned char>(b[0]);
  if (c == kEsc) {
    if (b.size() == 1) return idle ? Key(27, 1) : Incomplete();
    // Sequences learnt from the terminal's description come first.
    const std::pair<std::string, int>* best = nullptr;
    bool longer = false;
    for (const auto& s : decoder.extraSequences) {
      if (StartsWith(b, s.first)) {
        if (!best || s.first.size() > best->first.size()) best = &s;
      } else if (StartsWith(s.first, b)) {
        longer = true;
      }
    }
    if (best) {
      Token t = IsNamedKey(best->second) ? Named(best->second, 0, best->first.size())
                                         : Key(best->second, best->first.size());
      t.sequence = true;
      return t;
    }
    if (longer && !idle) return Incomplete();

    char next = b[1];
    if (next == '[') return DecodeCsi(b, idle);
    if (next == 'O') return DecodeSs3(b, idle);
    if (next == kEsc) {
      // ESC ESC [ ... is Alt with a key sequence (rxvt sends Alt so);
      // otherwise the first ESC is the Esc key on its own, so that Esc
      // pressed twice in quick succession (or typed ahead) is two Escs.
      if (b.size() == 2) return idle ? Key(27, 1) : Incomplete();
      if (b[2] != kEsc) {
        Token inner = DecodeOne(decoder, b.substr(1), idle);
        if (inner.consumed == 0) return Incomplete();
        if (inner.sequence) {
          inner.consumed += 1;
          inner.modifiers |= kAlt;
          return inner;
        }
      }
      return Key(27, 1);
    }
    if (next > 0x20 && next < 0x7F) return Char(next, kAlt, 2);
    // ESC before a control character, a blank or a non-ASCII byte: the
    // Esc key, and the next byte is read on its own.
    return Key(27, 1);
  }
  if (c == 0) return Key(0x0300, 1);  // Ctrl+@ / Ctrl+Space: the PC's Ctrl+2
  if (c == 127) return Key(8, 1);     // DEL is the Backspace key
  if (c < 0x80) return Char(c, 0, 1);
  return DecodeText(b, idle);
}

// Inside a bracketed paste every byte is text until ESC [ 201 ~.
Token DecodePaste(const KeyDecoder& decoder, std::string_view b, bool idle) {
  static constexpr std::string_view kEnd = "\x1b[201~";
  unsigned char c = static_cast<unsigned char>(b[0]);
  if (c == kEsc) {
    if (StartsWith(b, kEnd)) {
      Token t = Nothing(kEnd.size());
      t.kind = Token::PASTE_END;
      return t;
    }
    if (StartsWith(kEnd, b) && !idle) return Incomplete();
    return Nothing(1);
  }
  if (c == '\r') return Key(13, 1);
  if (c == '\n') return decoder.pasteAfterCR ? Nothing(1) : Key(13, 1);
  if (c == '\t') return Key(9, 1);
  if (c < 0x20 || c == 127) return Nothing(1);  // pasted control codes are not keys
  if (c < 0x80) return Char(c, 0, 1);
  return DecodeText(b, idle);
}

void Emit(KeyDecoder& decoder, const Token& t, std::vector<ConsoleEvent>& out) {
  ConsoleEvent e;
  e.kind = ConsoleEvent::KEY;
  // altKeypadDigit stays -1 except for an application-keypad digit with Alt:
  // a terminal has no other way to say "left Alt held with a keypad digit".
  switch (t.kind) {
    case Token::NONE: return;
    case Token::PASTE_START:
      decoder.inPaste = true;
      decoder.pasteAfterCR = false;
      return;
    case Token::PASTE_END: decoder.inPaste = false; return;
    case Token::KEY: e.key = t.value; break;
    case Token::NAMED:
      e.key = ModifiedKeyCode(t.value, t.modifiers & kShift, t.modifiers & kAlt, t.modifiers & kCtrl);
      break;
    case Token::CHAR:
      e.key = t.value;
      if (t.modifiers & kAlt) {
        int code = t.value < 128 ? AltCharacterCode(static_cast<unsigned char>(t.value)) : 0;
        if (code) e.key = code;
      }
      break;
    case Token::KEYPAD:
      e.key = t.value;
      if ((t.modifiers & kAlt) && t.value >= '0' && t.value <= '9') {
        // Ins 0, End 1, Down 2, PgDn 3, Left 4, centre 5, Right 6, Home 7, Up 8, PgUp 9.
        static const int kKeypad[10] = {kIns, kEnd, kDown, kPgDn, kLeft, kCentre, kRight, kHome, kUp, kPgUp};
        e.altKeypadDigit = t.value - '0';
        e.key = kKeypad[e.altKeypadDigit];
      }
      break;
    case Token::MOUSE:
      e.kind = ConsoleEvent::MOUSE;
      e.button = t.button;
      e.column = t.column;
      e.row = t.row;
      break;
  }
  out.push_back(e);
}

void Run(KeyDecoder& decoder, bool idle, std::vector<ConsoleEvent>& out) {
  size_t position = 0;
  while (position < decoder.pending.size()) {
    std::string_view rest = std::string_view(decoder.pending).substr(position);
    bool inPaste = decoder.inPaste;
    Token t = inPaste ? DecodePaste(decoder, rest, idle) : DecodeOne(decoder, rest, idle);
    if (t.consumed == 0) break;
    position += t.consumed;
    if (inPaste) decoder.pasteAfterCR = rest[0] == '\r';
    Emit(decoder, t, out);
  }
  decoder.pending.erase(0, position);
}

// The short prefixes that are also typed keys (Esc, Alt+[, Alt+O) wait only
// the Escape timeout; anything longer is a sequence on its way.
int TimeoutFor(const KeyDecoder& decoder) {
  const std::string& p = decoder.pending;
  bool shortPrefix = !decoder.inPaste && (p == "\x1b" || p == "\x1b[" || p == "\x1bO" || p == "\x1b\x1b" ||
                                          p == "\x1b\x1b[" || p == "\x1b\x1bO");
  return shortPrefix ? decoder.escapeTimeoutMs : decoder.sequenceTimeoutMs;
}

}  // namespace

int ModifiedKeyCode(int baseKey, bool shift, bool alt, bool ctrl) {
  if (IsFunctionKey(baseKey)) {
    bool high = baseKey == kF11 || baseKey == kF12;
    if (alt) return baseKey + (high ? 0x600 : 0x2D00);
    if (ctrl) return baseKey + (high ? 0x400 : 0x2300);
    if (shift) return baseKey + (high ? 0x200 : 0x1900);
    return baseKey;
  }
  for (const auto& m : kModified) {
    if (m.base != baseKey) continue;
    if (alt) return m.alt;
    if (ctrl) return m.ctrl;
    if (shift) return m.shift;
    return m.base;
  }
  return baseKey;
}

int AltCharacterCode(unsigned char character) {
  if (character >= 'A' && character <= 'Z') character = static_cast<unsigned char>(character | 0x20);
  for (const auto& a : kAltCodes)
    if (static_cast<unsigned char>(a.character) == character) return a.code;
  return 0;
}

void KeyDecoderFeed(KeyDecoder& decoder, std::string_view bytes, int64_t nowMs,
                    std::vector<ConsoleEvent>& out) {
  KeyDecoderTick(decoder, nowMs, out);
  decoder.pending.append(bytes);
  decoder.lastInputMs = nowMs;
  Run(decoder, false, out);
}

void KeyDecoderTick(KeyDecoder& decoder, int64_t nowMs, std::vector<ConsoleEvent>& out) {
  if (decoder.pending.empty()) return;
  if (nowMs - decoder.lastInputMs >= TimeoutFor(decoder)) Run(decoder, true, out);
}

int KeyDecoderWaitMs(const KeyDecoder& decoder, int64_t nowMs) {
  if (decoder.pending.empty()) return -1;
  int64_t left = decoder.lastInputMs + TimeoutFor(decoder) - nowMs;
  return static_cast<int>(std::clamp<int64_t>(left, 0, 1000000));
}

void KeyDecoderReset(KeyDecoder& decoder) {
  decoder.pending.clear();
  decoder.inPaste = false;
  decoder.pasteAfterCR = false;
}

void KeyDecoderAddSequence(KeyDecoder& decoder, const std::string& bytes, int key) {
  if (bytes.size() < 2 || bytes[0] != kEsc) return;
  for (const auto& s : decoder.extraSequences)
    if (s.first == bytes) return;
  decoder.extraSequences.emplace_back(bytes, key);
}

// ---- Key names ---------------------------------------------------------------------

namespace {

const std::map<int, std::string>& KeyNames() {
  static const std::map<int, std::string> names = [] {
    std::map<int, std::string> m;
    const std::pair<int, const char*> plain[] = {{kUp, "Up"},       {kDown, "Down"},      {kLeft, "Left"},
                                                 {kRight, "Right"}, {kHome, "Home"},      {kEnd, "End"},
                                                 {kPgUp, "PgUp"},   {kPgDn, "PgDn"},      {kIns, "Ins"},
                                                 {kDel, "Del"},     {kCentre, "Keypad5"}, {kTab, "Tab"}};
    std::vector<std::pair<int, std::string>> keys(std::begin(plain), std::end(plain));
    for (int n = 1; n <= 12; ++n) keys.emplace_back(FKey(n), "F" + std::to_string(n));
    for (const auto& [code, name] : keys) m.emplace(code, name);
    for (const auto& [code, name] : keys) {
      m.emplace(ModifiedKeyCode(code, false, true, false), "Alt+" + name);
      m.emplace(ModifiedKeyCode(code, false, false, true), "Ctrl+" + name);
      m.emplace(ModifiedKeyCode(code, true, false, false), "Shift+" + name);
    }
    for (const auto& a : kAltCodes) {
      char c = a.character;
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
      m.emplace(a.code, std::string("Alt+") + c);
    }
    m[0] = "none";
    m[8] = "Backspace";
    m[13] = "Enter";
    m[27] = "Esc";
    m[32] = "Space";
    m[0x0300] = "Ctrl+@";
    for (int k = 1; k < 32; ++k) m.emplace(k, std::string("Ctrl+") + static_cast<char>('@' + k));
    return m;
  }();
  return names;
}

}  // namespace

std::string KeyName(int key) {
  const auto& names = KeyNames();
  auto it = names.find(key);
  if (it != names.end()) return it->second;
  if (key > 32 && key < 256 && key != 127) {
    return "'" + Cp850ToUtf8(std::string(1, static_cast<char>(key))) + "'";
  }
  char text[16];
  snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(key) & 0xFFFFu);
  return text;
}
