// locks_test.cpp - key locks in lock files, one station against records
// written as other stations (and other programs of the suite) write them:
// the record layout, conflicts, ageing, reuse of records, release, damaged
// files, letter case of the file name, and the bounded failure of a folder
// that cannot be used.
#include <sys/stat.h>

#include <cstdio>
#include <functional>
#include <memory>

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
    VirtualPushKeys({kKeyAltX, kKeyEsc});  // typed while waiting
  };
  EXPECT_EQ(LockKey("PropietH", "0012"), 0);
  EXPECT_TRUE(Console.scripted.empty()) << "what was typed during the wait is dropped when it ends";
  EXPECT_TRUE(Keyboard.escapeTyped) << "an Escape among it is kept for a pass that may be running";
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

// ---- Records nobody can be waiting for --------------------------------------------

// The liveness file of another station, held as that station's running
// process holds it (an open description of its own, like another process).
struct OtherStationRunning {
  ExclusiveFile held;
  explicit OtherStationRunning(const std::string& root, const std::string& id) {
    std::filesystem::create_directories(root + "LOCKS");
    EXPECT_EQ(OpenExclusive(root + "LOCKS/" + id + ".sta", held), EXCL_OK);
  }
};

// A record of another station is freed at once when that station's liveness
// file is there and nobody holds it (the station was killed); while a
// process holds it, the lock is waited for; without the file (another
// program of the suite) the 30 minutes hold as always.
TEST_F(LocksTest, ARecordOfAStationThatNoLongerRunsIsFreedAtOnce) {
  struct Case {
    const char* name;
    bool stationFile, running;
    size_t pauses;  // before the lock is taken
  };
  const Case cases[] = {
      {"station gone: its file there, held by nobody", true, false, 0},
      {"station running: it lets go after three pauses", true, true, 3},
      {"no liveness file: another program, 30 minutes", false, false, 30},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(dir + "/LOCKS");
    pauses.clear();
    clock = LocalTime{2024, 3, 1, 12, 0, 31, 0};
    WriteLockFile(OtherKeyLock("0012", kNow - 1));
    if (c.stationFile) { ASSERT_TRUE(WriteWholeFile(root + "LOCKS/-12345.sta", "")); }
    std::unique_ptr<OtherStationRunning> other;
    if (c.running) other = std::make_unique<OtherStationRunning>(root, "-12345");
    bool sawMessage = false;
    Platform.pause = [&](int ms) {
      pauses.push_back(ms);
      clock.minute += 1;
      sawMessage = sawMessage || Messages.Showing("FITXER BLOQUEJAT");
      if (pauses.size() == 3) other.reset();  // the other station ends (or never ran)
      ASSERT_LT(pauses.size(), 40u) << "still waiting";
    };
    EXPECT_EQ(LockKey("PropietH", "0012"), 0);
    EXPECT_EQ(pauses.size(), c.pauses);
    EXPECT_EQ(sawMessage, c.pauses > 0);
    EXPECT_EQ(Record(0), Mine("0012", kNow + static_cast<int32_t>(c.pauses)));
    Locks = LockState{};
  }
}

TEST_F(LocksTest, ARecordDatedMoreThanADayAheadIsAbandoned) {
  // A day ahead still holds (two stations' clocks a few hours apart); more
  // than a day ahead would never age out.
  const std::string dayAhead = OtherKeyLock("0001", kNow + 24 * 60);
  WriteLockFile(dayAhead + OtherKeyLock("0002", kNow + 24 * 60 + 1));
  Platform.pause = [&](int ms) {
    pauses.push_back(ms);
    if (pauses.size() == 5) WriteLockFile(dayAhead);  // waited in vain: let it go
  };
  EXPECT_EQ(LockKey("PropietH", "0002"), 0);
  EXPECT_TRUE(pauses.empty());
  EXPECT_EQ(Record(1), Mine("0002"));
  Platform.pause = [&](int ms) {
    pauses.push_back(ms);
    if (pauses.size() == 2) WriteLockFile(std::string(121, ' ') + Record(1));
  };
  EXPECT_EQ(LockKey("PropietH", "0001"), 0);
  EXPECT_EQ(pauses.size(), 2u);
}

