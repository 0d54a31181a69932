// form.cpp - the form tables and their bounds-checked access.
#include "screen/form.h"

#include "platform/text.h"

FormTables Form;

namespace {

bool ScreenExists(int screen) {
  return screen >= 1 && screen <= Form.screenCount && screen < static_cast<int>(Form.screens.size());
}

}  // namespace

FormScreen& Screen(int screen) {
  static FormScreen scratch;
  if (ScreenExists(screen)) return Form.screens[screen];
  scratch = FormScreen{};
  return scratch;
}

FormField& Field(int screen, int field) {
  static FormField scratch;
  if (ScreenExists(screen)) {
    auto& fields = Form.screens[screen].fields;
    if (field >= 1 && field <= Form.fieldMax && field < static_cast<int>(fields.size())) return fields[field];
  }
  scratch = FormField{};
  return scratch;
}

BrowseDefinition& Browse(int definition) {
  static BrowseDefinition scratch;
  if (definition >= 1 && definition <= Form.browseCount && definition < static_cast<int>(Form.browses.size()))
    return Form.browses[definition];
  scratch = BrowseDefinition{};
  return scratch;
}

void CreateFormTables(int16_t screens, int16_t fields) {
  Form = FormTables{};
  if (screens < 0) screens = 0;
  if (fields < 0) fields = 0;
  Form.screenCount = screens;
  Form.fieldMax = fields;
  Form.screens.assign(screens + 1, FormScreen{});
  for (FormScreen& screen : Form.screens) screen.fields.assign(fields + 1, FormField{});
}

void CreateBrowseTables(int16_t definitions) {
  if (definitions < 0) definitions = 0;
  Form.browseCount = definitions;
  Form.browses.assign(definitions + 1, BrowseDefinition{});
}

void SetFieldValue(int screen, int field, const std::string& text) {
  FormField& f = Field(screen, field);
  f.Value = FitToWidth(text, f.Width);
}
