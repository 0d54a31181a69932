// console_term_internal.h - what the files of the terminal console share:
// its state, the modes it switches on, and the steps each file provides.
// Only platform/console_term*.cpp include it: it brings in ncurses, whose
// macros must not reach the rest of the program.
#pragma once
#include <signal.h>
#include <termios.h>

#include <cstddef>
#include <deque>
#include <string>

#include "platform/console.h"
#include "platform/keydecode.h"

#ifndef NCURSES_WIDECHAR
#define NCURSES_WIDECHAR 1
#endif
#include <curses.h>
#include <term.h>
// term.h names every terminfo capability as a macro; these two would
// replace the console's own fields.
#undef columns
#undef lines

namespace termconsole {

constexpr int kRows = 25, kColumns = 80;

// Terminal modes the program switches on, and off again at the end.
constexpr const char* kMouseOn = "\x1b[?1000h\x1b[?1006h";
constexpr const char* kMouseOff = "\x1b[?1006l\x1b[?1000l";
constexpr const char* kPasteOn = "\x1b[?2004h";
constexpr const char* kPasteOff = "\x1b[?2004l";

struct TerminalConsole {
  bool running = false;
  SCREEN* screen = nullptr;
  FILE* input = nullptr;  // duplicates of the descriptors, for newterm
  FILE* output = nullptr;
  int inputFd = -1, outputFd = -1;
  termios savedInput{};
  std::string savedLocale;
  int wakePipe[2] = {-1, -1};

  int terminalRows = 0, terminalColumns = 0;
  // Where the console's first row and column stand in a larger terminal
  // (0-based): the console is centred in it.
  int originRow = 0, originColumn = 0;
  bool tooSmall = false;
  bool fullRedraw = true;

  // Colours.
  int colours = 0;    // 0: none, 8 or 16 (or more)
  int pairLimit = 0;  // COLOR_PAIRS
  int nextPair = 1;
  short pairOf[256] = {};     // curses foreground * 16 + background -> pair (0: not made yet)
  bool styleKnown[256] = {};  // by cell attribute
  attr_t styleAttributes[256] = {};
  short stylePair[256] = {};

  // Cursor.
  int cursorVisibleSent = -1;  // -1 unknown
  int cursorShapeSent = -1;    // -1 unknown, 0 block, 1 insert
  std::string shapeInsert, shapeBlock, shapeDefault;
  bool linuxConsole = false;

  // Input.
  KeyDecoder decoder;
  std::deque<ConsoleEvent> ready;
  bool inputLost = false;
  int lostAnswers = 0;
};
extern TerminalConsole Term;

// ---- Signals (console_term_signals.cpp) ------------------------------------------
// Set by the SIGWINCH handler; the backend reads the new size when it sees it.
extern volatile sig_atomic_t gResized;
// The terminal is in the program's modes: a signal handler restores them.
extern volatile sig_atomic_t gRestorePending;
// The write end of the self-pipe the SIGWINCH handler wakes the wait with.
extern int gWakeFd;
// Writes everything, again after EINTR (write(2) only: safe in a handler).
void WriteAll(int fd, const char* data, size_t length);
void WriteAll(int fd, const std::string& text);
// Installs the handlers of the termination signals, the crashes and SIGWINCH.
void InstallSignalHandlers();
// Puts back the handlers found at install, where ours are still installed.
void RemoveSignalHandlers();
// Restores the terminal from a signal handler (async-signal-safe; nothing
// when it is not in the program's modes).
void RestoreTerminalFromHandler();
// Whether the console found `signal` ignored when it installed its
// handlers (false when it installed none).
bool ConsoleFoundIgnored(int signal);
// Prepares what the handlers write to restore the terminal (ConsoleStop's
// order: the program's modes off, normal colours and cursor, normal screen).
void PrepareRestoreBytes();

// ---- The terminal's description (console_term_terminfo.cpp) ----------------------
// A terminfo string capability of the current terminal, "" when it has none.
std::string Capability(const char* name);
// The cursor shapes for insert and overwrite mode and the terminal's default.
void ChooseCursorShapes(const std::string& type);
// Adds the terminal's own key sequences to the decoder.
void LearnKeySequences();

// ---- Colours (console_term_colours.cpp) ------------------------------------------
// The curses attributes and colour pair of a cell attribute (background * 16
// + foreground, PC palette).
void StyleOf(unsigned char attribute, attr_t& attributes, short& pair);

// ---- Size (console_term_size.cpp) --------------------------------------------------
// Reads the terminal's size, decides whether the console fits in it and
// where it stands, centred.
void ReadTerminalSize();
// A mouse event's terminal position made the console's; false when it lies
// beside the console.
bool MouseOnConsole(ConsoleEvent& event);
// The request to enlarge a terminal smaller than the console.
void ShowTooSmall();

// ---- Clipboard (console_term_clipboard.cpp) ----------------------------------------
// Copies the text to the terminal's clipboard (OSC 52).
void TermSetClipboard(const std::string& cp850);

// ---- Locale (console_term_locale.cpp) ----------------------------------------------
// Makes the character type locale UTF-8, remembering the one found.
void ChooseUtf8Locale();
// Puts back the character type locale ChooseUtf8Locale found.
void RestoreLocale();

}  // namespace termconsole
