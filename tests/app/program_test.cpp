// The program itself, started in a pseudo-terminal: the start-up failures
// end it with a message naming the cause and a non-zero exit code, the
// demo suite starts and Escape ends it with 0, and in every case the
// terminal is left in the modes it had.
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <sstream>

#include "tests/command_run.h"
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
// `directory` when given, as the user `user` when given; once the output
// holds `waitFor` (when given), types `keys` (with `repeatKeys`, again at
// each poll until the program ends).  Gives up after a generous deadline
// (a hang is a failure, not a slow run).
ProgramRun RunProgram(const std::map<std::string, std::string>& environment, const std::string& waitFor = "",
                      const std::string& keys = "", const std::string& directory = "", int user = -1,
                      bool repeatKeys = false) {
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
    // As another user (`user` its id, and its group's), without groups.
    if (user >= 0 && (setgroups(0, nullptr) != 0 || setgid(static_cast<gid_t>(user)) != 0 ||
                      setuid(static_cast<uid_t>(user)) != 0))
      _exit(125);
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
      // Keys the program empties before it waits (a message's beep) are
      // typed again until it ends.
      if (repeatKeys) typed = false;
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
  EXPECT_NE(errors.find("NO HI HA CAP TERMINAL DE TEXT: EXECUTEU EL PROGRAMA EN UN TERMINAL"),
            std::string::npos)
      << errors;
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
  struct {
    const char* folder;
    std::string message;
  } cases[] = {
      {"NOWHERE/", "NO EXISTEIX LA CARPETA " + temp.Dir() + "root/NOWHERE/ (KALTMP)"},
      {"AFILE/", "NO ES POT ACCEDIR A LA CARPETA " + temp.Dir() + "root/AFILE/ (KALTMP): " +
                     Cp850ToUtf8("\x90S UN FITXER, NO UNA CARPETA (Not a directory)")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.folder);
    env["KALTMP"] = temp.Dir() + "root/" + c.folder;
    ProgramRun run = RunProgram(env);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.errors.find(c.message), std::string::npos) << run.errors;
    EXPECT_TRUE(run.terminalRestored);
  }
}

