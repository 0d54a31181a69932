// recutil: dictionaries, create, stat, dump and load round trips, check, and
// clear refusals of bad input with non-zero exit codes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/recman/recman_test_util.h"
#include "tests/tools/tool_runs.h"

namespace {

using toolruns::Result;

class RecutilTest : public ::testing::Test {
 protected:
  Result Run(const std::string& args, const std::string& input = "") {
    std::string in = dir.File("stdin.txt");
    std::ofstream(in) << input;
    return toolruns::RunCommandWithErrors("cd " + dir.path + " && " + std::string(TARPELIX_BINARY_DIR) +
                                          "/tools/recutil " + args + " < " + in);
  }
  TempDir dir;
};

TEST_F(RecutilTest, DictionaryCreateLoadAndDumpInKeyOrder) {
  ASSERT_EQ(Run("dict C.xdf --record 8 --key 1:4:uint --key 5:2:dup,desc+7:2:int").exit, 0);
  std::ifstream x(dir.File("C.xdf"), std::ios::binary);
  std::string raw((std::istreambuf_iterator<char>(x)), std::istreambuf_iterator<char>());
  ASSERT_GE(raw.size(), 2u);
  EXPECT_EQ(static_cast<size_t>(static_cast<uint8_t>(raw[0]) | (static_cast<uint8_t>(raw[1]) << 8)),
            raw.size() - 2);
  EXPECT_EQ(raw[2 + 4], 2);  // number of keys
  EXPECT_EQ(raw[2 + 5], 0);  // version byte
  ASSERT_EQ(Run("create C.dat C.xdf").exit, 0);
  Result again = Run("create C.dat C.xdf");
  EXPECT_EQ(again.exit, 1);
  EXPECT_NE(again.out.find("59"), std::string::npos);
  ASSERT_EQ(Run("load C.dat", "0200000041410100\n0100000042420200\n\n# note\n0300000041410300\n").exit, 0);
  EXPECT_EQ(Run("dump C.dat").out, "0100000042420200\n0200000041410100\n0300000041410300\n");
  // Key 1: descending text, then signed integer ascending.
  EXPECT_EQ(Run("dump C.dat --key 1").out, "0100000042420200\n0200000041410100\n0300000041410300\n");
  Result stat = Run("stat C.dat");
  EXPECT_EQ(stat.exit, 0);
  EXPECT_NE(stat.out.find("record length: 8"), std::string::npos);
  EXPECT_NE(stat.out.find("records: 3"), std::string::npos);
  EXPECT_NE(stat.out.find("key 1: length 4, duplicates"), std::string::npos);
  EXPECT_EQ(Run("check C.dat").exit, 0);
}

TEST_F(RecutilTest, BadLinesLoadNothing) {
  ASSERT_EQ(Run("dict D.xdf --record 4 --key 1:4:uint").exit, 0);
  ASSERT_EQ(Run("create D.dat D.xdf").exit, 0);
  // Bad input is an error (1), not wrong use of the command line (2).
  Result o = Run("load D.dat", "01000000\n0200zz00\n");
  EXPECT_EQ(o.exit, 1);
  EXPECT_NE(o.out.find("line 2"), std::string::npos);
  o = Run("load D.dat", "01000000\n010000\n");
  EXPECT_EQ(o.exit, 1);
  o = Run("load D.dat", "01000000\n01000000\n");
  EXPECT_EQ(o.exit, 1);
  EXPECT_NE(o.out.find("duplicate"), std::string::npos);
  EXPECT_EQ(Run("dump D.dat").out, "");
}

TEST_F(RecutilTest, MalformedDictionariesAndKeyDescriptionsAreRefused) {
  std::ofstream(dir.File("short.xdf"), std::ios::binary) << std::string("\x40\x00\x01", 3);
  Result o = Run("create S.dat short.xdf");
  EXPECT_EQ(o.exit, 1);
  EXPECT_NE(o.out.find("malformed dictionary"), std::string::npos);
  for (const char* arguments : {"dict E.xdf --record 10 --key 0:4", "dict E.xdf --record 10 --key 8:4",
                                "dict E.xdf --record 10 --key 1:4:sideways", "dict E.xdf --key 1:4",
                                "dict E.xdf --record 10 --key 1:4:acs", "frobnicate"})
    EXPECT_EQ(Run(arguments).exit, 2) << arguments;
  Result help = Run("--help");
  EXPECT_EQ(help.exit, 0);
  EXPECT_NE(help.out.find("POSITION:LENGTH"), std::string::npos);
}

TEST_F(RecutilTest, MissingFilesAndOwnerNames) {
  Result o = Run("stat NONE.dat");
  EXPECT_EQ(o.exit, 1);
  EXPECT_NE(o.out.find("12"), std::string::npos);
  ASSERT_EQ(Run("dict O.xdf --record 4 --key 1:4:uint").exit, 0);
  ASSERT_EQ(Run("create O.dat O.xdf").exit, 0);
  ASSERT_EQ(Run("set-owner O.dat SECRET").exit, 0);
  o = Run("dump O.dat");
  EXPECT_EQ(o.exit, 1);
  EXPECT_NE(o.out.find("51"), std::string::npos);
  EXPECT_EQ(Run("--owner WRONG check O.dat").exit, 1);
  EXPECT_EQ(Run("--owner SECRET load O.dat", "05000000\n").exit, 0);
  EXPECT_EQ(Run("--owner SECRET dump O.dat").out, "05000000\n");
  EXPECT_EQ(Run("--owner SECRET check O.dat").exit, 0);
}

// A lost marker, a backup taken while a station holds a transaction, and a
// damaged database: each told with what the record manager knows.
TEST_F(RecutilTest, CheckRepairMarkerBackupAndTheDiagnosticsOfADamagedDatabase) {
  ASSERT_EQ(Run("dict B.xdf --record 4 --key 1:4:uint").exit, 0);
  ASSERT_EQ(Run("create B.dat B.xdf").exit, 0);
  ASSERT_EQ(Run("load B.dat", "01000000\n02000000\n03000000\n").exit, 0);
  const std::string marker = dir.File("B.dat");
  ASSERT_EQ(unlink(marker.c_str()), 0);
  Result o = Run("check B.dat");
  EXPECT_EQ(o.exit, 1);
  EXPECT_NE(o.out.find("no marker"), std::string::npos) << o.out;
  EXPECT_EQ(Run("create B.dat B.xdf").exit, 1);  // 59: the records are still there
  o = Run("repair-marker B.dat");
  EXPECT_EQ(o.exit, 0) << o.out;
  EXPECT_EQ(Run("check B.dat").exit, 0);
  EXPECT_EQ(Run("repair-marker B.dat").exit, 1);  // nothing to repair
  EXPECT_EQ(Run("dump B.dat").out, "01000000\n02000000\n03000000\n");

  // A station in the middle of a transaction: the copy holds what was
  // committed, and the station is not held up.
  rt::Child station = rt::Spawn([&](rt::ChildSide& side) {
    rt::Block pb;
    if (rt::Open(pb, marker) != B_OK || rt::Simple(B_BEGIN_TRANS) != B_OK) return 1;
    if (rt::Insert(pb, std::string("\x04\0\0\0", 4)) != B_OK) return 2;
    side.Tell('t');
    side.Wait();
    return rt::Simple(B_END_TRANS) == B_OK ? 0 : 3;
  });
  ASSERT_EQ(station.Heard(), 't');
  ASSERT_EQ(mkdir(dir.File("COPY").c_str(), 0755), 0);
  o = Run("backup . COPY");
  EXPECT_EQ(o.exit, 0) << o.out;
  station.Tell('e');
  EXPECT_EQ(station.Join(), 0);
  EXPECT_EQ(Run("dump COPY/B.dat").out, "01000000\n02000000\n03000000\n");
  EXPECT_EQ(Run("dump B.dat").out, "01000000\n02000000\n03000000\n04000000\n");
  EXPECT_EQ(Run("backup . COPY").exit, 1);  // never over an existing database

  // The copy's header damaged: SQLite's code and message follow the status.
  {
    std::fstream f(dir.File("COPY/recman.db"), std::ios::in | std::ios::out | std::ios::binary);
    f.write("DAMAGED HEADER!!", 16);
  }
  o = Run("check COPY/B.dat");
  EXPECT_EQ(o.exit, 1);
  EXPECT_NE(o.out.find("status 2"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("SQLite 26 (file is not a database)"), std::string::npos) << o.out;
}

// copy: a whole folder into one that holds no data file, all or nothing;
// to the server when the destination's recman.server names one (the
// record manager's own tests copy between the stores).
TEST_F(RecutilTest, CopyTakesAWholeFolderOrNothing) {
  ASSERT_EQ(mkdir(dir.File("FROM").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(dir.File("TO").c_str(), 0755), 0);
  ASSERT_EQ(Run("dict FROM/A.xdf --record 4 --key 1:4:uint").exit, 0);
  ASSERT_EQ(Run("create FROM/A.dat FROM/A.xdf").exit, 0);
  ASSERT_EQ(Run("create FROM/DiariLiq.dat FROM/A.xdf").exit, 0);
  ASSERT_EQ(Run("load FROM/A.dat", "02000000\n01000000\n").exit, 0);
  ASSERT_EQ(Run("load FROM/DiariLiq.dat", "07000000\n").exit, 0);
  ASSERT_EQ(Run("set-owner FROM/A.dat KAL").exit, 0);
  Result o = Run("copy FROM TO");
  EXPECT_EQ(o.exit, 0) << o.out;
  EXPECT_NE(o.out.find("2 files, 3 records copied"), std::string::npos) << o.out;
  EXPECT_EQ(Run("--owner KAL dump TO/A.dat").out, "01000000\n02000000\n");
  EXPECT_EQ(Run("dump TO/DiariLiq.dat").out, "07000000\n");
  EXPECT_EQ(Run("dump TO/A.dat").exit, 1);  // 51: the owner name came along
  o = Run("copy FROM TO");
  EXPECT_EQ(o.exit, 1);
  EXPECT_NE(o.out.find("59"), std::string::npos) << o.out;
  o = Run("copy FROM NOWHERE");
  EXPECT_EQ(o.exit, 1);
  EXPECT_NE(o.out.find("no such folder"), std::string::npos) << o.out;
  // A server that cannot be reached: status 2 with the reason, and nothing
  // written in the destination but the file naming the server.
  ASSERT_EQ(mkdir(dir.File("SERVER").c_str(), 0755), 0);
  std::ofstream(dir.File("SERVER/recman.server")) << "host=/nonexistent port=5999 dbname=kal user=kal\n";
  o = Run("copy FROM SERVER");
  EXPECT_EQ(o.exit, 1);
  EXPECT_NE(o.out.find("status 2"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("cannot reach the server"), std::string::npos) << o.out;
  struct stat info;
  EXPECT_NE(stat(dir.File("SERVER/A.dat").c_str(), &info), 0);
}

// recutil as a technician's tool: check on a whole folder (one line per
// file, an exit code a script can test), stat with the owner name and the
// storage, and each command's own --help.
TEST_F(RecutilTest, CheckOfAFolderStatOfTheStorageAndEachCommandsHelp) {
  ASSERT_EQ(Run("dict B.xdf --record 4 --key 1:4:uint").exit, 0);
  ASSERT_EQ(mkdir(dir.File("DATA").c_str(), 0755), 0);
  for (const char* name : {"A.dat", "B.dat", "C.dat"})
    ASSERT_EQ(Run(std::string("create DATA/") + name + " B.xdf").exit, 0);
  ASSERT_EQ(Run("load DATA/B.dat", "01000000\n02000000\n").exit, 0);
  Result o = Run("check DATA");
  EXPECT_EQ(o.exit, 0) << o.out;
  EXPECT_EQ(o.out, "DATA/A.dat: ok\nDATA/B.dat: ok\nDATA/C.dat: ok\n3 files, all sound\n");
  // A marker lost and another damaged: each file its line, exit code 1.
  ASSERT_EQ(unlink(dir.File("DATA/A.dat").c_str()), 0);
  std::ofstream(dir.File("DATA/C.dat")) << "garbage";
  o = Run("check DATA/");
  EXPECT_EQ(o.exit, 1) << o.out;
  std::vector<std::string> lines;
  std::istringstream in(o.out);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 4u) << o.out;
  EXPECT_EQ(lines[0].rfind("DATA/A.dat: status 2 (I/O error): no marker", 0), 0u) << lines[0];
  EXPECT_EQ(lines[1], "DATA/B.dat: ok");
  EXPECT_EQ(lines[2].rfind("DATA/C.dat: status 30 (not a record file): not a marker", 0), 0u) << lines[2];
  EXPECT_EQ(lines[3], "3 files, 2 not sound");

  ASSERT_EQ(Run("set-owner DATA/B.dat KAL1 --read-only-access").exit, 0);
  o = Run("stat DATA/B.dat");
  EXPECT_EQ(o.exit, 0) << o.out;
  const std::string folder = dir.path;
  EXPECT_NE(o.out.find("records: 2\n"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("owner name: set (without it the file opens for reading only)\n"), std::string::npos)
      << o.out;
  EXPECT_NE(o.out.find("marker: " + folder + "/DATA/B.dat\n"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("storage: SQLite, " + folder + "/DATA/recman.db\n"), std::string::npos) << o.out;

  for (const char* command : {"dict", "show-dict", "create", "stat", "dump", "load", "check", "repair-marker",
                              "backup", "copy", "set-owner", "clear-owner"}) {
    o = Run(std::string(command) + " --help");
    EXPECT_EQ(o.exit, 0) << command;
    EXPECT_EQ(o.out.rfind("Usage: recutil [--owner=NAME] " + std::string(command) + " ", 0), 0u) << o.out;
    EXPECT_NE(o.out.find("See recutil --help"), std::string::npos) << o.out;
    // Its own block alone.
    EXPECT_EQ(o.out.find(std::string(command) == "stat" ? "\n  dump " : "\n  stat "), std::string::npos)
        << o.out;
  }
}

}  // namespace
