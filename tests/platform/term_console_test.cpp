// The terminal console on a pseudo-terminal: what it sends to the terminal
// (cells in UTF-8 with their colours, only what changed, cursor shape,
// modes), the keys it reads back, and that the terminal's modes come back
// after a stop, a termination signal or a crash.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/console.h"
#include "platform/console_term.h"
#include "tests/platform/printable.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kDeadline = std::chrono::seconds(10);

// A pseudo-terminal pair: the console runs on the slave side, the test plays
// the terminal on the master side.
struct Pty {
  int master = -1, slave = -1;
  Pty(int rows, int columns) {
    master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return;
    const char* name = ptsname(master);
    if (name) slave = open(name, O_RDWR | O_NOCTTY);
    Resize(rows, columns);
  }
  ~Pty() {
    if (slave >= 0) close(slave);
    if (master >= 0) close(master);
  }
  bool ok() const { return master >= 0 && slave >= 0; }
  void Resize(int rows, int columns) {
    winsize size{};
    size.ws_row = static_cast<unsigned short>(rows);
    size.ws_col = static_cast<unsigned short>(columns);
    ioctl(master, TIOCSWINSZ, &size);
  }
  void Type(const std::string& bytes) {
    ASSERT_EQ(write(master, bytes.data(), bytes.size()), ssize_t(bytes.size()));
  }
};

// Collects what the console writes, so that its writes never block on a
// full pseudo-terminal buffer.
class TerminalScreen {
 public:
  explicit TerminalScreen(int master) : master_(master), reader_([this] { Read(); }) {}
  ~TerminalScreen() {
    stop_ = true;
    reader_.join();
  }
  // Waits until the output holds `needle`; false at the deadline.
  bool WaitFor(const std::string& needle) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_until(lock, Clock::now() + kDeadline,
                               [&] { return data_.find(needle) != std::string::npos; });
  }
  std::string Text() {
    std::lock_guard<std::mutex> lock(mutex_);
    return data_;
  }
  void Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    data_.clear();
  }
  // Everything the console sends up to a bell of ours: flushes before it
  // have all arrived once the bell has.
  std::string UpToBell() {
    ConsoleBell();
    if (!WaitFor("\a")) return "<no bell>";
    std::lock_guard<std::mutex> lock(mutex_);
    std::string text = data_.substr(0, data_.rfind('\a'));
    data_.clear();
    return text;
  }

 private:
  void Read() {
    while (!stop_) {
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      char buffer[4096];
      ssize_t n = read(master_, buffer, sizeof buffer);
      if (n <= 0) continue;
      std::lock_guard<std::mutex> lock(mutex_);
      data_.append(buffer, static_cast<size_t>(n));
      changed_.notify_all();
    }
  }
  int master_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string data_;
  bool volatile stop_ = false;
  std::thread reader_;
};

bool SameModes(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_lflag == b.c_lflag && a.c_cflag == b.c_cflag;
}

void PutText(int row, int column, const std::string& cp850, unsigned char attribute) {
  for (size_t i = 0; i < cp850.size(); ++i)
    ConsolePutCell(row, column + static_cast<int>(i),
                   ConsoleCell{static_cast<unsigned char>(cp850[i]), attribute});
}

bool NextEvent(ConsoleEvent& event) { return ConsolePollEvent(event, 5000); }

class TerminalConsoleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty.ok());
    ASSERT_EQ(tcgetattr(pty.slave, &before), 0);
    screen = std::make_unique<TerminalScreen>(pty.master);
  }
  void TearDown() override {
    ConsoleStop();
    screen.reset();
  }
  void Start(const char* type = "xterm-256color") {
    ASSERT_TRUE(ConsoleStartTerminalOn(pty.slave, pty.slave, type));
    ConsoleFlush();
  }
  Pty pty{30, 100};
  termios before{};
  std::unique_ptr<TerminalScreen> screen;
};

