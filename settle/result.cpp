// result.cpp - what the operator reads after every settlement pass, also
// one that settled nothing: whether it ran to its end or was stopped (and
// where), its number in the settlement journal, its date and range, what it
// settled and charged, what it cleared, and then every property it left
// untouched with the reason and every payment it kept.  Shown a page at a
// time over the parameter screen (ShowPages).
#include <string>
#include <vector>

#include "data/data.h"
#include "input/dates.h"
#include "input/numbers.h"
#include "input/packed.h"
#include "platform/platform.h"
#include "screen/windows.h"
#include "session/language.h"
#include "settle/journal.h"
#include "settle/parameters.h"
#include "settle/settlement.h"

namespace {

// Labels are padded to this width, so that the values line up.
constexpr size_t kLabelWidth = 26;
// The width of the page's lines: longer texts are broken at blanks.
constexpr size_t kLineWidth = 72;

std::string Row(const std::string& label, const std::string& value) {
  std::string text = label;
  if (text.size() < kLabelWidth) text.resize(kLabelWidth, ' ');
  return text + " " + value;
}

// A count, its units under the amounts' units.
std::string Count(long long value) { return FormatPicture("ZZZ,ZZZ,ZZZ,ZZ9", static_cast<double>(value)); }

// An amount in the currency's smallest unit, as the suite shows amounts.
std::string Amount(int64_t cents) {
  return FormatPicture("-Z,ZZZ,ZZZ,ZZ9.99", static_cast<double>(cents) / 100.0);
}

// `text` broken at blanks into lines of kLineWidth (a word longer than a
// line is cut).
void AddWrapped(std::vector<std::string>& lines, const std::string& text) {
  std::string line;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find(' ', at);
    std::string word = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
    at = end == std::string::npos ? text.size() : end + 1;
    while (word.size() > kLineWidth) {
      if (!line.empty()) lines.push_back(line);
      lines.push_back(word.substr(0, kLineWidth));
      word.erase(0, kLineWidth);
      line.clear();
    }
    if (!line.empty() && line.size() + 1 + word.size() > kLineWidth) {
      lines.push_back(line);
      line.clear();
    }
    line += (line.empty() ? "" : " ") + word;
  }
  if (!line.empty()) lines.push_back(line);
}

// A date as it stands: day, month and year of its digits ("30/13/2023"
// for a damaged one), or the bytes in hexadecimal when they are no packed
// digits.
std::string DigitsDateText(const std::string& packed) {
  bool digits = packed.size() == 4;
  for (char c : packed) digits = digits && IsPackedPair(static_cast<unsigned char>(c));
  if (digits) {
    const std::string d = UnpackDigits(packed);
    return d.substr(6, 2) + "/" + d.substr(4, 2) + "/" + d.substr(0, 4);
  }
  static const char kHex[] = "0123456789ABCDEF";
  std::string hex;
  for (char c : packed) {
    unsigned char b = static_cast<unsigned char>(c);
    hex += kHex[b >> 4];
    hex += kHex[b & 15];
  }
  return hex;
}

// The settled properties as ranges of consecutive codes: "0001-0003, 0007".
std::string SettledRanges(const std::vector<std::string>& codes) {
  std::string out;
  for (size_t i = 0; i < codes.size();) {
    size_t j = i;
    while (j + 1 < codes.size() &&
           std::stoi(UnpackDigits(codes[j + 1])) == std::stoi(UnpackDigits(codes[j])) + 1)
      ++j;
    if (!out.empty()) out += ", ";
    out += UnpackDigits(codes[i]) + (j > i ? "-" + UnpackDigits(codes[j]) : "");
    i = j + 1;
  }
  return out;
}

std::string UntouchedLine(const UntouchedProperty& p) {
  std::string line = UnpackDigits(p.code);
  if (!p.lastCode.empty() && p.lastCode != p.code) line += "-" + UnpackDigits(p.lastCode);
  line += "  " + Translate(UntouchedReasonText(p.reason));
  if (p.reason == UntouchedReason::kRecordManager) line += " " + std::to_string(p.status);
  if (p.reason == UntouchedReason::kDamagedLastSettlement) line += DigitsDateText(p.date);
  if (p.reason == UntouchedReason::kNoVatRate) line += "Vork.ini [Iva" + std::to_string(p.status) + "]";
  if (p.reason == UntouchedReason::kNoWithholdingRate)
    line += "Vork.ini [Ret" + std::to_string(p.status) + "]";
  return line;
}