// Another process holding the lock file open (in the middle of its scan)
// is waited for with the lock message from the first attempt, as a
// conflicting lock is.
TEST_F(LocksTest, WaitingOnALockFileHeldOpenShowsTheLockMessage) {
  std::filesystem::create_directories(dir + "/LOCKS");
  StationIdentity();
  auto holder = std::make_unique<ExclusiveFile>();
  ASSERT_EQ(OpenExclusive(root + "LOCKS/PropietH.lck", *holder), EXCL_OK);
  std::vector<int> depths;
  Platform.pause = [&](int ms) {
    pauses.push_back(ms);
    depths.push_back(Messages.open);
    if (pauses.size() == 2) holder.reset();
  };
  randomValue = 0.5;
  EXPECT_EQ(LockKey("PropietH", "0012"), 0);
  EXPECT_EQ(pauses, (std::vector<int>{1501, 1501}));  // 3000 x 0.5 + 1
  EXPECT_EQ(depths, (std::vector<int>{1, 1}));
  EXPECT_EQ(Messages.texts, std::vector<std::string>{"FITXER BLOQUEJAT. ESPEREU UN MOMENT."});
  EXPECT_EQ(Messages.open, 0);
}

// ---- The station's run ------------------------------------------------------------

bool HeldBy(const std::string& record, int32_t station) {
  return record.size() == 121 && record.substr(15, 11) == Padded(std::to_string(station), 11);
}

// With a free record before an old record of its own, the release rule
// frees the old record and leaves the new one held; at the end of the run
// every record of the station goes, in every lock file it used, and its
// liveness file with them.  Other stations' records stay.
TEST_F(LocksTest, AtTheEndOfTheRunEveryRecordOfTheStationIsFreed) {
  StationIdentity();
  const int32_t me = Locks.stationId;
  const std::string free = LockRecord("", "", "1", ' ', "OLD", "OLD");
  const std::string other = OtherKeyLock("0005", kNow);
  WriteLockFile(free + Mine("0001") + other);
  EXPECT_EQ(LockKey("PropietH", "0002"), 0);  // into the free record, same minute
  EXPECT_EQ(LockKey("PagamH", "0002"), 0);
  EXPECT_EQ(ReleaseLock("PropietH"), 0);
  EXPECT_EQ(ReleaseLock("PagamH"), 0);
  EXPECT_TRUE(HeldBy(Record(0), me)) << "the rule of the release: the later record on equal times";
  EXPECT_TRUE(FileExists(root + "LOCKS/" + StationFileName(me)));

  EndStationRun();
  for (size_t i = 0; i < 2; ++i) EXPECT_EQ(Record(i).substr(0, 26), std::string(26, ' ')) << i;
  EXPECT_EQ(Record(2), other);
  EXPECT_FALSE(FileExists(root + "LOCKS/" + StationFileName(me)));
}

