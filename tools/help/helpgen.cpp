// helpgen.cpp - makes a program's --help text, its option table and its
// manual page from one help source, at build time, so that the three
// cannot disagree.
//
//   helpgen SOURCE.help VERSION OUT_help.h OUT.1
//
// A help source is plain ASCII text:
//
//   # comment lines, before the first section only
//   name: balances
//   summary: list the owners' balances of a suite root
//   usage: balances --root=DIR [--from=N] [--to=N] [--csv]
//   usage: ...                       (more usage lines if needed)
//
//   == DESCRIPTION
//   A paragraph: lines that are not indented, up to a blank line.
//
//   == OPTIONS
//   -h, --help
//     A term (not indented) and its description (indented), one after
//     the other, as many as the block holds.
//   --root=DIR
//     ...
//
//   == EXAMPLES
//   | verbatim lines, each starting with "| "
//
//   == SEE ALSO (manual)
//   a section marked "(manual)" is only in the manual page.
//
// The terms of every section whose title ends in OPTIONS are the program's
// options: "-x", "-x ARG", "--long", "--long=ARG" or "--long[=ARG]", several
// forms of one option separated by ", ".  They become the getopt_long table
// of the generated header, so a program accepts exactly the options its help
// describes; --help and --version must be among them.
//
// In the --help text the DESCRIPTION section has no heading, the others a
// heading in sentence case ("Exit status:"); paragraphs are filled to 79
// columns and terms are indented with their descriptions in a column.  In the
// manual page, terms and usage lines show literal words in bold and the
// words in capitals (DIR, N, FILE) in italics; in paragraphs, options and
// references such as tarpelix(1) are bold.
#include <cctype>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr size_t kHelpWidth = 79;
constexpr size_t kMaxTermColumn = 28;  // where descriptions start at the most

struct Item {
  int line = 0;  // of the term, in the source
  std::string term;
  std::vector<std::string> description;
};

struct Block {
  enum Kind { kParagraph, kDefinitions, kVerbatim } kind = kParagraph;
  std::vector<std::string> lines;  // paragraph or verbatim lines
  std::vector<Item> items;         // definitions
};

struct Section {
  std::string title;
  bool manualOnly = false;
  std::vector<Block> blocks;
};

struct Option {
  std::string longName;  // may be empty when only a short form exists
  char shortName = 0;
  int argument = 0;  // 0 none, 1 required, 2 optional (getopt_long's values)
};

struct HelpSource {
  std::string path;
  std::string name, summary;
  std::vector<std::string> usage;
  std::vector<Section> sections;
  std::vector<Option> options;
};

[[noreturn]] void Fail(const std::string& where, const std::string& message) {
  std::cerr << where << ": " << message << "\n";
  std::exit(1);
}

bool StartsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

