// form_driver.cpp - the form screen driver.
//
// A screen of the form tables is shown in its own window (when it has one),
// and its fields are edited one after the other with the field editor.  The
// key that ends a field decides where the operator goes next: the next or
// previous field, the first or last editable field, a continuation screen
// (run as a nested call, so that leaving it brings the operator back to the
// field it was opened from), or out of the screen.  Every value is checked
// by its field type before it is stored; a refused value is answered with a
// beep and its reason on the reason line, and the field is edited again
// with the typed text still there.  A code picked from a browse list goes
// through the same check.
//
// The form tables are data read from the module's form file, so nothing here
// trusts them: a field count larger than the tables, a width of 0 or a
// continuation that leads back to itself or nowhere are all handled without
// reading outside the tables or recursing without end.
#include "screen/form_driver.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "input/dates.h"
#include "input/numbers.h"
#include "platform/console.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "screen/browse.h"
#include "screen/editor.h"
#include "screen/form.h"
#include "screen/help.h"
#include "screen/windows.h"
#include "session/language.h"
#include "session/session.h"

ScreenCheck ScreenExitCheck = nullptr;
FormLookupHooks FormLookups;

namespace {

constexpr KeyCode kKeyCode2 = 2;  // ends the screen, like End
constexpr int kConceptDescriptionWidth = 20;
// A concept field takes the concepts 0 (none) to 8.
constexpr double kFirstConcept = 0, kLastConcept = 8;

// Screens currently being run, the outermost included.
int screensOpen = 0;

// Why StoreFieldValue last refused a text, in the operator's language.
std::string refusal;

// A field with nothing to edit (width 0 or less) is treated like a
// display-only one: the editor is never started on an empty buffer.
bool IsDisplayOnly(const FormField& field) {
  return (field.Flags & (kFlagDisplayOnly | kFlagKeyLine)) != 0 || field.Width <= 0;
}

bool IsKeyLine(const FormField& field) { return (field.Flags & kFlagKeyLine) != 0; }

int ValueColumn(const FormField& field) { return field.Column + static_cast<int>(field.Label.size()); }

int LineWidthOf(const FormField& field) { return std::max<int>(field.LineWidth, 0); }

// The number of fields of a screen, as far as the tables actually hold them.
int FieldsOf(int screen) {
  const FormScreen& form = Screen(screen);
  int held = std::min(static_cast<int>(form.fields.size()) - 1, static_cast<int>(Form.fieldMax));
  return std::clamp<int>(form.FieldCount, 0, std::max(held, 0));
}

// The continuation screen of a screen, or 0 when it has none that can be
// run: one that is missing from the tables, the screen itself, or one that
// would nest deeper than kMaxScreenNesting.
int ContinuationOf(int screen) {
  int next = Screen(screen).NextScreen;
  if (next <= 0 || next == screen) return 0;
  if (next > Form.screenCount || next >= static_cast<int>(Form.screens.size())) return 0;
  if (screensOpen >= kMaxScreenNesting) return 0;
  return next;
}

// Writes a text at a window-relative place, in one piece or, with a line
// width, in pieces of that width one under the other.
void WriteAtPlace(int row, int column, const std::string& text, int lineWidth) {
  if (lineWidth <= 0) {
    WinLocate(column, row);
    WriteText(text);
    return;
  }
  for (size_t at = 0, line = 0; at < text.size(); at += lineWidth, ++line) {
    WinLocate(column, row + static_cast<int>(line));
    WriteText(text.substr(at, lineWidth));
  }
}

// True when the concept file holds the concept, with its description.
bool ConceptExists(long code, std::string& description) {
  return FormLookups.findConcept != nullptr && FormLookups.findConcept(code, description);
}

// The description of the choice whose code equals the value exactly.
// Choices are written "|code,description|code,description"; anything
// before the first "|" is not part of any entry.
bool ChoiceDescription(const std::string& choices, const std::string& value, std::string& description) {
  size_t bar = choices.find('|');
  while (bar != std::string::npos) {
    size_t next = choices.find('|', bar + 1);
    std::string entry =
        choices.substr(bar + 1, next == std::string::npos ? std::string::npos : next - bar - 1);
    size_t comma = entry.find(',');
    if (entry.substr(0, comma) == value) {
      description = comma == std::string::npos ? std::string() : entry.substr(comma + 1);
      return true;
    }
    bar = next;
  }
  return false;
}

// The field under a mouse click, or 0 when the click is on no editable
// field.  The click is in absolute console positions, the fields in
// positions relative to the window the screen is drawn in.
int FieldAtClick(int screen, KeyCode key, int fieldCount) {
  int click = -key;
  int row = click % 100 - Windows.WindowTop;
  int column = click / 100 - Windows.WindowLeft;
  for (int f = 1; f <= fieldCount; ++f) {
    const FormField& field = Field(screen, f);
    if (IsDisplayOnly(field)) continue;
    int lineWidth = LineWidthOf(field);
    int lines = lineWidth == 0 ? 1 : field.Width / lineWidth;
    int span = lineWidth == 0 ? field.Width : lineWidth;
    if (row >= field.Row && row < field.Row + lines && column >= field.Column &&
        column < ValueColumn(field) + span + field.InfoWidth)
      return f;
  }
  return 0;
}

// Visits one field: edits it until its value is accepted, the edit is
// cancelled, or a key the driver acts on (help, lookup) is done with.  On
// return `key` tells the field loop where to go.  A display-only field is
// not edited and keeps the key it was reached with.
void VisitField(int screen, int field, KeyCode& key) {
  const FormField& form = Field(screen, field);
  const bool displayOnly = IsDisplayOnly(form);
  const bool hidden = (form.Flags & kFlagHidden) != 0;
  const bool startBlank = (form.Flags & (kFlagStartBlank | kFlagHidden)) != 0;
  const int width = std::max<int>(form.Width, 0);
  const int row = form.Row;
  const int column = ValueColumn(form);
  const int lineWidth = LineWidthOf(form);
  const int infoWidth = std::max<int>(form.InfoWidth, 0);
  const int lookup = form.Lookup;
  const std::string choices = form.Choices;

  // The screen's keys and F1 end the edit.  A screen that names no keys
  // lets every key the editor does not use end it.
  std::string screenKeys = TrimBlanks(Screen(screen).ScreenKeys);
  if (screenKeys.empty()) KeySet("+e", "");
  else KeySet("+ea", screenKeys + ",3b00");

  std::string buffer = startBlank ? std::string(width, ' ') : FitToWidth(form.Value, width);
  if (hidden) KeySet("h", "");
  if (infoWidth > 0 && !displayOnly) WriteAtPlace(row, column + width, std::string(infoWidth, ' '), 0);

  while (!displayOnly) {
    bool rejected = false;
    Keyboard.FieldOptions = choices;
    Keyboard.plainNumbers = form.Type == kFieldDate || form.Type == kFieldConcept || form.Type == kFieldCode;
    int cursor =
        (form.Flags & kFlagCursorAtEnd) ? static_cast<int>(TrimTrailingBlanks(buffer).size()) + 1 : 1;
    EditField(row, column, lineWidth, buffer, cursor, key);
    Keyboard.FieldOptions.clear();
    Keyboard.plainNumbers = false;

    if (key == kKeyF1) {
      std::string topic = TrimTrailingBlanks(Session.menuName);
      if (!topic.empty()) ShowHelp(topic);
      key = 0;  // the field is edited again from its stored value
    } else if (key == kKeyF4) {
      key = 0;
      if (lookup > 0) {
        int16_t cancelled = 0;
        BrowseList(static_cast<int16_t>(lookup), cancelled);
        std::string picked;
        if (cancelled != 0) {
          rejected = true;
          refusal = Translate("NO S'HA TRIAT CAP L\xD6NIA DE LA LLISTA");
        } else if (ApplyLookupPick(lookup, screen, field, &picked) != 0) {
          // A pick the field's check refuses is a refused value like a
          // typed one: the operator sees what was picked and why not.
          rejected = true;
          buffer = FitToWidth(picked, width);
        } else {
          bool lastOfAll = field == FieldsOf(screen) && ContinuationOf(screen) == 0;
          key = lastOfAll ? kKeyEnter : kKeyDown;
        }
      }
    } else {
      // The description area is cleared with the typed text; a hidden
      // field's text is never written out.
      if (infoWidth > 0)
        WriteAtPlace(row, column,
                     (hidden ? std::string(buffer.size(), ' ') : buffer) + std::string(infoWidth, ' '), 0);
      if (key == kKeyEsc) {
        ShowFieldValue(screen, field);
      } else {
        if (startBlank && IsAllOf(buffer, ' ')) buffer = FitToWidth(Field(screen, field).Value, width);
        if (StoreFieldValue(screen, buffer, field, key) != 0) rejected = true;
      }
    }
    if (!rejected) break;
    ShowReason(refusal);
    Beep();
  }

  buffer.clear();
  if (hidden) KeySet("v", "");
  KeySet("-", "");
}

bool LeavesFromContinuation(KeyCode key) {
  return key == kKeyPgUp || key == kKeyPgDn || key == kKeyEnd || key == kKeyCode2 || key == kKeyEnter ||
         key == kKeyDown || key == kKeyUp;
}

// Opens the screen's window when it has one; true when a window was opened
// (a box outside the console opens none, and then nothing is framed).
bool OpenScreenWindow(int screen) {
  const FormScreen& form = Screen(screen);
  if (form.WindowBox[1] == 0) return false;
  SetColourScheme("+n");
  bool opened = OpenWindow(form.WindowBox[1], form.WindowBox[2], form.WindowBox[3], form.WindowBox[4]);
  if (opened) DrawFrame(2);
  SetColourScheme("-");
  return opened;
}

// The fields of the shown screen `number`, edited until the screen ends
// and its exit check accepts it.
void EditScreen(int number, bool nested, int16_t& pgUpLeaves, int16_t& pgDnLeaves, KeyCode& key) {
  const int fieldCount = FieldsOf(number);
  int first = 1;
  while (first <= fieldCount && IsDisplayOnly(Field(number, first))) ++first;
  int last = fieldCount;
  while (last >= 1 && IsDisplayOnly(Field(number, last))) --last;

  for (;;) {
    int current = first;
    while (current >= first && current <= last) {
      VisitField(number, current, key);

      if (key == kKeyPgUp) {
        current = pgUpLeaves != 0 ? 0 : first;
      } else if (key == kKeyPgDn) {
        current = pgDnLeaves != 0 ? 0 : last;
      } else if (key == kKeyEnd || key == kKeyCode2) {
        current = 0;
      } else if (key == kKeyEsc) {
        current = current > first ? first : 0;
      } else if (key == kKeyUp) {
        if (current > first) {
          --current;
        } else if (nested) {
          key = kKeyEsc;
          current = 0;
        }
      } else if (key == 0) {
        // stay on the field
      } else if (key < 0) {
        // A click selects the editable field under it; anywhere else the
        // operator stays where he is.
        int clicked = FieldAtClick(number, key, fieldCount);
        if (clicked != 0) current = clicked;
      } else if (key == kKeyEnter || key == kKeyDown || key == kKeyF2) {
        int next = ContinuationOf(number);
        if ((current == last || key == kKeyF2) && next > 0) {
          int16_t continuation = static_cast<int16_t>(-next);
          RunFormScreen(continuation, pgUpLeaves, pgDnLeaves, key);
          if (LeavesFromContinuation(key)) current = 0;
        } else if (key == kKeyEnter) {
          ++current;
        } else if (key == kKeyDown) {
          if (current < last) ++current;
        }
        // F2 without a continuation stays
      } else {
        current = 0;  // a screen key not handled here ends the screen
      }
    }

    int16_t checked = static_cast<int16_t>(number);
    // A screen with nothing to edit cannot be corrected, so its check is
    // final either way.
    bool accepted = ScreenExitCheck == nullptr || ScreenExitCheck(checked, key) == 0;
    if (accepted || first > last) break;
  }
}

}  // namespace

