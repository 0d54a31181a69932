// session.h - the session values taken at start from the environment and
// the suite's settings files, read by every part of the program.  They are
// filled once by SetupSession (app/session_setup.h); the folders below app
// only read them.
#pragma once
#include <cstdint>
#include <string>

struct SessionState {
  // Directories end with "\" (or "/", ":") unless empty; one given relative
  // to the start directory is made absolute, since the program then makes
  // the root its current directory.
  std::string root;     // KALROOT: paths are root + relative path
  std::string tempDir;  // KALTMP
  std::string terminalDir;
  std::string title;  // a blank, the configured title, a blank
  std::string menuName;
  std::string date;      // packed date, 4 bytes (blank date when unset)
  std::string language;  // 3 characters, blank-padded
  std::string mode;      // "CGI", "WIN" or "DOS"
  // The program that opens the HTML help pages on a "WIN" terminal, from
  // "VorkTerm.ini", section "Sistema", key "ObreDocument" (empty: the
  // desktop's own, xdg-open).
  std::string documentOpener;
  int16_t foreground[5] = {15, 7, 0, 0, 0};
  int16_t background[5] = {0, 0, 7, 7, 7};
  // The administrator's own tax identifier (country code first), from
  // "Vork.ini", section "Administrador", key "NIF".
  std::string firmTaxId;
  // The VAT and withholding percentages of tax index 0 and 1 (16 means
  // 16 %), from "Vork.ini", key "Honoraris" of the sections "Iva0", "Iva1",
  // "Ret0", "Ret1" (ReadTaxRates, app/program.h); and whether each is a
  // rate at all: its key is there with a number as its value.  Every one
  // is a rate of 0 until the settings are read, which the program always
  // does.
  float vatRates[2] = {0, 0}, withholdingRates[2] = {0, 0};
  bool vatRateSet[2] = {true, true}, withholdingRateSet[2] = {true, true};
  // The owner name the suite's data files were created with, from
  // "Vork.ini", section "Dades", key "Propietari".
  std::string ownerName;
};
extern SessionState Session;
