// parameters.cpp - the settlement request, the check of the parameter
// screen and the confirmation.
//
// The form screen driver calls the check at the end of every screen.  Only
// screen 1, the parameter screen, is checked: its four values make the
// request, the carry-over concept must exist and be of the carry-over type,
// the property range must not run backwards, and the administrator's tax
// identifier must be known (it decides whether withholding applies).  A
// refusal is answered with a beep and its reason on the reason line
// (screen/windows.h), which stays while the operator corrects the values.
// Once the screen is accepted the dialogue asks the operator to confirm on
// screen 2, which says what the pass will do: the date, the range and how
// many properties the property file holds in it, the VAT and withholding
// rates of tax index 0 and 1, the administrator's tax identifier.
#include "settle/parameters.h"

#include <cmath>

#include "data/data.h"
#include "input/dates.h"
#include "input/numbers.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "recman/recman.h"
#include "screen/form.h"
#include "screen/form_driver.h"
#include "screen/windows.h"
#include "session/language.h"
#include "session/session.h"
#include "settle/records.h"
#include "settle/settlement.h"

namespace {

constexpr int16_t kParameterScreen = 1;
constexpr int16_t kConfirmationScreen = 2;
constexpr int16_t kCarryOverType = 1;
// The confirmation screen's fields: 1 the answer; the others, shown only,
// what the pass will do.
constexpr int kAnswerField = 1, kDateField = 2, kRangeField = 3, kRatesField0 = 4, kRatesField1 = 5,
              kFirmField = 6;

void ShowRefusal(const std::string& text) {
  ShowReason(text);
  Beep();
}

// The concept number typed in field 4, brought to the nearest integer (a
// half to the even neighbour).  A number that cannot be a 16-bit integer
// becomes -1, which no one-byte key matches.
int16_t ConceptFromField(const std::string& text) {
  double value = std::nearbyint(NumericValue(text));
  if (!(value >= -32768.0 && value <= 32767.0)) return -1;
  return static_cast<int16_t>(value);
}

// A percentage as the suite writes numbers ("21 %", "12,5 %"), or that
// "Vork.ini" gives none.
std::string RateText(float rate, bool set) {
  if (!set) return Translate("NO DEFINIT");
  std::string text = TrimBlanks(FormatPicture("ZZ9.99", rate));
  LoadNumberPreferences();
  const char point = Preferences.DecCaracter != 0 ? Preferences.DecCaracter : '.';
  if (text.find(point) != std::string::npos) {
    while (!text.empty() && text.back() == '0') text.pop_back();
    if (!text.empty() && text.back() == point) text.pop_back();
  }
  return text + " %";
}

// What the confirmation screen says the pass will do.
void DescribeThePass(const SettlementRequest& request) {
  const std::string lowP = request.LowerOwnerKey.substr(0, 2), highP = request.UpperOwnerKey.substr(0, 2);
  std::string range = UnpackDigits(lowP) + Translate(" A ") + UnpackDigits(highP);
  if (long count = PropertiesInRange(lowP, highP); count >= 0)
    range += " (" + std::to_string(count) + Translate(" AL FITXER)");
  SetFieldValue(kConfirmationScreen, kDateField, DateText("dma", 0, request.SettlementDate));
  SetFieldValue(kConfirmationScreen, kRangeField, range);
  const int fields[2] = {kRatesField0, kRatesField1};
  for (int index = 0; index < 2; ++index)
    SetFieldValue(kConfirmationScreen, fields[index],
                  Translate("IVA") + " " + RateText(request.IvaRate[index], request.IvaRateSet[index]) +
                      " \xFA " + Translate("RETENCI\xE0 ") +
                      RateText(request.RetRate[index], request.RetRateSet[index]));
  SetFieldValue(kConfirmationScreen, kFirmField, TrimBlanks(request.FirmTaxId));
}

// Whether the carry-over concept of `request` is refused, its reason shown:
// it must exist and be of the carry-over type.
bool ConceptRefused(const SettlementRequest& request) {
  // The concept file's key is the concept number as one raw byte; a number
  // outside 0..255 has no such key and is not found.
  int16_t status = B_KEY_NOT_FOUND;
  std::string conceptKey = ConceptKey(request.CarryConcept);
  if (!conceptKey.empty()) FindRecord(status, 0, conceptKey, 0, kFileConcepts);
  if (status != 0 && status != B_KEY_NOT_FOUND) {
    // The concept file could not be read (a damaged or replaced database,
    // another station holding it): not a missing concept.  Said as what it
    // is, with the data folder and the reason, and nothing is settled.
    std::string what = status == B_IO_ERROR && DataFiles.failureKnown && !DataFiles.failure.folder.empty()
                           ? DamagedFolderText(DataFiles.failure.folder)
                           : Translate("ERROR DEL GESTOR DE FITXERS, ESTAT") + " " + std::to_string(status);
    ShowMessageAndWait(12, WithFailureDetail(what + ". " + Translate("NO S'HA LIQUIDAT CAP FINCA.")));
  } else if (status != 0) {
    ShowRefusal(Translate("NO EXISTEIX EL CONCEPTE ") + PlainNumberText(request.CarryConcept));
  } else if (ConceptType() != kCarryOverType) {
    ShowRefusal(Translate("EL CONCEPTE ") + TrimTrailingBlanks(ConceptDescription()) +
                Translate(" NO \x90S DE TIPUS R\xE3SSEC"));
  } else {
    return false;
  }
  return true;
}

}  // namespace

