// locks_test.cpp - key locks in lock files, one station against records
// written as other stations (and other programs of the suite) write them:
// the record layout, conflicts, ageing, reuse of records, release, damaged
// files, letter case of the file name, and the bounded failure of a folder
// that cannot be used.
#include <cstdio>

#include "data_test_support.h"

namespace {

using datatest::DataTest;
using datatest::Messages;

constexpr int32_t kNow = 28488240;  // 1 March 2024 12:00

std::string Padded(const std::string& text, size_t width) {
  std::string out = text.substr(0, width);
  out.resize(width, ' ');
  return out;
}

// A lock record as any program of the suite writes it.
std::string LockRecord(const std::string& computer, const std::string& station, const std::string& time,
                       char kind, const std::string& from, const std::string& to) {
  return Padded(computer, 15) + Padded(station, 11) + Padded(time, 8) + kind +
         Padded(std::to_string(from.size()), 2) + Padded(from, 40) + Padded(std::to_string(to.size()), 2) +
         Padded(to, 40) + "\r\n";
}

std::string OtherKeyLock(const std::string& key, int32_t time) {
  return LockRecord("ALTRE", "-12345", std::to_string(time), 'K', key, key);
}

class LocksTest : public DataTest {
 protected:
  LocalTime clock{2024, 3, 1, 12, 0, 31, 0};

  void SetUp() override {
    DataTest::SetUp();
    Platform.clock = [this] { return clock; };
  }

