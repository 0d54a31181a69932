// taxes.cpp - the VAT and withholding of the management fees over a
// period, per community and per owner, from the settlement journal (see
// taxes.h).
//
// The passes are read oldest first; each property entry of a pass whose
// settlement date falls in the period, and that is not undone, adds its
// fee before VAT, VAT and withholding to its community's line (a line per
// rates and tax identifiers) and, owner by owner, the exact share of each
// amount: a whole number of cents and a fraction.  Once every pass is in,
// the cents the fractions add up to go to the largest fractions.
#include "history/taxes.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <tuple>

#include "data/data.h"
#include "input/dates.h"
#include "recman/recman.h"
#include "session/language.h"
#include "settle/journal.h"
#include "settle/listing.h"
#include "settle/records.h"

namespace {

std::string T(const char* catalan) { return Translate(catalan); }
std::string Number(long long v) { return std::to_string(v); }

// ---- The period ---------------------------------------------------------------------

std::string FirstDay(const TaxPeriod& p) {
  int month = p.quarter == 0 ? 1 : 3 * p.quarter - 2;
  return PackDigits(ZeroPad(p.year, 4) + ZeroPad(month, 2) + "01");
}
std::string LastDay(const TaxPeriod& p) {
  int month = p.quarter == 0 ? 12 : 3 * p.quarter;
  return PackDigits(ZeroPad(p.year, 4) + ZeroPad(month, 2) + (month == 6 || month == 9 ? "30" : "31"));
}

// ---- The community as the journal keeps it -----------------------------------------

// Where the fields lie in the property record (the image the pass wrote).
constexpr size_t kNameEnds = 36, kTaxIdEnds = 385;

template <size_t N>
void Load(unsigned char (&record)[N], const std::string& image) {
  std::memset(record, ' ', N);
  std::memcpy(record, image.data(), std::min(N, image.size()));
}

struct Community {
  std::string name, taxId;  // trimmed; empty when the journal lacks them
};

Community CommunityOf(const JournalProperty& p) {
  const std::string& image = p.after.size() >= p.before.size() ? p.after : p.before;
  Community c;
  Load(FinquesH, image);
  if (image.size() >= kNameEnds) c.name = Trimmed(PropertyDescription());
  if (image.size() >= kTaxIdEnds) c.taxId = Trimmed(PropertyTaxId());
  return c;
}

// Today's record of the property, when the properties file is open.
bool TodaysCommunity(const std::string& code, Community& c) {
  if (FindSlot(kFileProperties) <= 0) return false;
  int16_t status = 0;
  FindRecord(status, 0, code, 0, kFileProperties);
  if (status != 0) return false;
  c.name = Trimmed(PropertyDescription());
  c.taxId = Trimmed(PropertyTaxId());
  return true;
}

// ---- The owners' shares ----------------------------------------------------------------

constexpr int kAmounts = 3;  // before VAT, VAT, withholding

// An owner's exact share so far: whole cents and the fraction of a cent
// left, per amount.
struct OwnerTally {
  long passes = 0;
  int64_t whole[kAmounts] = {};
  long double fraction[kAmounts] = {};
  long double weight = 0;  // the owner's shares of the coefficients, summed
};

struct Gathered {
  TaxLine line;
  std::map<std::string, OwnerTally> owners;
};

// floor(amount * weight / total) and the fraction left, exactly.
void ShareOf(int64_t amount, int64_t weight, int64_t total, int64_t& whole, long double& fraction) {
  __int128 product = static_cast<__int128>(amount) * weight;
  __int128 q = product / total, r = product % total;
  if (r < 0) q -= 1, r += total;
  whole = static_cast<int64_t>(q);
  fraction = static_cast<long double>(r) / static_cast<long double>(total);
}

// A pass's amounts shared among the owners who received a balance, by
// their shares in the fee's group (equally when those shares add up to
// nothing; to nobody when no owner received a balance).
void AddOwnerShares(const JournalProperty& p, Gathered& g) {
  const int64_t amounts[kAmounts] = {p.base, p.vat, p.withheld};
  const int group = p.feeGroup >= 1 && p.feeGroup <= 7 ? p.feeGroup : 1;
  if (p.balances.empty()) {
    OwnerTally& nobody = g.owners[std::string()];
    for (int a = 0; a < kAmounts; ++a) nobody.whole[a] += amounts[a];
    return;
  }
  int64_t total = 0;
  std::vector<int64_t> weights;
  for (const JournalOwner& o : p.balances) {
    weights.push_back(std::max<int64_t>(o.shares[group], 0));
    total += weights.back();
  }
  if (total == 0) {
    std::fill(weights.begin(), weights.end(), 1);
    total = static_cast<int64_t>(weights.size());
  }
  for (size_t i = 0; i < p.balances.size(); ++i) {
    OwnerTally& t = g.owners[p.balances[i].code];
    t.passes += 1;
    t.weight += static_cast<long double>(weights[i]) / static_cast<long double>(total);
    for (int a = 0; a < kAmounts; ++a) {
      int64_t whole = 0;
      long double fraction = 0;
      ShareOf(amounts[a], weights[i], total, whole, fraction);
      t.whole[a] += whole;
      t.fraction[a] += fraction;
      if (t.fraction[a] >= 1) t.whole[a] += 1, t.fraction[a] -= 1;
    }
  }
}

// The owners' whole shares and, for the cents their fractions add up to,
// one more cent each to the largest fractions.
void DistributeShares(Gathered& g) {
  std::vector<std::pair<const std::string, OwnerTally>*> owners;
  for (auto& entry : g.owners) owners.push_back(&entry);
  const int64_t totals[kAmounts] = {g.line.base, g.line.vat, g.line.withheld};
  std::vector<TaxOwnerShare> shares(owners.size());
  for (size_t i = 0; i < owners.size(); ++i) {
    shares[i].owner = owners[i]->first;
    shares[i].passes = owners[i]->second.passes;
  }
  for (int a = 0; a < kAmounts; ++a) {
    int64_t left = totals[a];
    std::vector<size_t> order;
    for (size_t i = 0; i < owners.size(); ++i) {
      left -= owners[i]->second.whole[a];
      if (!owners[i]->first.empty()) order.push_back(i);
    }
    std::stable_sort(order.begin(), order.end(), [&](size_t x, size_t y) {
      const OwnerTally &tx = owners[x]->second, &ty = owners[y]->second;
      if (tx.fraction[a] != ty.fraction[a]) return tx.fraction[a] > ty.fraction[a];
      return tx.weight > ty.weight;
    });
    std::vector<int64_t> extra(owners.size(), 0);
    // The fractions add up to `left` cents, fewer than the owners.
    for (size_t k = 0; left > 0 && !order.empty(); ++k, --left) extra[order[k % order.size()]] += 1;
    // (Fractions summed a hair over a whole cent may have given it already.)
    for (size_t k = 0; left < 0 && !order.empty(); ++k, ++left)
      extra[order[order.size() - 1 - k % order.size()]] -= 1;
    for (size_t i = 0; i < owners.size(); ++i) {
      int64_t v = owners[i]->second.whole[a] + extra[i];
      (a == 0 ? shares[i].base : a == 1 ? shares[i].vat : shares[i].withheld) = v;
    }
  }
  g.line.owners = std::move(shares);
}

// ---- Writing ----------------------------------------------------------------------------

constexpr size_t kAmountWidth = 13;

std::string PeriodText(const TaxPeriod& p) {
  std::string text = p.quarter == 0 ? T("any ") + Number(p.year)
                                    : T("trimestre ") + Number(p.quarter) + T(" de ") + Number(p.year);
  return text + " (" + DayText(FirstDay(p)) + T(" a ") + DayText(LastDay(p)) + ")";
}

std::string Heading(const TaxReport& r, bool owners) {
  std::string text = owners ? T("IVA I RETENCI\xE0 DELS HONORARIS, PER PROPIETARI")
                            : T("IVA I RETENCI\xE0 DELS HONORARIS D'ADMINISTRACI\xE0");
  text += "\n" + T("Per\xA1ode: ") + PeriodText(r.period) + "\n";
  text += T("Liquidacions comptades: ") + Number(r.passes) + T(". Imports en euros.") + "\n";
  return text;
}

// How the owners' shares are made, for the owners' report; `sep`
// between its lines.
std::string RuleText(const std::string& sep) {
  return T("Cada liquidaci\xA2 reparteix els honoraris, l'IVA i la retenci\xA2") + sep +
         T("entre els propietaris amb saldo segons el seu coeficient al grup dels honoraris;") + sep +
         T("les parts se sumen per a tot el per\xA1ode i els c\x8Antims que en sobren") + sep +
         T("van, un a cada un, a les fraccions m\x82s grans (residu m\x82s gran):") + sep +
         T("les parts d'una finca sumen exactament el seu IVA i la seva retenci\xA2.");
}

bool AnyFromToday(const TaxReport& r) {
  for (const TaxLine& l : r.lines)
    if (l.nameFromToday || l.taxIdFromToday) return true;
  return false;
}
std::string FromTodayNote() { return T("* No \x82s al diari: del fitxer de finques d'avui."); }

std::string Marked(const std::string& text, bool fromToday) { return fromToday ? text + " *" : text; }

std::string ProblemText(TaxIdProblem p) {
  return p == TaxIdProblem::kEmpty ? T("SENSE NIF") : T("NIF INCORRECTE");
}

// The text's columns of a community line.
std::string LineText(const TaxLine& l) {
  return LeftAligned(PropertyText(l.property), 5) + " " +
         LeftAligned(Marked(l.name, l.nameFromToday).substr(0, 26), 26) + " " +
         LeftAligned(Marked(l.communityTaxId, l.taxIdFromToday), 13) + " " + LeftAligned(l.firmTaxId, 13) +
         RightAligned(EuroText(l.base), kAmountWidth) + RightAligned(PercentText(l.vatRate), 10) +
         RightAligned(EuroText(l.vat), kAmountWidth) + RightAligned(PercentText(l.withholdingRate), 10) +
         RightAligned(EuroText(l.withheld), kAmountWidth) + RightAligned(Number(l.passes), 6) + "\n";
}

std::string ColumnsText() {
  return LeftAligned(T("FINCA"), 5) + " " + LeftAligned(T("NOM"), 26) + " " +
         LeftAligned(T("NIF COMUNITAT"), 13) + " " + LeftAligned(T("NIF ADMINIST."), 13) +
         RightAligned(T("HONORARIS"), kAmountWidth) + RightAligned(T("% IVA"), 10) +
         RightAligned(T("IVA"), kAmountWidth) + RightAligned(T("% RET."), 10) +
         RightAligned(T("RETENCI\xE0"), kAmountWidth) + RightAligned(T("LIQ."), 6) + "\n";
}

std::string OwnerName(const TaxOwnerShare& s) {
  return s.owner.empty() ? T("(sense propietari amb saldo)") : OwnerText(s.owner);
}

std::string CommunityText(const TaxLine& l) {
  return T("FINCA ") + PropertyText(l.property) + "  " + Marked(l.name, l.nameFromToday) + "\n" +
         T("NIF de la comunitat: ") + Marked(l.communityTaxId, l.taxIdFromToday) + "   " +
         T("NIF de l'administrador: ") + l.firmTaxId + "\n" + T("IVA ") + PercentText(l.vatRate) + "   " +
         T("Retenci\xA2 ") + PercentText(l.withholdingRate) + "\n";
}

std::string OwnersText(const TaxReport& r) {
  std::string out = Heading(r, true) + "\n" + RuleText("\n") + "\n";
  for (const TaxLine& l : r.lines) {
    out += "\n" + CommunityText(l);
    out += "  " + LeftAligned(T("PROPIETARI"), 28) + RightAligned(T("LIQ."), 6) +
           RightAligned(T("HONORARIS"), kAmountWidth) + RightAligned(T("IVA"), kAmountWidth) +
           RightAligned(T("RETENCI\xE0"), kAmountWidth) + "\n";
    for (const TaxOwnerShare& s : l.owners)
      out += "  " + LeftAligned(OwnerName(s), 28) + RightAligned(Number(s.passes), 6) +
             RightAligned(EuroText(s.base), kAmountWidth) + RightAligned(EuroText(s.vat), kAmountWidth) +
             RightAligned(EuroText(s.withheld), kAmountWidth) + "\n";
    out += "  " + LeftAligned(T("TOTAL DE LA FINCA"), 28) + RightAligned(Number(l.passes), 6) +
           RightAligned(EuroText(l.base), kAmountWidth) + RightAligned(EuroText(l.vat), kAmountWidth) +
           RightAligned(EuroText(l.withheld), kAmountWidth) + "\n";
  }
  return out;
}

std::string CommunitiesText(const TaxReport& r) {
  std::string out = Heading(r, false) + "\n" + ColumnsText();
  for (const TaxLine& l : r.lines) out += LineText(l);
  out += LeftAligned(T("TOTAL"), 5 + 1 + 26 + 1 + 13 + 1 + 13) +
         RightAligned(EuroText(r.base), kAmountWidth) + RightAligned("", 10) +
         RightAligned(EuroText(r.vat), kAmountWidth) + RightAligned("", 10) +
         RightAligned(EuroText(r.withheld), kAmountWidth) + RightAligned(Number(r.passes), 6) + "\n";
  return out;
}

// ---- CSV ----------------------------------------------------------------------------------

std::string CsvStart(const TaxReport& r, const TaxLine& l) {
  return Number(r.period.year) + "," + Number(r.period.quarter) + "," + PropertyText(l.property) + "," +
         CsvField(l.name) + "," + CsvField(l.communityTaxId) + "," + CsvField(l.firmTaxId) + "," +
         PercentText(l.vatRate, true) + "," + PercentText(l.withholdingRate, true);
}
std::string FromTodayField(const TaxLine& l) {
  return std::string(l.nameFromToday ? "N" : "") + (l.taxIdFromToday ? "T" : "");
}

std::string CommunitiesCsv(const TaxReport& r) {
  std::string out =
      "any,trimestre,finca,nom,nif_comunitat,nif_administrador,iva_pct,retencio_pct,honoraris_base,iva,"
      "retencio,liquidacions,dades_actuals\n";
  for (const TaxLine& l : r.lines)
    out += CsvStart(r, l) + "," + Number(l.base) + "," + Number(l.vat) + "," + Number(l.withheld) + "," +
           Number(l.passes) + "," + FromTodayField(l) + "\n";
  out += Number(r.period.year) + "," + Number(r.period.quarter) + ",TOTAL,,,,,," + Number(r.base) + "," +
         Number(r.vat) + "," + Number(r.withheld) + "," + Number(r.passes) + ",\n";
  return out;
}

std::string OwnersCsv(const TaxReport& r) {
  std::string out =
      "any,trimestre,finca,nom,nif_comunitat,nif_administrador,iva_pct,retencio_pct,propietari,liquidacions,"
      "honoraris_base,iva,retencio,dades_actuals\n";
  for (const TaxLine& l : r.lines)
    for (const TaxOwnerShare& s : l.owners)
      out += CsvStart(r, l) + "," + (s.owner.empty() ? std::string() : OwnerText(s.owner)) + "," +
             Number(s.passes) + "," + Number(s.base) + "," + Number(s.vat) + "," + Number(s.withheld) + "," +
             FromTodayField(l) + "\n";
  return out;
}

// ---- HTML ---------------------------------------------------------------------------------

const char kHtmlStyle[] =
    "</title>\n<style>\n"
    "body { font-family: sans-serif; font-size: 10pt; margin: 2em; }\n"
    "pre.heading { font-family: inherit; font-size: 11pt; }\n"
    "table { border-collapse: collapse; margin: 0.5em 0 1em 0; width: 100%; }\n"
    "caption { text-align: left; font-weight: bold; padding: 0.3em 0; white-space: pre-line; }\n"
    "th { text-align: left; border-bottom: 1px solid #000; padding: 0.1em 0.4em; }\n"
    "td { padding: 0.1em 0.4em; vertical-align: top; border-bottom: 1px solid #ddd; }\n"
    "td.amount, th.amount { text-align: right; white-space: nowrap; }\n"
    "tr.total td { font-weight: bold; border-top: 1px solid #000; }\n"
    "section { page-break-inside: avoid; }\n"
    "div.warnings { border: 2px solid #a00; padding: 0.5em; margin-top: 1em; }\n"
    "@media print { body { margin: 0; } thead { display: table-header-group; } }\n"
    "</style>\n</head>\n<body>\n";

std::string Cell(const std::string& text, bool amount = false) {
  return std::string(amount ? "<td class=\"amount\">" : "<td>") + HtmlText(text) + "</td>";
}
std::string HeadCell(const std::string& text, bool amount = false) {
  return std::string(amount ? "<th class=\"amount\">" : "<th>") + HtmlText(text) + "</th>";
}

std::string CommunitiesHtml(const TaxReport& r) {
  std::string out = "<table class=\"communities\">\n<thead><tr>" + HeadCell(T("FINCA")) + HeadCell(T("NOM")) +
                    HeadCell(T("NIF COMUNITAT")) + HeadCell(T("NIF ADMINIST.")) +
                    HeadCell(T("HONORARIS"), true) + HeadCell(T("% IVA"), true) + HeadCell(T("IVA"), true) +
                    HeadCell(T("% RET."), true) + HeadCell(T("RETENCI\xE0"), true) +
                    HeadCell(T("LIQ."), true) + "</tr></thead>\n<tbody>\n";
  for (const TaxLine& l : r.lines)
    out += "<tr>" + Cell(PropertyText(l.property)) + Cell(Marked(l.name, l.nameFromToday)) +
           Cell(Marked(l.communityTaxId, l.taxIdFromToday)) + Cell(l.firmTaxId) +
           Cell(EuroText(l.base), true) + Cell(PercentText(l.vatRate), true) + Cell(EuroText(l.vat), true) +
           Cell(PercentText(l.withholdingRate), true) + Cell(EuroText(l.withheld), true) +
           Cell(Number(l.passes), true) + "</tr>\n";
  out += "<tr class=\"total\">" + Cell(T("TOTAL")) + Cell("") + Cell("") + Cell("") +
         Cell(EuroText(r.base), true) + Cell("") + Cell(EuroText(r.vat), true) + Cell("") +
         Cell(EuroText(r.withheld), true) + Cell(Number(r.passes), true) + "</tr>\n</tbody>\n</table>\n";
  return out;
}

std::string OwnersHtml(const TaxReport& r) {
  std::string out = "<p class=\"rule\">" + HtmlText(RuleText(" ")) + "</p>\n";
  for (const TaxLine& l : r.lines) {
    out += "<section>\n<table class=\"owners\">\n<caption>" + HtmlText(CommunityText(l)) + "</caption>\n";
    out += "<thead><tr>" + HeadCell(T("PROPIETARI")) + HeadCell(T("LIQ."), true) +
           HeadCell(T("HONORARIS"), true) + HeadCell(T("IVA"), true) + HeadCell(T("RETENCI\xE0"), true) +
           "</tr></thead>\n<tbody>\n";
    for (const TaxOwnerShare& s : l.owners)
      out += "<tr>" + Cell(OwnerName(s)) + Cell(Number(s.passes), true) + Cell(EuroText(s.base), true) +
             Cell(EuroText(s.vat), true) + Cell(EuroText(s.withheld), true) + "</tr>\n";
    out += "<tr class=\"total\">" + Cell(T("TOTAL DE LA FINCA")) + Cell(Number(l.passes), true) +
           Cell(EuroText(l.base), true) + Cell(EuroText(l.vat), true) + Cell(EuroText(l.withheld), true) +
           "</tr>\n</tbody>\n</table>\n</section>\n";
  }
  return out;
}

}  // namespace

