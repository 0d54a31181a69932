// taxes_test.cpp - the fees' VAT and withholding per community and per
// owner, from the settlement journal: a year of passes over generated data
// (two rates, a property settled twice in a quarter, a pass undone, a
// property undone from a pass) checked quarter by quarter against sums made
// here from the journal's raw records; the owners' shares against their
// exact quotas; the tax identifiers, the warnings, what the journal lacks,
// a period without passes and a journal of a newer format.
#include "history/taxes.h"

#include <cmath>
#include <map>
#include <set>
#include <tuple>

#include "settle/journal.h"
#include "settle/listing.h"
#include "tests/settle/pass_child.h"

namespace {

using rawrecords::Int;
using rawrecords::Long;
using rawrecords::Packed;

// ---- The journal read here, byte by byte ---------------------------------------------

float FloatAt(const std::string& r, size_t at) {
  uint32_t bits = static_cast<uint32_t>(Long(r, at));
  float v = 0;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

// A line's identity: property, VAT rate, withholding rate.
using LineKey = std::tuple<long, float, float>;

struct Sums {
  int64_t base = 0, vat = 0, withheld = 0;
  long passes = 0;
  std::map<std::string, long double> quota[3];  // per owner (unpacked code), exact
};

struct Expected {
  std::map<LineKey, Sums> lines;
  int64_t base = 0, vat = 0, withheld = 0;
  std::set<long> passes;
};

// What the passes of settlement dates first..last (YYYYMMDD) charged, not
// undone, from the journal's A, F, P and D records.
Expected FromJournal(const std::string& dir, long first, long last) {
  int status = 0;
  rawrecords::Records records = rawrecords::ReadAll(dir, "DiariLiq", status);
  EXPECT_EQ(status, 0);
  std::map<long, bool> counts;             // pass -> in the period and not undone
  std::set<std::pair<long, long>> undone;  // pass, property
  for (const std::string& r : records) {
    long pass = Packed(r, 0, 4), property = Packed(r, 4, 2);
    if (r[8] == 'A') {
      long date = Packed(r, 42, 4);
      counts[pass] = date >= first && date <= last && Long(r, 172) < Long(r, 108);
    }
    if (r[8] == 'D') undone.insert({pass, property});
  }
  Expected e;
  const std::string* entry = nullptr;  // the F record the P records that follow belong to
  std::vector<std::pair<std::string, int32_t>> owners;
  auto close = [&] {
    if (!entry) return;
    const std::string& f = *entry;
    int64_t amounts[3] = {Long(f, 28), Long(f, 36), Long(f, 44)};
    Sums& s = e.lines[{Packed(f, 4, 2), FloatAt(f, 32), FloatAt(f, 40)}];
    s.base += amounts[0], s.vat += amounts[1], s.withheld += amounts[2], s.passes += 1;
    e.base += amounts[0], e.vat += amounts[1], e.withheld += amounts[2];
    e.passes.insert(Packed(f, 0, 4));
    long double total = 0;
    for (auto& [code, share] : owners) total += share;
    for (auto& [code, share] : owners)
      for (int a = 0; a < 3; ++a)
        s.quota[a][code] +=
            total > 0 ? amounts[a] * (share / total) : amounts[a] / (long double)owners.size();
    entry = nullptr;
    owners.clear();
  };
  for (const std::string& r : records) {
    long pass = Packed(r, 0, 4), property = Packed(r, 4, 2);
    if (r[8] == 'F' || r[8] == 'A') close();
    if (r[8] == 'F' && counts[pass] && !undone.count({pass, property})) entry = &r;
    if (r[8] == 'P' && entry) {
      int group = Int(*entry, 52);
      owners.push_back({OwnerText(r.substr(16, 4)), Long(r, 20 + 4 * static_cast<size_t>(group - 1))});
    }
  }
  close();
  return e;
}

// The fields of a CSV line, quotes taken away.
std::vector<std::string> CsvFields(const std::string& line) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (char c : line) {
    if (c == '"') quoted = !quoted;
    else if (c == ',' && !quoted) fields.emplace_back();
    else fields.back() += c;
  }
  return fields;
}

long Day(int year, int month, int day) { return (year * 100L + month) * 100 + day; }

// ---- A year of passes ------------------------------------------------------------------

class TaxesTest : public passchild::GeneratedSuiteTest {
 protected:
  void SetUp() override {
    options = passchild::Suite(
        {.seed = 2604, .properties = 8, .ownersMin = 3, .ownersMax = 9, .collections = 2, .payments = 3});
    options.date = "31122025";  // the last settlements in 2025: every pass of 2026 finds months
    GeneratedSuiteTest::SetUp();
    ASSERT_NO_FATAL_FAILURE(Generate(true));
  }

