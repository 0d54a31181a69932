// settle_test_support.h - what the settlement tests share: a fresh suite
// root in a temporary folder with the program's own dictionaries, the six
// data files open on the virtual console, builders of condominium records
// (the program inserts nothing, so records go in through the record
// manager's insert), and readers of the results.
#pragma once
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

#include "data/data.h"
#include "data/locks.h"
#include "input/dates.h"
#include "input/keys.h"
#include "input/numbers.h"
#include "platform/console.h"
#include "platform/platform.h"
#include "recman/recman.h"
#include "screen/form.h"
#include "screen/hooks.h"
#include "screen/windows.h"
#include "session/language.h"
#include "session/session.h"
#include "settle/hooks.h"
#include "settle/journal.h"
#include "settle/parameters.h"
#include "settle/records.h"
#include "settle/settlement.h"
#include "tests/temp_dir.h"

namespace settletest {

// The six files and the settlement journal.
inline const char* const kDataFiles[] = {"THRebut", "FinquesH", "FinDespH", "PropietH",
                                         "PagamH",  "CobramH",  "DiariLiq"};

// A suite root at `dir`: the demo's dictionaries and language file, DADES,
// LOCKS and a station folder `station`.
inline void MakeSuiteRoot(const std::string& dir, const std::string& station = "TMP") {
  namespace fs = std::filesystem;
  for (const char* folder : {"ddf", "DADES", "LOCKS", "LOCALE"}) fs::create_directories(dir + "/" + folder);
  fs::create_directories(dir + "/" + station);
  for (const char* base : kDataFiles)
    fs::copy_file(std::string(TARPELIX_SOURCE_DIR) + "/demo/ddf/" + base + ".xdf",
                  dir + "/ddf/" + base + ".xdf", fs::copy_options::overwrite_existing);
  fs::copy_file(std::string(TARPELIX_SOURCE_DIR) + "/demo/LOCALE/TARPELIX.LNG", dir + "/LOCALE/TARPELIX.LNG",
                fs::copy_options::overwrite_existing);
}

// The session of a station of the suite at `root` (program form, ending in
// "/"), the current directory there (the update log), the virtual console,
// no real pauses.
inline void StartStation(const std::string& root, const std::string& station = "TMP") {
  Session = SessionState{};
  Session.root = root;
  Session.tempDir = root + station + "/";
  Session.language = "CAT";
  Session.firmTaxId = "ES12345678Z";
  ModuleName = "TARPELIX";
  Language = LanguageState{};
  ChangeDirectory(root);
  ConsoleStartVirtual();
  ResetWindows();
  Keyboard = KeyboardState{};
  InstallScreenHooks();  // as the program does at start
  InstallSettlementHooks();
  Platform.pause = [](int) {};
  Platform.computerName = [] { return std::string("ESTACIO1"); };
  Platform.beep = [] {};
  DataFiles = DataFileTable{};
  Locks = LockState{};
  Settlement = SettlementWork{};
  CreateWorkTables();
}

// Opens the six files in the program's order, then the journal.
inline void OpenSettlementFile(const std::string& root, const SettlementFile& f) {
  int16_t status = -1;
  OpenDataFile(status, f.record, root + "DADES\\" + f.name, f.number, f.size);
  ASSERT_EQ(status, 0) << f.name;
}
inline void OpenSettlementFiles(const std::string& root) {
  for (const SettlementFile& f : kSettlementFiles) OpenSettlementFile(root, f);
  OpenSettlementFile(root, kJournalFile);
}

// What a pass of the demo suite is asked: properties first..last at
// `yyyymmdd` into concept 3, at the demo's tax rates, by the demo suite's
// administrator.
inline SettlementRequest DemoRequest(int first = 1, int last = 9999,
                                     const std::string& yyyymmdd = "20261231") {
  SettlementRequest request;
  request.IvaRate[0] = 21, request.IvaRate[1] = 10;
  request.RetRate[0] = 15, request.RetRate[1] = 7;
  request.SettlementDate = PackDigits(yyyymmdd);
  request.LowerOwnerKey = PackCode(std::to_string(first) + ".1");
  request.UpperOwnerKey = PackCode(std::to_string(last) + ".9999");
  request.CarryConcept = 3;
  request.FirmTaxId = "ES12345678Z";
  return request;
}

// Packed forms.
// Dates and amounts written as the demo suite's Vork.ini has them
// (31/12/2026, 1.234,56); ResetFormatPreferences puts the defaults back.
inline void UseDemoFormats() {
  Preferences.DecCaracter = ',', Preferences.MilCaracter = '.', Preferences.numbersLoaded = true;
  Preferences.DatCaracter = '/', Preferences.DatOrdre = "DMA", Preferences.datesLoaded = true;
}

inline std::string Date(const std::string& yyyymmdd) { return PackDigits(yyyymmdd); }
inline std::string PropertyKey(int p) { return PackedFromNumber(p); }
inline std::string OwnerKey(int p, int o) { return PackedFromNumber(p) + PackedFromNumber(o); }

// The record variable of `file` inserted as a new record (`record` is that
// variable).
inline int16_t InsertRecord(int16_t file, const void* record, size_t size) {
  int slot = FindSlot(file);
  if (slot <= 0) return B_FILE_NOT_OPEN;
  if (record != DataFiles.slots[slot].record ||
      static_cast<int32_t>(size) != DataFiles.slots[slot].recordLength)
    return B_INVALID_RECORD_ADDRESS;
  int16_t status = 0;
  ::InsertRecord(status, file);
  return status;
}

// The result of the last pass, run with `request`, its lines joined by
// line feeds.
inline std::string ResultText(const SettlementRequest& request) {
  std::string text;
  for (const std::string& line : PassResultLines(request)) text += line + "\n";
  return text;
}

// The virtual screen as code page 850 text, one line a row.
inline std::string ScreenText() {
  std::string text;
  for (int r = 1; r <= ConsoleRows(); ++r) text += VirtualRowText(r) + "\n";
  return text;
}

// A payment of a property at a date: shared by coefficient group `target`
// (flag " ") or charged wholly to owner `target` (flag "S").  The insert's
// status.
inline int16_t InsertPayment(int property, const std::string& yyyymmdd, int32_t amount,
                             const std::string& flag, int target) {
  ClearPaymentRecord();
  SetPaymentPropertyCode(PropertyKey(property));
  SetPaymentDate(Date(yyyymmdd));
  SetPaymentAmount(amount);
  SetPaymentFlag(flag);
  SetPaymentTarget(PackedFromNumber(target));
  return InsertRecord(kFilePayments, PagamH, sizeof PagamH);
}

// A suite root with the six files open, and builders of its records.
class SettleTest : public ::testing::Test {
 protected:
  TempDir temp{"tarpelix_settle_"};
  std::string root;  // temp.path + "/"
  std::string previousDirectory;
  int beeps = 0;
  std::vector<std::string> screensAtBeep;  // the virtual screen at each beep (code page 850)
  SettlementRequest request;               // what the tests' passes are asked

