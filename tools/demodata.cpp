// demodata - fills a suite root's data files with demonstration data.
//
//   demodata --root DIR [--seed N] [--properties N] [--owners N]
//            [--collections N] [--payments N] [--date DDMMYYYY] [--force]
//
// DIR is a suite root holding the data dictionaries in ddf/ (the demo's are
// in demo/ddf/); the data files are created in DIR/DADES/ through the record
// manager.  The same options and seed always give the same records.  Without
// --force, data files that already hold records are left alone and the
// program ends with an error.  Exit codes: 0 done, 1 the data could not be
// written, 2 wrong command line.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/console.h"
#include "platform/platform.h"
#include "session/session.h"
#include "session/settings.h"
#include "settle/demo_data.h"
#include "tools/arguments.h"

namespace {

bool finished = false;

void Say(FILE* out, const std::string& cp850) { std::fprintf(out, "%s\n", Cp850ToUtf8(cp850).c_str()); }

// The data layer ends the program itself when a data file cannot be opened
// (its message goes to the console, which here is a virtual one).
void ReportUnexpectedEnd() {
  if (!finished) Say(stderr, "demodata: NO ES PODEN OBRIR ELS FITXERS DE DADES");
}

void Usage(FILE* out) {
  std::fputs(
      "\xC3\x9A"
      "s: demodata --root CARPETA [--seed N] [--properties N] [--owners N]\n"
      "                [--collections N] [--payments N] [--date DDMMAAAA] [--force]\n"
      "  --root CARPETA   arrel de la suite, amb els diccionaris a ddf/; les dades van a DADES/\n"
      "  --seed N         llavor: les mateixes opcions i llavor donen les mateixes dades (1)\n"
      "  --properties N   nombre de finques (12)\n"
      "  --owners N       propietaris per finca (per defecte entre 4 i 12)\n"
      "  --collections N  cobraments per propietari (3)\n"
      "  --payments N     pagaments per finca (6)\n"
      "  --date DDMMAAAA  data de liquidaci\xC3\xB3 al voltant de la qual es daten les dades (31122026)\n"
      "  --force          substitueix els registres dels fitxers que ja en tenen\n",
      out);
}

}  // namespace

int main(int argc, char** argv) {
  DemoDataOptions options;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&](const char* name) -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "demodata: falta el valor de %s\n", name);
        std::exit(2);
      }
      return argv[++i];
    };
    auto number = [&](const char* name, long low, long high) -> long {
      const char* text = value(name);
      long v = 0;
      if (!ParseNumber(text, low, high, v)) {
        std::fprintf(stderr, "demodata: %s ha de ser un nombre de %ld a %ld: %s\n", name, low, high, text);
        std::exit(2);
      }
      return v;
    };
    if (arg == "--root") {
      options.root = Utf8ToCp850(value("--root"));
    } else if (arg == "--seed") {
      options.seed = static_cast<uint64_t>(number("--seed", 0, 2147483647L));
    } else if (arg == "--properties") {
      options.properties = static_cast<int>(number("--properties", 1, 9999));
    } else if (arg == "--owners") {
      options.ownersMin = options.ownersMax = static_cast<int>(number("--owners", 1, 999));
    } else if (arg == "--collections") {
      options.collections = static_cast<int>(number("--collections", 0, 1000));
    } else if (arg == "--payments") {
      options.payments = static_cast<int>(number("--payments", 0, 10000));
    } else if (arg == "--date") {
      options.date = value("--date");
    } else if (arg == "--force") {
      options.force = true;
    } else if (arg == "--help" || arg == "-h") {
      Usage(stdout);
      return 0;
    } else {
      std::fprintf(stderr, "demodata: opci\xC3\xB3 desconeguda: %s\n", arg.c_str());
      Usage(stderr);
      return 2;
    }
  }
  std::string problem = DemoDataOptionsProblem(options);
  if (!problem.empty()) {
    Say(stderr, "demodata: " + problem);
    Usage(stderr);
    return 2;
  }

  // The data layer speaks through the console: a virtual one keeps the
  // terminal out of it.
  ConsoleStartVirtual();
  std::atexit(ReportUnexpectedEnd);
  if (options.root.back() != '/' && options.root.back() != '\\') options.root += '/';
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
      summary.payments, Cp850ToUtf8(HostPath(options.root + "DADES")).c_str());
  return 0;
}