bool EndsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string Trim(const std::string& text) {
  size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

size_t Indent(const std::string& line) {
  size_t n = line.find_first_not_of(' ');
  return n == std::string::npos ? line.size() : n;
}

// One form of an option: "-x", "-x ARG", "--long", "--long=ARG", "--long[=ARG]".
void ReadOptionForm(const std::string& form, Option& option, const std::string& where) {
  if (StartsWith(form, "--")) {
    size_t end = form.find_first_of("=[ ");
    option.longName = form.substr(2, end == std::string::npos ? std::string::npos : end - 2);
    if (end != std::string::npos) option.argument = form[end] == '[' ? 2 : 1;
    if (end != std::string::npos && form[end] == ' ')
      Fail(where, "write a long option's value as --" + option.longName + "=VALUE");
  } else if (form.size() >= 2 && form[0] == '-' && std::isalnum(static_cast<unsigned char>(form[1]))) {
    option.shortName = form[1];
    if (form.size() > 2) {
      if (form[2] != ' ') Fail(where, "a short option is one letter: " + form);
      if (option.argument == 0) option.argument = 1;
    }
  } else {
    Fail(where, "not an option: '" + form + "'");
  }
  for (char c : option.longName)
    if (!std::islower(static_cast<unsigned char>(c)) && !std::isdigit(static_cast<unsigned char>(c)) &&
        c != '-')
      Fail(where, "a long option is written in lower case letters, digits and '-': " + form);
}

void AddOptions(HelpSource& help, const Item& item) {
  const std::string where = help.path + ":" + std::to_string(item.line);
  Option option;
  std::string rest = item.term;
  for (size_t at = 0; at <= rest.size();) {
    size_t comma = rest.find(", ", at);
    ReadOptionForm(rest.substr(at, comma == std::string::npos ? std::string::npos : comma - at), option,
                   where);
    if (comma == std::string::npos) break;
    at = comma + 2;
  }
  for (Option& known : help.options) {
    bool same = (!option.longName.empty() && known.longName == option.longName) ||
                (option.shortName && known.shortName == option.shortName);
    if (!same) continue;
    // One option described twice (as in a tool whose commands give it
    // different meanings) must be the same option both times.
    if (known.longName != option.longName || known.shortName != option.shortName ||
        known.argument != option.argument)
      Fail(where, "option '--" + option.longName + "' is described twice in different forms");
    return;
  }
  help.options.push_back(option);
}

HelpSource ReadSource(const std::string& path) {
  std::ifstream in(path);
  if (!in) Fail(path, "cannot read the help source");
  HelpSource help;
  help.path = path;
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    while (!line.empty() && line.back() == ' ') line.pop_back();
    for (unsigned char c : line)
      if (c >= 0x80 || (c < 0x20 && c != '\t'))
        Fail(path + ":" + std::to_string(lines.size() + 1), "only ASCII text (no tabs or accents)");
    if (line.find('\t') != std::string::npos)
      Fail(path + ":" + std::to_string(lines.size() + 1), "indent with spaces, not tabs");
    lines.push_back(line);
  }
  size_t i = 0;
  for (; i < lines.size() && !StartsWith(lines[i], "== "); ++i) {
    const std::string& line = lines[i];
    const std::string where = path + ":" + std::to_string(i + 1);
    if (line.empty() || line[0] == '#') continue;
    size_t colon = line.find(": ");
    if (colon == std::string::npos) Fail(where, "expected 'name:', 'summary:' or 'usage:'");
    std::string key = line.substr(0, colon), value = Trim(line.substr(colon + 2));
    if (key == "name") help.name = value;
    else if (key == "summary") help.summary = value;
    else if (key == "usage") help.usage.push_back(value);
    else Fail(where, "unknown header '" + key + "'");
  }
  if (help.name.empty() || help.summary.empty() || help.usage.empty())
    Fail(path, "the header needs name:, summary: and at least one usage:");
  for (const std::string& usage : help.usage)
    if (usage != help.name && !StartsWith(usage, help.name + " "))
      Fail(path, "a usage line starts with the program's name: " + usage);

  while (i < lines.size()) {
    Section section;
    section.title = lines[i].substr(3);
    if (EndsWith(section.title, " (manual)")) {
      section.manualOnly = true;
      section.title.resize(section.title.size() - 9);
    }
    const std::string sectionWhere = path + ":" + std::to_string(i + 1);
    for (char c : section.title)
      if (!std::isupper(static_cast<unsigned char>(c)) && c != ' ')
        Fail(sectionWhere, "a section title is in capitals: " + section.title);
    const bool optionSection = EndsWith(section.title, "OPTIONS");
    ++i;
    while (i < lines.size() && !StartsWith(lines[i], "== ")) {
      if (lines[i].empty()) {
        ++i;
        continue;
      }
      const size_t start = i;
      while (i < lines.size() && !lines[i].empty() && !StartsWith(lines[i], "== ")) ++i;
      std::vector<std::string> blockLines(lines.begin() + static_cast<long>(start),
                                          lines.begin() + static_cast<long>(i));
      const std::string where = path + ":" + std::to_string(start + 1);
      Block block;
      if (blockLines[0] == "|" || StartsWith(blockLines[0], "| ")) {
        block.kind = Block::kVerbatim;
        for (const std::string& line : blockLines) {
          if (line != "|" && !StartsWith(line, "| ")) Fail(where, "every verbatim line starts with '| '");
          block.lines.push_back(line.size() > 2 ? line.substr(2) : std::string());
        }
      } else if (blockLines.size() > 1 && Indent(blockLines[0]) == 0 && Indent(blockLines[1]) > 0) {
        block.kind = Block::kDefinitions;
        for (size_t k = 0; k < blockLines.size(); ++k) {
          const std::string& line = blockLines[k];
          if (Indent(line) == 0) {
            block.items.push_back(Item{static_cast<int>(start + k + 1), line, {}});
          } else {
            block.items.back().description.push_back(Trim(line));
          }
        }
        for (const Item& item : block.items) {
          if (item.description.empty())
            Fail(path + ":" + std::to_string(item.line), "the term '" + item.term + "' has no description");
          if (optionSection) AddOptions(help, item);
        }
      } else {
        block.kind = Block::kParagraph;
        for (const std::string& line : blockLines) {
          if (Indent(line) != 0) Fail(where, "an indented line outside a term's description");
          block.lines.push_back(line);
        }
      }
      section.blocks.push_back(block);
    }
    help.sections.push_back(section);
  }
  bool hasHelp = false, hasVersion = false;
  for (const Option& option : help.options) {
    hasHelp = hasHelp || (option.longName == "help" && option.argument == 0);
    hasVersion = hasVersion || (option.longName == "version" && option.argument == 0);
  }
  if (!hasHelp || !hasVersion) Fail(path, "an OPTIONS section must describe --help and --version");
  return help;
}

