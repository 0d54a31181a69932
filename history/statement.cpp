// statement.cpp - the list of passes, the statements and the undo's report
// (see statement.h).
//
// A statement is built once as lines (a sign, a label, an amount, details
// below it) per property and per owner and then written as text or as an
// HTML page; the CSV is one row per owner with the property's figures
// repeated, for a spreadsheet.  The owner's lines add up in the order a
// clerk checks them: what was carried over before, plus each group's part
// and the charges, minus the collections, gives what the carry-over
// concept now holds.
#include "history/statement.h"

#include <cstring>
#include <vector>

#include "data/data.h"
#include "input/dates.h"
#include "recman/recman.h"
#include "session/language.h"
#include "settle/journal.h"
#include "settle/listing.h"
#include "settle/records.h"

namespace {

std::string T(const char* catalan) { return Translate(catalan); }

constexpr size_t kLabelWidth = 60, kAmountWidth = 14;

// ---- The statement as lines ---------------------------------------------------------

struct Line {
  std::string sign;   // "", "+", "-", "="
  std::string label;  // what the amount is
  bool hasAmount = true;
  long long cents = 0;
  std::vector<std::string> details;  // shown below, indented
};

struct Block {
  std::string title;
  std::vector<Line> lines;
};

// A record image loaded into its record variable, for the field accessors.
template <size_t N>
void Load(unsigned char (&record)[N], const std::string& image) {
  std::memset(record, 0, N);
  std::memcpy(record, image.data(), std::min(N, image.size()));
}

std::string Number(long long v) { return std::to_string(v); }

std::string GroupLabel(const JournalProperty& p, int group) {
  std::string label = T("Grup ") + Number(group);
  if (group >= 2 && group <= 7) {
    Load(FinquesH, p.before);
    std::string name = Trimmed(PropertyGroupName(group));
    if (!name.empty()) label += " " + name;
  }
  return label;
}

Block PropertyBlock(const JournalProperty& p, bool undone, const JournalUndo& undo) {
  Load(FinquesH, p.before);
  Block b;
  b.title = T("FINCA ") + PropertyText(p.code) + "  " + Trimmed(PropertyDescription());
  auto add = [&](const std::string& sign, const std::string& label, long long cents) {
    b.lines.push_back(Line{sign, label, true, cents, {}});
  };
  auto note = [&](const std::string& label) { b.lines.push_back(Line{"", label, false, 0, {}}); };
  note(T("Darrera liquidaci\xA2: ") + DayText(p.oldDate) + ", " + T("nova: ") + DayText(p.newDate));
  add("",
      T("Honoraris: ") + Number(p.owners) + (p.owners == 1 ? T(" propietari x ") : T(" propietaris x ")) +
          EuroText(p.feePerOwner) + " x " + Number(p.months) + (p.months == 1 ? T(" mes") : T(" mesos")),
      p.base);
  add("+", T("IVA ") + PercentText(p.vatRate), p.vat);
  add("-", T("Retenci\xA2 ") + PercentText(p.withholdingRate), p.withheld);
  add("=", T("Total d'honoraris, al grup ") + Number(p.feeGroup), p.fee);
  for (int g = 1; g <= 7; ++g)
    if (p.groups[g] != 0)
      add("", GroupLabel(p, g) + T(", coeficient total ") + CountText(p.coefTotals[g]), p.groups[g]);
  if (p.groups[8] != 0) add("", T("Pagaments carregats a un propietari"), p.groups[8]);
  if (p.groups[0] != 0) add("", T("Pagaments sense grup"), p.groups[0]);
  Line payments{
      "", T("Pagaments esborrats: ") + Number(static_cast<long long>(p.payments.size())), false, 0, {}};
  for (const std::string& image : p.payments) {
    Load(PagamH, image);
    std::string to = PaymentChargedToOwner() ? T("propietari ") + UnpackDigits(PaymentTarget())
                                             : T("grup ") + Number(PaymentTargetNumber());
    payments.details.push_back(DayText(PaymentDate()) + "  " + LeftAligned(to, 18) +
                               RightAligned(EuroText(PaymentAmount()), kAmountWidth));
  }
  b.lines.push_back(payments);
  note(T("Cobraments esborrats: ") + Number(static_cast<long long>(p.collections.size())));
  if (undone)
    note(T("Desfeta el ") + DayText(undo.date) + T(" a les ") + ClockText(undo.time) +
         T(" al lloc de treball ") + Trimmed(undo.computer));
  return b;
}

Block OwnerBlock(const JournalProperty& p, const JournalOwner& o, int16_t carryConcept) {
  Block b;
  b.title = T("PROPIETARI ") + OwnerText(o.code);
  Load(PropietH, o.before);
  Line carried{"", T("R\x95ssec anterior"), true, -o.parts[0], {}};
  for (int slot = 1; slot <= 10; ++slot) {
    if (!(o.carriedSlots & 1u << slot)) continue;
    int concept_number = slot <= 8 ? slot : OwnerExtraConcept(slot - 8);
    carried.details.push_back(LeftAligned(T("concepte ") + Number(concept_number), 18) +
                              RightAligned(EuroText(o.carried[slot]), kAmountWidth));
  }
  b.lines.push_back(carried);
  for (int g = 1; g <= 7; ++g) {
    if (p.groups[g] == 0 && o.parts[g] == 0) continue;
    b.lines.push_back(Line{"+",
                           T("Part del grup ") + Number(g) + ": " + CountText(o.shares[g]) + T(" de ") +
                               CountText(p.coefTotals[g]) + T(" de ") + EuroText(p.groups[g]),
                           true,
                           o.parts[g],
                           {}});
  }
  if (o.parts[8] != 0) b.lines.push_back(Line{"+", T("C\x85rrecs directes"), true, o.parts[8], {}});
  Line collections{"-", T("Cobraments"), true, o.collections, {}};
  for (const std::string& image : p.collections) {
    Load(CobramH, image);
    if (CollectionOwnerCode() != o.code) continue;
    std::string kind = CollectionKind();
    bool counts = kind == "C" || kind == "I";
    std::string detail = DayText(CollectionDate()) + "  " + kind + "  " +
                         RightAligned(EuroText(CollectionAmount()), kAmountWidth);
    if (CollectionDeducted() != 0) detail += "  " + T("dedu\x8bt ") + EuroText(CollectionDeducted());
    if (!counts) detail += "  " + T("(no compta)");
    collections.details.push_back(detail);
  }
  b.lines.push_back(collections);
  // Worded by its sign, the amount without one: a balance in the owner's
  // favour never reads as a debt with a minus sign lost on the way.
  const bool owes = o.stored >= 0;
  b.lines.push_back(Line{"=",
                         (owes ? T("A deure, al concepte ") : T("A favor, al concepte ")) +
                             Number(carryConcept) + " " +
                             EuroText(owes ? o.stored : -static_cast<int64_t>(o.stored)),
                         true,
                         o.stored,
                         {}});
  return b;
}

// ---- Writers ------------------------------------------------------------------------

void WriteText(const Block& b, const std::string& indent, std::string& out) {
  out += "\n" + indent + b.title + "\n";
  for (const Line& l : b.lines) {
    std::string head = indent + "  " + LeftAligned(l.sign, 2) + l.label;
    if (l.hasAmount)
      head = LeftAligned(head, kLabelWidth) + " " + RightAligned(EuroText(l.cents), kAmountWidth);
    out += head + "\n";
    for (const std::string& d : l.details) out += indent + "        " + d + "\n";
  }
}

void WriteHtml(const Block& b, const char* kind, std::string& out) {
  out += std::string("<table class=\"") + kind + "\">\n<caption>" + HtmlText(b.title) + "</caption>\n";
  for (const Line& l : b.lines) {
    out += "<tr><td class=\"sign\">" + HtmlText(l.sign) + "</td><td>" + HtmlText(l.label);
    for (const std::string& d : l.details) out += "<br><span class=\"detail\">" + HtmlText(d) + "</span>";
    out += "</td><td class=\"amount\">" + (l.hasAmount ? HtmlText(EuroText(l.cents)) : std::string()) +
           "</td></tr>\n";
  }
  out += "</table>\n";
}

std::string Heading(const JournalPass& pass) {
  std::string range = PropertyText(pass.lowerKey) + T(" a ") + PropertyText(pass.upperKey);
  std::string text = T("LIQUIDACI\xE0 N\xE9M. ") + Number(pass.id) + "\n";
  text += T("Data de liquidaci\xA2: ") + DayText(pass.settlementDate) + "   " + T("Finques: ") + range +
          "   " + T("Concepte de r\x95ssec: ") + Number(pass.carryConcept) + "\n";
  text += T("Feta el ") + DayText(pass.startDate) + T(" a les ") + ClockText(pass.startTime) +
          T(" al lloc de treball ") + Trimmed(pass.computer) + "\n";
  text += T("IVA: ") + PercentText(pass.vatRates[0]) + " / " + PercentText(pass.vatRates[1]) + "   " +
          T("Retenci\xA2: ") + PercentText(pass.withholdingRates[0]) + " / " +
          PercentText(pass.withholdingRates[1]) + "   " + T("NIF de l'administrador: ") +
          Trimmed(pass.firmTaxId) + "\n";
  text += Number(pass.properties) +
          (pass.properties == 1 ? T(" finca liquidada, ") : T(" finques liquidades, ")) +
          Number(pass.owners) +
          (pass.owners == 1 ? T(" propietari amb saldo. Imports en euros.")
                            : T(" propietaris amb saldo. Imports en euros.")) +
          "\n";
  if (pass.Undone())
    text += T("Desfeta el ") + DayText(pass.undoEndDate) + T(" a les ") + ClockText(pass.undoEndTime) +
            T(" al lloc de treball ") + Trimmed(pass.undoComputer) + "\n";
  else if (pass.undone > 0)
    text += T("Desfeta en part: ") + Number(pass.undone) + T(" de ") + Number(pass.properties) +
            T(" finques") + "\n";
  return text;
}

const char kCsvHeading[] =
    "liquidacio,data_liquidacio,finca,propietari,darrera_liquidacio_abans,mesos,propietaris_finca,"
    "honoraris_per_propietari_mes,honoraris_base,iva_pct,iva,retencio_pct,retencio,honoraris,grup_honoraris,"
    "rossec_anterior,part_g1,part_g2,part_g3,part_g4,part_g5,part_g6,part_g7,carrecs,cobraments,saldo,"
    "concepte_rossec,import_concepte,desfeta\n";

void WriteCsv(const JournalPass& pass, const JournalProperty& p, bool undone, std::string& out) {
  for (const JournalOwner& o : p.balances) {
    std::string row = Number(pass.id) + "," + DayText(pass.settlementDate) + "," + PropertyText(p.code) +
                      "," + OwnerText(o.code) + "," + DayText(p.oldDate) + "," + Number(p.months) + "," +
                      Number(p.owners) + "," + Number(p.feePerOwner) + "," + Number(p.base) + "," +
                      PercentText(p.vatRate, true) + "," + Number(p.vat) + "," +
                      PercentText(p.withholdingRate, true) + "," + Number(p.withheld) + "," + Number(p.fee) +
                      "," + Number(p.feeGroup) + "," + Number(-o.parts[0]);
    for (int g = 1; g <= 7; ++g) row += "," + Number(o.parts[g]);
    row += "," + Number(o.parts[8]) + "," + Number(o.collections) + "," + Number(o.balance) + "," +
           Number(pass.carryConcept) + "," + Number(o.stored) + "," + (undone ? "1" : "0") + "\n";
    out += row;
  }
}

const char kHtmlStart[] = "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<title>";
const char kHtmlStyle[] =
    "</title>\n<style>\n"
    "body { font-family: sans-serif; font-size: 10pt; margin: 2em; }\n"
    "pre.heading { font-family: inherit; font-size: 11pt; }\n"
    "table { border-collapse: collapse; margin: 0.5em 0 1em 0; width: 100%; }\n"
    "caption { text-align: left; font-weight: bold; padding: 0.3em 0; }\n"
    "td { padding: 0.1em 0.4em; vertical-align: top; border-bottom: 1px solid #ddd; }\n"
    "td.sign { width: 1em; } td.amount { text-align: right; white-space: nowrap; width: 8em; }\n"
    "span.detail { font-family: monospace; white-space: pre; color: #444; }\n"
    "table.property caption { font-size: 12pt; }\n"
    "section { page-break-inside: avoid; } section.property { page-break-before: auto; }\n"
    "table.owner { margin-left: 2em; width: calc(100% - 2em); }\n"
    "@media print { body { margin: 0; } section.property { page-break-before: always; } }\n"
    "</style>\n</head>\n<body>\n";

}  // namespace

