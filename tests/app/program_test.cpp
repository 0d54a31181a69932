// The program itself, started in a pseudo-terminal: the start-up failures
// end it with a message naming the cause and a non-zero exit code, the
// demo suite starts and Escape ends it with 0, and in every case the
// terminal is left in the modes it had.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

#include "tests/session/session_test_support.h"

namespace {

const std::string kProgram = TARPELIX_BINARY_DIR "/tarpelix";

struct ProgramRun {
  int exitCode = -1;   // -1 when it had to be killed
  std::string errors;  // what it wrote on the error output
  std::string screen;  // what it wrote to the terminal
  bool terminalRestored = false;
};

void ReadAvailable(int fd, std::string& into) {
  char buffer[4096];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0) into.append(buffer, static_cast<size_t>(n));
}

// Runs the program with `environment` in an 80 x 25 pseudo-terminal, in
// `directory` when given; once the output holds `waitFor` (when given),
// types `keys`.  Gives up after a generous deadline (a hang is a failure,
// not a slow run).
ProgramRun RunProgram(const std::map<std::string, std::string>& environment, const std::string& waitFor = "",
                      const std::string& keys = "", const std::string& directory = "") {
  ProgramRun run;
  int errorPipe[2];
  if (pipe(errorPipe) != 0) return run;
  winsize size{};
  size.ws_row = 25;
  size.ws_col = 80;
  int master = -1;
  pid_t child = forkpty(&master, nullptr, nullptr, &size);
  if (child == 0) {
    dup2(errorPipe[1], STDERR_FILENO);
    close(errorPipe[0]);
    clearenv();
    setenv("TERM", "xterm", 1);
    setenv("PATH", "/usr/bin:/bin", 1);
    for (const auto& [name, value] : environment) setenv(name.c_str(), value.c_str(), 1);
    if (!directory.empty() && chdir(directory.c_str()) != 0) _exit(126);
    execl(kProgram.c_str(), kProgram.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(errorPipe[1]);
  if (child < 0) {
    close(errorPipe[0]);
    return run;
  }
  fcntl(master, F_SETFL, O_NONBLOCK);
  fcntl(errorPipe[0], F_SETFL, O_NONBLOCK);

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  bool typed = keys.empty();
  int status = 0;
  bool ended = false;
  while (!ended && std::chrono::steady_clock::now() < deadline) {
    pollfd fds[2] = {{master, POLLIN, 0}, {errorPipe[0], POLLIN, 0}};
    poll(fds, 2, 50);
    ReadAvailable(master, run.screen);
    ReadAvailable(errorPipe[0], run.errors);
    if (!typed && run.screen.find(waitFor) != std::string::npos) {
      typed = write(master, keys.data(), keys.size()) == static_cast<ssize_t>(keys.size());
    }
    ended = waitpid(child, &status, WNOHANG) == child;
  }
  if (!ended) {
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
  } else if (WIFEXITED(status)) {
    run.exitCode = WEXITSTATUS(status);
  }
  ReadAvailable(errorPipe[0], run.errors);
  termios after{};
  // A new pseudo-terminal starts in line mode with echo; the program must
  // leave it so.  (Its modes read here after the fork could already be the
  // program's raw ones on a busy machine.)
  if (tcgetattr(master, &after) == 0)
    run.terminalRestored = (after.c_lflag & (ICANON | ECHO)) == (ICANON | ECHO);
  close(master);
  close(errorPipe[0]);
  return run;
}

class ProgramTest : public AppTest {
 protected:
  std::map<std::string, std::string> env;
  void SetUp() override {
    AppTest::SetUp();
    if (!std::filesystem::exists(kProgram)) GTEST_SKIP() << "the program is not built: " << kProgram;
    env["KALROOT"] = temp.Dir() + "root/";
    env["KALTMP"] = temp.Dir() + "root/TMP/";
  }
  void DemoRoot() {
    std::filesystem::copy(TARPELIX_SOURCE_DIR "/demo", temp.path + "/root",
                          std::filesystem::copy_options::recursive);
    temp.MakeFolder("root/DADES");
    temp.MakeFolder("root/LOCKS");
  }
};

TEST_F(ProgramTest, WithoutATerminalItEndsWithAMessage) {
  std::string command = "TERM=xterm " + kProgram + " </dev/null >/dev/null 2>" + temp.Dir() + "err";
  int status = std::system(command.c_str());
  EXPECT_NE(WEXITSTATUS(status), 0);
  std::string errors;
  ReadWholeFile(temp.Dir() + "err", errors);
  EXPECT_NE(errors.find("terminal"), std::string::npos) << errors;
}

TEST_F(ProgramTest, MissingRootDirectoryEndsWithAMessageNamingIt) {
  ProgramRun run = RunProgram(env);
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.errors.find(temp.path + "/root/"), std::string::npos) << run.errors;
  EXPECT_NE(run.errors.find("KALROOT"), std::string::npos) << run.errors;
  EXPECT_TRUE(run.terminalRestored);
}

// KALROOT unset: the current folder is the suite root when it is one;
// otherwise the program says how to start one and writes nothing.
TEST_F(ProgramTest, WithoutKalrootTheCurrentFolderOrAMessageSayingHowToStart) {
  env.erase("KALROOT");
  env.erase("KALTMP");
  temp.MakeFolder("empty");
  ProgramRun run = RunProgram(env, "", "", temp.Dir() + "empty");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.errors.find("no suite root: KALROOT is not set"), std::string::npos) << run.errors;
  EXPECT_NE(run.errors.find("KALROOT=/srv/kal/ KALTMP=/srv/kal/TMP/estacio1/ tarpelix"), std::string::npos);
  EXPECT_NE(run.errors.find("./run"), std::string::npos)
      << "a build tree has no installed demo: " << run.errors;
  EXPECT_TRUE(std::filesystem::is_empty(temp.Dir() + "empty"));
  EXPECT_TRUE(run.terminalRestored);

  DemoRoot();
  run = RunProgram(env, "FINS A LA FINCA", "\x1b", temp.Dir() + "root");
  EXPECT_EQ(run.exitCode, 0) << run.errors;
  EXPECT_TRUE(std::filesystem::exists(temp.Dir() + "root/DADES/PropietH.dat")) << "data files made there";
}