// ---- The --help text ---------------------------------------------------------

std::string Words(const std::vector<std::string>& lines) {
  std::string joined;
  for (const std::string& line : lines) joined += (joined.empty() ? "" : " ") + Trim(line);
  return joined;
}

// Fills `text` to kHelpWidth, the first line starting at column `first`
// (the caller has written that much), the others indented by `indent`.
std::string Fill(const std::string& text, size_t first, size_t indent) {
  std::string out;
  size_t column = first;
  bool lineStart = true;
  std::istringstream words(text);
  for (std::string word; words >> word;) {
    if (!lineStart && column + 1 + word.size() > kHelpWidth) {
      out += "\n" + std::string(indent, ' ');
      column = indent;
      lineStart = true;
    }
    if (!lineStart) {
      out += ' ';
      ++column;
    }
    out += word;
    column += word.size();
    lineStart = false;
  }
  return out + "\n";
}

std::string SentenceCase(const std::string& title) {
  std::string text = title;
  for (size_t i = 1; i < text.size(); ++i) text[i] = static_cast<char>(std::tolower(text[i]));
  return text;
}

std::string HelpText(const HelpSource& help) {
  std::string out;
  for (size_t i = 0; i < help.usage.size(); ++i)
    out += (i == 0 ? "Usage: " : "  or:  ") + help.usage[i] + "\n";
  std::string summary = help.summary;
  summary[0] = static_cast<char>(std::toupper(summary[0]));
  out += Fill(summary + ".", 0, 0);
  for (const Section& section : help.sections) {
    if (section.manualOnly) continue;
    out += "\n";
    const bool heading = section.title != "DESCRIPTION";
    if (heading) out += SentenceCase(section.title) + ":\n";
    bool firstBlock = true;
    for (const Block& block : section.blocks) {
      if (!firstBlock) out += "\n";
      firstBlock = false;
      if (block.kind == Block::kParagraph) {
        out += Fill(Words(block.lines), 0, 0);
      } else if (block.kind == Block::kVerbatim) {
        for (const std::string& line : block.lines) out += (line.empty() ? "" : "  ") + line + "\n";
      } else {
        size_t widest = 0;
        for (const Item& item : block.items)
          if (2 + item.term.size() + 2 <= kMaxTermColumn) widest = std::max(widest, item.term.size());
        const size_t column = widest == 0 ? 8 : 2 + widest + 2;
        for (const Item& item : block.items) {
          out += "  " + item.term;
          size_t at = 2 + item.term.size();
          if (at + 2 > column) {
            out += "\n" + std::string(column, ' ');
          } else {
            out += std::string(column - at, ' ');
          }
          out += Fill(Words(item.description), column, column);
        }
      }
    }
  }
  out += "\nThe manual page: man " + help.name + "\n";
  // Usage and verbatim lines are not filled: they must fit as written.
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);)
    if (line.size() > kHelpWidth)
      Fail(help.path,
           "a line of the --help text is wider than " + std::to_string(kHelpWidth) + " columns: " + line);
  return out;
}

