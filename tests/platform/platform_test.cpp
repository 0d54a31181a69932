// Paths, code page, files and exclusive opens on the host.
#include "platform/platform.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <utility>
#include <vector>

#include "tests/temp_dir.h"

namespace fs = std::filesystem;

namespace {

// Creates a file under exactly this host name (not through HostPath).
void Touch(const std::string& path) {
  FILE* f = fopen(path.c_str(), "w");
  ASSERT_NE(f, nullptr) << path;
  fclose(f);
}

}  // namespace

// A folder of files (a name ending in "/" is a folder), and paths asked for
// below it, in turn, with the host paths they must resolve to.
struct HostPathCase {
  const char* what;
  std::vector<std::string> files;
  std::vector<std::pair<std::string, std::string>> askedAndResolved;
};

TEST(HostPath, ResolvesBackslashesAndLetterCasePerComponent) {
  const HostPathCase cases[] = {
      {"backslashes become slashes and case is matched per component",
       {"Dades/", "Dades/PropietH.dat"},
       {{"/DADES\\PROPIETH.DAT", "/Dades/PropietH.dat"}, {"\\dades\\propieth.dat", "/Dades/PropietH.dat"}}},
      // A new file is created with the name as given, inside the existing folder.
      {"missing components keep their spelling after the last match",
       {"Locks/"},
       {{"/LOCKS\\PropietH.lck", "/Locks/PropietH.lck"}, {"/NOU\\Sub\\F.txt", "/NOU/Sub/F.txt"}}},
      {"exact name wins over another case", {"a.txt", "A.txt"}, {{"/A.txt", "/A.txt"}, {"/a.txt", "/a.txt"}}},
  };
  for (const auto& c : cases) {
    TempDir t;
    for (const std::string& file : c.files) {
      if (file.back() == '/') fs::create_directories(t.path + "/" + file);
      else Touch(t.path + "/" + file);
    }
    for (const auto& [asked, resolved] : c.askedAndResolved)
      EXPECT_EQ(HostPath(t.path + asked), t.path + resolved) << c.what;
  }
}

// A path resolved once is kept, but not past the disappearance of one of
// its components: a folder renamed to another case is found again.
TEST(HostPath, AComponentThatDisappearsIsResolvedAgain) {
  TempDir t;
  fs::create_directories(t.path + "/Dades");
  Touch(t.path + "/Dades/PropietH.dat");
  EXPECT_EQ(HostPath(t.path + "/DADES\\PROPIETH.DAT"), t.path + "/Dades/PropietH.dat");
  EXPECT_EQ(HostPath(t.path + "/DADES\\PROPIETH.DAT"), t.path + "/Dades/PropietH.dat");
  fs::rename(t.path + "/Dades", t.path + "/dADES");
  EXPECT_EQ(HostPath(t.path + "/DADES\\PROPIETH.DAT"), t.path + "/dADES/PropietH.dat");
  fs::remove(t.path + "/dADES/PropietH.dat");
  EXPECT_EQ(HostPath(t.path + "/DADES\\PROPIETH.DAT"), t.path + "/dADES/PROPIETH.DAT");
  Touch(t.path + "/dADES/propieth.dat");
  EXPECT_EQ(HostPath(t.path + "/DADES\\PROPIETH.DAT"), t.path + "/dADES/propieth.dat");
}

TEST(HostPath, RelativePathsResolveFromTheCurrentDirectory) {
  TempDir t;
  fs::create_directories(t.path + "/Forms");
  Touch(t.path + "/Forms/Tarpelix.jpn");
  std::string old = CurrentDirectory();
  ASSERT_TRUE(ChangeDirectory(t.path));
  EXPECT_EQ(HostPath("FORMS\\TARPELIX.JPN"), "Forms/Tarpelix.jpn");
  EXPECT_TRUE(FileExists("forms\\tarpelix.JPN"));
  ASSERT_TRUE(ChangeDirectory(old));
}