// What a killed run of this station left is freed when the station starts
// again, in every lock file of the folder whatever its letter case; a
// second run of the same station alive at the same time takes an id of its
// own for the run and frees nothing of the first.
TEST_F(LocksTest, AtTheStartOfARunTheRecordsAnEarlierRunLeftAreFreed) {
  StationIdentity();
  const int32_t me = Locks.stationId;
  auto mine = [&](const std::string& key) {
    return LockRecord("ESTACIO1", std::to_string(me), std::to_string(kNow), 'K', key, key);
  };
  Locks = LockState{};  // the run ends without its end (killed)
  const std::string other = OtherKeyLock("0005", kNow);
  WriteLockFile(mine("0001") + other + mine("0003"));
  WriteLockFile(mine("00010002"), "COBRAMH.LCK");
  {
    // Another run of this station (the same temporary folder) is alive.
    OtherStationRunning first(root, std::to_string(me));
    StationIdentity();
    EXPECT_NE(Locks.stationId, me);
    EXPECT_EQ(Locks.computerName, "ESTACIO1       ");
    EXPECT_TRUE(HeldBy(Record(0), me));
    EXPECT_TRUE(HeldBy(Record(0, "COBRAMH.LCK"), me));
    std::string stored;
    ASSERT_TRUE(ReadWholeFile(Session.tempDir + "LOCKS.TMP", stored));
    EXPECT_EQ(stored.substr(0, 4), std::string(reinterpret_cast<const char*>(&me), 4)) << "kept as it was";
    Locks = LockState{};
  }
  StationIdentity();
  EXPECT_EQ(Locks.stationId, me);
  EXPECT_EQ(Record(0).substr(0, 26), std::string(26, ' '));
  EXPECT_EQ(Record(1), other);
  EXPECT_EQ(Record(2).substr(0, 26), std::string(26, ' '));
  EXPECT_EQ(Record(0, "COBRAMH.LCK").substr(0, 26), std::string(26, ' '));
  EXPECT_EQ(ProbeExclusive(root + "LOCKS/" + StationFileName(me)), HOLDER_PRESENT);
}

// ---- Shared files: links, rights ------------------------------------------------------

