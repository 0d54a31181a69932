// locks_stations_test.cpp - two stations, two processes, one lock: a child
// process (its own temporary folder, so its own station id) holds a key lock
// on "PropietH"; this process asks for the same key, waits with the lock
// message shown once, and gets the lock as soon as the child releases it.
// The two processes step each other through pipes; nothing is timed.
#include <sys/wait.h>
#include <unistd.h>

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
};

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