TEST(HostPath, ProgramBytesInCodePage850BecomeUtf8Names) {
  TempDir t;
  ASSERT_TRUE(WriteWholeFile(t.path + "/Liquidaci\xA2.txt", "x"));  // ó in code page 850
  EXPECT_TRUE(fs::exists(t.path + "/Liquidació.txt"));
  EXPECT_TRUE(FileExists(t.path + "/LIQUIDACI\xE0.TXT"));  // Ó
}

TEST(CodePage, EveryByteRoundTripsThroughUtf8) {
  for (int b = 32; b < 256; ++b) {
    std::string one(1, static_cast<char>(b));
    EXPECT_EQ(Utf8ToCp850(Cp850ToUtf8(one)), one) << "byte " << b;
  }
}

TEST(CodePage, KnownLettersAndBoxCharacters) {
  EXPECT_EQ(Cp850ToUtf8("\x90S R\xE3SSEC"), "ÉS RÒSSEC");
  EXPECT_EQ(Cp850ToUtf8("\xC9\xCD\xBB"), "╔═╗");
  EXPECT_EQ(Utf8ToCp850("març"), "mar\x87");
  EXPECT_EQ(Cp850ToUnicode(0x11), U'◄');
  EXPECT_EQ(Cp850ToUnicode(0x10), U'►');
  EXPECT_EQ(UnicodeToCp850(U'◄'), 0x11);
}

TEST(CodePage, BrokenUtf8NeverReadsPastTheEnd) {
  EXPECT_EQ(Utf8ToCp850(std::string("a\xC3")), "a?");
  EXPECT_EQ(Utf8ToCp850(std::string("\xE2\x95")), "?");
  EXPECT_EQ(Utf8ToCp850(std::string("\x80z")), "?z");
  EXPECT_EQ(Utf8ToCp850("€"), "?");  // no euro sign in code page 850
}

TEST(CodePage, OneStrictUtf8DecoderForNamesAndKeys) {
  struct Case {
    const char* name;
    std::string bytes;
    Utf8Status status;
    char32_t codePoint;
    size_t length;
    std::string asCp850;
  } const cases[] = {
      {"ASCII", "A", Utf8Status::kOk, U'A', 1, "A"},
      {"two bytes", "\xC3\xA7", Utf8Status::kOk, U'\u00E7', 2, "\x87"},
      {"three bytes", "\xE2\x95\x90", Utf8Status::kOk, U'\u2550', 3, "\xCD"},
      {"four bytes", "\xF0\x9F\x98\x80", Utf8Status::kOk, U'\U0001F600', 4, "?"},
      {"overlong slash", "\xC0\xAF", Utf8Status::kInvalid, 0, 0, "??"},
      {"overlong in three", "\xE0\x80\xAF", Utf8Status::kInvalid, 0, 0, "???"},
      {"overlong in four", "\xF0\x80\x80\xAF", Utf8Status::kInvalid, 0, 0, "????"},
      {"surrogate", "\xED\xA0\x80", Utf8Status::kInvalid, 0, 0, "???"},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80", Utf8Status::kInvalid, 0, 0, "????"},
      {"no lead byte", "\xBFx", Utf8Status::kInvalid, 0, 0, "?x"},
      {"lead without continuation", "\xC3x", Utf8Status::kInvalid, 0, 0, "?x"},
      {"cut short", "\xE2\x95", Utf8Status::kIncomplete, 0, 0, "?"},
  };
  for (const Case& c : cases) {
    char32_t codePoint = 0;
    size_t length = 0;
    EXPECT_EQ(DecodeUtf8(c.bytes, codePoint, length), c.status) << c.name;
    if (c.status == Utf8Status::kOk) {
      EXPECT_EQ(codePoint, c.codePoint) << c.name;
      EXPECT_EQ(length, c.length) << c.name;
    }
    EXPECT_EQ(Utf8ToCp850(c.bytes), c.asCp850) << c.name;
  }
}

TEST(Files, AppendCreatesAndAddsWholeLines) {
  TempDir t;
  std::string log = t.path + "/db.log";
  ASSERT_TRUE(AppendToFile(log, "one\r\n"));
  ASSERT_TRUE(AppendToFile(log, "two\r\n"));
  std::string contents;
  ASSERT_TRUE(ReadWholeFile(log, contents));
  EXPECT_EQ(contents, "one\r\ntwo\r\n");
  EXPECT_EQ(FileLength(log), 10);
  EXPECT_FALSE(AppendToFile(t.path + "/missing/db.log", "x"));
}

