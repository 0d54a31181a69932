// console_term_terminfo.cpp - what the terminal console takes from the
// terminal's terminfo description: capabilities, cursor shapes and key
// sequences.
#include <cstring>
#include <string>

#include "platform/console_term_internal.h"

namespace termconsole {

namespace {

bool StartsWith(const std::string& text, const char* prefix) {
  return text.compare(0, std::strlen(prefix), prefix) == 0;
}

}  // namespace

std::string Capability(const char* name) {
  char* value = tigetstr(name);
  if (value == nullptr || value == reinterpret_cast<char*>(-1)) return "";
  return value;
}

// Half-height cursor in insert mode, full block in overwrite mode.
void ChooseCursorShapes(const std::string& type) {
  Term.linuxConsole = type == "linux" || StartsWith(type, "linux-") || StartsWith(type, "con80");
  if (Term.linuxConsole) {
    // The Linux console's own cursor sizes: 4 lower half, 6 block, 0 default.
    Term.shapeInsert = "\x1b[?4c";
    Term.shapeBlock = "\x1b[?6c";
    Term.shapeDefault = "\x1b[?0c";
    return;
  }
  // DECSCUSR, as terminfo's Ss describes it where it does; terminals that
  // do not know it ignore the sequence.  4 steady underline, 2 steady block.
  std::string set = Capability("Ss");
  if (!set.empty()) {
    const char* insert = tiparm(set.c_str(), 4);
    Term.shapeInsert = insert ? insert : "";
    const char* block = tiparm(set.c_str(), 2);
    Term.shapeBlock = block ? block : "";
  }
  if (Term.shapeInsert.empty() || Term.shapeBlock.empty()) {
    Term.shapeInsert = "\x1b[4 q";
    Term.shapeBlock = "\x1b[2 q";
  }
  Term.shapeDefault = Capability("Se");
  if (Term.shapeDefault.empty()) Term.shapeDefault = "\x1b[0 q";
}

// Key sequences from the terminal's description, added to the decoder's
// built-in grammar (which already knows xterm, the Linux console and rxvt).
void LearnKeySequences() {
  // A capability's name and the key code its sequence stands for.
  struct NamedKey {
    const char* name;
    int key;
  };
  const NamedKey kPlain[] = {
      {"kcuu1", 0x4800}, {"kcud1", 0x5000}, {"kcub1", 0x4B00}, {"kcuf1", 0x4D00}, {"khome", 0x4700},
      {"kend", 0x4F00},  {"kpp", 0x4900},   {"knp", 0x5100},   {"kich1", 0x5200}, {"kdch1", 0x5300},
      {"kb2", 0x4C00},   {"kcbt", 0x0F00},  {"kent", 13},      {"kf11", 0x8500},  {"kf12", 0x8600},
  };
  for (const auto& k : kPlain) KeyDecoderAddSequence(Term.decoder, Capability(k.name), k.key);
  for (int n = 1; n <= 10; ++n)
    KeyDecoderAddSequence(Term.decoder, Capability(("kf" + std::to_string(n)).c_str()),
                          0x3B00 + (n - 1) * 0x100);
  // ncurses' extended names: kLFT5 is Ctrl+Left; the digit is xterm's
  // modifier parameter (3 Alt, 5 Ctrl, 7 Ctrl+Alt ...).
  const NamedKey kModified[] = {
      {"kUP", 0x4800},  {"kDN", 0x5000},  {"kLFT", 0x4B00}, {"kRIT", 0x4D00}, {"kHOM", 0x4700},
      {"kEND", 0x4F00}, {"kPRV", 0x4900}, {"kNXT", 0x5100}, {"kIC", 0x5200},  {"kDC", 0x5300},
  };
  for (const auto& k : kModified) {
    for (int parameter = 3; parameter <= 8; ++parameter) {
      int bits = parameter - 1;
      std::string name = std::string(k.name) + std::to_string(parameter);
      KeyDecoderAddSequence(Term.decoder, Capability(name.c_str()),
                            ModifiedKeyCode(k.key, bits & 1, bits & 2, bits & 4));
    }
  }
}

}  // namespace termconsole
