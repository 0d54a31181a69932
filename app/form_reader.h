// form_reader.h - reading the module's form file into the form tables.
//
// The form file (FORMS\<module>.JPN) is a stream of fields (text_fields.h)
// made of records in this order:
//   header            N (screens), M (largest number of fields of a screen)
//   N screen records  ScreenKeys, F, NextScreen, Top, Left, Bottom, Right,
//                     then F field records: Row, Column, Label, Width,
//                     LineWidth, InfoWidth, Flags, Type, Lookup, Choices
//   browse count      Q
//   Q browse records  BrowseFile, BrowseKey, Top, Left, Bottom, Right,
//                     BrowseScreen, BrowseTitle, BrowseNext
// A record may run over several lines.  Before the header, each screen
// record, the browse count and each browse record (never before a field
// record) lines starting with an apostrophe are comments.
#pragma once
#include <cstdint>
#include <string>

// Limits a form file must keep; beyond them the file is refused.
constexpr int16_t kMaxFormScreens = 99;
constexpr int16_t kMaxFormFields = 250;
constexpr int16_t kMaxBrowseDefinitions = 99;
constexpr int16_t kMaxFieldWidth = 1000;

// The width of the parameter screen's property fields: four digits and the
// last position, which the editor never types into.
constexpr int16_t kPropertyFieldWidth = 5;

// Reads the form file `path` into `Form`: each field's Value becomes Width
// spaces, Label, Choices and BrowseTitle are translated (Translate).  False,
// with a message in the operator's language naming the file in `problem`,
// when the file cannot be read, defines no screen, holds counts or widths
// outside the tables' limits, or ends before its last record (the message
// names the first screen, field or list missing).
bool ReadFormFile(const std::string& path, std::string& problem);

// Whether the form read holds what the program needs of it: the parameter
// screen (1) with its four fields (a date, two properties of
// kPropertyFieldWidth, a concept), the confirmation screen (2) with its
// one-character answer, Enter and Esc among both screens' keys, and every
// list a field names (list 1 of the property file, list 2 of the concept
// file).  False, with a message naming the file `path` and what is
// missing, when it does not.
bool CheckParameterForm(const std::string& path, std::string& problem);