// The station's temporary folder missing, or a file in its place: said at
// start with its path, before anything else is read.
TEST_F(ProgramTest, AMissingOrUnusableTemporaryFolderIsSaidAtStartWithItsPath) {
  DemoRoot();
  temp.Write("root/AFILE", "not a folder");
  for (const char* folder : {"NOWHERE/", "AFILE/"}) {
    SCOPED_TRACE(folder);
    env["KALTMP"] = temp.Dir() + "root/" + folder;
    ProgramRun run = RunProgram(env);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.errors.find("NO EXISTEIX LA CARPETA " + temp.Dir() + "root/" + folder + " (KALTMP)"),
              std::string::npos)
        << run.errors;
    EXPECT_TRUE(run.terminalRestored);
  }
}

TEST_F(ProgramTest, MissingFormFileEndsWithAMessageNamingIt) {
  temp.MakeFolder("root/TMP");
  ProgramRun run = RunProgram(env);
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.errors.find(temp.path + "/root/FORMS/TARPELIX.JPN"), std::string::npos) << run.errors;
  EXPECT_TRUE(run.terminalRestored);
}

TEST_F(ProgramTest, BrokenFormFileEndsWithAMessageInTheOperatorsLanguage) {
  DemoRoot();
  temp.Write("root/FORMS/TARPELIX.JPN", "' no screens\r\n1,2\r\nd,3,0,0,0,0,0\r\n");
  temp.Write("root/TMP/VorkTerm.ini", "[Sistema]\r\nIdioma=SPA\r\n");
  ProgramRun run = RunProgram(env);
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.errors.find("FICHERO DE PANTALLAS INCORRECTO"), std::string::npos) << run.errors;
  EXPECT_NE(run.errors.find("TARPELIX.JPN"), std::string::npos) << run.errors;
  EXPECT_NE(run.errors.find(Cp850ToUtf8("L\xD6NEA 3")), std::string::npos) << run.errors;
  EXPECT_TRUE(run.terminalRestored);
}

