// form_reader.cpp - the form file's records, read by a small state machine
// (header, screens, browse count, browse definitions).
#include "app/form_reader.h"

#include <cstdlib>

#include "platform/platform.h"
#include "screen/form.h"
#include "screen/form_driver.h"
#include "session/language.h"
#include "session/text_fields.h"
#include "settle/records.h"

namespace {

// Reads the fields of one record in order.  Once the data has ended every
// further read gives 0 or "" and `ended` tells so.
struct RecordReader {
  TextFieldReader& in;
  bool ended = false;
  int numberLine = 0;  // line of the last number read, for messages

  int16_t Number() {
    int16_t value = 0;
    numberLine = in.line;
    if (!ended && !in.ReadNumber(value)) ended = true;
    return value;
  }
  std::string Text() {
    std::string value;
    if (!ended && !in.ReadText(value)) ended = true;
    return value;
  }
};

struct FormProblem {
  const std::string& path;
  std::string& message;

  bool Refuse(int line, const char* what, int value) {
    message = Translate("FITXER DE PANTALLES INCORRECTE: ") + HostPath(path) + ", " + Translate("L\xD6NIA ") +
              std::to_string(line) + ": " + Translate(what) + " (" + std::to_string(value) + ")";
    return false;
  }
  // The file ended before `missing` (already translated) was read.
  bool Incomplete(const std::string& missing) {
    message = Translate("FITXER DE PANTALLES INCOMPLET: ") + HostPath(path) + ", " + Translate("HI FALTA ") +
              missing;
    return false;
  }
};

std::string Numbered(const char* what, int number) { return Translate(what) + std::to_string(number); }

std::string FieldOfScreen(int field, int screen) {
  return Numbered("EL CAMP ", field) + Numbered(" DE LA PANTALLA ", screen);
}

bool ReadFieldRecord(RecordReader& record, FormField& field, FormProblem& problem) {
  field.Row = record.Number();
  if (record.ended) return true;  // the data ended before this field
  field.Column = record.Number();
  field.Label = record.Text();
  field.Width = record.Number();
  if (field.Width < 0 || field.Width > kMaxFieldWidth)
    return problem.Refuse(record.numberLine, "AMPLADA DE CAMP FORA DE L\xD6MITS", field.Width);
  field.LineWidth = record.Number();
  if (field.LineWidth < 0 || field.LineWidth > kMaxFieldWidth)
    return problem.Refuse(record.numberLine, "AMPLADA DE L\xD6NIA FORA DE L\xD6MITS", field.LineWidth);
  field.InfoWidth = record.Number();
  if (field.InfoWidth < 0 || field.InfoWidth > kMaxFieldWidth)
    return problem.Refuse(record.numberLine, "AMPLADA DE DESCRIPCI\xE0 FORA DE L\xD6MITS", field.InfoWidth);
  field.Flags = record.Number();
  field.Type = record.Number();
  field.Lookup = record.Number();
  field.Choices = record.Text();

  field.Value = FitToWidth("", field.Width);
  field.Label = Translate(field.Label);
  field.Choices = Translate(field.Choices);
  return true;
}

bool ReadScreenRecord(RecordReader& record, int number, FormScreen& screen, FormProblem& problem) {
  screen.ScreenKeys = record.Text();
  int16_t fields = record.Number();
  if (fields < 0 || fields > Form.fieldMax)
    return problem.Refuse(record.numberLine, "NOMBRE DE CAMPS FORA DE L\xD6MITS", fields);
  screen.FieldCount = fields;
  screen.NextScreen = record.Number();
  for (int k = 1; k <= 4; ++k) screen.WindowBox[k] = record.Number();
  if (record.ended) return problem.Incomplete(Numbered("LA PANTALLA ", number));
  for (int k = 1; k <= fields; ++k) {
    if (!ReadFieldRecord(record, screen.fields[k], problem)) return false;
    // A field cut short is as missing as one never begun: its last text,
    // the choices, is its end.
    if (record.ended) return problem.Incomplete(FieldOfScreen(k, number));
  }
  return true;
}

bool ReadBrowseRecord(RecordReader& record, int number, BrowseDefinition& browse, FormProblem& problem) {
  browse.BrowseFile = record.Number();
  browse.BrowseKey = record.Number();
  for (int16_t& side : browse.BrowseBox) side = record.Number();
  browse.BrowseScreen = record.Number();
  browse.BrowseTitle = Translate(record.Text());
  browse.BrowseNext = record.Number();
  if (record.ended) return problem.Incomplete(Numbered("LA LLISTA ", number));
  return true;
}

}  // namespace