bool IsAllOf(const std::string& text, int code) {
  return std::all_of(text.begin(), text.end(),
                     [code](char c) { return static_cast<unsigned char>(c) == code; });
}

void RunFormScreen(int16_t& screen, int16_t& pgUpLeaves, int16_t& pgDnLeaves, KeyCode& key) {
  const bool nested = screen < 0;
  const int number = std::min(std::abs(static_cast<int>(screen)), 32767);
  screen = static_cast<int16_t>(number);

  {
    const ShownFormScreen shown(number);
    ++screensOpen;
    EditScreen(number, nested, pgUpLeaves, pgDnLeaves, key);
    --screensOpen;
  }
}

ShownFormScreen::ShownFormScreen(int screen) {
  // The cells of the last row, which a key line of this screen covers.
  for (int f = 1; f <= FieldsOf(screen) && underKeyLine.empty(); ++f)
    if (IsKeyLine(Field(screen, f)))
      for (int c = 1; c <= ScreenColumns(); ++c) underKeyLine.push_back(ConsoleGetCell(ScreenRows(), c));
  opened = OpenScreenWindow(screen);
  DrawFormScreen(screen);
}

ShownFormScreen::~ShownFormScreen() {
  if (opened) CloseWindow();
  for (size_t c = 0; c < underKeyLine.size(); ++c)
    ConsolePutCell(ScreenRows(), static_cast<int>(c) + 1, underKeyLine[c]);
}