  // The year: Q1 all; Q2 1-4; Q3 1-4 in July, then all at new rates in
  // September; Q4 3-6 in November undone, all in December with property 5
  // undone from it.
  void SettleTheYear() {
    ASSERT_EQ(Settle("20260331", 1, 8), 1);
    ASSERT_EQ(Settle("20260630", 1, 4), 2);
    ASSERT_EQ(Settle("20260731", 1, 4), 3);
    request.IvaRate[0] = 22, request.RetRate[0] = 19;
    ASSERT_EQ(Settle("20260930", 1, 8), 4);
    ASSERT_EQ(Settle("20261130", 3, 6), 5);
    UndoResult undo = UndoPass(5);
    ASSERT_EQ(undo.outcome, UndoOutcome::kUndone);
    ASSERT_EQ(Settle("20261231", 1, 8), 6);
    // The journal as an undo stopped after property 5 leaves it (the report
    // reads the journal alone).
    JournalUndo partial;
    partial.computer = "ESTACIO2";
    PackedNow(partial.date, partial.time);
    ASSERT_EQ(JournalWriteUndo(6, PackedFromNumber(5), partial), 0);
  }

  static TaxReport Gather(int year, int quarter, const std::string& property = std::string()) {
    TaxReport r;
    EXPECT_EQ(GatherTaxes(TaxPeriod{year, quarter}, property, r), 0);
    return r;
  }

