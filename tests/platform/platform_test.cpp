// Paths, code page, files and exclusive opens on the host.
#include "platform/platform.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

struct TempDir {
  std::string path;
  TempDir() {
    char pattern[] = "/tmp/tarpelix-platform-XXXXXX";
    path = mkdtemp(pattern);
  }
  ~TempDir() { fs::remove_all(path); }
};

// Creates a file under exactly this host name (not through HostPath).
void Touch(const std::string& path) {
  FILE* f = fopen(path.c_str(), "w");
  ASSERT_NE(f, nullptr) << path;
  fclose(f);
}

}  // namespace

TEST(HostPath, BackslashesBecomeSlashesAndCaseIsMatchedPerComponent) {
  TempDir t;
  fs::create_directories(t.path + "/Dades");
  Touch(t.path + "/Dades/PropietH.dat");
  EXPECT_EQ(HostPath(t.path + "/DADES\\PROPIETH.DAT"), t.path + "/Dades/PropietH.dat");
  EXPECT_EQ(HostPath(t.path + "\\dades\\propieth.dat"), t.path + "/Dades/PropietH.dat");
}

TEST(HostPath, MissingComponentsKeepTheirSpellingAfterTheLastMatch) {
  TempDir t;
  fs::create_directories(t.path + "/Locks");
  // A new file is created with the name as given, inside the existing folder.
  EXPECT_EQ(HostPath(t.path + "/LOCKS\\PropietH.lck"), t.path + "/Locks/PropietH.lck");
  EXPECT_EQ(HostPath(t.path + "/NOU\\Sub\\F.txt"), t.path + "/NOU/Sub/F.txt");
}

TEST(HostPath, ExactNameWinsOverAnotherCase) {
  TempDir t;
  Touch(t.path + "/a.txt");
  Touch(t.path + "/A.txt");
  EXPECT_EQ(HostPath(t.path + "/A.txt"), t.path + "/A.txt");
  EXPECT_EQ(HostPath(t.path + "/a.txt"), t.path + "/a.txt");
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