// A kept payment: its property, date and amount, and why it stays.
std::string KeptLine(const KeptPayment& k) {
  std::string line =
      UnpackDigits(k.code) + "  " + DigitsDateText(k.date) + "  " + TrimBlanks(Amount(k.amount)) + "  ";
  std::string target = std::to_string(k.target);
  target.insert(0, target.size() < 4 ? 4 - target.size() : 0, '0');
  if (k.chargedToOwner)
    return line + Translate("CARREGAT AL PROPIETARI ") + target + Translate(", QUE NO REP SALDO");
  return line + Translate("DEL GRUP ") + std::to_string(k.target) + Translate(", QUE NO EXISTEIX");
}

}  // namespace

std::vector<std::string> PassResultLines(const SettlementRequest& request) {
  const PassResult& r = Settlement.result;
  std::vector<std::string> lines;
  if (!r.stoppedAt.empty()) {
    lines.push_back(Translate("LIQUIDACI\xE0 ATURADA A LA FINCA ") + UnpackDigits(r.stoppedAt));
  } else {
    lines.push_back(Translate("LIQUIDACI\xE0 FETA"));
  }
  lines.push_back(std::string());
  lines.push_back(Row(
      Translate("N\xE9MERO DE LIQUIDACI\xE0"),
      Journal.passId > 0 ? std::to_string(Journal.passId) : Translate("CAP: NO S'HA LIQUIDAT CAP FINCA")));
  lines.push_back(Row(Translate("DATA DE LIQUIDACI\xE0"), DateText("dma", 0, request.SettlementDate)));
  const std::string &low = request.LowerOwnerKey, &high = request.UpperOwnerKey;
  if (low.size() >= 2 && high.size() >= 2)
    lines.push_back(Row(Translate("FINQUES"),
                        UnpackDigits(low.substr(0, 2)) + Translate(" A ") + UnpackDigits(high.substr(0, 2))));
  lines.push_back(Row(Translate("FINQUES LIQUIDADES"), Count(r.settled)));
  lines.push_back(Row(Translate("PROPIETARIS AMB SALDO"), Count(r.owners)));
  lines.push_back(Row(Translate("HONORARIS"), Amount(r.base)));
  lines.push_back(Row(Translate("IVA"), Amount(r.vat)));
  lines.push_back(Row(Translate("RETENCI\xE0"), Amount(r.withheld)));
  lines.push_back(Row(Translate("TOTAL HONORARIS"), Amount(r.fee)));
  lines.push_back(Row(Translate("COBRAMENTS LIQUIDATS"), Count(r.collections)));
  lines.push_back(Row(Translate("PAGAMENTS LIQUIDATS"), Count(r.payments)));
  if (Settlement.damageKnown) {
    // What was written before the damage was met and what was not.
    std::string written = Settlement.settled.empty()
                              ? Translate("NO S'HA LIQUIDAT CAP FINCA.")
                              : Translate("FINQUES LIQUIDADES: ") + SettledRanges(Settlement.settled) + ".";
    if (Settlement.stoppedOnDamage)
      written = Translate("LIQUIDACI\xE0 ATURADA: NO S'HI HA ESCRIT RES M\x90S.") + " " + written;
    if (!Settlement.untouched.empty()) written += " " + Translate("LES ALTRES NO S'HAN TOCAT.");
    lines.push_back(std::string());
    AddWrapped(lines, DamagedFolderText(Settlement.damage.folder));
    AddWrapped(lines, written);
    AddWrapped(lines, Utf8ToCp850(RecmanDiagnosticText(Settlement.damage)));
  }
  if (!Settlement.untouched.empty()) {
    lines.push_back(std::string());
    lines.push_back(Translate("FINQUES NO LIQUIDADES:"));
    for (const UntouchedProperty& p : Settlement.untouched) AddWrapped(lines, UntouchedLine(p));
  }
  if (!r.kept.empty()) {
    lines.push_back(std::string());
    lines.push_back(Translate("PAGAMENTS QUE NO S'HAN LIQUIDAT:"));
    for (const KeptPayment& k : r.kept) AddWrapped(lines, KeptLine(k));
  }
  return lines;
}

void ShowPassResult(const SettlementRequest& request) { ShowPages(PassResultLines(request)); }
