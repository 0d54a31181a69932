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
#include "recman/recman.h"
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
                                      : SystemReasonText(error);
  return (folder ? FolderFailureText() : OpenFailureText()) + Utf8ToCp850(HostPath(path)) + ": " + reason;
}

std::string StatusReasonText(int16_t status) {
  switch (status) {
    case B_ACCESS_DENIED:
      return ByLanguage("ACC\x90S DENEGAT", "ACCESO DENEGADO", "ACCESO DENEGADO", "ACC\xD4S REFUSAT");
    case B_IO_ERROR:
      return ByLanguage("FITXER MALM\xD4S",
                        "FICHERO DA\xA5"
                        "ADO",
                        "FICHEIRO DANADO", "FICH\xD4R DAMATJAT");
    case B_FILE_NOT_FOUND: return ByLanguage("NO EXISTEIX", "NO EXISTE", "NON EXISTE", "NON EXIST\xD6S");
    case B_NOT_A_RECORD_FILE:
      return ByLanguage("NO \x90S UN FITXER DE DADES", "NO ES UN FICHERO DE DATOS",
                        "NON \x90 UN FICHEIRO DE DATOS", "NON \x90S UN FICH\xD4R DE DADES");
    case B_CREATE_IO_ERROR:
      return ByLanguage("NO ES POT CREAR", "NO SE PUEDE CREAR", "NON SE PODE CREAR", "NON SE P\xE3T CREAR");
    case B_INVALID_OWNER:
      return ByLanguage("NOM DE PROPIETARI INCORRECTE", "NOMBRE DE PROPIETARIO INCORRECTO",
                        "NOME DE PROPIETARIO INCORRECTO",
                        "NOM DE PROPIETARI INCORR\x90"
                        "CTE");
    case B_INVALID_FILE_NAME:
      return ByLanguage("NOM DE FITXER INCORRECTE", "NOMBRE DE FICHERO INCORRECTO",
                        "NOME DE FICHEIRO INCORRECTO",
                        "NOM DE FICH\xD4R INCORR\x90"
                        "CTE");
    case B_DISK_FULL: return ByLanguage("DISC PLE", "DISCO LLENO", "DISCO CHEO", "DISC PLEN");
    case B_FILE_LOCKED:
    case B_RECORD_LOCKED: return ByLanguage("BLOQUEJAT", "BLOQUEADO", "BLOQUEADO", "BLOQUEJAT");
    default:
      return ByLanguage("ERROR DEL GESTOR DE FITXERS", "ERROR DEL GESTOR DE FICHEROS",
                        "ERRO DO XESTOR DE FICHEIROS", "ERROR DETH GESTOR DE FICH\xD4RS");
  }
}

std::string SystemReasonText(int error) {
  std::string words;
  switch (error) {
    case ENOENT: words = StatusReasonText(B_FILE_NOT_FOUND); break;
    case ENOTDIR:
      words = ByLanguage("\x90S UN FITXER, NO UNA CARPETA", "ES UN FICHERO, NO UNA CARPETA",
                         "\x90 UN FICHEIRO, NON UN CARTAFOL", "\x90S UN FICH\xD4R, NON UNA CARPETA");
      break;
    case EACCES:
    case EPERM: words = StatusReasonText(B_ACCESS_DENIED); break;
    case EROFS:
      words = ByLanguage("DISC NOM\x90S DE LECTURA", "DISCO DE SOLO LECTURA", "DISCO S\xE0 DE LECTURA",
                         "DISC SONQUE DE LECTURA");
      break;
    case ENOSPC: words = StatusReasonText(B_DISK_FULL); break;
    default: return SystemErrorText(error);
  }
  return words + " (" + SystemErrorText(error) + ")";
}

std::string OpenFailureMessage(const std::string& givenPath, int16_t status,
                               const std::string& dictionaryProblem) {
  const std::string hostPath =
      givenPath.empty() || givenPath[0] == '/' ? givenPath : HostPath(CurrentDirectory()) + "/" + givenPath;
  const size_t slash = hostPath.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string(".") : hostPath.substr(0, slash);
  // The folder itself missing, or a file in its place: that is what to say.
  const std::string programFolder = Utf8ToCp850(folder);  // as the platform's calls take paths
  if (!DirectoryExists(programFolder))
    return FileProblemText(programFolder, FileExists(programFolder) ? ENOTDIR : ENOENT, true);
  std::string message = OpenFailureText() + Utf8ToCp850(hostPath) + ": ";
  if (!dictionaryProblem.empty()) return message + dictionaryProblem + " (" + std::to_string(status) + ")";
  message += StatusReasonText(status) + " (" + std::to_string(status) + ")";
  if (status == B_IO_ERROR || status == B_NOT_A_RECORD_FILE)
    message += ByLanguage(". EXECUTEU recutil check ", ". EJECUTE recutil check ", ". EXECUTE recutil check ",
                          ". EXECUTATZ recutil check ") +
               Utf8ToCp850(folder);
  return WithFailureDetail(message);
}

