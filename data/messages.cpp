// messages.cpp - the data layer's own messages and its orderly end.
//
// The data layer speaks to the operator without the language file: each of
// its messages carries the four texts of the suite's languages, in code page
// 850 like every other text of the program.
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "data/data.h"
#include "data/locks.h"
#include "input/keys.h"
#include "platform/console.h"
#include "platform/platform.h"
#include "session/session.h"

namespace {

// Catalan is the language of any code other than the three below.
std::string ByLanguage(const char* catalan, const char* spanish, const char* galician, const char* aranese) {
  std::string code = Session.language.substr(0, 3);
  if (code == "SPA") return spanish;
  if (code == "GLG") return galician;
  if (code == "OCI") return aranese;
  return catalan;
}

}  // namespace

std::string OpenFailureText() {
  return ByLanguage("NO ES POT ACCEDIR AL FITXER ", "NO SE PUEDE ACCEDER AL FICHERO ",
                    "NOM SE PODE ACEDER AO FICHEIRO ", "NON SE P\xE3T ACCEDIR ATH FICH\xD4R ");
}

std::string LockWaitText() {
  return ByLanguage("FITXER BLOQUEJAT. ESPEREU UN MOMENT.", "FICHERO BLOQUEADO. ESPERE UN MOMENTO.",
                    "FICHEIRO BLOQUEADO. ESPERE UM MOMENTO.", "FICH\xD4R BLOQUEJAT. ESPERATZ UN MOMENT.");
}

std::string FolderFailureText() {
  return ByLanguage("NO ES POT ACCEDIR A LA CARPETA ", "NO SE PUEDE ACCEDER A LA CARPETA ",
                    "NOM SE PODE ACEDER AO CARTAFOL ", "NON SE P\xE3T ACCEDIR A ERA CARPETA ");
}

std::string FileProblemText(const std::string& path, int error, bool folder) {
  std::string reason = error == ELOOP ? ByLanguage("\x90S UN ENLLA\x80 SIMB\xE3LIC: NO S'HI ESCRIU",
                                                   "ES UN ENLACE SIMB\xE0LICO: NO SE ESCRIBE EN \x90L",
                                                   "\x90 UNHA LIGAZ\xE0N SIMB\xE0LICA: NON SE ESCRIBE NELA",
                                                   "\x90S UN LIGAM SIMBOLIC: NON S'I ESCRIU")
                                      : SystemErrorText(error);
  return (folder ? FolderFailureText() : OpenFailureText()) + Utf8ToCp850(HostPath(path)) + ": " + reason;
}

DataMessageHooks DataMessages;

bool ShowDataMessage(int row, const std::string& text) {
  return DataMessages.show != nullptr && DataMessages.show(row, text);
}

void CloseDataMessage() {
  if (DataMessages.close) DataMessages.close();
}

std::string DamagedFolderText(const std::string& folder) {
  std::string where = Utf8ToCp850(folder);
  return ByLanguage("LA CARPETA DE DADES ", "LA CARPETA DE DATOS ", "O CARTAFOL DE DATOS ",
                    "ERA CARPETA DE DADES ") +
         where +
         ByLanguage(" EST\xB7 MALMESA O HA ESTAT CANVIADA: NO S'HI HA ESCRIT RES. EXECUTEU recutil check.",
                    " EST\xB5 DA\xA5"
                    "ADA O HA SIDO CAMBIADA: NO SE HA ESCRITO NADA. EJECUTE recutil check.",
                    " EST\xB5 DANADO OU FOI CAMBIADO: NON SE ESCRIBIU NADA. EXECUTE recutil check.",
                    " EST\xB7 MALMESA O A ESTAT CAMBIADA: NON S'I A ESCRIT ARRES. EXECUTATZ recutil check.");
}

std::string FailureDetail() {
  if (!DataFiles.failureKnown) return std::string();
  return Utf8ToCp850(RecmanDiagnosticText(DataFiles.failure));
}

std::string WithFailureDetail(const std::string& message) {
  std::string detail = FailureDetail();
  if (detail.empty()) return message;
  // ShowMessage breaks lines of 76 at blanks: a first line padded to 76
  // with a blank at its end stays whole and the detail starts the next.
  std::string first = message;
  if (first.size() < 76) first.resize(76, ' ');
  return first + detail;
}

namespace {

// A message the operator has to read: on `row`, a beep, a key.
void TellAndWait(int row, const std::string& message) {
  bool shown = ShowDataMessage(row, message);  // a message too tall shows nothing
  if (!DataMessages.show) std::fprintf(stderr, "%s\n", Cp850ToUtf8(message).c_str());
  Beep();
  FlushKeys();
  KeyCode key = 0;
  WaitKey(key);
  if (shown) CloseDataMessage();
}

bool gEndingData = false;

}  // namespace

void EndOnDataError(const std::string& message) {
  TellAndWait(12, message);
  // The program's ordinary files are stdio streams or closed by their
  // owners' destructors; what is buffered goes out here.
  std::fflush(nullptr);
  EndDataInOrder();
  ConsoleStop();
  std::exit(1);
}

void EndDataInOrder() {
  // A failure inside these steps ends the program through EndOnDataError,
  // which comes back here: each step is taken once.
  if (gEndingData) return;
  gEndingData = true;
  if (DataFiles.inTransaction) AbortTransaction();
  EndStationRun();
  int16_t status = 0;
  ResetDataFiles(status);
  gEndingData = false;
}

void RegisterDataEnd() { AtOrderlyEnd(EndDataInOrder); }

void NoteUpdateLogFailure(const std::string& path, int error) {
  if (DataFiles.updateLogFailureTold || !DataFiles.heldNotice.empty()) return;
  DataFiles.heldNotice = FileProblemText(path, error);
  ShowHeldDataNotice();
}

void ShowHeldDataNotice() {
  if (DataFiles.inTransaction || DataFiles.heldNotice.empty()) return;
  std::string message;
  message.swap(DataFiles.heldNotice);
  DataFiles.updateLogFailureTold = true;
  TellAndWait(24, message);
}
