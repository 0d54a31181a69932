// browse_test.cpp - the browse list over real record files, with the lines
// and picks the settlement installs for them: the property and concept
// files are created from the program's own dictionaries in a fresh suite
// root, records are inserted straight through the record manager, and the
// list runs on the virtual console with scripted keys.  A
// scripted Alt+X runs the test's calculator hook, which takes a snapshot
// of the screen, the index file and the lock mode while the list is open
// (the list ignores the key itself).
#include "screen/browse.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "data/data.h"
#include "input/dates.h"
#include "input/keys.h"
#include "platform/console.h"
#include "platform/platform.h"
#include "recman/recman.h"
#include "screen/form.h"
#include "screen/form_driver.h"
#include "screen/windows.h"
#include "session/session.h"
#include "settle/hooks.h"
#include "settle/records.h"
#include "tests/screen_capture.h"
#include "tests/temp_dir.h"

namespace {

struct Snapshot {
  std::vector<std::string> rows;  // rows[r] = screen row r, 1-based
  std::vector<std::vector<unsigned char>> attributes;
  std::string index;  // the index file's bytes
  int16_t propertyLockMode = -1;
  int depth = 0;
};
std::vector<Snapshot> snapshots;

std::string TakeSnapshot() {
  Snapshot s;
  ScreenCapture screen = CaptureScreen();
  s.rows = std::move(screen.rows);
  s.attributes = std::move(screen.attributes);
  ReadWholeFile(BrowseIndexFile(), s.index);
  int slot = FindSlot(kFileProperties);
  if (slot > 0) s.propertyLockMode = DataFiles.slots[slot].lockMode;
  s.depth = Windows.WindowDepth;
  snapshots.push_back(s);
  return "";
}

constexpr int kSnap = kKeyAltX;
constexpr int kIdlePolls = 40;

// The list window of most tests: rows 5..11 (5 visible rows), columns
// 20..70 (49 visible columns).
constexpr int kTop = 5, kLeft = 20, kBottom = 11, kRight = 70;
constexpr int kRows = kBottom - kTop - 1;

std::string Description(int code) { return "FINCA " + std::to_string(code); }
std::string PropertyLine(int code) { return ZeroPad(code, 4) + "  " + Description(code); }

int32_t GetInt32(const std::string& bytes, size_t at) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i)
    v |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + i])) << (8 * i);
  return static_cast<int32_t>(v);
}

class BrowseTest : public ::testing::Test {
 protected:
  TempDir temp{"browse_test_"};
  const std::string dir = temp.path;
  std::string root, previousDirectory;
  std::map<std::string, std::string> environment;

  void SetUp() override {
    ASSERT_FALSE(dir.empty());
    root = dir + "/";
    for (const char* sub : {"/DADES", "/ddf", "/TMP"}) std::filesystem::create_directories(dir + sub);
    for (const char* base : {"THRebut", "FinquesH"})
      std::filesystem::copy_file(std::string(TARPELIX_SOURCE_DIR) + "/demo/ddf/" + base + ".xdf",
                                 dir + "/ddf/" + base + ".xdf");
    previousDirectory = CurrentDirectory();
    ASSERT_TRUE(ChangeDirectory(dir));
    environment["KALROOT"] = root;
    environment["KALTMP"] = root + "TMP/";
    Platform.environment = &environment;
    Platform.beep = [] {};
    Session = SessionState{};
    Session.root = root;
    Session.tempDir = root + "TMP/";
    Session.terminalDir = root + "TMP/";
    Session.language = "CAT";
    Session.date = PackDigits("20230515");
    for (int i = 0; i < 5; ++i) {
      Session.foreground[i] = static_cast<int16_t>(i + 1);
      Session.background[i] = static_cast<int16_t>(i + 6);
    }
    ConsoleStartVirtual();
    ResetWindows();
    ResetFormatPreferences();
    Keyboard = KeyboardState{};
    Keyboard.calculator = TakeSnapshot;
    InstallSettlementHooks();
    snapshots.clear();
    DataFiles = DataFileTable{};
    int16_t status = -1;
    OpenDataFile(status, THRebut, root + "DADES\\THRebut", kFileConcepts);
    ASSERT_EQ(status, 0);
    OpenDataFile(status, FinquesH, root + "DADES\\FinquesH", kFileProperties);
    ASSERT_EQ(status, 0);
    CreateFormTables(4, 2);
    CreateBrowseTables(3);
    DefineBrowse(1, kFileProperties, kTop, kLeft, kBottom, kRight, "_FINQUES_");
    DefineBrowse(2, kFileConcepts, 8, 36, 20, 63, "_CONCEPTES_");
  }

