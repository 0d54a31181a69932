// pass_amounts_test.cpp - what a settlement pass computes and writes, on
// real record files: the management fee with VAT and withholding, the fee's
// coefficient group, the shares of the groups, payments charged to one
// owner, the collections that count, and what a pass deletes and moves.
#include "settle_test_support.h"

namespace {

using settletest::SettleTest;

class FeeTest : public SettleTest {
 protected:
  // Three owners of property 1 (shares 1/2, 1/4, 1/4 of group 1), fee 1000
  // per owner and month, last settled two months before 31/12/2023.
  void ThreeOwners(const std::string& taxId = "") {
    AddProperty(Property(1).Fee(1000).Last("20231031").TaxId(taxId));
    AddOwner(Owner(1, 1).Shares({500000}));
    AddOwner(Owner(1, 2).Shares({250000}));
    AddOwner(Owner(1, 3).Shares({250000}));
  }
};

TEST_F(FeeTest, ThreeOwnersTwoMonthsWithVat16Charge6960) {
  request.IvaRate[0] = 16;
  ThreeOwners();
  SettlementPass(request);
  // 6000 + 960 shared 1/2, 1/4, 1/4; the carry-over concept holds what is owed.
  EXPECT_EQ(Slot(1, 1), 3480);
  EXPECT_EQ(Slot(1, 2), 1740);
  EXPECT_EQ(Slot(1, 3), 1740);
  EXPECT_EQ(LastSettlement(1), "20231231");
  EXPECT_TRUE(Untouched().empty());
}

TEST_F(FeeTest, WithholdingOf15OnTheFeeBeforeVatGives6060) {
  request.IvaRate[0] = 16;
  request.RetRate[0] = 15;
  ThreeOwners("ESH12345678");  // a community; the firm's id is a person's
  SettlementPass(request);
  EXPECT_EQ(Slot(1, 1), 3030);
  EXPECT_EQ(Slot(1, 2) + Slot(1, 3), 3030);
}

TEST_F(FeeTest, WithholdingOnlyForAPersonsFirmAndAnEntityCommunity) {
  request.RetRate[0] = 10;
  // Community tax ids: an entity (H), a person (digit third), none.
  AddProperty(Property(1).Fee(1000).Last("20231130").TaxId("ESH1"));
  AddProperty(Property(2).Fee(1000).Last("20231130").TaxId("ES1234"));
  AddProperty(Property(3).Fee(1000).Last("20231130").TaxId(""));
  AddProperty(Property(4).Fee(1000).Last("20231130").TaxId("FRH1"));
  for (int p = 1; p <= 4; ++p) AddOwner(Owner(p, 1));
  SettlementPass(request);
  EXPECT_EQ(Slot(1, 1), 900);
  EXPECT_EQ(Slot(2, 1), 1000);
  EXPECT_EQ(Slot(3, 1), 1000);
  EXPECT_EQ(Slot(4, 1), 1000);
}

TEST_F(FeeTest, NoWithholdingWhenTheFirmIsAnEntity) {
  request.RetRate[0] = 10;
  request.FirmTaxId = "ESB12345678";
  AddProperty(Property(1).Fee(1000).Last("20231130").TaxId("ESH1"));
  AddOwner(Owner(1, 1));
  SettlementPass(request);
  EXPECT_EQ(Slot(1, 1), 1000);
}

TEST_F(FeeTest, VatIsRoundedHalfToEven) {
  // 16 % of 1003 is 160.48; 12.5 % of 4 is 0.5 and of 12 is 1.5.
  request.IvaRate[0] = 16;
  request.IvaRate[1] = 12.5f;
  AddProperty(Property(1).Fee(1003).Last("20231130").TaxIndex(0));
  AddProperty(Property(2).Fee(4).Last("20231130").TaxIndex(1));
  AddProperty(Property(3).Fee(12).Last("20231130").TaxIndex(1));
  for (int p = 1; p <= 3; ++p) AddOwner(Owner(p, 1));
  SettlementPass(request);
  EXPECT_EQ(Slot(1, 1), 1003 + 160);
  EXPECT_EQ(Slot(2, 1), 4 + 0);
  EXPECT_EQ(Slot(3, 1), 12 + 2);
}

TEST_F(FeeTest, NoFeeWithinTheSameMonthWhateverTheDays) {
  request.IvaRate[0] = 16;
  AddProperty(Property(1).Fee(1000).Last("20231201"));
  AddOwner(Owner(1, 1).Concepts({{3, 250}}));
  SettlementPass(request);
  EXPECT_EQ(Slot(1, 1), 250);  // the balance carried over, nothing more
  EXPECT_EQ(LastSettlement(1), "20231231");
}

TEST_F(FeeTest, MonthsAcrossAYearEnd) {
  AddProperty(Property(1).Fee(100).Last("20221115"));
  AddOwner(Owner(1, 1));
  SettlementPass(request);
  EXPECT_EQ(Slot(1, 1), 100 * 13);
}

class FeeGroupTest : public SettleTest {
 protected:
  // Owner 1 is alone in group 3, owner 2 alone in group 1.
  void SetUp() override {
    SettleTest::SetUp();
    AddProperty(Property(1).Fee(1000).Last("20231130").Totals({0, 50}));
    AddOwner(Owner(1, 1).Shares({0, 0, 50}));
    AddOwner(Owner(1, 2).Shares({1000000, 0, 0}));
  }
};

TEST_F(FeeGroupTest, HoFollowedByCPutsTheFeeInGroup3) {
  AddNote(1, "PORTERIA I HOC: HONORARIS PER COEFICIENT");
  SettlementPass(request);
  EXPECT_EQ(Slot(1, 1), 2000);
  EXPECT_EQ(Slot(1, 2), 0);
}

TEST_F(FeeGroupTest, HoFollowedByZKeepsGroup1) {
  AddNote(1, "HOZ");
  SettlementPass(request);
  EXPECT_EQ(Slot(1, 1), 0);
  EXPECT_EQ(Slot(1, 2), 2000);
}

TEST_F(FeeGroupTest, OnlyTheFirstHoCounts) {
  AddNote(1, "HONORARIS: HOC");  // the first HO is followed by N
  SettlementPass(request);
  EXPECT_EQ(Slot(1, 2), 2000);
}

TEST_F(FeeGroupTest, NoNoteOrNoHoKeepsGroup1) {
  SettlementPass(request);
  EXPECT_EQ(Slot(1, 2), 2000);
}

class GroupShareTest : public SettleTest {};

TEST_F(GroupShareTest, Group1AmountOf10000WithAQuarterShareGives2500) {
  AddProperty(Property(1).Last("20231130"));
  AddOwner(Owner(1, 1).Shares({250000}));
  AddOwner(Owner(1, 2).Shares({750000}));
  AddGroupPayment(1, "20231215", 10000, 1);
  SettlementPass(request);
  EXPECT_EQ(Slot(1, 1), 2500);
  EXPECT_EQ(Slot(1, 2), 7500);
  EXPECT_EQ(PaymentsOf(1), 0);
}

TEST_F(GroupShareTest, AGroupWithTotal0GivesEveryOwner0) {
  AddProperty(Property(1).Last("20231130").Totals({0}));
  AddOwner(Owner(1, 1).Shares({500000, 10}));
  AddGroupPayment(1, "20231215", 5000, 2);
  SettlementPass(request);
  EXPECT_EQ(Slot(1, 1), 0);
  EXPECT_EQ(PaymentsOf(1), 0);  // settled all the same
}

TEST_F(GroupShareTest, PartsAreRoundedHalfToEvenAfterTheDivision) {
  // 5 / 1,000,000 x 100,000 = 0.5 -> 0; 15 / ... x 100,000 = 1.5 -> 2.
  AddProperty(Property(1).Last("20231130"));
  AddProperty(Property(2).Last("20231130"));
  AddOwner(Owner(1, 1).Shares({100000}));
  AddOwner(Owner(2, 1).Shares({100000}));
  AddGroupPayment(1, "20231215", 5, 1);
  AddGroupPayment(2, "20231215", 15, 1);
  SettlementPass(request);
  EXPECT_EQ(Slot(1, 1), 0);
  EXPECT_EQ(Slot(2, 1), 2);
}

TEST_F(GroupShareTest, GroupsTwoToSevenShareByTheirTotals) {
  AddProperty(Property(1).Last("20231130").Totals({3, 0, 0, 0, 0, 4}));
  AddOwner(Owner(1, 1).Shares({0, 1, 0, 0, 0, 0, 1}));
  AddOwner(Owner(1, 2).Shares({0, 2, 0, 0, 0, 0, 3}));
  AddGroupPayment(1, "20231201", 300, 2);
  AddGroupPayment(1, "20231202", 400, 7);
  SettlementPass(request);
  EXPECT_EQ(Slot(1, 1), 100 + 100);
  EXPECT_EQ(Slot(1, 2), 200 + 300);
}

class PaymentTest : public SettleTest {
 protected:
  void SetUp() override {
    SettleTest::SetUp();
    AddProperty(Property(1).Last("20231130"));
    AddOwner(Owner(1, 3).Shares({500000}));
    AddOwner(Owner(1, 7).Shares({500000}));
  }
};

TEST_F(PaymentTest, APaymentFlaggedSIsChargedToItsOwnerOnly) {
  AddOwnerPayment(1, "20231220", 700, 7);
  SettlementPass(request);
  EXPECT_EQ(Slot(1, 7), 700);
  EXPECT_EQ(Slot(1, 3), 0);
  EXPECT_EQ(PaymentsOf(1), 0);
}

TEST_F(PaymentTest, Groups0And8AreDeletedButChargedToNobody) {
  AddGroupPayment(1, "20231220", 700, 0);
  AddGroupPayment(1, "20231221", 800, 8);
  SettlementPass(request);
  EXPECT_EQ(Slot(1, 3), 0);
  EXPECT_EQ(Slot(1, 7), 0);
  EXPECT_EQ(PaymentsOf(1), 0);
}

TEST_F(PaymentTest, PaymentsAfterTheSettlementDateWait) {
  AddGroupPayment(1, "20231231", 100, 1);
  AddGroupPayment(1, "20240101", 1000, 1);
  SettlementPass(request);
  EXPECT_EQ(Slot(1, 3), 50);
  EXPECT_EQ(PaymentsOf(1), 1);
}

TEST_F(PaymentTest, PaymentsOfOtherPropertiesAreLeftAlone) {
  AddProperty(Property(2).Last("20231130"));
  AddGroupPayment(2, "20231220", 100, 1);
  SetParameters("20231231", 1, 1, 3);
  SettlementPass(request);
  EXPECT_EQ(PaymentsOf(2), 1);
  EXPECT_EQ(LastSettlement(2), "20231130");
}

class CollectionTest : public SettleTest {
 protected:
  void SetUp() override {
    SettleTest::SetUp();
    AddProperty(Property(1).Last("20231130"));
    AddOwner(Owner(1, 1).Shares({1000000}));
  }
};

TEST_F(CollectionTest, KindsCAndICountAndXDoesNotButAllAreDeleted) {
  AddCollection(1, 1, "20231205", 500, "C");
  AddCollection(1, 1, "20231206", 200, "I");
  AddCollection(1, 1, "20231207", 300, "X");
  AddGroupPayment(1, "20231210", 900, 1);  // the owner's portion: 900
  SettlementPass(request);
  // Balance 700 - 900 = -200: 200 owed.
  EXPECT_EQ(Slot(1, 1), 200);
  EXPECT_EQ(CollectionsOf(1, 1), 0);
}

TEST_F(CollectionTest, TheDeductedAmountIsTakenOff) {
  AddCollection(1, 1, "20231205", 500, "C", 120);
  SettlementPass(request);
  EXPECT_EQ(Slot(1, 1), -380);  // a credit
}

TEST_F(CollectionTest, ACollectionDatedTheDayAfterIsNeitherCountedNorDeleted) {
  AddCollection(1, 1, "20231231", 100, "C");
  AddCollection(1, 1, "20240101", 500, "C");
  SettlementPass(request);
  EXPECT_EQ(Slot(1, 1), -100);
  EXPECT_EQ(CollectionsOf(1, 1), 1);
}

TEST_F(CollectionTest, CarriedOverConceptsEnterTheBalance) {
  // Concept 3 (carry-over) holds 1000 owed, concept 5 (not carry-over)
  // 999, and the first further slot 40 of carry-over concept 11.
  AddConcept(5, 2);
  AddConcept(11, 1);
  AddOwner(Owner(1, 2).Shares({0}).Concepts({{3, 1000}, {5, 999}}).Extra({{11, 40}, {5, 7}}));
  AddCollection(1, 2, "20231205", 300, "C");
  SettlementPass(request);
  EXPECT_EQ(Slot(1, 2), 1000 + 40 - 300);
  EXPECT_EQ(Slot(1, 2, 5), 999) << "no other slot changes";
}

TEST_F(CollectionTest, AMissingConceptDoesNotCount) {
  AddOwner(Owner(1, 2).Shares({0}).Concepts({{4, 500}}).Extra({{12, 40}}));
  SettlementPass(request);
  EXPECT_EQ(Slot(1, 2), 0);
}

TEST_F(CollectionTest, TheFurtherSlotsAreLookedUpByTheRawConceptNumber) {
  // Concept 11 as the raw byte 11: found.  Its packed form (byte 139) is a
  // concept of its own, not a carry-over one, and must not be the one used.
  AddConcept(11, 1);
  AddConcept(139, 2);
  AddOwner(Owner(1, 2).Shares({0}).Extra({{11, 40}}));
  SettlementPass(request);
  EXPECT_EQ(Slot(1, 2), 40);
}

TEST_F(CollectionTest, TheBalanceGoesToTheChosenCarryOverConcept) {
  AddConcept(6, 1);
  AddCollection(1, 1, "20231205", 500, "C");
  SetParameters("20231231", 1, 999, 6);
  SettlementPass(request);
  EXPECT_EQ(Slot(1, 1, 6), -500);
  EXPECT_EQ(Slot(1, 1, 3), 0);
}

class SecondPassTest : public SettleTest {};

TEST_F(SecondPassTest, ASecondPassWithTheSameDateChangesNoBalance) {
  request.IvaRate[0] = 21;
  AddProperty(Property(1).Fee(1000).Last("20230930"));
  AddOwner(Owner(1, 1).Shares({600000}).Concepts({{3, 77}}));
  AddOwner(Owner(1, 2).Shares({400000}));
  AddCollection(1, 1, "20231005", 1234, "C");
  AddGroupPayment(1, "20231010", 5000, 1);
  SettlementPass(request);
  int32_t first1 = Slot(1, 1), first2 = Slot(1, 2);
  // 2 owners x 1000 x 3 months = 6000 + 1260 VAT; plus 5000 of payments.
  EXPECT_EQ(first1, 77 + 7356 - 1234);
  EXPECT_EQ(first2, 4904);
  SettlementPass(request);
  EXPECT_EQ(Slot(1, 1), first1);
  EXPECT_EQ(Slot(1, 2), first2);
  EXPECT_EQ(LastSettlement(1), "20231231");
  EXPECT_TRUE(Untouched().empty());
}

TEST_F(SecondPassTest, OnlyThePropertiesOfTheRangeAreSettled) {
  for (int p = 1; p <= 4; ++p) {
    AddProperty(Property(p).Fee(100).Last("20231130"));
    AddOwner(Owner(p, 1));
  }
  SetParameters("20231231", 2, 3, 3);
  SettlementPass(request);
  EXPECT_EQ(LastSettlement(1), "20231130");
  EXPECT_EQ(LastSettlement(2), "20231231");
  EXPECT_EQ(LastSettlement(3), "20231231");
  EXPECT_EQ(LastSettlement(4), "20231130");
  EXPECT_EQ(Slot(1, 1), 0);
  EXPECT_EQ(Slot(3, 1), 100);
}

TEST_F(SecondPassTest, EveryOwnerUpdateIsLogged) {
  AddProperty(Property(1).Last("20231130"));
  AddOwner(Owner(1, 1));
  AddOwner(Owner(1, 2).Shares({0}));
  SettlementPass(request);
  std::string log;
  ASSERT_TRUE(ReadWholeFile(root + "db.log", log));
  // Two owners and the property.
  EXPECT_EQ(log, UpdateLogLine(kFileOwners, 3, 0) + UpdateLogLine(kFileOwners, 3, 0) +
                     UpdateLogLine(kFileProperties, 3, 0));
}

}  // namespace