// The fatal messages of a start that cannot go on, one cause a row: the
// file or folder as this system spells it and the reason in words, in
// Catalan and in Spanish, on the error output and (when there is a
// terminal to show it on) every word of it on the screen.
TEST_F(ProgramTest, EveryFatalMessageNamesThePathAndTheReasonOnTheScreenAndTheErrorOutput) {
  DemoRoot();
  ASSERT_EQ(RunProgram(env, "FINS A LA FINCA", "\x1b").exitCode, 0);  // the data files made
  namespace fs = std::filesystem;
  ASSERT_EQ(chmod(temp.path.c_str(), 0755), 0);
  struct Cause {
    const char* name;
    std::function<void(const std::string& root)> make;
    std::string path;  // below the root
    const char* catalan;
    const char* spanish;
    bool screen = true;
    bool asNobody = false;
  };
  const Cause causes[] = {
      {"missing",
       [](const std::string& root) {
         fs::remove_all(root + "/DADES");
         fs::create_directory(root + "/DADES");
         fs::remove(root + "/ddf/THRebut.xdf");
       },
       "/ddf/THRebut.xdf NO EXIST", "EL DICCIONARI", "EL DICCIONARIO"},
      {"read-only",
       [](const std::string& root) {
         for (const char* writable : {"TMP", "LOCKS"}) fs::permissions(root + "/" + writable, fs::perms::all);
       },
       "/DADES/THRebut.dat", "ACC\x90S DENEGAT (46)", "ACCESO DENEGADO (46)", true, true},
      {"damaged",
       [](const std::string& root) {
         std::fstream f(root + "/DADES/recman.db", std::ios::in | std::ios::out | std::ios::binary);
         f.write("DAMAGED HEADER!!", 16);
       },
       "/DADES/THRebut.dat", "FITXER MALM\xD4S (2). EXECUTEU recutil check",
       "FICHERO DA\xA5"
       "ADO (2). EJECUTE recutil check"},
      {"foreign marker",
       [](const std::string& root) {
         std::string marker;
         ReadWholeFile(root + "/DADES/THRebut.dat", marker);
         marker.replace(marker.find("\nid ") + 4, 8, "00000000");
         WriteWholeFile(root + "/DADES/THRebut.dat", marker);
       },
       "/DADES/THRebut.dat", "FITXER MALM\xD4S (2)",
       "FICHERO DA\xA5"
       "ADO (2)"},
      {"file in place of folder",
       [](const std::string& root) {
         fs::remove_all(root + "/DADES");
         WriteWholeFile(root + "/DADES", "not a folder");
       },
       "/DADES", "\x90S UN FITXER, NO UNA CARPETA", "ES UN FICHERO, NO UNA CARPETA"},
      {"unknown TERM", [](const std::string&) {}, "", "TIPUS DE TERMINAL DESCONEGUT: TERM=xyzterm",
       "TIPO DE TERMINAL DESCONOCIDO: TERM=xyzterm", false},
  };
  int n = 0;
  for (const char* language : {"CAT", "SPA"}) {
    for (const Cause& cause : causes) {
      SCOPED_TRACE(std::string(language) + ": " + cause.name);
      if (cause.asNobody && geteuid() != 0) continue;  // acting as another user needs root
      const std::string root = temp.path + "/root" + std::to_string(++n);
      fs::copy(temp.path + "/root", root, fs::copy_options::recursive);
      WriteWholeFile(root + "/TMP/VorkTerm.ini", std::string("[Sistema]\r\nIdioma=") + language + "\r\n");
      cause.make(root);
      std::map<std::string, std::string> environment = {{"KALROOT", root + "/"}, {"KALTMP", root + "/TMP/"}};
      if (!cause.screen) environment["TERM"] = "xyzterm";
      // The message waits for a key: typed once the message (which names a
      // path below the root) is on the screen.
      ProgramRun run = RunProgram(environment, root + "/", "\r", "", cause.asNobody ? 65534 : -1, true);
      EXPECT_EQ(run.exitCode, 1);
      const std::string reason = Cp850ToUtf8(std::string(language) == "SPA" ? cause.spanish : cause.catalan);
      // The error output keeps the message window's lines.
      std::string flat = run.errors;
      std::replace(flat.begin(), flat.end(), '\n', ' ');
      EXPECT_NE(flat.find(reason), std::string::npos) << run.errors;
      if (!cause.path.empty()) { EXPECT_NE(flat.find(root + cause.path), std::string::npos) << run.errors; }
      if (cause.screen) {
        std::istringstream words(run.errors);
        for (std::string word; words >> word;)
          EXPECT_NE(run.screen.find(word), std::string::npos) << "not on the screen: " << word;
      }
      EXPECT_TRUE(run.terminalRestored);
    }
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

// tarpelix --check: one line per item, "ok" or what is wrong and where;
// 0 only when everything is usable.  The demonstration suite as installed
// (its data files made at the first start) is all usable; each of five
// breakages is reported on its own line and the exit code is 1.
TEST_F(ProgramTest, TheHealthCheckFindsTheDemoSuiteUsableAndSaysWhatIsWrongWithABrokenOne) {
  namespace fs = std::filesystem;
  DemoRoot();
  auto check = [&](const std::string& root, std::string& out) {
    commandrun::Result r = commandrun::RunCommandWithErrors("cd / && KALROOT=" + root + "/ KALTMP=" + root +
                                                            "/TMP/ " + kProgram + " --check </dev/null");
    out = r.out;
    return r.exit;
  };
  std::string out;
  // Before the first start: the data files are to be made from their
  // dictionaries, the station's identity to be drawn.
  EXPECT_EQ(check(temp.path + "/root", out), 0) << out;
  EXPECT_NE(out.find("the program creates it from its dictionary"), std::string::npos) << out;
  ASSERT_EQ(RunProgram(env, "FINS A LA FINCA", "\x1b").exitCode, 0);
  EXPECT_EQ(check(temp.path + "/root", out), 0) << out;
  std::vector<std::string> lines;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_GT(lines.size(), 20u) << out;
  for (size_t i = 0; i + 1 < lines.size(); ++i) EXPECT_EQ(lines[i].rfind("ok ", 0), 0u) << lines[i];
  EXPECT_EQ(lines.back(), "everything the program needs is usable");
  for (const char* item :
       {"KALROOT", "KALTMP", "form file", "language file", "settings", "rate Ret1", "dictionary PropietH",
        "data file DiariLiq", "lock folder", "station identity: ", "help TARPELIX"})
    EXPECT_NE(out.find(item), std::string::npos) << item;

  const struct {
    const char* name;
    std::function<void(const std::string& root)> make;
    std::string line;  // the start of the line that says what is wrong (below the root)
  } breakages[] = {
      {"no form file", [](const std::string& root) { fs::remove(root + "/FORMS/TARPELIX.JPN"); },
       "WRONG  form file: "},
      {"a rate missing",
       [](const std::string& root) { WriteWholeFile(root + "/Vork.ini", "[Iva0]\r\nHonoraris=21\r\n"); },
       "WRONG  rate Iva1: no key Honoraris in [Iva1]"},
      {"a damaged database",
       [](const std::string& root) {
         std::fstream f(root + "/DADES/recman.db", std::ios::in | std::ios::out | std::ios::binary);
         f.write("DAMAGED HEADER!!", 16);
       },
       "WRONG  data file THRebut: " + std::string("ROOT/DADES/THRebut.dat: FITXER MALM\xC3\x88S (2)")},
      {"a broken dictionary of a missing file",
       [](const std::string& root) {
         WriteWholeFile(root + "/ddf/PagamH.xdf", "\x40");
         fs::remove_all(root + "/DADES");
         fs::create_directory(root + "/DADES");
       },
       "WRONG  dictionary PagamH: ROOT/ddf/PagamH.xdf: shorter than its length"},
      {"a station identity that is not text",
       [](const std::string& root) {
         WriteWholeFile(root + "/TMP/LOCKS.TMP", std::string("\x07\x00\x00\x00", 4) + "EST\x1b[2J      ");
       },
       "WRONG  station identity: ROOT/TMP/LOCKS.TMP: the station's name is not text"},
      {"the lock folder a file",
       [](const std::string& root) {
         fs::remove_all(root + "/LOCKS");
         WriteWholeFile(root + "/LOCKS", "not a folder");
       },
       "WRONG  lock folder: ROOT/LOCKS: Not a directory"},
  };
  int n = 0;
  for (const auto& broken : breakages) {
    SCOPED_TRACE(broken.name);
    const std::string root = temp.path + "/broken" + std::to_string(++n);
    fs::copy(temp.path + "/root", root, fs::copy_options::recursive);
    broken.make(root);
    EXPECT_EQ(check(root, out), 1) << out;
    std::string expected = broken.line;
    if (size_t at = expected.find("ROOT"); at != std::string::npos) expected.replace(at, 4, root);
    EXPECT_NE(out.find("\n" + expected), std::string::npos) << out;
    EXPECT_NE(out.find(" items wrong\n"), std::string::npos) << out;
  }
}

}  // namespace
