// windows.h - the window stack over the console, frames, window-relative
// cursor placement, colour schemes, the paragraph formatter, message
// windows, the beep and the value stack.
#pragma once
#include <cstdint>
#include <string>

struct WindowState {
  int16_t WindowDepth = 0;
  int16_t WindowTop = 0, WindowLeft = 0, WindowBottom = 0, WindowRight = 0;
  int currentScheme = 0;
  std::string schemeStack;  // one byte per saved scheme number
  std::string valueStack;   // items, each followed by its 16-bit length
};
extern WindowState Windows;

void OpenWindow(int top, int left, int bottom, int right);
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
void ShowMessage(int centreRow, const std::string& text);
void PushValue(const std::string& text);
std::string PopValue();
// Writes a text at the cursor in the current colours (the cursor moves on).
void WriteText(const std::string& text);