// A symbolic link where a lock file, the liveness file or LOCKS.TMP belongs
// is never followed: the program ends at once with a message naming the
// file, and the file the link points to stays as it was (the message
// window's beep shows it, in the process that ends).
TEST_F(LocksTest, SymbolicLinksInPlaceOfTheStationsFilesAreRefused) {
  const std::string victim = dir + "/victim";
  ASSERT_TRUE(WriteWholeFile(victim, "precious"));
  std::filesystem::create_directories(dir + "/LOCKS");
  StationIdentity();  // the station's id, for the name of its liveness file
  const std::string stationFile = "LOCKS/" + StationFileName(Locks.stationId);
  Locks = LockState{};
  struct Case {
    std::string link;     // under the root
    std::string pattern;  // its name in the message (the id differs in the process that ends)
    std::function<void()> use;
  };
  const std::vector<Case> cases = {
      {stationFile, "LOCKS/-?[0-9]+\\.sta", [] { StationIdentity(); }},  // first: the id still in LOCKS.TMP
      {"LOCKS/PropietH.lck", "LOCKS/PropietH\\.lck", [] { LockKey("PropietH", "0012"); }},
      {"TMP/LOCKS.TMP", "TMP/LOCKS\\.TMP", [] { StationIdentity(); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.link);
    std::filesystem::remove(dir + "/" + c.link);
    std::filesystem::create_symlink(victim, dir + "/" + c.link);
    EXPECT_EXIT(
        {
          Platform.beep = [&] {
            std::string contents;
            ReadWholeFile(victim, contents);
            std::fprintf(stderr, "%s\nvictim %s, pauses %zu\n", Messages.All().c_str(), contents.c_str(),
                         pauses.size());
          };
          c.use();
          std::exit(0);
        },
        // (the regular expression sees no bytes above 127: É, Ç and Ò as ".")
        ::testing::ExitedWithCode(1),
        "NO ES POT ACCEDIR AL FITXER /.*/" + c.pattern +
            ": .S UN ENLLA. SIMB.LIC(.|\n)*victim precious, pauses 0");
    std::filesystem::remove(dir + "/" + c.link);
  }
}

// Under umask 002 (a suite root shared by a group) the lock folder, the
// lock files, the liveness file and LOCKS.TMP come out group-writable.
TEST_F(LocksTest, FilesOfTheLockFolderAreCreatedWithTheModeTheUmaskAllows) {
  mode_t previous = umask(002);
  EXPECT_EQ(LockKey("PropietH", "0012"), 0);
  umask(previous);
  namespace fs = std::filesystem;
  for (const std::string& path : {dir + "/LOCKS", dir + "/LOCKS/PropietH.lck", dir + "/TMP/LOCKS.TMP",
                                  dir + "/LOCKS/" + StationFileName(Locks.stationId)}) {
    SCOPED_TRACE(path);
    fs::perms p = fs::status(path).permissions();
    EXPECT_NE(p & fs::perms::group_write, fs::perms::none);
    EXPECT_EQ(p & fs::perms::others_write, fs::perms::none);
  }
}

// A lock folder or file that cannot be used for another reason than a
// station holding it is said at once, with the file and the system's
// reason, instead of the lock message: no pause, no lock message.
TEST_F(LocksTest, AnUnusableLockFolderOrFileIsSaidAtOnceWithItsReason) {
  ASSERT_TRUE(WriteWholeFile(root + "blocked", "a file where a folder should go"));
  EXPECT_EXIT(
      {
        Session.root = root + "blocked/";
        ReportOnBeep(&pauses);
        LockKey("PropietH", "0012");
        std::exit(0);
      },
      ::testing::ExitedWithCode(1),
      "NO ES POT ACCEDIR A LA CARPETA .*blocked/LOCKS: .*S UN FITXER, NO UNA CARPETA \\(Not a "
      "directory\\)\n+pauses 0");
  // Another user's lock file, not writable for this one (as root, a
  // folder in its place serves: it cannot be opened for writing either).
  std::filesystem::create_directories(dir + "/LOCKS/CobramH.lck");
  EXPECT_EXIT(
      {
        ReportOnBeep(&pauses);
        LockKey("CobramH", "0012");
        std::exit(0);
      },
      ::testing::ExitedWithCode(1),
      "NO ES POT ACCEDIR AL FITXER .*/LOCKS/CobramH.lck: Is a directory\n+pauses 0");
}

TEST_F(LocksTest, ALocksTmpThatCannotBeOpenedIsSaidAtOnce) {
  EXPECT_EXIT(
      {
        Session.tempDir = root + "NOWHERE/";
        ReportOnBeep(&pauses);
        LockKey("PropietH", "0012");
        std::exit(0);
      },
      ::testing::ExitedWithCode(1),
      "NO ES POT ACCEDIR AL FITXER .*NOWHERE/LOCKS.TMP: NO EXISTEIX \\(No such file or directory\\)\n+pauses "
      "0");
}

// A station name that is not text (control characters written into the
// file) would go into the lock records and the settlement journal, and to
// the terminal from there: the start refuses it, naming the file.
TEST_F(LocksTest, AStationIdentityThatIsNotTextIsRefusedNamingItsFile) {
  const std::string identity = std::string("\x07\x00\x00\x00", 4) + "EST\x1b[2JCIO    ";
  ASSERT_TRUE(WriteWholeFile(root + "TMP/LOCKS.TMP", identity.substr(0, 19)));
  EXPECT_EXIT(
      {
        ReportOnBeep(&pauses);
        StationIdentity();
        std::exit(0);
      },
      ::testing::ExitedWithCode(1),
      "LA IDENTITAT DEL LLOC DE TREBALL A /.*/TMP/LOCKS.TMP NO .*S TEXT: ESBORREU EL FITXER");
  std::string kept;
  ASSERT_TRUE(ReadWholeFile(root + "TMP/LOCKS.TMP", kept));
  EXPECT_EQ(kept, identity.substr(0, 19)) << "left for the technician to see";
  // A name of text, accented letters too, is the station's.
  ASSERT_TRUE(
      WriteWholeFile(root + "TMP/LOCKS.TMP", std::string("\x07\x00\x00\x00", 4) + "ESTACI\xE0 3     "));
  Locks = LockState{};
  StationIdentity();
  EXPECT_EQ(Locks.stationId, 7);
  EXPECT_EQ(Locks.computerName.substr(0, 9), "ESTACI\xE0 3");
  EndStationRun();
}

}  // namespace