void DrawFormScreen(int screen) {
  SetColourScheme("rh");
  const std::string& title = Session.title;
  int column = 41 - static_cast<int>(std::nearbyint(static_cast<double>(title.size()) / 2.0));
  column = std::max(column, 1);
  ConsoleSetCursor(1, column);
  WriteText(title.substr(0, static_cast<size_t>(std::max(ScreenColumns() - column + 1, 0))));

  const int fieldCount = FieldsOf(screen);
  SetColourScheme("n");
  for (int f = 1; f <= fieldCount; ++f) {
    const FormField& field = Field(screen, f);
    if (IsKeyLine(field)) {
      // On the console's last row, whatever window the screen has.
      const int columns = ScreenColumns();
      std::string line = FitToWidth(
          std::string((std::max(columns - static_cast<int>(field.Label.size()), 0)) / 2, ' ') + field.Label,
          columns);
      SetColourScheme("rh");
      for (int c = 0; c < columns; ++c)
        ConsolePutCell(ScreenRows(), c + 1,
                       ConsoleCell{static_cast<unsigned char>(line[c]), ConsoleAttribute()});
      SetColourScheme("n");
      continue;
    }
    WriteAtPlace(field.Row, field.Column, field.Label, 0);
  }
  SetColourScheme("h");
  for (int f = 1; f <= fieldCount; ++f) ShowFieldValue(screen, f);
}

