// language.cpp - Translate.
#include "session/language.h"

#include "platform/platform.h"
#include "session/session.h"
#include "session/text_fields.h"

std::string ModuleName;
LanguageState Language;

namespace {

// The field of a record that holds the translation for a language code, or
// 0 when the code has none (Catalan and unknown codes).
int TranslationField(const std::string& language) {
  if (language == "SPA") return 1;
  if (language == "GLG") return 2;
  if (language == "OCI") return 3;
  return 0;
}

}  // namespace

std::string Translate(const std::string& text) {
  if (Session.language == "CAT") return text;

  if (Language.fileName.empty() && !ModuleName.empty()) Language.fileName = ModuleName + ".LNG";
  if (Language.fileName.empty()) return text;
  const std::string folder = Session.root + "LOCALE";
  const std::string path = folder + "\\" + Language.fileName;

  // A missing file is created empty, in a LOCALE folder that exists; folders
  // are never created here.
  if (!FileExists(path) && DirectoryExists(folder)) FileHandle create(path, "ab");

  TextFieldReader reader;
  if (!reader.Load(path)) return text;
  const int wanted = TranslationField(Session.language);
  std::string key, translations[4];
  while (!reader.AtEnd()) {
    reader.ReadText(key);
    if (reader.AtEnd()) break;  // a key at the very end has no translations
    bool complete = true;
    for (int i = 1; i <= 3; ++i) complete = reader.ReadText(translations[i]) && complete;
    if (!complete) break;  // a record cut short at the end of the file
    if (key == text) return wanted ? translations[wanted] : text;
  }
  return text;
}
