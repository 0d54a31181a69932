// Fuzzing the form file reader: any file is read or refused with a message,
// never a crash, leak or hang, and the tables keep their invariants.
#include "app/form_reader.h"

#include "fuzz_support.h"
#include "screen/form.h"
#include "session/language.h"
#include "session/session.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = [] {
    const std::string lng = "\"A :\",\"B :\",\"C :\",\"D :\"\r\nFINQUES,FINCAS,FINCAS,FINQUES\r\n";
    WriteFuzzFile("LOCALE/TARPELIX.LNG", reinterpret_cast<const uint8_t*>(lng.data()), lng.size());
    return true;
  }();
  (void)ready;
  Session.root = FuzzDirectory();
  Session.language = (size & 1) ? "SPA" : "CAT";
  ModuleName = "TARPELIX";
  const std::string path = WriteFuzzFile("FORMS/TARPELIX.JPN", data, size);

  std::string problem;
  bool read = ReadFormFile(path, problem);
  // A read file has no message, a refused one always has one.
  if (read != problem.empty()) __builtin_trap();
  if (read && (Form.screenCount < 1 || Form.screenCount > kMaxFormScreens)) __builtin_trap();
  for (int s = 0; s <= Form.screenCount + 1; ++s) {
    const FormScreen& screen = Screen(s);
    if (screen.FieldCount < 0 || screen.FieldCount > Form.fieldMax) __builtin_trap();
    for (int f = 0; f <= Form.fieldMax + 1; ++f) {
      const FormField& field = Field(s, f);
      if (field.Width < 0 || field.Value.size() != static_cast<size_t>(field.Width)) __builtin_trap();
    }
  }
  for (int b = 0; b <= Form.browseCount + 1; ++b) (void)Browse(b).BrowseTitle.size();
  return 0;
}