  void TearDown() override {
    int16_t status = 0;
    ResetDataFiles(status);
    DataFiles = DataFileTable{};
    ResetWindows();
    Keyboard = KeyboardState{};
    ScreenExitCheck = nullptr;
    FormLookups = FormLookupHooks{};
    Platform = PlatformHooks{};
    ChangeDirectory(previousDirectory);
  }

  static void DefineBrowse(int n, int16_t file, int top, int left, int bottom, int right,
                           const std::string& title, int16_t next = 0, int16_t screen = 0) {
    BrowseDefinition& b = Browse(n);
    b.BrowseFile = file;
    b.BrowseKey = 0;
    b.BrowseBox[0] = static_cast<int16_t>(top);
    b.BrowseBox[1] = static_cast<int16_t>(left);
    b.BrowseBox[2] = static_cast<int16_t>(bottom);
    b.BrowseBox[3] = static_cast<int16_t>(right);
    b.BrowseTitle = title;
    b.BrowseNext = next;
    b.BrowseScreen = screen;
  }

  // Inserts the record variable's bytes as a new record (the program
  // itself never inserts).
  static void Insert(int16_t fileNumber, const unsigned char* record, size_t length) {
    int slot = FindSlot(fileNumber);
    ASSERT_GT(slot, 0);
    std::string data(reinterpret_cast<const char*>(record), length);
    uint32_t dataLength = static_cast<uint32_t>(data.size());
    data.resize(kDataBufferSize, ' ');
    char key[kKeyBufferSize] = {};
    ASSERT_EQ(BTRCALL(B_INSERT, DataFiles.slots[slot].positionBlock, data.data(), &dataLength, key, 255, 0),
              0);
  }

  static void AddProperty(int code, const std::string& description) {
    ClearPropertyRecord();
    SetPropertyCode(PackDigits(ZeroPad(code, 4)));
    SetPropertyDescription(description);
    Insert(kFileProperties, FinquesH, sizeof FinquesH);
  }

  static void AddProperties(int count) {
    ASSERT_EQ(BeginTransaction(), 0);  // one commit for all of them
    for (int code = 1; code <= count; ++code) AddProperty(code, Description(code));
    ASSERT_EQ(EndTransaction(), 0);
  }

  static void AddConcept(int number, const std::string& description) {
    ClearConceptRecord();
    SetConceptNumber(number);
    SetConceptDescription(description);
    Insert(kFileConcepts, THRebut, sizeof THRebut);
  }

  static int PickedProperty() { return std::stoi(UnpackDigits(PropertyCode())); }

  // Scripts the keys as typed one after the other while the list waits:
  // before each key come polls that find no key waiting, enough for every
  // scan of records in between to find the keyboard empty (the scan looks
  // for a key after each record; waiting for a key skips them).
  static void Type(const std::vector<int>& keys) {
    for (int key : keys) {
      for (int i = 0; i < kIdlePolls; ++i) Console.scripted.push_back(ConsoleEvent{});
      VirtualPushKey(key);
    }
  }

  static int16_t Run(int16_t definition, const std::vector<int>& keys, bool typedAhead = false) {
    if (typedAhead) VirtualPushKeys(keys);
    else Type(keys);
    int16_t cancelled = 99;
    BrowseList(definition, cancelled);
    EXPECT_EQ(Console.starved, 0) << VirtualScreenDump();
    return cancelled;
  }

  // The visible text of list row `row` (1-based) of a snapshot.
  static std::string Row(const Snapshot& s, int row, int left = kLeft, int right = kRight) {
    return s.rows[kTop + row].substr(left, right - left - 1);
  }
  static std::string Trimmed(std::string text) {
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
  }
  // Checks the page shows properties first.. on its rows (blank after
  // `last`) and the bar on `barRow`.
  static void ExpectPage(const Snapshot& s, int first, int last, int barRow) {
    for (int row = 1; row <= kRows; ++row) {
      int code = first + row - 1;
      EXPECT_EQ(Trimmed(Row(s, row)), code <= last ? PropertyLine(code) : "") << "row " << row;
      unsigned char expected = row == barRow ? SchemeAttribute(4) : SchemeAttribute(0);
      if (code <= last) { EXPECT_EQ(s.attributes[kTop + row][kLeft + 1], expected) << "row " << row; }
    }
  }
};

