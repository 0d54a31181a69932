// balances - lists the owners' concept amounts and the properties'
// last-settlement dates, so that the result of a settlement can be seen and
// checked.
//
//   balances --root=DIR [--from=N] [--to=N] [--csv] [--stored]
//
// Its options, --help text and manual page come from tools/balances.help.
//
// DIR is the suite root (its data files are in DIR/DADES/).  For every
// property from N to N (1 to 9999 by default) the listing shows its
// last-settlement date and, per owner, the amounts of the eight concept
// slots, among them the carry-over concept the settlement writes.
//
// Amounts are stored in the currency's smallest unit (cents): 1234 stored is
// 12,34 euros.  The listing shows euros with two decimals, written with the
// suite's decimal and thousands characters (1.234'56 by default), or the
// stored units with --stored; the CSV (comma-separated,
// "." as the decimal point) gives both: c1..c8 as stored, c1_eur..c8_eur in
// euros.  Nothing is written to the data files.  Exit codes: 0 done, 1 the
// root or its data files are missing, 2 wrong command line.  The listing and
// its messages are the clerk's, in Catalan; the command line is English, as
// its help.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "balances_help.h"
#include "data/data.h"
#include "input/dates.h"
#include "platform/console.h"
#include "platform/platform.h"
#include "session/session.h"
#include "session/settings.h"
#include "settle/listing.h"
#include "settle/records.h"
#include "tools/arguments.h"

