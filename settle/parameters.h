// parameters.h - what a settlement is asked to do (SettlementRequest), the
// check of the parameter screen that builds it, and the confirmation the
// dialogue asks for before the pass.
#pragma once
#include <cstdint>
#include <string>

#include "input/keys.h"

// One settlement pass's parameters, built by the parameter check from the
// parameter screen and the session (tests and measurements build their
// own), and handed to the pass, the journal and the result.
struct SettlementRequest {
  std::string SettlementDate;  // packed date, 4 bytes
  std::string LowerOwnerKey;   // packed owner code, 4 bytes: first property, owner 0001
  std::string UpperOwnerKey;   // packed owner code, 4 bytes: last property, owner 9999
  int16_t CarryConcept = 0;    // concept that receives the carried-over balance
  // VAT and withholding percentages (16 means 16 %), index = the property's
  // tax index.  Whether each of them is a rate at all: a property whose tax
  // index selects a VAT rate that is not, or a withholding rate that is not
  // while withholding applies to it, is left untouched: no money is charged
  // on a rate nobody set.
  float IvaRate[2] = {0, 0};
  float RetRate[2] = {0, 0};
  bool IvaRateSet[2] = {true, true};
  bool RetRateSet[2] = {true, true};
  // The administrator's own tax identifier (country code first): whether
  // withholding applies rests on it.
  std::string FirmTaxId;
};

// The request the parameter screen's four values make, with the session's
// tax rates and the administrator's tax identifier (session/session.h).
SettlementRequest ParameterRequest();

// The exit check of every form screen: 0 accepts the screen, nonzero sends
// the operator back to its first editable field.  Only screen 1, the
// parameter screen, is checked: `request` becomes ParameterRequest() (also
// when the check then refuses) and is checked; other screens and Escape
// leave it alone.
int16_t CheckParameters(int16_t& screen, KeyCode& key, SettlementRequest& request);
// CheckParameters with a request of its own: the form driver's exit check
// (settle/hooks.h).
int16_t CheckParameterScreen(int16_t& screen, KeyCode& key);

// Screen 2 over the parameter screen: what the pass will do for `request`
// (the date, the range and how many properties the property file holds in
// it, the rates of tax index 0 and 1, the administrator's tax identifier),
// and the operator's answer; true only for "S".
bool ConfirmSettlement(const SettlementRequest& request);
