// keydecode.h - turns the bytes a terminal sends into the program's key codes.
//
// The program thinks in PC keyboard codes: a character key is its code page
// 850 code, an extended key its scan code * 256, with Shift, Ctrl and Alt
// folded into the classic BIOS codes (Ctrl+Left 0x7300, Alt+F5 0x6C00 ...).
// A terminal sends byte sequences instead: xterm's CSI and SS3 sequences with
// modifier parameters, the Linux console's and rxvt's variants, UTF-8 text,
// mouse reports and bracketed paste.  This decoder maps one to the other.
//
// It is deterministic: its output depends only on the bytes fed in, the
// times given with them and its tables, so the Escape-versus-Alt question
// (a lone ESC is the Esc key when nothing follows within the Escape timeout;
// ESC + letter within it is Alt+letter) is tested without sleeping.  The
// terminal backend owns one decoder, feeds it what read(2) returns with the
// current time, and calls KeyDecoderTick when poll(2) times out.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/console.h"

struct KeyDecoder {
  // Bytes received that do not yet form a complete input.
  std::string pending;
  // Clock (milliseconds) when the last bytes arrived.
  int64_t lastInputMs = 0;
  // Inside a bracketed paste: bytes are text until ESC [ 201 ~.
  bool inPaste = false;
  bool pasteAfterCR = false;  // a LF right after a CR is the same line end
  // How long a lone ESC (or ESC [ / ESC O, which are also Alt+[ / Alt+O)
  // waits for the rest of a sequence before it counts as typed.
  int escapeTimeoutMs = 50;
  // How long a longer incomplete sequence or UTF-8 character waits for its
  // remaining bytes before it is dropped.
  int sequenceTimeoutMs = 500;
  // Sequences learnt from the terminal's own description (terminfo), with
  // their key codes; they are matched before the built-in grammar.
  std::vector<std::pair<std::string, int>> extraSequences;
};

// Decodes `bytes` that arrived at nowMs and appends the complete inputs to
// `out` (key events and mouse button presses).  Input still pending from an
// earlier call whose timeout had run out before nowMs is settled first.
void KeyDecoderFeed(KeyDecoder& decoder, std::string_view bytes, int64_t nowMs,
                    std::vector<ConsoleEvent>& out);
// Settles pending input whose timeout has run out at nowMs.
void KeyDecoderTick(KeyDecoder& decoder, int64_t nowMs, std::vector<ConsoleEvent>& out);
// Milliseconds from nowMs until pending input times out (0 when it already
// has), or -1 when nothing is pending.
int KeyDecoderWaitMs(const KeyDecoder& decoder, int64_t nowMs);
// Forgets pending input and any paste in progress.
void KeyDecoderReset(KeyDecoder& decoder);
// Adds a sequence that stands for `key` (ignored unless it starts with ESC
// and has at least two bytes; a sequence already known keeps its first key).
void KeyDecoderAddSequence(KeyDecoder& decoder, const std::string& bytes, int key);

// The extended code of a function or editing key with modifiers held:
// `baseKey` is the unmodified code (0x3B00 F1 ... 0x8600 F12, 0x4800 Up,
// 0x4700 Home, 0x5200 Ins, 9 Tab ...); Alt wins over Ctrl, Ctrl over Shift,
// as the PC keyboard reports them.
int ModifiedKeyCode(int baseKey, bool shift, bool alt, bool ctrl);
// Alt held with a printable ASCII character: the PC code (Alt+A 0x1E00,
// Alt+1 0x7800 ...), or 0 when the PC keyboard has none.
int AltCharacterCode(unsigned char character);

// A readable name of a key code, for test messages and traces: "Ctrl+Left",
// "Alt+F5", "Enter", "'a'", "0x1234".
std::string KeyName(int key);
