// tools_test.cpp - the command-line tools as an operator runs them: the demo
// data generator (tools/demodata) and the balances listing (tools/balances),
// their outputs, messages and exit codes.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/temp_dir.h"
#include "tests/tools/tool_runs.h"

namespace {

using toolruns::Result;

std::string Tool(const char* name) { return std::string(TARPELIX_BINARY_DIR) + "/tools/" + name; }

using toolruns::Lines;
using toolruns::Split;

class ToolsTest : public ::testing::Test {
 protected:
  TempDir temp{"tarpelix_tools_"};
  const std::string dir = temp.path;

  void SetUp() override {
    ASSERT_FALSE(dir.empty());
    std::filesystem::create_directories(dir + "/ddf");
    for (const char* name : {"THRebut", "FinquesH", "FinDespH", "PropietH", "PagamH", "CobramH"})
      std::filesystem::copy_file(std::string(TARPELIX_SOURCE_DIR) + "/demo/ddf/" + name + ".xdf",
                                 dir + "/ddf/" + name + ".xdf");
    ASSERT_TRUE(std::filesystem::exists(Tool("demodata"))) << "build the tools first";
    ASSERT_TRUE(std::filesystem::exists(Tool("balances"))) << "build the tools first";
  }

  Result Demodata(const std::string& arguments) {
    return toolruns::RunCommandWithErrors(Tool("demodata") + " " + arguments);
  }
  Result Balances(const std::string& arguments) {
    return toolruns::RunCommandWithErrors(Tool("balances") + " " + arguments);
  }
};

TEST_F(ToolsTest, DemodataFillsTheRootWithTheDemoDefaults) {
  Result r = Demodata("--root " + dir);
  ASSERT_EQ(r.exit, 0) << r.out;
  EXPECT_NE(r.out.find("12 finques"), std::string::npos) << r.out;
  for (const char* name : {"THRebut", "FinquesH", "FinDespH", "PropietH", "PagamH", "CobramH"})
    EXPECT_TRUE(std::filesystem::exists(dir + "/DADES/" + std::string(name) + ".dat")) << name;
}

TEST_F(ToolsTest, DemodataKeepsExistingRecordsWithoutForce) {
  ASSERT_EQ(Demodata("--root " + dir + " --properties 2").exit, 0);
  Result again = Demodata("--root " + dir + " --properties 3");
  EXPECT_EQ(again.exit, 1);
  EXPECT_NE(again.out.find("--force"), std::string::npos) << again.out;
  Result csv = Balances("--root " + dir + " --csv");
  EXPECT_EQ(csv.out.find("\n0003,"), std::string::npos) << "nothing was replaced";
  ASSERT_EQ(Demodata("--root " + dir + " --properties 3 --force").exit, 0);
  csv = Balances("--root " + dir + " --csv");
  EXPECT_NE(csv.out.find("\n0003,"), std::string::npos) << csv.out;
}

TEST_F(ToolsTest, DemodataRefusesWrongCommandLinesAndRoots) {
  EXPECT_EQ(Demodata("").exit, 2);
  EXPECT_EQ(Demodata("--root").exit, 2);
  EXPECT_EQ(Demodata("--root " + dir + " --owners 0").exit, 2);
  EXPECT_EQ(Demodata("--root " + dir + " --properties many").exit, 2);
  Result date = Demodata("--root " + dir + " --date 31022026");
  EXPECT_EQ(date.exit, 2);
  EXPECT_NE(date.out.find("DATA INCORRECTA"), std::string::npos) << date.out;
  EXPECT_EQ(Demodata("--root " + dir + " --bogus").exit, 2);
  Result missing = Demodata("--root " + dir + "/nowhere");
  EXPECT_EQ(missing.exit, 1);
  EXPECT_NE(missing.out.find("NO EXISTEIX LA CARPETA"), std::string::npos) << missing.out;
  std::filesystem::remove(dir + "/ddf/CobramH.xdf");
  Result dictionary = Demodata("--root " + dir);
  EXPECT_EQ(dictionary.exit, 1);
  EXPECT_NE(dictionary.out.find("CobramH.xdf"), std::string::npos) << dictionary.out;
  EXPECT_EQ(Demodata("--help").exit, 0);
}

TEST_F(ToolsTest, BalancesCsvGivesStoredAmountsAndTheirEuros) {
  ASSERT_EQ(Demodata("--root " + dir + " --properties 4 --owners 5").exit, 0);
  Result r = Balances("--root " + dir + " --from 2 --to 3 --csv");
  ASSERT_EQ(r.exit, 0) << r.out;
  std::vector<std::string> lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 1u + 2 * 5);
  EXPECT_EQ(lines[0],
            "finca,descripcio,darrera_liquidacio,propietari,c1,c2,c3,c4,c5,c6,c7,c8,"
            "c1_eur,c2_eur,c3_eur,c4_eur,c5_eur,c6_eur,c7_eur,c8_eur");
  for (size_t i = 1; i < lines.size(); ++i) {
    std::vector<std::string> f = Split(lines[i], ',');
    ASSERT_EQ(f.size(), 20u) << lines[i];
    EXPECT_TRUE(f[0] == "0002" || f[0] == "0003") << lines[i];
    EXPECT_EQ(f[3].substr(0, 5), f[0] + ".");
    EXPECT_EQ(f[2].size(), 10u) << "DD/MM/YYYY";
    for (int n = 0; n < 8; ++n) {
      long stored = std::stol(f[4 + static_cast<size_t>(n)]);
      char euros[32];
      std::snprintf(euros, sizeof euros, "%s%ld.%02ld", stored < 0 ? "-" : "", std::labs(stored) / 100,
                    std::labs(stored) % 100);
      EXPECT_EQ(f[12 + static_cast<size_t>(n)], euros) << lines[i];
    }
  }
}

