// parameters.cpp - the settlement parameters and their check.
//
// Placeholder: the check accepts every screen until the parameter check is
// built; the parameters keep their initial values.
#include "settle/parameters.h"

std::string SettlementDate;
std::string LowerOwnerKey;
std::string UpperOwnerKey;
int16_t CarryConcept = 0;

int16_t CheckParameters(int16_t& screen, KeyCode& key) {
  (void)screen;
  (void)key;
  return 0;
}
