// form_lookups_test.cpp - what the settlement installs in the form screen
// driver: the code a browse pick stores, concept fields checked against a
// real concept file, and the settlement dialogue that runs the parameter
// screen until Esc.
#include <gtest/gtest.h>

#include <string>

#include "data/data.h"
#include "input/dates.h"
#include "recman/recman.h"
#include "screen/form.h"
#include "screen/form_driver.h"
#include "settle/hooks.h"
#include "settle/records.h"
#include "settle/settlement.h"
#include "tests/screen/form_driver_test_support.h"

namespace {

// The driver with the settlement's lookups, but every screen passing its
// exit check (the parameter check has tests of its own).
class FormLookupsTest : public FormDriverTest {
 protected:
  void SetUp() override {
    FormDriverTest::SetUp();
    InstallSettlementHooks();
    ScreenExitCheck = [](int16_t&, KeyCode&) -> int16_t { return 0; };
  }
};

TEST_F(FormLookupsTest, LookupPickStoresThePropertyOrConceptCode) {
  DefineScreen(1, 3);
  DefineField(1, 1, 3, 2, "Finca: ", 5, "1");
  DefineField(1, 2, 4, 2, "Concepte: ", 3, "3");
  DefineField(1, 3, 5, 2, "Altre: ", 3, "abc");
  // All four digits of the property code: 1009 is not property 9.
  for (const char* digits : {"0012", "1009"}) {
    std::string code = PackDigits(digits);
    FinquesH[0] = static_cast<unsigned char>(code[0]);
    FinquesH[1] = static_cast<unsigned char>(code[1]);
    EXPECT_EQ(ApplyLookupPick(1, 1, 1), 0);
    EXPECT_EQ(Value(1, 1), std::string(digits) + " ");
  }
  THRebut[0] = 7;
  std::string picked;
  EXPECT_EQ(ApplyLookupPick(2, 1, 2, &picked), 0);
  EXPECT_EQ(picked, "7");
  EXPECT_EQ(ApplyLookupPick(3, 1, 3), 0) << "a lookup that stores nothing";
  EXPECT_EQ(Value(1, 2), "7  ");
  EXPECT_EQ(Value(1, 3), "abc");
}

// ---- Concept fields, against a real concept file -----------------------------

// The concept file THRebut with concepts 1..8, created through the data
// layer from a dictionary written here: 24-byte records, key 0 the concept
// number as one unsigned binary byte.
class ConceptFieldTest : public FormLookupsTest {
 protected:
  void SetUp() override {
    FormLookupsTest::SetUp();
    // The data layer writes its update log in the current directory.
    previousDirectory = CurrentDirectory();
    ASSERT_TRUE(ChangeDirectory(dir));
    std::string spec(32, '\0');
    spec[0] = 24;              // record length
    spec[2] = 0, spec[3] = 4;  // page size 1024
    spec[4] = 1;               // one key
    spec[16] = 1;              // key: position 1,
    spec[18] = 1;              // length 1,
    spec[20] = KF_BINARY;      // unsigned binary
    std::string dictionary = std::string(1, static_cast<char>(spec.size())) + '\0' + spec;
    ASSERT_TRUE(MakeDirectory(dir + "/ddf"));
    ASSERT_TRUE(MakeDirectory(dir + "/DADES"));
    ASSERT_TRUE(WriteWholeFile(dir + "/ddf/THRebut.xdf", dictionary));
    int16_t status = -1;
    OpenDataFile(status, THRebut, Session.root + "DADES\\THRebut", kFileConcepts);
    ASSERT_EQ(status, 0);
    for (int n = 1; n <= 8; ++n) {
      ClearConceptRecord();
      SetConceptNumber(n);
      SetConceptDescription("CONCEPTE " + std::to_string(n));
      SetConceptType(n == 3 ? 1 : 0);
      CallRecordManager(FindSlot(kFileConcepts), B_INSERT, status);
      ASSERT_EQ(status, 0) << "concept " << n;
    }
    DefineScreen(1, 1);
    DefineField(1, 1, 3, 2, "Concepte: ", 2, "3", 0, kFieldConcept).InfoWidth = 22;
  }

  void TearDown() override {
    int16_t status = 0;
    ResetDataFiles(status);
    ChangeDirectory(previousDirectory);
    FormLookupsTest::TearDown();
  }