TEST_F(ToolsTest, BalancesListingHasCatalanHeadingsAndAlignedColumns) {
  ASSERT_EQ(Demodata("--root " + dir + " --properties 2 --owners 6").exit, 0);
  Result r = Balances("--root " + dir);
  ASSERT_EQ(r.exit, 0) << r.out;
  EXPECT_NE(r.out.find("FINCA 0001"), std::string::npos);
  EXPECT_NE(r.out.find("DARRERA LIQUIDACI\xC3\x93: 30/06/2026"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("PROPIETARI"), std::string::npos);
  EXPECT_NE(r.out.find("c\xC3\xA8ntims"), std::string::npos) << "the unit is said";
  size_t width = 0;
  int rows = 0;
  for (const std::string& line : Lines(r.out)) {
    if (line.rfind("0001.", 0) != 0 && line.rfind("0002.", 0) != 0 && line.rfind("TOTAL", 0) != 0) continue;
    if (width == 0) width = line.size();
    EXPECT_EQ(line.size(), width) << line;
    EXPECT_NE(line.find('\''), std::string::npos) << "euros with the suite's decimal character: " << line;
    ++rows;
  }
  EXPECT_EQ(rows, 2 * 6 + 2);
  // The suite's own decimal and thousands characters.
  std::ofstream(dir + "/Vork.ini") << "[Usuari]\r\nDecCaracter=,\r\nMilCaracter= \r\n";
  int totals = 0;
  for (const std::string& line : Lines(Balances("--root " + dir).out)) {
    if (line.rfind("TOTAL", 0) != 0) continue;
    ++totals;
    EXPECT_NE(line.find(','), std::string::npos) << line;
    EXPECT_EQ(line.find('\''), std::string::npos) << line;
  }
  EXPECT_EQ(totals, 2);
  std::filesystem::remove(dir + "/Vork.ini");
  // The last-settlement date stands in one column (counted in characters)
  // whatever accents the properties' names have.
  ASSERT_EQ(Demodata("--root " + dir + " --properties 12 --owners 1 --force").exit, 0);
  r = Balances("--root " + dir);
  std::set<size_t> dateColumns;
  bool accented = false;
  for (const std::string& line : Lines(r.out)) {
    size_t at = line.find("DARRERA LIQUIDACI");
    if (line.rfind("FINCA ", 0) != 0 || at == std::string::npos) continue;
    size_t characters = 0;
    for (size_t i = 0; i < at; ++i) characters += (static_cast<unsigned char>(line[i]) & 0xC0) != 0x80;
    accented = accented || characters != at;
    dateColumns.insert(characters);
  }
  EXPECT_TRUE(accented) << "the demo data has an accented name: " << r.out;
  EXPECT_EQ(dateColumns.size(), 1u) << r.out;
  Result stored = Balances("--root " + dir + " --stored --from 1 --to 1");
  EXPECT_EQ(stored.exit, 0);
  EXPECT_NE(stored.out.find("tal com es desen"), std::string::npos) << stored.out;
}

TEST_F(ToolsTest, BalancesRefusesWrongCommandLinesAndMissingFiles) {
  EXPECT_EQ(Balances("").exit, 2);
  EXPECT_EQ(Balances("--root " + dir + " --from 5 --to 2").exit, 2);
  EXPECT_EQ(Balances("--root " + dir + " --from x").exit, 2);
  EXPECT_EQ(Balances("--root " + dir + " --from 10000").exit, 2);
  Result both = Balances("--root " + dir + " --csv --stored");
  EXPECT_EQ(both.exit, 2);
  EXPECT_NE(both.out.find("--csv and --stored"), std::string::npos) << both.out;
  Result missingRoot = Balances("--root " + dir + "/nowhere");
  EXPECT_EQ(missingRoot.exit, 1);
  EXPECT_NE(missingRoot.out.find("no existeix la carpeta"), std::string::npos) << missingRoot.out;
  Result missingFiles = Balances("--root " + dir);
  EXPECT_EQ(missingFiles.exit, 1);
  EXPECT_NE(missingFiles.out.find("no existeix el fitxer de dades"), std::string::npos) << missingFiles.out;
  EXPECT_FALSE(std::filesystem::exists(dir + "/DADES/FinquesH.dat")) << "a listing creates nothing";
}

// --init makes a suite root of the demonstration one, without its build
// helpers, and says how to start the program there with a path that works.
TEST_F(ToolsTest, DemodataInitMakesASuiteRootWithoutTheDemosBuildHelpers) {
  const std::string root = dir + "/suite";
  Result r =
      Demodata("--init=" + std::string(TARPELIX_SOURCE_DIR) + "/demo --root=" + root + " --properties=2");
  ASSERT_EQ(r.exit, 0) << r.out;
  for (const char* kept : {"FORMS/TARPELIX.JPN", "LOCALE/TARPELIX.LNG", "ddf/PropietH.xdf",
                           "AJUDA/TARPELIX.HLP", "Vork.ini", "DADES/PropietH.dat"})
    EXPECT_TRUE(std::filesystem::exists(root + "/" + kept)) << kept;
  for (const char* helper : {".gitattributes", "AJUDA/make_hlp.py", "ddf/make_ddf.py", "ddf/README.md"})
    EXPECT_FALSE(std::filesystem::exists(root + "/" + helper)) << helper;
  const std::string program = std::string(TARPELIX_BINARY_DIR) + "/tarpelix";
  EXPECT_NE(r.out.find("KALTMP=" + root + "/TMP/ " + program + "\n"), std::string::npos) << r.out;
}

TEST_F(ToolsTest, BalancesOfAnEmptyRangeSaySo) {
  ASSERT_EQ(Demodata("--root " + dir + " --properties 2").exit, 0);
  Result r = Balances("--root " + dir + " --from 50 --to 60");
  EXPECT_EQ(r.exit, 0);
  EXPECT_NE(r.out.find("Cap finca"), std::string::npos) << r.out;
}

}  // namespace
