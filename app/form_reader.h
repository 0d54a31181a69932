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

// Reads the form file `path` into `Form`: each field's Value becomes Width
// spaces, Label, Choices and BrowseTitle are translated (Translate).  A file
// that ends early leaves the rest of the tables empty.  False, with a
// message in the operator's language naming the file in `problem`, when
// the file cannot be read, defines no screen, or holds counts or widths
// outside the tables' limits.
bool ReadFormFile(const std::string& path, std::string& problem);
