// form.h - the form tables: the screens, fields and browse definitions of
// the module, read from its form file at start and interpreted by the form
// screen driver and the browse list.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/text.h"  // FitToWidth, which the form tables keep their values with

struct FormField {
  int16_t Row = 0, Column = 0, Width = 0, LineWidth = 0, InfoWidth = 0;
  int16_t Flags = 0, Type = 0, Lookup = 0;
  std::string Label, Choices;
  std::string Value;  // always exactly Width characters
};

struct FormScreen {
  std::string ScreenKeys;
  int16_t FieldCount = 0;
  int16_t NextScreen = 0;
  int16_t WindowBox[5] = {0, 0, 0, 0, 0};  // 1..4: Top, Left, Bottom, Right
  std::vector<FormField> fields;           // 1..M; element 0 unused
};

struct BrowseDefinition {
  int16_t BrowseFile = 0, BrowseKey = 0;
  int16_t BrowseBox[4] = {0, 0, 0, 0};  // Top, Left, Bottom, Right
  int16_t BrowseScreen = 0, BrowseNext = 0;
  std::string BrowseTitle;
};

struct FormTables {
  int16_t screenCount = 0;                // N
  int16_t fieldMax = 0;                   // M
  int16_t browseCount = 0;                // Q
  std::vector<FormScreen> screens;        // 1..N; element 0 unused
  std::vector<BrowseDefinition> browses;  // 0..Q; element 0 unused
};
extern FormTables Form;

// Bounds-checked access: a number outside the tables gives an empty
// scratch entry (never the real tables), so bad numbers in a form file
// cannot reach outside them.
FormScreen& Screen(int screen);
FormField& Field(int screen, int field);
BrowseDefinition& Browse(int definition);

// Creates the screen tables (screens 1..screens, fields 1..fields of each,
// all numbers 0 and texts empty) and drops any browse definitions.
void CreateFormTables(int16_t screens, int16_t fields);
// Creates the browse definition tables 0..definitions, all empty.
void CreateBrowseTables(int16_t definitions);

// Places the text into the field's value the same way, so that the value
// keeps exactly the field's width.
void SetFieldValue(int screen, int field, const std::string& text);
