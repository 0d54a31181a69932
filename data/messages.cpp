// messages.cpp - the data layer's own messages and its orderly end.
//
// The data layer speaks to the operator without the language file: each of
// its messages carries the four texts of the suite's languages, in code page
// 850 like every other text of the program.
#include <cstdio>
#include <cstdlib>

#include "data/data.h"
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

void EndOnDataError(const std::string& message) {
  bool shown = ShowDataMessage(12, message);  // a message too tall shows nothing
  if (!DataMessages.show) std::fprintf(stderr, "%s\n", Cp850ToUtf8(message).c_str());
  Beep();
  FlushKeys();
  KeyCode key = 0;
  WaitKey(key);
  if (shown) CloseDataMessage();
  // The program's ordinary files are stdio streams or closed by their
  // owners' destructors; what is buffered goes out here.
  std::fflush(nullptr);
  int16_t status = 0;
  ResetDataFiles(status);
  ConsoleStop();
  std::exit(1);
}