// The update log stays open between lines, and follows its name: a file
// removed, renamed or replaced by a link is not written through the old
// descriptor.  Two stations' lines follow each other whole.
TEST(Files, AKeptLogAppendsToTheFileItsNameLeadsTo) {
  TempDir t;
  std::string log = t.path + "/db.log";
  auto read = [](const std::string& path) {
    std::string contents;
    EXPECT_TRUE(ReadWholeFile(path, contents)) << path;
    return contents;
  };
  AppendLog station, other;
  ASSERT_TRUE(AppendLine(station, log, "one\r\n"));
  int fd = station.fd;
  ASSERT_TRUE(AppendLine(other, log, "two\r\n"));
  ASSERT_TRUE(AppendLine(station, log, "three\r\n"));
  EXPECT_EQ(station.fd, fd);
  EXPECT_EQ(read(log), "one\r\ntwo\r\nthree\r\n");

  fs::rename(log, t.path + "/db.old");
  ASSERT_TRUE(AppendLine(station, log, "four\r\n"));
  EXPECT_EQ(read(log), "four\r\n");
  EXPECT_EQ(read(t.path + "/db.old"), "one\r\ntwo\r\nthree\r\n");
  fs::remove(log);
  ASSERT_TRUE(AppendLine(station, log, "five\r\n"));
  EXPECT_EQ(read(log), "five\r\n");

  fs::remove(log);
  fs::create_symlink(t.path + "/db.old", log);
  int error = 0;
  EXPECT_FALSE(AppendLine(station, log, "six\r\n", &error));
  EXPECT_EQ(error, ELOOP);
  EXPECT_EQ(read(t.path + "/db.old"), "one\r\ntwo\r\nthree\r\n");
  EXPECT_FALSE(AppendLine(station, t.path + "/missing/db.log", "x", &error));
  EXPECT_EQ(error, ENOENT);
}