int16_t PassListText(std::string& out) {
  std::vector<JournalPass> passes;
  // No journal open: a suite root where no pass was ever journaled.
  int16_t status = FindSlot(kFileJournal) > 0 ? JournalPasses(passes) : 0;
  if (status != 0) return status;
  out = T("LIQUIDACIONS DEL DIARI, DE LA M\x90S RECENT A LA M\x90S ANTIGA") + "\n";
  if (passes.empty()) {
    out += T("Cap liquidaci\xA2 al diari.") + "\n";
    return 0;
  }
  out += T("Imports en euros.") + "\n\n";
  out += RightAligned(T("N\xE9M."), 6) + "  " + LeftAligned(T("DATA LIQ."), 10) + "  " +
         LeftAligned(T("FETA EL"), 16) + "  " + LeftAligned(T("LLOC DE TREBALL"), 15) + "  " +
         LeftAligned(T("FINQUES"), 11) + RightAligned(T("LIQUIDADES"), 11) +
         RightAligned(T("HONORARIS"), 15) + RightAligned(T("A DEURE"), 15) + "  " + T("ESTAT") + "\n";
  for (const JournalPass& p : passes) {
    std::string state = p.Undone() ? T("DESFETA") : p.undone > 0 ? T("DESFETA EN PART") : std::string();
    std::string when = DayText(p.startDate) + " " + ClockText(p.startTime).substr(0, 5);
    out += RightAligned(Number(p.id), 6) + "  " + LeftAligned(DayText(p.settlementDate), 10) + "  " +
           LeftAligned(when, 16) + "  " + LeftAligned(Trimmed(p.computer), 15) + "  " +
           LeftAligned(PropertyText(p.lowerKey) + "-" + PropertyText(p.upperKey), 11) +
           RightAligned(Number(p.properties), 11) + RightAligned(EuroText(p.fee), 15) +
           RightAligned(EuroText(p.stored), 15) + "  " + state + "\n";
  }
  return 0;
}

