// records_test.cpp - the field accessors of the six record variables: the
// offsets, the little-endian amounts, packed codes and dates, and that a
// setter touches its own bytes only.
#include "settle/records.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "settle/listing.h"

namespace {

std::string Packed(std::initializer_list<int> pairs) {
  std::string out;
  for (int p : pairs) out += static_cast<char>(128 + p);
  return out;
}

template <size_t N>
std::string Bytes(const unsigned char (&record)[N], size_t at, size_t width) {
  return std::string(reinterpret_cast<const char*>(record) + at, width);
}

// Fills a record with a pattern, runs `change`, and reports which bytes
// differ from the pattern afterwards as [first, last] or "none".
template <size_t N, typename F>
std::string ChangedRange(unsigned char (&record)[N], F change) {
  for (size_t i = 0; i < N; ++i) record[i] = static_cast<unsigned char>(i * 7 + 3);
  change();
  int first = -1, last = -1;
  for (size_t i = 0; i < N; ++i) {
    if (record[i] != static_cast<unsigned char>(i * 7 + 3)) {
      if (first < 0) first = static_cast<int>(i);
      last = static_cast<int>(i);
    }
  }
  return first < 0 ? "none" : std::to_string(first) + ".." + std::to_string(last);
}

TEST(OwnerRecordTest, OwnerCode00120003IsPropertyTwelveOwnerThree) {
  ClearOwnerRecord();
  SetOwnerCode(Packed({0, 12, 0, 3}));
  EXPECT_EQ(OwnerCode(), Packed({0, 12, 0, 3}));
  EXPECT_EQ(OwnerPropertyCode(), Packed({0, 12}));
}

TEST(OwnerRecordTest, ConceptFiveIsAtOffsets270To273LittleEndian) {
  EXPECT_EQ(ChangedRange(PropietH, [] { SetOwnerConceptAmount(5, -2); }), "270..273");
  EXPECT_EQ(Bytes(PropietH, 270, 4), std::string("\xFE\xFF\xFF\xFF", 4));
  EXPECT_EQ(OwnerConceptAmount(5), -2);
  EXPECT_EQ(ChangedRange(PropietH, [] { SetOwnerConceptAmount(1, 0x01020304); }), "242..245");
  EXPECT_EQ(Bytes(PropietH, 242, 4), std::string("\x04\x03\x02\x01", 4));
  EXPECT_EQ(ChangedRange(PropietH, [] { SetOwnerConceptAmount(8, 7); }), "291..294");
  EXPECT_EQ(ChangedRange(PropietH, [] { SetOwnerConceptAmount(9, 7); }), "none");
  EXPECT_EQ(ChangedRange(PropietH, [] { SetOwnerConceptAmount(0, 7); }), "none");
  EXPECT_EQ(OwnerConceptAmount(9), 0);
}

TEST(OwnerRecordTest, SharesAndTheTwoFurtherSlots) {
  EXPECT_EQ(ChangedRange(PropietH, [] { SetOwnerShare(1, 250000); }), "211..214");
  EXPECT_EQ(OwnerShare(1), 250000);
  EXPECT_EQ(ChangedRange(PropietH, [] { SetOwnerShare(7, 9); }), "235..238");
  EXPECT_EQ(ChangedRange(PropietH, [] { SetOwnerShare(8, 9); }), "none");
  EXPECT_EQ(ChangedRange(PropietH, [] { SetOwnerExtraConcept(1, 12); }), "295..296");
  EXPECT_EQ(OwnerExtraConcept(1), 12);
  EXPECT_EQ(ChangedRange(PropietH, [] { SetOwnerExtraAmount(1, -5); }), "300..303");
  EXPECT_EQ(OwnerExtraAmount(1), -5);
  EXPECT_EQ(ChangedRange(PropietH, [] { SetOwnerExtraConcept(2, 13); }), "304..305");
  EXPECT_EQ(ChangedRange(PropietH, [] { SetOwnerExtraAmount(2, 1000); }), "309..312");
  EXPECT_EQ(OwnerExtraAmount(2), 1000);
  EXPECT_EQ(OwnerExtraAmount(3), 0);
}

TEST(PropertyRecordTest, FieldsSitAtTheirOffsets) {
  EXPECT_EQ(ChangedRange(FinquesH, [] { SetPropertyCode(Packed({0, 12})); }), "0..1");
  EXPECT_EQ(ChangedRange(FinquesH, [] { SetPropertyDescription("CASA"); }), "6..35");
  EXPECT_EQ(PropertyDescription(), "CASA" + std::string(26, ' '));
  EXPECT_EQ(ChangedRange(FinquesH, [] { SetPropertyFeePerOwner(1000); }), "110..113");
  EXPECT_EQ(PropertyFeePerOwner(), 1000);
  EXPECT_EQ(ChangedRange(FinquesH, [] { SetPropertyTaxIndex(1); }), "114..115");
  EXPECT_EQ(PropertyTaxIndex(), 1);
  EXPECT_EQ(ChangedRange(FinquesH, [] { SetPropertyLastSettlement(Packed({20, 23, 4, 7})); }), "160..163");
  EXPECT_EQ(PropertyLastSettlement(), Packed({20, 23, 4, 7}));
  const char* groups[] = {"164..167", "198..201", "232..235", "266..269", "300..303", "334..337"};
  for (int g = 2; g <= 7; ++g) {
    EXPECT_EQ(ChangedRange(FinquesH, [g] { SetPropertyGroupTotal(g, g * 1000); }), groups[g - 2]) << g;
    EXPECT_EQ(PropertyGroupTotal(g), g * 1000);
  }
  EXPECT_EQ(ChangedRange(FinquesH, [] { SetPropertyGroupTotal(1, 5); }), "none");
  EXPECT_EQ(ChangedRange(FinquesH, [] { SetPropertyGroupName(2, "ESCALA"); }), "168..197");
  EXPECT_EQ(ChangedRange(FinquesH, [] { SetPropertyGroupName(7, "PORTAL"); }), "338..367");
  EXPECT_EQ(ChangedRange(FinquesH, [] { SetPropertyTaxId("ESH12345678"); }), "368..384");
  EXPECT_EQ(PropertyTaxId(), "ESH12345678      ");
}

TEST(PropertyRecordTest, PackedDatesCompareChronologically) {
  std::string april7th2023 = Packed({20, 23, 4, 7});
  std::string december31st2022 = Packed({20, 22, 12, 31});
  EXPECT_EQ(april7th2023, std::string("\x94\x97\x84\x87", 4));      // 148 151 132 135
  EXPECT_EQ(december31st2022, std::string("\x94\x96\x8C\x9F", 4));  // 148 150 140 159
  EXPECT_GT(april7th2023, december31st2022);
  SetPropertyLastSettlement(december31st2022);
  EXPECT_LT(PropertyLastSettlement(), april7th2023);
}

TEST(PropertyRecordTest, ShortValuesArePaddedLongOnesCut) {
  ClearPropertyRecord();
  SetPropertyLastSettlement(Packed({20}));
  EXPECT_EQ(PropertyLastSettlement(), Packed({20, 0, 0, 0}));
  SetPropertyDescription(std::string(40, 'X'));
  EXPECT_EQ(PropertyDescription(), std::string(30, 'X'));
  EXPECT_EQ(FinquesH[36], 0);  // not written past the field
}

TEST(ConceptRecordTest, NumberDescriptionAndType) {
  EXPECT_EQ(ChangedRange(THRebut, [] { SetConceptNumber(5); }), "0..0");
  EXPECT_EQ(ConceptNumber(), 5);
  EXPECT_EQ(ChangedRange(THRebut, [] { SetConceptDescription("ROMANENT"); }), "1..20");
  EXPECT_EQ(ChangedRange(THRebut, [] { SetConceptType(1); }), "21..22");
  EXPECT_EQ(ConceptType(), 1);
  EXPECT_EQ(ConceptKey(5), std::string("\x05", 1));
  EXPECT_EQ(ConceptKey(200), std::string("\xC8", 1));
  EXPECT_EQ(ConceptKey(256), "");
}

TEST(ExpenseNoteRecordTest, CodeAndText) {
  EXPECT_EQ(ChangedRange(FinDespH, [] { SetExpenseNotePropertyCode(Packed({0, 12})); }), "0..1");
  EXPECT_EQ(ChangedRange(FinDespH, [] { SetExpenseNoteText("HOC"); }), "2..601");
  EXPECT_EQ(ExpenseNoteText().substr(0, 4), "HOC ");
  EXPECT_EQ(ExpenseNoteText().size(), 600u);
}

TEST(PaymentRecordTest, FieldsSitAtTheirOffsets) {
  EXPECT_EQ(ChangedRange(PagamH, [] { SetPaymentPropertyCode(Packed({0, 12})); }), "0..1");
  EXPECT_EQ(ChangedRange(PagamH, [] { SetPaymentDate(Packed({20, 23, 4, 7})); }), "2..5");
  SetPaymentPropertyCode(Packed({0, 12}));
  EXPECT_EQ(PaymentKey(), Packed({0, 12, 20, 23, 4, 7}));
  EXPECT_EQ(ChangedRange(PagamH, [] { SetPaymentAmount(-300); }), "35..38");
  EXPECT_EQ(PaymentAmount(), -300);
  EXPECT_EQ(ChangedRange(PagamH, [] { SetPaymentFlag("S"); }), "39..39");
  EXPECT_TRUE(PaymentChargedToOwner());
  SetPaymentFlag("");
  EXPECT_FALSE(PaymentChargedToOwner());
  EXPECT_EQ(ChangedRange(PagamH, [] { SetPaymentTarget(Packed({0, 7})); }), "40..41");
  EXPECT_EQ(PaymentTargetNumber(), 7);
  SetPaymentTarget(Packed({12, 34}));
  EXPECT_EQ(PaymentTargetNumber(), 1234);
}

TEST(CollectionRecordTest, FieldsSitAtTheirOffsets) {
  EXPECT_EQ(ChangedRange(CobramH, [] { SetCollectionOwnerCode(Packed({0, 12, 0, 3})); }), "0..3");
  EXPECT_EQ(ChangedRange(CobramH, [] { SetCollectionDate(Packed({20, 23, 4, 7})); }), "4..7");
  SetCollectionOwnerCode(Packed({0, 12, 0, 3}));
  EXPECT_EQ(CollectionKey(), Packed({0, 12, 0, 3, 20, 23, 4, 7}));
  EXPECT_EQ(ChangedRange(CobramH, [] { SetCollectionAmount(500); }), "13..16");
  EXPECT_EQ(CollectionAmount(), 500);
  EXPECT_EQ(ChangedRange(CobramH, [] { SetCollectionDeducted(200); }), "17..20");
  EXPECT_EQ(CollectionDeducted(), 200);
  EXPECT_EQ(ChangedRange(CobramH, [] { SetCollectionKind("C"); }), "21..21");
  EXPECT_EQ(CollectionKind(), "C");
}

TEST(ClearRecordTest, TextsBlankEverythingElseZero) {
  ClearPropertyRecord();
  EXPECT_EQ(PropertyFeePerOwner(), 0);
  EXPECT_EQ(PropertyDescription(), std::string(30, ' '));
  EXPECT_EQ(PropertyGroupName(5), std::string(30, ' '));
  EXPECT_EQ(PropertyTaxId(), std::string(17, ' '));
  EXPECT_EQ(FinquesH[2], 0);
  ClearCollectionRecord();
  EXPECT_EQ(CollectionKind(), " ");
  EXPECT_EQ(CollectionAmount(), 0);
}

// Stored text reaches a terminal through the tools' listings: its control
// characters in caret notation, never as the terminal's own commands.
TEST(ListingTest, ControlCharactersOfStoredTextAreMadeVisible) {
  EXPECT_EQ(VisibleText("EST\x1b[2JCIO\x07\x7F"), "EST^[[2JCIO^G^?");
  EXPECT_EQ(VisibleText("A\nB\tC"), "A^JB^IC");
  EXPECT_EQ(VisibleText("A\nB\x01", true), "A\nB^A");
  EXPECT_EQ(VisibleText("ESTACI\xE0 3"), "ESTACI\xE0 3");  // accented letters are text
}

}  // namespace
