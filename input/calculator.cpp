// calculator.cpp - placeholder: no calculator yet, so nothing is typed.
#include "input/calculator.h"
std::string Calculator() { return ""; }