int16_t StatementText(long id, const std::string& property, StatementFormat format, std::string& out,
                      std::string& problem) {
  out.clear();
  problem.clear();
  JournalPass pass;
  int16_t status = ReadJournalPass(id, pass);
  if (status == B_KEY_NOT_FOUND) problem = NoSuchPassText(id);
  if (status != 0) return status;
  if (pass.Format() > kJournalFormat) {
    problem = NewerJournalText(pass.Format());
    return B_KEY_NOT_FOUND;
  }
  std::vector<std::string> codes;
  std::vector<bool> undone;
  if ((status = JournalPropertiesOf(id, codes, undone)) != 0) return status;
  if (!property.empty()) {
    bool settled = false;
    for (const std::string& c : codes) settled = settled || c == property;
    if (!settled) {
      problem = T("LA LIQUIDACI\xE0 ") + Number(id) + T(" NO VA LIQUIDAR LA FINCA ") + PropertyText(property);
      return B_KEY_NOT_FOUND;
    }
    codes = {property};
  }
  const std::string heading = Heading(pass);
  if (format == StatementFormat::kCsv) out = kCsvHeading;
  if (format == StatementFormat::kText) out = heading;
  if (format == StatementFormat::kHtml) {
    std::string title = T("LIQUIDACI\xE0 N\xE9M. ") + Number(id);
    if (!property.empty()) title += " - " + T("FINCA ") + PropertyText(property);
    out = kHtmlStart + HtmlText(title) + kHtmlStyle + "<pre class=\"heading\">" + HtmlText(heading) +
          "</pre>\n";
  }
  for (const std::string& code : codes) {
    JournalProperty entry;
    JournalUndo undo;
    bool isUndone = false;
    if ((status = ReadJournalProperty(id, code, entry, isUndone, undo)) != 0) return status;
    if (format == StatementFormat::kCsv) {
      WriteCsv(pass, entry, isUndone, out);
      continue;
    }
    std::vector<Block> owners;
    for (const JournalOwner& o : entry.balances) owners.push_back(OwnerBlock(entry, o, pass.carryConcept));
    Block head = PropertyBlock(entry, isUndone, undo);
    if (format == StatementFormat::kText) {
      WriteText(head, "", out);
      for (const Block& b : owners) WriteText(b, "  ", out);
    } else {
      out += "<section class=\"property\">\n";
      WriteHtml(head, "property", out);
      for (const Block& b : owners) {
        out += "<section>\n";
        WriteHtml(b, "owner", out);
        out += "</section>\n";
      }
      out += "</section>\n";
    }
  }
  if (format == StatementFormat::kHtml) out += "</body>\n</html>\n";
  return 0;
}

