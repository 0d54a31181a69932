// The programs' help, version and options as a user meets them, and the
// generator that makes the --help texts, option tables and manual pages
// from one help source (tools/help/helpgen.cpp).
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/temp_dir.h"
#include "tests/tools/tool_runs.h"

namespace fs = std::filesystem;

namespace {

using toolruns::Result;
using toolruns::RunCommand;

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

struct Program {
  std::string name, path;
};

// Every program with a help source: the tools of tools/*.help and the
// program itself, so that a new tool is checked as soon as it exists.
std::vector<Program> Programs() {
  std::vector<Program> programs = {{"tarpelix", std::string(TARPELIX_BINARY_DIR) + "/tarpelix"}};
  for (const auto& entry : fs::directory_iterator(std::string(TARPELIX_SOURCE_DIR) + "/tools"))
    if (entry.path().extension() == ".help") {
      const std::string name = entry.path().stem();
      programs.push_back({name, std::string(TARPELIX_BINARY_DIR) + "/tools/" + name});
    }
  return programs;
}

// The long options a text names ("--root", "--read-only-access").
std::set<std::string> OptionsNamed(const std::string& text) {
  std::set<std::string> options;
  static const std::regex option("(^|[^-A-Za-z0-9])(--[a-z][a-z0-9-]*)");
  for (std::sregex_iterator i(text.begin(), text.end(), option), end; i != end; ++i) options.insert((*i)[2]);
  return options;
}

// A manual page's text without roff's escapes and font changes.
std::string ManText(const std::string& roff) {
  std::string text = std::regex_replace(roff, std::regex(R"(\\f[BIR])"), "");
  text = std::regex_replace(text, std::regex(R"(\\-)"), "-");
  text = std::regex_replace(text, std::regex(R"(\\e)"), "\\");
  return std::regex_replace(text, std::regex(R"(\\&)"), "");
}

// The options the Options section of a --help text describes, each with
// "=1" when it takes a value.
std::vector<std::string> DescribedOptions(const std::string& help) {
  std::vector<std::string> options;
  std::istringstream lines(help.substr(help.find("\nOptions:\n")));
  static const std::regex term(R"(^  (-[A-Za-z], )?(--[a-z][a-z0-9-]*)(\[?=)?)");
  std::string line;
  std::getline(lines, line);
  std::getline(lines, line);
  for (; std::getline(lines, line) && !line.empty();) {
    std::smatch m;
    if (std::regex_search(line, m, term)) options.push_back(m[2].str() + (m[3].matched ? "=1" : ""));
  }
  return options;
}

TEST(ProgramHelp, EveryProgramAnswersHelpAndVersionAndRefusesUnknownOptions) {
  const std::string version = TARPELIX_VERSION;
  std::vector<Program> programs = Programs();
  ASSERT_GE(programs.size(), 4u);
  for (const Program& p : programs) {
    SCOPED_TRACE(p.name);
    ASSERT_TRUE(fs::exists(p.path)) << "build the programs first";
    Result help = RunCommand(p.path + " --help");
    EXPECT_EQ(help.exit, 0);
    EXPECT_EQ(help.out.rfind("Usage: " + p.name, 0), 0u) << help.out;
    EXPECT_NE(help.out.find("\nOptions:\n"), std::string::npos) << help.out;
    EXPECT_EQ(help.err, "");
    std::istringstream lines(help.out);
    for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 79u) << line;
    Result version = RunCommand(p.path + " --version");
    EXPECT_EQ(version.exit, 0);
    EXPECT_EQ(version.out, p.name + " (tarpelix) " + TARPELIX_VERSION + "\n");
    if (p.name == "tarpelix") continue;  // it reads no other argument
    Result wrong = RunCommand(p.path + " --no-such-option");
    EXPECT_EQ(wrong.exit, 2);
    EXPECT_EQ(wrong.out, "");
    EXPECT_EQ(wrong.err, p.name + ": unknown option '--no-such-option'\nTry '" + p.name +
                             " --help' for more information.\n");
  }
}

// Help, option table and manual page come from one source: every option the
// help describes is one the program takes, and the manual page names the
// same options as the help.
TEST(ProgramHelp, TheHelpTheOptionsAndTheManualPageAgree) {
  for (const Program& p : Programs()) {
    SCOPED_TRACE(p.name);
    const std::string help = RunCommand(p.path + " --help").out;
    std::vector<std::string> described = DescribedOptions(help);
    EXPECT_GE(described.size(), 2u) << help;
    for (const std::string& option : described) {
      if (option == "--help" || option == "--version" || p.name == "tarpelix") continue;
      // Read in order: a known option passes and the unknown one after it
      // is the one refused.
      Result r = RunCommand(p.path + " " + option + " --zz-unknown");
      EXPECT_EQ(r.exit, 2) << option;
      EXPECT_NE(r.err.find("unknown option '--zz-unknown'"), std::string::npos) << option << ": " << r.err;
    }
    const fs::path man = fs::path(TARPELIX_BINARY_DIR) / "man/man1" / (p.name + ".1");
    ASSERT_TRUE(fs::exists(man));
    ASSERT_TRUE(fs::exists(man.string() + ".gz"));
    const std::string page = ManText(ReadText(man));
    EXPECT_EQ(page.rfind(".\\\" " + p.name + "(1)", 0), 0u);
    std::string title = p.name;
    for (char& c : title) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_NE(page.find("\n.TH " + title + " 1 "), std::string::npos);
    EXPECT_EQ(OptionsNamed(page), OptionsNamed(help));
  }
}

