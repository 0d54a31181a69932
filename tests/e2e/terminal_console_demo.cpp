// terminal_console_demo - a small screen on the terminal console, for the
// end-to-end check in tmux (terminal_console.sh).
//
// Draws a double frame with a title, the sixteen colours, the console
// glyphs of low bytes, shading blocks and a mark in the last cell, then reads events until Ctrl+Q.
// Every event is appended to the log file named on the command line, one
// line each: "K 4800" (key code in hexadecimal) or "M 1 10 5" (button,
// column, row).  Ins switches the cursor between block and half height.
#include <cstdio>
#include <string>

#include "platform/console.h"
#include "platform/keydecode.h"
#include "platform/platform.h"

namespace {

void Put(int row, int column, const std::string& cp850, unsigned char attribute) {
  ConsoleSetCursor(row, column);
  ConsoleSetAttribute(attribute);
  ConsoleWrite(cp850);
}

void DrawScreen() {
  ConsoleClear(0x07);
  // Double frame, bright white on blue, rows 2..8, columns 5..44.
  Put(2, 5, "\xC9" + std::string(38, '\xCD') + "\xBB", 0x1F);
  for (int row = 3; row <= 7; ++row) Put(row, 5, "\xBA" + std::string(38, ' ') + "\xBA", 0x1F);
  Put(8, 5, "\xC8" + std::string(38, '\xCD') + "\xBC", 0x1F);
  Put(3, 7, "Liquidaci\xA2 de quotes", 0x1E);  // yellow title
  Put(5, 7, "\x10 Opci\xA2 \x11", 0x1F);
  Put(6, 7, "\xB0\xB1\xB2\xDB", 0x1F);
  // The sixteen foregrounds on black, then the eight backgrounds.
  for (int c = 0; c < 16; ++c)
    Put(10, 5 + c, std::string(1, "0123456789ABCDEF"[c]), static_cast<unsigned char>(c));
  for (int c = 0; c < 8; ++c) Put(11, 5 + c, " ", static_cast<unsigned char>(c << 4));
  Put(24, 1, "READY", 0x70);
  Put(25, 80, "#", 0x70);  // the last cell: drawing it must not scroll the screen
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: terminal_console_demo LOGFILE\n");
    return 2;
  }
  if (!ConsoleStartTerminal()) {
    fprintf(stderr, "no terminal\n");
    return 3;
  }
  DrawScreen();
  ConsoleSetCursor(20, 40);
  for (;;) {
    ConsoleEvent e;
    if (!ConsolePollEvent(e, -1)) continue;
    char line[64];
    if (e.kind == ConsoleEvent::MOUSE) {
      snprintf(line, sizeof line, "M %d %d %d\n", e.button, e.column, e.row);
    } else {
      snprintf(line, sizeof line, "K %04X\n", static_cast<unsigned>(e.key));
    }
    AppendToFile(argv[1], line);
    if (e.kind == ConsoleEvent::KEY && e.key == 17) break;  // Ctrl+Q
    if (e.kind == ConsoleEvent::KEY && e.key == 0x5200) {
      Console.insertToggle = !Console.insertToggle;
      ConsoleSetCursorShape(Console.insertToggle);
    }
    std::string shown = e.kind == ConsoleEvent::MOUSE ? "mouse" : KeyName(e.key);
    Put(20, 1, "Last: " + Utf8ToCp850(shown) + std::string(20, ' '), 0x07);
    ConsoleSetCursor(20, 40);
  }
  ConsoleStop();
  return 0;
}
