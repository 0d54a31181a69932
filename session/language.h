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
// other code and when no record matches.  Never fails.  Each call reads the
// file afresh.
std::string Translate(const std::string& text);

// The language file's name part, taken from ModuleName the first time a
// translation needs the file and kept for the rest of the run.
struct LanguageState {
  std::string fileName;  // e.g. "TARPELIX.LNG"; empty until fixed
};
extern LanguageState Language;