TEST(TerminalConsoleStart, RefusedWithoutATerminal) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  ConsoleStartVirtual();
  EXPECT_FALSE(ConsoleStartTerminalOn(fds[0], fds[1], "xterm"));
  close(fds[0]);
  close(fds[1]);

  Pty pty(30, 100);
  ASSERT_TRUE(pty.ok());
  termios before{};
  tcgetattr(pty.slave, &before);
  struct sigaction interruptBefore {};
  sigaction(SIGINT, nullptr, &interruptBefore);
  EXPECT_FALSE(ConsoleStartTerminalOn(pty.slave, pty.slave, ""));
  EXPECT_FALSE(ConsoleStartTerminalOn(pty.slave, pty.slave, "dumb"));
  EXPECT_FALSE(ConsoleStartTerminalOn(pty.slave, pty.slave, "no-such-terminal-anywhere"));
  termios after{};
  tcgetattr(pty.slave, &after);
  EXPECT_TRUE(SameModes(before, after)) << "a refused start leaves the terminal's modes alone";
  struct sigaction interruptAfter {};
  sigaction(SIGINT, nullptr, &interruptAfter);
  EXPECT_EQ(interruptBefore.sa_handler, interruptAfter.sa_handler) << "and no signal handler behind";
  EXPECT_NE(Console.backend, nullptr) << "the virtual console stays";
  ConsoleStop();
}

TEST_F(TerminalConsoleTest, StartSwitchesToRawModeWithMouseAndPaste) {
  Start();
  termios now{};
  tcgetattr(pty.slave, &now);
  EXPECT_FALSE(now.c_lflag & ISIG) << "Ctrl+C must arrive as key 3";
  EXPECT_FALSE(now.c_lflag & ICANON);
  EXPECT_FALSE(now.c_lflag & ECHO);
  EXPECT_FALSE(now.c_iflag & IXON) << "Ctrl+S and Ctrl+Q are keys";
  EXPECT_FALSE(now.c_iflag & ICRNL) << "Enter arrives as 13";
  std::string sent = screen->UpToBell();
  EXPECT_NE(sent.find("\x1b[?1049h"), std::string::npos) << Printable(sent);
  EXPECT_NE(sent.find("\x1b[?1000h\x1b[?1006h"), std::string::npos) << Printable(sent);
  EXPECT_NE(sent.find("\x1b[?2004h"), std::string::npos) << Printable(sent);
  EXPECT_TRUE(ConsoleHasMouse());
  EXPECT_EQ(ConsoleRows(), 25);
  EXPECT_EQ(ConsoleColumns(), 80);
}

TEST_F(TerminalConsoleTest, StopRestoresTheTerminal) {
  Start();
  screen->UpToBell();
  ConsoleStop();
  termios after{};
  tcgetattr(pty.slave, &after);
  EXPECT_TRUE(SameModes(before, after));
  ASSERT_TRUE(screen->WaitFor("\x1b[?1000l"));
  std::string sent = screen->Text();
  EXPECT_NE(sent.find("\x1b[?1049l"), std::string::npos) << "normal screen back: " << Printable(sent);
  EXPECT_NE(sent.find("\x1b[?2004l"), std::string::npos) << Printable(sent);
  EXPECT_NE(sent.find("\x1b[?1006l"), std::string::npos) << Printable(sent);
  EXPECT_NE(sent.find("\x1b[2 q"), std::string::npos)
      << "terminfo's default cursor shape: " << Printable(sent);
}

void SomeoneElsesHandler(int) {}
void AnotherHandler(int) {}

TEST_F(TerminalConsoleTest, StopPutsBackTheHandlersFoundButKeepsOnesInstalledSince) {
  struct sigaction mine {};
  sigemptyset(&mine.sa_mask);
  mine.sa_handler = SomeoneElsesHandler;
  struct sigaction savedTerm {
  }, savedHup{}, savedWinch{};
  sigaction(SIGTERM, &mine, &savedTerm);
  sigaction(SIGHUP, &mine, &savedHup);
  sigaction(SIGWINCH, nullptr, &savedWinch);

  Start();
  struct sigaction now {};
  sigaction(SIGTERM, nullptr, &now);
  EXPECT_NE(now.sa_handler, SomeoneElsesHandler) << "the console's own handler while it runs";
  // Another part of the process takes SIGHUP and SIGWINCH after the start.
  struct sigaction later {};
  sigemptyset(&later.sa_mask);
  later.sa_handler = AnotherHandler;
  sigaction(SIGHUP, &later, nullptr);
  sigaction(SIGWINCH, &later, nullptr);
  ConsoleStop();

  sigaction(SIGTERM, nullptr, &now);
  EXPECT_EQ(now.sa_handler, SomeoneElsesHandler) << "the handler found at start is back";
  sigaction(SIGHUP, nullptr, &now);
  EXPECT_EQ(now.sa_handler, AnotherHandler) << "a handler installed since stays";
  sigaction(SIGWINCH, nullptr, &now);
  EXPECT_EQ(now.sa_handler, AnotherHandler);

  sigaction(SIGTERM, &savedTerm, nullptr);
  sigaction(SIGHUP, &savedHup, nullptr);
  sigaction(SIGWINCH, &savedWinch, nullptr);
}

