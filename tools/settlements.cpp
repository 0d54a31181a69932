// settlements - the settlement journal of a suite root: the passes, their
// statements, and the undo of a pass.
//
//   settlements --root=DIR list
//   settlements --root=DIR show ID [--property=N] [--csv | --html]
//   settlements --root=DIR undo ID
//   settlements --root=DIR taxes --year=Y [--quarter=Q] [--owners] [--property=N] [--csv | --html]
//
// Its options, --help text and manual page come from
// tools/settlements.help.  The journal's records and what they hold are
// described in settle/JOURNAL.md; the statements are made by
// settle/statement.h, the undo by settle/undo.h and the taxes report by
// settle/taxes.h, this file reads the command line, opens the files and
// writes what they give.  list and show only read, and open the journal
// alone; taxes reads the properties file too, when it is there, for a name
// or tax identifier the journal lacks; undo opens the six files as well.
// A missing file is reported, never created.  What a clerk reads is in the
// language of the suite's settings; the messages about the command line
// are English, as its help.  Exit codes: 0 done, 1 refused or failed, 2
// wrong use.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "data/data.h"
#include "history/statement.h"
#include "history/taxes.h"
#include "history/undo.h"
#include "input/dates.h"
#include "platform/console.h"
#include "platform/platform.h"
#include "session/language.h"
#include "session/session.h"
#include "session/settings.h"
#include "settle/journal.h"
#include "settle/listing.h"
#include "settle/records.h"
#include "settlements_help.h"
#include "tools/arguments.h"