TEST_F(BrowseTest, TheFirstPageShowsOneLinePerRecordUnderTheTitle) {
  AddProperties(12);
  EXPECT_EQ(Run(1, {kSnap, kKeyEsc}), -1);
  ASSERT_EQ(snapshots.size(), 1u);
  const Snapshot& s = snapshots[0];
  std::string top = s.rows[kTop].substr(kLeft - 1, kRight - kLeft + 1);
  // "_" in a title is a blank; blanks and the rest of the line are "═".
  EXPECT_EQ(top, "\xC9 FINQUES " + std::string(40, '\xCD') + "\xBB");
  EXPECT_EQ(s.rows[kBottom].substr(kLeft - 1, 1), "\xC8");
  ExpectPage(s, 1, 5, 1);
  EXPECT_EQ(s.propertyLockMode, 0);
}

TEST_F(BrowseTest, DownOnTheLastRowScrollsByOneAndUpOnTheFirstRowScrollsBack) {
  AddProperties(12);
  int16_t cancelled =
      Run(1, {kKeyDown, kKeyDown, kKeyDown, kKeyDown, kSnap, kKeyDown, kSnap, kKeyDown, kSnap, kKeyUp, kKeyUp,
              kKeyUp, kKeyUp, kSnap, kKeyUp, kSnap, kKeyUp, kSnap, kKeyEnter});
  EXPECT_EQ(cancelled, 0);
  ASSERT_EQ(snapshots.size(), 6u);
  ExpectPage(snapshots[0], 1, 5, 5);
  ExpectPage(snapshots[1], 2, 6, 5);
  ExpectPage(snapshots[2], 3, 7, 5);
  ExpectPage(snapshots[3], 3, 7, 1);
  ExpectPage(snapshots[4], 2, 6, 1);
  ExpectPage(snapshots[5], 1, 5, 1);
  EXPECT_EQ(PickedProperty(), 1);
}

TEST_F(BrowseTest, UpOnTheFirstEntryAndDownOnTheLastDoNothing) {
  AddProperties(3);
  EXPECT_EQ(Run(1, {kKeyUp, kSnap, kKeyDown, kKeyDown, kKeyDown, kKeyDown, kSnap, kKeyEnter}), 0);
  ExpectPage(snapshots.at(0), 1, 3, 1);
  ExpectPage(snapshots.at(1), 1, 3, 3);
  EXPECT_EQ(PickedProperty(), 3);
}

TEST_F(BrowseTest, PageDownOnTheLastPageAndPageUpOnTheFirstDoNothing) {
  AddProperties(12);
  EXPECT_EQ(Run(1, {kKeyPgUp, kSnap, kKeyDown, kKeyDown, kKeyPgDn, kSnap, kKeyPgDn, kSnap, kKeyPgDn, kSnap,
                    kKeyPgUp, kSnap, kKeyPgUp, kSnap, kKeyEnter}),
            0);
  ASSERT_EQ(snapshots.size(), 6u);
  ExpectPage(snapshots[0], 1, 5, 1);
  ExpectPage(snapshots[1], 6, 10, 3);
  ExpectPage(snapshots[2], 11, 12, 2);  // the move is cut at the last entry
  ExpectPage(snapshots[3], 11, 12, 2);
  ExpectPage(snapshots[4], 6, 10, 2);
  ExpectPage(snapshots[5], 1, 5, 2);
  EXPECT_EQ(PickedProperty(), 2);
}

TEST_F(BrowseTest, PageUpNearTheStartKeepsTheBarOnTheCurrentEntry) {
  AddProperties(12);
  // Six Downs and an Up: the page shows 3..7 with the bar on 6 (row 4).
  std::vector<int> keys(6, kKeyDown);
  keys.push_back(kKeyUp);
  keys.insert(keys.end(), {kSnap, kKeyPgUp, kSnap, kKeyEnter});
  EXPECT_EQ(Run(1, keys), 0);
  ExpectPage(snapshots.at(0), 3, 7, 4);
  ExpectPage(snapshots.at(1), 1, 5, 1);  // five back from 6 stops at the first
  EXPECT_EQ(PickedProperty(), 1);
}