TEST_F(TerminalConsoleTest, CellsGoOutAsUtf8WithPaletteColours) {
  Start();
  screen->UpToBell();
  PutText(1, 1, "\xC9\xCD\xBB", 0x1F);           // ╔═╗ bright white on blue
  PutText(2, 1, "\x10Liquidaci\xA2\x11", 0x4E);  // ►Liquidació◄ yellow on red
  std::string sent = screen->UpToBell();
  EXPECT_NE(sent.find("\xE2\x95\x94\xE2\x95\x90\xE2\x95\x97"), std::string::npos) << Printable(sent);
  EXPECT_NE(sent.find("\xE2\x96\xBA"
                      "Liquidaci\xC3\xB3\xE2\x97\x84"),
            std::string::npos)
      << Printable(sent);
  // Blue is bit 0 in the PC palette and bit 2 in ANSI: 0x1F is 97 on 44.
  EXPECT_NE(sent.find("\x1b[97m"), std::string::npos) << Printable(sent);
  EXPECT_NE(sent.find("\x1b[44m"), std::string::npos) << Printable(sent);
  EXPECT_NE(sent.find("\x1b[93m"), std::string::npos) << "yellow is bright brown: " << Printable(sent);
  EXPECT_NE(sent.find("\x1b[41m"), std::string::npos) << Printable(sent);
}

TEST_F(TerminalConsoleTest, EightColourTerminalShowsBrightColoursInBold) {
  Start("xterm");
  screen->UpToBell();
  PutText(1, 1, "AB", 0x1F);
  std::string sent = screen->UpToBell();
  EXPECT_NE(sent.find("\x1b[37m"), std::string::npos) << Printable(sent);
  EXPECT_NE(sent.find("\x1b[44m"), std::string::npos) << Printable(sent);
  EXPECT_TRUE(sent.find("\x1b[1m") != std::string::npos || sent.find(";1m") != std::string::npos ||
              sent.find(";1;") != std::string::npos)
      << "bold: " << Printable(sent);
}

TEST_F(TerminalConsoleTest, RedrawOfTheSameCellsSendsNothing) {
  Start();
  PutText(5, 10, "Quotes", 0x1E);
  ConsoleFlush();
  screen->UpToBell();
  PutText(5, 10, "Quotes", 0x1E);
  ConsoleFlush();
  EXPECT_EQ(Printable(screen->UpToBell()), "");
  PutText(5, 10, "Quotas", 0x1E);
  std::string sent = screen->UpToBell();
  EXPECT_NE(sent.find('a'), std::string::npos) << Printable(sent);
  EXPECT_EQ(sent.find("Quot"), std::string::npos) << "only the changed cell: " << Printable(sent);
}

TEST_F(TerminalConsoleTest, CursorShapeFollowsInsertModeAndVisibility) {
  Start();
  ConsoleSetCursor(20, 40);
  ConsoleSetCursorShape(true);
  std::string sent = screen->UpToBell();
  EXPECT_NE(sent.find("\x1b[4 q"), std::string::npos) << "half height in insert mode: " << Printable(sent);
  ConsoleSetCursorShape(false);
  sent = screen->UpToBell();
  EXPECT_NE(sent.find("\x1b[2 q"), std::string::npos) << "block in overwrite mode: " << Printable(sent);
  ConsoleShowCursor(false);
  sent = screen->UpToBell();
  EXPECT_NE(sent.find("\x1b[?25l"), std::string::npos) << Printable(sent);
}

