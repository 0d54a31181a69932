// locks_stations_test.cpp - two stations, two processes, one lock: a child
// process (its own temporary folder, so its own station id) holds a key lock
// on "PropietH"; this process asks for the same key, waits with the lock
// message shown once, and gets the lock as soon as the child releases it.
// A child killed while it holds its locks leaves them to the next scan; a
// child asked to end by a signal frees them itself.  The two processes step
// each other through pipes; nothing is timed.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "data_test_support.h"

namespace {

using datatest::DataTest;
using datatest::Messages;

class StationsTest : public DataTest {
 protected:
  int toChild[2] = {-1, -1};
  int toParent[2] = {-1, -1};

  void TearDown() override {
    for (int fd : {toChild[0], toChild[1], toParent[0], toParent[1]})
      if (fd >= 0) close(fd);
    DataTest::TearDown();
  }

  static char Receive(int fd) {
    char c = 0;
    return read(fd, &c, 1) == 1 ? c : '\0';
  }
  static void Send(int fd, char c) { (void)!write(fd, &c, 1); }

  // The other station: takes the lock, reports, waits for the word, releases.
  [[noreturn]] void RunOtherStation(const std::string& key) {
    std::filesystem::create_directories(dir + "/TMP2");
    Session.tempDir = root + "TMP2/";
    Locks = LockState{};
    Platform.computerName = [] { return std::string("ESTACIO2"); };
    int16_t taken = LockKey("PropietH", key);
    Send(toParent[1], taken == 0 ? 'L' : 'x');
    if (Receive(toChild[0]) != 'R') _exit(2);
    int16_t released = ReleaseLock("PropietH");
    Send(toParent[1], released == 0 ? 'F' : 'x');
    _exit(0);
  }

  // Another station that takes its locks (a property, its collections),
  // reports, and then waits for what never comes, as a station does in
  // the middle of a pass: with real pauses, and ending in order when asked
  // to by a signal.
  [[noreturn]] void RunStationThatHolds(const std::string& key) {
    std::filesystem::create_directories(dir + "/TMP2");
    Session.tempDir = root + "TMP2/";
    Locks = LockState{};
    Platform.computerName = [] { return std::string("ESTACIO2"); };
    Platform.pause = nullptr;
    InstallEndSignals();
    bool taken = LockKey("PropietH", key) == 0 && TakeLock("CobramH", key + "0000", key + "9999") == 0;
    Send(toParent[1], taken ? 'L' : 'x');
    for (;;) PauseMs(60000);
  }

  // Starts RunStationThatHolds in a child; its process id once it holds the locks.
  pid_t StartStationThatHolds(const std::string& key) {
    if (pipe(toChild) != 0 || pipe(toParent) != 0) return -1;
    pid_t child = fork();
    if (child == 0) RunStationThatHolds(key);
    if (child < 0 || Receive(toParent[0]) != 'L') return -1;
    return child;
  }

  // The records some station holds in a lock file of the root.
  int HeldRecords(const std::string& file) {
    std::string contents;
    ReadWholeFile(root + "LOCKS/" + file, contents);
    int held = 0;
    for (size_t at = 0; at + kLockRecordSize <= contents.size(); at += kLockRecordSize)
      held +=
          contents.substr(at + kLockStationAt, kLockStationWidth).find_first_not_of(' ') != std::string::npos;
    return held;
  }

  // Sends `signal` to the child and waits for it: the signal that ended it
  // (0 when it ended otherwise).
  static int EndWith(pid_t child, int signal) {
    if (kill(child, signal) != 0) return -1;
    int status = 0;
    if (waitpid(child, &status, 0) != child) return -1;
    return WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  }

