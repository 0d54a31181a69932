// console_term_clipboard.cpp - copy to the terminal's clipboard.
#include <string>

#include "platform/console_term_internal.h"
#include "platform/platform.h"

namespace termconsole {

namespace {

std::string Base64(const std::string& bytes) {
  static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) |
                 (static_cast<unsigned char>(bytes[i + 1]) << 8) | static_cast<unsigned char>(bytes[i + 2]);
    for (int s = 18; s >= 0; s -= 6) out += kDigits[(v >> s) & 63];
  }
  if (i < bytes.size()) {
    unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    out += kDigits[(v >> 18) & 63];
    out += kDigits[(v >> 12) & 63];
    out += i + 1 < bytes.size() ? kDigits[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

}  // namespace

// Copy through the terminal (OSC 52): xterm, tmux, kitty and most others
// put the text on the system clipboard.  The Linux console has no clipboard
// sequence; console.cpp keeps the text for paste in any case.
void TermSetClipboard(const std::string& cp850) {
  if (!Term.running || Term.linuxConsole) return;
  WriteAll(Term.outputFd, "\x1b]52;c;" + Base64(Cp850ToUtf8(cp850)) + "\x07");
}

}  // namespace termconsole
