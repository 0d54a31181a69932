// console_term_colours.cpp - the console's PC colour attributes as curses
// colour pairs: 16 colours where the terminal has them, bright foregrounds
// in bold with 8, reverse and bold without colours.
#include "platform/console_term_internal.h"

namespace termconsole {

namespace {

// The PC palette has blue in bit 0 and red in bit 2; ANSI the other way.
int AnsiColour(int pc) { return ((pc & 1) << 2) | (pc & 2) | ((pc & 4) >> 2); }

short PairFor(int foreground, int background) {
  int index = foreground * 16 + background;
  if (Term.pairOf[index]) return Term.pairOf[index];
  if (Term.nextPair < Term.pairLimit &&
      init_pair(static_cast<short>(Term.nextPair), static_cast<short>(foreground),
                static_cast<short>(background)) == OK) {
    Term.pairOf[index] = static_cast<short>(Term.nextPair++);
    return Term.pairOf[index];
  }
  // Out of pairs: keep at least the background of some made pair.
  for (int f = 0; f < 16; ++f)
    if (Term.pairOf[f * 16 + background]) return Term.pairOf[f * 16 + background];
  return 0;
}

}  // namespace

void StyleOf(unsigned char attribute, attr_t& attributes, short& pair) {
  if (!Term.styleKnown[attribute]) {
    int fg = attribute & 0x0F, bg = (attribute >> 4) & 0x0F;
    attr_t a = A_NORMAL;
    short p = 0;
    if (Term.colours >= 16) {
      p = PairFor(AnsiColour(fg) | (fg & 8), AnsiColour(bg) | (bg & 8));
    } else if (Term.colours >= 8) {
      // Bright foregrounds through bold; a bright background has no
      // equivalent and shows in its dark colour.
      p = PairFor(AnsiColour(fg), AnsiColour(bg));
      if (fg & 8) a |= A_BOLD;
    } else {
      if (bg != 0) a |= A_REVERSE;
      if (fg & 8) a |= A_BOLD;
    }
    Term.styleAttributes[attribute] = a;
    Term.stylePair[attribute] = p;
    Term.styleKnown[attribute] = true;
  }
  attributes = Term.styleAttributes[attribute];
  pair = Term.stylePair[attribute];
}

}  // namespace termconsole
