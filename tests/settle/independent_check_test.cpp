// independent_check_test.cpp - a settlement pass over generated data,
// checked against balances computed here in a separate, plain way: straight
// from the record bytes (read through the record manager, decoded with this
// file's own offsets) and the settlement rules, without the program's
// settlement functions or record accessors.  Also the generator's promises
// about its data.
#include <cmath>
#include <set>

#include "generator/demo_data.h"
#include "pass_child.h"
#include "raw_records.h"
#include "settle/journal.h"
#include "settle_test_support.h"

namespace {

using namespace rawrecords;

// The settlement rules, written out plainly over a snapshot (the carry-over
// concept is 3).
struct Fee {
  long months = 0;
  double base = 0, vat = 0, withheld = 0, fee = 0;
  int group = 1;
};
struct Expected {
  std::map<std::string, int32_t> carry;     // owner code -> amount of the carry-over slot
  std::map<std::string, double> collected;  // owner code -> collections counted
  std::map<std::string, Fee> fees;          // property code -> its fee
  std::set<std::string> settledProperties;  // property codes whose date moves
  Records collectionsLeft, paymentsLeft;
};

bool PersonId(const std::string& id) {
  return id.size() >= 2 && id[0] == 'E' && id[1] == 'S' &&
         (id.size() < 3 || static_cast<unsigned char>(id[2]) < 'A' ||
          static_cast<unsigned char>(id[2]) > 'W');
}
bool EntityId(const std::string& id) {
  return id.size() >= 3 && id[0] == 'E' && id[1] == 'S' && id[2] >= 'A' && id[2] <= 'W';
}

Expected Compute(const Snapshot& s, long date, long firstProperty, long lastProperty,
                 const std::string& firmId, const float vatRates[2], const float withholdingRates[2]) {
  Expected e;
  std::map<int, int> conceptType;
  for (const std::string& c : s.at("THRebut"))
    conceptType[static_cast<unsigned char>(c[0])] = Int(c, kConceptType);
  auto carriedOver = [&](int number) { return conceptType.count(number) && conceptType[number] == 1; };

  for (const std::string& p : s.at("FinquesH")) {
    long code = Packed(p, 0, 2);
    if (code < firstProperty || code > lastProperty) continue;
    long last = Packed(p, kPropertyDate, 4);
    long lastMonth = (last / 100) % 100;
    if (lastMonth < 1 || lastMonth > 12 || date < last) continue;  // left untouched
    e.settledProperties.insert(p.substr(0, 2));

    std::vector<std::string> owners;
    for (const std::string& o : s.at("PropietH"))
      if (o.compare(0, 2, p, 0, 2) == 0) owners.push_back(o);
    long months = (date / 10000 - last / 10000) * 12 + (date / 100 % 100 - lastMonth);
    int index = Int(p, kPropertyTaxIndex);
    double fee = static_cast<double>(owners.size()) * Long(p, kPropertyFee) * static_cast<double>(months);
    double vat = vatRates[index];
    double withholding =
        PersonId(firmId) && EntityId(p.substr(kPropertyTaxId, 17)) ? withholdingRates[index] : 0.0;
    Fee& f = e.fees[p.substr(0, 2)];
    f.months = months;
    f.base = fee;
    f.vat = std::nearbyint(vat * fee / 100);
    f.withheld = std::nearbyint(withholding * fee / 100);
    fee = fee + f.vat - f.withheld;
    f.fee = fee;

    int feeGroup = 1;
    for (const std::string& n : s.at("FinDespH")) {
      if (n.compare(0, 2, p, 0, 2) != 0) continue;
      std::string text = n.substr(kNoteText, 600);
      size_t at = text.find("HO");
      if (at != std::string::npos && at + 2 < text.size() && text[at + 2] >= 'A' && text[at + 2] <= 'G')
        feeGroup = text[at + 2] - 'A' + 1;
    }
    double group[9] = {};
    group[feeGroup] = fee;
    f.group = feeGroup;
    std::map<long, double> charges;
    std::set<long> ownerNumbers;
    for (const std::string& o : owners) ownerNumbers.insert(Packed(o, 2, 2));
    for (const std::string& pay : s.at("PagamH")) {
      if (pay.compare(0, 2, p, 0, 2) != 0) continue;
      if (Packed(pay, kPaymentDate, 4) > date) {
        e.paymentsLeft.push_back(pay);
        continue;
      }
      long n = Packed(pay, kPaymentTarget, 2);
      if (pay[kPaymentFlag] == 'S') {
        if (!ownerNumbers.count(n)) {
          e.paymentsLeft.push_back(pay);  // nobody here to charge it to
          continue;
        }
        charges[n] += Long(pay, kPaymentAmount);
      } else if (n > 8) {
        e.paymentsLeft.push_back(pay);  // no such group
        continue;
      } else {
        group[n] += Long(pay, kPaymentAmount);
      }
    }
    double totals[8] = {0, 1000000};
    for (int c = 2; c <= 7; ++c) totals[c] = Long(p, kPropertyGroupTotal[c]);

    for (const std::string& o : owners) {
      double owed = 0;
      for (int n = 1; n <= 8; ++n)
        if (carriedOver(n)) owed += OwnerSlot(o, n);
      for (size_t k = 0; k < 2; ++k)
        if (carriedOver(Int(o, kOwnerExtra[k]))) owed += Long(o, kOwnerExtra[k] + 5);
      for (int c = 1; c <= 7; ++c)
        if (totals[c] != 0) owed += std::nearbyint(group[c] / totals[c] * Long(o, kOwnerShare + 4 * (c - 1)));
      owed += charges[Packed(o, 2, 2)];
      for (const std::string& col : s.at("CobramH")) {
        if (col.compare(0, 4, o, 0, 4) != 0 || Packed(col, kCollectionDate, 4) > date) continue;
        if (col[kCollectionKind] == 'C' || col[kCollectionKind] == 'I') {
          double net = static_cast<double>(Long(col, kCollectionAmount)) - Long(col, kCollectionDeducted);
          owed -= net;
          e.collected[o.substr(0, 4)] += net;
        }
      }
      e.carry[o.substr(0, 4)] = static_cast<int32_t>(owed);
    }
  }
  for (const std::string& col : s.at("CobramH"))
    if (!e.settledProperties.count(col.substr(0, 2)) || Packed(col, kCollectionDate, 4) > date)
      e.collectionsLeft.push_back(col);
  for (const std::string& pay : s.at("PagamH"))
    if (!e.settledProperties.count(pay.substr(0, 2))) e.paymentsLeft.push_back(pay);
  std::sort(e.paymentsLeft.begin(), e.paymentsLeft.end());
  return e;
}

class GeneratedDataTest : public passchild::GeneratedSuiteTest {
 protected:
  void SetUp() override {
    options = passchild::Suite({.seed = 20261231,
                                .properties = 14,
                                .ownersMin = 3,
                                .ownersMax = 14,
                                .collections = 5,
                                .payments = 9});
    GeneratedSuiteTest::SetUp();
  }
  void SettleAndCompare(int first, int last);
  // Of the last SettleAndCompare.
  Snapshot before, after;
  Expected expected;
};

// Settles properties `first` to `last` at 31/12/2026 with the demo's rates
// and compares everything with the plain computation.
void GeneratedDataTest::SettleAndCompare(int first, int last) {
  int status = 0;
  before = TakeSnapshot(temp.path, status);
  ASSERT_EQ(status, 0);
  const float vat[2] = {21, 10}, withholding[2] = {15, 7};
  request = settletest::DemoRequest(first, last);
  request.IvaRate[0] = vat[0], request.IvaRate[1] = vat[1];
  request.RetRate[0] = withholding[0], request.RetRate[1] = withholding[1];
  expected = Compute(before, 20261231, first, last, request.FirmTaxId, vat, withholding);
  ASSERT_EQ(expected.settledProperties.size(), static_cast<size_t>(last - first + 1));

  SettlementPass(request);
  EXPECT_TRUE(Settlement.untouched.empty());
  after = TakeSnapshot(temp.path, status);
  ASSERT_EQ(status, 0);

  // Every owner: the carry-over slot as computed, every other byte as it was.
  std::map<std::string, std::string> ownersBefore = OwnersByCode(before), ownersAfter = OwnersByCode(after);
  ASSERT_EQ(ownersAfter.size(), ownersBefore.size());
  int checked = 0;
  for (const auto& [code, record] : ownersAfter) {
    std::string old = ownersBefore[code];
    auto found = expected.carry.find(code);
    if (found == expected.carry.end()) {
      EXPECT_EQ(record, old) << "owner of an unsettled property changed";
      continue;
    }
    ++checked;
    EXPECT_EQ(OwnerSlot(record, 3), found->second) << "owner " << Packed(code, 0, 4);
    const size_t slot3 = kOwnerSlot + 7 * 2;
    std::string withoutSlot = record, oldWithoutSlot = old;
    withoutSlot.replace(slot3, 4, 4, '\0');
    oldWithoutSlot.replace(slot3, 4, 4, '\0');
    EXPECT_EQ(withoutSlot, oldWithoutSlot) << "owner " << Packed(code, 0, 4);
  }
  EXPECT_EQ(checked, static_cast<int>(expected.carry.size()));

  for (const std::string& p : after["FinquesH"]) {
    bool settled = expected.settledProperties.count(p.substr(0, 2)) > 0;
    EXPECT_EQ(Packed(p, kPropertyDate, 4) == 20261231, settled) << "property " << Packed(p, 0, 2);
  }
  EXPECT_EQ(after["CobramH"], expected.collectionsLeft);
  Records paymentsAfter = after["PagamH"];
  std::sort(paymentsAfter.begin(), paymentsAfter.end());
  EXPECT_EQ(paymentsAfter, expected.paymentsLeft);
  EXPECT_EQ(after["THRebut"], before["THRebut"]);
  EXPECT_EQ(after["FinDespH"], before["FinDespH"]);
}

TEST_F(GeneratedDataTest, EveryOwnersCarryOverAmountMatchesAPlainComputation) {
  Generate();
  settletest::OpenSettlementFiles(root);
  // Payments the tables have no place for, and one for an owner the
  // property lacks: they stay.
  ASSERT_EQ(settletest::InsertPayment(2, "20261201", 777, " ", 9), 0);
  ASSERT_EQ(settletest::InsertPayment(2, "20261201", 777, "S", 77), 0);
  // Properties 2 to 13 of the 14.
  SettleAndCompare(2, 13);
}

// The records of `file` in `s` belonging to the property `code`, sorted.
Records Sorted(const Snapshot& s, const char* file, const std::string& code) {
  Records out;
  for (const std::string& r : s.at(file))
    if (r.compare(0, 2, code) == 0) out.push_back(r);
  std::sort(out.begin(), out.end());
  return out;
}
Records Sorted(Records r) {
  std::sort(r.begin(), r.end());
  return r;
}

TEST_F(GeneratedDataTest, TheJournalHoldsWhatThePassComputedAndEveryRecordItChanged) {
  Generate();
  settletest::OpenSettlementFiles(root);
  SettleAndCompare(1, 14);
  ASSERT_EQ(Journal.passId, 1);

  // The pass: its parameters and the totals of its properties.
  JournalPass pass;
  ASSERT_EQ(ReadJournalPass(1, pass), 0);
  EXPECT_EQ(pass.settlementDate, PackDigits("20261231"));
  EXPECT_EQ(pass.lowerKey, PackCode("1.1"));
  EXPECT_EQ(pass.upperKey, PackCode("14.9999"));
  EXPECT_EQ(pass.carryConcept, 3);
  EXPECT_EQ(pass.vatRates[0], 21.0f);
  EXPECT_EQ(pass.withholdingRates[1], 7.0f);
  EXPECT_EQ(pass.firmTaxId.substr(0, 11), "ES12345678Z");
  EXPECT_EQ(pass.station, Locks.stationId);
  double fees = 0, vat = 0, withheld = 0, stored = 0, collected = 0;
  for (const auto& [code, f] : expected.fees) fees += f.fee, vat += f.vat, withheld += f.withheld;
  for (const auto& [code, amount] : expected.carry) stored += amount;
  for (const auto& [code, amount] : expected.collected) collected += amount;
  EXPECT_EQ(pass.properties, static_cast<long>(expected.settledProperties.size()));
  EXPECT_EQ(pass.owners, static_cast<long>(expected.carry.size()));
  EXPECT_EQ(pass.fee, fees);
  EXPECT_EQ(pass.vat, vat);
  EXPECT_EQ(pass.withheld, withheld);
  EXPECT_EQ(pass.stored, stored);
  EXPECT_EQ(pass.collections, collected);
  EXPECT_EQ(pass.undone, 0);

  std::vector<std::string> codes;
  std::vector<bool> undone;
  ASSERT_EQ(JournalPropertiesOf(1, codes, undone), 0);
  EXPECT_EQ(std::set<std::string>(codes.begin(), codes.end()), expected.settledProperties);
  std::map<std::string, std::string> ownersBefore = OwnersByCode(before), ownersAfter = OwnersByCode(after);
  long deleted = 0;
  for (const std::string& code : codes) {
    SCOPED_TRACE("property " + std::to_string(Packed(code, 0, 2)));
    JournalProperty entry;
    JournalUndo undo;
    bool isUndone = true;
    ASSERT_EQ(ReadJournalProperty(1, code, entry, isUndone, undo), 0);
    EXPECT_FALSE(isUndone);
    const Fee& f = expected.fees.at(code);
    EXPECT_EQ(entry.months, f.months);
    EXPECT_EQ(entry.base, f.base);
    EXPECT_EQ(entry.vat, f.vat);
    EXPECT_EQ(entry.withheld, f.withheld);
    EXPECT_EQ(entry.fee, f.fee);
    EXPECT_EQ(entry.feeGroup, f.group);
    EXPECT_EQ(entry.groups[f.group] >= f.fee, true);
    EXPECT_EQ(Sorted(Records{entry.before}), Sorted(before, "FinquesH", code));
    EXPECT_EQ(Sorted(Records{entry.after}), Sorted(after, "FinquesH", code));
    EXPECT_EQ(entry.oldDate, entry.before.substr(kPropertyDate, 4));
    EXPECT_EQ(entry.newDate, PackDigits("20261231"));
    // Every owner who received a balance, with its balance and both images.
    std::vector<std::string> owners;
    for (const auto& [ownerCode, amount] : expected.carry)
      if (ownerCode.compare(0, 2, code) == 0) owners.push_back(ownerCode);
    ASSERT_EQ(entry.balances.size(), owners.size());
    for (size_t i = 0; i < owners.size(); ++i) {
      const JournalOwner& o = entry.balances[i];
      EXPECT_EQ(o.code, owners[i]);
      EXPECT_EQ(o.stored, expected.carry.at(owners[i])) << "owner " << Packed(owners[i], 0, 4);
      EXPECT_EQ(o.balance, -o.stored);
      EXPECT_EQ(o.collections, expected.collected[owners[i]]);
      EXPECT_EQ(o.before, ownersBefore.at(owners[i]));
      EXPECT_EQ(o.after, ownersAfter.at(owners[i]));
      EXPECT_EQ(o.shares[1], Long(o.before, kOwnerShare));
      int64_t parts = 0;
      for (int g = 1; g <= 8; ++g) parts += o.parts[g];
      EXPECT_EQ(o.balance, o.collections + o.parts[0] - parts);
    }
    // The deleted records: what the files held before and hold no more.
    Records gone;
    Records collectionsAfter = Sorted(after, "CobramH", code);
    for (const std::string& r : Sorted(before, "CobramH", code))
      if (!std::binary_search(collectionsAfter.begin(), collectionsAfter.end(), r)) gone.push_back(r);
    EXPECT_EQ(Sorted(entry.collections), gone);
    gone.clear();
    Records paymentsAfter = Sorted(after, "PagamH", code);
    for (const std::string& r : Sorted(before, "PagamH", code))
      if (!std::binary_search(paymentsAfter.begin(), paymentsAfter.end(), r)) gone.push_back(r);
    EXPECT_EQ(Sorted(entry.payments), gone);
    deleted += static_cast<long>(entry.collections.size() + entry.payments.size());
  }
  EXPECT_EQ(pass.deleted, deleted);
  EXPECT_EQ(pass.rewritten, pass.owners + pass.properties);

  // New demo data over it empties the journal, which described the old.
  int16_t status = 0;
  ResetDataFiles(status);
  options.force = true;
  Generate();
  int raw = 0;
  EXPECT_TRUE(ReadAll(temp.path, "DiariLiq", raw).empty());
  EXPECT_EQ(raw, 0);
}

TEST_F(GeneratedDataTest, TheDemoSuitesDataSettlesAsComputed) {
  // What ./run prepares and the end-to-end test settles: the defaults.
  options = DemoDataOptions{};
  options.root = root;
  Generate();
  settletest::OpenSettlementFiles(root);
  SettleAndCompare(1, 12);
}

TEST_F(GeneratedDataTest, GroupOneSharesAddUpToAMillionAndGroupTotalsToTheOwnersShares) {
  Generate();
  int status = 0;
  Snapshot s = TakeSnapshot(temp.path, status);
  ASSERT_EQ(status, 0);
  ASSERT_EQ(s["FinquesH"].size(), 14u);
  for (const std::string& p : s["FinquesH"]) {
    int64_t sums[8] = {};
    int owners = 0;
    for (const std::string& o : s["PropietH"]) {
      if (o.compare(0, 2, p, 0, 2) != 0) continue;
      ++owners;
      for (int c = 1; c <= 7; ++c) sums[c] += Long(o, kOwnerShare + 4 * static_cast<size_t>(c - 1));
    }
    EXPECT_GE(owners, 3);
    EXPECT_LE(owners, 14);
    EXPECT_EQ(sums[1], 1000000) << "property " << Packed(p, 0, 2);
    for (int c = 2; c <= 7; ++c) EXPECT_EQ(sums[c], Long(p, kPropertyGroupTotal[c])) << "group " << c;
  }
}

TEST_F(GeneratedDataTest, TheDataHoldsEveryKindTheSettlementDistinguishes) {
  Generate();
  int status = 0;
  Snapshot s = TakeSnapshot(temp.path, status);
  std::set<char> kinds, flags;
  int afterDate = 0, ownersFrom1000 = 0, feeGroups = 0, entities = 0, others = 0;
  for (const std::string& c : s["CobramH"]) {
    kinds.insert(c[kCollectionKind]);
    afterDate += Packed(c, kCollectionDate, 4) > 20261231;
  }
  for (const std::string& p : s["PagamH"]) flags.insert(p[kPaymentFlag]);
  for (const std::string& o : s["PropietH"]) ownersFrom1000 += Packed(o, 2, 2) >= 1000;
  for (const std::string& n : s["FinDespH"]) {
    std::string text = n.substr(kNoteText);
    feeGroups += text.find("HOB") != std::string::npos || text.find("HOC") != std::string::npos;
  }
  for (const std::string& p : s["FinquesH"]) (EntityId(p.substr(kPropertyTaxId, 17)) ? entities : others)++;
  EXPECT_EQ(kinds, (std::set<char>{'C', 'I', 'X'}));
  EXPECT_EQ(flags, (std::set<char>{' ', 'S'}));
  EXPECT_GT(afterDate, 0);
  EXPECT_GT(ownersFrom1000, 0);
  EXPECT_GT(feeGroups, 0);
  EXPECT_GT(entities, 0);
  EXPECT_GT(others, 0);
  ASSERT_GE(s["THRebut"].size(), 8u);
  EXPECT_EQ(Int(s["THRebut"][2], kConceptType), 1) << "concept 3 is the carry-over concept";
}

TEST_F(GeneratedDataTest, TheSameSeedGivesTheSameRecordsAndForceReplacesThem) {
  Generate();
  int status = 0;
  Snapshot first = TakeSnapshot(temp.path, status);
  DemoDataSummary summary;
  std::string problem;
  EXPECT_FALSE(GenerateDemoData(options, summary, problem)) << "existing records are kept without force";
  EXPECT_NE(problem.find("--force"), std::string::npos);
  options.force = true;
  ASSERT_TRUE(GenerateDemoData(options, summary, problem)) << problem;
  EXPECT_EQ(TakeSnapshot(temp.path, status), first);
  options.seed = 5;
  ASSERT_TRUE(GenerateDemoData(options, summary, problem)) << problem;
  EXPECT_NE(TakeSnapshot(temp.path, status), first);
}

TEST_F(GeneratedDataTest, AWrongRootOrOptionsAreRefused) {
  DemoDataSummary summary;
  std::string problem;
  options.root = root + "missing/";
  EXPECT_FALSE(GenerateDemoData(options, summary, problem));
  EXPECT_NE(problem.find("NO EXISTEIX LA CARPETA"), std::string::npos);
  options.root = root;
  std::filesystem::remove(temp.path + "/ddf/PagamH.xdf");
  EXPECT_FALSE(GenerateDemoData(options, summary, problem));
  EXPECT_NE(problem.find("PagamH.xdf"), std::string::npos);
  options.date = "31022026";
  EXPECT_NE(DemoDataOptionsProblem(options), "");
  options.date = "31122026";
  options.ownersMin = 5, options.ownersMax = 4;
  EXPECT_NE(DemoDataOptionsProblem(options), "");
}

}  // namespace