  // The journal's record of `key` (key 0) changed by `change` in place.
  template <typename Change>
  void ChangeJournalRecord(const std::string& key, Change change) {
    int16_t status = 0;
    FindRecord(status, 0, key, 0, kFileJournal);
    ASSERT_EQ(status, 0);
    change(DiariLiq);
    UpdateRecord(status, kFileJournal);
    ASSERT_EQ(status, 0);
  }
};

void ExpectReportIs(const TaxReport& r, const Expected& e, const std::string& period) {
  SCOPED_TRACE(period);
  ASSERT_EQ(r.lines.size(), e.lines.size());
  EXPECT_EQ(r.base, e.base);
  EXPECT_EQ(r.vat, e.vat);
  EXPECT_EQ(r.withheld, e.withheld);
  EXPECT_EQ(r.passes, static_cast<long>(e.passes.size()));
  for (const TaxLine& l : r.lines) {
    LineKey key{PackedNumber(l.property), l.vatRate, l.withholdingRate};
    auto found = e.lines.find(key);
    ASSERT_NE(found, e.lines.end()) << PropertyText(l.property) << " " << l.vatRate;
    const Sums& s = found->second;
    EXPECT_EQ(l.base, s.base);
    EXPECT_EQ(l.vat, s.vat);
    EXPECT_EQ(l.withheld, s.withheld);
    EXPECT_EQ(l.passes, s.passes);
    EXPECT_EQ(l.firmTaxId, "ES12345678Z");
    // The owners' shares add up exactly, and each is its exact quota
    // rounded down or up.
    int64_t sums[3] = {};
    for (const TaxOwnerShare& o : l.owners) {
      const int64_t mine[3] = {o.base, o.vat, o.withheld};
      for (int a = 0; a < 3; ++a) {
        sums[a] += mine[a];
        long double quota = s.quota[a].at(OwnerText(o.owner));
        EXPECT_LE(std::fabs(static_cast<long double>(mine[a]) - quota), 1.0L)
            << OwnerText(o.owner) << " amount " << a;
      }
    }
    EXPECT_EQ(sums[0], l.base);
    EXPECT_EQ(sums[1], l.vat);
    EXPECT_EQ(sums[2], l.withheld);
    EXPECT_EQ(l.owners.size(), s.quota[1].size());
  }
}

TEST_F(TaxesTest, EachQuarterAndTheYearAddUpThePassesThatCount) {
  ASSERT_NO_FATAL_FAILURE(SettleTheYear());
  const Expected year = FromJournal(temp.path, Day(2026, 1, 1), Day(2026, 12, 31));
  ExpectReportIs(Gather(2026, 0), year, "year");
  for (int q = 1; q <= 4; ++q)
    ExpectReportIs(
        Gather(2026, q),
        FromJournal(temp.path, Day(2026, 3 * q - 2, 1), Day(2026, 3 * q, q == 2 || q == 3 ? 30 : 31)),
        "quarter " + std::to_string(q));

  // The quarters split the year.
  int64_t vat = 0, withheld = 0;
  for (int q = 1; q <= 4; ++q) vat += Gather(2026, q).vat, withheld += Gather(2026, q).withheld;
  EXPECT_EQ(vat, year.vat);
  EXPECT_EQ(withheld, year.withheld);
  EXPECT_GT(year.withheld, 0);

  // Q3: properties 1-4 settled twice, at each rate a line; 5-8 once.
  TaxReport q3 = Gather(2026, 3);
  std::map<std::string, int> lines;
  for (const TaxLine& l : q3.lines) lines[PropertyText(l.property)] += 1;
  EXPECT_EQ(lines["0001"], 2);
  EXPECT_EQ(lines["0005"], 1);
  EXPECT_EQ(q3.passes, 2);
  // Property 4 is of tax index 1: its rates did not change, its two passes
  // are one line.
  for (const TaxLine& l : q3.lines)
    if (PropertyText(l.property) == "0004") { EXPECT_EQ(l.passes, 2); }
  EXPECT_EQ(lines["0004"], 1);

  // Q4: the November pass undone, property 5 undone from December's.
  TaxReport q4 = Gather(2026, 4);
  EXPECT_EQ(q4.passes, 1);
  for (const TaxLine& l : q4.lines) {
    EXPECT_NE(PropertyText(l.property), "0005");
    EXPECT_EQ(l.passes, 1);
  }
  EXPECT_EQ(q4.lines.size(), 7u);

  // One property.
  TaxReport one = Gather(2026, 0, PackedFromNumber(2));
  ASSERT_FALSE(one.lines.empty());
  for (const TaxLine& l : one.lines) EXPECT_EQ(PropertyText(l.property), "0002");
  EXPECT_EQ(one.passes, 5);

  // The rates of today do not matter: the journal's are the truth.
  request.IvaRate[0] = 50, request.RetRate[0] = 1;
  ExpectReportIs(Gather(2026, 0), year, "year, with other rates set today");
}

TEST_F(TaxesTest, TheReportsWriteWhatWasGathered) {
  ASSERT_EQ(Settle("20260331", 1, 8), 1);
  request.IvaRate[0] = 22;
  ASSERT_EQ(Settle("20260630", 1, 3), 2);
  TaxReport r = Gather(2026, 0);
  ASSERT_FALSE(r.lines.empty());
  const std::string text = TaxReportText(r, StatementFormat::kText, false);
  EXPECT_EQ(text.rfind("IVA I RETENCI\xE0 DELS HONORARIS D'ADMINISTRACI\xE0\n", 0), 0u) << text;
  EXPECT_NE(text.find("any 2026 (01/01/2026 a 31/12/2026)"), std::string::npos) << text;
  EXPECT_NE(text.find("\nTOTAL "), std::string::npos);
  EXPECT_NE(text.find(EuroText(r.vat)), std::string::npos);
  EXPECT_NE(text.find("22,00 %"), std::string::npos);
  EXPECT_EQ(text.find("AV\xD6S"), std::string::npos) << "the demo's tax identifiers are sound";

  // CSV: a heading, a line per line of the report, the totals last; the
  // amounts in cents add up to the totals.
  std::vector<std::string> csv;
  {
    std::istringstream in(TaxReportText(r, StatementFormat::kCsv, false));
    for (std::string line; std::getline(in, line);) csv.push_back(line);
  }
  ASSERT_EQ(csv.size(), r.lines.size() + 2);
  EXPECT_EQ(csv[0].rfind("any,trimestre,finca,nom,nif_comunitat,nif_administrador,iva_pct,", 0), 0u);
  EXPECT_EQ(csv.back(), "2026,0,TOTAL,,,,,," + std::to_string(r.base) + "," + std::to_string(r.vat) + "," +
                            std::to_string(r.withheld) + ",2,");
  int64_t vat = 0;
  for (size_t i = 1; i + 1 < csv.size(); ++i) {
    std::vector<std::string> f = CsvFields(csv[i]);
    ASSERT_EQ(f.size(), 13u) << csv[i];
    vat += std::stoll(f[9]);
  }
  EXPECT_EQ(vat, r.vat);

  // The owners: the rule said, a table per line, the CSV a line per owner.
  const std::string owners = TaxReportText(r, StatementFormat::kText, true);
  EXPECT_NE(owners.find("residu m\x82s gran"), std::string::npos);
  EXPECT_NE(owners.find("TOTAL DE LA FINCA"), std::string::npos);
  size_t ownerLines = 0;
  for (const TaxLine& l : r.lines) ownerLines += l.owners.size();
  const std::string ownersCsv = TaxReportText(r, StatementFormat::kCsv, true);
  EXPECT_EQ(static_cast<size_t>(std::count(ownersCsv.begin(), ownersCsv.end(), '\n')), ownerLines + 1);

  const std::string html = TaxReportText(r, StatementFormat::kHtml, true);
  EXPECT_EQ(html.rfind("<!DOCTYPE html>", 0), 0u);
  EXPECT_NE(html.find("@media print"), std::string::npos);
  EXPECT_NE(html.find("</html>\n"), std::string::npos);
  EXPECT_NE(html.find("<caption>FINCA 0001  "), std::string::npos);
}

TEST_F(TaxesTest, WarningsWhatTheJournalLacksAndWhatIsRefused) {
  // Property 1 a community with a malformed identifier: the pass withholds
  // (ES and a letter) all the same.
  int16_t status = 0;
  FindRecord(status, 0, PackedFromNumber(1), 0, kFileProperties);
  ASSERT_EQ(status, 0);
  SetPropertyTaxId("ESH1");
  UpdateRecord(status, kFileProperties);
  ASSERT_EQ(status, 0);
  ASSERT_EQ(Settle("20260331", 1, 8), 1);

  // Property 2's entry without its record's images: the name and the tax
  // identifier come from today's file, marked; today it has no tax
  // identifier, so its withholding is warned about too.
  ChangeJournalRecord(PackedPassId(1) + PackedFromNumber(2) + std::string(2, '\0'),
                      [](unsigned char* r) { r[138] = r[139] = r[140] = r[141] = 0; });
  FindRecord(status, 0, PackedFromNumber(2), 0, kFileProperties);
  ASSERT_EQ(status, 0);
  SetPropertyDescription("NOM D'AVUI");
  SetPropertyTaxId("");
  UpdateRecord(status, kFileProperties);
  ASSERT_EQ(status, 0);

  TaxReport r = Gather(2026, 1);
  ASSERT_EQ(r.warnings.size(), 2u);
  EXPECT_EQ(PropertyText(r.warnings[0].property), "0001");
  EXPECT_EQ(r.warnings[0].problem, TaxIdProblem::kMalformed);
  EXPECT_EQ(r.warnings[0].taxId, "ESH1");
  EXPECT_EQ(PropertyText(r.warnings[1].property), "0002");
  EXPECT_EQ(r.warnings[1].problem, TaxIdProblem::kEmpty);
  ASSERT_GE(r.lines.size(), 2u);
  EXPECT_EQ(r.lines[1].name, "NOM D'AVUI");
  EXPECT_TRUE(r.lines[1].nameFromToday);
  EXPECT_FALSE(r.lines[1].taxIdFromToday);
  EXPECT_FALSE(r.lines[0].nameFromToday);
  const std::string text = TaxReportText(r, StatementFormat::kText, false);
  const size_t warnings = text.find("AV\xD6S: COMUNITATS AMB RETENCI\xE0 SENSE UN NIF CORRECTE");
  ASSERT_NE(warnings, std::string::npos) << text;
  EXPECT_GT(warnings, text.find("\nTOTAL "));
  EXPECT_NE(text.find("NOM D'AVUI *"), std::string::npos);
  EXPECT_NE(text.find("* No \x82s al diari"), std::string::npos);
  EXPECT_NE(text.find("NIF: ESH1  NIF INCORRECTE"), std::string::npos) << text;
  EXPECT_NE(text.find("NIF: -  SENSE NIF"), std::string::npos) << text;
  EXPECT_NE(TaxReportText(r, StatementFormat::kHtml, false).find("class=\"warnings\""), std::string::npos);
  EXPECT_EQ(TaxReportText(r, StatementFormat::kCsv, false).find("AV\xD6S"), std::string::npos);

  // A period without passes.
  TaxReport none = Gather(2025, 0);
  EXPECT_TRUE(none.lines.empty());
  EXPECT_EQ(none.passes, 0);
  EXPECT_NE(
      TaxReportText(none, StatementFormat::kText, false).find("CAP LIQUIDACI\xE0 AL PER\xD6ODE: any 2025"),
      std::string::npos);

  // A pass of a newer format: nothing is reported from the journal.
  ChangeJournalRecord(PackedPassId(1) + std::string(4, '\0'), [](unsigned char* r) { r[210] = 2; });
  TaxReport newer = Gather(2026, 1);
  EXPECT_EQ(newer.newerFormat, 2);
  EXPECT_TRUE(newer.lines.empty());
}

TEST_F(TaxesTest, ThePassWritesItsFormatAndOlderJournalsReadAsTheFirst) {
  ASSERT_EQ(Settle("20260331", 1, 2), 1);
  JournalPass pass;
  ASSERT_EQ(ReadJournalPass(1, pass), 0);
  EXPECT_EQ(pass.format, kJournalFormat);
  ChangeJournalRecord(PackedPassId(1) + std::string(4, '\0'), [](unsigned char* r) { r[210] = r[211] = 0; });
  ASSERT_EQ(ReadJournalPass(1, pass), 0);
  EXPECT_EQ(pass.format, 0);
  EXPECT_EQ(pass.Format(), 1);
  TaxReport r = Gather(2026, 1);
  EXPECT_EQ(r.newerFormat, 0);
  EXPECT_EQ(r.passes, 1);
}

// The cents the whole shares leave go one each to the largest remainders,
// ties to the lower owner code; shares that add up to nothing share
// equally.  The amounts and shares are set in the journal's records.
TEST_F(TaxesTest, TheCentsLeftOverGoToTheLargestRemainders) {
  ASSERT_EQ(Settle("20260331", 1, 1), 1);
  const std::string entry = PackedPassId(1) + PackedFromNumber(1) + std::string(2, '\0');
  int16_t status = 0;
  FindRecord(status, 0, entry, 0, kFileJournal);
  ASSERT_EQ(status, 0);
  const int group = DiariLiq[52] | DiariLiq[53] << 8;
  const int owners = DiariLiq[128] | DiariLiq[129] << 8;
  ASSERT_GE(owners, 3);
  ASSERT_LE(owners, 9);
  auto putLong = [](unsigned char* r, size_t at, uint32_t v) {
    for (size_t i = 0; i < 4; ++i) r[at + i] = static_cast<unsigned char>(v >> (8 * i));
  };
  ChangeJournalRecord(entry, [&](unsigned char* r) {
    putLong(r, 28, 1000);  // before VAT
    putLong(r, 36, 100);   // VAT
    putLong(r, 44, 7);     // withholding
  });
  // Every owner's share: `shares(n)` for the n-th owner (from 1).
  auto setShares = [&](auto shares) {
    for (int n = 1; n <= owners; ++n)
      ChangeJournalRecord(PackedPassId(1) + PackedFromNumber(1) + std::string{'\0', static_cast<char>(n)},
                          [&](unsigned char* r) {
                            putLong(r, 20 + 4 * static_cast<size_t>(group - 1),
                                    static_cast<uint32_t>(shares(n)));
                          });
  };
  auto expectEqualShares = [&](const char* what) {
    SCOPED_TRACE(what);
    TaxReport r = Gather(2026, 1);
    ASSERT_EQ(r.lines.size(), 1u);
    ASSERT_EQ(r.lines[0].owners.size(), static_cast<size_t>(owners));
    for (int n = 0; n < owners; ++n) {
      const TaxOwnerShare& o = r.lines[0].owners[static_cast<size_t>(n)];
      EXPECT_EQ(o.vat, 100 / owners + (n < 100 % owners ? 1 : 0)) << n;
      EXPECT_EQ(o.withheld, 7 / owners + (n < 7 % owners ? 1 : 0)) << n;
      EXPECT_EQ(o.base, 1000 / owners + (n < 1000 % owners ? 1 : 0)) << n;
    }
  };
  setShares([](int) { return 5; });
  expectEqualShares("equal shares");
  setShares([](int) { return 0; });
  expectEqualShares("no shares at all");

  // Owner 2 holds 3 parts, the others 1: the floors of the quotas, then a
  // cent each in order of remainder (owner 2's first on a tie: the larger
  // share), then of owner code.
  setShares([](int n) { return n == 2 ? 3 : 1; });
  TaxReport r = Gather(2026, 1);
  ASSERT_EQ(r.lines.size(), 1u);
  const int parts = owners + 2;
  std::vector<int64_t> expected(static_cast<size_t>(owners));
  std::vector<std::pair<int, int>> remainders;  // (remainder in 1/parts, -weight), owner index
  int64_t given = 0;
  for (int n = 0; n < owners; ++n) {
    const int weight = n == 1 ? 3 : 1;
    expected[static_cast<size_t>(n)] = 100 * weight / parts;
    given += expected[static_cast<size_t>(n)];
    remainders.push_back({100 * weight % parts, n});
  }
  std::stable_sort(remainders.begin(), remainders.end(), [](auto a, auto b) {
    if (a.first != b.first) return a.first > b.first;
    return a.second == 1 && b.second != 1;
  });
  for (size_t k = 0; given < 100; ++k, ++given) expected[static_cast<size_t>(remainders[k].second)] += 1;
  for (int n = 0; n < owners; ++n)
    EXPECT_EQ(r.lines[0].owners[static_cast<size_t>(n)].vat, expected[static_cast<size_t>(n)]) << n;
}

TEST(CommunityTaxIds, SpanishEntitiesWithTheirControlCharacter) {
  const std::pair<const char*, TaxIdProblem> cases[] = {
      {"ESB58818501", TaxIdProblem::kNone},
      {"ESH1234567D", TaxIdProblem::kNone},
      {"ESH12345674", TaxIdProblem::kNone},
      {"ESQ0000000J", TaxIdProblem::kNone},
      {"ESH1234567D      ", TaxIdProblem::kNone},  // blank-padded as the record keeps it
      {"", TaxIdProblem::kEmpty},
      {"                 ", TaxIdProblem::kEmpty},
      {"ESH12345675", TaxIdProblem::kMalformed},  // wrong control digit
      {"ESH1234567E", TaxIdProblem::kMalformed},  // wrong control letter
      {"ESH1", TaxIdProblem::kMalformed},
      {"ESI1234567D", TaxIdProblem::kMalformed},
      {"ES12345678Z", TaxIdProblem::kMalformed},  // a person's
      {"FRH1234567D", TaxIdProblem::kMalformed},
      {"ESH12A4567D", TaxIdProblem::kMalformed},
      {"ESH 1234567D", TaxIdProblem::kMalformed},
  };
  for (const auto& [id, problem] : cases) EXPECT_EQ(CommunityTaxIdProblem(id), problem) << "'" << id << "'";
  EXPECT_EQ(EntityControlDigit("5881850"), '1');
  EXPECT_EQ(EntityControlDigit("123456"), 0);
}

}  // namespace