  void SetUp() override {
    ASSERT_FALSE(temp.path.empty());
    root = temp.path + "/";
    previousDirectory = CurrentDirectory();
    MakeSuiteRoot(temp.path);
    StartStation(root);
    Platform.beep = [this] {
      ++beeps;
      screensAtBeep.push_back(ScreenText());
    };
    OpenSettlementFiles(root);
    // The usual request: properties 1 to 999 at 31 December 2023, carried
    // into concept 3, every rate 0, the station's administrator.
    request = SettlementRequest{};
    request.FirmTaxId = Session.firmTaxId;
    SetParameters("20231231", 1, 999, 3);
    AddConcept(3, 1, "SALDO EN R\xE3SSEC");
  }

  void TearDown() override {
    int16_t status = 0;
    ResetDataFiles(status);
    DataFiles = DataFileTable{};
    Locks = LockState{};
    ResetWindows();
    Settlement = SettlementWork{};
    Platform = PlatformHooks{};
    ChangeDirectory(previousDirectory);
  }

  void SetParameters(const std::string& yyyymmdd, int first, int last, int carry) {
    request.SettlementDate = Date(yyyymmdd);
    request.LowerOwnerKey = PackCode(std::to_string(first) + ".1");
    request.UpperOwnerKey = PackCode(std::to_string(last) + ".9999");
    request.CarryConcept = static_cast<int16_t>(carry);
  }

  static void AddConcept(int number, int16_t type, const std::string& description = "CONCEPTE") {
    ClearConceptRecord();
    SetConceptNumber(number);
    SetConceptDescription(description);
    SetConceptType(type);
    ASSERT_EQ(InsertRecord(kFileConcepts, THRebut, sizeof THRebut), 0);
  }

  // A property; the builder methods set what differs from the defaults.
  struct Property {
    int code;
    int32_t fee = 0;
    std::string lastSettlement = "20231031";  // YYYYMMDD, "" = blank
    int16_t taxIndex = 0;
    std::string taxId;
    std::vector<int32_t> groupTotals;  // groups 2.. in order
    explicit Property(int c) : code(c) {}
    Property& Fee(int32_t v) {
      fee = v;
      return *this;
    }
    Property& Last(const std::string& v) {
      lastSettlement = v;
      return *this;
    }
    Property& TaxIndex(int16_t v) {
      taxIndex = v;
      return *this;
    }
    Property& TaxId(const std::string& v) {
      taxId = v;
      return *this;
    }
    Property& Totals(const std::vector<int32_t>& v) {
      groupTotals = v;
      return *this;
    }
  };
  static void AddProperty(const Property& p) {
    ClearPropertyRecord();
    SetPropertyCode(PropertyKey(p.code));
    SetPropertyDescription("FINCA " + std::to_string(p.code));
    SetPropertyFeePerOwner(p.fee);
    SetPropertyTaxIndex(p.taxIndex);
    SetPropertyLastSettlement(p.lastSettlement.empty() ? Date("00000000") : Date(p.lastSettlement));
    for (size_t i = 0; i < p.groupTotals.size(); ++i)
      SetPropertyGroupTotal(static_cast<int>(i) + 2, p.groupTotals[i]);
    SetPropertyTaxId(p.taxId);
    ASSERT_EQ(InsertRecord(kFileProperties, FinquesH, sizeof FinquesH), 0);
  }

