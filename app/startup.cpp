// startup.cpp - start-up steps of the main sequence that fill program-wide
// values: the parameter screen's defaults and the tax percentages.
#include "app/program.h"
#include "input/dates.h"
#include "input/numbers.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "screen/form.h"
#include "session/language.h"
#include "session/session.h"
#include "session/settings.h"

void GiveParameterDefaults() {
  SetFieldValue(1, 1, DateShortText(Session.date));
  SetFieldValue(1, 2, "1");
  SetFieldValue(1, 3, "9999");
  SetFieldValue(1, 4, "3");
}

std::string ReadTaxRates() {
  const std::string settings = Session.root + "Vork.ini";
  const struct {
    const char* section;
    float& rate;
    bool& set;
  } rates[] = {{"Iva0", Session.vatRates[0], Session.vatRateSet[0]},
               {"Iva1", Session.vatRates[1], Session.vatRateSet[1]},
               {"Ret0", Session.withholdingRates[0], Session.withholdingRateSet[0]},
               {"Ret1", Session.withholdingRates[1], Session.withholdingRateSet[1]}};
  for (const auto& r : rates) {
    r.rate = 0;
    r.set = false;
  }
  for (const auto& r : rates) {
    std::string text;
    if (!GetIniEntry("Honoraris", r.section, settings, text)) continue;  // no key: no rate
    const std::string number = TrimBlanks(text);
    // Empty, or not a number ("abc", "21,5"): no rate either.
    if (number.find_first_of("0123456789") == std::string::npos || number.find(' ') != std::string::npos ||
        NumberTextIsInvalid(number, "-."))
      continue;
    const double value = NumericValue(number);
    if (!(value >= 0 && value <= 100))
      return HostPath(settings) + " [" + r.section + "] Honoraris=" + number + ": " +
             Translate("EL PERCENTATGE HA DE SER ENTRE 0 I 100");
    r.rate = static_cast<float>(value);
    r.set = true;
  }
  return std::string();
}
