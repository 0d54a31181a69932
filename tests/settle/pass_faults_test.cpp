// pass_faults_test.cpp - the properties and records a settlement pass must
// leave alone, and the order of its locks and transaction: dates that make a
// settlement meaningless, owner numbers of 1000 and above, payment groups
// beyond the tables, owners outside the owner range, amounts beyond 32 bits,
// a property settled by another station meanwhile, a refused write, and the
// report of the untouched properties.
#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>

#include "recman/testing.h"
#include "settle_test_support.h"
#include "tests/data/data_test_support.h"

namespace {

using settletest::SettleTest;

class UntouchedTest : public SettleTest {
 protected:
  // Property 2 has an owner with a collection and a carried-over amount,
  // and a payment; a property left untouched keeps all of it.
  void PropertyTwo(const std::string& lastSettlement, int32_t fee = 1000) {
    AddProperty(Property(2).Fee(fee).Last(lastSettlement));
    AddOwner(Owner(2, 1).Concepts({{3, 55}}));
    AddCollection(2, 1, "20231215", 300, "C");
    AddGroupPayment(2, "20231216", 400, 1);
  }
  // Property 2 and everything of it gone again.
  static void RemovePropertyTwo() {
    int16_t status = 0;
    FindRecord(status, 0, settletest::PropertyKey(2), 0, kFileProperties);
    DeleteRecord(status, kFileProperties);
    FindRecord(status, 0, settletest::OwnerKey(2, 1), 0, kFileOwners);
    DeleteRecord(status, kFileOwners);
    for (int16_t file : {kFileCollections, kFilePayments}) {
      FindRecord(status, 1, settletest::PropertyKey(2), 0, file);
      while (status == 0) {
        DeleteRecord(status, file);
        FindRecord(status, 1, settletest::PropertyKey(2), 0, file);
      }
    }
  }
  void ExpectPropertyTwoUntouched(const std::string& lastSettlement) {
    EXPECT_EQ(Slot(2, 1), 55);
    EXPECT_EQ(CollectionsOf(2, 1), 1);
    EXPECT_EQ(PaymentsOf(2), 1);
    EXPECT_EQ(LastSettlement(2), lastSettlement);
  }
};

TEST_F(UntouchedTest, ASettlementDateBeforeTheLastSettlementLeavesThePropertyAlone) {
  PropertyTwo("20240331");
  SettlementPass(request);
  ExpectPropertyTwoUntouched("20240331");
  EXPECT_EQ(Untouched(), std::vector<std::string>{"0002:LIQUIDADA A UNA DATA POSTERIOR"});
}

TEST_F(UntouchedTest, APropertyWithoutALastSettlementDateIsLeftAlone) {
  PropertyTwo("");  // the blank date: no fee of two thousand years
  SettlementPass(request);
  ExpectPropertyTwoUntouched("00000000");
  EXPECT_EQ(Untouched(), std::vector<std::string>{"0002:SENSE DATA DE LA DARRERA LIQUIDACI\xE0"});
}

// A damaged date is said as damaged, with what it holds, not as no date.
TEST_F(UntouchedTest, ADamagedLastSettlementDateIsListedAsDamaged) {
  for (const char* date : {"20231330", "20230015"}) {  // month 13; month 0 with a day
    SCOPED_TRACE(date);
    PropertyTwo(date);
    SettlementPass(request);
    ExpectPropertyTwoUntouched(date);
    ASSERT_EQ(Settlement.untouched.size(), 1u);
    EXPECT_EQ(Settlement.untouched[0].reason, UntouchedReason::kDamagedLastSettlement);
    const std::string d(date);
    const std::string line = "0002  DATA DE LA DARRERA LIQUIDACI\xE0 MALMESA: " + d.substr(6, 2) + "/" +
                             d.substr(4, 2) + "/" + d.substr(0, 4) + "\n";
    EXPECT_NE(settletest::ResultText(request).find(line), std::string::npos)
        << settletest::ResultText(request);
    RemovePropertyTwo();
  }
}

TEST_F(UntouchedTest, ATaxIndexOtherThan0Or1IsLeftAlone) {
  PropertyTwo("20231130");
  int16_t status = 0;
  FindRecord(status, 0, settletest::PropertyKey(2), 0, kFileProperties);
  SetPropertyTaxIndex(2);
  UpdateRecord(status, kFileProperties);
  SettlementPass(request);
  ExpectPropertyTwoUntouched("20231130");
  EXPECT_EQ(Untouched(), std::vector<std::string>{"0002:TIPUS D'IMPOST DESCONEGUT"});
}

// A rate "Vork.ini" does not give charges nothing: the property whose tax
// index selects it is left alone and listed with the section to fill in; a
// withholding rate counts only where withholding applies.
TEST_F(UntouchedTest, APropertyNeedingARateTheSettingsDoNotGiveIsLeftAlone) {
  const struct {
    const char* rule;
    int16_t taxIndex;
    const char* communityTaxId;  // "ESH...": an entity, withholding applies
    bool vatSet[2], withholdingSet[2];
    const char* listed;  // "" when settled
  } cases[] = {
      {"no VAT rate for index 1",
       1,
       "ESH1234567",
       {true, false},
       {true, true},
       "0002  SENSE PERCENTATGE D'IVA PER AL SEU TIPUS A Vork.ini [Iva1]"},
      {"no withholding rate for index 0, and it applies",
       0,
       "ESH1234567",
       {true, true},
       {false, true},
       "0002  SENSE PERCENTATGE DE RETENCI\xE0 PER AL SEU TIPUS A Vork.ini [Ret0]"},
      {"no withholding rate, but it does not apply", 0, "ESX1234567", {true, true}, {false, false}, ""},
      {"the other index's rates do not matter", 0, "ESH1234567", {true, false}, {true, false}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rule);
    PropertyTwo("20231130");
    int16_t status = 0;
    FindRecord(status, 0, settletest::PropertyKey(2), 0, kFileProperties);
    SetPropertyTaxIndex(c.taxIndex);
    SetPropertyTaxId(c.communityTaxId);
    UpdateRecord(status, kFileProperties);
    for (int i = 0; i < 2; ++i)
      request.IvaRateSet[i] = c.vatSet[i], request.RetRateSet[i] = c.withholdingSet[i];
    SettlementPass(request);
    if (*c.listed != '\0') {
      ExpectPropertyTwoUntouched("20231130");
      ASSERT_EQ(Settlement.untouched.size(), 1u);
      EXPECT_NE(settletest::ResultText(request).find(std::string("\n") + c.listed + "\n"), std::string::npos)
          << settletest::ResultText(request);
    } else {
      EXPECT_EQ(LastSettlement(2), "20231231");
      EXPECT_TRUE(Settlement.untouched.empty());
    }
    RemovePropertyTwo();  // the next case starts from a fresh one
  }
}

TEST_F(UntouchedTest, WithoutTheAdministratorsTaxIdentifierNothingIsSettled) {
  PropertyTwo("20231130");
  request.FirmTaxId = "";
  SettlementPass(request);
  ExpectPropertyTwoUntouched("20231130");
  EXPECT_EQ(Settlement.result.settled, 0);
}

TEST_F(UntouchedTest, AFeeBeyond32BitsLeavesThePropertyAlone) {
  PropertyTwo("20231130", 2000000000);
  AddOwner(Owner(2, 2).Shares({0}));  // two owners: 4,000,000,000
  SettlementPass(request);
  ExpectPropertyTwoUntouched("20231130");
  EXPECT_EQ(Untouched(), std::vector<std::string>{"0002:IMPORT MASSA GRAN"});
}

TEST_F(UntouchedTest, VatTakingTheFeeBeyond32BitsLeavesThePropertyAlone) {
  request.IvaRate[0] = 21;
  PropertyTwo("20231130", 2000000000);
  SettlementPass(request);
  ExpectPropertyTwoUntouched("20231130");
  ASSERT_EQ(Settlement.untouched.size(), 1u);
}

TEST_F(UntouchedTest, APortionBeyond32BitsLeavesThePropertyAlone) {
  PropertyTwo("20231130", 0);
  // Group 2 has a total of 1 and the owner a share of 3: three times the
  // payment.
  int16_t status = 0;
  FindRecord(status, 0, settletest::PropertyKey(2), 0, kFileProperties);
  SetPropertyGroupTotal(2, 1);
  UpdateRecord(status, kFileProperties);
  FindRecord(status, 0, settletest::OwnerKey(2, 1), 0, kFileOwners);
  SetOwnerShare(2, 3);
  UpdateRecord(status, kFileOwners);
  AddGroupPayment(2, "20231217", 1000000000, 2);
  SettlementPass(request);
  EXPECT_EQ(Slot(2, 1), 55);
  EXPECT_EQ(PaymentsOf(2), 2);
  EXPECT_EQ(Untouched(), std::vector<std::string>{"0002:IMPORT MASSA GRAN"});
}

TEST_F(UntouchedTest, CollectionsAddingUpBeyond32BitsLeaveThePropertyAlone) {
  PropertyTwo("20231130", 0);
  AddCollection(2, 1, "20231201", 2000000000, "C");
  AddCollection(2, 1, "20231202", 2000000000, "I");
  SettlementPass(request);
  EXPECT_EQ(Slot(2, 1), 55);
  EXPECT_EQ(CollectionsOf(2, 1), 3);
  ASSERT_EQ(Settlement.untouched.size(), 1u);
  EXPECT_EQ(Settlement.untouched[0].reason, UntouchedReason::kAmountTooLarge);
}

TEST_F(UntouchedTest, TheOtherPropertiesAreSettledAllTheSame) {
  AddProperty(Property(1).Fee(100).Last("20231130"));
  AddOwner(Owner(1, 1));
  PropertyTwo("");
  AddProperty(Property(3).Fee(100).Last("20231130"));
  AddOwner(Owner(3, 1));
  SettlementPass(request);
  EXPECT_EQ(Slot(1, 1), 100);
  EXPECT_EQ(Slot(3, 1), 100);
  ExpectPropertyTwoUntouched("00000000");
}

TEST_F(UntouchedTest, ACarryOverConceptWithoutASlotSettlesNothing) {
  // Concept 9 may exist and be of the carry-over type, but the owner record
  // has no slot for it: the collections would be deleted and carried nowhere.
  AddConcept(9, 1);
  PropertyTwo("20231130");
  SetParameters("20231231", 1, 999, 9);
  SettlementPass(request);
  ExpectPropertyTwoUntouched("20231130");
}

class OwnerNumberTest : public SettleTest {};

TEST_F(OwnerNumberTest, Owners5And1005KeepTheirOwnMoney) {
  AddProperty(Property(1).Last("20231130"));
  AddOwner(Owner(1, 5).Shares({500000}));
  AddOwner(Owner(1, 1005).Shares({500000}));
  AddCollection(1, 5, "20231201", 100, "C");
  AddCollection(1, 1005, "20231201", 7000, "C");
  AddOwnerPayment(1, "20231202", 30, 5);
  AddOwnerPayment(1, "20231203", 900, 1005);
  SettlementPass(request);
  EXPECT_EQ(Slot(1, 5), 30 - 100);
  EXPECT_EQ(Slot(1, 1005), 900 - 7000);
  EXPECT_EQ(PaymentsOf(1), 0);
}

class PaymentGroupTest : public SettleTest {
 protected:
  // The result's dates and amounts as the demo suite writes them.
  void SetUp() override {
    SettleTest::SetUp();
    settletest::UseDemoFormats();
  }
  void TearDown() override {
    ResetFormatPreferences();
    SettleTest::TearDown();
  }
};

TEST_F(PaymentGroupTest, AGroupBeyond8StaysInPlaceUncharged) {
  AddProperty(Property(1).Last("20231130"));
  AddOwner(Owner(1, 1));
  AddGroupPayment(1, "20231201", 500, 9);
  AddGroupPayment(1, "20231202", 600, 1234);
  AddGroupPayment(1, "20231203", 70, 1);
  SettlementPass(request);
  EXPECT_EQ(Slot(1, 1), 70);
  EXPECT_EQ(PaymentsOf(1), 2);
  EXPECT_EQ(LastSettlement(1), "20231231");
  // Both kept are listed in the result, with why.
  ASSERT_EQ(Settlement.result.kept.size(), 2u);
  const std::string result = settletest::ResultText(request);
  EXPECT_NE(
      result.find("PAGAMENTS QUE NO S'HAN LIQUIDAT:\n0001  01/12/2023  5,00  DEL GRUP 9, QUE NO EXISTEIX\n"
                  "0001  02/12/2023  6,00  DEL GRUP 1234, QUE NO EXISTEIX\n"),
      std::string::npos)
      << result;
}

TEST_F(PaymentGroupTest, AChargeToAnOwnerWhoGetsNoBalanceStaysInPlace) {
  AddProperty(Property(1).Last("20231130"));
  AddOwner(Owner(1, 1));
  AddOwnerPayment(1, "20231201", 500, 42);  // no owner 42
  AddProperty(Property(2).Last(""));        // left untouched: its payments are no news
  AddOwnerPayment(2, "20231201", 300, 42);
  SettlementPass(request);
  EXPECT_EQ(Slot(1, 1), 0);
  EXPECT_EQ(PaymentsOf(1), 1);
  ASSERT_EQ(Settlement.result.kept.size(), 1u);
  EXPECT_TRUE(Settlement.result.kept[0].chargedToOwner);
  EXPECT_NE(settletest::ResultText(request).find(
                "\n0001  01/12/2023  5,00  CARREGAT AL PROPIETARI 0042, QUE NO REP SALDO\n"),
            std::string::npos)
      << settletest::ResultText(request);
}

class OwnerRangeTest : public SettleTest {};

TEST_F(OwnerRangeTest, AnOwnerOutsideTheRangeKeepsCollectionsAndBalanceButCountsForTheFee) {
  // With the range 1.0001 to 1.9999, owner 0000 of property 1 is outside.
  AddProperty(Property(1).Fee(100).Last("20231130"));
  AddOwner(Owner(1, 0).Shares({0}).Concepts({{3, 11}}));
  AddOwner(Owner(1, 1));
  AddCollection(1, 0, "20231201", 500, "C");
  AddCollection(1, 1, "20231201", 50, "C");
  AddOwnerPayment(1, "20231202", 800, 0);
  SetParameters("20231231", 1, 1, 3);
  SettlementPass(request);
  EXPECT_EQ(Slot(1, 0), 11);
  EXPECT_EQ(CollectionsOf(1, 0), 1);
  EXPECT_EQ(PaymentsOf(1), 1) << "the charge to owner 0000 waits with its owner";
  EXPECT_EQ(Slot(1, 1), 2 * 100 - 50) << "both owners count for the fee";
  EXPECT_EQ(CollectionsOf(1, 1), 0);
}

TEST_F(OwnerRangeTest, Owner0000OfALaterPropertyIsInsideTheRange) {
  AddProperty(Property(1).Last("20231130"));
  AddProperty(Property(2).Last("20231130"));
  AddOwner(Owner(2, 0));
  AddCollection(2, 0, "20231201", 500, "C");
  SettlementPass(request);
  EXPECT_EQ(Slot(2, 0), -500);
  EXPECT_EQ(CollectionsOf(2, 0), 0);
}

// ---- Locks and the transaction --------------------------------------------------------

// The lock records this station holds on a lock name, as "from-to" texts.
std::vector<std::string> HeldLocks(const std::string& root, const std::string& name) {
  std::vector<std::string> held;
  std::string contents;
  if (!ReadWholeFile(root + "LOCKS/" + name + ".lck", contents)) return held;
  for (size_t at = 0; at + kLockRecordSize <= contents.size(); at += kLockRecordSize) {
    std::string record = contents.substr(at, kLockRecordSize);
    if (record.substr(kLockStationAt, kLockStationWidth).find_first_not_of(' ') == std::string::npos)
      continue;
    int fromLength = std::stoi(record.substr(kLockFromLengthAt, 2));
    int toLength = std::stoi(record.substr(kLockToLengthAt, 2));
    held.push_back(record.substr(kLockFromAt, static_cast<size_t>(fromLength)) + "-" +
                   record.substr(kLockToAt, static_cast<size_t>(toLength)));
  }
  return held;
}

struct OrderLog {
  std::string root;
  std::vector<std::string> problems;
  bool inTransaction = false;
  int transactions = 0;
  std::map<std::string, int> counts;
};
OrderLog* order = nullptr;

void CheckOrder(SettlementOperation operation, int16_t file) {
  OrderLog& log = *order;
  auto held = [&](const char* name) { return HeldLocks(log.root, name); };
  auto require = [&](bool condition, const std::string& what) {
    if (!condition) log.problems.push_back(what);
  };
  switch (operation) {
    case SettlementOperation::kLock:
      require(!log.inTransaction, "a lock waited for inside the transaction");
      break;
    case SettlementOperation::kRelease:
      require(!log.inTransaction, "a lock released before the commit");
      break;
    case SettlementOperation::kBegin:
      log.inTransaction = true;
      ++log.transactions;
      require(held("PropietH") == std::vector<std::string>{"0001-0001"}, "property lock missing at begin");
      require(held("CobramH") == std::vector<std::string>{"00010000-00019999"}, "collections lock missing");
      require(held("PagamH") == std::vector<std::string>{"0001-0001"}, "payments lock missing");
      break;
    case SettlementOperation::kEnd:
    case SettlementOperation::kAbort: log.inTransaction = false; break;
    case SettlementOperation::kFind:
    case SettlementOperation::kNext:
    case SettlementOperation::kPosition:
    case SettlementOperation::kReadAt:
      // Owners, collections, expense notes and payments are read for the
      // totals only under the property's lock, inside the transaction.
      if (file != kFileProperties && file != kFileConcepts) {
        require(log.inTransaction, "a read of file " + std::to_string(file) + " outside the transaction");
        require(!held("PropietH").empty(), "a read before the property's lock");
      }
      break;
    case SettlementOperation::kUpdate:
    case SettlementOperation::kDelete:
    case SettlementOperation::kInsert:  // the journal's, in the same transaction
      require(log.inTransaction, "a write outside the transaction");
      require(held("PropietH").size() == 1 && held("CobramH").size() == 1 && held("PagamH").size() == 1,
              "a write without all three locks");
      ++log.counts[operation == SettlementOperation::kUpdate   ? "update"
                   : operation == SettlementOperation::kDelete ? "delete"
                                                               : "insert"];
      break;
  }
}

class LockOrderTest : public SettleTest {};

TEST_F(LockOrderTest, LocksComeBeforeTheTransactionAndGoAfterTheCommit) {
  AddProperty(Property(1).Fee(100).Last("20231130"));
  AddOwner(Owner(1, 1).Shares({500000}));
  AddOwner(Owner(1, 2).Shares({500000}));
  AddCollection(1, 1, "20231201", 50, "C");
  AddCollection(1, 2, "20231201", 60, "C");
  AddGroupPayment(1, "20231201", 70, 1);
  OrderLog log;
  log.root = root;
  order = &log;
  Settlement.beforeRecordOperation = CheckOrder;
  SettlementPass(request);
  Settlement.beforeRecordOperation = nullptr;
  order = nullptr;
  EXPECT_TRUE(log.problems.empty()) << log.problems.front();
  EXPECT_EQ(log.transactions, 1);
  EXPECT_EQ(log.counts["update"], 3);  // two owners, the property
  EXPECT_EQ(log.counts["delete"], 3);  // two collections, the payment
  // The journal: the pass's header, the property, its two owners, the
  // deleted collections and the deleted payment.
  EXPECT_EQ(log.counts["insert"], 6);
  EXPECT_TRUE(HeldLocks(root, "PropietH").empty());
  EXPECT_TRUE(HeldLocks(root, "CobramH").empty());
  EXPECT_TRUE(HeldLocks(root, "PagamH").empty());
}

// Another station settles property 1 while this one waits for its lock:
// the property, read again under the lock, is not settled a second time.
std::string* otherRoot = nullptr;
void SettleElsewhereFirst(SettlementOperation operation, int16_t file) {
  if (operation != SettlementOperation::kLock || file != kFileOwners || otherRoot == nullptr) return;
  // The other station works through handles of its own.
  unsigned char block[kPositionBlockSize] = {};
  unsigned char data[kDataBufferSize] = {};
  char key[kKeyBufferSize] = {};
  std::string path = HostPath(*otherRoot + "DADES/FinquesH.dat");
  std::memcpy(key, path.data(), path.size());
  uint32_t length = 0;
  ASSERT_EQ(BTRCALL(B_OPEN, block, data, &length, key, static_cast<uint8_t>(path.size()), 0), 0);
  std::memset(key, 0, sizeof key);
  std::string code = settletest::PropertyKey(1);
  std::memcpy(key, code.data(), 2);
  length = kDataBufferSize;
  ASSERT_EQ(BTRCALL(B_GET_EQUAL, block, data, &length, key, 2, 0), 0);
  std::string settled = PackDigits("20231231");
  std::memcpy(data + 160, settled.data(), 4);
  ASSERT_EQ(BTRCALL(B_UPDATE, block, data, &length, key, 2, 0), 0);
  BTRCALL(B_CLOSE, block, data, &length, key, 0, 0);
  otherRoot = nullptr;  // once
}

TEST_F(LockOrderTest, APropertySettledElsewhereMeanwhileIsNotSettledAgain) {
  AddProperty(Property(1).Fee(100).Last("20231130"));
  AddOwner(Owner(1, 1).Concepts({{3, 5}}));
  AddCollection(1, 1, "20231201", 50, "C");
  otherRoot = &root;
  Settlement.beforeRecordOperation = SettleElsewhereFirst;
  SettlementPass(request);
  Settlement.beforeRecordOperation = nullptr;
  EXPECT_EQ(Slot(1, 1), 5);
  EXPECT_EQ(CollectionsOf(1, 1), 1);
  EXPECT_EQ(Untouched(), std::vector<std::string>{"0001:LIQUIDADA DES D'UN ALTRE LLOC DE TREBALL"});
}

TEST_F(LockOrderTest, ARecordLockedElsewhereIsWaitedForThenThePropertyIsSettledWhole) {
  AddProperty(Property(1).Fee(100).Last("20231130"));
  AddOwner(Owner(1, 1).Shares({500000}));
  AddOwner(Owner(1, 2).Shares({500000}));
  AddCollection(1, 1, "20231201", 50, "C");
  AddProperty(Property(2).Fee(100).Last("20231130"));
  AddOwner(Owner(2, 1));
  // Another station holds owner 2 of property 1 with a record lock: its
  // update is refused (84) after owner 1 was written.  The pass rolls the
  // property back and waits; the station lets go during the wait.
  datatest::OtherStation other;
  ASSERT_EQ(other.Start(HostPath(root + "DADES/PropietH.dat"), 0), 0);
  ASSERT_EQ(other.Lock(settletest::OwnerKey(1, 2)), 0);
  std::vector<std::string> shown;
  // The first wait is a pause; the lock message is on the screen for the
  // waits after it, as the data layer's lock mode 1 has it.
  bool waited = false;
  Platform.pause = [&](int) {
    shown.push_back(VirtualScreenDump());
    if (!waited && shown.back().find("FITXER BLOQUEJAT. ESPEREU UN MOMENT.") != std::string::npos) {
      waited = true;
      EXPECT_EQ(other.Unlock(), 0);
    }
  };
  SettlementPass(request);
  other.Stop();
  EXPECT_TRUE(waited);
  EXPECT_EQ(Windows.WindowDepth, 0);
  EXPECT_EQ(Slot(1, 1), 50);  // 100 of the fee, 50 collected
  EXPECT_EQ(Slot(1, 2), 100);
  EXPECT_EQ(CollectionsOf(1, 1), 0);
  EXPECT_EQ(LastSettlement(1), "20231231");
  EXPECT_EQ(Untouched(), std::vector<std::string>{});
  EXPECT_EQ(Slot(2, 1), 100);
  EXPECT_TRUE(HeldLocks(root, "PropietH").empty());
}

// ---- What the record manager answers ------------------------------------------------

class RecordManagerAnswerTest : public SettleTest {
 protected:
  void ThreeProperties() {
    for (int p = 1; p <= 3; ++p) {
      AddProperty(Property(p).Fee(100).Last("20231130"));
      AddOwner(Owner(p, 1));
      AddCollection(p, 1, "20231201", 30, "C");
    }
  }
  void ExpectSettled(int p) {
    EXPECT_EQ(Slot(p, 1), 70) << p;
    EXPECT_EQ(CollectionsOf(p, 1), 0) << p;
    EXPECT_EQ(LastSettlement(p), "20231231") << p;
  }
  void ExpectUntouched(int p) {
    EXPECT_EQ(CollectionsOf(p, 1), 1) << p;
    EXPECT_EQ(LastSettlement(p), "20231130") << p;
  }
  std::string DataFolder() { return std::filesystem::canonical(temp.path + "/DADES").string(); }
  void TearDown() override {
    RecmanSetBusyTimeoutForTests(30000);
    Hooked() = nullptr;
    SettleTest::TearDown();
  }
  // What the hook below runs before the second property's transaction.
  static std::function<void()>& Hooked() {
    static std::function<void()> f;
    return f;
  }
  static void BeforeSecondProperty(SettlementOperation operation, int16_t) {
    static int begins = 0;
    if (operation != SettlementOperation::kBegin) return;
    if (Hooked() && ++begins == 2) {
      begins = 0;
      std::function<void()> f = Hooked();
      Hooked() = nullptr;
      f();
    }
  }
};

// The busy database met inside a property (another station in a long
// transaction): the lock message, and Escape stops the pass before it.
TEST_F(RecordManagerAnswerTest, EscapeWhileTheDatabaseIsBusyStopsThePassBeforeTheProperty) {
  ThreeProperties();
  datatest::OtherStation other;
  ASSERT_EQ(other.Start(HostPath(root + "DADES/FinquesH.dat"), 0), 0);
  RecmanSetBusyTimeoutForTests(50);
  Hooked() = [&] { ASSERT_EQ(other.Hold(), 0); };
  Settlement.beforeRecordOperation = BeforeSecondProperty;
  std::vector<std::string> shown;
  Platform.pause = [&](int) {
    shown.push_back(VirtualScreenDump());
    if (shown.back().find("FITXER BLOQUEJAT") != std::string::npos) VirtualPushKey(kKeyEsc);
  };
  SettlementPass(request);
  Settlement.beforeRecordOperation = nullptr;
  EXPECT_EQ(other.End(), 0);
  other.Stop();
  ASSERT_FALSE(shown.empty());
  EXPECT_NE(shown.back().find("FITXER BLOQUEJAT"), std::string::npos) << shown.back();
  EXPECT_EQ(Windows.WindowDepth, 0);
  ExpectSettled(1);
  ExpectUntouched(2);
  ExpectUntouched(3);
  ASSERT_EQ(Settlement.untouched.size(), 1u);
  EXPECT_EQ(Settlement.untouched[0].reason, UntouchedReason::kStopped);
  const std::string result = settletest::ResultText(request);
  EXPECT_NE(result.find("0002-0999  LIQUIDACI\xE0 ATURADA PER L'OPERADOR"), std::string::npos) << result;
  EXPECT_NE(result.find("LIQUIDACI\xE0 ATURADA A LA FINCA 0002"), std::string::npos) << result;
}

// A record whose bytes no longer match its checksum: its property is left
// whole and listed with the status (and so is the property before it, whose
// walk along the owners ends by reading it), the others are settled, and
// the operator is told which folder is damaged.
TEST_F(RecordManagerAnswerTest, ADamagedRecordLeavesItsPropertyListedWithStatus2) {
  ThreeProperties();
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((DataFolder() + "/recman.db").c_str(), &db), SQLITE_OK);
  std::string key = settletest::OwnerKey(2, 1);
  char hex[9];
  std::snprintf(hex, sizeof hex, "%02X%02X%02X%02X", static_cast<unsigned char>(key[0]),
                static_cast<unsigned char>(key[1]), static_cast<unsigned char>(key[2]),
                static_cast<unsigned char>(key[3]));
  sqlite3_stmt* s = nullptr;
  ASSERT_EQ(
      sqlite3_prepare_v2(db, "SELECT id FROM recman_file WHERE name LIKE 'propieth.dat'", -1, &s, nullptr),
      SQLITE_OK);
  ASSERT_EQ(sqlite3_step(s), SQLITE_ROW);
  std::string sql = "UPDATE r" + std::to_string(sqlite3_column_int64(s, 0)) +
                    " SET sum = sum + 1 WHERE substr(data, 1, 4) = X'" + hex + "'";
  sqlite3_finalize(s);
  ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
  EXPECT_EQ(sqlite3_changes(db), 1);
  sqlite3_close(db);