  std::string LockFile(const std::string& name = "PropietH.lck") {
    std::string text;
    ReadWholeFile(root + "LOCKS/" + name, text);
    return text;
  }
  void WriteLockFile(const std::string& contents, const std::string& name = "PropietH.lck") {
    std::filesystem::create_directories(dir + "/LOCKS");
    ASSERT_TRUE(WriteWholeFile(root + "LOCKS/" + name, contents));
  }
  std::string Record(size_t index, const std::string& name = "PropietH.lck") {
    return LockFile(name).substr(index * 121, 121);
  }
  std::string Mine(const std::string& key, int32_t time = kNow) {
    return LockRecord("ESTACIO1", std::to_string(Locks.stationId), std::to_string(time), 'K', key, key);
  }
  void AdvanceOneMinuteEachPause() {
    Platform.pause = [this](int ms) {
      pauses.push_back(ms);
      clock.minute += 1;
    };
  }
};

TEST_F(LocksTest, MinutesCountFromTheStartOf1970InLocalTime) {
  EXPECT_EQ(MinutesNow(), kNow);
  clock = LocalTime{1970, 1, 1, 0, 0, 0, 0};
  EXPECT_EQ(MinutesNow(), 0);
  clock = LocalTime{1970, 1, 2, 0, 1, 59, 49};  // 59.49 s rounds down
  EXPECT_EQ(MinutesNow(), 1441);
  clock = LocalTime{1970, 1, 2, 0, 1, 59, 50};  // 59.50 s rounds to the next minute
  EXPECT_EQ(MinutesNow(), 1442);
  clock = LocalTime{2000, 2, 29, 23, 59, 59, 0};
  EXPECT_EQ(MinutesNow(), 15864479);
}

TEST_F(LocksTest, AStationIdIsDrawnOnceAndKeptInLocksTmp) {
  StationIdentity();
  ASSERT_NE(Locks.stationId, 0);
  std::string stored;
  ASSERT_TRUE(ReadWholeFile(Session.tempDir + "LOCKS.TMP", stored));
  ASSERT_EQ(stored.size(), 19u);
  int32_t id = 0;
  std::memcpy(&id, stored.data(), 4);
  EXPECT_EQ(id, Locks.stationId);
  EXPECT_EQ(stored.substr(4), "ESTACIO1       ");
  // The next run reads it back, name included, even if the computer was renamed.
  Locks = LockState{};
  Platform.computerName = [] { return std::string("RENAMED"); };
  StationIdentity();
  EXPECT_EQ(Locks.stationId, id);
  EXPECT_EQ(Locks.computerName, "ESTACIO1       ");
}

TEST_F(LocksTest, TwoStationsStartedInTheSameInstantGetDifferentIds) {
  std::filesystem::create_directories(dir + "/TMP2");
  StationIdentity();
  int32_t first = Locks.stationId;
  Locks = LockState{};
  Session.tempDir = root + "TMP2/";
  StationIdentity();  // same clock, same hundredth of a second
  EXPECT_NE(Locks.stationId, 0);
  EXPECT_NE(Locks.stationId, first);
}

TEST_F(LocksTest, AnEmptyOrShortLocksTmpGetsANewId) {
  ASSERT_TRUE(WriteWholeFile(Session.tempDir + "LOCKS.TMP", std::string("\x00\x00", 2)));
  StationIdentity();
  EXPECT_NE(Locks.stationId, 0);
  EXPECT_EQ(FileLength(Session.tempDir + "LOCKS.TMP"), 19);
}

TEST_F(LocksTest, AKeyLockIsOneRecordOf121BytesWithPackedBytesAsDigits) {
  EXPECT_EQ(LockKey("PropietH", std::string("\x80\x8C\x85", 3) + "A"), 0);
  std::string expected =
      LockRecord("ESTACIO1", std::to_string(Locks.stationId), "28488240", 'K', "001205A", "001205A");
  ASSERT_EQ(expected.size(), 121u);
  EXPECT_EQ(LockFile(), expected);
  EXPECT_TRUE(pauses.empty());
}

TEST_F(LocksTest, KeysLongerThanFortyBytesAreCut) {
  std::string key(50, 'K');
  EXPECT_EQ(TakeLock("CobramH", key, key + "Z"), 0);
  std::string record = LockFile("CobramH.lck");
  ASSERT_EQ(record.size(), 121u);
  EXPECT_EQ(record.substr(35, 2), "40");
  EXPECT_EQ(record.substr(37, 40), std::string(40, 'K'));
  EXPECT_EQ(record.substr(77, 2), "40");
}

TEST_F(LocksTest, LockingAKeyAlreadyHeldRewritesTheSameRecord) {
  StationIdentity();
  WriteLockFile(Mine("0012", kNow - 5));
  EXPECT_EQ(LockKey("PropietH", "0012"), 0);
  EXPECT_EQ(LockFile(), Mine("0012"));
  EXPECT_TRUE(pauses.empty());
}

TEST_F(LocksTest, ALockOlderThanThirtyMinutesIsFreedAndItsRecordReused) {
  WriteLockFile(OtherKeyLock("0012", kNow - 31));
  EXPECT_EQ(LockKey("PropietH", "0012"), 0);
  EXPECT_TRUE(pauses.empty());
  EXPECT_EQ(LockFile(), Mine("0012"));
}

TEST_F(LocksTest, ALockOfThirtyMinutesStillHoldsUntilItAges) {
  WriteLockFile(OtherKeyLock("0012", kNow - 30));
  AdvanceOneMinuteEachPause();
  randomValue = 0.5;
  EXPECT_EQ(LockKey("PropietH", "0012"), 0);
  EXPECT_EQ(pauses, (std::vector<int>{501}));  // 1000 x 0.5 + 1
  EXPECT_EQ(LockFile(), Mine("0012", kNow + 1));
  EXPECT_EQ(Messages.open, 0);
}

TEST_F(LocksTest, ARangeOfOneByteOverlapsALongerKeyWithTheSameFirstByte) {
  WriteLockFile(OtherKeyLock("A", kNow));
  EXPECT_EQ(TakeLock("PropietH", "B", "B"), 0);  // apart
  EXPECT_EQ(LockFile().size(), 242u);
  AdvanceOneMinuteEachPause();
  // "A" against "AB": compared over one byte, the ranges meet; the request
  // waits until the other lock ages out.
  EXPECT_EQ(TakeLock("PropietH", "AB", "AB"), 0);
  EXPECT_EQ(pauses.size(), 31u);
}

TEST_F(LocksTest, TheLockMessageIsShownOnceWhileWaiting) {
  WriteLockFile(OtherKeyLock("0012", kNow));
  std::vector<int> depths;
  Platform.pause = [&](int ms) {
    pauses.push_back(ms);
    depths.push_back(Messages.open);
    if (pauses.size() == 3) WriteLockFile(std::string(121, ' '));
  };
  EXPECT_EQ(LockKey("PropietH", "0012"), 0);
  EXPECT_EQ(depths, (std::vector<int>{1, 1, 1}));
  EXPECT_EQ(Messages.open, 0);
  EXPECT_EQ(LockFile(), Mine("0012"));  // into the free record
}

TEST_F(LocksTest, AWholeFileLockOfAnotherStationBlocksEveryKey) {
  WriteLockFile(LockRecord("ALTRE", "777", std::to_string(kNow), 'F', "", ""));
  bool sawMessage = false;
  Platform.pause = [&](int ms) {
    pauses.push_back(ms);
    sawMessage = Messages.Showing("FITXER BLOQUEJAT. ESPEREU UN MOMENT.");
    WriteLockFile(LockRecord("", "", std::to_string(kNow), ' ', "", ""));
  };
  EXPECT_EQ(LockKey("PropietH", "9999"), 0);
  EXPECT_EQ(pauses.size(), 1u);
  EXPECT_TRUE(sawMessage);
}

TEST_F(LocksTest, AWholeFileLockOfThisStationEndsTheScanWithoutConflict) {
  StationIdentity();
  std::string own =
      LockRecord("ESTACIO1", std::to_string(Locks.stationId), std::to_string(kNow), 'F', "", "");
  std::string free = LockRecord("", "", "1", ' ', "OLD", "OLD");
  WriteLockFile(free + own + OtherKeyLock("0012", kNow));
  EXPECT_EQ(LockKey("PropietH", "0012"), 0);  // the other's lock lies beyond the scan's end
  EXPECT_EQ(Record(0), Mine("0012"));         // into the last free record met
  EXPECT_EQ(Record(1), own);
}

TEST_F(LocksTest, ReleaseFreesOnlyTheMostRecentLockOfThisStation) {
  EXPECT_EQ(LockKey("PropietH", "0001"), 0);
  clock.minute += 2;
  EXPECT_EQ(LockKey("PropietH", "0002"), 0);
  EXPECT_EQ(ReleaseLock("PropietH"), 0);
  EXPECT_EQ(Record(0), Mine("0001"));
  std::string freed = Record(1);
  EXPECT_EQ(freed.substr(0, 26), std::string(26, ' '));
  EXPECT_EQ(freed[34], ' ');
  EXPECT_EQ(freed.substr(35), Mine("0002", kNow + 2).substr(35));  // the rest stays
  EXPECT_EQ(ReleaseLock("PropietH"), 0);
  EXPECT_EQ(Record(0).substr(0, 26), std::string(26, ' '));
  EXPECT_EQ(ReleaseLock("PropietH"), -1);
}

TEST_F(LocksTest, OnEqualTimesReleaseTakesTheLaterRecord) {
  EXPECT_EQ(LockKey("PagamH", "01"), 0);
  EXPECT_EQ(LockKey("PagamH", "02"), 0);
  EXPECT_EQ(ReleaseLock("PagamH"), 0);
  EXPECT_EQ(Record(0, "PagamH.lck"), Mine("01"));
  EXPECT_EQ(Record(1, "PagamH.lck").substr(0, 26), std::string(26, ' '));
}

TEST_F(LocksTest, ReleaseLeavesOtherStationsLocksAlone) {
  WriteLockFile(OtherKeyLock("0012", kNow));
  std::string before = LockFile();
  EXPECT_EQ(ReleaseLock("PropietH"), -1);
  EXPECT_EQ(LockFile(), before);
}

TEST_F(LocksTest, TakeAndReleaseReachTheSameFileWhateverTheLetterCase) {
  EXPECT_EQ(ReleaseLock(" PROPIETH "), -1);  // nothing held: no file is made
  EXPECT_FALSE(std::filesystem::exists(dir + "/LOCKS/PROPIETH.lck"));
  EXPECT_EQ(LockKey("PropietH", "0012"), 0);
  EXPECT_EQ(ReleaseLock(" PROPIETH "), 0);
  EXPECT_EQ(Record(0).substr(0, 26), std::string(26, ' '));
  // A lock file another program created in capitals is the same file.
  WriteLockFile(OtherKeyLock("0077", kNow), "PAGAMH.LCK");
  AdvanceOneMinuteEachPause();
  EXPECT_EQ(LockKey("PagamH", "0077"), 0);
  EXPECT_EQ(pauses.size(), 31u);
  EXPECT_FALSE(std::filesystem::exists(dir + "/LOCKS/PagamH.lck"));
  EXPECT_EQ(LockFile("PAGAMH.LCK").size(), 121u);
  EXPECT_EQ(ReleaseLock("pagamh"), 0);
}

TEST_F(LocksTest, TheLockFolderIsCreatedWhenMissing) {
  EXPECT_FALSE(std::filesystem::exists(dir + "/LOCKS"));
  EXPECT_EQ(LockKey("CobramH", "00120003"), 0);
  EXPECT_EQ(LockFile("CobramH.lck").size(), 121u);
}

TEST_F(LocksTest, DamagedRecordsAreReadWithoutHarm) {
  std::string noHolderGarbage = LockRecord("", "", "zz", 'Q', "x", "y");
  noHolderGarbage[35] = '?';
  std::string noTime = LockRecord("ALTRE", "55", "soon", 'K', "0012", "0012");
  std::string tail = "ALTRE          66";  // a record cut short
  WriteLockFile(noHolderGarbage + noTime + tail);
  EXPECT_EQ(LockKey("PropietH", "0012"), 0);
  EXPECT_TRUE(pauses.empty());
  EXPECT_EQ(Record(0), Mine("0012"));  // a record without holder is free space
  EXPECT_EQ(Record(1), noTime);        // a record without a time is nobody's lock: untouched
  EXPECT_EQ(LockFile().substr(242), tail);
}

TEST_F(LocksTest, ANewRecordReplacesAShortLastRecordSoRecordsStayAligned) {
  std::string other = OtherKeyLock("0001", kNow);
  WriteLockFile(other + "ALTRE          66");
  EXPECT_EQ(LockKey("PropietH", "0012"), 0);
  EXPECT_EQ(LockFile(), other + Mine("0012"));
  EXPECT_EQ(LockKey("PropietH", "0013"), 0);
  EXPECT_EQ(LockFile().size(), 363u);
}

TEST_F(LocksTest, AKeyRangeWithUnreadableLengthsBlocksUntilItAges) {
  std::string damaged = OtherKeyLock("0099", kNow);
  damaged.replace(35, 2, "x!");
  damaged.replace(77, 2, "99");
  WriteLockFile(damaged);
  AdvanceOneMinuteEachPause();
  EXPECT_EQ(LockKey("PropietH", "0012"), 0);
  EXPECT_EQ(pauses.size(), 31u);
  EXPECT_EQ(LockFile(), Mine("0012", kNow + 31));
}

// The folder failures end the program: the beep before the wait for a key
// prints the messages shown and the pauses made.
void ReportOnBeep(const std::vector<int>* pauses) {
  Platform.beep = [pauses] {
    std::fprintf(stderr, "%s\npauses %zu\n", Messages.All().c_str(), pauses->size());
    std::fflush(stderr);
  };
}

TEST_F(LocksTest, ALockFolderThatCannotBeMadeEndsTheProgramAfterBoundedRetries) {
  ASSERT_TRUE(WriteWholeFile(root + "blocked", "a file where a folder should go"));
  EXPECT_EXIT(
      {
        Session.root = root + "blocked/";
        ReportOnBeep(&pauses);
        LockKey("PropietH", "0012");
        std::exit(0);
      },
      ::testing::ExitedWithCode(1), "NO ES POT ACCEDIR A LA CARPETA .*blocked/LOCKS(.|\n)*pauses 19");
}

TEST_F(LocksTest, ALocksTmpThatCannotBeOpenedEndsTheProgramAfterBoundedRetries) {
  EXPECT_EXIT(
      {
        Session.tempDir = root + "NOWHERE/";
        ReportOnBeep(&pauses);
        LockKey("PropietH", "0012");
        std::exit(0);
      },
      ::testing::ExitedWithCode(1), "NO ES POT ACCEDIR A LA CARPETA .*NOWHERE(.|\n)*pauses 19");
}

TEST_F(LocksTest, AFolderThatRecoversWithinTheLimitIsUsed) {
  std::filesystem::remove_all(dir + "/TMP");
  Platform.pause = [&](int ms) {
    pauses.push_back(ms);
    if (pauses.size() == 5) std::filesystem::create_directories(dir + "/TMP");
  };
  EXPECT_EQ(LockKey("PropietH", "0012"), 0);
  EXPECT_EQ(pauses, std::vector<int>(5, kLockFolderRetryMs));
  EXPECT_EQ(Messages.open, 0);
}

}  // namespace
