// console_term_signals.cpp - the program's signal handlers: the terminal
// console's, and the orderly end on a request to end.
//
// The office's terminal must never be left in raw mode: handlers for the
// termination signals and for crashes restore it, then hand the signal on
// to whatever handled it before (the default action, or a sanitizer's
// report).  Their restoring output is prepared in advance in a plain
// buffer, since a signal handler may only write(2) and tcsetattr(3).  A
// SIGWINCH handler notes a resize and wakes the wait for keys through a
// self-pipe.
//
// At the end a handler found at start is put back only while ours is still
// installed: a handler some other part of the process installed since then
// is left in place.
//
// Once the program asks for an orderly end (InstallEndSignals), SIGHUP,
// SIGINT and SIGTERM get a handler of their own that only notes the request
// and writes to a pipe of its own, which the pauses and the wait for keys
// poll; the program then ends at its next safe point, after the steps the
// upper layers registered (a property's transaction rolled back, the
// station's lock records freed), instead of dying in the middle of them.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/console_term_internal.h"
#include "platform/platform.h"

namespace termconsole {

volatile sig_atomic_t gRestorePending = 0;
volatile sig_atomic_t gResized = 0;
int gWakeFd = -1;

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
struct sigaction gPreviousAction[sizeof kSignals / sizeof kSignals[0]];
struct sigaction gPreviousWinch;
bool gHandlersInstalled = false;

char gRestoreBytes[512];
size_t gRestoreLength = 0;
int gRestoreInputFd = -1, gRestoreOutputFd = -1;
termios gRestoreModes{};

}  // namespace

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

namespace {

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

// Puts back `previous` for `signal` if `ours` is still its handler.
void RestoreIfOurs(int signal, void (*ours)(int), const struct sigaction& previous) {
  struct sigaction current {};
  if (sigaction(signal, nullptr, &current) != 0) return;
  if ((current.sa_flags & SA_SIGINFO) == 0 && current.sa_handler == ours)
    sigaction(signal, &previous, nullptr);
}

}  // namespace

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

void RestoreTerminalFromHandler() { RestoreTerminalNow(); }

bool ConsoleFoundIgnored(int signal) {
  if (!gHandlersInstalled) return false;
  int i = SignalIndex(signal);
  return i >= 0 && gPreviousAction[i].sa_handler == SIG_IGN;
}

void RemoveSignalHandlers() {
  if (!gHandlersInstalled) return;
  for (size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i)
    RestoreIfOurs(kSignals[i], OnFatalSignal, gPreviousAction[i]);
  RestoreIfOurs(SIGWINCH, OnResize, gPreviousWinch);
  gHandlersInstalled = false;
}

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

}  // namespace termconsole

// ---- Ending in order ------------------------------------------------------------

namespace {

// The signals that ask the program to end.
constexpr int kEndSignals[] = {SIGHUP, SIGINT, SIGTERM};

volatile sig_atomic_t gEndSignal = 0;  // the signal of a pending request
int gEndPipe[2] = {-1, -1};
std::vector<void (*)()> gEndSteps;
bool gEnding = false;

void OnEndSignal(int signal) {
  int saved = errno;
  if (gEndSignal == 0) {
    gEndSignal = signal;
    if (gEndPipe[1] >= 0) {
      char c = 'e';
      ssize_t ignored = write(gEndPipe[1], &c, 1);
      (void)ignored;
    }
    errno = saved;
    return;
  }
  // Asked again: the program ends at once, the terminal restored.
  termconsole::RestoreTerminalFromHandler();
  struct sigaction fallback {};
  sigemptyset(&fallback.sa_mask);
  fallback.sa_handler = SIG_DFL;
  sigaction(signal, &fallback, nullptr);
  raise(signal);  // delivered when this handler returns
  errno = saved;
}

// How the signal was handled before the program took it: a handler of the
// terminal console stands for what it found at its own start.
bool IgnoredAtStart(int signal) {
  struct sigaction current {};
  sigaction(signal, nullptr, &current);
  if (current.sa_handler == SIG_IGN) return true;
  return termconsole::ConsoleFoundIgnored(signal);
}

}  // namespace

void InstallEndSignals() {
  if (gEndPipe[0] < 0 && pipe2(gEndPipe, O_NONBLOCK | O_CLOEXEC) != 0) gEndPipe[0] = gEndPipe[1] = -1;
  struct sigaction action {};
  sigemptyset(&action.sa_mask);
  action.sa_handler = OnEndSignal;
  for (int signal : kEndSignals)
    if (!IgnoredAtStart(signal)) sigaction(signal, &action, nullptr);
  struct sigaction ignore {};
  sigemptyset(&ignore.sa_mask);
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGXFSZ, &ignore, nullptr);
}

void AtOrderlyEnd(void (*step)()) {
  if (std::find(gEndSteps.begin(), gEndSteps.end(), step) == gEndSteps.end()) gEndSteps.push_back(step);
}

int EndRequested() { return gEndSignal; }

int EndRequestFd() { return gEndPipe[0]; }

void EndIfRequested() {
  int signal = gEndSignal;
  if (signal == 0 || gEnding) return;
  gEnding = true;
  for (auto step = gEndSteps.rbegin(); step != gEndSteps.rend(); ++step) (*step)();
  ConsoleStop();
  std::fflush(nullptr);
  struct sigaction fallback {};
  sigemptyset(&fallback.sa_mask);
  fallback.sa_handler = SIG_DFL;
  sigaction(signal, &fallback, nullptr);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signal);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  raise(signal);
  _exit(128 + signal);
}
