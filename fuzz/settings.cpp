// Fuzzing GetIni: any file content, any query, no crash, leak or hang.
#include "session/settings.h"

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string file = WriteFuzzFile("Vork.ini", data, size);
  const std::string text(reinterpret_cast<const char*>(data), size);
  // A query made of the input's own first bytes reaches sections and keys
  // that fixed queries never would.
  const std::string key = text.substr(0, 6);
  const std::string section = text.size() > 6 ? text.substr(6, 6) : std::string();
  const std::string queries[][2] = {
      {"Honoraris", "Iva0"}, {"", ""}, {" col0 ", "PANTALLA"}, {key, section}, {section, key}};
  for (const auto& query : queries) {
    std::string value = GetIni(query[0], query[1], file);
    if (value.size() > size) __builtin_trap();  // a value comes from the file
  }
  return 0;
}
