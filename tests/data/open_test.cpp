// open_test.cpp - opening data files into the file table, statistics and
// closing everything, against real record manager files created from their
// dictionaries.
#include <sqlite3.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>

#include "data_test_support.h"

namespace {

using datatest::CreateBuffer;
using datatest::DataTest;
using datatest::Messages;
using datatest::Segment;

// Prints the messages shown when the program beeps: a death test's stderr then shows
// the fatal message the operator would see.
void DumpScreenOnBeep() {
  Platform.beep = [] {
    std::fprintf(stderr, "%s\n", Messages.All().c_str());
    std::fflush(stderr);
  };
}

struct NameCase {
  const char* name;
  const char* directory;
  const char* base;
  const char* extension;
};

TEST(DataFileNameTest, SplitsDirectoryBaseAndExtension) {
  const NameCase cases[] = {
      {"DADES\\THRebut", "DADES\\", "THRebut", ".dat"},
      {"X.DAT", "", "X", ".DAT"},
      {"C:\\A.B\\FILE", "C:\\A.B\\", "FILE", ".dat"},
      {"A.B.C", "", "A", ".B.C"},
      {"C:FILE", "C:", "FILE", ".dat"},
      {"/srv/kal/DADES/PropietH", "/srv/kal/DADES/", "PropietH", ".dat"},
      {"", "", "", ".dat"},
  };
  for (const NameCase& c : cases) {
    DataFileName parts = SplitDataFileName(c.name);
    EXPECT_EQ(parts.directory, c.directory) << c.name;
    EXPECT_EQ(parts.base, c.base) << c.name;
    EXPECT_EQ(parts.extension, c.extension) << c.name;
  }
}

class OpenTest : public DataTest {
 protected:
  unsigned char record[64] = {};
  const std::string smallFile = CreateBuffer(16, {{Segment{1, 4, 0}}});

