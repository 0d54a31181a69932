// console_term.cpp - the console in a Linux terminal, over ncursesw.
//
// The console is 80 columns by 25 rows drawn in the middle of the
// terminal, whatever its size (mouse clicks are translated to it); a smaller
// terminal shows a request to enlarge it instead, and reading keys waits
// until it has been.  ncurses sets the
// terminal up (terminfo, raw mode, colours, the alternate screen) and draws
// the cells; only the damaged cells are handed to it, and it sends only
// what changed on the screen.  The few things curses has no call for are
// written to the terminal directly, right after ncurses has flushed its own
// output: the cursor shape (DECSCUSR, or the Linux console's own sequence),
// mouse reporting (SGR 1006), bracketed paste and the clipboard (OSC 52).
//
// Keys are read as raw bytes with poll(2)/read(2) and decoded by the pure
// decoder of keydecode.cpp; curses' getch is never used.  A self-pipe wakes
// the wait when the terminal is resized.
//
// The office's terminal must never be left in raw mode: ConsoleStop
// restores everything, and so do the signal handlers of
// console_term_signals.cpp.  The terminal's description, the colours, the
// size, the clipboard and the locale have files of their own beside this
// one (console_term_internal.h).
#include "platform/console_term.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/console.h"
#include "platform/console_term_internal.h"
#include "platform/keydecode.h"
#include "platform/platform.h"

namespace termconsole {

TerminalConsole Term;

}  // namespace termconsole

using namespace termconsole;

namespace {

void TermFlush() {
  if (!Term.running) return;
  if (gResized) {
    gResized = 0;
    ReadTerminalSize();
  }
  if (Term.tooSmall) {
    ShowTooSmall();
    return;
  }
  if (Term.fullRedraw) {
    werase(stdscr);
    clearok(curscr, TRUE);
    std::fill(Console.damaged.begin(), Console.damaged.end(), 1);
    Console.anyDamage = true;
    Term.fullRedraw = false;
  }
  if (Console.anyDamage) {
    for (int r = 0; r < Console.rows && r < kRows; ++r) {
      for (int c = 0; c < Console.columns && c < kColumns; ++c) {
        size_t i = static_cast<size_t>(r) * Console.columns + c;
        if (!Console.damaged[i]) continue;
        const ConsoleCell& cell = Console.cells[i];
        wchar_t text[2] = {static_cast<wchar_t>(Cp850ToUnicode(cell.ch)), 0};
        attr_t attributes;
        short pair;
        StyleOf(cell.attr, attributes, pair);
        cchar_t shown;
        setcchar(&shown, text, attributes, pair, nullptr);
        // The last cell of the screen reports ERR but is drawn.
        mvwadd_wch(stdscr, r + Term.originRow, c + Term.originColumn, &shown);
      }
    }
    std::fill(Console.damaged.begin(), Console.damaged.end(), 0);
    Console.anyDamage = false;
  }
  int visible = Console.cursorVisible ? 1 : 0;
  if (visible != Term.cursorVisibleSent) {
    curs_set(visible);
    Term.cursorVisibleSent = visible;
    Term.cursorShapeSent = -1;  // making it visible may reset the shape
  }
  wmove(stdscr, std::clamp(Console.cursorRow, 1, kRows) - 1 + Term.originRow,
        std::clamp(Console.cursorColumn, 1, kColumns) - 1 + Term.originColumn);
  wnoutrefresh(stdscr);
  doupdate();  // ends with ncurses' output flushed, so direct writes follow in order
  int shape = Console.cursorInsertShape ? 1 : 0;
  if (visible && shape != Term.cursorShapeSent) {
    WriteAll(Term.outputFd, shape ? Term.shapeInsert : Term.shapeBlock);
    Term.cursorShapeSent = shape;
  }
}

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void ReadInput(int64_t now) {
  char buffer[4096];
  ssize_t n = read(Term.inputFd, buffer, sizeof buffer);
  if (n > 0) {
    std::vector<ConsoleEvent> events;
    KeyDecoderFeed(Term.decoder, std::string_view(buffer, static_cast<size_t>(n)), now, events);
    Term.ready.insert(Term.ready.end(), events.begin(), events.end());
  } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
    Term.inputLost = true;  // the terminal went away
  }
}

