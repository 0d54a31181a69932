// demodata - fills a suite root's data files with demonstration data, and
// with --init first makes a new suite root from the demonstration one.
//
//   demodata --root=DIR [--init[=DEMO]] [--seed=N] [--properties=N] [--owners=N]
//            [--collections=N] [--payments=N] [--date=DDMMYYYY] [--force]
//
// Its options, --help text and manual page come from tools/demodata.help.
// DIR is a suite root holding the data dictionaries in ddf/ (the demo's are
// in demo/ddf/); the data files are created in DIR/DADES/ through the record
// manager.  The same options and seed always give the same records.  Without
// --force, data files that already hold records are left alone and the
// program ends with an error.  Exit codes: 0 done, 1 the data could not be
// written, 2 wrong command line.  Its messages are Catalan, as the data
// layer's; the command line is English, as its help.
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "app/installation.h"
#include "demodata_help.h"
#include "generator/demo_data.h"
#include "platform/console.h"
#include "platform/platform.h"
#include "session/session.h"
#include "session/settings.h"
#include "tools/arguments.h"

namespace {

bool finished = false;

void Say(FILE* out, const std::string& cp850) { std::fprintf(out, "%s\n", Cp850ToUtf8(cp850).c_str()); }

// The data layer ends the program itself when a data file cannot be opened
// (its message goes to the console, which here is a virtual one).
void ReportUnexpectedEnd() {
  if (!finished) Say(stderr, "demodata: NO ES PODEN OBRIR ELS FITXERS DE DADES");
}

// A path as it can be typed into a shell: quoted when it holds anything
// but letters, digits and / . _ + -.
std::string ShellWord(const std::string& text) {
  bool plain = !text.empty();
  for (unsigned char c : text) plain = plain && (std::isalnum(c) || std::strchr("/._+-", c) != nullptr);
  if (plain) return text;
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// The program as it can be started from here: the "tarpelix" beside this
// tool (an installation's bin/) or one folder up (the build tree); the bare
// name when neither is there (then it is on PATH).
std::string ProgramPath() {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path self = fs::canonical("/proc/self/exe", error);
  if (error) return "tarpelix";
  for (const fs::path& candidate :
       {self.parent_path() / "tarpelix", self.parent_path().parent_path() / "tarpelix"})
    if (fs::is_regular_file(candidate, error)) return candidate.string();
  return "tarpelix";
}

// --init: makes `root` a new suite root, a copy of the demonstration suite
// root `demo` with its data, lock and station folders.  Only a new or empty
// folder is used, so that no suite root is ever overwritten.  The copy is
// made writable by its owner: the installed demonstration suite may be
// read-only, and the program writes below its suite root.
bool CopyDemoSuite(const std::string& demo, const std::string& root, std::string& problem) {
  namespace fs = std::filesystem;
  const fs::path from = HostPath(demo), to = HostPath(root);  // host paths
  std::error_code error;
  if (!fs::is_directory(from, error)) {
    problem = "NO EXISTEIX L'ARREL DE DEMOSTRACI\xE0 " + demo;
    return false;
  }
  if (fs::exists(to, error) && (!fs::is_directory(to, error) || !fs::is_empty(to, error))) {
    problem = "LA CARPETA " + root +
              " NO \x90S BUIDA: --init NOM\x90S FA UNA ARREL NOVA EN UNA CARPETA NOVA O BUIDA";
    return false;
  }
  fs::create_directories(to, error);
  // The demonstration's build helpers (the scripts that make its help and
  // dictionaries, their notes, the repository's attributes) are not part
  // of a suite root.
  auto helper = [](const fs::path& relative) {
    const std::string name = relative.filename().string();
    return name == ".gitattributes" || (name.rfind("make_", 0) == 0 && relative.extension() == ".py") ||
           relative == fs::path("ddf") / "README.md";
  };
  for (auto i = fs::recursive_directory_iterator(from, error);
       !error && i != fs::recursive_directory_iterator(); i.increment(error)) {
    const fs::path relative = fs::relative(i->path(), from, error);
    if (error || helper(relative)) continue;
    if (i->is_directory()) fs::create_directories(to / relative, error);
    else fs::copy_file(i->path(), to / relative, error);
  }
  for (const char* folder : {"DADES", "LOCKS", "TMP"})
    if (!error) fs::create_directories(to / folder, error);
  if (!error) {
    fs::permissions(to, fs::perms::owner_all, fs::perm_options::add, error);
    for (auto i = fs::recursive_directory_iterator(to, error);
         !error && i != fs::recursive_directory_iterator(); i.increment(error)) {
      const fs::perms add =
          i->is_directory() ? fs::perms::owner_all : fs::perms::owner_read | fs::perms::owner_write;
      fs::permissions(i->path(), add, fs::perm_options::add, error);
    }
  }
  if (error) {
    problem = "NO ES POT COPIAR " + demo + " A " + root + ": " + Utf8ToCp850(error.message());
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  DemoDataOptions options;
  bool init = false;
  std::string demo;
  const CommandLine line = ReadCommandLine(argc, argv, kProgramHelp);
  for (const CommandLineOption& option : line.options) {
    auto number = [&](long low, long high) -> long {
      long v = 0;
      if (!ParseNumber(option.value, low, high, v))
        WrongUse(kProgramHelp, option.name + " needs a number from " + std::to_string(low) + " to " +
                                   std::to_string(high) + ", not '" + option.value + "'");
      return v;
    };
    switch (option.option) {
      case kOptionRoot: options.root = Utf8ToCp850(option.value); break;
      case kOptionInit:
        init = true;
        demo = Utf8ToCp850(option.value);
        break;
      case kOptionSeed: options.seed = static_cast<uint64_t>(number(0, 2147483647L)); break;
      case kOptionProperties: options.properties = static_cast<int>(number(1, 9999)); break;
      case kOptionOwners: options.ownersMin = options.ownersMax = static_cast<int>(number(1, 999)); break;
      case kOptionCollections: options.collections = static_cast<int>(number(0, 1000)); break;
      case kOptionPayments: options.payments = static_cast<int>(number(0, 10000)); break;
      case kOptionDate: options.date = option.value; break;
      case kOptionForce: options.force = true; break;
    }
  }
  if (!line.operands.empty()) WrongUse(kProgramHelp, "unexpected argument '" + line.operands[0] + "'");
  if (options.root.empty()) WrongUse(kProgramHelp, "the suite root is missing (--root=DIR)");
  std::string problem = DemoDataOptionsProblem(options);
  if (!problem.empty()) WrongUse(kProgramHelp, Cp850ToUtf8(problem));

  if (options.root.back() != '/' && options.root.back() != '\\') options.root += '/';
  if (init) {
    if (demo.empty()) demo = InstalledDemoRoot();
    if (demo.empty()) {
      Say(stderr,
          "demodata: NO HI HA CAP ARREL DE DEMOSTRACI\xE0 INSTAL\xFALADA AMB EL PROGRAMA: DONEU-NE UNA AMB "
          "--init=CARPETA");
      return 1;
    }
    if (!CopyDemoSuite(demo, options.root, problem)) {
      Say(stderr, "demodata: " + problem);
      return 1;
    }
    Say(stdout, "demodata: arrel de demostraci\xA2 copiada de " + demo + " a " + options.root);
  }

  // The data layer speaks through the console: a virtual one keeps the
  // terminal out of it.
  ConsoleStartVirtual();
  std::atexit(ReportUnexpectedEnd);
  // Files created with an owner name are opened with the suite's.
  Session.ownerName = GetIni("Propietari", "Dades", options.root + "Vork.ini");

  DemoDataSummary summary;
  bool ok = GenerateDemoData(options, summary, problem);
  finished = true;
  if (!ok) {
    Say(stderr, "demodata: " + problem);
    return 1;
  }
  std::printf(
      "demodata: %ld conceptes, %ld finques, %ld notes, %ld propietaris, %ld cobraments, "
      "%ld pagaments a %s\n",
      summary.concepts, summary.properties, summary.notes, summary.owners, summary.collections,
      summary.payments, HostPath(options.root + "DADES").c_str());
  if (init) {
    const std::string root = HostPath(options.root);
    std::printf("demodata: per engegar-hi el programa: KALROOT=%s KALTMP=%s %s\n", ShellWord(root).c_str(),
                ShellWord(root + "TMP/").c_str(), ShellWord(ProgramPath()).c_str());
  }
  return 0;
}
