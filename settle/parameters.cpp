// parameters.cpp - the settlement parameters and the check of the parameter
// screen.
//
// The form screen driver calls CheckParameters at the end of every screen.
// Only screen 1, the parameter screen, is checked: its four values become the
// settlement parameters (also when the check then refuses, so that the
// settlement always sees what was last typed), the carry-over concept must
// exist and be of the carry-over type, the property range must not run
// backwards, and the operator confirms on screen 2.  A refusal is answered
// with a beep and its reason on the reason line (screen/windows.h), which
// stays while the operator corrects the values.
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
#include "settle/records.h"

std::string SettlementDate;
std::string LowerOwnerKey;
std::string UpperOwnerKey;
int16_t CarryConcept = 0;

namespace {

constexpr int16_t kParameterScreen = 1;
constexpr int16_t kConfirmationScreen = 2;
constexpr int16_t kCarryOverType = 1;

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

}  // namespace

int16_t CheckParameters(int16_t& screen, KeyCode& key) {
  int16_t result = 0;
  if (key == kKeyEsc || screen != kParameterScreen) return 0;

  SettlementDate = ParseDate(Field(kParameterScreen, 1).Value);
  LowerOwnerKey = PackCode(Field(kParameterScreen, 2).Value + ".1");
  UpperOwnerKey = PackCode(Field(kParameterScreen, 3).Value + ".9999");
  CarryConcept = ConceptFromField(Field(kParameterScreen, 4).Value);

  // The concept file's key is the concept number as one raw byte; a number
  // outside 0..255 has no such key and is not found.
  int16_t status = B_KEY_NOT_FOUND;
  std::string conceptKey = ConceptKey(CarryConcept);
  if (!conceptKey.empty()) FindRecord(status, 0, conceptKey, 0, kFileConcepts);
  if (status != 0) {
    result = -1;
    ShowRefusal(Translate("NO EXISTEIX EL CONCEPTE ") + PlainNumberText(CarryConcept));
  } else if (ConceptType() != kCarryOverType) {
    result = -1;
    ShowRefusal(Translate("EL CONCEPTE ") + TrimTrailingBlanks(ConceptDescription()) +
                Translate(" NO \x90S DE TIPUS R\xE3SSEC"));
  }

  // A range given backwards; when the concept was refused too, its reason
  // is the one shown.
  if (LowerOwnerKey > UpperOwnerKey) {
    if (result == 0) ShowRefusal(Translate("LA PRIMERA FINCA \x90S POSTERIOR A LA DARRERA"));
    result = -1;
  }

  if (result == 0) {
    SetFieldValue(kConfirmationScreen, 1, "");
    int16_t confirmation = kConfirmationScreen, pgUpLeaves = 0, pgDnLeaves = 0;
    RunFormScreen(confirmation, pgUpLeaves, pgDnLeaves, key);
    result = Field(kConfirmationScreen, 1).Value == "S" ? 0 : -1;
  }
  return result;
}