namespace {

const ProgramHelp& kHelp = kProgramHelp;

bool finished = false;

// The data layer ends the program on a file it cannot open, after its
// message on the error output.
void ReportUnexpectedEnd() {
  if (!finished)
    std::fprintf(stderr, "settlements: %s\n",
                 Cp850ToUtf8(Translate("NO ES PODEN OBRIR ELS FITXERS DE DADES")).c_str());
}

// The listing's lines with the stored texts in them (names, descriptions,
// the station's name), control characters made visible.
void Print(const std::string& cp850) { std::fputs(Cp850ToUtf8(VisibleText(cp850, true)).c_str(), stdout); }

// A refusal or a failure for the clerk: the message, exit code 1.
int Refused(const std::string& cp850) {
  std::string text = Cp850ToUtf8(cp850);
  if (!text.empty() && text.back() == '\n') text.pop_back();
  std::fprintf(stderr, "settlements: %s\n", text.c_str());
  return 1;
}

struct Invocation {
  std::string root;  // ending in "/"
  std::vector<std::string> operands;
  long property = -1;
  long year = 0, quarter = 0;
  bool csv = false, html = false, owners = false;
};

// The session of the suite root: its language (the station's settings
// when KALTMP is set, else the suite's), owner name and station folder.
void StartSession(const std::string& root) {
  Session.root = root;
  ModuleName = "TARPELIX";
  std::string station = GetEnv("KALTMP");
  if (!station.empty() && station.back() != '/' && station.back() != '\\') station += '/';
  Session.tempDir = station.empty() ? root + "TMP/" : station;
  if (!station.empty()) Session.language = GetIni("Idioma", "Sistema", station + "VorkTerm.ini");
  if (Trimmed(Session.language).empty()) Session.language = GetIni("Idioma", "Usuari", root + "Vork.ini");
  Session.language.resize(3, ' ');  // a 3-letter code, as the program keeps it
  Session.ownerName = GetIni("Propietari", "Dades", root + "Vork.ini");
  Session.firmTaxId = GetIni("NIF", "Administrador", root + "Vork.ini");
}

// Opens the journal, and for `all` the six files first; false (with the
// message written) when one of them is missing.
bool OpenFiles(const std::string& root, bool all, bool& journal) {
  std::vector<SettlementFile> files;
  if (all) files.assign(std::begin(kSettlementFiles), std::end(kSettlementFiles));
  for (const SettlementFile& f : files) {
    std::string path = HostPath(root + "DADES/" + f.name + ".dat");
    if (!FileExists(path)) {
      Refused(Translate("NO EXISTEIX EL FITXER DE DADES ") + Utf8ToCp850(path));
      return false;
    }
  }
  journal = FileExists(HostPath(root + "DADES/" + kJournalFile.name + ".dat"));
  if (journal) files.push_back(kJournalFile);
  ConsoleStartVirtual();
  std::atexit(ReportUnexpectedEnd);
  // list and show only read: a user who may read the suite root and not
  // write it reads the journal.
  if (!all) DataFiles.openMode = B_MODE_READ_ONLY;
  for (const SettlementFile& f : files) {
    int16_t status = 0;
    OpenDataFile(status, f.record, root + "DADES\\" + f.name, f.number, f.size);
  }
  return true;
}

// The data left as the program leaves it: no transaction open, no lock
// record of this station, every file closed.
int Finish(int code) {
  finished = true;
  EndDataInOrder();
  return code;
}

std::string StatusText(int16_t status) {
  return Translate("ERROR DEL GESTOR DE FITXERS, ESTAT") + " " + std::to_string(status);
}

long PassId(const std::string& text) {
  long id = 0;
  if (!ParseNumber(text, 1, kLastPassId, id))
    WrongUse(kHelp, "the pass number must be a whole number from 1 to " + std::to_string(kLastPassId) +
                        ", not '" + text + "'");
  return id;
}

int List(const Invocation& call) {
  bool journal = false;
  if (!OpenFiles(call.root, false, journal)) return 1;
  std::string text;
  int16_t status = PassListText(text);
  if (status != 0) return Finish(Refused(StatusText(status)));
  Print(text);
  return Finish(0);
}

int Show(const Invocation& call) {
  long id = PassId(call.operands[0]);
  bool journal = false;
  if (!OpenFiles(call.root, false, journal)) return 1;
  if (!journal) return Finish(Refused(NoSuchPassText(id)));
  StatementFormat format = call.csv    ? StatementFormat::kCsv
                           : call.html ? StatementFormat::kHtml
                                       : StatementFormat::kText;
  std::string property =
      call.property >= 0 ? PackedFromNumber(static_cast<int>(call.property)) : std::string();
  std::string text, problem;
  int16_t status = StatementText(id, property, format, text, problem);
  if (status != 0) return Finish(Refused(problem.empty() ? StatusText(status) : problem));
  Print(text);
  return Finish(0);
}

int Taxes(const Invocation& call) {
  if (call.year == 0) WrongUse(kHelp, "taxes needs the year (--year=Y)");
  bool journal = false;
  if (!OpenFiles(call.root, false, journal)) return 1;
  TaxReport report;
  report.period = TaxPeriod{static_cast<int>(call.year), static_cast<int>(call.quarter)};
  std::string property =
      call.property >= 0 ? PackedFromNumber(static_cast<int>(call.property)) : std::string();
  report.property = property;
  if (journal) {
    // Today's properties file, read only, for what the journal lacks.
    for (const SettlementFile& f : kSettlementFiles) {
      int16_t status = 0;
      if (f.number == kFileProperties && FileExists(HostPath(call.root + "DADES/" + f.name + ".dat")))
        OpenDataFile(status, f.record, call.root + "DADES\\" + f.name, f.number, f.size);
    }
    int16_t status = GatherTaxes(report.period, property, report);
    if (status != 0) return Finish(Refused(StatusText(status)));
    if (report.newerFormat != 0) return Finish(Refused(NewerJournalText(report.newerFormat)));
  }
  StatementFormat format = call.csv    ? StatementFormat::kCsv
                           : call.html ? StatementFormat::kHtml
                                       : StatementFormat::kText;
  Print(TaxReportText(report, format, call.owners));
  // The CSV stays a table: what a clerk must know goes to the error output.
  if (format == StatementFormat::kCsv) {
    std::string notes = report.lines.empty() ? NoTaxPassText(report) + "\n" : TaxWarningsText(report);
    if (!notes.empty()) std::fputs(Cp850ToUtf8(notes).c_str(), stderr);
  }
  return Finish(0);
}

bool waitShown = false;
void ShowWait() {
  if (waitShown) return;
  waitShown = true;
  std::fprintf(stderr, "settlements: %s\n", Cp850ToUtf8(UndoWaitText()).c_str());
}

int Undo(const Invocation& call) {
  long id = PassId(call.operands[0]);
  // Its record updates are logged in the suite root's "db.log", beside
  // the program's, wherever the clerk started the tool.
  if (!ChangeDirectory(call.root)) return Refused(Translate("NO EXISTEIX LA CARPETA ") + HostPath(call.root));
  bool journal = false;
  if (!OpenFiles(call.root, true, journal)) return 1;
  if (!journal) return Finish(Refused(NoSuchPassText(id)));
  UndoWait.waiting = ShowWait;
  // Ctrl+C, SIGTERM or a closed terminal end the undo between two steps:
  // the property in hand rolled back, the lock records freed.  Running it
  // again completes it.
  InstallEndSignals();
  UndoResult result = UndoPass(id);
  std::string report = UndoReportText(id, result);
  if (result.outcome != UndoOutcome::kUndone) return Finish(Refused(report));
  Print(report);
  return Finish(0);
}

struct Command {
  const char* name;
  size_t operands;
  std::vector<int> options;  // besides --root
  int (*run)(const Invocation&);
};

const Command kCommands[] = {
    {"list", 0, {}, List},
    {"show", 1, {kOptionProperty, kOptionCsv, kOptionHtml}, Show},
    {"undo", 1, {}, Undo},
    {"taxes",
     0,
     {kOptionYear, kOptionQuarter, kOptionOwners, kOptionProperty, kOptionCsv, kOptionHtml},
     Taxes},
};

}  // namespace