  // Pauses counted; a wait that goes on is given up, the lock files cleared.
  void BoundedPauses() {
    Platform.pause = [this](int ms) {
      pauses.push_back(ms);
      if (pauses.size() == 20) {
        ADD_FAILURE() << "still waiting for the other station's locks";
        std::filesystem::remove_all(dir + "/LOCKS");
      }
    };
  }
};

TEST_F(StationsTest, AStationKilledWhileHoldingKeyLocksLeavesThemToTheNextScanAtOnce) {
  pid_t child = StartStationThatHolds("0012");
  ASSERT_GT(child, 0);
  ASSERT_EQ(HeldRecords("PropietH.lck"), 1);
  ASSERT_EQ(EndWith(child, SIGKILL), SIGKILL);
  EXPECT_EQ(HeldRecords("PropietH.lck"), 1) << "a killed station frees nothing itself";

  BoundedPauses();
  EXPECT_EQ(LockKey("PropietH", "0012"), 0);
  EXPECT_EQ(TakeLock("CobramH", "00120001", "00120001"), 0);
  EXPECT_TRUE(pauses.empty()) << pauses.size() << " pauses";
  EXPECT_TRUE(Messages.texts.empty());
  EXPECT_EQ(HeldRecords("PropietH.lck"), 1);  // this station's, in the record the other one had
  EXPECT_EQ(HeldRecords("CobramH.lck"), 1);
}

// SIGHUP (its terminal closed), SIGTERM, SIGINT: the station ends in order,
// its lock records freed and its liveness file gone, then the signal ends
// it.
TEST_F(StationsTest, AStationAskedToEndByASignalFreesItsLocksItself) {
  for (int signal : {SIGHUP, SIGTERM, SIGINT}) {
    SCOPED_TRACE(strsignal(signal));
    std::filesystem::remove_all(dir + "/LOCKS");
    for (int* fds : {toChild, toParent})
      for (int i = 0; i < 2; ++i)
        if (fds[i] >= 0) close(fds[i]), fds[i] = -1;
    pid_t child = StartStationThatHolds("0012");
    ASSERT_GT(child, 0);
    ASSERT_EQ(HeldRecords("PropietH.lck"), 1);
    EXPECT_EQ(EndWith(child, signal), signal);
    EXPECT_EQ(HeldRecords("PropietH.lck"), 0);
    EXPECT_EQ(HeldRecords("CobramH.lck"), 0);
    int stationFiles = 0;
    for (const std::string& name : DirectoryEntries(root + "LOCKS"))
      stationFiles += name.size() > 4 && name.substr(name.size() - 4) == ".sta";
    EXPECT_EQ(stationFiles, 0);
  }
}

TEST_F(StationsTest, TheSecondStationWaitsAndGetsTheLockWhenTheFirstReleasesIt) {
  ASSERT_EQ(pipe(toChild), 0);
  ASSERT_EQ(pipe(toParent), 0);
  const std::string key = std::string("\x80\x8C", 2);  // property 0012
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) RunOtherStation(key);

  ASSERT_EQ(Receive(toParent[0]), 'L');
  std::vector<int> depths;
  Platform.pause = [&](int ms) {
    pauses.push_back(ms);
    depths.push_back(Messages.open);
    if (pauses.size() == 3) {  // let the other station go, and wait until it has
      Send(toChild[1], 'R');
      EXPECT_EQ(Receive(toParent[0]), 'F');
    }
  };
  EXPECT_EQ(LockKey("PropietH", key), 0);
  int childStatus = -1;
  ASSERT_EQ(waitpid(child, &childStatus, 0), child);
  EXPECT_TRUE(WIFEXITED(childStatus) && WEXITSTATUS(childStatus) == 0);

  EXPECT_EQ(pauses.size(), 3u);
  EXPECT_EQ(depths, (std::vector<int>{1, 1, 1}));  // the message, once
  EXPECT_EQ(Messages.open, 0);

  // Two stations, two ids; the lock file holds this station's record in the
  // record the other one freed.
  std::string otherId;
  ASSERT_TRUE(ReadWholeFile(root + "TMP2/LOCKS.TMP", otherId));
  int32_t other = 0;
  std::memcpy(&other, otherId.data(), 4);
  EXPECT_NE(other, 0);
  EXPECT_NE(other, Locks.stationId);
  std::string lockFile;
  ASSERT_TRUE(ReadWholeFile(root + "LOCKS/PropietH.lck", lockFile));
  ASSERT_EQ(lockFile.size(), 121u);
  EXPECT_EQ(lockFile.substr(0, 15), "ESTACIO1       ");
  EXPECT_EQ(lockFile.substr(15, 11).find(std::to_string(Locks.stationId)), 0u);
  EXPECT_EQ(lockFile.substr(35, 6), "4 0012");
}

}  // namespace
