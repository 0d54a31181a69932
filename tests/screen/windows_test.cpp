// The window stack and its save file, frames, window-relative placement,
// colour schemes, scrolling and the value stack.
#include "screen/windows.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <filesystem>
#include <string>
#include <vector>

#include "input/keys.h"
#include "platform/console.h"
#include "platform/platform.h"
#include "session/session.h"
#include "tests/screen/screen_test_support.h"

namespace {

class WindowsTest : public ScreenTest {
 protected:
  std::string SaveFile() { return dir + "/WinPush.tmp"; }
  std::string SaveBytes() {
    std::string bytes;
    ReadWholeFile(SaveFile(), bytes);
    return bytes;
  }
  void WriteSaveBytes(const std::string& bytes) { ASSERT_TRUE(WriteWholeFile(SaveFile(), bytes)); }
};

std::string Pointer(uint32_t value) {
  std::string p(4, '\0');
  for (int i = 0; i < 4; ++i) p[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  return p;
}

TEST_F(WindowsTest, TwoWindowsClosedRestoreEveryCellColourAndCursor) {
  std::vector<ConsoleCell> original = FillPattern();
  ConsoleSetCursor(10, 20);

  OpenWindow(5, 10, 15, 50);
  SetColourScheme("n");
  DrawFrame(2);
  WinLocate(2, 3);
  WriteText("first window");
  std::vector<ConsoleCell> withFirst = Console.cells;
  int firstRow = ConsoleCursorRow(), firstColumn = ConsoleCursorColumn();

  OpenWindow(8, 30, 20, 70);
  SetColourScheme("u");
  DrawFrame(1);
  WinLocate(1, 1);
  WriteText("second");
  EXPECT_EQ(Windows.WindowDepth, 2);

  CloseWindow();
  EXPECT_TRUE(Console.cells == withFirst) << VirtualScreenDump();
  EXPECT_EQ(ConsoleCursorRow(), firstRow);
  EXPECT_EQ(ConsoleCursorColumn(), firstColumn);
  EXPECT_EQ(Windows.WindowDepth, 1);
  EXPECT_EQ(Windows.WindowTop, 5);
  EXPECT_EQ(Windows.WindowLeft, 10);
  EXPECT_EQ(Windows.WindowBottom, 15);
  EXPECT_EQ(Windows.WindowRight, 50);
  EXPECT_TRUE(FileExists(SaveFile()));

  CloseWindow();
  EXPECT_TRUE(Console.cells == original) << VirtualScreenDump();
  EXPECT_EQ(ConsoleCursorRow(), 10);
  EXPECT_EQ(ConsoleCursorColumn(), 20);
  EXPECT_EQ(Windows.WindowDepth, 0);
  EXPECT_EQ(Windows.WindowTop, 0);
  EXPECT_EQ(Windows.WindowRight, 0);
  // The colour is left at the last restored cell's.
  EXPECT_EQ(ConsoleAttribute(), ConsoleGetCell(15, 50).attr);
  EXPECT_FALSE(FileExists(SaveFile())) << "WinPush.tmp must go with the last window";
}

TEST_F(WindowsTest, SaveFileHoldsTheFrameByteForByte) {
  ConsolePutCell(2, 5, ConsoleCell{'a', 0x1E});
  ConsolePutCell(2, 6, ConsoleCell{'b', 0x07});
  ConsolePutCell(3, 5, ConsoleCell{0xC9, 0x70});
  ConsolePutCell(3, 6, ConsoleCell{' ', 0x00});
  ConsoleSetCursor(3, 4);
  OpenWindow(2, 5, 3, 6);

  std::string frame = std::string("0304") + "00000000" + "02050306" + "a\x1E" + "b\x07" + "\xC9\x70" +
                      std::string(" \0", 2) + "00033";
  EXPECT_EQ(SaveBytes(), Pointer(5 + 33) + frame);

  ConsoleSetCursor(1, 1);
  OpenWindow(1, 1, 1, 1);
  std::string bytes = SaveBytes();
  ASSERT_EQ(bytes.size(), 4u + 33u + 27u);
  EXPECT_EQ(bytes.substr(0, 4), Pointer(5 + 33 + 27));
  EXPECT_EQ(bytes.substr(37, 20), "01010205030601010101");
  EXPECT_EQ(bytes.substr(59), "00027");

  CloseWindow();
  // Closing moves the pointer back; the frame stays in the file.
  bytes = SaveBytes();
  EXPECT_EQ(bytes.substr(0, 4), Pointer(38));
  EXPECT_EQ(bytes.size(), 4u + 33u + 27u);
  CloseWindow();
  EXPECT_FALSE(FileExists(SaveFile()));
}

TEST_F(WindowsTest, RectangleOutsideTheConsoleOpensNothing) {
  OpenWindow(0, 1, 5, 5);
  OpenWindow(1, 1, 26, 5);
  OpenWindow(1, 0, 5, 5);
  OpenWindow(1, 1, 5, 81);
  OpenWindow(5, 1, 4, 5);  // upside down
  EXPECT_EQ(Windows.WindowDepth, 0);
  EXPECT_FALSE(FileExists(SaveFile()));
  CloseWindow();  // unpaired: nothing happens
  EXPECT_EQ(Windows.WindowDepth, 0);
}

TEST_F(WindowsTest, LeftoverSaveFileOfACrashedRunIsStartedAfresh) {
  WriteSaveBytes(Pointer(5000) + std::string(300, '7'));
  std::vector<ConsoleCell> original = FillPattern();
  OpenWindow(3, 3, 6, 9);
  EXPECT_EQ(SaveBytes().substr(0, 4), Pointer(5 + 20 + 2 * 28 + 5));
  DrawFrame(1);
  CloseWindow();
  EXPECT_TRUE(Console.cells == original) << VirtualScreenDump();
  EXPECT_FALSE(FileExists(SaveFile()));
}

TEST_F(WindowsTest, DamagedSaveFileNeverCrashesAndTheWindowStillClosesCleanly) {
  struct Damage {
    const char* name;
    std::string bytes;
  };
  const std::vector<Damage> damages = {
      {"empty file", ""},
      {"shorter than the pointer", "\x05\x00"},
      {"pointer far past the end", Pointer(0x7FFFFFFF) + "0101"},
      {"negative pointer", Pointer(0xFFFFFFF0u)},
      {"pointer before the first frame", Pointer(2) + std::string(40, '0')},
      {"length with a letter", Pointer(5 + 27) + "0101000000000101010" + "1" + "xy" + "0002Z"},
      {"length larger than the file", Pointer(5 + 27) + std::string(22, '0') + "99999"},
      {"rectangle off the console", Pointer(5 + 27) + "010100000000999999990000027"},
      {"cell count that does not add up", Pointer(5 + 29) + "01010000000001010101" + "ab\x07\x07" + "00029"},
  };
  for (const Damage& damage : damages) {
    SCOPED_TRACE(damage.name);
    ResetWindows();
    std::vector<ConsoleCell> original = FillPattern();
    ConsoleSetCursor(4, 4);
    OpenWindow(1, 1, 1, 1);
    SetColourScheme("u");
    DrawFrame(0);
    WriteSaveBytes(damage.bytes);
    CloseWindow();
    EXPECT_EQ(Windows.WindowDepth, 0);
    EXPECT_EQ(Windows.WindowTop, 0);
    EXPECT_EQ(ConsoleCursorRow(), 4);
    EXPECT_EQ(ConsoleCursorColumn(), 4);
    // The cells come back from the window's own copy, not from the garbage.
    EXPECT_TRUE(Console.cells == original) << VirtualScreenDump();
    EXPECT_FALSE(FileExists(SaveFile()));
  }
}

// Another program of the station overwrote the save file with well-formed
// frames of other windows: what comes back is what the windows covered.
TEST_F(WindowsTest, AReplacedSaveFileIsNeverPutOnTheScreen) {
  const std::vector<std::pair<const char*, std::string>> replacements = {
      {"a frame of another window", Pointer(5 + 27) + "01010000000005050505" + "Z\x07" + "00027"},
      {"a frame with another enclosing window", Pointer(5 + 27) + "01010202030310101010" + "Z\x07" + "00027"},
  };
  for (const auto& [name, bytes] : replacements) {
    SCOPED_TRACE(name);
    ResetWindows();
    std::vector<ConsoleCell> original = FillPattern();
    OpenWindow(2, 2, 3, 3);
    DrawFrame(1);
    std::vector<ConsoleCell> withOuter = Console.cells;
    OpenWindow(10, 10, 10, 10);
    DrawFrame(2);
    WriteSaveBytes(bytes);
    CloseWindow();
    EXPECT_TRUE(Console.cells == withOuter) << VirtualScreenDump();
    EXPECT_EQ(Windows.WindowDepth, 1);
    EXPECT_EQ(Windows.WindowTop, 2);
    EXPECT_EQ(Windows.WindowRight, 3);
    CloseWindow();
    EXPECT_TRUE(Console.cells == original) << VirtualScreenDump();
    EXPECT_EQ(Windows.WindowDepth, 0);
    EXPECT_EQ(Windows.WindowTop, 0);
  }
}

// A full disk or a file-size limit: no frame gets into the save file, and
// every window still gives back exactly what it covered.  (SIGXFSZ is
// ignored, as the program does, so the writes fail with a status.)
TEST_F(WindowsTest, ASaveFileThatCannotBeWrittenStillRestoresEveryWindow) {
  struct sigaction ignore {
  }, before{};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGXFSZ, &ignore, &before);
  rlimit limit{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &limit), 0);
  rlimit tiny = limit;
  tiny.rlim_cur = 0;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tiny), 0);

  std::vector<ConsoleCell> original = FillPattern();
  ConsoleSetCursor(10, 20);
  OpenWindow(5, 10, 15, 50);
  DrawFrame(2);
  std::vector<ConsoleCell> withFirst = Console.cells;
  OpenWindow(8, 30, 20, 70);
  DrawFrame(1);
  OpenWindow(12, 1, 13, 80);
  DrawFrame(1);
  const long long saved = FileLength(SaveFile());
  CloseWindow();
  CloseWindow();
  EXPECT_TRUE(Console.cells == withFirst) << VirtualScreenDump();
  CloseWindow();

  setrlimit(RLIMIT_FSIZE, &limit);
  sigaction(SIGXFSZ, &before, nullptr);
  EXPECT_LE(saved, 0) << "the limit did not keep the frames out of the file";
  EXPECT_TRUE(Console.cells == original) << VirtualScreenDump();
  EXPECT_EQ(ConsoleCursorRow(), 10);
  EXPECT_EQ(ConsoleCursorColumn(), 20);
  EXPECT_EQ(Windows.WindowDepth, 0);
  EXPECT_FALSE(FileExists(SaveFile()));
}

