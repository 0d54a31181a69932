// Fuzzing Translate over any language file.
#include "session/language.h"

#include "fuzz_support.h"
#include "session/session.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  WriteFuzzFile("LOCALE/TARPELIX.LNG", data, size);
  Session.root = FuzzDirectory();
  ModuleName = "TARPELIX";
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::string keys[] = {"", "EL CONCEPTE ", "FINQUES", text.substr(0, 8),
                              text.substr(0, text.find(','))};
  for (const char* language : {"SPA", "GLG", "OCI", "XYZ", "CAT"}) {
    Session.language = language;
    for (const std::string& key : keys) {
      std::string translated = Translate(key);
      if (translated.size() > size && translated != key) __builtin_trap();
    }
  }
  return 0;
}
