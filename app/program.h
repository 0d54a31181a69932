// program.h - the main sequence and the start-up steps it is made of.
#pragma once
#include <string>

// The program: start the console, set up the session, load the form, open
// the data files, run the settlement until the operator leaves it, close
// everything.  Returns the exit code (0; fatal start-up problems end the
// program with a message and a non-zero code, the console restored).
int TarpelixMain();

// The defaults of the parameter screen (screen 1): the session date as
// short date text, first property "1", last property "9999", carry-over
// concept "3", each fitted to its field's width.
void GiveParameterDefaults();

// Session.vatRates[0..1] and Session.withholdingRates[0..1] from the
// "Honoraris" key of the sections "Iva0", "Iva1", "Ret0", "Ret1" of KALROOT +
// "Vork.ini".  A rate is only one where the key is there with a number as
// its value (0 included): Session.vatRateSet and Session.withholdingRateSet
// say which are; the others are 0 and charge
// nothing, for the pass leaves the properties that need them untouched.
// A number outside 0..100 is no percentage anybody meant: the problem,
// naming the file, the section and the value, comes back ("" when none).
std::string ReadTaxRates();

// tarpelix --check: every item the program needs (the environment, the form
// and language files, the settings and rates, the data files and their
// dictionaries, the lock folder, the station's identity, the help pages),
// one line each on the output, without the screens and writing nothing.
// 0 when all is usable, 1 otherwise.
int HealthCheck();