char EntityControlDigit(const std::string& digits) {
  if (digits.size() != 7) return 0;
  int sum = 0;
  for (size_t i = 0; i < 7; ++i) {
    if (digits[i] < '0' || digits[i] > '9') return 0;
    int d = digits[i] - '0';
    // The 1st, 3rd, 5th and 7th count doubled, digit by digit.
    sum += i % 2 == 0 ? 2 * d / 10 + 2 * d % 10 : d;
  }
  return static_cast<char>('0' + (10 - sum % 10) % 10);
}

TaxIdProblem CommunityTaxIdProblem(const std::string& taxId) {
  const std::string id = Trimmed(taxId);
  if (id.empty()) return TaxIdProblem::kEmpty;
  static const std::string kEntityLetters = "ABCDEFGHJNPQRSUVW";
  if (id.size() != 11 || id.compare(0, 2, "ES") != 0 || kEntityLetters.find(id[2]) == std::string::npos)
    return TaxIdProblem::kMalformed;
  const char control = EntityControlDigit(id.substr(3, 7));
  if (control == 0) return TaxIdProblem::kMalformed;
  char c = id[10];
  if (c == control || c == "JABCDEFGHI"[control - '0']) return TaxIdProblem::kNone;
  return TaxIdProblem::kMalformed;
}

