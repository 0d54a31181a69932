// settlement.cpp - the dialogue loop of the settlement and the report of the
// properties a pass left untouched.  The pass itself is in pass.cpp.
#include "settle/settlement.h"

#include <algorithm>

#include "data/data.h"
#include "input/dates.h"
#include "input/keys.h"
#include "platform/console.h"
#include "platform/platform.h"
#include "screen/form_driver.h"
#include "screen/windows.h"
#include "session/language.h"

float IvaRate[2] = {0, 0};
float RetRate[2] = {0, 0};

namespace {

constexpr int kMessageRow = 12;
// A message window holds this many lines: the heading and the properties.
constexpr size_t kLinesPerWindow = 15;
// ShowMessage breaks its text into lines of 76 characters at blanks; a line
// padded to 76 with a blank at its end is kept whole.
constexpr size_t kMessageWidth = 76;

std::string MessageLine(const std::string& text) {
  std::string line = text.substr(0, kMessageWidth - 1);
  line.resize(kMessageWidth, ' ');
  return line;
}

// `text` broken at blanks into message lines (a word longer than a line is
// cut).
std::string WrappedLines(const std::string& text) {
  std::string out, line;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find(' ', at);
    std::string word = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
    at = end == std::string::npos ? text.size() : end + 1;
    if (!line.empty() && line.size() + 1 + word.size() > kMessageWidth - 1) {
      out += MessageLine(line);
      line.clear();
    }
    line += (line.empty() ? "" : " ") + word;
  }
  if (!line.empty()) out += MessageLine(line);
  return out;
}

std::string UntouchedLine(const UntouchedProperty& p) {
  std::string line = UnpackDigits(p.code);
  if (!p.lastCode.empty() && p.lastCode != p.code) line += "-" + UnpackDigits(p.lastCode);
  line += "  " + Translate(UntouchedReasonText(p.reason));
  if (p.reason == UntouchedReason::kRecordManager) line += " " + std::to_string(p.status);
  return line;
}

// The message naming a damaged or replaced data folder, with the record
// manager's account on a line of its own; read with one key.
void ShowDamage() {
  if (!Settlement.damageKnown) return;
  std::string text = WrappedLines(DamagedFolderText(Settlement.damage.folder)) +
                     WrappedLines(Utf8ToCp850(RecmanDiagnosticText(Settlement.damage)));
  ShowMessageAndWait(kMessageRow, text);
}

}  // namespace

std::string UntouchedReasonText(UntouchedReason reason) {
  switch (reason) {
    case UntouchedReason::kNoLastSettlement: return "SENSE DATA DE LA DARRERA LIQUIDACI\xE0";
    case UntouchedReason::kSettledLater: return "LIQUIDADA A UNA DATA POSTERIOR";
    case UntouchedReason::kSettledElsewhere: return "LIQUIDADA DES D'UN ALTRE LLOC DE TREBALL";
    case UntouchedReason::kUnknownTaxIndex: return "TIPUS D'IMPOST DESCONEGUT";
    case UntouchedReason::kAmountTooLarge: return "IMPORT MASSA GRAN";
    case UntouchedReason::kNotSaved: return "NO S'HAN POGUT DESAR ELS CANVIS";
    case UntouchedReason::kGoneMeanwhile: return "ESBORRADA DES D'UN ALTRE LLOC DE TREBALL";
    case UntouchedReason::kRecordManager: return "ERROR DEL GESTOR DE FITXERS, ESTAT";
    case UntouchedReason::kStopped: return "LIQUIDACI\xE0 ATURADA PER L'OPERADOR";
  }
  return std::string();
}

void ShowUntouchedProperties() {
  const std::vector<UntouchedProperty>& list = Settlement.untouched;
  if (list.empty()) return;
  ShowDamage();
  std::vector<std::string> lines;
  for (const UntouchedProperty& p : list) lines.push_back(UntouchedLine(p));
  const std::string heading = Translate("FINQUES NO LIQUIDADES:");
  // As many windows as needed, each with a beep and read with one key.
  for (size_t first = 0; first < lines.size(); first += kLinesPerWindow - 1) {
    std::string text = MessageLine(heading);
    size_t last = std::min(lines.size(), first + kLinesPerWindow - 1);
    for (size_t i = first; i < last; ++i) text += MessageLine(lines[i]);
    ShowMessageAndWait(kMessageRow, text);
  }
}

void RunSettlement() {
  SetColourScheme("n");
  ConsoleClear(ConsoleAttribute());
  for (;;) {
    // The parameter screen's exit check has validated the fields, asked for
    // confirmation and set the settlement parameters by the time it is
    // accepted.  Neither PgUp nor PgDn leaves it.
    int16_t screen = 1, pgUpLeaves = 0, pgDnLeaves = 0;
    KeyCode key = 0;
    RunFormScreen(screen, pgUpLeaves, pgDnLeaves, key);
    // Escape ends the work.  A screen that returns no key at all had no
    // field to edit: running settlements on it would never end.
    if (key == kKeyEsc || key == 0) return;
    SettlementPass();
    ShowUntouchedProperties();
  }
}