TEST(Files, ExclusiveOpenExcludesASecondOpenInThisAndAnotherProcess) {
  TempDir t;
  std::string path = t.path + "/LOCKS\\PropietH.lck";
  fs::create_directories(t.path + "/LOCKS");
  ExclusiveFile first;
  ASSERT_EQ(OpenExclusive(path, first), EXCL_OK);
  ExclusiveFile second;
  EXPECT_EQ(OpenExclusive(path, second), EXCL_BUSY);

  pid_t child = fork();
  if (child == 0) {
    ExclusiveFile theirs;
    _exit(OpenExclusive(path, theirs) == EXCL_BUSY ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  first.Close();
  EXPECT_EQ(OpenExclusive(path, second), EXCL_OK);
  EXPECT_EQ(WriteAt(second, 0, "abc", 3), 3);
  char buffer[8] = {};
  EXPECT_EQ(ReadAt(second, 1, buffer, 8), 2);
  EXPECT_STREQ(buffer, "bc");
}

TEST(Files, ExclusiveOpenReportsAMissingFolder) {
  TempDir t;
  ExclusiveFile f;
  EXPECT_EQ(OpenExclusive(t.path + "/NOPE\\x.lck", f), EXCL_NO_DIRECTORY);
}

// Every way the program opens a file for writing refuses a symbolic link at
// the last component (the file it points to stays as it was); reading
// still follows links.  Links in the folders above are followed.
TEST(Files, WritesNeverFollowASymbolicLinkAtTheLastComponent) {
  TempDir t;
  const std::string victim = t.path + "/victim", link = t.path + "/link";
  Touch(victim);
  ASSERT_TRUE(AppendToFile(victim, "precious"));
  fs::create_symlink(victim, link);
  int error = 0;
  EXPECT_FALSE(AppendToFile(link, "x", &error));
  EXPECT_EQ(error, ELOOP);
  for (const char* mode : {"wb", "w+b", "ab", "a+b", "r+b"}) {
    FileHandle file(link, mode);
    EXPECT_FALSE(file) << mode;
    EXPECT_EQ(file.error, ELOOP) << mode;
  }
  EXPECT_FALSE(WriteWholeFile(link, "x"));
  ExclusiveFile exclusive;
  EXPECT_EQ(OpenExclusive(link, exclusive), EXCL_FAILED);
  EXPECT_EQ(exclusive.error, ELOOP);
  fs::create_symlink(t.path + "/nowhere", t.path + "/dangling");  // would create its target
  EXPECT_FALSE(AppendToFile(t.path + "/dangling", "x"));
  EXPECT_FALSE(fs::exists(t.path + "/nowhere"));
  std::string contents;
  ASSERT_TRUE(ReadWholeFile(victim, contents));
  EXPECT_EQ(contents, "precious");
  FileHandle reading(link, "rb");
  EXPECT_TRUE(reading);
  fs::create_directories(t.path + "/real");
  fs::create_directory_symlink(t.path + "/real", t.path + "/folder");
  EXPECT_TRUE(AppendToFile(t.path + "/folder/db.log", "line"));
  EXPECT_TRUE(fs::exists(t.path + "/real/db.log"));
}

TEST(Files, NewFilesAndFoldersGetTheModeTheUmaskAllows) {
  TempDir t;
  mode_t previous = umask(002);
  AppendToFile(t.path + "/appended", "x");
  WriteWholeFile(t.path + "/written", "x");
  ExclusiveFile exclusive;
  OpenExclusive(t.path + "/exclusive", exclusive);
  MakeDirectory(t.path + "/folder");
  umask(previous);
  for (const char* name : {"appended", "written", "exclusive"})
    EXPECT_EQ(fs::status(t.path + "/" + name).permissions(), static_cast<fs::perms>(0664)) << name;
  EXPECT_EQ(fs::status(t.path + "/folder").permissions(), static_cast<fs::perms>(0775));
}

// Whether someone holds a file the way OpenExclusive does, asked without
// creating or taking it; the hold goes with its holder, however it ends.
TEST(Files, ProbeTellsWhetherAnExclusiveFileIsHeld) {
  TempDir t;
  const std::string path = t.path + "/-123.sta";
  EXPECT_EQ(ProbeExclusive(path), HOLDER_NO_FILE);
  EXPECT_FALSE(fs::exists(path));
  ExclusiveFile mine;
  ASSERT_EQ(OpenExclusive(path, mine), EXCL_OK);
  EXPECT_EQ(ProbeExclusive(path), HOLDER_PRESENT) << "held by this very process counts";
  EXPECT_TRUE(ExclusiveFileIsAt(mine, path));
  mine.Close();
  EXPECT_EQ(ProbeExclusive(path), HOLDER_NONE);

  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t child = fork();
  if (child == 0) {
    ExclusiveFile theirs;
    OpenExclusive(path, theirs);
    char c = 'h';
    (void)!write(ready[1], &c, 1);
    pause();
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  EXPECT_EQ(ProbeExclusive(path), HOLDER_PRESENT);
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  EXPECT_EQ(ProbeExclusive(path), HOLDER_NONE);
  close(ready[0]);
  close(ready[1]);

  ASSERT_EQ(OpenExclusive(path, mine), EXCL_OK);
  fs::remove(path);
  Touch(path);  // removed and made again: another file at that path
  EXPECT_FALSE(ExclusiveFileIsAt(mine, path));
  fs::remove(path);
  fs::create_symlink(t.path + "/elsewhere", path);
  EXPECT_EQ(ProbeExclusive(path), HOLDER_UNKNOWN);
}

TEST(Files, DirectoryEntriesAndUsableFolders) {
  TempDir t;
  Touch(t.path + "/PropietH.lck");
  fs::create_directories(t.path + "/sub");
  std::vector<std::string> names = DirectoryEntries(t.path);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"PropietH.lck", "sub"}));
  EXPECT_TRUE(DirectoryEntries(t.path + "/missing").empty());
  int error = 0;
  EXPECT_TRUE(DirectoryUsable(t.path, error));
  EXPECT_FALSE(DirectoryUsable(t.path + "/missing", error));
  EXPECT_EQ(error, ENOENT);
  EXPECT_FALSE(DirectoryUsable(t.path + "/PropietH.lck", error));
  EXPECT_EQ(error, ENOTDIR);
}

