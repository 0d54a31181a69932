// demo_data.h - a generator of condominium data for demonstrations, tests
// and measurements: concepts, properties, expense notes, owners, collections
// and payments, written into a suite root's data files through the record
// manager.  The same options and seed always give the same records.
//
// Used by the program tools/demodata, by the settlement tests and by the
// settlement benchmark; the program itself never calls it.
#pragma once
#include <cstdint>
#include <string>

struct DemoDataOptions {
  std::string root;  // suite root, program form, ending in "/" or "\"; holds ddf/
  uint64_t seed = 1;
  int properties = 12;  // 1..9999, numbered from 1
  int ownersMin = 4;    // owners per property, drawn from ownersMin..ownersMax
  int ownersMax = 12;
  int collections = 3;            // per owner
  int payments = 6;               // per property
  std::string date = "31122026";  // DDMMYYYY: the settlement date the data is dated around
  bool force = false;             // replace the records of existing data files
};

struct DemoDataSummary {
  long concepts = 0, properties = 0, notes = 0, owners = 0, collections = 0, payments = 0;
};

// Checks the options; "" when they are usable, else what is wrong (Catalan,
// code page 850).
std::string DemoDataOptionsProblem(const DemoDataOptions& options);

// Fills the six data files of `options.root` (created in ROOT/DADES from
// the dictionaries in ROOT/ddf when missing).  Sets Session.root; opens the
// files with the data layer and leaves them closed.  Returns false with
// `problem` set when the options are unusable, the root or its dictionaries
// are missing, or the files already hold records and `force` is not set.
// The settlement journal, when the root has one, is emptied with them (it
// describes the records replaced), and held to the same rule.
bool GenerateDemoData(const DemoDataOptions& options, DemoDataSummary& summary, std::string& problem);
