// integrity_test.cpp - record files as an office uses them: stations that
// sit idle, a database file replaced or deleted under a station, a missing
// database or a foreign marker at start, damaged pages, an exclusive open
// closed beside a normal one, and the diagnostics of a failed call.
#include "recman/integrity.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <zlib.h>

#include <cstdio>
#include <fstream>
#include <random>

#include "recman/check.h"
#include "recman/store.h"
#include "recman/testing.h"
#include "tests/recman/recman_test_util.h"

using namespace rt;
using recman::RecordChecksum;
using recman::SyncEnabled;

namespace {

constexpr int kLength = 428;

std::string Spec() {
  SpecBuilder s;
  s.recordLength = kLength;
  s.keys = {{{1, 4, 0}}, {{5, 8, KF_DUPLICATES | KF_MODIFIABLE}}};
  return s.Build();
}

// The checksum kept with every record is the CRC-32 of the position (4 bytes
// low first), the version (8), the record's length (4), the record and its
// insertion numbers: the values the databases already hold, whatever
// computes them.
TEST(RecordChecksumTest, IsTheCrc32OfPositionVersionLengthRecordAndInsertionNumbers) {
  EXPECT_EQ(RecordChecksum(7, 0x0102030405060708, "ABC", ""), 0xd6acacf0u);
  EXPECT_EQ(RecordChecksum(1, -5, std::string(428, 'r'), std::string(7, '\0') + "\x09"), 0xf3243ec1u);
  EXPECT_NE(RecordChecksum(1, -5, std::string(428, 'r'), std::string(7, '\0') + "\x08"), 0xf3243ec1u);
}

// Records of every length around the sizes where the checksum changes
// method (64 bytes, each 16 more), and at offsets that are not aligned,
// against zlib's CRC-32 of the same bytes laid end to end.
TEST(RecordChecksumTest, EveryLengthGivesZlibsValue) {
  std::mt19937 random(42);
  for (size_t length = 0; length <= 1100; length += (length < 300 ? 1 : 37)) {
    std::string data(length + 3, '\0');
    for (char& c : data) c = static_cast<char>(random());
    data.erase(0, length % 4);  // a record that begins anywhere in a word
    data.resize(length);
    std::string sequences(8 * (length % 3), '\x5A');
    uint32_t pos = static_cast<uint32_t>(random());
    int64_t version = static_cast<int64_t>(random()) - 77;
    std::string bytes;
    for (int i = 0; i < 4; ++i) bytes += static_cast<char>(pos >> (8 * i));
    for (int i = 0; i < 8; ++i) bytes += static_cast<char>(static_cast<uint64_t>(version) >> (8 * i));
    for (int i = 0; i < 4; ++i) bytes += static_cast<char>(length >> (8 * i));
    bytes += data + sequences;
    uLong expected = crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size()));
    EXPECT_EQ(RecordChecksum(pos, version, data, sequences), expected) << "length " << length;
  }
}

// Record `n`: its 4-digit key, a text that tells it apart, then blanks.
std::string Rec(int n, char fill = 'r') {
  char key[8];
  std::snprintf(key, sizeof key, "%04d", n % 10000);
  std::string r = std::string(key) + "NAME" + key + std::string(kLength - 12, fill);
  return r;
}

// Record number `n` of a large fill: a 4-byte key above every Rec key.
std::string BigRec(uint32_t n) {
  std::string r = Rec(0, 'w');
  for (int i = 0; i < 4; ++i) r[i] = static_cast<char>(((n | 0x80000000u) >> (24 - 8 * i)) & 0xFF);
  return r;
}