// A program is started with exactly its arguments, no shell between: shell
// text in them is only text.
TEST(Processes, RunProgramPassesTheArgumentsWithoutAShell) {
  TempDir t;
  const std::string script = t.path + "/show";
  ASSERT_TRUE(
      WriteWholeFile(script, "#!/bin/sh\nprintf '%s\\n' \"$#\" \"$@\" > \"" + t.path + "/args\"\nexit 3\n"));
  fs::permissions(script, fs::perms::owner_all);
  EXPECT_EQ(RunProgram({script, "a b", "x;touch " + t.path + "/PWNED", "$(id)"}), 3);
  std::string args;
  ASSERT_TRUE(ReadWholeFile(t.path + "/args", args));
  EXPECT_EQ(args, "3\na b\nx;touch " + t.path + "/PWNED\n$(id)\n");
  EXPECT_EQ(RunProgram({"true; touch " + t.path + "/PWNED"}), 127);
  EXPECT_EQ(RunProgram({}), 127);
  EXPECT_FALSE(fs::exists(t.path + "/PWNED"));
}

// With the orderly end installed, SIGHUP does not kill the process where it
// stands: a pause is cut short, the registered steps run newest first, and
// then the signal ends the process.  SIGXFSZ no longer kills.
int gStepsFd = -1;
void FirstStep() { (void)!write(gStepsFd, "1", 1); }
void SecondStep() { (void)!write(gStepsFd, "2", 1); }

TEST(Processes, ASignalToEndRunsTheStepsAtTheNextPauseAndThenEndsTheProcess) {
  int steps[2];
  ASSERT_EQ(pipe(steps), 0);
  pid_t child = fork();
  if (child == 0) {
    close(steps[0]);
    gStepsFd = steps[1];
    Platform = PlatformHooks{};
    InstallEndSignals();
    AtOrderlyEnd(FirstStep);
    AtOrderlyEnd(SecondStep);
    AtOrderlyEnd(FirstStep);  // once only
    raise(SIGXFSZ);           // ignored
    (void)!write(gStepsFd, "p", 1);
    raise(SIGHUP);  // noted; the process goes on to its next safe point
    (void)!write(gStepsFd, "q", 1);
    PauseMs(60000);
    _exit(9);
  }
  close(steps[1]);
  std::string written;
  char buffer[16];
  ssize_t n;
  auto started = std::chrono::steady_clock::now();
  while ((n = read(steps[0], buffer, sizeof buffer)) > 0) written.append(buffer, static_cast<size_t>(n));
  close(steps[0]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30))
      << "the pause was not cut short";
  EXPECT_EQ(written, "pq21");
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGHUP) << status;
}

TEST(Services, HooksReplaceClockPauseRandomAndEnvironment) {
  std::map<std::string, std::string> env = {{"KALROOT", "C:\\KAL\\"}};
  int paused = 0;
  Platform.environment = &env;
  Platform.clock = [] { return LocalTime{2023, 4, 7, 10, 30, 15, 0}; };
  Platform.pause = [&](int ms) { paused += ms; };
  Platform.random = [] { return 0.25; };
  EXPECT_EQ(GetEnv("KALROOT"), "C:\\KAL\\");
  EXPECT_EQ(GetEnv("KALTMP"), "");
  EXPECT_EQ(Now().year, 2023);
  EXPECT_EQ(SecondsSinceMidnight(), 10 * 3600 + 30 * 60 + 15);
  PauseMs(3000);
  EXPECT_EQ(paused, 3000);
  EXPECT_EQ(RandomUnit(), 0.25);
  Platform = PlatformHooks{};
  double r = RandomUnit();
  EXPECT_GE(r, 0.0);
  EXPECT_LT(r, 1.0);
}