// The text inside the message box on the screen, its lines joined by one
// blank (code page 850).
std::vector<std::string> shownWhileWaiting;
std::string NoteScreen() {
  std::string text;
  for (int r = 1; r <= ConsoleRows(); ++r) {
    std::string row = VirtualRowText(r);
    size_t left = row.find('\xB3'), right = row.rfind('\xB3');
    if (left == std::string::npos || right <= left) continue;
    std::string inside = row.substr(left + 1, right - left - 1);
    size_t first = inside.find_first_not_of(' '), last = inside.find_last_not_of(' ');
    if (first != std::string::npos)
      text += (text.empty() ? "" : " ") + inside.substr(first, last - first + 1);
  }
  shownWhileWaiting.push_back(text);
  return "";
}

// A symbolic link where the save file belongs is never followed: the file
// it points to stays as it was, the operator is told once (the message
// names the file), and the windows work from memory.
TEST_F(WindowsTest, ASymbolicLinkInPlaceOfTheSaveFileIsRefusedAndToldOnce) {
  const std::string victim = dir + "/someone_elses_file";
  ASSERT_TRUE(WriteWholeFile(victim, "precious"));
  std::filesystem::create_symlink(victim, SaveFile());
  shownWhileWaiting.clear();
  Keyboard.calculator = NoteScreen;  // Alt+X answers the message and shows what was on screen
  VirtualPushKey(0x2D00);
  std::vector<ConsoleCell> original = FillPattern();
  OpenWindow(5, 5, 8, 30);
  DrawFrame(1);
  OpenWindow(6, 6, 7, 20);  // the same refusal, not told again
  DrawFrame(2);
  CloseWindow();
  CloseWindow();
  EXPECT_EQ(Console.starved, 0) << "told more than once";
  ASSERT_EQ(shownWhileWaiting.size(), 1u);
  EXPECT_EQ(shownWhileWaiting[0],
            "NO ES POT ACCEDIR AL FITXER " + SaveFile() + ": \x90S UN ENLLA\x80 SIMB\xE3LIC: NO S'HI ESCRIU");
  EXPECT_TRUE(Console.cells == original) << VirtualScreenDump();
  std::string contents;
  ASSERT_TRUE(ReadWholeFile(victim, contents));
  EXPECT_EQ(contents, "precious");
}

