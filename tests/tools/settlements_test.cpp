// settlements_test.cpp - tools/settlements as a clerk runs it: the list of
// passes, the statements (text, CSV, HTML, one property) checked against the
// balances listing, the undo and its refusal, the languages of the suite's
// settings, and the wrong uses with their exit codes.  The passes are made
// by the program's settlement pass in a child process.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "tests/settle/settle_test_support.h"
#include "tests/tools/tool_runs.h"

namespace {

namespace fs = std::filesystem;

using toolruns::Lines;
using toolruns::Result;
using toolruns::Split;
Result RunLine(const std::string& commandLine) { return toolruns::RunCommand(commandLine); }

std::string Tool(const char* name) { return std::string(TARPELIX_BINARY_DIR) + "/tools/" + name; }

// A settlement pass of the program over properties first..last at 31 December
// 2026 into concept 3, in a child process, as a station of the suite root.
bool Settle(const std::string& dir, int first, int last) {
  pid_t pid = fork();
  if (pid == 0) {
    const std::string root = dir + "/";
    settletest::StartStation(root);
    settletest::OpenSettlementFiles(root);
    IvaRate[0] = 21, IvaRate[1] = 10, RetRate[0] = 15, RetRate[1] = 7;
    SettlementDate = PackDigits("20261231");
    LowerOwnerKey = PackCode(std::to_string(first) + ".1");
    UpperOwnerKey = PackCode(std::to_string(last) + ".9999");
    CarryConcept = 3;
    SettlementPass();
    int16_t status = 0;
    ResetDataFiles(status);
    _exit(Journal.passId > 0 ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

class SettlementsTest : public ::testing::Test {
 protected:
  TempDir temp{"tarpelix_settle_"};
  std::string dir = temp.path;

  void SetUp() override {
    ASSERT_FALSE(dir.empty());
    settletest::MakeSuiteRoot(dir);
    ASSERT_TRUE(fs::exists(Tool("settlements"))) << "build the tools first";
  }

  Result Settlements(const std::string& arguments, const std::string& environment = "KALTMP= ") {
    // Started in the station's folder, as a clerk starts it anywhere.
    return RunLine("cd " + dir + "/TMP && " + environment + Tool("settlements") + " --root=" + dir + " " +
                   arguments);
  }
  Result Balances() { return RunLine(Tool("balances") + " --root=" + dir + " --csv"); }

  // The carry-over slot (c3, stored cents) of each owner in the balances CSV.
  std::map<std::string, std::string> CarryOver() {
    std::map<std::string, std::string> out;
    std::vector<std::string> lines = Lines(Balances().out);
    for (size_t i = 1; i < lines.size(); ++i) {
      std::vector<std::string> f = Split(lines[i]);
      if (f.size() > 6) out[f[3]] = f[6];
    }
    return out;
  }
};

TEST_F(SettlementsTest, ListShowAndUndoOfAPass) {
  ASSERT_EQ(RunLine(Tool("demodata") + " --root=" + dir + " --properties=4").exit, 0);
  Result empty = Settlements("list");
  EXPECT_EQ(empty.exit, 0) << empty.err;
  EXPECT_NE(empty.out.find("Cap liquidaci\xC3\xB3 al diari."), std::string::npos) << empty.out;
  const std::string balancesBefore = Balances().out;
  ASSERT_TRUE(Settle(dir, 2, 3));

  Result list = Settlements("list");
  ASSERT_EQ(list.exit, 0) << list.err;
  std::vector<std::string> lines = Lines(list.out);
  ASSERT_EQ(lines.size(), 5u) << list.out;
  EXPECT_NE(lines[3].find("N\xC3\x9AM."), std::string::npos) << lines[3];
  EXPECT_EQ(lines[4].rfind("     1  31/12/2026  ", 0), 0u) << lines[4];
  EXPECT_NE(lines[4].find("0002-0003"), std::string::npos) << lines[4];

  // The CSV statement: one line per owner of properties 2 and 3, and each
  // amount stored is what the balances listing shows in concept 3.
  std::map<std::string, std::string> carry = CarryOver();
  Result csv = Settlements("show 1 --csv");
  ASSERT_EQ(csv.exit, 0) << csv.err;
  lines = Lines(csv.out);
  ASSERT_GT(lines.size(), 6u);
  std::vector<std::string> heading = Split(lines[0]);
  const size_t owner = std::find(heading.begin(), heading.end(), "propietari") - heading.begin();
  const size_t stored = std::find(heading.begin(), heading.end(), "import_concepte") - heading.begin();
  const size_t balance = std::find(heading.begin(), heading.end(), "saldo") - heading.begin();
  ASSERT_LT(stored, heading.size());
  size_t owners = 0;
  for (const auto& [code, amount] : carry)
    owners += code.rfind("0002.", 0) == 0 || code.rfind("0003.", 0) == 0;
  EXPECT_EQ(lines.size() - 1, owners);
  for (size_t i = 1; i < lines.size(); ++i) {
    std::vector<std::string> f = Split(lines[i]);
    ASSERT_EQ(f.size(), heading.size()) << lines[i];
    EXPECT_EQ(f[stored], carry[f[owner]]) << lines[i];
    EXPECT_EQ(std::stol(f[balance]), -std::stol(f[stored])) << lines[i];
  }

  // The text statement of property 3 alone, and the HTML page.
  Result text = Settlements("show 1 --property=3");
  ASSERT_EQ(text.exit, 0) << text.err;
  EXPECT_EQ(text.out.rfind("LIQUIDACI\xC3\x93 N\xC3\x9AM. 1\n", 0), 0u) << text.out;
  EXPECT_NE(text.out.find("\nFINCA 0003  "), std::string::npos);
  EXPECT_EQ(text.out.find("\nFINCA 0002  "), std::string::npos);
  EXPECT_NE(text.out.find("PROPIETARI 0003.0001"), std::string::npos);
  EXPECT_NE(text.out.find("= A deure, al concepte 3"), std::string::npos);
  Result html = Settlements("show 1 --html");
  ASSERT_EQ(html.exit, 0) << html.err;
  EXPECT_EQ(html.out.rfind("<!DOCTYPE html>", 0), 0u);
  EXPECT_NE(html.out.find("<meta charset=\"utf-8\">"), std::string::npos);
  EXPECT_NE(html.out.find("<caption>PROPIETARI 0002.0001</caption>"), std::string::npos);
  EXPECT_NE(html.out.find("</html>\n"), std::string::npos);

  // The undo gives back the balances as they were; a second one is refused.
  // The root given relative to the folder the tool starts in.
  Result undo = RunLine("cd " + dir + "/TMP && KALTMP= " + Tool("settlements") + " --root=.. undo 1");
  EXPECT_EQ(undo.exit, 0) << undo.err;
  EXPECT_NE(undo.out.find("S'HA DESFET: 2 FINQUES"), std::string::npos) << undo.out;
  EXPECT_EQ(Balances().out, balancesBefore);
  // Its updates are logged in the suite root, where the program logs.
  EXPECT_TRUE(fs::exists(dir + "/db.log"));
  EXPECT_FALSE(fs::exists(dir + "/TMP/db.log"));
  Result again = Settlements("undo 1");
  EXPECT_EQ(again.exit, 1);
  EXPECT_NE(again.err.find("JA EST\xC3\x80 DESFETA"), std::string::npos) << again.err;
  EXPECT_EQ(again.out, "");
  EXPECT_NE(Settlements("list").out.find("DESFETA"), std::string::npos);
}

TEST_F(SettlementsTest, TheClerksTextsAreInTheLanguageOfTheSuitesSettings) {
  ASSERT_EQ(RunLine(Tool("demodata") + " --root=" + dir + " --properties=2").exit, 0);
  ASSERT_TRUE(Settle(dir, 1, 2));
  std::ofstream(dir + "/Vork.ini") << "[Usuari]\r\nIdioma=SPA\r\n";
  EXPECT_NE(Settlements("list").out.find("LIQUIDACIONES DEL DIARIO"), std::string::npos);
  EXPECT_NE(Settlements("show 9").err.find("NO EXISTE LA LIQUIDACI\xC3\x93N 9"), std::string::npos);
  // The station's settings, when KALTMP names it, come first.
  fs::create_directories(dir + "/TMP/estacio2");
  std::ofstream(dir + "/TMP/estacio2/VorkTerm.ini") << "[Sistema]\r\nIdioma=GLG\r\n";
  Result galician = Settlements("show 1 --property=1", "KALTMP=" + dir + "/TMP/estacio2/ ");
  EXPECT_NE(galician.out.find("PROPIETARIO 0001.0001"), std::string::npos) << galician.out;
  std::ofstream(dir + "/TMP/estacio2/VorkTerm.ini") << "[Sistema]\r\nIdioma=OCI\r\n";
  EXPECT_NE(Settlements("undo 7", "KALTMP=" + dir + "/TMP/estacio2/ ")
                .err.find("NON EXIST\xC3\x8DS ERA LIQUIDACION 7"),
            std::string::npos);
}

TEST_F(SettlementsTest, WrongUsesAndMissingThingsAreRefused) {
  // Wrong use of the command line: 2.
  EXPECT_EQ(Settlements("").exit, 2);
  EXPECT_EQ(Settlements("erase 1").exit, 2);
  EXPECT_EQ(Settlements("show").exit, 2);
  EXPECT_EQ(Settlements("show 1 2").exit, 2);
  EXPECT_EQ(Settlements("show one").exit, 2);
  EXPECT_EQ(Settlements("show 0").exit, 2);
  EXPECT_EQ(Settlements("list --csv").exit, 2);
  EXPECT_EQ(Settlements("undo 1 --property=2").exit, 2);
  EXPECT_EQ(Settlements("show 1 --csv --html").exit, 2);
  EXPECT_EQ(Settlements("show 1 --property=10000").exit, 2);
  EXPECT_EQ(RunLine(Tool("settlements") + " list").exit, 2) << "no root";

  // A suite root that is not there, data files that are not: 1, and nothing
  // is created.
  Result root = RunLine(Tool("settlements") + " --root=" + dir + "/nowhere list");
  EXPECT_EQ(root.exit, 1);
  EXPECT_NE(root.err.find("NO EXISTEIX LA CARPETA"), std::string::npos) << root.err;
  Result files = Settlements("undo 1");
  EXPECT_EQ(files.exit, 1);
  EXPECT_NE(files.err.find("NO EXISTEIX EL FITXER DE DADES"), std::string::npos) << files.err;
  EXPECT_FALSE(fs::exists(dir + "/DADES/DiariLiq.dat"));

  // No journal yet: no such pass.
  ASSERT_EQ(RunLine(Tool("demodata") + " --root=" + dir + " --properties=2").exit, 0);
  EXPECT_EQ(Settlements("show 1").exit, 1);
  EXPECT_EQ(Settlements("undo 1").exit, 1);
  EXPECT_FALSE(fs::exists(dir + "/DADES/DiariLiq.dat"));
  ASSERT_TRUE(Settle(dir, 1, 1));
  Result property = Settlements("show 1 --property=2");
  EXPECT_EQ(property.exit, 1);
  EXPECT_NE(property.err.find("NO VA LIQUIDAR LA FINCA 0002"), std::string::npos) << property.err;
  EXPECT_EQ(Settlements("show 2").exit, 1);
  EXPECT_EQ(Settlements("show 1").exit, 0);
}

}  // namespace
