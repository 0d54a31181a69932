// demo_data.cpp - the demonstration data generator.
//
// Records are built in the program's record variables through their field
// accessors and inserted with the data layer's InsertRecord (the program
// itself inserts nothing into these files).  Numbers come from a small generator of our own
// (splitmix64) rather than the standard distributions, whose results differ
// between libraries: a seed gives the same records everywhere.
//
// What the data holds, per property: a fee per owner and month, a tax index,
// coefficient groups 2..4 with their totals equal to the sum of the owners'
// shares, a last-settlement date 3, 6 or 12 months before the settlement
// date, a tax identifier (most of them a community's "ESH..."), and often an
// expense note, some naming the fee's group with "HO" and a letter.  Owners'
// group 1 shares add up to exactly 1,000,000; with six owners or more the
// last is a commercial premises numbered 1001.  Collections of kinds C, I
// and X and payments by group and charged to one owner ("S") are dated from
// the last settlement to a month after the settlement date.
#include "generator/demo_data.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "data/data.h"
#include "history/taxes.h"
#include "input/dates.h"
#include "platform/platform.h"
#include "recman/recman.h"
#include "session/session.h"
#include "settle/journal.h"
#include "settle/records.h"

namespace {

constexpr int kPropertiesCommittedTogether = 50;

struct Random {
  uint64_t state;
  uint64_t Next() {
    uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  int Between(int low, int high) {  // inclusive
    return low + static_cast<int>(Next() % static_cast<uint64_t>(high - low + 1));
  }
  bool Percent(int chance) { return Between(1, 100) <= chance; }
};

struct Date {
  int year = 0, month = 0, day = 0;
};

Date MonthsFrom(Date d, int months) {
  int total = d.year * 12 + (d.month - 1) + months;
  Date r;
  r.year = total / 12;
  r.month = total % 12 + 1;
  r.day = std::min(d.day, GregorianMonthLength(r.year, r.month));
  return r;
}

Date MonthEnd(Date d) {
  d.day = GregorianMonthLength(d.year, d.month);
  return d;
}

std::string Packed(const Date& d) {
  return PackDigits(ZeroPad(d.year, 4) + ZeroPad(d.month, 2) + ZeroPad(d.day, 2));
}

bool ParseDdMmYyyy(const std::string& text, Date& d) {
  if (text.size() != 8 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  d.day = std::stoi(text.substr(0, 2));
  d.month = std::stoi(text.substr(2, 2));
  d.year = std::stoi(text.substr(4, 4));
  return d.year >= 1000 && d.month >= 1 && d.month <= 12 && d.day >= 1 &&
         d.day <= GregorianMonthLength(d.year, d.month);
}

// A date from `from` (exclusive) to a month after `settlement`, about one in
// eight after the settlement date.
Date DateInPeriod(Random& random, const Date& from, const Date& settlement) {
  int span = (settlement.year - from.year) * 12 + (settlement.month - from.month);
  Date d;
  if (random.Percent(12)) {
    d = MonthsFrom(settlement, 1);
    d.day = random.Between(1, GregorianMonthLength(d.year, d.month));
    if (random.Percent(50)) {  // the days right after the settlement date
      d = settlement;
      if (d.day < GregorianMonthLength(d.year, d.month))
        d.day = random.Between(d.day + 1, GregorianMonthLength(d.year, d.month));
      else d = MonthsFrom(Date{d.year, d.month, 1}, 1);
    }
    return d;
  }
  d = MonthsFrom(Date{settlement.year, settlement.month, 1}, -random.Between(0, std::max(span - 1, 0)));
  d.day = random.Between(1, GregorianMonthLength(d.year, d.month));
  if (d.year == settlement.year && d.month == settlement.month) d.day = std::min(d.day, settlement.day);
  return d;
}

const char* const kStreets[] = {
    "C. MALLORCA, 245",
    "AV. DIAGONAL, 512",
    "C. ARAG\xE0, 118",
    "PG. DE GR\xB7"
    "CIA, 77",
    "C. VILADOMAT, 39",
    "RBLA. CATALUNYA, 88",
    "C. ROSSELL\xE0, 301",
    "C. DE SANTS, 154",
    "TRAV. DE GR\xB7"
    "CIA, 12",
    "C. PROVEN\x80"
    "A, 220",
    "C. GIRONA, 64",
    "PL. DEL SOL, 5",
    "C. MUNTANER, 410",
    "C. BALMES, 133",
    "VIA AUGUSTA, 28",
    "C. COMTE D'URGELL, 90",
};

struct Concept {
  int number;
  const char* description;
  int16_t type;
};
// Concept 3 is the carry-over concept of the suite's parameter screen.
const Concept kConcepts[] = {
    {1, "QUOTA ORDIN\xB7RIA", 2},
    {2, "QUOTA EXTRAORDIN\xB7RIA", 2},
    {3, "SALDO EN R\xE3SSEC", 1},
    {4, "CONSUM D'AIGUA", 3},
    {5, "ASCENSOR", 3},
    {6,
     "OBRES DE LA FA\x80"
     "ANA",
     4},
    {7,
     "ASSEGURAN\x80"
     "A",
     5},
    {8, "FONS DE RESERVA", 6},
    {10, "DESPESES BANC\xB7RIES", 7},
};

const char* const kGroupNames[] = {"", "", "ESCALA A", "ASCENSOR", "P\xB7RQUING"};

// Whole shares that add up to exactly `total`, in proportion to `weights`
// (largest remainders get the units left over).
std::vector<int32_t> Apportion(const std::vector<int>& weights, int64_t total) {
  int64_t sum = 0;
  for (int w : weights) sum += w;
  std::vector<int32_t> shares(weights.size(), 0);
  std::vector<std::pair<int64_t, size_t>> remainders;
  int64_t given = 0;
  for (size_t i = 0; i < weights.size(); ++i) {
    int64_t exact = total * weights[i];
    shares[i] = static_cast<int32_t>(exact / sum);
    given += shares[i];
    remainders.push_back({exact % sum, i});
  }
  std::sort(remainders.begin(), remainders.end(), [](const auto& a, const auto& b) {
    return a.first > b.first || (a.first == b.first && a.second < b.second);
  });
  for (size_t k = 0; given < total; ++k, ++given) ++shares[remainders[k % remainders.size()].second];
  return shares;
}

// Inserts the record variable of `file`.
int16_t Insert(int16_t file) {
  int16_t status = 0;
  InsertRecord(status, file);
  return status;
}

// Whether the file holds a record (its first record by physical order).
bool HoldsRecords(int16_t file) {
  int slot = FindSlot(file);
  unsigned char data[kDataBufferSize];
  uint32_t length = kDataBufferSize;
  char key[kKeyBufferSize] = {};
  return BTRCALL(B_STEP_FIRST, DataFiles.slots[slot].positionBlock, data, &length, key, kKeyBufferSize - 1,
                 0) == B_OK;
}

int16_t DeleteAll(int16_t file) {
  int slot = FindSlot(file);
  for (;;) {
    unsigned char data[kDataBufferSize];
    uint32_t length = kDataBufferSize;
    char key[kKeyBufferSize] = {};
    int16_t status =
        BTRCALL(B_STEP_FIRST, DataFiles.slots[slot].positionBlock, data, &length, key, kKeyBufferSize - 1, 0);
    if (status == B_END_OF_FILE) return B_OK;
    if (status != B_OK) return status;
    length = kDataBufferSize;
    status =
        BTRCALL(B_DELETE, DataFiles.slots[slot].positionBlock, data, &length, key, kKeyBufferSize - 1, 0);
    if (status != B_OK) return status;
  }
}

std::string Digits(Random& random, int count) {
  std::string s;
  for (int i = 0; i < count; ++i) s += static_cast<char>('0' + random.Between(0, 9));
  return s;
}

// A property's owners and coefficient groups, drawn before its records are
// written.
struct OwnersPlan {
  int owners = 0;
  std::vector<int> numbers;                  // owner numbers, in key order
  std::vector<int32_t> groupOne;             // each owner's millionths of group 1
  bool used[5] = {};                         // groups 1..4 in use
  std::vector<std::vector<int32_t>> shares;  // [group][owner], groups 2..4
  int64_t totals[5] = {};                    // each group's total, groups 2..4
};

OwnersPlan PlanOwners(Random& random, const DemoDataOptions& o) {
  OwnersPlan plan;
  const int owners = plan.owners = random.Between(o.ownersMin, o.ownersMax);
  for (int i = 1; i <= owners; ++i) plan.numbers.push_back(i == owners && owners >= 6 ? 1001 : i);
  std::vector<int> weights;
  for (int i = 0; i < owners; ++i) weights.push_back(random.Between(60, 140));
  plan.groupOne = Apportion(weights, 1000000);
  // Drawn in this order: group 2, 3, 4.
  plan.used[1] = true;
  plan.used[2] = random.Percent(60);
  plan.used[3] = random.Percent(50);
  plan.used[4] = random.Percent(30);
  plan.shares.assign(5, std::vector<int32_t>(static_cast<size_t>(owners), 0));
  for (int g = 2; g <= 4; ++g) {
    if (!plan.used[g]) continue;
    for (int i = 0; i < owners; ++i) {
      bool member = g == 2 ? i % 2 == 0 : g == 3 ? i > 0 : random.Percent(50);
      int32_t& share = plan.shares[static_cast<size_t>(g)][static_cast<size_t>(i)];
      if (member) share = random.Between(500, 3000);
      plan.totals[g] += share;
    }
  }
  return plan;
}

// The property record of property `p`, last settled at `last`.
int16_t InsertProperty(Random& random, int p, const OwnersPlan& plan, const Date& last) {
  ClearPropertyRecord();
  SetPropertyCode(PackedFromNumber(p));
  std::string street = kStreets[static_cast<size_t>(p - 1) % (sizeof kStreets / sizeof kStreets[0])];
  if (p > static_cast<int>(sizeof kStreets / sizeof kStreets[0])) street += " (" + std::to_string(p) + ")";
  SetPropertyDescription(street);
  SetPropertyFeePerOwner(random.Between(1500, 4500));
  SetPropertyTaxIndex(static_cast<int16_t>(p % 5 == 4 ? 1 : 0));
  SetPropertyLastSettlement(Packed(last));
  for (int g = 2; g <= 4; ++g) {
    if (!plan.used[g]) continue;
    SetPropertyGroupTotal(g, static_cast<int32_t>(plan.totals[g]));
    SetPropertyGroupName(g, kGroupNames[g]);
  }
  switch (p % 6) {
    case 0: SetPropertyTaxId(""); break;
    case 3: SetPropertyTaxId("ES" + Digits(random, 8) + "P"); break;
    default: {
      // A community's: the entity's letter, 7 digits and their control digit.
      std::string digits = Digits(random, 8).substr(0, 7);
      SetPropertyTaxId("ESH" + digits + EntityControlDigit(digits));
      break;
    }
  }
  return Insert(kFileProperties);
}

// The expense note of property `p`: the fee's group when it names one;
// none for every fourth property.
int16_t InsertNote(int p, const OwnersPlan& plan, DemoDataSummary& summary) {
  const int noteKind = p % 4;
  if (noteKind == 3) return 0;
  ClearExpenseNoteRecord();
  SetExpenseNotePropertyCode(PackedFromNumber(p));
  if (noteKind == 0 && plan.used[3]) SetExpenseNoteText("HOC: HONORARIS SEGONS EL COEFICIENT D'ASCENSOR");
  else if (noteKind == 0 && plan.used[2]) SetExpenseNoteText("HOB: HONORARIS PER L'ESCALA A");
  else if (noteKind == 1) SetExpenseNoteText("REVISI\xE0 ANUAL DELS EXTINTORS AL MAIG");
  else SetExpenseNoteText("HOZ: HONORARIS PER COEFICIENT GENERAL");
  if (int16_t status = Insert(kFileExpenseNotes); status != 0) return status;
  ++summary.notes;
  return 0;
}

// The owners of property `code` with their carried-over balances and their
// collections between `last` and `settlement`.
int16_t InsertOwners(Random& random, const DemoDataOptions& o, const std::string& code,
                     const OwnersPlan& plan, const Date& last, const Date& settlement,
                     DemoDataSummary& summary) {
  int16_t status = 0;
  for (int i = 0; i < plan.owners; ++i) {
    const size_t owner = static_cast<size_t>(i);
    const std::string ownerCode = code + PackedFromNumber(plan.numbers[owner]);
    ClearOwnerRecord();
    SetOwnerCode(ownerCode);
    SetOwnerShare(1, plan.groupOne[owner]);
    for (int g = 2; g <= 4; ++g) SetOwnerShare(g, plan.shares[static_cast<size_t>(g)][owner]);
    for (int n = 1; n <= 8; ++n)
      if (n == 3 || random.Percent(30)) SetOwnerConceptAmount(n, random.Between(-5000, 20000));
    SetOwnerExtraConcept(1, 4);  // water, not carried over
    SetOwnerExtraAmount(1, random.Between(0, 3000));
    if ((status = Insert(kFileOwners)) != 0) return status;
    ++summary.owners;

    for (int k = 0; k < o.collections; ++k) {
      ClearCollectionRecord();
      SetCollectionOwnerCode(ownerCode);
      SetCollectionDate(Packed(DateInPeriod(random, last, settlement)));
      SetCollectionAmount(random.Between(2000, 15000));
      SetCollectionDeducted(random.Percent(20) ? random.Between(50, 500) : 0);
      int kind = random.Between(1, 10);
      SetCollectionKind(kind <= 7 ? "C" : kind <= 9 ? "I" : "X");
      if ((status = Insert(kFileCollections)) != 0) return status;
      ++summary.collections;
    }
  }
  return 0;
}

// The payments of property `code` between `last` and `settlement`: by
// coefficient group, or charged to one owner.
int16_t InsertPayments(Random& random, const DemoDataOptions& o, const std::string& code,
                       const OwnersPlan& plan, const Date& last, const Date& settlement,
                       DemoDataSummary& summary) {
  for (int k = 0; k < o.payments; ++k) {
    ClearPaymentRecord();
    SetPaymentPropertyCode(code);
    SetPaymentDate(Packed(DateInPeriod(random, last, settlement)));
    SetPaymentAmount(random.Between(5000, 90000));
    if (random.Percent(25)) {
      SetPaymentFlag("S");
      SetPaymentTarget(
          PackedFromNumber(plan.numbers[static_cast<size_t>(random.Between(0, plan.owners - 1))]));
    } else {
      int g = random.Between(1, 4);
      SetPaymentFlag(" ");
      SetPaymentTarget(PackedFromNumber(plan.used[g] ? g : 1));
    }
    if (int16_t status = Insert(kFilePayments); status != 0) return status;
    ++summary.payments;
  }
  return 0;
}

// One property with its note, owners, collections and payments.
int16_t WriteProperty(Random& random, const DemoDataOptions& o, int p, const Date& settlement,
                      DemoDataSummary& summary) {
  const std::string code = PackedFromNumber(p);
  const OwnersPlan plan = PlanOwners(random, o);
  const Date last = MonthEnd(MonthsFrom(settlement, -(p % 3 == 0 ? 12 : p % 3 == 1 ? 6 : 3)));
  int16_t status = InsertProperty(random, p, plan, last);
  if (status != 0) return status;
  ++summary.properties;
  if ((status = InsertNote(p, plan, summary)) != 0) return status;
  if ((status = InsertOwners(random, o, code, plan, last, settlement, summary)) != 0) return status;
  return InsertPayments(random, o, code, plan, last, settlement, summary);
}

}  // namespace

std::string DemoDataOptionsProblem(const DemoDataOptions& o) {
  Date d;
  if (o.root.empty()) return "FALTA LA CARPETA ARREL (--root)";
  if (!ParseDdMmYyyy(o.date, d)) return "DATA INCORRECTA (DDMMAAAA): " + o.date;
  if (o.properties < 1 || o.properties > 9999) return "NOMBRE DE FINQUES FORA DE L\xD6MITS (1 A 9999)";
  if (o.ownersMin < 1 || o.ownersMax > 999 || o.ownersMin > o.ownersMax)
    return "NOMBRE DE PROPIETARIS FORA DE L\xD6MITS (1 A 999)";
  if (o.collections < 0 || o.collections > 1000) return "NOMBRE DE COBRAMENTS FORA DE L\xD6MITS (0 A 1000)";
  if (o.payments < 0 || o.payments > 10000) return "NOMBRE DE PAGAMENTS FORA DE L\xD6MITS (0 A 10000)";
  return std::string();
}

namespace {

// Why the suite root `root` cannot receive the data: it is missing, a
// dictionary is missing, its data folder cannot be made, or the files are
// open already; "" when it can.
std::string RootProblem(const std::string& root) {
  if (!DirectoryExists(HostPath(root))) return "NO EXISTEIX LA CARPETA " + root;
  for (const SettlementFile& f : kSettlementFiles)
    if (!FileExists(HostPath(root + "ddf/" + f.name + ".xdf")))
      return "FALTA EL DICCIONARI " + root + "ddf/" + f.name + ".xdf";
  std::string data = HostPath(root + "DADES");
  if (!DirectoryExists(data) && !MakeDirectory(data)) return "NO ES POT CREAR LA CARPETA " + data;
  for (const SettlementFile& f : kSettlementFiles)
    if (FindSlot(f.number) > 0 || FindSlot(kFileJournal) > 0) return "ELS FITXERS DE DADES JA S\xE0N OBERTS";
  return std::string();
}

// The open `files` emptied of their records, which only `force` allows;
// "" when done.
std::string EmptyFiles(const std::vector<SettlementFile>& files, bool force) {
  for (const SettlementFile& f : files) {
    if (!HoldsRecords(f.number)) continue;
    if (!force)
      return std::string("EL FITXER ") + f.name + " JA T\x90 REGISTRES (--force PER SUBSTITUIR-LOS)";
    BeginTransaction();
    int16_t status = DeleteAll(f.number);
    if (status != 0 || EndTransaction() != 0) {
      AbortTransaction();
      return std::string("NO ES PODEN ESBORRAR ELS REGISTRES DE ") + f.name + " (" + std::to_string(status) +
             ")";
    }
  }
  return std::string();
}

// The concepts and the properties of the options, committed a few
// properties at a time; the record manager's status.
int16_t InsertRecords(const DemoDataOptions& o, const Date& settlement, DemoDataSummary& summary) {
  Random random{o.seed};
  BeginTransaction();
  int16_t status = 0;
  for (const Concept& c : kConcepts) {
    ClearConceptRecord();
    SetConceptNumber(c.number);
    SetConceptDescription(c.description);
    SetConceptType(c.type);
    if ((status = Insert(kFileConcepts)) != 0) break;
    ++summary.concepts;
  }
  for (int p = 1; p <= o.properties && status == 0; ++p) {
    status = WriteProperty(random, o, p, settlement, summary);
    if (status == 0 && p % kPropertiesCommittedTogether == 0) {
      status = EndTransaction();
      BeginTransaction();
    }
  }
  if (status == 0) status = EndTransaction();
  if (status != 0) AbortTransaction();
  return status;
}

}  // namespace

bool GenerateDemoData(const DemoDataOptions& o, DemoDataSummary& summary, std::string& problem) {
  summary = DemoDataSummary{};
  problem = DemoDataOptionsProblem(o);
  if (!problem.empty()) return false;
  Date settlement;
  ParseDdMmYyyy(o.date, settlement);

  std::string root = o.root;
  if (root.back() != '/' && root.back() != '\\') root += '/';
  problem = RootProblem(root);
  if (!problem.empty()) return false;

  Session.root = root;
  OpenSettlementFiles(root);
  // The settlement journal, where there is one, describes the records
  // about to be replaced: it is emptied with them.
  std::vector<SettlementFile> files(std::begin(kSettlementFiles), std::end(kSettlementFiles));
  if (FileExists(HostPath(root + "DADES/" + kJournalFile.name + ".dat"))) {
    OpenJournalFile(root);
    files.push_back(kJournalFile);
  }
  problem = EmptyFiles(files, o.force);
  if (problem.empty()) {
    if (int16_t status = InsertRecords(o, settlement, summary); status != 0)
      problem = "EL GESTOR DE REGISTRES HA REFUSAT UNA INSERCI\xE0 (" + std::to_string(status) + ")";
  }
  int16_t status = 0;
  ResetDataFiles(status);
  return problem.empty();
}