bool TermPoll(ConsoleEvent& event, int timeoutMs) {
  if (!Term.running) return false;
  int64_t start = NowMs();
  for (;;) {
    EndIfRequested();  // the terminal closed (SIGHUP) or the program asked to end
    if (gResized) TermFlush();
    while (!Term.ready.empty()) {
      ConsoleEvent e = Term.ready.front();
      Term.ready.pop_front();
      // Keys typed while the console cannot be seen are dropped, and so are
      // clicks beside it.
      if (Term.tooSmall) continue;
      if (e.kind == ConsoleEvent::MOUSE && !MouseOnConsole(e)) continue;
      event = e;
      return true;
    }
    if (Term.inputLost) {
      // No terminal any more: a wait without limit is answered with Esc,
      // which leaves every dialogue, so the program ends its work in order.
      // A program that keeps asking regardless ends as on a hang-up.
      if (timeoutMs >= 0) return false;
      if (++Term.lostAnswers > 1000) {
        raise(SIGHUP);
        EndIfRequested();
        exit(1);  // SIGHUP ignored (nohup): end all the same, restoring at exit
      }
      event = ConsoleEvent{};
      event.kind = ConsoleEvent::KEY;
      event.key = 27;
      return true;
    }
    int64_t now = NowMs();
    int wait = -1;
    if (timeoutMs >= 0) wait = static_cast<int>(std::max<int64_t>(0, start + timeoutMs - now));
    int decoderWait = KeyDecoderWaitMs(Term.decoder, now);
    if (decoderWait >= 0 && (wait < 0 || decoderWait < wait)) wait = decoderWait;
    pollfd fds[3] = {{Term.inputFd, POLLIN, 0}, {Term.wakePipe[0], POLLIN, 0}, {EndRequestFd(), POLLIN, 0}};
    int ready = poll(fds, 3, wait);
    now = NowMs();
    if (ready > 0 && (fds[2].revents & POLLIN)) EndIfRequested();
    if (ready > 0 && (fds[1].revents & POLLIN)) {
      char drain[64];
      while (read(Term.wakePipe[0], drain, sizeof drain) > 0) {}
    }
    if (ready > 0 && (fds[0].revents & (POLLIN | POLLHUP | POLLERR))) ReadInput(now);
    std::vector<ConsoleEvent> events;
    KeyDecoderTick(Term.decoder, now, events);
    Term.ready.insert(Term.ready.end(), events.begin(), events.end());
    if (!Term.ready.empty() || gResized) continue;
    if (timeoutMs >= 0 && now - start >= timeoutMs) return false;
  }
}

void TermFlushInput() {
  if (!Term.running) return;
  tcflush(Term.inputFd, TCIFLUSH);
  KeyDecoderReset(Term.decoder);
  Term.ready.clear();
}

// The bell goes with what is on the screen at that moment (a refused
// input), so the screen is brought up to date first.
void TermBell() {
  if (!Term.running) return;
  TermFlush();
  beep();
}

void TermStop();

const ConsoleBackend kTerminalBackend = {TermFlush, TermPoll,         TermFlushInput,
                                         TermBell,  TermSetClipboard, TermStop};

void TermStop() {
  if (!Term.running) return;
  gRestorePending = 0;
  wnoutrefresh(stdscr);
  doupdate();
  endwin();  // leaves the alternate screen and restores the modes saved at start
  std::string off = std::string(kPasteOff) + Term.shapeDefault;
  if (Console.mousePresent) off += kMouseOff;
  WriteAll(Term.outputFd, off);
  tcflush(Term.inputFd, TCIFLUSH);  // mouse reports or keys in flight are not the shell's
  tcsetattr(Term.inputFd, TCSANOW, &Term.savedInput);
  delscreen(Term.screen);
  Term.screen = nullptr;
  fclose(Term.input);
  fclose(Term.output);
  Term.input = Term.output = nullptr;
  RemoveSignalHandlers();
  gWakeFd = -1;
  close(Term.wakePipe[0]);
  close(Term.wakePipe[1]);
  Term.wakePipe[0] = Term.wakePipe[1] = -1;
  RestoreLocale();
  Term.running = false;
  if (Console.backend == &kTerminalBackend) Console.backend = nullptr;
}

void StopAtExit() {
  if (Term.running) ConsoleStop();
}

// Undoes a start that failed at the step `what` names: the screen ncurses
// made (the input's modes put back as they were), the streams, the signal
// handlers and the locale.
void Unwind(const char* /*what*/) {
  if (Term.screen) {
    endwin();
    delscreen(Term.screen);
    Term.screen = nullptr;
    tcsetattr(Term.inputFd, TCSANOW, &Term.savedInput);
  }
  if (Term.input) fclose(Term.input);
  if (Term.output) fclose(Term.output);
  Term.input = Term.output = nullptr;
  RemoveSignalHandlers();
  RestoreLocale();
}

}  // namespace

namespace {
TerminalProblem gTerminalProblem = TerminalProblem::kNone;
}  // namespace

TerminalProblem ConsoleTerminalProblem() { return gTerminalProblem; }

