// help.cpp - the help pages.
//
// A text help file is a sequence of fixed-length records, one per line, each
// exactly as long as the console is wide; there are no line ends.  Three
// control characters inside a line switch display styles on and off and are
// not shown: code 30 bright (scheme "h"), code 31 underlined/bar (scheme
// "u", which wins over bright) and code 16 reverse (scheme "r").  Only the
// first 76 visible characters of a line are shown, from the window's second
// column, so the text keeps a margin inside the frame.
//
// The viewer keeps n, the number of the line after the last one shown, and
// moves it with the cursor keys the way a pager does.  A missing file is an
// empty help window that Esc closes; a damaged file (a length that is not a
// whole number of lines) loses only its partial last line.  A topic that is
// no plain file name (see IsPlainTopic) shows the empty help window too.
#include "screen/help.h"

#include <cctype>
#include <cstdio>

#include "input/keys.h"
#include "platform/console.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "screen/windows.h"
#include "session/session.h"

namespace {

constexpr int kShownCharacters = 76;
constexpr char kStyleBright = 30, kStyleBar = 31, kStyleReverse = 16;

struct HelpView {
  FileHandle file;
  long lineLength = 80;
  long lineCount = 0;  // N: whole lines in the file
  int top = 0, left = 0, bottom = 0, right = 0;
  int visible = 0;  // v: lines the window shows
  long next = 0;    // n: the line after the last one shown
};

std::string ReadLine(HelpView& view, long number) {
  std::string line;
  if (!view.file || number < 1 || number > view.lineCount) return line;
  line.resize(static_cast<size_t>(view.lineLength));
  if (std::fseek(view.file.f, (number - 1) * view.lineLength, SEEK_SET) != 0) return std::string();
  size_t got = std::fread(line.data(), 1, line.size(), view.file.f);
  line.resize(got);
  return line;
}

bool HasStyleCodes(const std::string& line) {
  return line.find_first_of(std::string{kStyleBright, kStyleBar, kStyleReverse}) != std::string::npos;
}

// Shows line `number` on window row `row`; lines past the end leave the row
// as it is (blank after a clear or a scroll).
void ShowLine(HelpView& view, long number, int row) {
  SetColourScheme("n");
  if (number < 1 || number > view.lineCount) return;
  WinLocate(2, row);
  std::string line = ReadLine(view, number);
  if (!HasStyleCodes(line)) {
    WriteText(line.substr(0, kShownCharacters));
    return;
  }
  bool bright = false, bar = false, reverse = false;
  int shown = 0;
  for (char c : line) {
    if (c == kStyleBright) {
      bright = !bright;
      if (!bar) SetColourScheme(bright ? "h" : "n");
    } else if (c == kStyleBar) {
      bar = !bar;
      SetColourScheme(bar ? "u" : "n");
    } else if (c == kStyleReverse) {
      reverse = !reverse;
      SetColourScheme(reverse ? "r" : "n");
    } else if (shown < kShownCharacters) {
      WriteText(std::string(1, c));
      ++shown;
    }
  }
  SetColourScheme("n");
}

void ShowLines(HelpView& view, long first, long last) {
  for (long m = first; m <= last; ++m) ShowLine(view, m, static_cast<int>(m - first + 1));
}

// Scrolls the window's interior: lines > 0 up, lines < 0 down.
void ScrollInterior(HelpView& view, int lines) {
  SetColourScheme("n");
  ScrollBox(view.top, view.left, view.bottom - 2, view.right - 2, lines);
}

void ClearInterior(HelpView& view) { ScrollInterior(view, view.visible); }

// A topic names one file of the help folder: letters (those of code page
// 850 included), digits, "_", "-" and ".", without "..".  Anything else (a
// separator, a control character, a NUL that would cut the name short)
// could reach a file outside the folder.
bool IsPlainTopic(const std::string& topic) {
  if (topic.empty() || topic.find("..") != std::string::npos) return false;
  for (unsigned char c : topic) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) continue;
    if (c == '_' || c == '-' || c == '.') continue;
    char32_t u = c >= 128 ? Cp850ToUnicode(c) : 0;
    if ((u >= 0xC0 && u <= 0xFF && u != 0xD7 && u != 0xF7) || u == 0x131) continue;
    return false;
  }
  return true;
}

// The HTML page of a topic, as a path of this system from the root.
std::string HtmlPage(const std::string& topic) {
  return CurrentDirectory() + "/" + Utf8ToCp850(HostPath("AJUDA\\" + topic + ".HTM"));
}