  // Opening `name` ends the program, exit code 1, with a message on the
  // standard error that `message` (a regular expression) finds.
  void ExpectOpenEndsTheProgram(const std::string& name, const std::string& message) {
    EXPECT_EXIT(
        {
          DumpScreenOnBeep();
          int16_t status = 0;
          OpenDataFile(status, record, name, 1, sizeof record);
          std::fprintf(stderr, "returned %d\n", status);
          std::exit(0);
        },
        ::testing::ExitedWithCode(1), message);
  }
};

TEST_F(OpenTest, SixProgramFilesAreCreatedFromTheirDictionariesIntoSlotsFortyDown) {
  UseDemoDictionaries();
  struct {
    const char* name;
    int16_t number;
    int recordLength;
    int keyLength;
  } files[] = {{"THRebut", 504, 24, 1},   {"FinquesH", 511, 388, 2}, {"FinDespH", 512, 604, 2},
               {"PropietH", 513, 428, 4}, {"PagamH", 515, 44, 6},    {"CobramH", 514, 24, 8}};
  unsigned char buffer[604];
  int expectedSlot = 40;
  for (const auto& f : files) {
    int16_t status = -1;
    OpenDataFile(status, buffer, root + "DADES\\" + f.name, f.number);
    ASSERT_EQ(status, 0) << f.name;
    EXPECT_EQ(FindSlot(f.number), expectedSlot) << f.name;
    const DataFileSlot& slot = DataFiles.slots[expectedSlot];
    EXPECT_EQ(slot.recordLength, f.recordLength) << f.name;
    EXPECT_EQ(slot.keyValue, std::string(static_cast<size_t>(f.keyLength), '\0')) << f.name;
    EXPECT_EQ(slot.keyNumber, 0);
    EXPECT_EQ(slot.lockMode, 0);
    int16_t recordLength = 0, keyLength = 0;
    FileStats(recordLength, keyLength, 0, f.number);
    EXPECT_EQ(recordLength, f.recordLength);
    EXPECT_EQ(keyLength, f.keyLength);
    --expectedSlot;
  }
  EXPECT_EQ(FindSlot(9999), -34);
}

TEST_F(OpenTest, TheSameFileNumberTwiceAnswers1002AndKeepsTheFirstEntry) {
  OpenWith("Items", smallFile, record, 7, sizeof record);
  unsigned char other[16];
  int16_t status = 0;
  OpenDataFile(status, other, root + "DADES\\Other", 7);
  EXPECT_EQ(status, kStatusAlreadyOpen);
  EXPECT_EQ(FindSlot(7), 40);
  EXPECT_EQ(DataFiles.slots[40].record, static_cast<void*>(record));
  EXPECT_EQ(FindSlot(8), -39);
}

TEST_F(OpenTest, FileNumberZeroMatchesAFreeSlotAndAnswers1002) {
  WriteDictionary("Items", smallFile);
  int16_t status = 0;
  OpenDataFile(status, record, root + "DADES\\Items", 0);
  EXPECT_EQ(status, kStatusAlreadyOpen);
  EXPECT_EQ(FindSlot(0), 1);
}

TEST_F(OpenTest, TheFortyFirstFileAnswers1003) {
  WriteDictionary("Items", smallFile);
  for (int16_t n = 1; n <= 40; ++n) {
    int16_t status = -1;
    OpenDataFile(status, record, root + "DADES\\Items", n, sizeof record);
    ASSERT_EQ(status, 0) << n;
  }
  EXPECT_EQ(FindSlot(41), 0);
  int16_t status = 0;
  OpenDataFile(status, record, root + "DADES\\Items", 41, sizeof record);
  EXPECT_EQ(status, kStatusTableFull);
  EXPECT_EQ(FindSlot(41), 0);
}

TEST_F(OpenTest, AnExtensionGivenIsKeptAndLetterCaseDoesNotMatter) {
  WriteDictionary("Notes", smallFile);
  int16_t status = -1;
  OpenDataFile(status, record, root + "DADES\\Notes.txt", 1, sizeof record);
  ASSERT_EQ(status, 0);
  ASSERT_EQ(Insert(1, "KEY1 first"), 0);
  unsigned char second[64] = {};
  OpenDataFile(status, second, root + "dades\\NOTES.TXT", 2, sizeof second);
  ASSERT_EQ(status, 0);
  FindRecord(status, 0, "KEY1", 0, 2);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(second), 10), "KEY1 first");
}

TEST_F(OpenTest, ADotInTheDirectoryIsNoExtension) {
  std::filesystem::create_directories(dir + "/DADES/A.B");
  WriteDictionary("FILE", smallFile);
  int16_t status = -1;
  OpenDataFile(status, record, root + "DADES\\A.B\\FILE", 3, sizeof record);
  EXPECT_EQ(status, 0);
  // The dictionary of the base name served: the file has its record length.
  EXPECT_EQ(DataFiles.slots[FindSlot(3)].recordLength, 16);
}

TEST_F(OpenTest, AFileLockedByAnotherHolderIsWaitedForInStepsOf3000Ms) {
  OpenWith("Items", smallFile, record, 1, sizeof record);
  int16_t status = 0;
  ResetDataFiles(status);
  ASSERT_EQ(status, 0);
  // Another station opens the file exclusively and lets it go during the
  // second pause.
  datatest::OtherStation other;
  ASSERT_EQ(other.Start(HostPath(root + "DADES/Items.dat"), B_MODE_EXCLUSIVE), 0);
  Platform.pause = [&](int ms) {
    pauses.push_back(ms);
    if (pauses.size() == 2) other.Close();
    VirtualPushText("12");  // typed while waiting
  };
  Keyboard.TypeAhead = "3";
  OpenDataFile(status, record, root + "DADES\\Items", 1, sizeof record);
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(Console.scripted.empty()) << "what was typed during the wait is dropped when it ends";
  EXPECT_TRUE(Keyboard.TypeAhead.empty());
  EXPECT_EQ(pauses, (std::vector<int>{3000, 3000}));
}

