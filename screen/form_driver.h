// form_driver.h - the form screen driver: shows a screen of the form tables,
// edits its fields one after the other with the field editor, checks and
// stores each value by its type and runs continuation screens.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "input/keys.h"
#include "platform/console.h"

// Field types and flags of the form tables.
// A code field (4) takes digits only, like an amount, but names a record: a
// number is typed into it as it is.
constexpr int16_t kFieldText = 0, kFieldDate = 1, kFieldAmount = 2, kFieldConcept = 3, kFieldCode = 4;
constexpr int16_t kFlagStartBlank = 1;   // edit starts blank; left blank keeps the value
constexpr int16_t kFlagHidden = 2;       // as start blank, and never shown; input masked
constexpr int16_t kFlagDisplayOnly = 4;  // drawn, never visited
constexpr int16_t kFlagCursorAtEnd = 8;  // cursor starts after the last non-blank
// The screen's key line: its label, the keys that work on the screen, is
// drawn centred on the console's last row while the screen runs (what was
// there comes back when it ends); never visited.
constexpr int16_t kFlagKeyLine = 16;

// Continuation screens nest at most this deep; a form whose screens chain
// back on themselves cannot recurse without end.
constexpr int kMaxScreenNesting = 8;

// The screen-level exit check called whenever a screen is about to end:
// 0 accepts, nonzero sends the operator back to the first field.  The
// settlement installs its parameter check at start-up (settle/hooks.h);
// without one every screen is accepted.
using ScreenCheck = int16_t (*)(int16_t& screen, KeyCode& key);
extern ScreenCheck ScreenExitCheck;

// What the driver and the browse list need to know of the program's record
// files, whose layouts live above this folder: installed at start-up with
// the exit check (settle/hooks.h).  Without them no concept exists, no
// browse definition lists anything and a pick stores nothing.
struct FormLookupHooks {
  // True when the concept file holds concept `code` (its record is then
  // the current concept record), with the concept's description.
  bool (*findConcept)(long code, std::string& description) = nullptr;
  // True when browse definition `definition` lists records.
  bool (*listsRecords)(int16_t definition) = nullptr;
  // The line the list of `definition` shows for the record just read into
  // its file's record variable.
  std::string (*recordLine)(int16_t definition) = nullptr;
  // The code lookup `lookup` stores into its field after a pick, taken
  // from the picked record; false when that lookup stores nothing.
  bool (*pickedCode)(int lookup, std::string& code) = nullptr;
};
extern FormLookupHooks FormLookups;

// Runs a screen.  A negative `screen` is a nested call for a continuation
// screen.  On return `key` holds the key that ended the screen: Esc when the
// operator cancelled, any other key when the screen was accepted.
void RunFormScreen(int16_t& screen, int16_t& pgUpLeaves, int16_t& pgDnLeaves, KeyCode& key);
// A screen shown as RunFormScreen shows it (its window, title, labels,
// values and key line) without editing it, for as long as the value lives:
// what the program asks next is asked over it.  Gone again, with what was
// under it put back, at the end.
struct ShownFormScreen {
  explicit ShownFormScreen(int screen);
  ~ShownFormScreen();
  ShownFormScreen(const ShownFormScreen&) = delete;
  ShownFormScreen& operator=(const ShownFormScreen&) = delete;
  bool opened = false;                    // a window of its own
  std::vector<ConsoleCell> underKeyLine;  // the last row's cells, which its key line covers
};
// Draws the title line, all labels and all values of a screen.
void DrawFormScreen(int screen);
// Writes a field's stored value at its place, formatted by its type.
void ShowFieldValue(int screen, int field);
// Checks a text by the field's type and, when it passes, stores it as the
// field's value and shows it.  0 = accepted, nonzero = rejected, and then
// FieldRefusal tells why.
int16_t StoreFieldValue(int screen, std::string text, int field, KeyCode key);
// Why the last StoreFieldValue refused its text, in the operator's language
// ("DATA INCORRECTA" ...); empty after an accepted one.
const std::string& FieldRefusal();
// Stores into a field the code of the record the browse list left current,
// through StoreFieldValue, and answers its result (0 when the lookup stores
// nothing); `picked`, when given, receives the code.
int16_t ApplyLookupPick(int lookup, int screen, int field, std::string* picked = nullptr);
// True when the text consists only of the character (an empty text too).
bool IsAllOf(const std::string& text, int code);