namespace {

bool ReadFormRecords(TextFieldReader& in, const std::string& path, std::string& message) {
  FormProblem problem{path, message};

  enum class State { Header, Screens, BrowseCount, Browses } state = State::Header;
  int i = 0, j = 0;
  bool done = false;
  // Blank lines left at the end of the file start no record.
  while (!done && !in.OnlyBlanksRemain()) {
    in.SkipCommentLines();
    if (in.OnlyBlanksRemain()) break;
    RecordReader record{in};
    switch (state) {
      case State::Header: {
        int16_t screens = record.Number();
        if (screens < 1 || screens > kMaxFormScreens)
          return problem.Refuse(record.numberLine, "NOMBRE DE PANTALLES FORA DE L\xD6MITS", screens);
        int16_t fields = record.Number();
        if (fields < 0 || fields > kMaxFormFields)
          return problem.Refuse(record.numberLine, "NOMBRE DE CAMPS FORA DE L\xD6MITS", fields);
        CreateFormTables(screens, fields);
        state = State::Screens;
        break;
      }
      case State::Screens:
        ++i;
        if (!ReadScreenRecord(record, i, Form.screens[i], problem)) return false;
        if (i == Form.screenCount) state = State::BrowseCount;
        break;
      case State::BrowseCount: {
        int16_t definitions = record.Number();
        if (definitions < 1 || definitions > kMaxBrowseDefinitions)
          return problem.Refuse(record.numberLine, "NOMBRE DE LLISTES FORA DE L\xD6MITS", definitions);
        CreateBrowseTables(definitions);
        state = State::Browses;
        break;
      }
      case State::Browses:
        ++j;
        if (!ReadBrowseRecord(record, j, Form.browses[j], problem)) return false;
        done = j == Form.browseCount;
        break;
    }
  }

  if (Form.screenCount < 1) {
    message = Translate("EL FITXER DE PANTALLES NO DEFINEIX CAP PANTALLA: ") + HostPath(path);
    return false;
  }
  // A file that ends before its last record: what the program would meet
  // missing later (a screen, a list) is said now.
  switch (state) {
    case State::Header: break;
    case State::Screens: return problem.Incomplete(Numbered("LA PANTALLA ", i + 1));
    case State::BrowseCount: return problem.Incomplete(Translate("EL NOMBRE DE LLISTES"));
    case State::Browses:
      if (!done) return problem.Incomplete(Numbered("LA LLISTA ", j + 1));
      break;
  }
  return true;
}

}  // namespace

bool ReadFormFile(const std::string& path, std::string& message) {
  Form = FormTables{};
  message.clear();
  TextFieldReader in;
  if (!in.Load(path)) {
    message = Translate("NO ES POT LLEGIR EL FITXER DE PANTALLES ") + HostPath(path);
    return false;
  }
  if (ReadFormRecords(in, path, message)) return true;
  Form = FormTables{};  // nothing of a refused file is kept
  return false;
}