  SettlementPass(request);
  ExpectUntouched(1);
  ExpectUntouched(2);
  ExpectSettled(3);
  ASSERT_EQ(Settlement.untouched.size(), 2u);
  for (const UntouchedProperty& u : Settlement.untouched) {
    EXPECT_EQ(u.reason, UntouchedReason::kRecordManager);
    EXPECT_EQ(u.status, B_IO_ERROR);
  }
  ASSERT_TRUE(Settlement.damageKnown);
  EXPECT_EQ(Settlement.damage.folder, DataFolder());
  const std::string result = settletest::ResultText(request);
  EXPECT_NE(result.find("0001  ERROR DEL GESTOR DE FITXERS, ESTAT 2"), std::string::npos) << result;
  EXPECT_NE(result.find("LA CARPETA DE DADES"), std::string::npos) << result;
  EXPECT_NE(result.find("recutil check"), std::string::npos) << result;
  EXPECT_NE(result.find("checksum"), std::string::npos) << result;
  EXPECT_NE(result.find("0002  ERROR DEL GESTOR DE FITXERS, ESTAT 2"), std::string::npos) << result;
  EXPECT_LT(result.find("LA CARPETA DE DADES"), result.find("0001  ERROR")) << "the folder first";
  // One record's checksum leaves the rest of the file sound: the pass went
  // on, and the result says which properties it settled.
  EXPECT_FALSE(Settlement.stoppedOnDamage);
  EXPECT_NE(result.find("FINQUES LIQUIDADES: 0003. LES ALTRES NO S'HAN TOCAT."), std::string::npos) << result;
  EXPECT_EQ(result.find("NO S'HI HA ESCRIT RES"), std::string::npos) << result;
}

