// settings.cpp - GetIni: one value from a settings file.
//
// The file is read whole and scanned from the top on every call; nothing is
// kept between calls, so a changed file is seen by the next call.  Lines end
// with CR LF as the suite writes them; a lone LF (files edited on Linux) or
// a lone CR also ends a line.
#include "session/settings.h"

#include "platform/platform.h"
#include "platform/text.h"

namespace {

// Code page 850 lower-case letters and their capitals, beyond a..z.
constexpr unsigned char kLowerUpper[][2] = {
    {0x81, 0x9A},  // u diaeresis
    {0x82, 0x90},  // e acute
    {0x83, 0xB6},  // a circumflex
    {0x84, 0x8E},  // a diaeresis
    {0x85, 0xB7},  // a grave
    {0x86, 0x8F},  // a ring
    {0x87, 0x80},  // c cedilla
    {0x88, 0xD2},  // e circumflex
    {0x89, 0xD3},  // e diaeresis
    {0x8A, 0xD4},  // e grave
    {0x8B, 0xD8},  // i diaeresis
    {0x8C, 0xD7},  // i circumflex
    {0x8D, 0xDE},  // i grave
    {0x91, 0x92},  // ae
    {0x93, 0xE2},  // o circumflex
    {0x94, 0x99},  // o diaeresis
    {0x95, 0xE3},  // o grave
    {0x96, 0xEA},  // u circumflex
    {0x97, 0xEB},  // u grave
    {0x9B, 0x9D},  // o slash
    {0xA0, 0xB5},  // a acute
    {0xA1, 0xD6},  // i acute
    {0xA2, 0xE0},  // o acute
    {0xA3, 0xE9},  // u acute
    {0xA4, 0xA5},  // n tilde
    {0xC6, 0xC7},  // a tilde
    {0xD0, 0xD1},  // eth
    {0xE4, 0xE5},  // o tilde
    {0xE7, 0xE8},  // thorn
    {0xEC, 0xED},  // y acute
};

// The section name of a header line (which starts with "["): the text up to
// the first "]" or the end of the line, without surrounding spaces.
std::string SectionName(const std::string& line) {
  size_t close = line.find(']', 1);
  std::string name = close == std::string::npos ? line.substr(1) : line.substr(1, close - 1);
  return UpperCaseCp850(TrimBlanks(name));
}

}  // namespace

std::string UpperCaseCp850(const std::string& text) {
  std::string result = text;
  for (char& c : result) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u >= 'a' && u <= 'z') {
      c = static_cast<char>(u - 'a' + 'A');
    } else if (u >= 0x80) {
      for (const auto& pair : kLowerUpper)
        if (pair[0] == u) {
          c = static_cast<char>(pair[1]);
          break;
        }
    }
  }
  return result;
}

std::string GetIni(std::string key, std::string section, std::string file) {
  std::string contents;
  if (!ReadWholeFile(file, contents)) return std::string();

  const std::string wantedSection = UpperCaseCp850(TrimBlanks(section));
  const std::string wantedKey = UpperCaseCp850(TrimBlanks(key));
  bool found = false;
  std::string value;

  size_t start = 0;
  while (start < contents.size()) {
    size_t end = contents.find_first_of("\r\n", start);
    if (end == std::string::npos) end = contents.size();
    std::string line = contents.substr(start, end - start);
    start = end;
    if (start < contents.size() && contents[start] == '\r') ++start;
    if (start < contents.size() && contents[start] == '\n') ++start;

    // A semicolon starts a comment wherever it stands.
    size_t semicolon = line.find(';');
    if (semicolon != std::string::npos) line.erase(semicolon);
    size_t first = line.find_first_not_of(' ');
    if (first == std::string::npos) continue;
    line.erase(0, first);

    if (!found) {
      if (line[0] == '[' && SectionName(line) == wantedSection) found = true;
      continue;
    }
    if (line[0] == '[') break;  // the section ended without the key
    size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    if (UpperCaseCp850(TrimTrailingBlanks(line.substr(0, equals))) == wantedKey) {
      value = line.substr(equals + 1);
      break;
    }
  }

  if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
    value = value.substr(1, value.size() - 2);
  return value;
}