  static void AddNote(int property, const std::string& text) {
    ClearExpenseNoteRecord();
    SetExpenseNotePropertyCode(PropertyKey(property));
    SetExpenseNoteText(text);
    ASSERT_EQ(InsertRecord(kFileExpenseNotes, FinDespH, sizeof FinDespH), 0);
  }

  // An owner, by default with the whole of group 1.
  struct Owner {
    int property, number;
    std::vector<int32_t> shares = {1000000};         // groups 1.. in order
    std::vector<std::pair<int, int32_t>> concepts;   // (slot 1..8, amount)
    std::vector<std::pair<int16_t, int32_t>> extra;  // the two further slots: (concept, amount)
    Owner(int p, int n) : property(p), number(n) {}
    Owner& Shares(const std::vector<int32_t>& v) {
      shares = v;
      return *this;
    }
    Owner& Concepts(const std::vector<std::pair<int, int32_t>>& v) {
      concepts = v;
      return *this;
    }
    Owner& Extra(const std::vector<std::pair<int16_t, int32_t>>& v) {
      extra = v;
      return *this;
    }
  };
  static void AddOwner(const Owner& o) {
    ClearOwnerRecord();
    SetOwnerCode(OwnerKey(o.property, o.number));
    for (size_t i = 0; i < o.shares.size(); ++i) SetOwnerShare(static_cast<int>(i) + 1, o.shares[i]);
    for (const auto& [slot, amount] : o.concepts) SetOwnerConceptAmount(slot, amount);
    for (size_t i = 0; i < o.extra.size(); ++i) {
      SetOwnerExtraConcept(static_cast<int>(i) + 1, o.extra[i].first);
      SetOwnerExtraAmount(static_cast<int>(i) + 1, o.extra[i].second);
    }
    ASSERT_EQ(InsertRecord(kFileOwners, PropietH, sizeof PropietH), 0);
  }

  static void AddCollection(int property, int owner, const std::string& yyyymmdd, int32_t amount,
                            const std::string& kind = "C", int32_t deducted = 0) {
    ClearCollectionRecord();
    SetCollectionOwnerCode(OwnerKey(property, owner));
    SetCollectionDate(Date(yyyymmdd));
    SetCollectionAmount(amount);
    SetCollectionDeducted(deducted);
    SetCollectionKind(kind);
    ASSERT_EQ(InsertRecord(kFileCollections, CobramH, sizeof CobramH), 0);
  }

  // A payment shared by coefficient group `group`.
  static void AddGroupPayment(int property, const std::string& yyyymmdd, int32_t amount, int group) {
    ASSERT_EQ(InsertPayment(property, yyyymmdd, amount, " ", group), 0);
  }

  // A payment charged wholly to one owner ("S").
  static void AddOwnerPayment(int property, const std::string& yyyymmdd, int32_t amount, int owner) {
    ASSERT_EQ(InsertPayment(property, yyyymmdd, amount, "S", owner), 0);
  }

  // ---- Reading the results back ----------------------------------------------------

  // The amount of concept slot `slot` of an owner (INT32_MIN when the owner
  // is missing).
  static int32_t Slot(int property, int owner, int slot = 3) {
    int16_t status = 0;
    FindRecord(status, 0, OwnerKey(property, owner), 0, kFileOwners);
    if (status != 0) return INT32_MIN;
    return OwnerConceptAmount(slot);
  }

  static std::string LastSettlement(int property) {
    int16_t status = 0;
    FindRecord(status, 0, PropertyKey(property), 0, kFileProperties);
    return status == 0 ? UnpackDigits(PropertyLastSettlement()) : "missing";
  }

  static int CollectionsOf(int property, int owner) {
    int count = 0;
    int16_t status = 0;
    std::string code = OwnerKey(property, owner);
    FindRecord(status, 1, code, 0, kFileCollections);
    while (status == 0 && CollectionOwnerCode() == code) {
      ++count;
      SkipRecords(status, 1, kFileCollections);
    }
    return count;
  }

  static int PaymentsOf(int property) {
    int count = 0;
    int16_t status = 0;
    std::string code = PropertyKey(property);
    FindRecord(status, 1, code, 0, kFilePayments);
    while (status == 0 && PaymentPropertyCode() == code) {
      ++count;
      SkipRecords(status, 1, kFilePayments);
    }
    return count;
  }

  // The untouched properties of the last pass as "code:reason" texts.
  static std::vector<std::string> Untouched() {
    std::vector<std::string> out;
    for (const UntouchedProperty& u : Settlement.untouched)
      out.push_back(UnpackDigits(u.code) + ":" + UntouchedReasonText(u.reason));
    return out;
  }
};

}  // namespace settletest