TEST_F(OpenTest, AMissingDictionaryEndsTheProgramWithTheMessageAndStatus) {
  ExpectOpenEndsTheProgram(
      "DADES\\Missing",
      "NO ES POT ACCEDIR AL FITXER[ \n]/.*/DADES/Missing.dat:[ \n]EL[ \n]DICCIONARI[ \n]/.*/ddf/Missing.xdf[ "
      "\n]NO[ \n]"
      "EXISTEIX[ \n]\\([1-9][0-9]*\\)");
}

TEST_F(OpenTest, AnInvalidDictionaryEndsTheProgram) {
  ASSERT_TRUE(WriteWholeFile(root + "ddf/Broken.xdf", std::string("\x40\x00garbage", 9)));
  ExpectOpenEndsTheProgram(
      "DADES\\Broken",
      "FITXER[ \n]/.*/DADES/Broken.dat:[ \n]EL[ \n]DICCIONARI[ \n]/.*/ddf/Broken.xdf[ \n].*S[ \n]INCORRECTE[ "
      "\n]\\(");
}

// The record manager's account of the failure (SQLite's code and message,
// the folder) follows the message on a line of its own.
TEST_F(OpenTest, ADamagedDatabaseEndsTheProgramWithTheStorageDetailOnASecondLine) {
  WriteDictionary("Items", smallFile);
  pid_t pid = fork();
  if (pid == 0) {
    int16_t status = 0;
    OpenDataFile(status, record, root + "DADES\\Items", 1, sizeof record);
    ResetDataFiles(status);
    // Everything into the database file, nothing left in its log.
    sqlite3* db = nullptr;
    bool ok = sqlite3_open((dir + "/DADES/recman.db").c_str(), &db) == SQLITE_OK &&
              sqlite3_exec(db, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    _exit(ok ? 0 : 1);
  }
  int code = -1;
  waitpid(pid, &code, 0);
  ASSERT_TRUE(WIFEXITED(code) && WEXITSTATUS(code) == 0);
  {
    std::fstream f(dir + "/DADES/recman.db", std::ios::in | std::ios::out | std::ios::binary);
    f.write("DAMAGED HEADER!!", 16);
  }
  ExpectOpenEndsTheProgram(
      root + "DADES\\Items",
      "FITXER[ \n]/.*/DADES/Items.dat:[ \n]FITXER[ \n]MALM.*S[ \n]\\(2\\).[ \n]EXECUTEU[ \n]recutil[ "
      "\n]check[ \n]"
      "/.*/DADES\nopen /.*/DADES/recman.db: SQLite 26 \\(file is not a database\\)");
}

TEST_F(OpenTest, MessageTextsAreCodePage850InEveryLanguage) {
  Session.language = "OCI";
  EXPECT_EQ(OpenFailureText(), "NON SE P\xE3T ACCEDIR ATH FICH\xD4R ");
  EXPECT_EQ(LockWaitText(), "FICH\xD4R BLOQUEJAT. ESPERATZ UN MOMENT.");
  Session.language = "GLG";
  EXPECT_EQ(OpenFailureText(), "NOM SE PODE ACEDER AO FICHEIRO ");
  EXPECT_EQ(LockWaitText(), "FICHEIRO BLOQUEADO. ESPERE UM MOMENTO.");
  Session.language = "ENG";
  EXPECT_EQ(OpenFailureText(), "NO ES POT ACCEDIR AL FITXER ");
  EXPECT_EQ(LockWaitText(), "FITXER BLOQUEJAT. ESPEREU UN MOMENT.");
}

TEST_F(OpenTest, FileStatsAddsTheSegmentsOfAKey) {
  std::string spec = CreateBuffer(30, {{Segment{1, 4, 0}},
                                       {Segment{5, 2, 0}, Segment{10, 3, 0}},
                                       {Segment{20, 2, KF_BINARY | KF_DUPLICATES}}});
  OpenWith("Multi", spec, record, 9, sizeof record);
  int16_t recordLength = 0, keyLength = 0;
  const int expected[] = {4, 5, 2, 0, 0};
  for (int16_t k = 0; k < 5; ++k) {
    FileStats(recordLength, keyLength, k, 9);
    EXPECT_EQ(recordLength, 30);
    EXPECT_EQ(keyLength, expected[k]) << "key " << k;
  }
  FileStats(recordLength, keyLength, 0, 10);
  EXPECT_EQ(recordLength, 0);
  EXPECT_EQ(keyLength, 0);
}

TEST_F(OpenTest, ResetEmptiesTheTable) {
  OpenWith("Items", smallFile, record, 5, sizeof record);
  DataFiles.slots[40].lockMode = 2;
  int16_t status = -1;
  ResetDataFiles(status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(FindSlot(5), -40);
  EXPECT_EQ(DataFiles.slots[40].record, nullptr);
  EXPECT_EQ(DataFiles.slots[40].lockMode, 0);
  EXPECT_TRUE(DataFiles.slots[40].keyValue.empty());
  // Closed for real: the file can be opened exclusively by another holder.
  OpenDataFile(status, record, root + "DADES\\Items", 5, sizeof record);
  EXPECT_EQ(status, 0);
}

// Slots are reused after a reset in another order: a file number is found
// in the slot that holds it now, never where it was before.
TEST_F(OpenTest, AFileNumberIsFoundInTheSlotThatHoldsItNow) {
  OpenWith("Items", smallFile, record, 5, sizeof record);
  WriteDictionary("Parts", smallFile);
  unsigned char second[64] = {};
  int16_t status = -1;
  OpenDataFile(status, second, root + "DADES\\Parts", 6, sizeof second);
  ASSERT_EQ(status, 0);
  ASSERT_EQ(FindSlot(5), 40);
  ASSERT_EQ(FindSlot(6), 39);
  ResetDataFiles(status);
  OpenDataFile(status, second, root + "DADES\\Parts", 6, sizeof second);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(FindSlot(6), 40);
  EXPECT_EQ(FindSlot(5), -39);
  EXPECT_EQ(DataFiles.slots[40].record, static_cast<void*>(second));
  OpenDataFile(status, record, root + "DADES\\Items", 5, sizeof record);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(FindSlot(5), 39);
  EXPECT_EQ(FindSlot(6), 40);
  // Numbers that share a remembered place (5 and 5 + 256) are told apart.
  unsigned char third[64] = {};
  OpenWith("Third", smallFile, third, 261, sizeof third);
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(FindSlot(261), 38);
    EXPECT_EQ(FindSlot(5), 39);
  }
  EXPECT_EQ(FindSlot(517), -37);
}

TEST_F(OpenTest, TheOwnerNameOfTheSessionOpensAProtectedFile) {
  OpenWith("Owned", smallFile, record, 1, sizeof record);
  char owner[9] = "KAL1";
  uint32_t length = 5;
  char key[kKeyBufferSize] = {};
  std::memcpy(key, owner, 5);
  ASSERT_EQ(
      BTRCALL(B_SET_OWNER, DataFiles.slots[40].positionBlock, owner, &length, key, 5, B_OWNER_ALL_ACCESS), 0);
  int16_t status = 0;
  ResetDataFiles(status);
  Session.ownerName = "KAL1";
  OpenDataFile(status, record, root + "DADES\\Owned", 1, sizeof record);
  EXPECT_EQ(status, 0);
  ResetDataFiles(status);
  Session.ownerName.clear();
  ExpectOpenEndsTheProgram(
      "DADES\\Owned",
      "FITXER[ \n]/.*/DADES/Owned.dat:[ \n]NOM[ \n]DE[ \n]PROPIETARI[ \n]INCORRECTE[ \n]\\(51\\)");
}

}  // namespace