namespace {

bool finished = false;

// Euros as the suite writes numbers for people: its decimal and thousands
// characters (Vork.ini, [Usuari] DecCaracter and MilCaracter; "1.234'56"
// in the demo), as the program shows them.
std::string SuiteEuroText(long long cents) {
  LoadNumberPreferences();
  std::string text = EuroText(cents, false);
  for (char& c : text) c = c == ',' ? Preferences.DecCaracter : c == '.' ? Preferences.MilCaracter : c;
  return text;
}

void ReportUnexpectedEnd() {
  if (!finished) std::fprintf(stderr, "balances: NO ES PODEN OBRIR ELS FITXERS DE DADES\n");
}

std::string Utf8(const std::string& cp850) { return Cp850ToUtf8(cp850); }

constexpr size_t kAmountWidth = 13;

// What the command line asks for.
struct Listing {
  std::string root;  // ends in "/" or "\"
  long from = 1, to = 9999;
  bool csv = false, stored = false;
};

// The command line read and checked; a wrong one ends the program with
// status 2 and the reason.
Listing ReadListing(int argc, char** argv) {
  Listing listing;
  const CommandLine line = ReadCommandLine(argc, argv, kProgramHelp);
  for (const CommandLineOption& option : line.options) {
    switch (option.option) {
      case kOptionRoot: listing.root = Utf8ToCp850(option.value); break;
      case kOptionFrom:
      case kOptionTo:
        if (!ParseNumber(option.value, 0, 9999, option.option == kOptionFrom ? listing.from : listing.to))
          WrongUse(kProgramHelp,
                   option.name + " needs a property number from 0 to 9999, not '" + option.value + "'");
        break;
      case kOptionCsv: listing.csv = true; break;
      case kOptionStored: listing.stored = true; break;
    }
  }
  if (!line.operands.empty()) WrongUse(kProgramHelp, "unexpected argument '" + line.operands[0] + "'");
  if (listing.root.empty()) WrongUse(kProgramHelp, "the suite root is missing (--root=DIR)");
  if (listing.csv && listing.stored)
    WrongUse(kProgramHelp, "--csv and --stored go one without the other (the CSV gives both)");
  if (listing.from > listing.to)
    WrongUse(kProgramHelp, "the first property (" + std::to_string(listing.from) +
                               ") comes after the last (" + std::to_string(listing.to) + ")");
  if (listing.root.back() != '/' && listing.root.back() != '\\') listing.root += '/';
  return listing;
}

// Whether the root and the two data files the listing reads exist; the
// listing must not create missing files from the dictionaries as the
// program would.  Says on stderr what is missing.
bool DataFilesExist(const std::string& root) {
  if (!DirectoryExists(HostPath(root))) {
    std::fprintf(stderr, "balances: no existeix la carpeta %s\n", Utf8(root).c_str());
    return false;
  }
  for (const char* name : {"FinquesH", "PropietH"}) {
    std::string path = HostPath(root + "DADES/" + name + ".dat");
    if (!FileExists(path)) {
      std::fprintf(stderr, "balances: no existeix el fitxer de dades %s\n", Utf8(path).c_str());
      return false;
    }
  }
  return true;
}

void PrintHeading(const Listing& listing) {
  if (listing.csv) {
    std::printf("finca,descripcio,darrera_liquidacio,propietari");
    for (int n = 1; n <= 8; ++n) std::printf(",c%d", n);
    for (int n = 1; n <= 8; ++n) std::printf(",c%d_eur", n);
    std::printf("\n");
  } else {
    std::printf("SALDOS DELS PROPIETARIS - FINQUES %04ld A %04ld\n", listing.from, listing.to);
    std::printf(listing.stored
                    ? "Imports tal com es desen, en c\xC3\xA8ntims d'euro (1234 = 12,34 euros).\n"
                    : "Imports en euros; als fitxers es desen en c\xC3\xA8ntims (12,34 euros = 1234).\n");
  }
}

// The property record's line and the header of its owners' columns.
void PrintPropertyHeading(const std::string& digits, const std::string& description,
                          const std::string& date) {
  // Padded by characters, not bytes: an accented name (UTF-8 here) keeps
  // the date in its column.
  size_t characters = 0;
  for (unsigned char c : description) characters += (c & 0xC0) != 0x80;
  const std::string padding(characters < 32 ? 32 - characters : 0, ' ');
  std::printf("\nFINCA %s  %s%s DARRERA LIQUIDACI\xC3\x93: %s\n", digits.c_str(), description.c_str(),
              padding.c_str(), date.empty() ? "(sense data)" : date.c_str());
  std::printf("%-10s", "PROPIETARI");
  for (int n = 1; n <= 8; ++n)
    std::printf("%s", RightAligned("CONC. " + std::to_string(n), kAmountWidth).c_str());
  std::printf("\n");
}

// A row of eight amounts after its label: stored units or euros.
void PrintAmounts(const std::string& label, const long long (&amounts)[9], bool stored) {
  std::printf("%-10s", label.c_str());
  for (int n = 1; n <= 8; ++n) {
    std::string shown = stored ? std::to_string(amounts[n]) : SuiteEuroText(amounts[n]);
    std::printf("%s", RightAligned(shown, kAmountWidth).c_str());
  }
  std::printf("\n");
}

// The property in the property record: its line, one line per owner and
// the totals (in the CSV one line per owner, or one for a property without
// owners).
void ListProperty(const Listing& listing) {
  const std::string code = PropertyCode();
  const std::string digits = UnpackDigits(code);
  const std::string description = Utf8(VisibleText(Trimmed(PropertyDescription())));
  const std::string date = DayText(PropertyLastSettlement());
  if (!listing.csv) PrintPropertyHeading(digits, description, date);
  long long totals[9] = {};
  long owners = 0;
  int16_t ownerStatus = 0;
  FindRecord(ownerStatus, 1, code, 0, kFileOwners);
  while (ownerStatus == 0 && OwnerPropertyCode() == code) {
    ++owners;
    const std::string ownerDigits = UnpackDigits(OwnerCode());
    const std::string ownerText = ownerDigits.substr(0, 4) + "." + ownerDigits.substr(4, 4);
    if (listing.csv) {
      std::printf("%s,%s,%s,%s", digits.c_str(), CsvField(description).c_str(), date.c_str(),
                  ownerText.c_str());
      for (int n = 1; n <= 8; ++n) std::printf(",%d", OwnerConceptAmount(n));
      for (int n = 1; n <= 8; ++n) std::printf(",%s", EuroText(OwnerConceptAmount(n), true).c_str());
      std::printf("\n");
    } else {
      long long amounts[9] = {};
      for (int n = 1; n <= 8; ++n) {
        amounts[n] = OwnerConceptAmount(n);
        totals[n] += amounts[n];
      }
      PrintAmounts(ownerText, amounts, listing.stored);
    }
    SkipRecords(ownerStatus, 1, kFileOwners);
  }
  if (listing.csv && owners == 0)
    std::printf("%s,%s,%s,\n", digits.c_str(), CsvField(description).c_str(), date.c_str());
  if (!listing.csv) {
    if (owners == 0) std::printf("(cap propietari)\n");
    else PrintAmounts("TOTAL", totals, listing.stored);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const Listing listing = ReadListing(argc, argv);
  const std::string& root = listing.root;
  if (!DataFilesExist(root)) return 1;

  ConsoleStartVirtual();
  std::atexit(ReportUnexpectedEnd);
  Session.root = root;
  Session.ownerName = GetIni("Propietari", "Dades", root + "Vork.ini");
  int16_t status = 0;
  // Read only: a user who may read the suite root and not write it lists it.
  DataFiles.openMode = B_MODE_READ_ONLY;
  OpenDataFile(status, FinquesH, root + "DADES\\FinquesH", kFileProperties);
  OpenDataFile(status, PropietH, root + "DADES\\PropietH", kFileOwners);
  PrintHeading(listing);

  long properties = 0;
  const std::string last = PackedFromNumber(static_cast<int>(listing.to));
  FindRecord(status, 1, PackedFromNumber(static_cast<int>(listing.from)), 0, kFileProperties);
  while (status == 0 && PropertyCode() <= last) {
    ++properties;
    ListProperty(listing);
    SkipRecords(status, 1, kFileProperties);
  }
  if (!listing.csv && properties == 0)
    std::printf("\nCap finca entre la %04ld i la %04ld.\n", listing.from, listing.to);

  finished = true;
  ResetDataFiles(status);
  return 0;
}
