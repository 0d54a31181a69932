// Open, close, create and stat: files as the callers see them.
#include <ftw.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <fstream>

#include "tests/recman/recman_test_util.h"

using namespace rt;

namespace {

SpecBuilder OwnerSpec() {
  SpecBuilder s;
  s.recordLength = 428;
  s.pageSize = 4096;
  s.keys = {{{1, 4, 0}}};
  return s;
}

using FilesTest = RecmanTest;

TEST_F(FilesTest, OpeningAMissingFileGivesStatus12) {
  Block pb;
  EXPECT_EQ(Open(pb, dir.File("NOFILE.dat")), B_FILE_NOT_FOUND);
  EXPECT_EQ(Open(pb, dir.path + "/nodir/X.dat"), B_FILE_NOT_FOUND);
}

TEST_F(FilesTest, CreatedFileOpensAndReportsItsSpecificationInStat) {
  SpecBuilder s = OwnerSpec();
  s.keys.push_back(
      {{5, 2, KF_DUPLICATES | KF_MODIFIABLE}, {9, 4, KF_DESCENDING | KF_MODIFIABLE | KF_DUPLICATES}});
  std::string spec = s.Build();
  ASSERT_EQ(Create(dir.File("PROP.dat"), spec), B_OK);
  Block pb;
  ASSERT_EQ(Open(pb, dir.File("PROP.dat")), B_OK);
  Stat st = GetStat(pb);
  ASSERT_EQ(st.status, B_OK);
  EXPECT_EQ(st.recordLength(), 428);
  EXPECT_EQ(st.keyCount(), 2);
  EXPECT_EQ(st.records(), 0u);
  ASSERT_EQ(st.buffer.size(), 16u + 3 * 16);
  // Key specifications come back as given: segment lengths and flags.
  EXPECT_EQ(static_cast<uint8_t>(st.buffer[16 + 2]), 4);
  EXPECT_EQ(static_cast<uint8_t>(st.buffer[32 + 4]), KF_DUPLICATES | KF_MODIFIABLE | KF_SEGMENTED);
  EXPECT_EQ(static_cast<uint8_t>(st.buffer[48 + 2]), 4);
  std::string rec(428, 'x');
  ASSERT_EQ(Insert(pb, rec), B_OK);
  EXPECT_EQ(GetStat(pb).records(), 1u);
  EXPECT_EQ(Close(pb), B_OK);
  EXPECT_EQ(GetStat(pb).status, B_FILE_NOT_OPEN);
}

TEST_F(FilesTest, StatReturnsTheAlternateCollatingSequenceAfterTheLastKey) {
  SpecBuilder s;
  s.recordLength = 20;
  s.keys = {{{1, 10, KF_ALT_COLLATING}}};
  s.UseUpperAcs();
  ASSERT_EQ(Create(dir.File("ACS.dat"), s.Build()), B_OK);
  Block pb;
  ASSERT_EQ(Open(pb, dir.File("ACS.dat")), B_OK);
  Stat st = GetStat(pb);
  ASSERT_EQ(st.buffer.size(), 16u + 16 + 265);
  EXPECT_EQ(static_cast<uint8_t>(st.buffer[32]), kAcsSignature);
  EXPECT_EQ(st.buffer.substr(33, 8), "UPPER   ");
  EXPECT_EQ(static_cast<uint8_t>(st.buffer[41 + 'a']), 'A');
}

TEST_F(FilesTest, StatIntoAShortBufferDeliversWhatFitsWithStatus22) {
  ASSERT_EQ(Create(dir.File("S.dat"), OwnerSpec().Build()), B_OK);
  Block pb;
  ASSERT_EQ(Open(pb, dir.File("S.dat")), B_OK);
  char data[20];
  uint32_t len = sizeof data;
  char key[255];
  EXPECT_EQ(BTRCALL(B_STAT, pb.get(), data, &len, key, 255, 0), B_DATA_BUFFER_TOO_SHORT);
  EXPECT_EQ(len, 20u);
  EXPECT_EQ(static_cast<uint8_t>(data[0]), 428 & 0xFF);
}

TEST_F(FilesTest, CreateWithKeyNumberMinusOneRefusesToReplace) {
  std::string spec = OwnerSpec().Build();
  ASSERT_EQ(Create(dir.File("A.dat"), spec), B_OK);
  EXPECT_EQ(Create(dir.File("A.dat"), spec), B_FILE_EXISTS);
  Block pb;
  ASSERT_EQ(Open(pb, dir.File("A.dat")), B_OK);
  ASSERT_EQ(Insert(pb, std::string(428, 'a')), B_OK);
  // Replacing a file that is open is refused; once closed it starts empty.
  EXPECT_EQ(Create(dir.File("A.dat"), spec, 0), B_FILE_LOCKED);
  ASSERT_EQ(Close(pb), B_OK);
  ASSERT_EQ(Create(dir.File("A.dat"), spec, 0), B_OK);
  ASSERT_EQ(Open(pb, dir.File("A.dat")), B_OK);
  EXPECT_EQ(GetStat(pb).records(), 0u);
}

TEST_F(FilesTest, FilesOfOneDirectoryAreSeparate) {
  ASSERT_EQ(Create(dir.File("A.dat"), OwnerSpec().Build()), B_OK);
  SpecBuilder b;
  b.recordLength = 24;
  b.keys = {{{1, 1, 0}}};
  ASSERT_EQ(Create(dir.File("B.dat"), b.Build()), B_OK);
  Block pa, pbb;
  ASSERT_EQ(Open(pa, dir.File("A.dat")), B_OK);
  ASSERT_EQ(Open(pbb, dir.File("B.dat")), B_OK);
  ASSERT_EQ(Insert(pa, std::string(428, 'a')), B_OK);
  EXPECT_EQ(GetStat(pa).records(), 1u);
  EXPECT_EQ(GetStat(pbb).records(), 0u);
  EXPECT_EQ(GetStat(pbb).recordLength(), 24);
  EXPECT_EQ(Get(pbb, B_GET_FIRST, 0).status, B_END_OF_FILE);
}

TEST_F(FilesTest, BackslashesInPathsAreDirectorySeparators) {
  ASSERT_EQ(Create(dir.File("W.dat"), OwnerSpec().Build()), B_OK);
  std::string windowsStyle = dir.path + "\\W.dat";
  Block pb;
  EXPECT_EQ(Open(pb, windowsStyle), B_OK);
}

TEST_F(FilesTest, AFileThatIsNotARecordFileIsRefused) {
  std::ofstream(dir.File("TEXT.dat")) << "hello\n";
  Block pb;
  EXPECT_EQ(Open(pb, dir.File("TEXT.dat")), B_NOT_A_RECORD_FILE);
  EXPECT_EQ(Create(dir.File("TEXT.dat"), OwnerSpec().Build()), B_FILE_EXISTS);
}

// The marker alone lost: the records stay in the database, and neither an
// open nor a create without replacing takes the file for a missing one.
TEST_F(FilesTest, DeletingTheVisibleFileLosesNoRecordsUntilTheFileIsReplaced) {
  ASSERT_EQ(Create(dir.File("D.dat"), OwnerSpec().Build()), B_OK);
  Block pb;
  ASSERT_EQ(Open(pb, dir.File("D.dat")), B_OK);
  ASSERT_EQ(Insert(pb, std::string(428, 'd')), B_OK);
  ASSERT_EQ(Close(pb), B_OK);
  struct stat st;
  ASSERT_EQ(stat(dir.File("D.dat").c_str(), &st), 0);
  ASSERT_EQ(unlink(dir.File("D.dat").c_str()), 0);
  EXPECT_EQ(Open(pb, dir.File("D.dat")), B_IO_ERROR);
  EXPECT_EQ(Create(dir.File("D.dat"), OwnerSpec().Build()), B_FILE_EXISTS);
  // Replacing is asked for explicitly.
  EXPECT_EQ(Create(dir.File("D.dat"), OwnerSpec().Build(), 0), B_OK);
  ASSERT_EQ(Open(pb, dir.File("D.dat")), B_OK);
  EXPECT_EQ(GetStat(pb).records(), 0u);
}

// A data folder deleted and made again at the same path (a suite restored
// from a copy, a test root made anew) is a new folder: its files are the new
// ones, never the old database the process had open.
TEST_F(FilesTest, AFolderDeletedAndMadeAgainHoldsOnlyItsNewFiles) {
  const std::string folder = dir.File("DADES");
  const std::string path = folder + "/P.dat";
  auto removeFolder = [&] {
    ASSERT_EQ(
        nftw(
            folder.c_str(), [](const char* f, const struct stat*, int, struct FTW*) { return remove(f); }, 16,
            FTW_DEPTH | FTW_PHYS),
        0);
  };
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  ASSERT_EQ(Create(path, OwnerSpec().Build()), B_OK);
  Block pb;
  ASSERT_EQ(Open(pb, path), B_OK);
  for (char c : {'a', 'b', 'c'}) ASSERT_EQ(Insert(pb, std::string(4, c) + std::string(424, ' ')), B_OK);
  Close(pb);

  // Nothing open in it any more.
  removeFolder();
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  EXPECT_EQ(Open(pb, path), B_FILE_NOT_FOUND);
  ASSERT_EQ(Create(path, OwnerSpec().Build()), B_OK);
  ASSERT_EQ(Open(pb, path), B_OK);
  EXPECT_EQ(GetStat(pb).records(), 0u);
  ASSERT_EQ(Insert(pb, std::string(4, 'n') + std::string(424, ' ')), B_OK);

  // A file still open in the old folder is neither read nor written any
  // more (its database file is gone); the new folder's file is separate.
  // (A folder on a server keeps its records there: its stations go on with
  // what they have open.)
  if (rt::OnServer()) return;
  removeFolder();
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  ASSERT_EQ(Create(path, OwnerSpec().Build()), B_OK);
  Block fresh;
  ASSERT_EQ(Open(fresh, path), B_OK);
  EXPECT_EQ(GetStat(fresh).records(), 0u);
  ASSERT_EQ(Insert(fresh, std::string(4, 'x') + std::string(424, ' ')), B_OK);
  ASSERT_EQ(Insert(fresh, std::string(4, 'y') + std::string(424, ' ')), B_OK);
  EXPECT_EQ(GetStat(pb).status, B_IO_ERROR);
  EXPECT_EQ(Get(pb, B_GET_FIRST, 0).status, B_IO_ERROR);
  EXPECT_EQ(Insert(pb, std::string(4, 'z') + std::string(424, ' ')), B_IO_ERROR);
  EXPECT_EQ(GetStat(fresh).records(), 2u);
  EXPECT_EQ(Get(fresh, B_GET_FIRST, 0).data.substr(0, 4), "xxxx");
  Close(pb);
  Close(fresh);
  Reset();
  ASSERT_EQ(Open(fresh, path), B_OK);
  EXPECT_EQ(GetStat(fresh).records(), 2u);
}

TEST_F(FilesTest, ReservedNamesAndEmptyPathsAreInvalidFileNames) {
  Block pb;
  EXPECT_EQ(Open(pb, dir.File("recman.db")), B_INVALID_FILE_NAME);
  EXPECT_EQ(Open(pb, ""), B_INVALID_FILE_NAME);
  EXPECT_EQ(Create(dir.File("recman.lck"), OwnerSpec().Build()), B_INVALID_FILE_NAME);
}

TEST_F(FilesTest, ReadOnlyOpenRefusesChanges) {
  ASSERT_EQ(Create(dir.File("R.dat"), OwnerSpec().Build()), B_OK);
  Block pb;
  ASSERT_EQ(Open(pb, dir.File("R.dat"), B_MODE_READ_ONLY), B_OK);
  EXPECT_EQ(Insert(pb, std::string(428, 'r')), B_ACCESS_DENIED);
}

TEST_F(FilesTest, OwnerNameIsRequiredOnceSetAndNotStoredInClear) {
  ASSERT_EQ(Create(dir.File("O.dat"), OwnerSpec().Build()), B_OK);
  Block pb;
  ASSERT_EQ(Open(pb, dir.File("O.dat")), B_OK);
  char name[] = "KAL9";
  uint32_t len = 5;
  char again[] = "KAL9";
  ASSERT_EQ(BTRCALL(B_SET_OWNER, pb.get(), name, &len, again, 4, B_OWNER_ALL_ACCESS), B_OK);
  EXPECT_EQ(BTRCALL(B_SET_OWNER, pb.get(), name, &len, again, 4, B_OWNER_ALL_ACCESS), B_OWNER_ALREADY_SET);
  ASSERT_EQ(Close(pb), B_OK);
  EXPECT_EQ(Open(pb, dir.File("O.dat")), B_INVALID_OWNER);
  EXPECT_EQ(Open(pb, dir.File("O.dat"), B_MODE_NORMAL, "KAL8"), B_INVALID_OWNER);
  ASSERT_EQ(Open(pb, dir.File("O.dat"), B_MODE_NORMAL, "KAL9"), B_OK);
  // The database holds no clear copy of the name.
  std::ifstream in(dir.File("recman.db"), std::ios::binary);
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::ifstream wal(dir.File("recman.db-wal"), std::ios::binary);
  all.append((std::istreambuf_iterator<char>(wal)), std::istreambuf_iterator<char>());
  EXPECT_EQ(all.find("KAL9"), std::string::npos);
  uint32_t zero = 0;
  ASSERT_EQ(BTRCALL(B_CLEAR_OWNER, pb.get(), nullptr, &zero, nullptr, 0, 0), B_OK);
  ASSERT_EQ(Close(pb), B_OK);
  EXPECT_EQ(Open(pb, dir.File("O.dat")), B_OK);
}

TEST_F(FilesTest, ReadOnlyOwnerModeOpensWithoutTheNameForReadingOnly) {
  ASSERT_EQ(Create(dir.File("P.dat"), OwnerSpec().Build()), B_OK);
  Block pb;
  ASSERT_EQ(Open(pb, dir.File("P.dat")), B_OK);
  ASSERT_EQ(Insert(pb, std::string(428, 'p')), B_OK);
  char name[] = "ZZ";
  uint32_t len = 3;
  ASSERT_EQ(BTRCALL(B_SET_OWNER, pb.get(), name, &len, name, 2, B_OWNER_READ_ONLY), B_OK);
  ASSERT_EQ(Close(pb), B_OK);
  ASSERT_EQ(Open(pb, dir.File("P.dat")), B_OK);
  EXPECT_EQ(Get(pb, B_GET_FIRST, 0).status, B_OK);
  EXPECT_EQ(Insert(pb, std::string(428, 'q')), B_ACCESS_DENIED);
}

TEST_F(FilesTest, ExclusiveOpenKeepsOtherProcessesOut) {
  ASSERT_EQ(Create(dir.File("X.dat"), OwnerSpec().Build()), B_OK);
  Block pb;
  ASSERT_EQ(Open(pb, dir.File("X.dat"), B_MODE_EXCLUSIVE), B_OK);
  pid_t child = fork();
  if (child == 0) {
    Block other;
    _exit(Open(other, dir.File("X.dat")) == B_FILE_LOCKED ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  ASSERT_EQ(Close(pb), B_OK);
  child = fork();
  if (child == 0) {
    Block other;
    _exit(Open(other, dir.File("X.dat")) == B_OK ? 0 : 1);
  }
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace

TEST_F(FilesTest, AFileOpenedWhileAnotherProcessCreatesItIsFoundOrMissingNeverAMismatch) {
  // Between the creating process's marker and its commit, an open sees a
  // marker the committed catalog does not know yet: it waits for the
  // creator and opens the new file (or finds it missing before), as two
  // stations starting on a fresh suite root do.
  std::string spec = OwnerSpec().Build();
  constexpr int kFiles = 150;
  ASSERT_EQ(Create(dir.File("F0.dat"), spec), B_OK);  // the folder's database made before the race
  pid_t child = fork();
  if (child == 0) {
    for (int i = 1; i <= kFiles; ++i)
      if (Create(dir.File("F" + std::to_string(i) + ".dat"), spec) != B_OK) _exit(1);
    _exit(0);
  }
  int mismatches = 0, opened = 0;
  for (int i = 1; i <= kFiles; ++i) {
    for (;;) {
      Block pb;
      int16_t st = Open(pb, dir.File("F" + std::to_string(i) + ".dat"));
      if (st == B_OK) {
        ++opened;
        Close(pb);
        break;
      }
      if (st != B_FILE_NOT_FOUND) {
        ++mismatches;
        break;
      }
    }
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(mismatches, 0);
  EXPECT_EQ(opened, kFiles);
}
