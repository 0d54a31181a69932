// health_check.cpp - "tarpelix --check": what a technician setting up a
// station asks before the operator starts, answered without the screens.
//
// Every item the program needs is looked at as the program would use it,
// one line each: the suite root and the station's folder (KALROOT, KALTMP),
// the form file, the language file, the settings and their four rates, the
// data files and their dictionaries, the lock folder, the station's
// identity and the help pages.  A line starts with "ok" or "WRONG" and says
// what and where.  Nothing is written: the data files are opened for
// reading only, a missing one is said as the program will create it.  The
// report is the technician's, in English like the tools' (the operator's
// messages are the program's own, in the session's language).
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/form_reader.h"
#include "app/program.h"
#include "app/session_setup.h"
#include "data/data.h"
#include "platform/le.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "recman/recman.h"
#include "session/language.h"
#include "session/session.h"
#include "session/settings.h"
#include "settle/journal.h"
#include "settle/records.h"

namespace {

struct HealthReport {
  int wrong = 0;
  void Line(bool ok, const std::string& item, const std::string& detail) {
    if (!ok) ++wrong;
    std::printf("%-6s %s: %s\n", ok ? "ok" : "WRONG", item.c_str(), Cp850ToUtf8(detail).c_str());
  }
};

std::string Host(const std::string& path) { return Utf8ToCp850(HostPath(path)); }

// A folder the program writes in: its state in words, empty when usable.
std::string FolderProblem(const std::string& folder) {
  int error = 0;
  if (DirectoryUsable(folder, error)) return std::string();
  return Host(folder) + ": " + Utf8ToCp850(std::strerror(error));
}

void CheckEnvironment(HealthReport& r) {
  const std::string root = GetEnv("KALROOT"), station = GetEnv("KALTMP");
  if (root.empty()) {
    r.Line(FileExists("FORMS\\TARPELIX.JPN"), "KALROOT",
           "not set; the current folder " + CurrentDirectory() + " is the suite root");
  } else {
    r.Line(DirectoryExists(Session.root), "KALROOT",
           Host(Session.root) + (DirectoryExists(Session.root) ? "" : ": no such folder"));
  }
  if (station.empty()) {
    r.Line(true, "KALTMP",
           "not set; the station's files go to " + Host(Session.tempDir.empty() ? "." : Session.tempDir));
  } else {
    std::string problem = FolderProblem(Session.tempDir);
    r.Line(problem.empty(), "KALTMP", problem.empty() ? Host(Session.tempDir) : problem);
  }
}

void CheckForm(HealthReport& r) {
  const std::string path = Session.root + "FORMS\\TARPELIX.JPN";
  std::string problem;
  bool ok = ReadFormFile(path, problem);
  r.Line(ok, "form file", ok ? Host(path) : problem);
}

// The file `path` read into `contents`; when it cannot be read, false and
// the item's line: `ok` when the program does without it, `missing` what
// its absence means.
bool ReadFile(HealthReport& r, const std::string& item, const std::string& path, std::string& contents,
              bool ok, const std::string& missing) {
  if (ReadWholeFile(path, contents)) return true;
  r.Line(ok, item, Host(path) + ": " + missing);
  return false;
}

void CheckLanguage(HealthReport& r) {
  const std::string path = Session.root + "LOCALE\\TARPELIX.LNG";
  // Without it every text is Catalan: usable only when that is the language.
  bool catalan = Session.language.substr(0, 3) != "SPA" && Session.language.substr(0, 3) != "GLG" &&
                 Session.language.substr(0, 3) != "OCI";
  std::string text;
  if (!ReadFile(r, "language file", path, text, catalan, "missing (the texts are Catalan)")) return;
  long records = 0;
  for (size_t at = 0; at < text.size(); at = text.find('\n', at) + 1) {
    if (text[at] == '"') ++records;
    if (text.find('\n', at) == std::string::npos) break;
  }
  r.Line(
      records > 0, "language file",
      Host(path) + ": " + std::to_string(records) + " texts; the session's language is " + Session.language);
}

void CheckSettings(HealthReport& r) {
  const std::string path = Session.root + "Vork.ini";
  std::string text;
  if (!ReadFile(r, "settings", path, text, false, "missing (every rate would be 0)")) return;
  r.Line(true, "settings", Host(path));
  for (const char* section : {"Iva0", "Iva1", "Ret0", "Ret1"}) {
    const std::string value = GetIni("Honoraris", section, path);
    const double rate = NumericValue(value);
    bool ok = !TrimBlanks(value).empty() && rate >= 0 && rate < 100;
    r.Line(ok, std::string("rate ") + section,
           value.empty() ? "no key Honoraris in [" + std::string(section) + "]" : value + " %");
  }
}

// The dictionary of a data file: its create buffer's length in its first
// two bytes, then that many bytes.
std::string DictionaryProblem(const std::string& path) {
  std::string bytes;
  if (!ReadWholeFile(path, bytes)) return "missing";
  if (bytes.size() < 2) return "shorter than its length";
  size_t n = GetLe16(bytes.data());
  if (n < 16 || n > static_cast<size_t>(kDataBufferSize) || bytes.size() < n + 2)
    return "announces " + std::to_string(n) + " bytes and holds " + std::to_string(bytes.size() - 2);
  return std::string();
}

void CheckDataFiles(HealthReport& r) {
  std::vector<SettlementFile> files(std::begin(kSettlementFiles), std::end(kSettlementFiles));
  files.push_back(kJournalFile);
  const std::string owner = GetIni("Propietari", "Dades", Session.root + "Vork.ini");
  for (const SettlementFile& f : files) {
    const std::string dictionary = Session.root + "ddf\\" + f.name + ".xdf";
    const std::string problem = DictionaryProblem(dictionary);
    r.Line(problem.empty(), std::string("dictionary ") + f.name,
           Host(dictionary) + (problem.empty() ? "" : ": " + problem));
    const std::string path = Session.root + "DADES\\" + f.name + ".dat";
    const std::string host = HostPath(path);
    if (!FileExists(path)) {
      std::string folder = FolderProblem(Session.root + "DADES");
      r.Line(problem.empty() && folder.empty(), std::string("data file ") + f.name,
             Host(path) + ": missing; " +
                 (folder.empty() ? std::string("the program creates it from its dictionary")
                                 : "cannot be created: " + folder));
      continue;
    }
    unsigned char block[kPositionBlockSize] = {};
    std::string name = owner + '\0';
    uint32_t length = static_cast<uint32_t>(name.size());
    std::string key = host;
    int16_t status = key.size() < 256 ? BTRCALL(B_OPEN, block, name.data(), &length, key.data(),
                                                static_cast<uint8_t>(key.size()), B_MODE_READ_ONLY)
                                      : int16_t{B_INVALID_FILE_NAME};
    RecmanDiagnostic diagnostic;
    std::string detail;
    if (status != B_OK) {
      detail = ": " + StatusReasonText(status) + " (" + std::to_string(status) + ")";
      if (RecmanLastDiagnostic(diagnostic)) detail += "; " + Utf8ToCp850(RecmanDiagnosticText(diagnostic));
    } else {
      uint32_t none = 0;
      BTRCALL(B_CLOSE, block, nullptr, &none, nullptr, 0, 0);
    }
    r.Line(status == B_OK, std::string("data file ") + f.name, Host(path) + detail);
  }
}

void CheckLocks(HealthReport& r) {
  const std::string locks = Session.root + "LOCKS";
  if (!DirectoryExists(locks) && !FileExists(locks)) {
    std::string root = FolderProblem(Session.root.empty() ? "." : Session.root);
    r.Line(
        root.empty(), "lock folder",
        Host(locks) + ": missing; " + (root.empty() ? "made at the first lock" : "cannot be made: " + root));
    return;
  }
  std::string problem = FolderProblem(locks);
  r.Line(problem.empty(), "lock folder",
         problem.empty() ? Host(locks) + ": this user may write in it" : problem);
}

void CheckStation(HealthReport& r) {
  const std::string path = Session.tempDir + "LOCKS.TMP";
  const std::string noneYet = "none yet; drawn at the first start";
  std::string bytes;
  if (!ReadFile(r, "station identity", path, bytes, true, noneYet)) return;
  bool text = true;
  for (size_t i = 4; i < bytes.size() && i < 19; ++i) {
    unsigned char c = static_cast<unsigned char>(bytes[i]);
    text = text && c >= 0x20 && c != 0x7F;
  }
  int32_t id = bytes.size() >= 4 ? static_cast<int32_t>(GetLe32(bytes.data())) : 0;
  if (!text) {
    r.Line(false, "station identity", Host(path) + ": the station's name is not text; delete the file");
  } else if (id == 0) {
    r.Line(true, "station identity", Host(path) + ": " + noneYet);
  } else {
    r.Line(true, "station identity",
           Host(path) + ": station " + std::to_string(id) + " " + TrimBlanks(bytes.substr(4, 15)));
  }
}

void CheckHelp(HealthReport& r) {
  std::string topic = TrimBlanks(Session.menuName);
  if (topic.empty()) topic = "TARPELIX";
  for (const std::string& page : {topic, std::string("QOLAMENU")}) {
    const std::string path = Session.root + "AJUDA\\" + page + (Session.mode == "WIN" ? ".HTM" : ".HLP");
    bool there = FileExists(path);
    r.Line(there, "help " + page, Host(path) + (there ? "" : ": missing (F1 shows an empty page)"));
  }
}

}  // namespace

int HealthCheck() {
  SetupSession();
  ModuleName = "TARPELIX";
  HealthReport r;
  CheckEnvironment(r);
  // Paths below the root are formed from it; the current folder when unset.
  if (!Session.root.empty() && !ChangeDirectory(Session.root)) {
    std::printf("%d items wrong: the suite root cannot be used\n", r.wrong);
    return 1;
  }
  CheckForm(r);
  CheckLanguage(r);
  CheckSettings(r);
  CheckDataFiles(r);
  CheckLocks(r);
  CheckStation(r);
  CheckHelp(r);
  if (r.wrong == 0) std::printf("everything the program needs is usable\n");
  else std::printf("%d items wrong\n", r.wrong);
  return r.wrong == 0 ? 0 : 1;
}
