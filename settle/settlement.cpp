// settlement.cpp - the dialogue loop of the settlement and the texts of the
// reasons a property is left untouched.  The pass itself is in pass.cpp,
// its progress line in progress.cpp, what the operator reads after it in
// result.cpp.
#include "settle/settlement.h"

#include "input/keys.h"
#include "platform/console.h"
#include "screen/form_driver.h"
#include "screen/windows.h"

std::string UntouchedReasonText(UntouchedReason reason) {
  switch (reason) {
    case UntouchedReason::kNoLastSettlement: return "SENSE DATA DE LA DARRERA LIQUIDACI\xE0";
    case UntouchedReason::kDamagedLastSettlement: return "DATA DE LA DARRERA LIQUIDACI\xE0 MALMESA: ";
    case UntouchedReason::kSettledLater: return "LIQUIDADA A UNA DATA POSTERIOR";
    case UntouchedReason::kSettledElsewhere: return "LIQUIDADA DES D'UN ALTRE LLOC DE TREBALL";
    case UntouchedReason::kUnknownTaxIndex: return "TIPUS D'IMPOST DESCONEGUT";
    case UntouchedReason::kNoVatRate: return "SENSE PERCENTATGE D'IVA PER AL SEU TIPUS A ";
    case UntouchedReason::kNoWithholdingRate: return "SENSE PERCENTATGE DE RETENCI\xE0 PER AL SEU TIPUS A ";
    case UntouchedReason::kAmountTooLarge: return "IMPORT MASSA GRAN";
    case UntouchedReason::kNotSaved: return "NO S'HAN POGUT DESAR ELS CANVIS";
    case UntouchedReason::kGoneMeanwhile: return "ESBORRADA DES D'UN ALTRE LLOC DE TREBALL";
    case UntouchedReason::kRecordManager: return "ERROR DEL GESTOR DE FITXERS, ESTAT";
    case UntouchedReason::kStopped: return "LIQUIDACI\xE0 ATURADA PER L'OPERADOR";
  }
  return std::string();
}

KeyCode RequestSettlement(SettlementRequest& request) {
  for (;;) {
    // The parameter screen's exit check has validated the fields by the
    // time it is accepted.  Neither PgUp nor PgDn leaves it.
    int16_t screen = 1, pgUpLeaves = 0, pgDnLeaves = 0;
    KeyCode key = 0;
    RunFormScreen(screen, pgUpLeaves, pgDnLeaves, key);
    if (key == kKeyEsc || key == 0) return key;
    request = ParameterRequest();
    // The confirmation over the parameter screen, as the operator left it;
    // any answer but "S" takes him back to its first field.
    const ShownFormScreen parameters(screen);
    if (ConfirmSettlement(request)) return key;
  }
}

void RunSettlement() {
  SetColourScheme("n");
  ConsoleClear(ConsoleAttribute());
  for (;;) {
    SettlementRequest request;
    // Escape ends the work.  A screen that returns no key at all had no
    // field to edit: running settlements on it would never end.
    const KeyCode key = RequestSettlement(request);
    if (key == kKeyEsc || key == 0) return;
    SettlementPass(request);
    ShowPassResult(request);
  }
}