  std::string previousDirectory;
};

TEST_F(ConceptFieldTest, ShowsTheDescriptionOfTheConcept) {
  ShowFieldValue(1, 1);
  EXPECT_EQ(VirtualRowText(3, 12, 24), "3   " + FitToWidth("CONCEPTE 3", 20)) << VirtualScreenDump();
}

TEST_F(ConceptFieldTest, AcceptsZeroWithABlankDescription) {
  VirtualPushText("0");
  VirtualPushKey(kKeyEnter);
  EXPECT_EQ(Run(1), kKeyEnter) << VirtualScreenDump();
  EXPECT_EQ(Value(1, 1), "0 ");
  EXPECT_EQ(VirtualRowText(3, 12, 24), "0   " + std::string(20, ' '));
  EXPECT_EQ(Console.bells, 0);
}

TEST_F(ConceptFieldTest, AcceptsEveryExistingConceptFromOneToEight) {
  for (int n = 1; n <= 8; ++n) {
    VirtualPushText(std::to_string(n));
    VirtualPushKey(kKeyEnter);
    EXPECT_EQ(Run(1), kKeyEnter) << "concept " << n;
    EXPECT_EQ(Value(1, 1), std::to_string(n) + " ");
    EXPECT_EQ(VirtualRowText(3, 16, 10), "CONCEPTE " + std::to_string(n));
  }
  EXPECT_EQ(Console.bells, 0);
}

TEST_F(ConceptFieldTest, RefusesNineAndLettersWithABeep) {
  VirtualPushText("9");
  VirtualPushKey(kKeyEnter);  // out of range
  VirtualPushText("x");
  VirtualPushKey(kKeyEnter);  // not a number
  VirtualPushText("5");
  VirtualPushKey(kKeyEnter);
  EXPECT_EQ(Run(1), kKeyEnter) << VirtualScreenDump();
  EXPECT_EQ(Console.bells, 2);
  EXPECT_EQ(Value(1, 1), "5 ");
}

TEST_F(ConceptFieldTest, RefusesAConceptMissingFromTheFile) {
  int16_t status = 0;
  FindRecord(status, 0, ConceptKey(6), 0, kFileConcepts);
  ASSERT_EQ(status, 0);
  DeleteRecord(status, kFileConcepts);
  ASSERT_EQ(status, 0);
  EXPECT_NE(StoreFieldValue(1, "6", 1, kKeyEnter), 0);
  EXPECT_EQ(Value(1, 1), "3 ");
  Field(1, 1).Value = "6 ";
  ShowFieldValue(1, 1);
  EXPECT_EQ(VirtualRowText(3, 16, 20), "*** conc.no def. ***");
}

// ---- The settlement dialogue ------------------------------------------------

TEST_F(FormLookupsTest, SettlementDialogueRepeatsUntilEsc) {
  StandardScreen();
  // The confirmation the dialogue asks after the screen: S or N.
  DefineScreen(2, 1, 0, 13, 2, 21, 79);
  FormField& answer = DefineField(2, 1, 7, 1, "CONFIRMEU : ", 1, "");
  answer.InfoWidth = 2;
  answer.Choices = "|N,NO|S,SI";
  // Two accepted and confirmed screens, each pass's result closed with
  // Escape; typed as the screen waits for it, for a pass drops whatever
  // was typed before it ends.
  VirtualTypeWhenWaited(
      {kKeyCode2, 'S', kKeyEnter, kKeyEsc, kKeyCode2, 'S', kKeyEnter, kKeyEsc, 'T', kKeyEsc});
  RunSettlement();
  EXPECT_TRUE(Console.typedWhenWaited.empty());
  EXPECT_EQ(Console.starved, 0);
  EXPECT_EQ(Value(1, 1), "AAA   ") << "Esc on the first field drops the typed text";
}

TEST_F(FormLookupsTest, SettlementDialogueEndsOnAScreenWithNothingToEdit) {
  DefineScreen(1, 1);
  DefineField(1, 1, 3, 2, "Info: ", 4, "x", kFlagDisplayOnly);
  RunSettlement();  // returns instead of settling without end
  EXPECT_EQ(Console.starved, 0);
}

}  // namespace