TEST_F(TerminalConsoleTest, LinuxConsoleGetsItsOwnCursorSizesAndNoMouse) {
  Start("linux");
  EXPECT_FALSE(ConsoleHasMouse());
  ConsoleSetCursorShape(true);
  std::string sent = screen->UpToBell();
  EXPECT_EQ(sent.find("\x1b[?1000h"), std::string::npos) << Printable(sent);
  EXPECT_NE(sent.find("\x1b[?4c"), std::string::npos) << "lower half in insert mode: " << Printable(sent);
  ConsoleSetCursorShape(false);
  sent = screen->UpToBell();
  EXPECT_NE(sent.find("\x1b[?6c"), std::string::npos) << "block in overwrite mode: " << Printable(sent);
  ConsoleStop();
  ASSERT_TRUE(screen->WaitFor("\x1b[?0c")) << "default size back: " << Printable(screen->Text());
}

TEST_F(TerminalConsoleTest, KeysAreReadAndDecoded) {
  Start();
  ConsoleEvent e;
  pty.Type("\x1b[1;5D");
  ASSERT_TRUE(NextEvent(e));
  EXPECT_EQ(e.key, 0x7300);
  pty.Type("\x03");
  ASSERT_TRUE(NextEvent(e));
  EXPECT_EQ(e.key, 3) << "Ctrl+C is a key";
  pty.Type("\xc3\xa9\r");
  ASSERT_TRUE(NextEvent(e));
  EXPECT_EQ(e.key, 0x82);
  ASSERT_TRUE(NextEvent(e));
  EXPECT_EQ(e.key, 13);
  pty.Type("\x1b");
  ASSERT_TRUE(NextEvent(e));
  EXPECT_EQ(e.key, 27) << "a lone ESC becomes Esc once its timeout has passed";
  EXPECT_EQ(e.altKeypadDigit, -1);
  pty.Type("\x1bx");
  ASSERT_TRUE(NextEvent(e));
  EXPECT_EQ(e.key, 0x2D00);
  EXPECT_FALSE(ConsolePollEvent(e, 0)) << "nothing more waiting";
}

// The 80 x 25 console is centred in the 100 x 30 terminal (10 columns and 2
// rows from its corner): a click is translated to the console's cells, and
// one beside it on any side is no event.
TEST_F(TerminalConsoleTest, MouseClicksCountInsideTheConsoleOnly) {
  Start();
  pty.Type("\x1b[<0;95;5M\x1b[<0;20;28M\x1b[<0;5;7M\x1b[<0;20;2M\x1b[<0;20;7M");
  ConsoleEvent e;
  ASSERT_TRUE(NextEvent(e));
  EXPECT_EQ(e.kind, ConsoleEvent::MOUSE);
  EXPECT_EQ(e.button, 1);
  EXPECT_EQ(e.column, 10);
  EXPECT_EQ(e.row, 5);
}

TEST_F(TerminalConsoleTest, PastedTextArrivesAsKeys) {
  Start();
  pty.Type("\x1b[200~S\xc3\xad\r\n\x1b[201~");
  ConsoleEvent e;
  int expected[] = {'S', 0xA1, 13};
  for (int key : expected) {
    ASSERT_TRUE(NextEvent(e));
    EXPECT_EQ(e.key, key);
  }
}

TEST_F(TerminalConsoleTest, FlushInputDropsTypedKeys) {
  Start();
  pty.Type("abc");
  pollfd p{pty.slave, POLLIN, 0};
  ASSERT_EQ(poll(&p, 1, 5000), 1);
  ConsoleFlushInput();
  ConsoleEvent e;
  EXPECT_FALSE(ConsolePollEvent(e, 0));
}

TEST_F(TerminalConsoleTest, SmallTerminalShowsAMessageUntilEnlarged) {
  Start();
  PutText(1, 1, "\xC9\xCD\xBB", 0x1F);
  screen->UpToBell();
  pty.Resize(20, 60);
  raise(SIGWINCH);
  ConsoleFlush();
  ASSERT_TRUE(screen->WaitFor("Enlarge the terminal to 80 x 25 (now 60 x 20)")) << Printable(screen->Text());
  EXPECT_NE(screen->Text().find("Ampliau el terminal a 80 x 25 (ara 60 x 20)"), std::string::npos);
  pty.Type("x");
  ConsoleEvent e;
  EXPECT_FALSE(ConsolePollEvent(e, 200)) << "keys typed blind are dropped";
  screen->Clear();
  pty.Resize(30, 100);
  raise(SIGWINCH);
  pty.Type("y");
  ASSERT_TRUE(NextEvent(e));
  EXPECT_EQ(e.key, 'y');
  std::string sent = screen->UpToBell();
  EXPECT_NE(sent.find("\xE2\x95\x94\xE2\x95\x90\xE2\x95\x97"), std::string::npos)
      << "everything drawn again: " << Printable(sent);
}

