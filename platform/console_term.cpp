// console_term.cpp - the console in a Linux terminal, over ncursesw.
//
// The console is 80 columns by 25 rows drawn at the top left of the
// terminal, whatever its size; a smaller terminal shows a request to enlarge
// it instead, and reading keys waits until it has been.  ncurses sets the
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
// restores everything, and so do handlers for the termination signals and
// for crashes, which then hand the signal on to whatever handled it before
// (the default action, or a sanitizer's report).  Their restoring output is
// prepared in advance in a plain buffer, since a signal handler may only
// write(2) and tcsetattr(3).
#include "platform/console_term.h"

#include <fcntl.h>
#include <langinfo.h>
#include <locale.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "platform/console.h"
#include "platform/keydecode.h"
#include "platform/platform.h"

#ifndef NCURSES_WIDECHAR
#define NCURSES_WIDECHAR 1
#endif
#include <curses.h>
#include <term.h>
// term.h names every terminfo capability as a macro; these two would
// replace the console's own fields.
#undef columns
#undef lines

namespace {

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
TerminalConsole Term;

// ---- Restoring the terminal from a signal handler ------------------------------

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
struct sigaction gPreviousAction[sizeof kSignals / sizeof kSignals[0]];
struct sigaction gPreviousWinch;
bool gHandlersInstalled = false;

volatile sig_atomic_t gRestorePending = 0;  // the terminal is in the program's modes
volatile sig_atomic_t gResized = 0;
char gRestoreBytes[512];
size_t gRestoreLength = 0;
int gRestoreInputFd = -1, gRestoreOutputFd = -1, gWakeFd = -1;
termios gRestoreModes{};

void WriteAll(int fd, const char* data, size_t length) {
  while (length > 0) {
    ssize_t n = write(fd, data, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    data += n;
    length -= static_cast<size_t>(n);
  }
}

void WriteAll(int fd, const std::string& text) { WriteAll(fd, text.data(), text.size()); }

// Async-signal-safe: write(2) and tcsetattr(3) only.
void RestoreTerminalNow() {
  if (!gRestorePending) return;
  gRestorePending = 0;
  WriteAll(gRestoreOutputFd, gRestoreBytes, gRestoreLength);
  tcsetattr(gRestoreInputFd, TCSANOW, &gRestoreModes);
}

int SignalIndex(int signal) {
  for (size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i)
    if (kSignals[i] == signal) return static_cast<int>(i);
  return -1;
}

void OnFatalSignal(int signal) {
  int saved = errno;
  RestoreTerminalNow();
  int i = SignalIndex(signal);
  if (i >= 0) sigaction(signal, &gPreviousAction[i], nullptr);
  // The signal is blocked while this handler runs: it is delivered to the
  // previous disposition on return (a fault re-executes and faults again).
  raise(signal);
  errno = saved;
}

void OnResize(int) {
  int saved = errno;
  gResized = 1;
  if (gWakeFd >= 0) {
    char c = 'r';
    ssize_t ignored = write(gWakeFd, &c, 1);
    (void)ignored;
  }
  errno = saved;
}

void InstallSignalHandlers() {
  struct sigaction action {};
  sigemptyset(&action.sa_mask);
  action.sa_handler = OnFatalSignal;
  for (size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i) {
    sigaction(kSignals[i], nullptr, &gPreviousAction[i]);
    // A signal the caller chose to ignore (nohup) stays ignored.
    if (gPreviousAction[i].sa_handler == SIG_IGN) continue;
    sigaction(kSignals[i], &action, nullptr);
  }
  struct sigaction winch {};
  sigemptyset(&winch.sa_mask);
  winch.sa_handler = OnResize;
  winch.sa_flags = SA_RESTART;
  sigaction(SIGWINCH, &winch, &gPreviousWinch);
  gHandlersInstalled = true;
}

void RemoveSignalHandlers() {
  if (!gHandlersInstalled) return;
  for (size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i)
    sigaction(kSignals[i], &gPreviousAction[i], nullptr);
  sigaction(SIGWINCH, &gPreviousWinch, nullptr);
  gHandlersInstalled = false;
}

// ---- Terminal description ---------------------------------------------------------

std::string Capability(const char* name) {
  char* value = tigetstr(name);
  if (value == nullptr || value == reinterpret_cast<char*>(-1)) return "";
  return value;
}

bool StartsWith(const std::string& text, const char* prefix) {
  return text.compare(0, std::strlen(prefix), prefix) == 0;
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
  struct {
    const char* name;
    int key;
  } const kPlain[] = {
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
  struct {
    const char* name;
    int key;
  } const kModified[] = {
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

// ---- Colours -------------------------------------------------------------------------

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

// ---- Size ------------------------------------------------------------------------------

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
  Term.fullRedraw = true;
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

// ---- Backend -----------------------------------------------------------------------------

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
        mvwadd_wch(stdscr, r, c, &shown);  // the last cell of the screen reports ERR but is drawn
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
  wmove(stdscr, std::clamp(Console.cursorRow, 1, kRows) - 1,
        std::clamp(Console.cursorColumn, 1, kColumns) - 1);
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
    if (gResized) TermFlush();
    while (!Term.ready.empty()) {
      ConsoleEvent e = Term.ready.front();
      Term.ready.pop_front();
      // Keys typed while the console cannot be seen are dropped, and so are
      // clicks beside it.
      if (Term.tooSmall) continue;
      if (e.kind == ConsoleEvent::MOUSE && (e.column > kColumns || e.row > kRows)) continue;
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
    pollfd fds[2] = {{Term.inputFd, POLLIN, 0}, {Term.wakePipe[0], POLLIN, 0}};
    int ready = poll(fds, 2, wait);
    now = NowMs();
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

// Copy through the terminal (OSC 52): xterm, tmux, kitty and most others
// put the text on the system clipboard.  The Linux console has no clipboard
// sequence; console.cpp keeps the text for paste in any case.
void TermSetClipboard(const std::string& cp850) {
  if (!Term.running || Term.linuxConsole) return;
  WriteAll(Term.outputFd, "\x1b]52;c;" + Base64(Cp850ToUtf8(cp850)) + "\x07");
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
  setlocale(LC_CTYPE, Term.savedLocale.c_str());
  Term.running = false;
  if (Console.backend == &kTerminalBackend) Console.backend = nullptr;
}

void StopAtExit() {
  if (Term.running) ConsoleStop();
}

// ncursesw writes the code points in the locale's encoding; the console
// draws box characters, so it needs UTF-8 even where LANG is not set.
// Only the character type category is touched: numbers keep the C format.
void ChooseUtf8Locale() {
  const char* current = setlocale(LC_CTYPE, nullptr);
  Term.savedLocale = current ? current : "C";
  setlocale(LC_CTYPE, "");
  for (const char* fallback : {"C.UTF-8", "C.utf8", "en_US.UTF-8"}) {
    const char* codeset = nl_langinfo(CODESET);
    if (codeset && (std::strcmp(codeset, "UTF-8") == 0 || std::strcmp(codeset, "utf8") == 0)) return;
    setlocale(LC_CTYPE, fallback);
  }
}

// The restoring output of the signal handlers, in the order ConsoleStop
// uses: the program's modes off, normal colours and cursor, the normal
// screen.
void PrepareRestoreBytes() {
  std::string bytes = std::string(kPasteOff) + Term.shapeDefault;
  if (Console.mousePresent) bytes += kMouseOff;
  bytes += Capability("sgr0") + Capability("cnorm") + Capability("rmcup");
  gRestoreLength = std::min(bytes.size(), sizeof gRestoreBytes);
  std::memcpy(gRestoreBytes, bytes.data(), gRestoreLength);
  gRestoreInputFd = Term.inputFd;
  gRestoreOutputFd = Term.outputFd;
  gRestoreModes = Term.savedInput;
}

void Unwind(const char*) {
  if (Term.input) fclose(Term.input);
  if (Term.output) fclose(Term.output);
  Term.input = Term.output = nullptr;
  RemoveSignalHandlers();
  setlocale(LC_CTYPE, Term.savedLocale.c_str());
}

}  // namespace

bool ConsoleStartTerminalOn(int inputFd, int outputFd, const std::string& terminalType) {
  if (Term.running) return true;
  if (!isatty(inputFd) || !isatty(outputFd)) return false;
  if (terminalType.empty() || terminalType == "dumb" || terminalType == "unknown") return false;
  termios modes{};
  if (tcgetattr(inputFd, &modes) != 0) return false;

  // The terminal's description must exist before newterm is tried: a
  // newterm that fails keeps memory of ncurses' for good.
  {
    TERMINAL* previous = cur_term;
    int status = 0;
    if (setupterm(terminalType.c_str(), outputFd, &status) != OK) {
      set_curterm(previous);
      return false;
    }
    del_curterm(set_curterm(previous));
  }

  Term = TerminalConsole{};
  Term.inputFd = inputFd;
  Term.outputFd = outputFd;
  Term.savedInput = modes;
  ChooseUtf8Locale();
  // Before newterm: ncurses installs handlers of its own for the signals
  // that still have their default action.
  InstallSignalHandlers();

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
    endwin();
    delscreen(Term.screen);
    Term.screen = nullptr;
    tcsetattr(inputFd, TCSANOW, &modes);
    Unwind("no cursor addressing");
    return false;
  }
  if (pipe2(Term.wakePipe, O_NONBLOCK | O_CLOEXEC) != 0) {
    endwin();
    delscreen(Term.screen);
    Term.screen = nullptr;
    tcsetattr(inputFd, TCSANOW, &modes);
    Unwind("pipe");
    return false;
  }
  gWakeFd = Term.wakePipe[1];

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

  // The console's cells: 25 rows of 80 blanks, all to be drawn.
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