// The text help file of a topic: for a Spanish, Galician or Aranese
// session the one of the language's own folder ("AJUDA\SPA\..."), when
// there is one, else the suite's own.
std::string TextHelpFile(const std::string& topic) {
  std::string code = TrimTrailingBlanks(Session.language);
  for (char& c : code) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (code == "SPA" || code == "GLG" || code == "OCI") {
    std::string translated = "AJUDA\\" + code + "\\" + topic + ".HLP";
    if (FileExists(translated)) return translated;
  }
  return "AJUDA\\" + topic + ".HLP";
}

// The viewer's window over the whole screen but the top three and the
// bottom two rows, and the topic's file (none for an empty topic) with its
// count of whole lines; false when the screen is too small for any line.
bool PlaceView(HelpView& view, const std::string& topic) {
  view.lineLength = ScreenColumns();
  view.top = 4;
  view.left = 1;
  view.bottom = ScreenRows() - 3;
  view.right = ScreenColumns();
  view.visible = view.bottom - view.top - 1;
  if (view.visible < 1 || view.lineLength < 1) return false;

  if (!topic.empty()) view.file = FileHandle(TextHelpFile(topic), "rb");
  if (view.file && std::fseek(view.file.f, 0, SEEK_END) == 0) {
    long length = std::ftell(view.file.f);
    if (length > 0) view.lineCount = length / view.lineLength;
  }
  return true;
}

// Moves the view by a line (Down, Up), a window (PgDn, PgUp) or to either
// end (Home, End); `view.next` is the line after the last one shown.
void MoveView(HelpView& view, KeyCode key) {
  const long v = view.visible;
  const long N = view.lineCount;
  long& n = view.next;
  switch (key) {
    case kKeyDown:
      if (n <= N) {
        ScrollInterior(view, 1);
        ShowLine(view, n, view.visible);
        ++n;
      }
      break;
    case kKeyUp:
      if (n - v > 1) {
        --n;
        ScrollInterior(view, -1);
        ShowLine(view, n - v, 1);
      }
      break;
    case kKeyPgDn:
      if (n <= N) {
        ClearInterior(view);
        if (n + v - 1 > N) n = N - v + 1;
        ShowLines(view, n, n + v - 1);
        n += v;
      }
      break;
    case kKeyPgUp:
      // Back by a whole window, so that PgUp undoes PgDn; near the start
      // the window is filled from line 1.
      if (n - (v + 1) > 0) {
        ScrollInterior(view, -view.visible);
        if (n - 2 * v < 1) n = 2 * v + 1;
        ShowLines(view, n - 2 * v, n - v - 1);
        n = n - v;
      }
      break;
    case kKeyHome:
      if (n - (v + 1) > 0) {
        ClearInterior(view);
        ShowLines(view, 1, v);
        n = v + 1;
      }
      break;
    case kKeyEnd:
      if (n <= N) {
        ClearInterior(view);
        n = N - v + 1;
        ShowLines(view, n, n + v - 1);
        n = N + 1;
      }
      break;
    default: break;
  }
}

// The text viewer; with an empty topic (one that names no file of the help
// folder) the empty help window.
void RunTextViewer(const std::string& topic) {
  HelpView view;
  if (!PlaceView(view, topic)) return;

  bool cursorWasShown = ConsoleCursorShown();
  ConsoleShowCursor(false);
  SetColourScheme("+h");
  if (!OpenWindow(view.top, view.left, view.bottom, view.right)) {  // the console is too small for it
    SetColourScheme("-");
    ConsoleShowCursor(cursorWasShown);
    return;
  }
  DrawFrame(2);
  SetColourScheme("n");
  ShowLines(view, 1, view.visible);
  view.next = view.visible + 1;

  for (;;) {
    KeyCode key = 0;
    WaitKey(key);
    if (key == kKeyEsc) break;
    if (key == kKeyF1) {
      if (topic != kGeneralHelpTopic) ShowHelp(kGeneralHelpTopic);
    } else {
      MoveView(view, key);
    }
  }

  view.file.Close();
  CloseWindow();
  SetColourScheme("-");
  ConsoleShowCursor(cursorWasShown);
}

}  // namespace

void ShowHelp(const std::string& topic) {
  const bool plain = IsPlainTopic(topic);
  if (Session.mode == "WIN" && plain) {
    // The desktop's document opener (or the station's own, Session) opens
    // the page, started with its arguments as they are: no text of the
    // settings ever goes through a shell.  Whether it could be started is
    // not reported; the operator simply returns to the field.
    RunProgram({Session.documentOpener.empty() ? std::string(kDefaultDocumentOpener) : Session.documentOpener,
                HtmlPage(topic)});
    return;
  }
  RunTextViewer(plain ? topic : std::string());
}