SettlementRequest ParameterRequest() {
  SettlementRequest request;
  request.SettlementDate = ParseDate(Field(kParameterScreen, 1).Value);
  request.LowerOwnerKey = PackCode(Field(kParameterScreen, 2).Value + ".1");
  request.UpperOwnerKey = PackCode(Field(kParameterScreen, 3).Value + ".9999");
  request.CarryConcept = ConceptFromField(Field(kParameterScreen, 4).Value);
  for (int index = 0; index < 2; ++index) {
    request.IvaRate[index] = Session.vatRates[index];
    request.RetRate[index] = Session.withholdingRates[index];
    request.IvaRateSet[index] = Session.vatRateSet[index];
    request.RetRateSet[index] = Session.withholdingRateSet[index];
  }
  request.FirmTaxId = Session.firmTaxId;
  return request;
}

int16_t CheckParameters(int16_t& screen, KeyCode& key, SettlementRequest& request) {
  if (key == kKeyEsc || screen != kParameterScreen) return 0;
  request = ParameterRequest();

  int16_t result = ConceptRefused(request) ? -1 : 0;

  // A range given backwards; when the concept was refused too, its reason
  // is the one shown.
  if (request.LowerOwnerKey > request.UpperOwnerKey) {
    if (result == 0) ShowRefusal(Translate("LA PRIMERA FINCA \x90S POSTERIOR A LA DARRERA"));
    result = -1;
  }

  // Whether withholding applies rests on the administrator's tax
  // identifier: without it no pass can charge the fees rightly.
  if (result == 0 && TrimBlanks(request.FirmTaxId).empty()) {
    ShowRefusal(Translate("FALTA EL NIF DE L'ADMINISTRADOR A ") + "Vork.ini [Administrador] NIF");
    result = -1;
  }
  return result;
}

int16_t CheckParameterScreen(int16_t& screen, KeyCode& key) {
  SettlementRequest request;
  return CheckParameters(screen, key, request);
}

bool ConfirmSettlement(const SettlementRequest& request) {
  SetFieldValue(kConfirmationScreen, kAnswerField, "");
  DescribeThePass(request);
  int16_t confirmation = kConfirmationScreen, pgUpLeaves = 0, pgDnLeaves = 0;
  KeyCode key = 0;
  RunFormScreen(confirmation, pgUpLeaves, pgDnLeaves, key);
  return Field(kConfirmationScreen, kAnswerField).Value == "S";
}
