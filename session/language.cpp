// language.cpp - Translate, and the check of the language file at start.
#include "session/language.h"

#include <cctype>

#include "platform/platform.h"
#include "platform/text.h"
#include "session/session.h"
#include "session/text_fields.h"

std::string ModuleName;
LanguageState Language;

namespace {

// The language code upper-cased: "spa" in a settings file is "SPA".
std::string CodeOf(const std::string& language) {
  std::string code = language;
  for (char& c : code) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return code;
}

// The field of a record that holds the translation for a language code, or
// 0 when the code has none (Catalan and unknown codes).
int TranslationField(const std::string& language) {
  const std::string code = CodeOf(language);
  if (code == "SPA") return 1;
  if (code == "GLG") return 2;
  if (code == "OCI") return 3;
  return 0;
}

// The language file's path, fixing its name on the first call that has a
// module name; empty while there is none.
std::string LanguageFilePath() {
  if (Language.fileName.empty() && !ModuleName.empty()) Language.fileName = ModuleName + ".LNG";
  if (Language.fileName.empty()) return std::string();
  return Session.root + "LOCALE\\" + Language.fileName;
}

}  // namespace

std::string Translate(const std::string& text) {
  if (CodeOf(Session.language) == "CAT") return text;

  const std::string path = LanguageFilePath();
  if (path.empty()) return text;
  const std::string folder = Session.root + "LOCALE";

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

std::string LanguageSetupProblem() {
  const std::string code = TrimTrailingBlanks(Session.language);
  if (code.empty() || CodeOf(code) == "CAT") return std::string();
  if (TranslationField(code) == 0) return "IDIOMA " + code + " DESCONEGUT: ELS TEXTS ES MOSTREN EN CATAL\xB7";
  const std::string path = LanguageFilePath();
  // A missing file is no problem: the first translation makes it, empty.
  if (path.empty() || !FileExists(path)) return std::string();
  // Named from the suite root, which is the current directory: the row has
  // room for that, not always for the whole path.
  std::string name = HostPath(path);
  const std::string root = CurrentDirectory() + "/";
  if (name.compare(0, root.size(), root) == 0) name.erase(0, root.size());
  name = Utf8ToCp850(name);
  std::string contents;
  if (!ReadWholeFile(path, contents)) return "NO ES POT LLEGIR EL FITXER D'IDIOMES " + name;
  TextFieldReader reader;
  reader.Start(contents);
  // Text made of lines: no control character but the line ends and tabs
  // (a Ctrl-Z ends the data).
  for (unsigned char c : reader.data)
    if (c < 32 && c != '\r' && c != '\n' && c != '\t')
      return "EL FITXER D'IDIOMES " + name + " NO \x90S UN FITXER DE TEXT";
  // Records of four texts each.
  long texts = 0;
  std::string text;
  while (!reader.OnlyBlanksRemain() && reader.ReadText(text)) ++texts;
  if (texts % 4 != 0) return "EL FITXER D'IDIOMES " + name + " T\x90 UN REGISTRE SENSE ELS 4 TEXTOS";
  return std::string();
}
