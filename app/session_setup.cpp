// session_setup.cpp - SetupSession: the session values from the environment and
// the settings files "Sessio.ini" and "VorkTerm.ini" (station) and
// "Vork.ini" (suite).
//
// Directories are kept the suite's way, ending with "\" (HostPath turns it
// into "/"); a value ending with "/" or ":" already ends properly.
#include "app/session_setup.h"

#include <cctype>
#include <cmath>

#include "input/dates.h"
#include "input/numbers.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "session/settings.h"

namespace {

constexpr const char* kDefaultColours = "15000700000700070007";

bool EndsAsDirectory(const std::string& path) {
  if (path.empty()) return true;
  char last = path.back();
  return last == '\\' || last == '/' || last == ':';
}

std::string AsDirectory(std::string path) {
  if (!EndsAsDirectory(path)) path += '\\';
  return path;
}

bool IsAbsolute(const std::string& path) {
  return !path.empty() && (path[0] == '/' || path[0] == '\\' || (path.size() >= 2 && path[1] == ':'));
}

// The program makes the suite root the current directory after the session
// is set up, so a directory given relative to the directory it was started
// in is made absolute now; otherwise files read at start and files written
// later would land in different places.
std::string Absolute(const std::string& path) {
  if (path.empty() || IsAbsolute(path)) return path;
  return CurrentDirectory() + "/" + path;
}

// The colour number written as the two characters at `offset` of a colour
// set text (0 when the text is shorter).
int16_t ColourNumber(const std::string& colours, size_t offset) {
  if (offset >= colours.size()) return 0;
  return static_cast<int16_t>(std::lround(NumericValue(colours.substr(offset, 2))));
}

}  // namespace

void SetupSession() {
  // The program's texts are code page 850 throughout; the platform layer
  // converts at the edges (file names, environment, console).

  // Paths are formed by appending to the suite root, so it ends with a
  // separator like the other directories.
  Session.root = AsDirectory(Absolute(GetEnv("KALROOT")));
  Session.tempDir = AsDirectory(Absolute(GetEnv("KALTMP")));

  const std::string sessionFile = Session.tempDir + "Sessio.ini";
  Session.title = " " + GetIni("Titol", "Menu", sessionFile) + " ";
  Session.menuName = GetIni("NomMenu", "Menu", sessionFile);
  Session.terminalDir = GetIni("Dir", "Terminal", sessionFile);
  if (Session.terminalDir.empty()) {
    // TERM names the terminal type on Linux ("xterm-256color"); it serves as
    // the terminal directory only when it names one.
    std::string term = GetEnv("TERM");
    if (!term.empty() && DirectoryExists(term)) Session.terminalDir = term;
  }
  Session.terminalDir = AsDirectory(Absolute(Session.terminalDir));
  if (Session.tempDir.empty()) Session.tempDir = Session.terminalDir;

  const std::string terminalFile = Session.tempDir + "VorkTerm.ini";
  long selection = std::lround(NumericValue(GetIni("Seleccio", "Pantalla", terminalFile)));
  std::string colours = GetIni("Col" + std::to_string(selection), "Pantalla", terminalFile);
  if (colours.empty()) colours = kDefaultColours;
  for (int k = 0; k < 5; ++k) {
    Session.foreground[k] = ColourNumber(colours, 4 * k);
    Session.background[k] = ColourNumber(colours, 4 * k + 2);
  }

  std::string date = GetIni("Data", "Sistema", terminalFile);
  Session.date = date.empty() ? PackDigits("00000000") : PackDigits(date);
  Session.language = FitToWidth(GetIni("Idioma", "Sistema", terminalFile), 3);
  Session.documentOpener = GetIni("ObreDocument", "Sistema", terminalFile);
  const std::string suiteFile = Session.root + "Vork.ini";
  if (Session.language == "   ") Session.language = FitToWidth(GetIni("Idioma", "Usuari", suiteFile), 3);
  // The code in any letter case: "spa" is Spanish.
  for (char& c : Session.language) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));

  if (!GetEnv("HTTP_USER_AGENT").empty() || !GetEnv("HTTP_ACCEPT").empty()) Session.mode = "CGI";
  else if (!GetEnv("WINDIR").empty() || !GetEnv("SYSTEMROOT").empty()) Session.mode = "WIN";
  else Session.mode = "DOS";

  Session.firmTaxId = GetIni("NIF", "Administrador", suiteFile);
  Session.ownerName = GetIni("Propietari", "Dades", suiteFile);
}
