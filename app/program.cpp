// program.cpp - the program's main sequence.
//
// Every way out of the program goes through ConsoleStop, so that the
// terminal is given back as it was found: the normal end does it itself,
// the start-up failures here go through StopProgram, an exit from deeper
// layers (a data file that cannot be opened) runs the handler registered
// with atexit, and an end asked for by a signal runs the orderly end of
// the platform layer (InstallEndSignals).  The normal end, an end on a data
// error and an end on a signal all leave the data the same way
// (EndDataInOrder): no transaction open, no lock record of this station.
#include "app/program.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "app/form_reader.h"
#include "app/installation.h"
#include "app/session_setup.h"
#include "data/data.h"
#include "data/locks.h"
#include "platform/console.h"
#include "platform/platform.h"
#include "screen/form.h"
#include "screen/hooks.h"
#include "screen/windows.h"
#include "session/language.h"
#include "settle/hooks.h"
#include "settle/journal.h"
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

// The station's temporary folder (KALTMP; the current folder when none is
// given) must be a folder this user can write in: the station's identity,
// the window and list scratch files live there.  Said at start, with its
// path, rather than as a lock wait later.
void CheckTemporaryFolder() {
  const std::string folder = Session.tempDir.empty() ? CurrentDirectory() : Session.tempDir;
  int error = 0;
  if (DirectoryUsable(folder, error)) return;
  if (error == ENOENT)
    StopProgram(Translate("NO EXISTEIX LA CARPETA ") + Utf8ToCp850(HostPath(folder)) + " (KALTMP)");
  // A file in its place, a folder this user may not write: what and why.
  StopProgram(FolderFailureText() + Utf8ToCp850(HostPath(folder)) + " (KALTMP): " + SystemReasonText(error));
}

// Why there is no terminal to show the screens on, and what to do.
std::string TerminalProblemText() {
  const std::string type = GetEnv("TERM");
  switch (ConsoleTerminalProblem()) {
    case TerminalProblem::kNotATerminal:
      return Translate("NO HI HA CAP TERMINAL DE TEXT: EXECUTEU EL PROGRAMA EN UN TERMINAL");
    case TerminalProblem::kNoType:
      return Translate(
          "TERM NO DIU QUIN TERMINAL \x90S: DONEU A TERM EL TIPUS DEL TERMINAL (PER EXEMPLE xterm-256color)");
    case TerminalProblem::kUnknownType:
      return Translate("TIPUS DE TERMINAL DESCONEGUT: TERM=") + type +
             Translate(". DONEU A TERM EL TIPUS DEL TERMINAL (PER EXEMPLE xterm-256color)");
    default: return Translate("NO ES POT FER SERVIR EL TERMINAL: TERM=") + type;
  }
}

}  // namespace

int TarpelixMain() {
  // The session first (it only reads): a start that fails says so in the
  // session's language.
  SetupSession();
  ModuleName = "TARPELIX";
  if (!ConsoleStartTerminal()) StopProgram(TerminalProblemText());
  std::atexit(RestoreTerminal);
  ConsoleShowCursor(false);
  // The calls the lower folders make upward: message windows for the data
  // layer, pop-ups for the key reader, the parameter check and the record
  // lookups for the form driver and the browse list.
  InstallScreenHooks();
  InstallSettlementHooks();
  // From here on a closed terminal (SIGHUP), SIGINT or SIGTERM ends the
  // program in order: the property in hand rolled back, the station's lock
  // records freed, the terminal restored.
  InstallEndSignals();

  if (!Session.root.empty() && !ChangeDirectory(Session.root)) {
    std::string bare = Session.root;
    while (bare.size() > 1 && (bare.back() == '/' || bare.back() == '\\')) bare.pop_back();
    if (FileExists(bare))
      StopProgram(FolderFailureText() + Utf8ToCp850(HostPath(Session.root)) +
                  " (KALROOT): " + SystemReasonText(ENOTDIR));
    StopProgram(Translate("NO EXISTEIX LA CARPETA ") + Utf8ToCp850(HostPath(Session.root)) + " (KALROOT)");
  }
  // Before anything is written below the root.
  if (std::string problem = SuiteRootProblem(); !problem.empty()) StopProgram(problem);
  CheckTemporaryFolder();

  std::string problem;
  const std::string formFile = Session.root + "FORMS\\" + ModuleName + ".JPN";
  if (!ReadFormFile(formFile, problem) || !CheckParameterForm(formFile, problem)) StopProgram(problem);
  // A language that cannot be shown is said when the parameter screen is up.
  PostReason(LanguageSetupProblem());
  GiveParameterDefaults();
  CreateWorkTables();
  // A percentage nobody can have meant stops the program before any data
  // file is opened.
  if (std::string rates = ReadTaxRates(); !rates.empty()) StopProgram(rates);
  // The six files and the settlement journal; a file that cannot be opened
  // ends the program.
  OpenSettlementFiles(Session.root);
  OpenJournalFile(Session.root);
  // The station's identity and liveness in the lock folder, and what an
  // earlier run of it left there freed, before the first lock is needed.
  StationIdentity();

  RunSettlement();

  EndDataInOrder();
  ConsoleStop();
  return 0;
}