std::string StationIdentityProblemText(const std::string& hostPath) {
  const std::string path = Utf8ToCp850(hostPath);
  return ByLanguage("LA IDENTITAT DEL LLOC DE TREBALL A ", "LA IDENTIDAD DEL PUESTO DE TRABAJO EN ",
                    "A IDENTIDADE DO POSTO DE TRABALLO EN ",
                    "ERA IDENTITAT DETH L\xE3"
                    "C DE TRABALH EN ") +
         path +
         ByLanguage(" NO \x90S TEXT: ESBORREU EL FITXER I SE'N FAR\xB7 UNA DE NOVA",
                    " NO ES TEXTO: BORRE EL FICHERO Y SE HAR\xB5 UNA NUEVA",
                    " NON \x90 TEXTO: BORRE O FICHEIRO E FARASE UNHA NOVA",
                    " NON EI T\xD4XTE: ESBORRATZ ETH FICH\xD4R E SE'N HAR\xB7 UNA NAUA");
}

std::string DictionaryProblemText(const std::string& hostPath, bool missing) {
  return ByLanguage("EL DICCIONARI ", "EL DICCIONARIO ", "O DICIONARIO ", "ETH DICCIONARI ") +
         Utf8ToCp850(hostPath) + " " +
         (missing ? StatusReasonText(B_FILE_NOT_FOUND)
                  : ByLanguage("\x90S INCORRECTE", "ES INCORRECTO", "\x90 INCORRECTO",
                               "\x90S INCORR\x90"
                               "CTE"));
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
         ByLanguage(" EST\xB7 MALMESA O HA ESTAT CANVIADA. EXECUTEU recutil check ",
                    " EST\xB5 DA\xA5"
                    "ADA O HA SIDO CAMBIADA. EJECUTE recutil check ",
                    " EST\xB5 DANADO OU FOI CAMBIADO. EXECUTE recutil check ",
                    " EST\xB7 MALMESA O A ESTAT CAMBIADA. EXECUTATZ recutil check ") +
         where;
}

std::string FailureDetail() {
  if (!DataFiles.failureKnown) return std::string();
  return Utf8ToCp850(RecmanDiagnosticText(DataFiles.failure));
}

std::string WithFailureDetail(const std::string& message) {
  std::string detail = FailureDetail();
  if (detail.empty()) return message;
  // ShowMessage breaks lines of 76 at blanks: the message broken so, each
  // line padded to 76 with a blank at its end, stays as it is and the
  // detail starts a line of its own.
  std::string lines, line;
  size_t at = 0;
  while (at < message.size()) {
    size_t end = message.find(' ', at);
    std::string word = message.substr(at, end == std::string::npos ? std::string::npos : end - at);
    at = end == std::string::npos ? message.size() : end + 1;
    if (!line.empty() && line.size() + 1 + word.size() > 75) {
      line.resize(76, ' ');
      lines += line;
      line.clear();
    }
    line += (line.empty() ? "" : " ") + word;
  }
  if (line.size() < 76) line.resize(76, ' ');
  return lines + line + detail;
}

std::string AsOutputLines(const std::string& message) {
  std::string out;
  size_t blanks = 0;
  for (char c : message) {
    if (c == ' ') {
      ++blanks;
      continue;
    }
    // The blanks that pad a line of the message window end that line.
    out += blanks >= 2 ? std::string("\n") : std::string(blanks, ' ');
    blanks = 0;
    out += c;
  }
  return out;
}

namespace {

// A message the operator has to read: on `row`, a beep, a key.
void TellAndWait(int row, const std::string& message) {
  bool shown = ShowDataMessage(row, message);  // a message too tall shows nothing
  if (!DataMessages.show) std::fprintf(stderr, "%s\n", Cp850ToUtf8(AsOutputLines(message)).c_str());
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
  // On the error output too, where it outlives the screen (TellAndWait put
  // it there already when there is no screen to show it).
  if (DataMessages.show) std::fprintf(stderr, "%s\n", Cp850ToUtf8(AsOutputLines(message)).c_str());
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
