// windows.h - the window stack over the console, frames, window-relative
// cursor placement, colour schemes, the paragraph formatter, message
// windows, the beep and the value stack.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// What closing a window needs besides its saved cells: the cursor and the
// enclosing window's rectangle when it was opened.  The save file holds the
// same numbers; this in-memory copy lets a window close cleanly (rectangle
// and cursor restored) even when the save file was lost or damaged.
struct OpenedWindow {
  int cursorRow = 1, cursorColumn = 1;
  int16_t top = 0, left = 0, bottom = 0, right = 0;  // enclosing window
};

struct WindowState {
  int16_t WindowDepth = 0;
  int16_t WindowTop = 0, WindowLeft = 0, WindowBottom = 0, WindowRight = 0;
  int currentScheme = 0;
  std::string schemeStack;           // one byte per saved scheme number
  std::string valueStack;            // items, each followed by its 16-bit length
  std::vector<OpenedWindow> opened;  // one per open window, innermost last
};
extern WindowState Windows;

bool OpenWindow(int top, int left, int bottom, int right);
void CloseWindow();
void DrawFrame(int style);
void WinLocate(int column, int row);
int ScreenColumns();
int ScreenRows();
int InnerTop();
int InnerLeft();
int InnerRight();
void ScrollBox(int top, int left, int bottom, int right, int lines);
void SetColourScheme(const std::string& code);
std::string FormatParagraph(const std::string& text, int indent, int width, const std::string& align);
bool ShowMessage(int centreRow, const std::string& text);
// A message the operator has to read: ShowMessage, a beep, the type-ahead
// dropped so that no key typed before it answers it, one key, and the window
// gone again.
void ShowMessageAndWait(int centreRow, const std::string& text);
void PushValue(const std::string& text);
std::string PopValue();
// The console attribute of colour scheme 0..4 (background * 16 + foreground).
unsigned char SchemeAttribute(int scheme);
// Forgets every window, the colour scheme stack and the value stack, and
// removes a save file left over in the temporary directory (tests, restart).
void ResetWindows();
// The save file of the window stack: Session.tempDir + "WinPush.tmp".
std::string WindowSaveFile();
// Writes a text at the cursor in the current colours (the cursor moves on).
void WriteText(const std::string& text);