TEST_F(WindowsTest, DamagedPointerWhileWindowsAreOpenStartsTheFileAgain) {
  FillPattern();
  OpenWindow(2, 2, 3, 3);
  WriteSaveBytes(Pointer(0xFFFFFFF0u) + "garbage");
  std::vector<ConsoleCell> beforeInner = Console.cells;
  OpenWindow(10, 10, 12, 14);
  EXPECT_EQ(SaveBytes().substr(0, 4), Pointer(5 + 20 + 2 * 15 + 5));
  DrawFrame(2);
  CloseWindow();
  EXPECT_TRUE(Console.cells == beforeInner) << VirtualScreenDump();
  CloseWindow();
  EXPECT_EQ(Windows.WindowDepth, 0);
}

TEST_F(WindowsTest, LostSaveFileStillLetsEveryWindowClose) {
  OpenWindow(2, 2, 10, 40);
  OpenWindow(4, 4, 8, 20);
  DeleteFile(SaveFile());
  OpenWindow(5, 5, 6, 6);
  EXPECT_EQ(Windows.WindowDepth, 3);
  CloseWindow();
  EXPECT_EQ(Windows.WindowTop, 4);
  CloseWindow();
  EXPECT_EQ(Windows.WindowTop, 2);
  CloseWindow();
  EXPECT_EQ(Windows.WindowDepth, 0);
  EXPECT_FALSE(FileExists(SaveFile()));
}