void ShowFieldValue(int screen, int field) {
  const FormField& form = Field(screen, field);
  if (IsKeyLine(form)) return;
  const int row = form.Row;
  const int column = ValueColumn(form);
  WinLocate(column, row);

  if (form.Flags & kFlagHidden) return;

  if (form.Type == kFieldDate) {
    WriteText(DateText("dma", 0, ParseDate(form.Value)));
  } else if (form.Type == kFieldConcept) {
    std::string value = form.Value;
    long code = std::lround(NumericValue(value));
    std::string description;
    if (code != 0) {
      description = Translate("*** conc.no def. ***");
      std::string found;
      if (ConceptExists(code, found)) description = found;
    }
    WinLocate(column, row);
    WriteText(value + "  " + FitToWidth(description, kConceptDescriptionWidth));
  } else if (!form.Choices.empty()) {
    std::string description;
    if (ChoiceDescription(form.Choices, form.Value, description))
      WriteText(FitToWidth(description, std::max<int>(form.Width, 0) + std::max<int>(form.InfoWidth, 0)));
  } else {
    WriteAtPlace(row, column, form.Value, LineWidthOf(form));
  }
}

int16_t StoreFieldValue(int screen, std::string text, int field, KeyCode key) {
  (void)key;
  const FormField& form = Field(screen, field);
  refusal.clear();
  switch (form.Type) {
    case kFieldDate:
      if (IsAllOf(text, ' ')) text = DateShortText(Session.date);
      if (DateIsInvalid(text)) refusal = Translate("DATA INCORRECTA");
      break;
    case kFieldAmount:
    case kFieldCode:
      if (NumberTextIsInvalid(text, "")) refusal = Translate("NOM\x90S S'HI ADMETEN XIFRES");
      break;
    case kFieldConcept:
      if (NumberOutOfRange(text, kFirstConcept, kLastConcept, 0)) {
        refusal = Translate("EL CONCEPTE HA DE SER DEL 0 AL 8");
      } else {
        long code = std::lround(NumericValue(text));
        std::string description;
        if (code != 0 && !ConceptExists(code, description))
          refusal = Translate("NO EXISTEIX EL CONCEPTE ") + PlainNumberText(static_cast<double>(code));
      }
      break;
    default: break;
  }
  if (!refusal.empty()) return -1;

  Field(screen, field).Value = FitToWidth(text, form.Width);
  ShowFieldValue(screen, field);
  return 0;
}

int16_t ApplyLookupPick(int lookup, int screen, int field, std::string* picked) {
  std::string code;
  if (FormLookups.pickedCode == nullptr || !FormLookups.pickedCode(lookup, code)) return 0;
  if (picked != nullptr) *picked = code;
  return StoreFieldValue(screen, code, field, 0);
}

const std::string& FieldRefusal() { return refusal; }