namespace {

// Whether the terminal database describes the type: this must be known
// before newterm is tried, since a newterm that fails keeps memory of
// ncurses' for good.  `status` is setupterm's (0: no such type).
bool TerminalTypeKnown(const std::string& terminalType, int outputFd, int& status) {
  TERMINAL* previous = cur_term;
  status = 0;
  if (setupterm(terminalType.c_str(), outputFd, &status) != OK) {
    set_curterm(previous);
    return false;
  }
  del_curterm(set_curterm(previous));
  return true;
}

// The streams ncurses works on (copies of the descriptors), its screen and
// the wake-up pipe; on a failure everything the start made so far is
// undone.
bool OpenScreen(int inputFd, int outputFd, const std::string& terminalType) {
  int in = dup(inputFd), out = dup(outputFd);
  Term.input = in >= 0 ? fdopen(in, "r") : nullptr;
  Term.output = out >= 0 ? fdopen(out, "w") : nullptr;
  if (!Term.input || !Term.output) {
    if (!Term.input && in >= 0) close(in);
    if (!Term.output && out >= 0) close(out);
    Unwind("descriptors");
    return false;
  }
  Term.screen = newterm(terminalType.c_str(), Term.output, Term.input);
  if (!Term.screen) {
    Unwind("unknown terminal");
    return false;
  }
  set_term(Term.screen);
  if (Capability("cup").empty()) {  // a terminal that cannot place the cursor is of no use
    Unwind("no cursor addressing");
    return false;
  }
  if (pipe2(Term.wakePipe, O_NONBLOCK | O_CLOEXEC) != 0) {
    Unwind("pipe");
    return false;
  }
  gWakeFd = Term.wakePipe[1];
  return true;
}

// Raw input: every key a key, no signals, flow control or echo.
void SetRawModes(int inputFd, const termios& modes) {
  raw();  // Ctrl+C, Ctrl+S, Ctrl+Z ... are keys, not signals or flow control
  noecho();
  nonl();
  intrflush(stdscr, FALSE);
  keypad(stdscr, FALSE);  // keys are decoded from the raw bytes
  typeahead(-1);          // ncurses must never look at the input
  scrollok(stdscr, FALSE);
  leaveok(stdscr, FALSE);
  // The input descriptor gets the same raw mode even when it is another
  // device than the output, which is the one ncurses sets.
  termios rawModes = modes;
  rawModes.c_iflag &=
      ~static_cast<tcflag_t>(IXON | IXOFF | ICRNL | INLCR | IGNCR | ISTRIP | BRKINT | INPCK | PARMRK);
  rawModes.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG | IEXTEN);
  rawModes.c_cc[VMIN] = 1;
  rawModes.c_cc[VTIME] = 0;
  tcsetattr(inputFd, TCSANOW, &rawModes);
}

// The console's cells: 25 rows of 80 blanks, all to be drawn, and its
// state as at a fresh start.
void ResetConsoleState() {
  Console.rows = kRows;
  Console.columns = kColumns;
  Console.cells.assign(static_cast<size_t>(kRows) * kColumns, ConsoleCell{});
  Console.damaged.assign(Console.cells.size(), 1);
  Console.anyDamage = true;
  Console.cursorRow = Console.cursorColumn = 1;
  Console.attribute = 0x07;
  Console.cursorVisible = true;
  Console.cursorInsertShape = false;
  Console.insertToggle = false;
  Console.clipboard.clear();
  Console.scripted.clear();
}

}  // namespace

bool ConsoleStartTerminalOn(int inputFd, int outputFd, const std::string& terminalType) {
  if (Term.running) return true;
  gTerminalProblem = TerminalProblem::kNotATerminal;
  if (!isatty(inputFd) || !isatty(outputFd)) return false;
  gTerminalProblem = TerminalProblem::kNoType;
  if (terminalType.empty() || terminalType == "dumb" || terminalType == "unknown") return false;
  gTerminalProblem = TerminalProblem::kOther;
  termios modes{};
  if (tcgetattr(inputFd, &modes) != 0) return false;
  int status = 0;
  if (!TerminalTypeKnown(terminalType, outputFd, status)) {
    if (status == 0) gTerminalProblem = TerminalProblem::kUnknownType;
    return false;
  }

  Term = TerminalConsole{};
  Term.inputFd = inputFd;
  Term.outputFd = outputFd;
  Term.savedInput = modes;
  ChooseUtf8Locale();
  // Before newterm: ncurses installs handlers of its own for the signals
  // that still have their default action.
  InstallSignalHandlers();
  if (!OpenScreen(inputFd, outputFd, terminalType)) return false;
  SetRawModes(inputFd, modes);

  if (has_colors()) {
    start_color();
    Term.colours = COLORS;
    Term.pairLimit = COLOR_PAIRS;
  }
  std::string type = terminalType;
  ChooseCursorShapes(type);
  LearnKeySequences();
  if (const char* delay = getenv("ESCDELAY")) {
    int ms = atoi(delay);
    if (ms > 0 && ms <= 2000) Term.decoder.escapeTimeoutMs = ms;
  }

  ResetConsoleState();
  // Mouse reporting where the terminal describes a mouse (xterm, tmux,
  // screen, rxvt ...); the Linux console reports none without gpm.
  Console.mousePresent = !Capability("kmous").empty() && !Term.linuxConsole;
  Console.backend = &kTerminalBackend;

  ReadTerminalSize();
  std::string modesOn = kPasteOn;
  if (Console.mousePresent) modesOn += kMouseOn;
  WriteAll(outputFd, modesOn);
  PrepareRestoreBytes();
  Term.running = true;
  gTerminalProblem = TerminalProblem::kNone;
  gRestorePending = 1;
  static bool atExitRegistered = false;
  if (!atExitRegistered) {
    atexit(StopAtExit);
    atExitRegistered = true;
  }
  return true;
}

bool ConsoleStartTerminal() {
  const char* type = getenv("TERM");
  return ConsoleStartTerminalOn(STDIN_FILENO, STDOUT_FILENO, type ? type : "");
}
