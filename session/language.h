// language.h - the program's captions and messages in the operator's
// language.
//
// The program's own texts are Catalan.  `Translate` looks a text up in the
// module's language file, KALROOT + "LOCALE\" + ModuleName + ".LNG", a
// sequence of records of four fields (text_fields.h rules): the Catalan text
// exactly as the program passes it, then its Spanish, Galician and Aranese
// translations.
#pragma once
#include <string>

// The module's name ("TARPELIX"), set once at start; names the form file and
// the language file.
extern std::string ModuleName;

// The text in the session's language: the Spanish ("SPA"), Galician ("GLG")
// or Aranese ("OCI") field of the first record whose key equals the text
// byte for byte; the text itself for "CAT" (no file is touched), for any
// other code and when no record matches.  The code's letter case does not
// count ("spa" is "SPA").  Never fails.  Each call reads the file afresh.
std::string Translate(const std::string& text);

// What keeps the session's language from being shown, said once at start
// in Catalan (the one language that needs no file): a language code that
// is none of the four, or a language file that cannot be read or is no
// language file (control characters, a record without its four texts),
// named by its path.  Empty when there is nothing to say; a missing file
// is nothing to say (Translate makes it, empty).
std::string LanguageSetupProblem();

// The language file's name part, taken from ModuleName the first time a
// translation needs the file and kept for the rest of the run.
struct LanguageState {
  std::string fileName;  // e.g. "TARPELIX.LNG"; empty until fixed
};
extern LanguageState Language;