// ---- The generator -----------------------------------------------------------------

struct Generated {
  int exit = -1;
  std::string messages, header, man;
};

class HelpGenerator : public ::testing::Test {
 protected:
  TempDir temp{"tarpelix_helpgen_"};
  const fs::path dir = temp.path;
  void SetUp() override { ASSERT_FALSE(dir.empty()); }

  Generated Generate(const std::string& source) {
    std::ofstream(dir / "x.help") << source;
    fs::remove(dir / "x_help.h");
    fs::remove(dir / "x.1");
    Result r = RunCommand(std::string(TARPELIX_BINARY_DIR) + "/helpgen " + (dir / "x.help").string() +
                          " 7.1 " + (dir / "x_help.h").string() + " " + (dir / "x.1").string());
    return Generated{r.exit, r.err, ReadText(dir / "x_help.h"), ReadText(dir / "x.1")};
  }
};

const std::string kHeader = "name: x\nsummary: try things\nusage: x [--level=N] FILE\n";
const std::string kOptions =
    "== OPTIONS\n-h, --help\n  Show this help.\n--version\n  Show the version.\n--level=N\n  How far.\n";

TEST_F(HelpGenerator, MakesTheOptionTableTheHelpTextAndAnEscapedManualPage) {
  Generated g = Generate(kHeader +
                         "\n== DESCRIPTION\nA path like DADES\\PropietH and a -1.\n.starts with a dot\n\n"
                         "| .verbatim \\ line\n\n" +
                         kOptions + "--init[=DEMO]\n  Start afresh.\n\n== SEE ALSO (manual)\ny(1)\n");
  ASSERT_EQ(g.exit, 0) << g.messages;
  EXPECT_NE(g.header.find("{\"help\", 0, nullptr, kOptionHelp}"), std::string::npos) << g.header;
  EXPECT_NE(g.header.find("kOptionHelp = 104,"), std::string::npos) << "-h is its letter";
  EXPECT_NE(g.header.find("{\"level\", 1, nullptr, kOptionLevel}"), std::string::npos);
  EXPECT_NE(g.header.find("{\"init\", 2, nullptr, kOptionInit}"), std::string::npos);
  EXPECT_NE(g.header.find("\"x (tarpelix) 7.1\\n\""), std::string::npos);
  EXPECT_NE(g.header.find("DADES\\\\PropietH"), std::string::npos) << "backslash escaped in C";
  EXPECT_EQ(g.header.find("y(1)"), std::string::npos) << "a manual-only section is not in --help";
  // roff: the backslash, the minus signs, lines starting with a dot.
  EXPECT_NE(g.man.find("DADES\\ePropietH and a \\-1. .starts"), std::string::npos) << g.man;
  EXPECT_NE(g.man.find("\n\\&.verbatim \\e line\n"), std::string::npos) << g.man;
  EXPECT_NE(g.man.find(".TP\n\\fB\\-\\-level\\fR=\\fIN\\fR\nHow far.\n"), std::string::npos) << g.man;
  EXPECT_NE(g.man.find(".SH SYNOPSIS\n\\fBx\\fR [\\fB\\-\\-level\\fR=\\fIN\\fR] \\fIFILE\\fR\n"),
            std::string::npos)
      << g.man;
  EXPECT_NE(g.man.find(".SH \"SEE ALSO\"\n\\fBy\\fR(1)\n"), std::string::npos) << g.man;
  EXPECT_NE(g.man.find(".TH X 1 \"\" \"tarpelix 7.1\""), std::string::npos);
}

TEST_F(HelpGenerator, RefusesAMalformedSourceNamingTheLine) {
  struct Case {
    std::string source;
    const char* message;
  } cases[] = {
      {"summary: s\nusage: x\n" + kOptions, "needs name:"},
      {kHeader + "== OPTIONS\n--version\n  V.\n", "must describe --help and --version"},
      {kHeader + kOptions + "--Level=N\n  Bad.\n", "x.help:11: a long option is written in lower case"},
      {kHeader + kOptions + "--level N\n  Bad.\n", "x.help:11: write a long option's value as --level=VALUE"},
      {kHeader + kOptions + "--level\n  Again, without its value.\n",
       "x.help:11: option '--level' is described twice in different forms"},
      {kHeader + "== EXIT STATUS\n0\n  Done.\n1\n" + kOptions, "x.help:7: the term '1' has no description"},
      {kHeader + "== Options\n", "x.help:4: a section title is in capitals"},
      {kHeader + "== DESCRIPTION\n| ok\nnot verbatim\n", "every verbatim line starts with '| '"},
      {kHeader + "== DESCRIPTION\nText\n  indented\n  more\nText again\n" + kOptions,
       "the term 'Text again' has no description"},
      {kHeader + "== DESCRIPTION\nCaf\xC3\xA9\n" + kOptions, "x.help:5: only ASCII text"},
      {"name: x\nsummary: s\nusage: y --help\n" + kOptions, "a usage line starts with the program's name"},
      {kHeader + "colour: red\n", "x.help:4: unknown header 'colour'"},
      {"name: x\nsummary: s\nusage: x " + std::string(80, 'a') + "\n" + kOptions, "wider than 79 columns"},
  };
  for (const Case& c : cases) {
    Generated g = Generate(c.source);
    EXPECT_EQ(g.exit, 1) << c.source;
    EXPECT_NE(g.messages.find(c.message), std::string::npos) << c.source << "\n" << g.messages;
  }
}

}  // namespace
