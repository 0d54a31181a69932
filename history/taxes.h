// taxes.h - what the administrator files: the VAT and the withholding of
// the management fees, per community and per owner, over a quarter or a
// year of settlement dates, from the settlement journal alone.
//
// The amounts and rates are those the passes charged and journaled, so a
// rate changed in the settings since does not change a past quarter.  A
// pass undone does not count, nor a property undone from a pass.  Each
// community's fees are summed over its passes, one line per community and
// pair of rates (and tax identifiers, when they changed in the period).
// The community's name and tax identifier are those of the property record
// the pass wrote; only when the journal has none is today's properties file
// read for it (when it is open), and the line says so.
//
// Per owner, each pass's fee, VAT and withholding are shared among the
// owners who received a balance in proportion to their share in the fee's
// coefficient group; over the period the cents left over by the whole
// parts go one each to the owners with the largest remainders (ties to the
// larger share of the coefficients, then to the owner code), so that the
// owners' shares of a line add up exactly to its amounts.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "history/statement.h"

// The settlement dates of a year, or of one quarter of it.
struct TaxPeriod {
  int year = 0;
  int quarter = 0;  // 1 to 4; 0 the whole year
};

// One owner's share of a line.  An empty `owner` holds what passes that
// gave no owner a balance charged: nobody's share.
struct TaxOwnerShare {
  std::string owner;  // 4 packed bytes
  long passes = 0;    // passes in which the owner received a balance
  int64_t base = 0, vat = 0, withheld = 0;
};

// A community's fees at one pair of rates.
struct TaxLine {
  std::string property;        // 2 packed bytes
  std::string name;            // trimmed
  std::string communityTaxId;  // trimmed
  std::string firmTaxId;       // the administrator's, as the pass kept it; trimmed
  // Not in the journal: taken from today's properties file.
  bool nameFromToday = false, taxIdFromToday = false;
  float vatRate = 0, withholdingRate = 0;
  int64_t base = 0, vat = 0, withheld = 0;  // before VAT; VAT; withholding
  long passes = 0;
  std::vector<TaxOwnerShare> owners;  // in owner code order; add up to the line's amounts
};

enum class TaxIdProblem { kNone, kEmpty, kMalformed };
// What is wrong with a community's tax identifier as a Spanish entity's:
// "ES", the entity's letter, 7 digits and the control character (a digit
// or a letter) that the 7 digits give.
TaxIdProblem CommunityTaxIdProblem(const std::string& taxId);
// The control digit of an entity's 7 digits ('0' to '9'; the letter form
// is "JABCDEFGHI"[digit]); 0 when they are not 7 digits.
char EntityControlDigit(const std::string& digits);

// A community whose fee bore withholding without a sound tax identifier.
struct TaxWarning {
  std::string property, name, taxId;
  TaxIdProblem problem = TaxIdProblem::kNone;
};

struct TaxReport {
  TaxPeriod period;
  std::string property;        // "" every property, else the one asked for (2 packed bytes)
  std::vector<TaxLine> lines;  // by property, each property's in the order its passes met them
  int64_t base = 0, vat = 0, withheld = 0;
  long passes = 0;  // passes that counted
  std::vector<TaxWarning> warnings;
  // A pass written in a format above the one this program reads: its
  // format, and nothing is reported.
  int16_t newerFormat = 0;
};

// The report of `period`, of every property or of `property` (2 packed
// bytes) only.  The journal must be open; today's properties file is read,
// when it is open, only for a name or a tax identifier the journal lacks.
// The record manager's status (0 with the report filled).
int16_t GatherTaxes(TaxPeriod period, std::string property, TaxReport& report);

// The report as text, CSV (amounts in cents, a heading line) or an HTML
// page; `owners`: the owners' shares.  The warnings end the text and the
// page; the CSV leaves them to TaxWarningsText.
std::string TaxReportText(const TaxReport& report, StatementFormat format, bool owners);
// The warnings, a block of text ("" when there are none).
std::string TaxWarningsText(const TaxReport& report);
// "NO HI HA CAP LIQUIDACIÓ ..." for a period without passes.
std::string NoTaxPassText(const TaxReport& report);