TEST_F(WindowsTest, DrawFrameStyles) {
  OpenWindow(2, 3, 4, 7);
  DrawFrame(1);
  EXPECT_EQ(VirtualRowText(2, 3, 5), "\xDA\xC4\xC4\xC4\xBF");
  EXPECT_EQ(VirtualRowText(3, 3, 5), "\xB3   \xB3");
  EXPECT_EQ(VirtualRowText(4, 3, 5), "\xC0\xC4\xC4\xC4\xD9");
  DrawFrame(2);
  EXPECT_EQ(VirtualRowText(2, 3, 5), "\xC9\xCD\xCD\xCD\xBB");
  EXPECT_EQ(VirtualRowText(3, 3, 5), "\xBA   \xBA");
  EXPECT_EQ(VirtualRowText(4, 3, 5), "\xC8\xCD\xCD\xCD\xBC");
  SetColourScheme("u");
  DrawFrame(0);
  for (int r = 2; r <= 4; ++r) EXPECT_EQ(VirtualRowText(r, 3, 5), "     ");
  EXPECT_EQ(ConsoleGetCell(3, 5).attr, SchemeAttribute(4));
  EXPECT_EQ(ConsoleGetCell(3, 8).ch, ' ');  // outside the window untouched
  CloseWindow();
  DrawFrame(1);  // no window: nothing drawn
  EXPECT_EQ(VirtualRowText(2, 3, 1), " ");
}

