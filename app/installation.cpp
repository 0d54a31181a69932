// installation.cpp - the installed demonstration suite root and the
// messages of a program started without a usable suite root.
//
// The suite's menu always starts the program with KALROOT set; a
// technician who has just installed the package and types "tarpelix" has
// none, and is told how to try the demonstration suite: copy it with
// demodata --init into a folder of their own, since the installed copy is
// read-only (the program writes its data files, lock files and update log
// below the suite root).
#include "app/installation.h"

#include <filesystem>
#include <system_error>

#include "platform/command_line.h"
#include "platform/platform.h"
#include "session/language.h"
#include "session/session.h"

#ifndef TARPELIX_DEMO_FROM_BINDIR
#define TARPELIX_DEMO_FROM_BINDIR "../share/tarpelix/demo"
#endif

namespace {

// Two host paths naming the same folder, however written.
bool SameFolder(const std::string& a, const std::string& b) {
  std::error_code error;
  return std::filesystem::equivalent(a, b, error) && !error;
}

std::string HowToStart(const std::string& demo) {
  std::string text;
  if (!demo.empty()) {
    text += "  To try the program, copy the demonstration suite root (" + demo +
            ")\n"
            "  into a folder of your own, with generated data, and start it there:\n"
            "    demodata --init --root ~/tarpelix-demo\n"
            "    KALROOT=~/tarpelix-demo/ KALTMP=~/tarpelix-demo/TMP/ tarpelix\n";
  } else {
    text += "  To try the program on the demonstration suite root, use ./run in the source tree.\n";
  }
  text +=
      "  To work on a suite root, name it and the station's temporary folder:\n"
      "    KALROOT=/srv/kal/ KALTMP=/srv/kal/TMP/estacio1/ tarpelix\n"
      "  (tarpelix --help, man tarpelix)";
  return text;
}

}  // namespace

std::string InstalledDemoRoot() {
  const std::string folder = ProgramDirectory();
  if (folder.empty()) return std::string();
  std::string demo = Utf8ToCp850(
      std::filesystem::path(Cp850ToUtf8(folder + "/" + TARPELIX_DEMO_FROM_BINDIR)).lexically_normal());
  return DirectoryExists(demo) ? demo : std::string();
}

std::string SuiteRootProblem() {
  const std::string demo = InstalledDemoRoot();
  const std::string root = Session.root.empty() ? Cp850ToUtf8(CurrentDirectory()) : HostPath(Session.root);
  if (!demo.empty() && SameFolder(root, HostPath(demo)))
    return "the demonstration suite root " + demo +
           " is read-only: the program writes\n"
           "  its data files, locks and log below the suite root.\n" +
           HowToStart(demo);
  if (Session.root.empty() && !FileExists("FORMS\\" + ModuleName + ".JPN"))
    return "no suite root: KALROOT is not set and this folder holds no FORMS/" + ModuleName + ".JPN.\n" +
           HowToStart(demo);
  return std::string();
}
