// form_reader.cpp - the form file's records, read by a small state machine
// (header, screens, browse count, browse definitions).
#include "app/form_reader.h"

#include "platform/platform.h"
#include "screen/form.h"
#include "session/language.h"
#include "session/text_fields.h"

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
};

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

bool ReadScreenRecord(RecordReader& record, FormScreen& screen, FormProblem& problem) {
  screen.ScreenKeys = record.Text();
  int16_t fields = record.Number();
  if (fields < 0 || fields > Form.fieldMax)
    return problem.Refuse(record.numberLine, "NOMBRE DE CAMPS FORA DE L\xD6MITS", fields);
  screen.FieldCount = fields;
  screen.NextScreen = record.Number();
  for (int k = 1; k <= 4; ++k) screen.WindowBox[k] = record.Number();
  for (int k = 1; k <= fields && !record.ended; ++k)
    if (!ReadFieldRecord(record, screen.fields[k], problem)) return false;
  return true;
}

void ReadBrowseRecord(RecordReader& record, BrowseDefinition& browse) {
  browse.BrowseFile = record.Number();
  if (record.ended) return;
  browse.BrowseKey = record.Number();
  for (int16_t& side : browse.BrowseBox) side = record.Number();
  browse.BrowseScreen = record.Number();
  browse.BrowseTitle = Translate(record.Text());
  browse.BrowseNext = record.Number();
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
        if (!ReadScreenRecord(record, Form.screens[i], problem)) return false;
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
        ReadBrowseRecord(record, Form.browses[j]);
        done = j == Form.browseCount;
        break;
    }
  }

  if (Form.screenCount < 1) {
    message = Translate("EL FITXER DE PANTALLES NO DEFINEIX CAP PANTALLA: ") + HostPath(path);
    return false;
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
