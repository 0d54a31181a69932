// reader_test.cpp - the tools that only read, run by a user who may read a
// suite root and not write it (an auditor, a second office user), while a
// station of the suite writes: balances, settlements list and show, recutil
// dump, stat and check work, say nothing about writing and change nothing;
// what would write through them is refused.  The user is "nobody": the
// tests act as it when they run as root (as they do in CI), and are skipped
// otherwise.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tests/settle/pass_child.h"
#include "tests/settle/settle_test_support.h"
#include "tests/tools/tool_runs.h"

namespace {

namespace fs = std::filesystem;
using toolruns::Lines;
using toolruns::Result;

std::string Tool(const char* name) { return std::string(TARPELIX_BINARY_DIR) + "/tools/" + name; }

// A command line run as the user nobody, without groups.
Result AsNobody(const std::string& commandLine) {
  return toolruns::RunCommand("setpriv --reuid=65534 --regid=65534 --clear-groups sh -c '" + commandLine +
                              "'");
}

// Bytes and modification time of a file.
std::string Fingerprint(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return "missing";
  std::ifstream in(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return bytes + "@" + std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
}

// A station that keeps the data folder open and writes a record of the
// concepts file (the same bytes again) each time it is asked: its commits
// stay in the folder's write-ahead log, as a working station's do.
struct WritingStation {
  int ask[2] = {-1, -1}, done[2] = {-1, -1};
  pid_t pid = -1;

  explicit WritingStation(const std::string& concepts) {
    if (pipe(ask) != 0 || pipe(done) != 0) return;
    pid = fork();
    if (pid != 0) {
      close(ask[0]);
      close(done[1]);
      return;
    }
    close(ask[1]);
    close(done[0]);
    uint8_t block[kPositionBlockSize] = {};
    std::string owner(1, '\0');
    uint32_t length = 1;
    std::string key = concepts;
    int16_t opened =
        BTRCALL(B_OPEN, block, owner.data(), &length, key.data(), static_cast<uint8_t>(key.size()), 0);
    if (opened != 0) {
      std::fprintf(stderr, "the writing station cannot open %s: %d\n", concepts.c_str(), opened);
      _exit(1);
    }
    char c;
    while (read(ask[0], &c, 1) == 1) {
      std::string record(1536, '\0');
      char keyBuffer[256] = {};
      length = static_cast<uint32_t>(record.size());
      char result = BTRCALL(B_GET_FIRST, block, record.data(), &length, keyBuffer, 255, 0) == 0 &&
                            BTRCALL(B_UPDATE, block, record.data(), &length, keyBuffer, 255, 0) == 0
                        ? 'w'
                        : 'x';
      (void)!write(done[1], &result, 1);
    }
    _exit(0);
  }
  // One more write; true when it was made.
  bool Write() {
    char c = 'w';
    return write(ask[1], &c, 1) == 1 && read(done[0], &c, 1) == 1 && c == 'w';
  }
  ~WritingStation() {
    close(ask[1]);
    close(done[0]);
    if (pid > 0) waitpid(pid, nullptr, 0);
  }
};

class ReaderTest : public ::testing::Test {
 protected:
  TempDir temp{"tarpelix_reader_"};
  std::string dir = temp.path;

  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "acting as the user nobody needs root";
    ASSERT_FALSE(dir.empty());
    settletest::MakeSuiteRoot(dir);
    ASSERT_EQ(toolruns::RunCommand(Tool("demodata") + " --root=" + dir + " --properties=4").exit, 0);
    ASSERT_TRUE(passchild::SettleInChild(dir, 2, 3));
    // Readable by everybody, writable by its owner alone.
    fs::permissions(dir, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                             fs::perms::others_read | fs::perms::others_exec);
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
      fs::perms p = entry.is_directory()
                        ? fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec
                        : fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                              fs::perms::others_read;
      fs::permissions(entry.path(), p);
    }
  }
};

TEST_F(ReaderTest, TheReadingToolsWorkForAUserWhoMayNotWriteAndChangeNothingWhileAStationWrites) {
  const std::string data = dir + "/DADES/", db = data + "recman.db";
  WritingStation station(data + "THRebut.dat");
  ASSERT_TRUE(station.Write());
  const std::string before = Fingerprint(db);
  const std::string settlements = "cd " + dir + "/TMP && KALTMP= " + Tool("settlements") + " --root=" + dir;
  struct Run {
    std::string commandLine, expected;
  } runs[] = {
      {Tool("balances") + " --root=" + dir + " --csv", "0003.0001,"},
      {Tool("balances") + " --root=" + dir, "FINCA 0004"},
      {settlements + " list", "0002-0003"},
      {settlements + " show 1", "LIQUIDACI\xC3\x93 N\xC3\x9AM. 1"},
      {settlements + " show 1 --csv", "0003.0001"},
      {Tool("recutil") + " dump " + data + "PropietH.dat", "\n"},
      {Tool("recutil") + " stat " + data + "PropietH.dat", "records: "},
      {Tool("recutil") + " check " + data + "PropietH.dat", ": ok"},
      {Tool("recutil") + " check " + data + "DiariLiq.dat", ": ok"},
  };
  for (const Run& run : runs) {
    ASSERT_TRUE(station.Write());
    Result r = AsNobody(run.commandLine);
    EXPECT_EQ(r.exit, 0) << run.commandLine << "\n" << r.err;
    EXPECT_NE(r.out.find(run.expected), std::string::npos) << run.commandLine << "\n" << r.out;
    EXPECT_EQ(r.err, "") << run.commandLine;
  }
  EXPECT_EQ(Fingerprint(db), before);

  // What writes is refused, with the file and the reason, and writes nothing.
  Result load = AsNobody("echo 00 | " + Tool("recutil") + " load " + data + "PropietH.dat");
  EXPECT_EQ(load.exit, 1);
  EXPECT_NE(load.err.find("status 46 (access denied)"), std::string::npos) << load.err;
  EXPECT_NE(load.err.find(data + "recman.lck: Permission denied"), std::string::npos) << load.err;
  Result undo = AsNobody(settlements + " undo 1");
  EXPECT_EQ(undo.exit, 1);
  EXPECT_EQ(Fingerprint(db), before);
  ASSERT_TRUE(station.Write());
}

}  // namespace
