// console_term_size.cpp - the terminal's size: the console is 80 x 25,
// centred in a larger terminal (mouse clicks are translated to it); a
// smaller terminal shows a request to enlarge it.
#include <sys/ioctl.h>

#include <algorithm>
#include <string>

#include "platform/console_term_internal.h"

namespace termconsole {

void ReadTerminalSize() {
  winsize size{};
  if (ioctl(Term.outputFd, TIOCGWINSZ, &size) == 0 && size.ws_row > 0 && size.ws_col > 0) {
    Term.terminalRows = size.ws_row;
    Term.terminalColumns = size.ws_col;
  } else {
    Term.terminalRows = LINES;
    Term.terminalColumns = COLS;
  }
  if (Term.terminalRows != LINES || Term.terminalColumns != COLS)
    resizeterm(Term.terminalRows, Term.terminalColumns);
  Term.tooSmall = Term.terminalRows < kRows || Term.terminalColumns < kColumns;
  Term.originRow = Term.tooSmall ? 0 : (Term.terminalRows - kRows) / 2;
  Term.originColumn = Term.tooSmall ? 0 : (Term.terminalColumns - kColumns) / 2;
  Term.fullRedraw = true;
}

bool MouseOnConsole(ConsoleEvent& event) {
  event.row -= Term.originRow;
  event.column -= Term.originColumn;
  return event.row >= 1 && event.row <= kRows && event.column >= 1 && event.column <= kColumns;
}

void ShowTooSmall() {
  werase(stdscr);
  std::string size = std::to_string(Term.terminalColumns) + " x " + std::to_string(Term.terminalRows);
  const std::string lines[2] = {"Ampliau el terminal a 80 x 25 (ara " + size + ")",
                                "Enlarge the terminal to 80 x 25 (now " + size + ")"};
  for (int i = 0; i < 2 && i < Term.terminalRows; ++i)
    mvwaddnstr(stdscr, i, 0, lines[i].c_str(),
               std::min<int>(static_cast<int>(lines[i].size()), Term.terminalColumns));
  if (Term.cursorVisibleSent != 0) {
    curs_set(0);
    Term.cursorVisibleSent = 0;
  }
  wnoutrefresh(stdscr);
  doupdate();
}

}  // namespace termconsole
