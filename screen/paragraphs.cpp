// paragraphs.cpp - the paragraph formatter: a text cut into lines of a
// width, indented, aligned or justified.
#include <algorithm>
#include <cctype>
#include <vector>

#include "platform/text.h"
#include "screen/windows.h"

namespace {

// The positions of the gaps between words after the indent: the first
// blank of each run of blanks that has a word on both sides.
std::vector<size_t> Gaps(const std::string& line, int indent) {
  std::vector<size_t> gaps;
  for (size_t i = static_cast<size_t>(indent) + 1; i < line.size(); ++i) {
    if (line[i] != ' ' || line[i - 1] == ' ') continue;
    size_t j = i;
    while (j < line.size() && line[j] == ' ') ++j;
    if (j < line.size()) gaps.push_back(i);
  }
  return gaps;
}

// Widens a line to `width` by adding one blank at a time to the gaps
// between words, left to right and round again from the first gap.
std::string Justify(std::string line, int indent, int width) {
  size_t next = 0;
  while (static_cast<int>(line.size()) < width) {
    std::vector<size_t> gaps = Gaps(line, indent);
    if (gaps.empty()) break;
    if (next >= gaps.size()) next = 0;
    line.insert(gaps[next], 1, ' ');
    ++next;
  }
  return line;
}

}  // namespace

std::string FormatParagraph(const std::string& text, int indent, int width, const std::string& align) {
  int firstIndent = indent > 0 ? indent : 0;
  int laterIndent = indent < 0 ? -indent : 0;
  char letter = align.empty() ? ' ' : static_cast<char>(std::toupper(static_cast<unsigned char>(align[0])));
  auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };

  std::string out;
  size_t n = text.size(), pos = 0;
  bool first = true;
  while (pos < n) {
    int lineIndent = first ? firstIndent : laterIndent;
    first = false;
    // A line always takes at least one character, so that an indent as
    // wide as the line cannot stop the text from being used up.
    int room = std::max(width - lineIndent, 1);
    size_t j = pos;
    int used = 0;
    while (j < n) {
      if (byte(j) < 32) ++j;
      else if (used < room) ++used, ++j;
      else break;
    }
    bool insideWord = j < n && byte(j) > ' ';
    if (insideWord) {
      // Step back to the last blank (or control character) of the taken
      // part so that no word is split; a word longer than the room has no
      // such place and is split at the room.
      size_t k = j - 1;
      while (k > pos && byte(k) > ' ') --k;
      if (k > pos) j = k;
    }
    std::string taken = text.substr(pos, j - pos);
    if (!insideWord && (j >= n || byte(j) < ' ')) taken = TrimTrailingBlanks(taken);
    std::string line = std::string(static_cast<size_t>(lineIndent), ' ') + taken;

    size_t next = j;
    while (next < n && text[next] == ' ') ++next;
    bool lastLine = next >= n;

    int missing = width - static_cast<int>(line.size());
    switch (letter) {
      case 'E':
      case 'L':
      case 'I':
        if (missing > 0) line.append(static_cast<size_t>(missing), ' ');
        break;
      case 'N':
      case '-':
        if (missing > 0) line.append(static_cast<size_t>(missing), '-');
        break;
      case 'D':
      case 'R':
        if (missing > 0) line.insert(0, static_cast<size_t>(missing), ' ');
        break;
      case 'C':
        if (missing > 0) {
          line.insert(0, static_cast<size_t>(missing / 2), ' ');
          line.append(static_cast<size_t>((missing + 1) / 2), ' ');
        }
        break;
      case 'A':
      case 'B':
        if (!lastLine && !Gaps(line, lineIndent).empty()) line = Justify(line, lineIndent, width);
        break;
      default: break;
    }
    out += line;
    pos = next;
  }
  return out;
}
