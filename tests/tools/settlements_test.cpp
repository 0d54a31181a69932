// settlements_test.cpp - tools/settlements as a clerk runs it: the list of
// passes, the statements (text, CSV, HTML, one property) checked against the
// balances listing, the undo and its refusal, the languages of the suite's
// settings, and the wrong uses with their exit codes.  The passes are made
// by the program's settlement pass in a child process.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/settle/pass_child.h"
#include "tests/settle/settle_test_support.h"
#include "tests/tools/tool_runs.h"

namespace {

namespace fs = std::filesystem;

using toolruns::Lines;
using toolruns::Result;
using toolruns::Split;
Result RunLine(const std::string& commandLine) { return toolruns::RunCommand(commandLine); }

std::string Tool(const char* name) { return std::string(TARPELIX_BINARY_DIR) + "/tools/" + name; }

// The pass header's format field (offset 210) set to `format`, as a later
// program would write it, in a child process.
bool MarkPassFormat(const std::string& dir, long id, int format) {
  pid_t pid = fork();
  if (pid == 0) {
    const std::string root = dir + "/";
    settletest::StartStation(root);
    settletest::OpenSettlementFiles(root);
    int16_t status = 0;
    FindRecord(status, 0, PackedPassId(id) + std::string(4, '\0'), 0, kFileJournal);
    if (status == 0) {
      DiariLiq[210] = static_cast<unsigned char>(format);
      UpdateRecord(status, kFileJournal);
    }
    int16_t closed = 0;
    ResetDataFiles(closed);
    _exit(status == 0 ? 0 : 1);
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

// The statement words the carried balance by its sign (owed, or in the
// owner's favour, the amount without a minus sign) and agrees in number.
TEST_F(SettlementsTest, TheStatementWordsTheBalanceByItsSignAndItsPlurals) {
  ASSERT_EQ(RunLine(Tool("demodata") + " --root=" + dir + " --properties=1 --owners=1").exit, 0);
  ASSERT_TRUE(passchild::SettleInChild(dir, 1, 1));
  Result text = Settlements("show 1");
  ASSERT_EQ(text.exit, 0) << text.err;
  EXPECT_NE(text.out.find("1 finca liquidada, 1 propietari amb saldo."), std::string::npos) << text.out;
  EXPECT_NE(text.out.find(" 1 propietari x "), std::string::npos) << text.out;
  EXPECT_EQ(text.out.find("(saldo"), std::string::npos) << text.out;
  const std::string stored = CarryOver()["0001.0001"];
  ASSERT_FALSE(stored.empty());
  const bool favour = stored[0] == '-';
  const std::string prefix = std::string(favour ? "= A favor" : "= A deure") + ", al concepte 3 ";
  const size_t at = text.out.find(prefix);
  ASSERT_NE(at, std::string::npos) << prefix << "\n" << text.out;
  std::string amount =
      text.out.substr(at + prefix.size(), text.out.find(' ', at + prefix.size()) - at - prefix.size());
  std::string digits;
  for (char c : amount)
    if (c >= '0' && c <= '9') digits += c;
  EXPECT_EQ(digits, favour ? stored.substr(1) : stored) << "the amount without its sign: " << amount;
}

TEST_F(SettlementsTest, ListShowAndUndoOfAPass) {
  ASSERT_EQ(RunLine(Tool("demodata") + " --root=" + dir + " --properties=4").exit, 0);
  Result empty = Settlements("list");
  EXPECT_EQ(empty.exit, 0) << empty.err;
  EXPECT_NE(empty.out.find("Cap liquidaci\xC3\xB3 al diari."), std::string::npos) << empty.out;
  const std::string balancesBefore = Balances().out;
  ASSERT_TRUE(passchild::SettleInChild(dir, 2, 3));

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
  EXPECT_TRUE(text.out.find("= A deure, al concepte 3 ") != std::string::npos ||
              text.out.find("= A favor, al concepte 3 ") != std::string::npos)
      << text.out;
  EXPECT_NE(text.out.find("2 finques liquidades, "), std::string::npos) << text.out;
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
  ASSERT_TRUE(passchild::SettleInChild(dir, 1, 2));
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

// The fields of the CSV lines after the heading, by the heading's names.
std::vector<std::map<std::string, std::string>> CsvRows(const std::string& csv) {
  std::vector<std::string> lines = Lines(csv);
  std::vector<std::map<std::string, std::string>> rows;
  if (lines.empty()) return rows;
  std::vector<std::string> heading = Split(lines[0]);
  for (size_t i = 1; i < lines.size(); ++i) {
    std::vector<std::string> f = Split(lines[i]);
    std::map<std::string, std::string> row;
    for (size_t k = 0; k < heading.size() && k < f.size(); ++k) row[heading[k]] = f[k];
    rows.push_back(row);
  }
  return rows;
}

TEST_F(SettlementsTest, TheFeesTaxesOfAYearAndOfAQuarter) {
  ASSERT_EQ(RunLine(Tool("demodata") + " --root=" + dir + " --properties=5 --date=30092026").exit, 0);
  // No journal yet: no pass in the period, and nothing created.
  Result none = Settlements("taxes --year=2026");
  EXPECT_EQ(none.exit, 0) << none.err;
  EXPECT_NE(none.out.find("CAP LIQUIDACI\xC3\x93 AL PER\xC3\x8DODE: any 2026"), std::string::npos)
      << none.out;
  EXPECT_FALSE(fs::exists(dir + "/DADES/DiariLiq.dat"));
  ASSERT_TRUE(passchild::SettleInChild(dir, 1, 5, "20260930"));
  ASSERT_TRUE(passchild::SettleInChild(dir, 1, 3, "20261231"));

  // The year's CSV: its lines add up what the passes' statements charged.
  Result csv = Settlements("taxes --year=2026 --csv");
  ASSERT_EQ(csv.exit, 0) << csv.err;
  std::vector<std::map<std::string, std::string>> rows = CsvRows(csv.out);
  ASSERT_GE(rows.size(), 6u) << csv.out;
  long long vat = 0, withheld = 0, base = 0;
  for (size_t i = 0; i + 1 < rows.size(); ++i) {
    vat += std::stoll(rows[i]["iva"]), withheld += std::stoll(rows[i]["retencio"]);
    base += std::stoll(rows[i]["honoraris_base"]);
  }
  long long shownVat = 0, shownWithheld = 0, shownBase = 0;
  for (int id : {1, 2}) {
    std::set<std::string> properties;
    for (auto& row : CsvRows(Settlements("show " + std::to_string(id) + " --csv").out))
      if (properties.insert(row["finca"]).second) {
        shownVat += std::stoll(row["iva"]), shownWithheld += std::stoll(row["retencio"]);
        shownBase += std::stoll(row["honoraris_base"]);
      }
  }
  EXPECT_EQ(vat, shownVat);
  EXPECT_EQ(withheld, shownWithheld);
  EXPECT_EQ(base, shownBase);
  EXPECT_GT(withheld, 0);
  EXPECT_EQ(rows.back()["finca"], "TOTAL");
  EXPECT_EQ(rows.back()["iva"], std::to_string(vat));
  EXPECT_EQ(rows.back()["liquidacions"], "2");

  // The fourth quarter: the second pass only; the second quarter: none.
  Result q4 = Settlements("taxes --year=2026 --quarter=4");
  ASSERT_EQ(q4.exit, 0) << q4.err;
  EXPECT_NE(q4.out.find("trimestre 4 de 2026 (01/10/2026 a 31/12/2026)"), std::string::npos) << q4.out;
  EXPECT_NE(q4.out.find("\n0003 "), std::string::npos) << q4.out;
  EXPECT_EQ(q4.out.find("\n0004 "), std::string::npos) << q4.out;
  Result q2 = Settlements("taxes --year=2026 --quarter=2 --csv");
  EXPECT_EQ(q2.exit, 0);
  EXPECT_EQ(Lines(q2.out).size(), 2u) << q2.out;  // the heading and the totals
  EXPECT_NE(q2.err.find("CAP LIQUIDACI\xC3\x93 AL PER\xC3\x8DODE"), std::string::npos) << q2.err;

  // One property's owners: their shares add up to its line.
  Result owners = Settlements("taxes --year=2026 --owners --property=2 --csv");
  ASSERT_EQ(owners.exit, 0) << owners.err;
  long long ownersVat = 0;
  for (auto& row : CsvRows(owners.out)) {
    EXPECT_EQ(row["finca"], "0002");
    EXPECT_EQ(row["propietari"].rfind("0002.", 0), 0u);
    ownersVat += std::stoll(row["iva"]);
  }
  long long lineVat = 0;
  for (auto& row : rows)
    if (row["finca"] == "0002") lineVat += std::stoll(row["iva"]);
  EXPECT_EQ(ownersVat, lineVat);
  EXPECT_GT(lineVat, 0);
  Result html = Settlements("taxes --year=2026 --owners --html");
  ASSERT_EQ(html.exit, 0);
  EXPECT_EQ(html.out.rfind("<!DOCTYPE html>", 0), 0u);
  EXPECT_NE(html.out.find("residu m\xC3\xA9s gran"), std::string::npos);

  // In the suite's language.
  std::ofstream(dir + "/Vork.ini") << "[Usuari]\r\nIdioma=SPA\r\n";
  EXPECT_NE(Settlements("taxes --year=2026").out.find("IVA Y RETENCI\xC3\x93N DE LOS HONORARIOS"),
            std::string::npos);

  // A journal a newer program wrote is refused.
  ASSERT_TRUE(MarkPassFormat(dir, 1, 2));
  Result newer = Settlements("taxes --year=2026");
  EXPECT_EQ(newer.exit, 1);
  EXPECT_EQ(newer.out, "");
  EXPECT_NE(newer.err.find("FORMATO M\xC3\x81S NUEVO QUE ESTE PROGRAMA: 2"), std::string::npos) << newer.err;
  // Neither is its statement shown, nor is it undone: its record images may
  // hold what this program would lose by writing them back.
  const std::string before = Balances().out;
  for (const char* command : {"show 1", "show 1 --csv", "undo 1"}) {
    Result refused = Settlements(command);
    EXPECT_EQ(refused.exit, 1) << command;
    EXPECT_NE(refused.err.find("FORMATO M\xC3\x81S NUEVO QUE ESTE PROGRAMA: 2"), std::string::npos)
        << command << ": " << refused.err;
  }
  EXPECT_EQ(Balances().out, before);
}

TEST_F(SettlementsTest, WrongUsesAndMissingThingsAreRefused) {
  // Wrong use of the command line: 2.
  for (const char* arguments : {"", "erase 1", "show", "show 1 2", "show one", "show 0", "list --csv",
                                "undo 1 --property=2", "show 1 --csv --html", "show 1 --property=10000",
                                "taxes", "taxes 2026", "taxes --year=twenty", "taxes --year=2026 --quarter=5",
                                "taxes --year=2026 --csv --html", "show 1 --year=2026", "list --owners"})
    EXPECT_EQ(Settlements(arguments).exit, 2) << arguments;
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
  ASSERT_TRUE(passchild::SettleInChild(dir, 1, 1));
  Result property = Settlements("show 1 --property=2");
  EXPECT_EQ(property.exit, 1);
  EXPECT_NE(property.err.find("NO VA LIQUIDAR LA FINCA 0002"), std::string::npos) << property.err;
  EXPECT_EQ(Settlements("show 2").exit, 1);
  EXPECT_EQ(Settlements("show 1").exit, 0);
}

}  // namespace
