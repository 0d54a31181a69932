// text_fields.cpp - fields of the form and language files, from a buffer.
#include "session/text_fields.h"

#include <cmath>

#include "platform/platform.h"
#include "platform/text.h"

namespace {
constexpr char kCtrlZ = 26;

bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }
}  // namespace

void TextFieldReader::Start(const std::string& contents) {
  size_t end = contents.find(kCtrlZ);
  data = end == std::string::npos ? contents : contents.substr(0, end);
  pos = 0;
  line = 1;
  afterComma = false;
}

bool TextFieldReader::Load(const std::string& programPath) {
  std::string contents;
  bool ok = ReadWholeFile(programPath, contents);
  Start(ok ? contents : std::string());
  return ok;
}

bool TextFieldReader::OnlyBlanksRemain() const {
  return data.find_first_not_of(" \t\r\n", pos) == std::string::npos;
}

// Consumes one line end at the position: CR LF, a lone CR or a lone LF.
void TextFieldReader::SkipLineEnd() {
  if (AtEnd() || !IsLineEnd(data[pos])) return;
  if (data[pos] == '\r' && pos + 1 < data.size() && data[pos + 1] == '\n') ++pos;
  ++pos;
  ++line;
}

bool TextFieldReader::ReadText(std::string& text) {
  text.clear();
  while (!AtEnd() && data[pos] == ' ') ++pos;
  if (AtEnd()) {
    bool present = afterComma;
    afterComma = false;
    return present;
  }

  if (data[pos] == '"') {
    size_t close = data.find('"', pos + 1);
    if (close == std::string::npos) close = data.size();
    text = data.substr(pos + 1, close - pos - 1);
    // A quoted text may run over line ends; keep the line count right.
    for (char c : text)
      if (c == '\n') ++line;
    pos = close < data.size() ? close + 1 : close;
    // Anything after the closing quote up to the separator is not data.
    while (!AtEnd() && data[pos] != ',' && !IsLineEnd(data[pos])) ++pos;
  } else {
    while (!AtEnd() && data[pos] != ',' && !IsLineEnd(data[pos])) {
      if (data[pos] != '\t') text += data[pos];
      ++pos;
    }
  }

  afterComma = false;
  if (!AtEnd()) {
    if (data[pos] == ',') {
      ++pos;
      afterComma = true;
    } else {
      SkipLineEnd();
    }
  }
  return true;
}

int16_t FieldNumber(const std::string& text) {
  double value = std::nearbyint(NumericValue(text));  // halves to even
  if (!(value > -32768.0)) return -32768;             // NaN lands here too
  if (value > 32767.0) return 32767;
  return static_cast<int16_t>(value);
}

bool TextFieldReader::ReadNumber(int16_t& number) {
  std::string text;
  bool present = ReadText(text);
  number = present ? FieldNumber(text) : 0;
  return present;
}

void TextFieldReader::SkipCommentLines() {
  while (!AtEnd()) {
    size_t end = data.find_first_of("\r\n", pos);
    if (end == std::string::npos) end = data.size();
    size_t first = data.find_first_not_of(' ', pos);
    if (first >= end || data[first] != '\'') return;  // given back whole
    afterComma = false;
    pos = end;
    SkipLineEnd();
  }
}