TEST_F(BrowseTest, LongLinesScrollSidewaysWithTheMarksInTheTitle) {
  // 12 visible columns; the longest line has 34 characters.
  DefineBrowse(1, kFileProperties, kTop, kLeft, kBottom, kLeft + 13, "_FINQUES_");
  AddProperty(1, "CARRER DE LA CONCORDIA NUM 1");
  AddProperty(2, "PLACA");
  EXPECT_EQ(Run(1, {kSnap, kKeyRight, kSnap, kKeyRight, kKeyRight, kSnap, kKeyRight, kSnap, kKeyLeft,
                    kKeyLeft, kKeyLeft, kSnap, kKeyLeft, kSnap, kKeyEsc}),
            -1);
  ASSERT_EQ(snapshots.size(), 6u);
  auto title = [](const Snapshot& s) { return s.rows[kTop].substr(kLeft - 1, 14); };
  auto line = [](const Snapshot& s, int row) { return s.rows[kTop + row].substr(kLeft, 12); };
  EXPECT_EQ(title(snapshots[0]), "\xC9 FINQUES \xCD\xCD\xCD\x10");
  EXPECT_EQ(line(snapshots[0], 1), "0001  CARRER");
  EXPECT_EQ(line(snapshots[0], 2), "0002  PLACA ");
  EXPECT_EQ(title(snapshots[1]), "\x11 " + std::string(11, '\xCD') + "\x10");
  EXPECT_EQ(line(snapshots[1], 1), "RRER DE LA C");
  EXPECT_EQ(line(snapshots[1], 2), "ACA         ");
  EXPECT_EQ(title(snapshots[2]), "\x11" + std::string(12, '\xCD') + "\xBB");
  EXPECT_EQ(line(snapshots[2], 1), "RDIA NUM 1  ");
  EXPECT_EQ(snapshots[3].rows, snapshots[2].rows);  // no further to the right
  EXPECT_EQ(snapshots[4].rows, snapshots[0].rows);
  EXPECT_EQ(snapshots[5].rows, snapshots[0].rows);  // no further to the left
}

TEST_F(BrowseTest, EscDuringALongScanStopsItAndKeepsTheOtherKeysTyped) {
  AddProperties(200);
  // The scan takes a waiting key after every record: the two Downs are kept
  // for the list, the Esc ends the scan after the third line.
  EXPECT_EQ(Run(1, {kKeyDown, kKeyDown, kKeyEsc, kSnap, kKeyDown, kKeyPgDn, kSnap, kKeyEnter}, true), 0);
  ASSERT_EQ(snapshots.size(), 2u);
  ExpectPage(snapshots[0], 1, 3, 3);
  ExpectPage(snapshots[1], 1, 3, 3);
  EXPECT_EQ(PickedProperty(), 3);
}

TEST_F(BrowseTest, EnterPicksTheRecordByItsPositionAndClosesEverything) {
  AddProperties(12);
  std::vector<ConsoleCell> before = Console.cells;
  SetColourScheme("r");
  EXPECT_EQ(Run(1, {kKeyPgDn, kKeyDown, kSnap, kKeyEnter}), 0);
  EXPECT_EQ(PickedProperty(), 7);
  EXPECT_EQ(Trimmed(PropertyDescription()), "FINCA 7");
  EXPECT_TRUE(Console.cells == before);
  EXPECT_EQ(Windows.WindowDepth, 0);
  EXPECT_EQ(Windows.currentScheme, 2);
  EXPECT_FALSE(FileExists(BrowseIndexFile()));
  EXPECT_EQ(snapshots.at(0).depth, 1);
}

TEST_F(BrowseTest, EscAndAnyOtherKeyLeaveWithoutPicking) {
  AddProperties(12);
  EXPECT_EQ(Run(1, {kKeyDown, kKeyDown, kKeyEsc}), -1);
  EXPECT_EQ(Windows.WindowDepth, 0);
  EXPECT_FALSE(FileExists(BrowseIndexFile()));
  EXPECT_EQ(Run(1, {kKeyF1}), -1);
  EXPECT_EQ(Run(1, {'x'}), -1);
}

