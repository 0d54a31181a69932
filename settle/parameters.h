// parameters.h - the settlement parameters and the check that sets them when
// the parameter screen is accepted.
#pragma once
#include <cstdint>
#include <string>

#include "input/keys.h"

// Set by CheckParameters from the parameter screen, read by the settlement
// pass.
extern std::string SettlementDate;  // packed date, 4 bytes
extern std::string LowerOwnerKey;   // packed owner code, 4 bytes: first property, owner 0001
extern std::string UpperOwnerKey;   // packed owner code, 4 bytes: last property, owner 9999
extern int16_t CarryConcept;        // concept that receives the carried-over balance

// The exit check of every form screen: 0 accepts the screen, nonzero sends
// the operator back to its first editable field.
int16_t CheckParameters(int16_t& screen, KeyCode& key);
