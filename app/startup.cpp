// startup.cpp - start-up steps of the main sequence that fill program-wide
// values: the parameter screen's defaults and the tax percentages.
#include "app/program.h"
#include "input/dates.h"
#include "input/numbers.h"
#include "screen/form.h"
#include "session/session.h"
#include "session/settings.h"
#include "settle/settlement.h"

void GiveParameterDefaults() {
  SetFieldValue(1, 1, DateShortText(Session.date));
  SetFieldValue(1, 2, "1");
  SetFieldValue(1, 3, "9999");
  SetFieldValue(1, 4, "3");
}

void ReadTaxRates() {
  const std::string settings = Session.root + "Vork.ini";
  auto rate = [&](const char* section) {
    return static_cast<float>(NumericValue(GetIni("Honoraris", section, settings)));
  };
  IvaRate[0] = rate("Iva0");
  IvaRate[1] = rate("Iva1");
  RetRate[0] = rate("Ret0");
  RetRate[1] = rate("Ret1");
}