TEST_F(BrowseTest, TheIndexFileChainsTheEntriesBuiltSoFar) {
  AddProperties(12);
  EXPECT_EQ(Run(1, {kSnap, kKeyEsc}), -1);
  const std::string& index = snapshots.at(0).index;
  // The first page (5 lines) and the entry after it are built.
  size_t at = 0;
  int32_t previous = 0;
  for (int code = 1; code <= 6; ++code) {
    ASSERT_GE(index.size(), at + 10) << "entry " << code;
    EXPECT_EQ(GetInt32(index, at), previous) << "entry " << code;
    int32_t physical = GetInt32(index, at + 4);
    EXPECT_EQ(RecordPosition(physical, kFileProperties), 0);
    EXPECT_EQ(PickedProperty(), code);
    std::string line = PropertyLine(code);
    size_t length = static_cast<unsigned char>(index[at + 8]) | static_cast<unsigned char>(index[at + 9])
                                                                    << 8;
    ASSERT_EQ(length, line.size());
    EXPECT_EQ(index.substr(at + 10, length), line);
    previous = static_cast<int32_t>(at + 1);  // positions are 1-based
    at += 10 + length;
  }
  EXPECT_EQ(index.size(), at);
}

TEST_F(BrowseTest, LinesAreBuiltOnlyAsFarAsTheListIsShown) {
  AddProperties(1000);
  uint64_t before = DataFiles.engineCalls;
  EXPECT_EQ(Run(1, {kKeyPgDn, kKeyEsc}), -1);
  EXPECT_LT(DataFiles.engineCalls - before, 100u);
}

TEST_F(BrowseTest, ConceptsAreListedFromOneToNinetyNine) {
  for (int n : {0, 1, 5, 99, 100, 120}) AddConcept(n, "CONCEPTE " + std::to_string(n));
  EXPECT_EQ(Run(2, {kSnap, kKeyDown, kKeyDown, kKeyDown, kKeyEnter}), 0);
  EXPECT_EQ(ConceptNumber(), 99);
  const Snapshot& s = snapshots.at(0);
  auto line = [&](int row) { return Trimmed(s.rows[8 + row].substr(36, 26)); };
  EXPECT_EQ(line(1), "01  CONCEPTE 1");
  EXPECT_EQ(line(2), "05  CONCEPTE 5");
  EXPECT_EQ(line(3), "99  CONCEPTE 99");
  EXPECT_EQ(line(4), "");
}

TEST_F(BrowseTest, AnEmptyFileShowsAnEmptyListThatEnterCannotPickFrom) {
  EXPECT_EQ(Run(1, {kKeyDown, kKeyPgDn, kSnap, kKeyEnter}), -1);
  ExpectPage(snapshots.at(0), 1, 0, 1);
  EXPECT_EQ(Windows.WindowDepth, 0);
}

// A symbolic link where the index file belongs is never followed: the
// operator is told once (the message names the file), the list is empty,
// and the file the link points to stays as it was.
TEST_F(BrowseTest, ASymbolicLinkInPlaceOfTheIndexFileIsRefusedAndToldOnce) {
  AddProperties(3);
  const std::string victim = dir + "/victim";
  ASSERT_TRUE(WriteWholeFile(victim, "precious"));
  std::filesystem::create_symlink(victim, dir + "/TMP/Browse.tmp");
  EXPECT_EQ(Run(1, {kSnap, kSnap, kKeyEnter}), -1);  // the first key answers the message
  EXPECT_EQ(Run(1, {kSnap, kKeyEnter}), -1);         // told once: the list at once
  ASSERT_EQ(snapshots.size(), 3u);
  std::string message;
  for (const std::string& row : snapshots[0].rows) message += row;
  EXPECT_NE(message.find("NO ES POT ACCEDIR AL FITXER " + dir + "/TMP/Browse.tmp:"), std::string::npos)
      << message;
  EXPECT_NE(message.find("ENLLA\x80 SIMB\xE3LIC"), std::string::npos) << message;
  ExpectPage(snapshots[1], 1, 0, 1);
  ExpectPage(snapshots[2], 1, 0, 1);
  std::string contents;
  ASSERT_TRUE(ReadWholeFile(victim, contents));
  EXPECT_EQ(contents, "precious");
  EXPECT_EQ(Windows.WindowDepth, 0);
}