// ---- The manual page ---------------------------------------------------------

std::string RoffEscape(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\') out += "\\e";
    else if (c == '-') out += "\\-";
    else out += c;
  }
  return out;
}

// A line of roff text: a leading '.' or '\'' would be read as a request.
std::string RoffLine(const std::string& text) {
  if (!text.empty() && (text[0] == '.' || text[0] == '\'')) return "\\&" + text + "\n";
  return text + "\n";
}

bool IsWordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// Terms and usage lines: options and other literal words in bold, the
// words in capitals (what the user replaces) in italics.
std::string RoffSyntax(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    const bool optionStart = text[i] == '-' && (i == 0 || !IsWordChar(text[i - 1])) && i + 1 < text.size() &&
                             (text[i + 1] == '-' || std::isalnum(static_cast<unsigned char>(text[i + 1])));
    if (optionStart || IsWordChar(text[i])) {
      size_t end = i;
      while (end < text.size() && (IsWordChar(text[end]) || text[end] == '-')) ++end;
      std::string word = text.substr(i, end - i);
      bool capitals = !optionStart;
      for (char c : word) capitals = capitals && !std::islower(static_cast<unsigned char>(c));
      capitals = capitals && std::isupper(static_cast<unsigned char>(word[0]));
      out += (capitals ? "\\fI" : "\\fB") + RoffEscape(word) + "\\fR";
      i = end;
    } else {
      out += RoffEscape(std::string(1, text[i]));
      ++i;
    }
  }
  return out;
}

// Paragraph text: options (--root, -h) and references (tarpelix(1)) in bold.
std::string RoffProse(const std::string& text) {
  std::string out;
  std::istringstream words(text);
  bool first = true;
  for (std::string word; words >> word;) {
    if (!first) out += ' ';
    first = false;
    size_t lead = 0;
    while (lead < word.size() && (word[lead] == '(' || word[lead] == '"' || word[lead] == '\'')) ++lead;
    std::string head = word.substr(0, lead), body = word.substr(lead);
    size_t end = body.size();
    // Trailing punctuation, and a ')' that closes no '(' of the word.
    while (end > 0 && (std::string(".,;:\"'").find(body[end - 1]) != std::string::npos ||
                       (body[end - 1] == ')' && body.find('(') == std::string::npos)))
      --end;
    std::string tail = body.substr(end);
    body.resize(end);
    const bool option = body.size() >= 2 && body[0] == '-' &&
                        (body[1] == '-' || std::isalpha(static_cast<unsigned char>(body[1])));
    size_t paren = body.find('(');
    const bool reference = paren != std::string::npos && paren > 0 && EndsWith(body, ")") &&
                           std::isdigit(static_cast<unsigned char>(body[paren + 1]));
    if (option) {
      size_t equals = body.find('=');
      out += RoffEscape(head) + "\\fB" + RoffEscape(body.substr(0, equals)) + "\\fR" +
             (equals == std::string::npos ? "" : RoffEscape(body.substr(equals))) + RoffEscape(tail);
    } else if (reference) {
      out += RoffEscape(head) + "\\fB" + RoffEscape(body.substr(0, paren)) + "\\fR" +
             RoffEscape(body.substr(paren)) + RoffEscape(tail);
    } else {
      out += RoffEscape(word);
    }
  }
  return out;
}