// The demo form cut short anywhere: the program does not start, says which
// file lacks what, and ends with 1.
TEST_F(ProgramTest, ATruncatedFormFileStopsTheProgramAtStart) {
  DemoRoot();
  std::string form;
  ASSERT_TRUE(ReadWholeFile(temp.path + "/root/FORMS/TARPELIX.JPN", form));
  const struct {
    size_t length;
    const char* missing;
  } cuts[] = {{form.find("FINS A LA FINCA"), "HI FALTA EL CAMP 3 DE LA PANTALLA 1"},
              {1700, "HI FALTA "},
              {form.find("_CONCEPTES_"), "HI FALTA LA LLISTA 2"}};
  for (const auto& cut : cuts) {
    ASSERT_LT(cut.length, form.size());
    temp.Write("root/FORMS/TARPELIX.JPN", form.substr(0, cut.length));
    ProgramRun run = RunProgram(env);
    EXPECT_EQ(run.exitCode, 1) << cut.length << ": " << run.errors;
    EXPECT_NE(run.errors.find("FITXER DE PANTALLES INCOMPLET: " + temp.path + "/root/FORMS/TARPELIX.JPN"),
              std::string::npos)
        << run.errors;
    EXPECT_NE(run.errors.find(cut.missing), std::string::npos) << cut.length << ": " << run.errors;
    EXPECT_TRUE(run.terminalRestored);
  }
}

// A language code in lower case is the language; a language file that is
// none is said on row 24, in Catalan, naming it, and the program goes on.
TEST_F(ProgramTest, LanguageCodesInAnyCaseAndABrokenLanguageFileIsSaid) {
  DemoRoot();
  temp.Write("root/TMP/VorkTerm.ini", "[Sistema]\r\nIdioma=spa\r\n");
  ProgramRun run = RunProgram(env, "HASTA LA FINCA", "\x1b");
  EXPECT_EQ(run.exitCode, 0) << run.errors;
  EXPECT_NE(run.screen.find("CONCEPTO ARRASTRE"), std::string::npos);

  temp.Write("root/LOCALE/TARPELIX.LNG", std::string("\x7f"
                                                     "ELF\x02\x01\x01\0\0\0",
                                                     10));
  run = RunProgram(env, "FINS A LA FINCA", "\x1b");
  EXPECT_EQ(run.exitCode, 0) << run.errors;
  EXPECT_NE(run.screen.find("EL FITXER D'IDIOMES LOCALE/TARPELIX.LNG NO " + Cp850ToUtf8("\x90") +
                            "S UN FITXER DE TEXT"),
            std::string::npos)
      << run.screen;
}

TEST_F(ProgramTest, DemoSuiteStartsAndEscapeEndsWithZero) {
  DemoRoot();
  ProgramRun run = RunProgram(env, "FINS A LA FINCA", "\x1b");
  EXPECT_EQ(run.exitCode, 0) << run.errors;
  EXPECT_EQ(run.errors, "");
  EXPECT_NE(run.screen.find(Cp850ToUtf8("CONCEPTE R\xE3SSEC")), std::string::npos);
  EXPECT_TRUE(run.terminalRestored);
  // The station's liveness file was there for the run and went with it.
  EXPECT_TRUE(std::filesystem::is_directory(temp.path + "/root/LOCKS"));
  for (const auto& entry : std::filesystem::directory_iterator(temp.path + "/root/LOCKS"))
    EXPECT_NE(entry.path().extension(), ".sta") << entry.path();
}

}  // namespace