std::string NoSuchPassText(long id) { return T("NO EXISTEIX LA LIQUIDACI\xE0 ") + Number(id); }

std::string UndoWaitText() { return T("UN ALTRE LLOC DE TREBALL T\x90 LES DADES: ESPEREU UN MOMENT."); }

std::string NewerJournalText(int16_t format) {
  return T("EL DIARI \x90S D'UN FORMAT M\x90S NOU QUE AQUEST PROGRAMA: ") + Number(format) +
         T(". ACTUALITZEU EL PROGRAMA.");
}

std::string UndoReportText(long id, const UndoResult& r) {
  const std::string pass = T("LA LIQUIDACI\xE0 ") + Number(id);
  switch (r.outcome) {
    case UndoOutcome::kNoSuchPass: return NoSuchPassText(id) + "\n";
    case UndoOutcome::kAlreadyUndone: return pass + T(" JA EST\xB7 DESFETA") + "\n";
    case UndoOutcome::kNewerFormat: return NewerJournalText(r.format) + "\n";
    case UndoOutcome::kUndone: {
      std::string text = pass + T(" S'HA DESFET: ") + Number(r.undone) + T(" FINQUES");
      if (r.before > 0) text += T(" (I ") + Number(r.before) + T(" JA DESFETES ABANS)");
      return text + "\n";
    }
    case UndoOutcome::kFailed: {
      std::string text = T("NO S'HA POGUT DESFER ") + pass;
      if (!r.property.empty()) text += ", " + T("FINCA ") + PropertyText(r.property);
      text += ": " + T("ERROR DEL GESTOR DE FITXERS, ESTAT") + " " + Number(r.status) + "\n";
      if (r.undone > 0)
        text += Number(r.undone) + T(" FINQUES DESFETES; TORNEU-HO A PROVAR PER A LA RESTA") + "\n";
      return text;
    }
    case UndoOutcome::kRefused: break;
  }
  std::string text = T("NO ES POT DESFER ") + pass + ":\n";
  for (const UndoProblem& p : r.problems) {
    std::string line = "  " + T("FINCA ") + PropertyText(p.property) + ": ";
    switch (p.kind) {
      case UndoProblemKind::kLaterPass:
        line += T("LA LIQUIDACI\xE0 POSTERIOR ") + Number(p.laterPass) +
                T(" TAMB\x90 LA VA LIQUIDAR (CAL DESFER-LA ABANS)");
        break;
      case UndoProblemKind::kChanged:
        line += p.file == kFileOwners
                    ? T("EL PROPIETARI ") + OwnerText(p.record) + T(" HA CANVIAT DES DE LA LIQUIDACI\xE0")
                    : T("LA FINCA HA CANVIAT DES DE LA LIQUIDACI\xE0");
        break;
      case UndoProblemKind::kMissing:
        line += p.file == kFileOwners ? T("EL PROPIETARI ") + OwnerText(p.record) + T(" JA NO HI \x90S")
                                      : T("LA FINCA JA NO HI \x90S");
        break;
      case UndoProblemKind::kDamaged: line += T("EL DIARI NO CORRESPON ALS FITXERS"); break;
    }
    text += line + "\n";
  }
  if (r.undone > 0)
    text += Number(r.undone) + T(" FINQUES DESFETES ABANS DEL CANVI; LA RESTA NO S'HA TOCAT") + "\n";
  else text += T("NO S'HA CANVIAT RES.") + "\n";
  return text;
}