namespace {

// Whether a screen's key list (hexadecimal codes, comma-separated) holds
// the key.
bool ListsKey(const std::string& keys, long code) {
  size_t start = 0;
  while (start <= keys.size()) {
    size_t comma = keys.find(',', start);
    if (comma == std::string::npos) comma = keys.size();
    std::string entry = TrimBlanks(keys.substr(start, comma - start));
    if (!entry.empty() && std::strtol(entry.c_str(), nullptr, 16) == code) return true;
    start = comma + 1;
  }
  return false;
}

bool Editable(const FormField& field) { return (field.Flags & kFlagDisplayOnly) == 0 && field.Width > 0; }

// What the parameter and confirmation screens lack, or "".
std::string ScreenLack() {
  if (Form.screenCount < 2) return Translate("HI FALTA LA PANTALLA DE CONFIRMACI\xE0 (PANTALLA 2)");
  if (Screen(1).FieldCount < 4)
    return Translate("LA PANTALLA 1 HA DE TENIR ELS QUATRE CAMPS DELS PAR\xB5METRES");
  for (int f = 1; f <= 4; ++f)
    if (!Editable(Field(1, f))) return FieldOfScreen(f, 1) + Translate(" NO ES POT EDITAR");
  if (Field(1, 1).Type != kFieldDate) return FieldOfScreen(1, 1) + Translate(" HA DE SER UNA DATA");
  // Four digits and the editor's free last position; a width of 6 or 9
  // would also give the range's keys another form.
  for (int f : {2, 3})
    if ((Field(1, f).Type != kFieldCode && Field(1, f).Type != kFieldAmount) ||
        Field(1, f).Width != kPropertyFieldWidth)
      return FieldOfScreen(f, 1) + Translate(" HA DE SER UNA FINCA D'AMPLADA 5");
  if (Field(1, 4).Type != kFieldConcept) return FieldOfScreen(4, 1) + Translate(" HA DE SER UN CONCEPTE");
  if (Screen(2).FieldCount < 1 || !Editable(Field(2, 1)) || Field(2, 1).Width != 1)
    return Translate("LA PANTALLA 2 HA DE TENIR EL CAMP DE CONFIRMACI\xE0 D'AMPLADA 1");
  for (int s : {1, 2})
    if (!ListsKey(Screen(s).ScreenKeys, kKeyEnter) || !ListsKey(Screen(s).ScreenKeys, kKeyEsc))
      return Numbered("LES TECLES DE LA PANTALLA ", s) + Translate(" HAN D'INCLOURE RETORN (d) I ESC (1b)");
  return std::string();
}

// What the browse lists the fields name lack, or "".
std::string ListLack() {
  for (int s = 1; s <= Form.screenCount; ++s)
    for (int f = 1; f <= Screen(s).FieldCount && f <= Form.fieldMax; ++f) {
      const int lookup = Field(s, f).Lookup;
      if (lookup <= 0) continue;
      if (lookup > Form.browseCount)
        return FieldOfScreen(f, s) + Numbered(" NOMENA LA LLISTA ", lookup) + Translate(", QUE NO EXISTEIX");
      // The program lists properties with list 1 and concepts with list 2.
      if (lookup == 1 && Browse(1).BrowseFile != kFileProperties)
        return Numbered("LA LLISTA ", 1) + Translate(" HA DE SER DEL FITXER DE FINQUES (511)");
      if (lookup == 2 && Browse(2).BrowseFile != kFileConcepts)
        return Numbered("LA LLISTA ", 2) + Translate(" HA DE SER DEL FITXER DE CONCEPTES (504)");
    }
  for (int b = 1; b <= Form.browseCount; ++b) {
    const BrowseDefinition& list = Browse(b);
    if (list.BrowseNext < 0 || list.BrowseNext > Form.browseCount || list.BrowseScreen < 0 ||
        list.BrowseScreen > Form.screenCount)
      return Numbered("LA LLISTA ", b) + Translate(" NOMENA UNA PANTALLA O UNA LLISTA QUE NO EXISTEIX");
  }
  return std::string();
}

}  // namespace

bool CheckParameterForm(const std::string& path, std::string& message) {
  std::string lack = ScreenLack();
  if (lack.empty()) lack = ListLack();
  if (lack.empty()) return true;
  message = Translate("FITXER DE PANTALLES INCORRECTE: ") + HostPath(path) + ", " + lack;
  return false;
}