// A page of the database overwritten (SQLite calls the database malformed)
// once the first property is settled: the pass stops at the property that
// meets it, writes nothing more, and the message names the property settled
// before it and asks for recutil check on the folder.
TEST_F(RecordManagerAnswerTest, AMalformedDatabaseStopsThePassAndTheMessageSaysWhatWasWritten) {
  ThreeProperties();
  const std::string db = DataFolder() + "/recman.db";
  auto bytes = [](const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  };
  std::string dbAfterDamage, logAfterDamage;
  Hooked() = [&] {
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(db.c_str(), &other), SQLITE_OK);
    sqlite3_busy_timeout(other, 5000);
    // Everything into the database file, then the owners' page overwritten.
    ASSERT_EQ(sqlite3_exec(other, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_stmt* s = nullptr;
    ASSERT_EQ(
        sqlite3_prepare_v2(other,
                           "SELECT m.rootpage, (SELECT page_size FROM pragma_page_size) FROM sqlite_master m "
                           "JOIN recman_file f ON m.name = 'r' || f.id WHERE f.name LIKE 'propieth.dat'",
                           -1, &s, nullptr),
        SQLITE_OK);
    ASSERT_EQ(sqlite3_step(s), SQLITE_ROW);
    const long page = sqlite3_column_int64(s, 0), size = sqlite3_column_int64(s, 1);
    sqlite3_finalize(s);
    sqlite3_close(other);
    std::fstream f(db, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp((page - 1) * size);
    const std::string garbage(static_cast<size_t>(size), '\xA5');
    f.write(garbage.data(), static_cast<std::streamsize>(garbage.size()));
    f.close();
    dbAfterDamage = bytes(db);
    logAfterDamage = bytes(db + "-wal");
  };
  Settlement.beforeRecordOperation = BeforeSecondProperty;
  SettlementPass(request);
  Settlement.beforeRecordOperation = nullptr;
  EXPECT_EQ(bytes(db), dbAfterDamage) << "nothing written after the damage";
  EXPECT_EQ(bytes(db + "-wal"), logAfterDamage);
  ASSERT_TRUE(Settlement.damageKnown);
  EXPECT_TRUE(Settlement.stoppedOnDamage);
  EXPECT_EQ(Settlement.settled, std::vector<std::string>{settletest::PropertyKey(1)});
  ASSERT_EQ(Settlement.untouched.size(), 2u);
  EXPECT_EQ(UnpackDigits(Settlement.untouched[0].code), "0002");
  EXPECT_EQ(UnpackDigits(Settlement.untouched[1].code), "0003");
  EXPECT_EQ(UnpackDigits(Settlement.untouched[1].lastCode), "0999");
  const std::string message = settletest::ResultText(request);
  EXPECT_NE(message.find("LIQUIDACI\xE0 ATURADA A LA FINCA 0002"), std::string::npos) << message;
  EXPECT_NE(message.find("LIQUIDACI\xE0 ATURADA: NO S'HI HA ESCRIT RES M\x90S."), std::string::npos)
      << message;
  EXPECT_NE(message.find("FINQUES LIQUIDADES: 0001."), std::string::npos) << message;
  EXPECT_NE(message.find("recutil check"), std::string::npos) << message;
  EXPECT_NE(message.find("malformed"), std::string::npos) << message;
}

// The database file replaced by a copy, or deleted, while the pass runs:
// the properties from there on are listed, and neither file is written.
TEST_F(RecordManagerAnswerTest, ADatabaseReplacedOrDeletedMidPassIsNeitherWrittenNorLost) {
  for (bool replace : {true, false}) {
    SCOPED_TRACE(replace ? "replaced" : "deleted");
    ThreeProperties();
    const std::string db = DataFolder() + "/recman.db", aside = temp.path + "/aside.db";
    std::string copyBefore, oldBefore;
    auto bytes = [](const std::string& path) {
      std::ifstream in(path, std::ios::binary);
      return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    };
    Hooked() = [&] {
      std::string saved = bytes(db);
      ASSERT_EQ(rename(db.c_str(), aside.c_str()), 0);
      if (replace) std::ofstream(db, std::ios::binary) << saved;
      copyBefore = bytes(db);
      oldBefore = bytes(aside);
    };
    Settlement.beforeRecordOperation = BeforeSecondProperty;
    SettlementPass(request);
    Settlement.beforeRecordOperation = nullptr;
    EXPECT_EQ(bytes(db), copyBefore);
    EXPECT_EQ(bytes(aside), oldBefore);
    ASSERT_EQ(Settlement.untouched.size(), 2u);
    EXPECT_EQ(UnpackDigits(Settlement.untouched[0].code), "0002");
    EXPECT_EQ(Settlement.untouched[0].status, B_IO_ERROR);
    EXPECT_EQ(UnpackDigits(Settlement.untouched[1].code), "0003");
    EXPECT_EQ(UnpackDigits(Settlement.untouched[1].lastCode), "0999");
    EXPECT_EQ(Settlement.untouched[1].status, B_IO_ERROR);
    ASSERT_TRUE(Settlement.damageKnown);
    EXPECT_EQ(Settlement.damage.folder, DataFolder());
    EXPECT_NE(Settlement.damage.message.find("replaced or deleted"), std::string::npos);
    // The old database back in place holds property 1 settled, the others
    // as they were.
    int16_t status = 0;
    ResetDataFiles(status);
    ASSERT_EQ(rename(aside.c_str(), db.c_str()), 0);
    settletest::OpenSettlementFiles(root);
    ExpectSettled(1);
    ExpectUntouched(2);
    ExpectUntouched(3);
    if (HasFailure()) break;
    // A fresh suite for the second round.
    ResetDataFiles(status);
    std::filesystem::remove_all(temp.path + "/DADES");
    std::filesystem::create_directories(temp.path + "/DADES");
    settletest::OpenSettlementFiles(root);
    AddConcept(3, 1, "SALDO EN R\xE3SSEC");
    Settlement = SettlementWork{};
  }
}

// ---- The report -------------------------------------------------------------------------

class ReportTest : public SettleTest {};

TEST_F(ReportTest, TheUntouchedPropertiesAreListedWithTheirReasons) {
  AddProperty(Property(4).Last(""));
  AddProperty(Property(7).Last("20240131"));
  SettlementPass(request);
  const std::string result = settletest::ResultText(request);
  EXPECT_NE(result.find("\nFINQUES NO LIQUIDADES:\n0004  SENSE DATA DE LA DARRERA LIQUIDACI\xE0\n"
                        "0007  LIQUIDADA A UNA DATA POSTERIOR"),
            std::string::npos)
      << result;
  VirtualTypeWhenWaited({kKeyEsc});
  ShowPassResult(request);
  EXPECT_EQ(Windows.WindowDepth, 0) << "the window is closed with Escape";
  EXPECT_EQ(Console.starved, 0);
}

TEST_F(ReportTest, TheReasonsAreInTheSessionsLanguage) {
  Session.language = "SPA";
  AddProperty(Property(4).Last(""));
  SettlementPass(request);
  const std::string result = settletest::ResultText(request);
  EXPECT_NE(result.find("FINCAS NO LIQUIDADAS:"), std::string::npos) << result;
  EXPECT_NE(result.find("0004  SIN FECHA DE LA \xE9LTIMA LIQUIDACI\xE0N"), std::string::npos) << result;
}

TEST_F(ReportTest, ALongListTakesSeveralPages) {
  for (int p = 1; p <= 30; ++p) AddProperty(Property(p).Last(""));
  SettlementPass(request);
  const std::vector<std::string> lines = PassResultLines(request);
  EXPECT_EQ(PageCount(lines.size()), 3);  // 18 lines a page
  EXPECT_EQ(lines.back(), "0030  SENSE DATA DE LA DARRERA LIQUIDACI\xE0");
}

TEST_F(ReportTest, NoUntouchedListWhenEveryPropertyWasSettled) {
  AddProperty(Property(1).Last("20231130"));
  SettlementPass(request);
  EXPECT_EQ(settletest::ResultText(request).find("FINQUES NO LIQUIDADES"), std::string::npos);
}

}  // namespace