int16_t GatherTaxes(TaxPeriod period, std::string property, TaxReport& report) {
  report = TaxReport{};
  report.period = period;
  report.property = property;
  std::vector<JournalPass> passes;
  int16_t status = JournalPasses(passes);
  if (status != 0) return status;
  for (const JournalPass& pass : passes)
    if (pass.Format() > kJournalFormat) {
      report.newerFormat = pass.Format();
      return 0;
    }
  const std::string first = FirstDay(period), last = LastDay(period);
  std::vector<Gathered> gathered;
  std::map<std::tuple<std::string, std::string, std::string, float, float>, size_t> lineOf;
  std::set<long> counted;
  // Oldest first: a property's lines in the order its passes met them.
  for (auto pass = passes.rbegin(); pass != passes.rend(); ++pass) {
    if (pass->settlementDate < first || pass->settlementDate > last || pass->Undone()) continue;
    std::vector<std::string> codes;
    std::vector<bool> undone;
    if ((status = JournalPropertiesOf(pass->id, codes, undone)) != 0) return status;
    for (size_t i = 0; i < codes.size(); ++i) {
      if (undone[i] || (!property.empty() && codes[i] != property)) continue;
      JournalProperty entry;
      JournalUndo undo;
      bool isUndone = false;
      if ((status = ReadJournalProperty(pass->id, codes[i], entry, isUndone, undo)) != 0) return status;
      if (isUndone) continue;
      const Community community = CommunityOf(entry);
      const std::string firm = Trimmed(pass->firmTaxId);
      // The line of the property, its tax identifiers and rates.
      auto [at, added] = lineOf.try_emplace(
          std::make_tuple(entry.code, community.taxId, firm, entry.vatRate, entry.withholdingRate),
          gathered.size());
      if (added) {
        gathered.emplace_back();
        TaxLine& line = gathered.back().line;
        line.property = entry.code;
        line.firmTaxId = firm;
        line.vatRate = entry.vatRate;
        line.withholdingRate = entry.withholdingRate;
      }
      Gathered& g = gathered[at->second];
      TaxLine& line = g.line;
      if (!community.name.empty()) line.name = community.name;  // the latest pass's
      line.communityTaxId = community.taxId;
      line.base += entry.base;
      line.vat += entry.vat;
      line.withheld += entry.withheld;
      line.passes += 1;
      AddOwnerShares(entry, g);
      counted.insert(pass->id);
    }
  }
  std::stable_sort(gathered.begin(), gathered.end(),
                   [](const Gathered& a, const Gathered& b) { return a.line.property < b.line.property; });
  for (Gathered& g : gathered) {
    TaxLine& line = g.line;
    Community today;
    if ((line.name.empty() || line.communityTaxId.empty()) && TodaysCommunity(line.property, today)) {
      if (line.name.empty() && !today.name.empty()) line.name = today.name, line.nameFromToday = true;
      if (line.communityTaxId.empty() && !today.taxId.empty())
        line.communityTaxId = today.taxId, line.taxIdFromToday = true;
    }
    DistributeShares(g);
    report.base += line.base;
    report.vat += line.vat;
    report.withheld += line.withheld;
    if (line.withheld != 0) {
      TaxIdProblem problem = CommunityTaxIdProblem(line.communityTaxId);
      bool listed = false;
      for (const TaxWarning& w : report.warnings)
        listed = listed || (w.property == line.property && w.taxId == line.communityTaxId);
      if (problem != TaxIdProblem::kNone && !listed)
        report.warnings.push_back(TaxWarning{line.property, line.name, line.communityTaxId, problem});
    }
    report.lines.push_back(std::move(line));
  }
  report.passes = static_cast<long>(counted.size());
  return 0;
}