TEST_F(TerminalConsoleTest, CopyGoesToTheTerminalClipboard) {
  Start();
  screen->UpToBell();
  ConsoleSetClipboard("Caf\x82");
  EXPECT_EQ(ConsoleGetClipboard(), "Caf\x82");
  // OSC 52 ends with a BEL itself, so the bell cannot mark its end here.
  EXPECT_TRUE(screen->WaitFor("\x1b]52;c;Q2Fmw6k=\x07")) << Printable(screen->Text());
  EXPECT_EQ(Printable(screen->Text()), Printable("\x1b]52;c;Q2Fmw6k=\x07")) << "nothing else is sent";
}

// ---- Signals: in a child process, which the signal ends ---------------------------

struct ChildResult {
  int status = 0;
  std::string sent;
};

// Runs the console in a child on a new pseudo-terminal, lets `end` finish
// it, and returns how it ended and what it sent.
template <typename End>
ChildResult RunChild(Pty& pty, End end) {
  ChildResult result;
  pid_t child = fork();
  if (child == 0) {
    if (!ConsoleStartTerminalOn(pty.slave, pty.slave, "xterm-256color")) _exit(90);
    ConsoleWrite("x");
    ConsoleFlush();
    end();
    _exit(92);
  }
  auto deadline = Clock::now() + kDeadline;
  bool finished = false;
  auto drain = [&](int waitMs) {
    pollfd p{pty.master, POLLIN, 0};
    if (poll(&p, 1, waitMs) <= 0) return false;
    char buffer[4096];
    ssize_t n = read(pty.master, buffer, sizeof buffer);
    if (n <= 0) return false;
    result.sent.append(buffer, static_cast<size_t>(n));
    return true;
  };
  while (!finished && Clock::now() < deadline) {
    drain(20);
    finished = waitpid(child, &result.status, WNOHANG) == child;
  }
  if (!finished) {
    kill(child, SIGKILL);
    waitpid(child, &result.status, 0);
  }
  while (drain(100)) {}  // what the child wrote last may still be on its way
  return result;
}

// A way for the program to end, and what the terminal must get back.
struct Ending {
  const char* name;
  void (*end)();
  int signal;  // the signal that still ends the child; 0: it exits
  std::vector<std::string> sent;
};

class TerminalConsoleSignals : public ::testing::TestWithParam<Ending> {};

TEST_P(TerminalConsoleSignals, RestoresTheTerminalAndEndsAsItWould) {
  const Ending& ending = GetParam();
  Pty pty(30, 100);
  ASSERT_TRUE(pty.ok());
  termios before{};
  tcgetattr(pty.slave, &before);
  ChildResult r = RunChild(pty, ending.end);
  if (ending.signal) {
    ASSERT_TRUE(WIFSIGNALED(r.status)) << "status " << r.status;
    EXPECT_EQ(WTERMSIG(r.status), ending.signal);
  } else {
    ASSERT_TRUE(WIFEXITED(r.status)) << "status " << r.status;
  }
  termios after{};
  tcgetattr(pty.slave, &after);
  EXPECT_TRUE(SameModes(before, after)) << "raw mode left on";
  for (const std::string& sequence : ending.sent)
    EXPECT_NE(r.sent.find(sequence), std::string::npos) << Printable(sequence) << " in " << Printable(r.sent);
}

INSTANTIATE_TEST_SUITE_P(
    Endings, TerminalConsoleSignals,
    ::testing::Values(Ending{"Termination", [] { raise(SIGTERM); }, SIGTERM, {"\x1b[?1000l", "\x1b[?1049l"}},
                      Ending{"Crash", [] { abort(); }, SIGABRT, {"\x1b[?2004l"}},
                      Ending{"ExitWithoutStop", [] { exit(0); }, 0, {"\x1b[?1000l"}}),
    [](const ::testing::TestParamInfo<Ending>& info) { return std::string(info.param.name); });

}  // namespace