int main(int argc, char** argv) {
  const CommandLine line = ReadCommandLine(argc, argv, kHelp);
  const Command* command =
      &ChosenCommand(line, kCommands, kHelp, "no command given (list, show ID, undo ID or taxes)");
  Invocation call;
  call.operands.assign(line.operands.begin() + 1, line.operands.end());
  if (call.operands.size() != command->operands)
    WrongUse(kHelp, std::string(command->name) +
                        (command->operands == 0 ? " takes no argument" : " needs the pass number ID"));
  for (const CommandLineOption& option : line.options) {
    if (option.option == kOptionRoot) {
      call.root = Utf8ToCp850(option.value);
      continue;
    }
    bool applies = false;
    for (int o : command->options) applies = applies || o == option.option;
    if (!applies) WrongUse(kHelp, "option '" + option.name + "' does not apply to " + command->name);
    if (option.option == kOptionProperty && !ParseNumber(option.value, 0, 9999, call.property))
      WrongUse(kHelp, "--property needs a property number from 0 to 9999, not '" + option.value + "'");
    if (option.option == kOptionYear && !ParseNumber(option.value, 1, 9999, call.year))
      WrongUse(kHelp, "--year needs a year from 1 to 9999, not '" + option.value + "'");
    if (option.option == kOptionQuarter && !ParseNumber(option.value, 1, 4, call.quarter))
      WrongUse(kHelp, "--quarter needs a quarter from 1 to 4, not '" + option.value + "'");
    if (option.option == kOptionOwners) call.owners = true;
    if (option.option == kOptionCsv) call.csv = true;
    if (option.option == kOptionHtml) call.html = true;
  }
  if (call.csv && call.html) WrongUse(kHelp, "--csv and --html exclude each other");
  if (call.root.empty()) WrongUse(kHelp, "the suite root is missing (--root=DIR)");
  if (call.root.back() != '/' && call.root.back() != '\\') call.root += '/';
  // Absolute, so that it still names the root once the undo has made the
  // root the current directory.
  if (call.root[0] != '/' && call.root[0] != '\\') call.root = CurrentDirectory() + "/" + call.root;
  StartSession(call.root);
  if (!DirectoryExists(HostPath(call.root)))
    return Refused(Translate("NO EXISTEIX LA CARPETA ") + HostPath(call.root));
  return command->run(call);
}
