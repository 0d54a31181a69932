// server_store_test.cpp - the record manager's tests against the server
// store, and what only the server store has.
//
// With RECMAN_TEST_STORE=server every folder the tests make is kept on a
// PostgreSQL server instead of SQLite (server_env.h): the same tests thus
// run against both stores.
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "recman/check.h"
#include "recman/recman.h"
#include "recman/testing.h"
#include "tests/recman/recman_test_util.h"
#include "tests/recman/server_env.h"

namespace {

// The record manager's files are closed before the cluster stops.
struct ServerStoreEnvironment : servertest::Environment {
  void TearDown() override {
    rt::Reset();
    servertest::Environment::TearDown();
  }
};

[[maybe_unused]] testing::Environment* const kServerStore =
    testing::AddGlobalTestEnvironment(new ServerStoreEnvironment);

using namespace rt;

SpecBuilder StoreSpec() {
  SpecBuilder s;
  s.recordLength = 32;
  s.keys = {{{1, 4, KF_BINARY}}, {{5, 6, KF_DUPLICATES | KF_MODIFIABLE}}};
  return s;
}

std::string Rec(uint32_t id, const std::string& name, char fill = '.') {
  std::string r(32, fill);
  PutLe(r, 0, id, 4);
  r.replace(4, name.size(), name);
  return r;
}

// Every record along key `key`, with its position.
std::vector<std::pair<uint32_t, std::string>> Walk(const std::string& path, int8_t key,
                                                   const std::string& owner = "") {
  std::vector<std::pair<uint32_t, std::string>> out;
  Block pb;
  if (Open(pb, path, B_MODE_NORMAL, owner) != B_OK) return out;
  for (Result r = Get(pb, B_GET_FIRST, key); r.status == B_OK; r = Get(pb, B_GET_NEXT, key))
    out.emplace_back(Position(pb), r.data);
  Close(pb);
  return out;
}

// A folder kept in SQLite whatever store the tests use: its database is
// there before the first create.
std::string SqliteFolder(const TempDir& dir, const std::string& name) {
  dir.Write(name + "/recman.db", "");
  return dir.File(name);
}

using StoresTest = RecmanTest;

// recutil copy's engine: a whole folder, owner names and positions
// included, from SQLite to the tests' store and back; all or nothing.
TEST_F(StoresTest, AFolderCopiedToTheOtherStoreAndBackIsTheSameFolder) {
  const std::string from = SqliteFolder(dir, "FROM");
  ASSERT_EQ(Create(from + "/Owners.dat", StoreSpec().Build()), B_OK);
  ASSERT_EQ(Create(from + "/DiariLiq.dat", StoreSpec().Build()), B_OK);
  Block pb, journal;
  ASSERT_EQ(Open(pb, from + "/Owners.dat"), B_OK);
  ASSERT_EQ(Open(journal, from + "/DiariLiq.dat"), B_OK);
  for (uint32_t id = 1; id <= 40; ++id) {
    ASSERT_EQ(Insert(pb, Rec(id, id % 3 ? "GARCIA" : "PUIG")), B_OK);
    ASSERT_EQ(Insert(journal, Rec(id, "J", 'j')), B_OK);
  }
  for (uint32_t id : {5u, 6u, 20u}) {  // gaps in the positions
    ASSERT_EQ(Get(pb, B_GET_EQUAL, 0, IdKey(id)).status, B_OK);
    ASSERT_EQ(Delete(pb), B_OK);
  }
  std::string owner = std::string("KAL") + '\0';
  uint32_t len = static_cast<uint32_t>(owner.size());
  ASSERT_EQ(BTRCALL(B_SET_OWNER, pb.get(), owner.data(), &len, owner.data(), 3, B_OWNER_ALL_ACCESS), B_OK);
  Reset();
  const auto byName = Walk(from + "/Owners.dat", 1, "KAL");
  ASSERT_EQ(byName.size(), 37u);

  dir.MakeFolder("TO");
  const std::string to = dir.File("TO");
  std::string report;
  ASSERT_EQ(RecmanCopyFolder(from, to, report), B_OK) << report;
  EXPECT_NE(report.find("2 files, 77 records"), std::string::npos) << report;
  EXPECT_EQ(dir.Exists("TO/recman.server"), OnServer());
  EXPECT_EQ(Walk(to + "/Owners.dat", 1, "KAL"), byName);
  EXPECT_EQ(Walk(to + "/Owners.dat", 0), (std::vector<std::pair<uint32_t, std::string>>{}));  // 51
  Block other;
  EXPECT_EQ(Open(other, to + "/Owners.dat"), B_INVALID_OWNER);
  EXPECT_EQ(Walk(to + "/DiariLiq.dat", 0), Walk(from + "/DiariLiq.dat", 0));
  for (const char* f : {"/Owners.dat", "/DiariLiq.dat"}) {
    report.clear();
    EXPECT_EQ(RecmanCheckFile(to + f, "KAL", report), B_OK) << report;
  }
  // New records go after the copied ones, at positions never used.
  ASSERT_EQ(Open(other, to + "/Owners.dat", B_MODE_NORMAL, "KAL"), B_OK);
  ASSERT_EQ(Insert(other, Rec(100, "PUIG")), B_OK);
  EXPECT_EQ(Position(other), 41u);
  EXPECT_EQ(GetStat(other).records(), 38u);
  Reset();

  // And back to SQLite.
  const std::string back = SqliteFolder(dir, "BACK");
  report.clear();
  ASSERT_EQ(RecmanCopyFolder(to, back, report), B_OK) << report;
  auto again = Walk(back + "/Owners.dat", 1, "KAL");
  EXPECT_EQ(again.size(), 38u);
  EXPECT_EQ(again, Walk(to + "/Owners.dat", 1, "KAL"));

  // All or nothing: a destination that holds files, or any of the names,
  // gets nothing.
  report.clear();
  EXPECT_EQ(RecmanCopyFolder(from, to, report), B_FILE_EXISTS) << report;
  EXPECT_EQ(Walk(to + "/Owners.dat", 1, "KAL").size(), 38u);
  dir.MakeFolder("HALF");
  dir.Write("HALF/DiariLiq.dat", "an office file of that name\n");
  report.clear();
  EXPECT_EQ(RecmanCopyFolder(from, dir.File("HALF"), report), B_FILE_EXISTS) << report;
  EXPECT_FALSE(dir.Exists("HALF/Owners.dat"));
  EXPECT_FALSE(dir.Exists("HALF/recman.server"));
}

// A station killed inside a transaction: nothing of it stays, and its
// record locks and its hold on the folder go with it.
TEST_F(StoresTest, AStationKilledInsideATransactionLeavesNothingLocked) {
  const std::string path = dir.File("K.dat");
  ASSERT_EQ(Create(path, StoreSpec().Build()), B_OK);
  Block pb;
  ASSERT_EQ(Open(pb, path), B_OK);
  for (uint32_t id = 1; id <= 3; ++id) ASSERT_EQ(Insert(pb, Rec(id, "OLD")), B_OK);
  Child station = Spawn([&](ChildSide& side) {
    Block own;
    if (Open(own, path) != B_OK) return 1;
    if (Get(own, static_cast<uint16_t>(B_GET_EQUAL + int{B_SINGLE_NOWAIT_LOCK}), 0, IdKey(2)).status != B_OK)
      return 2;
    if (Simple(B_BEGIN_TRANS) != B_OK) return 3;
    if (Get(own, B_GET_EQUAL, 0, IdKey(1)).status != B_OK) return 4;
    if (Update(own, Rec(1, "HALF")) != B_OK) return 5;
    if (Insert(own, Rec(9, "HALF")) != B_OK) return 6;
    side.Tell('k');
    side.Wait();  // killed here
    return 0;
  });
  ASSERT_EQ(station.Heard(), 'k');
  EXPECT_EQ(Get(pb, static_cast<uint16_t>(B_GET_EQUAL + int{B_SINGLE_NOWAIT_LOCK}), 0, IdKey(2)).status,
            B_RECORD_LOCKED);
  station.Kill();
  // Freed as soon as the store sees the station gone (a server: a moment).
  int16_t st = B_RECORD_LOCKED;
  for (int attempt = 0; attempt < 500 && st == B_RECORD_LOCKED; ++attempt) {
    st = Get(pb, static_cast<uint16_t>(B_GET_EQUAL + int{B_SINGLE_NOWAIT_LOCK}), 0, IdKey(2)).status;
    if (st == B_RECORD_LOCKED) poll(nullptr, 0, 10);
  }
  EXPECT_EQ(st, B_OK);
  EXPECT_EQ(Get(pb, B_GET_EQUAL, 0, IdKey(1)).data, Rec(1, "OLD"));
  EXPECT_EQ(Get(pb, B_GET_EQUAL, 0, IdKey(9)).status, B_KEY_NOT_FOUND);
  EXPECT_EQ(GetStat(pb).records(), 3u);
  ASSERT_EQ(Simple(B_BEGIN_TRANS), B_OK);
  ASSERT_EQ(Get(pb, B_GET_EQUAL, 0, IdKey(1)).status, B_OK);
  EXPECT_EQ(Update(pb, Rec(1, "NEW")), B_OK);
  EXPECT_EQ(Simple(B_END_TRANS), B_OK);
  std::string report;
  EXPECT_EQ(RecmanCheckFile(path, "", report), B_OK) << report;
}

// A record that another station holds locked is never written.  SQLite
// answers the write at once; the server store sends a transaction's writes
// with its end, which then answers 84 and keeps none of them.
TEST_F(StoresTest, ARecordLockedByAnotherStationIsNotWrittenInATransaction) {
  const std::string path = dir.File("T.dat");
  ASSERT_EQ(Create(path, StoreSpec().Build()), B_OK);
  Block pb;
  ASSERT_EQ(Open(pb, path), B_OK);
  for (uint32_t id = 1; id <= 3; ++id) ASSERT_EQ(Insert(pb, Rec(id, "OLD")), B_OK);
  Child holder = Spawn([&](ChildSide& side) {
    Block own;
    if (Open(own, path) != B_OK) return 1;
    if (Get(own, static_cast<uint16_t>(B_GET_EQUAL + int{B_SINGLE_NOWAIT_LOCK}), 0, IdKey(2)).status != B_OK)
      return 2;
    side.Tell('l');
    side.Wait();
    Reset();  // its locks let go of before it says so
    side.Tell('r');
    return 0;
  });
  ASSERT_EQ(holder.Heard(), 'l');
  ASSERT_EQ(Simple(B_BEGIN_TRANS), B_OK);
  ASSERT_EQ(Get(pb, B_GET_EQUAL, 0, IdKey(1)).status, B_OK);
  ASSERT_EQ(Update(pb, Rec(1, "NEW")), B_OK);
  ASSERT_EQ(Get(pb, B_GET_EQUAL, 0, IdKey(2)).status, B_OK);
  int16_t update = Update(pb, Rec(2, "NEW"));
  int16_t end = Simple(B_END_TRANS);
  if (OnServer()) {
    EXPECT_EQ(update, B_OK);
    EXPECT_EQ(end, B_RECORD_LOCKED);
    EXPECT_EQ(Get(pb, B_GET_EQUAL, 0, IdKey(1)).data, Rec(1, "OLD"));
  } else {
    EXPECT_EQ(update, B_RECORD_LOCKED);
    EXPECT_EQ(end, B_OK);
    EXPECT_EQ(Get(pb, B_GET_EQUAL, 0, IdKey(1)).data, Rec(1, "NEW"));
  }
  EXPECT_EQ(Get(pb, B_GET_EQUAL, 0, IdKey(2)).data, Rec(2, "OLD"));
  holder.Tell('e');
  EXPECT_EQ(holder.Heard(), 'r');
  EXPECT_EQ(holder.Join(), 0);
  // Free again, it is written.
  ASSERT_EQ(Get(pb, B_GET_EQUAL, 0, IdKey(2)).status, B_OK);
  EXPECT_EQ(Update(pb, Rec(2, "NEW")), B_OK);
  EXPECT_EQ(Get(pb, B_GET_EQUAL, 0, IdKey(2)).data, Rec(2, "NEW"));
}

// What only the server store has: the file naming the server, a server
// that cannot be reached, a connection cut inside a transaction.
class ServerTest : public StoresTest {
 protected:
  void SetUp() override {
    if (!OnServer()) GTEST_SKIP() << "the server store's own behaviour";
  }
  // The connection string of the tests' server, from a folder it keeps.
  std::string Connection() { return servertest::FolderConnection(dir.File("S")); }
};

TEST_F(ServerTest, AServerFileThatCannotServeIsStatus2WithItsReason) {
  dir.MakeFolder("S");
  ASSERT_EQ(Create(dir.File("S/A.dat"), StoreSpec().Build()), B_OK);
  const std::string connection = Connection();
  ASSERT_FALSE(connection.empty());
  struct Case {
    const char* what;
    std::string file;
    const char* says;
  };
  const Case cases[] = {
      {"a password", connection + " password=secret\n", "pgpass"},
      {"no connection string", "# nothing\nschema recman\n", "names no server"},
      {"a schema that is no plain name", connection + "\nschema Robert'); DROP\n", "plain lower-case"},
      {"a server that does not answer", "host=/nonexistent port=5999 user=recman dbname=postgres\n",
       "cannot reach the server"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir other;
    other.Write("recman.server", c.file);
    EXPECT_EQ(Create(other.File("A.dat"), StoreSpec().Build()), B_IO_ERROR);
    RecmanDiagnostic d;
    ASSERT_TRUE(RecmanLastDiagnostic(d));
    EXPECT_NE(d.message.find(c.says), std::string::npos) << d.message;
    EXPECT_FALSE(other.Exists("A.dat"));
  }
}

TEST_F(ServerTest, AConnectionCutInsideATransactionLosesThatTransactionOnly) {
  dir.MakeFolder("S");
  const std::string path = dir.File("S/C.dat");
  ASSERT_EQ(Create(path, StoreSpec().Build()), B_OK);
  Block pb;
  ASSERT_EQ(Open(pb, path), B_OK);
  for (uint32_t id = 1; id <= 3; ++id) ASSERT_EQ(Insert(pb, Rec(id, "OLD")), B_OK);
  ASSERT_EQ(Simple(B_BEGIN_TRANS), B_OK);
  ASSERT_EQ(Get(pb, B_GET_EQUAL, 0, IdKey(1)).status, B_OK);
  ASSERT_EQ(Update(pb, Rec(1, "LOST")), B_OK);
  // The server ends the station's backend (an administrator, a restart).
  std::string error;
  EXPECT_EQ(servertest::TerminateBackends(Connection(), "state LIKE 'idle in transaction%'", error), 1)
      << error;

  EXPECT_EQ(Get(pb, B_GET_EQUAL, 0, IdKey(2)).status, B_IO_ERROR);
  RecmanDiagnostic d;
  ASSERT_TRUE(RecmanLastDiagnostic(d));
  EXPECT_EQ(d.storage, "PostgreSQL");
  EXPECT_EQ(Simple(B_END_TRANS), B_IO_ERROR);
  // The next call connects again and finds the record as it was.
  EXPECT_EQ(Get(pb, B_GET_EQUAL, 0, IdKey(1)).data, Rec(1, "OLD"));
  ASSERT_EQ(Simple(B_BEGIN_TRANS), B_OK);
  ASSERT_EQ(Get(pb, B_GET_EQUAL, 0, IdKey(1)).status, B_OK);
  EXPECT_EQ(Update(pb, Rec(1, "NEW")), B_OK);
  EXPECT_EQ(Simple(B_END_TRANS), B_OK);
  EXPECT_EQ(Get(pb, B_GET_EQUAL, 0, IdKey(1)).data, Rec(1, "NEW"));
}

}  // namespace
