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

// The section name of a header line (which starts with "["): the text up to
// the first "]" or the end of the line, without surrounding spaces.
std::string SectionName(const std::string& line) {
  size_t close = line.find(']', 1);
  std::string name = close == std::string::npos ? line.substr(1) : line.substr(1, close - 1);
  return UpperCaseCp850(TrimBlanks(name));
}

}  // namespace

bool GetIniEntry(const std::string& key, const std::string& section, const std::string& file,
                 std::string& value) {
  value.clear();
  std::string contents;
  if (!ReadWholeFile(file, contents)) return false;

  const std::string wantedSection = UpperCaseCp850(TrimBlanks(section));
  const std::string wantedKey = UpperCaseCp850(TrimBlanks(key));
  bool found = false, present = false;

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
      present = true;
      break;
    }
  }

  if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
    value = value.substr(1, value.size() - 2);
  return present;
}

std::string GetIni(std::string key, std::string section, std::string file) {
  std::string value;
  GetIniEntry(key, section, file, value);
  return value;
}