TEST_F(WindowsTest, WinLocateIsRelativeToTheInnermostWindow) {
  WinLocate(7, 3);
  EXPECT_EQ(ConsoleCursorRow(), 3);
  EXPECT_EQ(ConsoleCursorColumn(), 7);
  EXPECT_EQ(InnerTop(), 1);
  EXPECT_EQ(InnerLeft(), 1);
  EXPECT_EQ(InnerRight(), 80);

  OpenWindow(5, 10, 20, 60);
  WinLocate(1, 1);
  EXPECT_EQ(ConsoleCursorRow(), 6);
  EXPECT_EQ(ConsoleCursorColumn(), 11);
  EXPECT_EQ(InnerTop(), 6);
  EXPECT_EQ(InnerLeft(), 11);
  EXPECT_EQ(InnerRight(), 59);
  // Off the console: that coordinate stays.
  WinLocate(100, 2);
  EXPECT_EQ(ConsoleCursorRow(), 7);
  EXPECT_EQ(ConsoleCursorColumn(), 11);
  WinLocate(3, 30);
  EXPECT_EQ(ConsoleCursorRow(), 7);
  EXPECT_EQ(ConsoleCursorColumn(), 13);
  CloseWindow();
  EXPECT_EQ(ScreenColumns(), 80);
  EXPECT_EQ(ScreenRows(), 25);
}

TEST_F(WindowsTest, ScrollBoxCountsFromTheInnerEdge) {
  for (int r = 1; r <= 6; ++r) ConsolePutCell(r, 3, ConsoleCell{static_cast<unsigned char>('0' + r), 7});
  SetColourScheme("rh");
  ScrollBox(1, 2, 4, 2, 1);  // console rows 2..5, column 3
  EXPECT_EQ(VirtualRowText(1, 3, 1), "1");
  EXPECT_EQ(VirtualRowText(2, 3, 1), "3");
  EXPECT_EQ(VirtualRowText(4, 3, 1), "5");
  EXPECT_EQ(ConsoleGetCell(5, 3), (ConsoleCell{' ', SchemeAttribute(2)}));
  EXPECT_EQ(VirtualRowText(6, 3, 1), "6");
  ScrollBox(1, 2, 4, 2, 0);  // zero scrolls down by one
  EXPECT_EQ(VirtualRowText(2, 3, 1), " ");
  EXPECT_EQ(VirtualRowText(3, 3, 1), "3");
}

TEST_F(WindowsTest, ColourSchemesByLettersWithTheirStack) {
  struct Case {
    const char* code;
    int scheme;
  };
  for (const Case& c : {Case{"h", 0}, Case{"n", 1}, Case{"rh", 2}, Case{"RN", 3}, Case{"u", 4}, Case{"nu", 4},
                        Case{"xyz", 0}}) {
    SetColourScheme(c.code);
    EXPECT_EQ(Windows.currentScheme, c.scheme) << c.code;
    EXPECT_EQ(ConsoleAttribute(), (c.scheme + 6) * 16 + c.scheme + 1) << c.code;
  }
  SetColourScheme("rh");
  SetColourScheme("+n");
  EXPECT_EQ(Windows.currentScheme, 1);
  SetColourScheme("+u");
  SetColourScheme("-");
  EXPECT_EQ(Windows.currentScheme, 1);
  SetColourScheme("-");
  EXPECT_EQ(Windows.currentScheme, 2);
  EXPECT_EQ(ConsoleAttribute(), SchemeAttribute(2));
  SetColourScheme("   ");  // blank: nothing changes
  EXPECT_EQ(Windows.currentScheme, 2);
  SetColourScheme("-");  // empty stack: scheme 0
  EXPECT_EQ(Windows.currentScheme, 0);
  EXPECT_EQ(ConsoleAttribute(), 6 * 16 + 1);
}

TEST_F(WindowsTest, ValueStackPopsInReverseOrder) {
  PushValue(std::string("\x05\x00", 2));
  PushValue("");
  PushValue("abc");
  EXPECT_EQ(Windows.valueStack, std::string("\x05\x00\x02\x00\x00\x00"
                                            "abc\x03\x00",
                                            11));
  EXPECT_EQ(PopValue(), "abc");
  EXPECT_EQ(PopValue(), "");
  EXPECT_EQ(PopValue(), std::string("\x05\x00", 2));
  EXPECT_EQ(PopValue(), "");                          // unpaired pop
  Windows.valueStack = std::string("xy\x09\x00", 4);  // length beyond the stack
  EXPECT_EQ(PopValue(), "xy");
  EXPECT_EQ(Windows.valueStack, "");
}

}  // namespace