off_t FileSize(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Copies the whole log of the directory's database into the database file
// and empties it, as the last connection does when it closes.
bool Checkpoint(const std::string& folder) {
  sqlite3* db = nullptr;
  bool ok = sqlite3_open((folder + "/recman.db").c_str(), &db) == SQLITE_OK &&
            sqlite3_exec(db, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr) == SQLITE_OK;
  sqlite3_close(db);
  return ok;
}

// Fills `path` with `count` records in a child process, then checkpoints:
// the database file holds everything, the log nothing.
int FillInChild(const std::string& path, int count, char fill = 'r') {
  return InChild([&] {
    if (Create(path, Spec()) != B_OK) return 1;
    Block pb;
    if (Open(pb, path) != B_OK) return 2;
    if (Simple(B_BEGIN_TRANS) != B_OK) return 3;
    for (int i = 1; i <= count; ++i)
      if (Insert(pb, Rec(i, fill)) != B_OK) return 4;
    if (Simple(B_END_TRANS) != B_OK) return 5;
    Reset();
    return Checkpoint(path.substr(0, path.rfind('/'))) ? 0 : 6;
  });
}

// "status:" and then the first 12 bytes of every record of a file just
// opened (with `openStatus`), in key order, each followed by a comma.
std::string InKeyOrder(Block& pb, int16_t openStatus) {
  std::string out;
  int16_t st = openStatus;
  if (st == B_OK) {
    Result r = Get(pb, B_GET_FIRST, 0);
    while (r.status == B_OK) {
      out += r.data.substr(0, 12) + ",";
      r = Get(pb, B_GET_NEXT, 0);
    }
    st = r.status == B_END_OF_FILE ? int16_t{B_OK} : r.status;
  }
  return std::to_string(st) + ":" + out;
}

// Every record of the file in key order, read by a child process (a fresh
// start of a station): "status:" then the records' first 12 bytes.
std::string ReadInChild(const std::string& path) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return "pipe";
  pid_t pid = fork();
  if (pid == 0) {
    close(pipeFds[0]);
    Block pb;
    std::string out = InKeyOrder(pb, Open(pb, path));
    (void)!write(pipeFds[1], out.data(), out.size());
    _exit(0);
  }
  close(pipeFds[1]);
  std::string out;
  char buf[4096];
  ssize_t n;
  while ((n = read(pipeFds[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
  close(pipeFds[0]);
  waitpid(pid, nullptr, 0);
  return out;
}

std::string Expected(int count) {
  std::string out = "0:";
  for (int i = 1; i <= count; ++i) out += Rec(i).substr(0, 12) + ",";
  return out;
}

using IntegrityTest = RecmanTest;

// ---- An idle station ---------------------------------------------------------

// A station that opened its files and read once, then waits, holds no
// snapshot: the writer's log is checkpointed into the database file and
// starts again from its beginning instead of growing.
TEST_F(IntegrityTest, AnIdleStationKeepsNeitherTheLogGrowingNorTheDatabaseFileBehind) {
  if (rt::OnServer()) GTEST_SKIP() << "the SQLite store's own files";
  const std::string path = dir.File("F.dat");
  ASSERT_EQ(FillInChild(path, 10), 0);
  const off_t before = FileSize(dir.File("recman.db"));
  Child idle = Spawn([&](ChildSide& side) {
    Block pb;
    if (Open(pb, path) != B_OK || Get(pb, B_GET_FIRST, 0).status != B_OK) return 1;
    side.Tell('r');
    side.Wait();  // idle until told to end
    return 0;
  });
  ASSERT_EQ(idle.Heard(), 'r');
  Block pb;
  ASSERT_EQ(Open(pb, path), B_OK);
  // About 20 MiB of records and index entries, in many commits, with reads
  // between them as a settlement does.
  for (int t = 0; t < 100; ++t) {
    ASSERT_EQ(Simple(B_BEGIN_TRANS), B_OK);
    for (int i = 0; i < 400; ++i) ASSERT_EQ(Insert(pb, BigRec(t * 400 + i)), B_OK) << t;
    ASSERT_EQ(Simple(B_END_TRANS), B_OK);
    ASSERT_EQ(Get(pb, B_GET_FIRST, 0).status, B_OK);
  }
  const off_t wal = FileSize(dir.File("recman.db-wal"));
  const off_t db = FileSize(dir.File("recman.db"));
  idle.Tell('x');
  EXPECT_EQ(idle.Join(), 0);
  EXPECT_LE(wal, kRecmanLogLimitBytes) << "log of " << wal << " bytes";
  EXPECT_GT(db, before + 12 * 1024 * 1024) << "database file of " << db << " bytes";
}

// ---- The database file replaced or deleted under a station -------------------

TEST_F(IntegrityTest, ADatabaseReplacedOrDeletedUnderAStationIsNeitherWrittenNorLost) {
  if (rt::OnServer()) GTEST_SKIP() << "the SQLite store's own files";
  const std::string path = dir.File("F.dat");
  ASSERT_EQ(FillInChild(path, 3), 0);
  const std::string db = dir.File("recman.db");
  for (bool deleteIt : {false, true}) {
    SCOPED_TRACE(deleteIt ? "deleted" : "replaced");
    Block pb;
    ASSERT_EQ(Open(pb, path), B_OK);
    ASSERT_EQ(Get(pb, B_GET_FIRST, 0).status, B_OK);
    // A copy put in its place (or the file deleted) while the station waits.
    const std::string saved = ReadAll(db);
    const std::string aside = dir.File("aside.db");
    ASSERT_EQ(rename(db.c_str(), aside.c_str()), 0);
    if (!deleteIt) WriteAll(db, saved);
    const std::string copyBefore = deleteIt ? "" : ReadAll(db), oldBefore = ReadAll(aside);

    EXPECT_EQ(Insert(pb, Rec(50)), B_IO_ERROR);
    RecmanDiagnostic d;
    ASSERT_TRUE(RecmanLastDiagnostic(d));
    EXPECT_EQ(d.status, B_IO_ERROR);
    EXPECT_EQ(d.folder, dir.path);
    EXPECT_NE(d.message.find("recman.db"), std::string::npos) << d.message;
    EXPECT_EQ(Simple(B_BEGIN_TRANS), B_OK);
    EXPECT_EQ(Get(pb, B_GET_FIRST, 0).status, B_IO_ERROR);
    EXPECT_EQ(Simple(B_ABORT_TRANS), B_OK);
    // Neither file changed.
    if (!deleteIt) { EXPECT_EQ(ReadAll(db), copyBefore); }
    EXPECT_EQ(ReadAll(aside), oldBefore);
    EXPECT_EQ(Close(pb), B_OK);
    Reset();
    if (deleteIt) { ASSERT_EQ(rename(aside.c_str(), db.c_str()), 0); }
    EXPECT_EQ(ReadInChild(path), Expected(3));
  }
}

// ---- Starts with a missing database or a foreign marker ----------------------

// The data layer's open: a missing file (12) is created and opened.
int16_t OpenOrCreate(Block& pb, const std::string& path) {
  int16_t st = Open(pb, path);
  if (st != B_FILE_NOT_FOUND) return st;
  st = Create(path, Spec());
  if (st != B_OK && st != B_FILE_EXISTS) return st;
  return Open(pb, path);
}

int StartInChild(const std::string& path) {
  return InChild([&] {
    Block pb;
    return OpenOrCreate(pb, path);
  });
}

TEST_F(IntegrityTest, AStartWithoutTheDatabaseCreatesNothingAndLosesNothingOnceItIsBack) {
  if (rt::OnServer()) GTEST_SKIP() << "the SQLite store's own files";
  const std::string path = dir.File("F.dat"), db = dir.File("recman.db");
  ASSERT_EQ(FillInChild(path, 5), 0);
  const std::string aside = dir.File("saved.db");
  ASSERT_EQ(rename(db.c_str(), aside.c_str()), 0);
  const std::string marker = ReadAll(path);
  // The start is refused: the marker names a file that the folder's
  // database should hold.
  EXPECT_EQ(StartInChild(path), B_IO_ERROR);
  EXPECT_EQ(FileSize(db), -1);
  EXPECT_EQ(ReadAll(path), marker);
  EXPECT_EQ(Create(path, Spec()), B_FILE_EXISTS);
  // Cut to nothing (a copy gone wrong) it is as lost: neither the start,
  // nor a check, nor a read-only open makes an empty database of it.
  WriteAll(db, "");
  EXPECT_EQ(StartInChild(path), B_IO_ERROR);
  EXPECT_EQ(InChild([&] {
              Block pb;
              return Open(pb, path, B_MODE_READ_ONLY);
            }),
            B_IO_ERROR);
  std::string report;
  EXPECT_EQ(RecmanCheckFile(path, "", report), B_IO_ERROR);
  EXPECT_NE(report.find("restore the folder from a backup"), std::string::npos) << report;
  EXPECT_EQ(FileSize(db), 0);
  ASSERT_EQ(rename(aside.c_str(), db.c_str()), 0);
  EXPECT_EQ(StartInChild(path), B_OK);
  EXPECT_EQ(ReadInChild(path), Expected(5));
}

// A station that starts while another connection holds the database alone
// (as one recovering the log of a station that ended without closing
// does) waits as for any busy database; still held when the wait runs out,
// the open answers "locked" (85), never "not found" or "damaged", and the
// folder is whole once it is free.
TEST_F(IntegrityTest, AStartWhileTheDatabaseIsHeldAloneWaitsAndIsNeverCalledLost) {
  if (rt::OnServer()) GTEST_SKIP() << "the SQLite store's own files";
  const std::string path = dir.File("F.dat"), db = dir.File("recman.db");
  ASSERT_EQ(FillInChild(path, 5), 0);
  auto holder = [&](ChildSide& side) {
    sqlite3* h = nullptr;
    if (sqlite3_open(db.c_str(), &h) != SQLITE_OK) return 1;
    if (sqlite3_exec(h, "PRAGMA locking_mode=EXCLUSIVE; BEGIN EXCLUSIVE; COMMIT", nullptr, nullptr,
                     nullptr) != SQLITE_OK)
      return 2;
    side.TellAndWait('h');
    sqlite3_close(h);
    return 0;
  };
  Child held = Spawn(holder);
  ASSERT_EQ(held.Heard(), 'h');
  RecmanSetBusyTimeoutForTests(200);
  EXPECT_EQ(StartInChild(path), B_FILE_LOCKED);
  held.Tell('g');
  EXPECT_EQ(held.Join(), 0);
  // Held for less than the wait: the start waits and opens.
  held = Spawn(holder);
  ASSERT_EQ(held.Heard(), 'h');
  RecmanSetBusyTimeoutForTests(5000);
  Child start = Spawn([&](ChildSide&) {
    Block pb;
    return OpenOrCreate(pb, path);
  });
  usleep(300 * 1000);
  held.Tell('g');
  EXPECT_EQ(held.Join(), 0);
  EXPECT_EQ(start.Join(), B_OK);
  RecmanSetBusyTimeoutForTests(-1);
  EXPECT_EQ(ReadInChild(path), Expected(5));
}

TEST_F(IntegrityTest, AForeignMarkerOrAMissingOneIsRefusedAndRepairedWithoutLoss) {
  const std::string path = dir.File("F.dat");
  ASSERT_EQ(FillInChild(path, 4), 0);
  ASSERT_EQ(mkdir(dir.File("OTHER").c_str(), 0755), 0);
  const std::string other = dir.File("OTHER/F.dat");
  ASSERT_EQ(FillInChild(other, 1), 0);
  const std::string own = ReadAll(path);

  // A marker copied from another suite root.
  WriteAll(path, ReadAll(other));
  EXPECT_EQ(StartInChild(path), B_IO_ERROR);
  EXPECT_EQ(Create(path, Spec()), B_FILE_EXISTS);
  std::string report;
  EXPECT_EQ(RecmanCheckFile(path, "", report), B_IO_ERROR);
  EXPECT_NE(report.find("marker"), std::string::npos) << report;

  // No marker at all, the records still in the database.
  ASSERT_EQ(unlink(path.c_str()), 0);
  EXPECT_EQ(StartInChild(path), B_IO_ERROR);
  EXPECT_EQ(Create(path, Spec()), B_FILE_EXISTS);
  report.clear();
  EXPECT_EQ(RecmanCheckFile(path, "", report), B_IO_ERROR);
  EXPECT_NE(report.find("no marker"), std::string::npos) << report;

  // The explicit repair makes the marker again.
  report.clear();
  ASSERT_EQ(RecmanRepairMarker(path, report), B_OK) << report;
  EXPECT_EQ(ReadAll(path), own);
  EXPECT_EQ(StartInChild(path), B_OK);
  EXPECT_EQ(ReadInChild(path), Expected(4));
  // A marker that is there already is not repaired over.
  EXPECT_EQ(RecmanRepairMarker(path, report), B_FILE_EXISTS);
  // Nor is a damaged one: the repair says to move it away first.
  WriteAll(path, "RECMAN DATA FI\x01\x02garbage");
  report.clear();
  EXPECT_EQ(RecmanRepairMarker(path, report), B_NOT_A_RECORD_FILE);
  EXPECT_NE(report.find("move this file away and run recutil repair-marker " + path), std::string::npos)
      << report;
  ASSERT_EQ(unlink(path.c_str()), 0);
  ASSERT_EQ(RecmanRepairMarker(path, report), B_OK) << report;
  // A marker is its file's whatever the letter case of its name.
  const std::string upper = dir.File("f.DAT");
  ASSERT_EQ(rename(path.c_str(), upper.c_str()), 0);
  EXPECT_EQ(ReadInChild(upper), Expected(4));
  report.clear();
  EXPECT_EQ(RecmanCheckFile(upper, "", report), B_OK) << report;
  ASSERT_EQ(rename(upper.c_str(), path.c_str()), 0);

  // What a create killed before its commit leaves: a pending marker whose
  // id the catalog does not know.  Over the records of another file it is
  // refused as any foreign marker; alone it stands for a missing file,
  // which is then created.
  std::string pending = own;
  pending.replace(pending.find("\nname "), 1, "\npending\n");
  pending.replace(pending.find("id ") + 3, 4, "0000");
  WriteAll(path, pending);
  EXPECT_EQ(StartInChild(path), B_IO_ERROR);
  const std::string fresh = dir.File("NEW.dat");
  std::string orphan = pending;
  orphan.replace(orphan.find("name F.dat"), 10, "name NEW.dat");
  WriteAll(fresh, orphan);
  EXPECT_EQ(InChild([&] {
              Block pb;
              return Open(pb, fresh);
            }),
            B_FILE_NOT_FOUND);
  EXPECT_EQ(StartInChild(fresh), B_OK);
  EXPECT_EQ(ReadAll(fresh).find("pending"), std::string::npos);
  EXPECT_EQ(ReadInChild(fresh), Expected(0));
}

// ---- A user who may read the folder and not write it -------------------------------

// Bytes and modification time of a file.
std::string Fingerprint(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return "missing";
  return ReadAll(path) + "@" + std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
}

// Drops this (forked) process to the unprivileged user "nobody".
bool BecomeNobody() { return setgroups(0, nullptr) == 0 && setgid(65534) == 0 && setuid(65534) == 0; }

// What a read-only open shows and refuses, from `side`'s process: every
// record in key order (as Expected), then the statuses of an insert, an
// update and a delete through it and of a normal open.
std::string ReadOnlyView(const std::string& path) {
  Block pb;
  std::string out = InKeyOrder(pb, Open(pb, path, B_MODE_READ_ONLY));
  out += "|" + std::to_string(Insert(pb, Rec(90))) + ",";
  Get(pb, B_GET_FIRST, 0);
  out += std::to_string(Update(pb, Rec(1, 'u'))) + "," + std::to_string(Delete(pb)) + "|";
  Block normal;
  out += std::to_string(Open(normal, path));
  Close(pb);
  return out;
}

std::string Heard(Child& c) {
  std::string out;
  char buf[4096];
  ssize_t n;
  while ((n = read(c.up, buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
  return out;
}

TEST_F(IntegrityTest, AUserWhoMayOnlyReadTheFolderReadsItWhileAStationWritesAndChangesNothing) {
  if (rt::OnServer()) GTEST_SKIP() << "the SQLite store's own files";
  if (geteuid() != 0) GTEST_SKIP() << "acting as the user nobody needs root";
  const std::string path = dir.File("F.dat"), db = dir.File("recman.db");
  ASSERT_EQ(FillInChild(path, 3), 0);
  // The last station leaves: its connection takes the log away.
  sqlite3* last = nullptr;
  ASSERT_EQ(sqlite3_open(db.c_str(), &last), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(last, "SELECT count(*) FROM recman_file", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(last);
  ASSERT_EQ(chmod(dir.path.c_str(), 0755), 0);
  for (const char* f : {"F.dat", "recman.db", "recman.lck"}) ASSERT_EQ(chmod(dir.File(f).c_str(), 0644), 0);
  const std::string before = Fingerprint(db), lockBefore = Fingerprint(dir.File("recman.lck"));
  const std::string refused = "|46,46,46|46";

  // No station has the folder open: the database alone, without the log's
  // index, which this user cannot make.  The reader then waits while a
  // station starts writing, and reads again: the new record is there.
  ASSERT_FALSE(dir.Exists("recman.db-wal"));
  Child reader = Spawn([&](ChildSide& side) {
    if (!BecomeNobody()) return 1;
    std::string first = ReadOnlyView(path) + "\n";
    side.Tell('r');
    if (side.Wait() != 'g') return 2;
    std::string again = ReadOnlyView(path);
    (void)!write(side.up, first.data(), first.size());
    (void)!write(side.up, again.data(), again.size());
    return 0;
  });
  ASSERT_EQ(reader.Heard(), 'r');
  EXPECT_FALSE(dir.Exists("recman.db-shm"));
  EXPECT_FALSE(dir.Exists("recman.db-wal"));
  EXPECT_EQ(Fingerprint(db), before);
  EXPECT_EQ(Fingerprint(dir.File("recman.lck")), lockBefore);
  Child writer = Spawn([&](ChildSide& side) {
    Block pb;
    if (Open(pb, path) != B_OK || Insert(pb, Rec(4)) != B_OK) return 1;
    side.Tell('w');
    for (int n = 5; side.Wait() == 'i'; ++n) {
      if (Insert(pb, Rec(n)) != B_OK) return 2;
      side.Tell('w');
    }
    return 0;
  });
  ASSERT_EQ(writer.Heard(), 'w');
  reader.Tell('g');
  close(reader.down);
  reader.down = -1;
  EXPECT_EQ(Heard(reader), Expected(3) + refused + "\n" + Expected(4) + refused);
  EXPECT_EQ(reader.Join(), 0);

  // With the station at work: the log and its index as the station left
  // them, read and never written.
  writer.Tell('i');
  ASSERT_EQ(writer.Heard(), 'w');
  EXPECT_EQ(InChild([&] {
              if (!BecomeNobody()) return 1;
              return ReadOnlyView(path) == Expected(5) + refused ? 0 : 2;
            }),
            0);
  EXPECT_EQ(Fingerprint(db), before);
  writer.Tell('q');
  EXPECT_EQ(writer.Join(), 0);

  // The normal open that a user without write rights tries is refused with
  // the lock file named and the system's reason.
  EXPECT_EQ(InChild([&] {
              if (!BecomeNobody()) return 1;
              Block pb;
              if (Open(pb, path) != B_ACCESS_DENIED) return 2;
              RecmanDiagnostic d;
              if (!RecmanLastDiagnostic(d)) return 3;
              return RecmanDiagnosticText(d) ==
                             "open " + dir.File("recman.lck") + ": Permission denied (errno 13)"
                         ? 0
                         : 4;
            }),
            0);
}

// ---- Damaged pages ---------------------------------------------------------------

// Every read answers either the record as written or status 2: never other
// bytes as if they were sound.
void ExpectSoundOrRefused(const std::string& path, int count, char fill) {
  Block pb;
  ASSERT_EQ(Open(pb, path), B_OK);
  int refused = 0;
  for (int i = 1; i <= count; ++i) {
    Result r = Get(pb, B_GET_EQUAL, 0, Rec(i).substr(0, 4));
    if (r.status == B_OK) {
      EXPECT_EQ(r.data, Rec(i, fill)) << "record " << i;
    } else {
      EXPECT_EQ(r.status, B_IO_ERROR) << "record " << i;
      ++refused;
    }
  }
  EXPECT_GT(refused, 0);
  Close(pb);
  Reset();
}

TEST_F(IntegrityTest, BytesChangedInsideARecordOrARandomPageAreStatus2) {
  if (rt::OnServer()) GTEST_SKIP() << "the SQLite store's own files";
  const std::string path = dir.File("F.dat"), db = dir.File("recman.db");
  ASSERT_EQ(FillInChild(path, 200), 0);
  std::string bytes = ReadAll(db);
  // One record's text changed where it is stored: the page stays sound.
  size_t at = bytes.find(Rec(77).substr(4, 8));
  ASSERT_NE(at, std::string::npos);
  bytes[at + 5] = 'X';
  WriteAll(db, bytes);
  ExpectSoundOrRefused(path, 200, 'r');

  // Random bytes over a whole page of records (of another file).
  ASSERT_EQ(FillInChild(path + "2", 200, 's'), 0);
  bytes = ReadAll(db);
  at = bytes.find(Rec(120, 's').substr(4, 20));
  ASSERT_NE(at, std::string::npos);
  std::mt19937 random(7);
  for (size_t i = at / 4096 * 4096; i < at / 4096 * 4096 + 4096; ++i)
    bytes[i] = static_cast<char>(random() & 0xFF);
  WriteAll(db, bytes);
  ExpectSoundOrRefused(path + "2", 200, 's');
}

// A database of the previous format (no checksums) opens: its records get
// their checksums; a record written without one since is read unchecked
// and counted by the check.
TEST_F(IntegrityTest, RecordsOfThePreviousFormatOpenAndGetTheirChecksums) {
  if (rt::OnServer()) GTEST_SKIP() << "the SQLite store's own files";
  const std::string path = dir.File("F.dat");
  ASSERT_EQ(FillInChild(path, 20), 0);
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(dir.File("recman.db").c_str(), &db), SQLITE_OK);
  auto exec = [&](const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr); };
  ASSERT_EQ(exec("ALTER TABLE r1 DROP COLUMN sum; UPDATE recman_meta SET value = 1 WHERE key = 'format'"),
            SQLITE_OK);
  ASSERT_EQ(ReadInChild(path), Expected(20));
  std::string report;
  EXPECT_EQ(RecmanCheckFile(path, "", report), B_OK) << report;
  EXPECT_EQ(report, "");
  Reset();
  ASSERT_EQ(exec("UPDATE r1 SET sum = NULL WHERE pos = 3"), SQLITE_OK);
  // A checksum that no longer fits its record is damage.
  ASSERT_EQ(exec("UPDATE r1 SET sum = sum + 1 WHERE pos = 5"), SQLITE_OK);
  sqlite3_close(db);
  EXPECT_EQ(ReadInChild(path), "2:" + Expected(4).substr(2));
  report.clear();
  EXPECT_EQ(RecmanCheckFile(path, "", report), B_IO_ERROR);
  EXPECT_NE(report.find("record 5: does not match its checksum"), std::string::npos) << report;
  EXPECT_NE(report.find("1 records written without a checksum"), std::string::npos) << report;
}

// ---- Exclusive close -----------------------------------------------------------

TEST_F(IntegrityTest, ClosingAnExclusiveOpenBesideANormalOneLetsOthersOpen) {
  const std::string path = dir.File("F.dat");
  ASSERT_EQ(Create(path, Spec()), B_OK);
  Block normal, exclusive;
  ASSERT_EQ(Open(normal, path), B_OK);
  ASSERT_EQ(Open(exclusive, path, B_MODE_EXCLUSIVE), B_OK);
  auto otherOpens = [&] {
    return InChild([&] {
      Block pb;
      return Open(pb, path);
    });
  };
  EXPECT_EQ(otherOpens(), B_FILE_LOCKED);
  ASSERT_EQ(Close(exclusive), B_OK);
  EXPECT_EQ(otherOpens(), B_OK);
  ASSERT_EQ(Close(normal), B_OK);
}

// ---- Durability and diagnostics --------------------------------------------

TEST_F(IntegrityTest, DurabilityIsNotTakenFromTheEnvironment) {
  setenv("RECMAN_SYNCHRONOUS", "OFF", 1);
  EXPECT_TRUE(SyncEnabled());
  unsetenv("RECMAN_SYNCHRONOUS");
  RecmanSetDurabilityForTests(RecmanDurability::kOff);
  EXPECT_FALSE(SyncEnabled());
  RecmanSetDurabilityForTests(RecmanDurability::kFull);
  EXPECT_TRUE(SyncEnabled());
}

TEST_F(IntegrityTest, ADamagedHeaderKeepsTheStorageCodeAndMessageWithTheStatus) {
  if (rt::OnServer()) GTEST_SKIP() << "the SQLite store's own files";
  const std::string path = dir.File("F.dat"), db = dir.File("recman.db");
  ASSERT_EQ(FillInChild(path, 3), 0);
  std::string bytes = ReadAll(db);
  for (int i = 0; i < 16; ++i) bytes[i] = 'Z';
  WriteAll(db, bytes);
  Block pb;
  EXPECT_EQ(Open(pb, path), B_IO_ERROR);
  RecmanDiagnostic d;
  ASSERT_TRUE(RecmanLastDiagnostic(d));
  EXPECT_EQ(d.code, SQLITE_NOTADB);
  EXPECT_NE(d.message.find("not a database"), std::string::npos) << d.message;
  EXPECT_EQ(d.folder, dir.path);
  EXPECT_NE(RecmanDiagnosticText(d).find("SQLite 26"), std::string::npos) << RecmanDiagnosticText(d);
  // A call that succeeds leaves no diagnostic behind.
  EXPECT_EQ(Simple(B_BEGIN_TRANS), B_OK);
  EXPECT_FALSE(RecmanLastDiagnostic(d));
  EXPECT_EQ(Simple(B_ABORT_TRANS), B_OK);
}

}  // namespace