TEST_F(BrowseTest, AFileThatIsNotOpenShowsAnEmptyList) {
  DefineBrowse(3, 999, kTop, kLeft, kBottom, kRight, "_RES_");
  EXPECT_EQ(Run(3, {kKeyEnter}), -1);
  EXPECT_EQ(Windows.WindowDepth, 0);
}

TEST_F(BrowseTest, AnUnknownDefinitionOrABoxWithoutRoomOpensNothing) {
  EXPECT_EQ(Run(7, {}), -1);
  DefineBrowse(3, kFileProperties, 5, 20, 6, 70, "_RES_");
  EXPECT_EQ(Run(3, {}), -1);
  EXPECT_EQ(Windows.WindowDepth, 0);
}

TEST_F(BrowseTest, TheLockModeIsNoLockingWhileListingAndRestoredAfter) {
  AddProperties(3);
  int16_t status = 0;
  SetLockMode(status, "a", kFileProperties);
  EXPECT_EQ(Run(1, {kSnap, kKeyEnter}), 0);
  EXPECT_EQ(snapshots.at(0).propertyLockMode, 0);
  EXPECT_EQ(DataFiles.slots[FindSlot(kFileProperties)].lockMode, 1);
  EXPECT_TRUE(DataFiles.lockModeStack.empty());
}

TEST_F(BrowseTest, FFourOpensTheNextListWhichMakesThePick) {
  AddProperties(3);
  AddConcept(7, "SALDO");
  DefineBrowse(1, kFileProperties, kTop, kLeft, kBottom, kRight, "_FINQUES_", 2);
  EXPECT_EQ(Run(1, {kKeyDown, kKeyF4, kSnap, kKeyEnter}), 0);
  EXPECT_EQ(ConceptNumber(), 7);
  EXPECT_EQ(snapshots.at(0).depth, 2);
  EXPECT_EQ(Windows.WindowDepth, 0);
  EXPECT_FALSE(FileExists(BrowseIndexFile()));
  // Without a next list F4 leaves like any other key.
  DefineBrowse(1, kFileProperties, kTop, kLeft, kBottom, kRight, "_FINQUES_", 0);
  EXPECT_EQ(Run(1, {kKeyF4}), -1);
}

TEST_F(BrowseTest, EscInTheFilterScreenLeavesBeforeTheList) {
  AddProperties(3);
  FormScreen& filter = Screen(4);
  filter.ScreenKeys = "d,1b";
  filter.FieldCount = 1;
  FormField& f = Field(4, 1);
  f.Row = 2;
  f.Column = 2;
  f.Label = "FILTRE: ";
  f.Width = 4;
  f.Value = "    ";
  DefineBrowse(1, kFileProperties, kTop, kLeft, kBottom, kRight, "_FINQUES_", 0, 4);
  EXPECT_EQ(Run(1, {kKeyEsc}), -1);
  EXPECT_EQ(Windows.WindowDepth, 0);
  EXPECT_EQ(Run(1, {kKeyEnter, kKeyDown, kKeyEnter}), 0);
  EXPECT_EQ(PickedProperty(), 2);
}

// F4 on a form field with lookup 1: the pick is stored as the property's
// four digits; Esc in the list leaves the field as it was.
TEST_F(BrowseTest, FFourOnAFieldStoresThePickAndEscLeavesTheFieldUnchanged) {
  AddProperties(12);
  FormScreen& screen = Screen(3);
  screen.ScreenKeys = "d,1b,4800,5000,3e00";
  screen.FieldCount = 1;
  FormField& f = Field(3, 1);
  f.Row = 2;
  f.Column = 2;
  f.Label = "FINCA: ";
  f.Width = 5;
  f.Lookup = 1;
  f.Value = "1    ";
  int16_t number = 3, up = 0, down = 0;
  KeyCode key = 0;
  Type({kKeyF4, kKeyEsc, kKeyEsc});
  RunFormScreen(number, up, down, key);
  EXPECT_EQ(key, kKeyEsc);
  EXPECT_EQ(Field(3, 1).Value, "1    ");

  Type({kKeyF4, kKeyPgDn, kKeyDown, kKeyEnter});
  number = 3;
  key = 0;
  RunFormScreen(number, up, down, key);
  EXPECT_EQ(key, kKeyEnter);
  EXPECT_EQ(Field(3, 1).Value, "0007 ");
  EXPECT_EQ(Console.starved, 0) << VirtualScreenDump();
}

}  // namespace