std::string TaxWarningsText(const TaxReport& r) {
  if (r.warnings.empty()) return std::string();
  std::string out = T("AV\xD6S: COMUNITATS AMB RETENCI\xE0 SENSE UN NIF CORRECTE") + "\n";
  for (const TaxWarning& w : r.warnings)
    out += "  " + T("FINCA ") + PropertyText(w.property) + "  " + w.name + "  " + T("NIF: ") +
           (w.taxId.empty() ? "-" : w.taxId) + "  " + ProblemText(w.problem) + "\n";
  return out;
}

std::string NoTaxPassText(const TaxReport& r) {
  std::string text = T("CAP LIQUIDACI\xE0 AL PER\xD6ODE: ") + PeriodText(r.period);
  if (!r.property.empty()) text += ", " + T("FINCA ") + PropertyText(r.property);
  return text;
}

std::string TaxReportText(const TaxReport& r, StatementFormat format, bool owners) {
  if (format == StatementFormat::kCsv) return owners ? OwnersCsv(r) : CommunitiesCsv(r);
  const bool empty = r.lines.empty();
  if (format == StatementFormat::kText) {
    std::string out;
    if (empty) return Heading(r, owners) + "\n" + NoTaxPassText(r) + "\n";
    out = owners ? OwnersText(r) : CommunitiesText(r);
    if (AnyFromToday(r)) out += "\n" + FromTodayNote() + "\n";
    std::string warnings = TaxWarningsText(r);
    if (!warnings.empty()) out += "\n" + warnings;
    return out;
  }
  std::string title = owners ? T("IVA I RETENCI\xE0 DELS HONORARIS, PER PROPIETARI")
                             : T("IVA I RETENCI\xE0 DELS HONORARIS D'ADMINISTRACI\xE0");
  std::string out = "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<title>" + HtmlText(title) +
                    " - " + HtmlText(PeriodText(r.period)) + kHtmlStyle + "<pre class=\"heading\">" +
                    HtmlText(Heading(r, owners)) + "</pre>\n";
  if (empty) out += "<p>" + HtmlText(NoTaxPassText(r)) + "</p>\n";
  else out += owners ? OwnersHtml(r) : CommunitiesHtml(r);
  if (AnyFromToday(r)) out += "<p class=\"note\">" + HtmlText(FromTodayNote()) + "</p>\n";
  if (!r.warnings.empty()) {
    out += "<div class=\"warnings\">\n<p><strong>" +
           HtmlText(T("AV\xD6S: COMUNITATS AMB RETENCI\xE0 SENSE UN NIF CORRECTE")) + "</strong></p>\n<ul>\n";
    for (const TaxWarning& w : r.warnings)
      out += "<li>" +
             HtmlText(T("FINCA ") + PropertyText(w.property) + "  " + w.name + "  " + T("NIF: ") +
                      (w.taxId.empty() ? "-" : w.taxId) + "  " + ProblemText(w.problem)) +
             "</li>\n";
    out += "</ul>\n</div>\n";
  }
  return out + "</body>\n</html>\n";
}
