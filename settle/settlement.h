// settlement.h - the fee settlement: the dialogue loop on the parameter
// screen and the settlement pass over a range of properties.
#pragma once
#include <cstdint>
#include <string>

// VAT and withholding percentages (16 means 16 %), index = the property's
// tax index; read once at start from "Vork.ini".
extern float IvaRate[2];
extern float RetRate[2];

// Creates the settlement's work tables (once, at start).
void CreateWorkTables();
// The dialogue loop: parameter screen, confirmation, settlement pass; returns
// when the operator leaves the parameter screen with Escape.
void RunSettlement();
