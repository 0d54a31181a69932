// program.cpp - the program's main sequence.
//
// Every way out of the program goes through ConsoleStop, so that the
// terminal is given back as it was found: the normal end does it itself,
// the start-up failures here go through StopProgram, and an exit from deeper
// layers (a data file that cannot be opened) runs the handler registered
// with atexit.
#include "app/program.h"

#include <cstdio>
#include <cstdlib>

#include "app/form.h"
#include "app/form_reader.h"
#include "app/language.h"
#include "app/session.h"
#include "data/data.h"
#include "platform/console.h"
#include "platform/platform.h"
#include "settle/records.h"
#include "settle/settlement.h"

namespace {

void RestoreTerminal() { ConsoleStop(); }

// Ends the program after a start-up failure: terminal restored, message on
// the error output.
[[noreturn]] void StopProgram(const std::string& message) {
  ConsoleStop();
  std::fprintf(stderr, "tarpelix: %s\n", Cp850ToUtf8(message).c_str());
  std::exit(EXIT_FAILURE);
}

void OpenSettlementFiles() {
  for (const SettlementFile& file : kSettlementFiles) {
    int16_t status = 0;
    // A file that cannot be opened ends the program inside the data layer.
    OpenDataFile(status, file.record, Session.root + "DADES\\" + file.name, file.number, file.size);
  }
}

}  // namespace

int TarpelixMain() {
  if (!ConsoleStartTerminal())
    StopProgram("no hi ha cap terminal de text disponible (cal executar el programa en un terminal)");
  std::atexit(RestoreTerminal);
  ConsoleShowCursor(false);

  SetupSession();
  if (!Session.root.empty() && !ChangeDirectory(Session.root))
    StopProgram(Translate("NO EXISTEIX LA CARPETA ") + HostPath(Session.root) + " (KALROOT)");
  ModuleName = "TARPELIX";

  std::string problem;
  if (!ReadFormFile(Session.root + "FORMS\\" + ModuleName + ".JPN", problem)) StopProgram(problem);
  GiveParameterDefaults();
  CreateWorkTables();
  OpenSettlementFiles();
  ReadTaxRates();

  RunSettlement();

  int16_t status = 0;
  ResetDataFiles(status);
  ConsoleStop();
  return 0;
}