std::string Upper(const std::string& text) {
  std::string out = text;
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

std::string ManPage(const HelpSource& help, const std::string& version, const std::string& sourceName) {
  std::string out;
  out += ".\\\" " + help.name + "(1), made by helpgen from " + sourceName + ": edit that file.\n";
  out += ".TH " + Upper(help.name) + " 1 \"\" \"tarpelix " + version + "\" \"User Commands\"\n";
  out += ".SH NAME\n" + RoffEscape(help.name) + " \\- " + RoffEscape(help.summary) + "\n";
  out += ".SH SYNOPSIS\n";
  for (size_t i = 0; i < help.usage.size(); ++i) {
    if (i > 0) out += ".br\n";
    out += RoffLine(RoffSyntax(help.usage[i]));
  }
  for (const Section& section : help.sections) {
    out += ".SH \"" + section.title + "\"\n";
    bool firstBlock = true;
    for (const Block& block : section.blocks) {
      if (block.kind == Block::kParagraph) {
        if (!firstBlock) out += ".PP\n";
        out += RoffLine(RoffProse(Words(block.lines)));
      } else if (block.kind == Block::kVerbatim) {
        out += ".PP\n.RS 4\n.nf\n";
        for (const std::string& line : block.lines) out += RoffLine(RoffEscape(line));
        out += ".fi\n.RE\n";
      } else {
        for (const Item& item : block.items) {
          out += ".TP\n" + RoffLine(RoffSyntax(item.term));
          out += RoffLine(RoffProse(Words(item.description)));
        }
      }
      firstBlock = false;
    }
  }
  return out;
}

// ---- The generated header ----------------------------------------------------

std::string CString(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\n') out += "\\n\"\n    \"";
    else if (c == '"' || c == '\\') out += std::string("\\") + c;
    else out += c;
  }
  out += "\"";
  return out;
}

std::string OptionConstant(const Option& option) {
  std::string name = "kOption";
  bool upper = true;
  const std::string base = option.longName.empty() ? std::string(1, option.shortName) : option.longName;
  for (char c : base) {
    if (c == '-') {
      upper = true;
      continue;
    }
    name += upper ? static_cast<char>(std::toupper(static_cast<unsigned char>(c))) : c;
    upper = false;
  }
  return name;
}

std::string Header(const HelpSource& help, const std::string& version, const std::string& sourceName) {
  std::string out;
  out += "// " + help.name + "_help.h - made by helpgen from " + sourceName + ": edit that file.\n";
  out += "#pragma once\n#include \"platform/command_line.h\"\n\n";
  out += "// getopt_long's value for each option: its letter, or a number above 255.\n";
  out += "enum ProgramOption : int {\n";
  int next = 256;
  std::string shortOptions;
  std::string table;
  for (const Option& option : help.options) {
    int value = option.shortName ? option.shortName : next++;
    out += "  " + OptionConstant(option) + " = " + std::to_string(value) + ",\n";
    if (option.shortName)
      shortOptions += std::string(1, option.shortName) + std::string(option.argument, ':');
    if (!option.longName.empty())
      table += "    {\"" + option.longName + "\", " + std::to_string(option.argument) + ", nullptr, " +
               OptionConstant(option) + "},\n";
  }
  out += "};\n\n";
  out +=
      "inline const struct option kProgramLongOptions[] = {\n" + table + "    {nullptr, 0, nullptr, 0}};\n\n";
  out += "inline const ProgramHelp kProgramHelp = {\n";
  out += "    \"" + help.name + "\",\n";
  out += "    " + CString(HelpText(help)) + ",\n";
  out += "    " + CString(help.name + " (tarpelix) " + version + "\n") + ",\n";
  out += "    \"" + shortOptions + "\",\n";
  out += "    kProgramLongOptions};\n";
  return out;
}

void Write(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out || !(out << text)) Fail(path, "cannot write");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::cerr << "usage: helpgen SOURCE.help VERSION OUT_help.h OUT.1\n";
    return 2;
  }
  const std::string source = argv[1], version = argv[2];
  HelpSource help = ReadSource(source);
  const std::string sourceName = source.substr(source.find_last_of('/') + 1);
  Write(argv[3], Header(help, version, sourceName));
  Write(argv[4], ManPage(help, version, sourceName));
  return 0;
}
