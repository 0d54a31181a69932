// windows.h - the screen layer's toolkit over the console: the window stack
// (windows.cpp), what is drawn inside a window (frames.cpp), colour schemes
// (colours.cpp), the paragraph formatter (paragraphs.cpp), message windows
// (messages.cpp) and the value stack (value_stack.cpp).
//
// Positions inside a window are relative to the innermost one: row 0 and
// column 0 are its frame, the inside starts at 1.  Rows and columns of the
// console count from 1.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/console.h"

// What closing a window needs: the cursor and the enclosing window's
// rectangle when it was opened, and the cells it covers.  The save file
// holds the same; this in-memory copy is what closing puts back, so that a
// window always closes cleanly, screen included, even when the save file
// could not be written (a full disk) or was damaged or replaced meanwhile.
struct OpenedWindow {
  int cursorRow = 1, cursorColumn = 1;
  int16_t top = 0, left = 0, bottom = 0, right = 0;  // enclosing window
  int16_t windowTop = 0, windowLeft = 0, windowBottom = 0, windowRight = 0;
  std::string cells;   // character, attribute, ... row by row
  long fileStart = 0;  // 1-based position of its frame in the save file; 0: not written
};

// The window stack, the colour schemes and the value stack of the run.
struct WindowState {
  int16_t WindowDepth = 0;  // windows open now (0 = none)
  // The innermost window, frame included, in console rows and columns; all 0
  // when no window is open.
  int16_t WindowTop = 0, WindowLeft = 0, WindowBottom = 0, WindowRight = 0;
  int currentScheme = 0;             // colour scheme 0..4 in use
  std::string schemeStack;           // one byte per saved scheme number
  std::string valueStack;            // items, each followed by its 16-bit length
  std::vector<OpenedWindow> opened;  // one per open window, innermost last
  // Scratch files of the station this run could not open (a symbolic link,
  // no right to write), each told to the operator once.
  std::vector<std::string> refusedFilesTold;
  // The reason line (messages.cpp): the reason waiting to be read, whether
  // it is on the screen, and the cells of the row it covers.
  std::string reason;
  bool reasonShown = false;
  std::vector<ConsoleCell> underReason;
};
extern WindowState Windows;

// ---- The window stack (windows.cpp) -------------------------------------------
// Saves the cells of the rectangle and makes it the innermost window (draws
// nothing); false, with nothing changed, when it does not lie on the console.
bool OpenWindow(int top, int left, int bottom, int right);
// Puts back the cells, the cursor and the enclosing window of the innermost
// window; nothing when no window is open.
void CloseWindow();
// The console's width in columns.
int ScreenColumns();
// The console's height in rows.
int ScreenRows();
// Forgets every window, the colour scheme stack and the value stack, and
// removes a save file left over in the temporary directory (tests, restart).
void ResetWindows();
// The save file of the window stack: Session.tempDir + "WinPush.tmp".
std::string WindowSaveFile();

// ---- Inside the innermost window (frames.cpp) ------------------------------
// Frames the innermost window in the current colours and clears its inside:
// style 1 single lines, 2 double lines, 0 (or any other) blanks.
void DrawFrame(int style);
// Places the cursor at `column`, `row` of the innermost window (of the
// console when none is open); a coordinate off the console keeps the
// cursor's own.
void WinLocate(int column, int row);
// The first row inside the innermost window's frame (1 without a window).
int InnerTop();
// The first column inside the innermost window's frame (1 without a window).
int InnerLeft();
// The last column inside the innermost window's frame (the console's last
// without a window).
int InnerRight();
// Scrolls the console rows top + 1..bottom + 1, columns left + 1..right + 1
// up by `lines` (> 0) or down by -lines (at least one row), filling with
// blanks in the current colours.
void ScrollBox(int top, int left, int bottom, int right, int lines);
// Writes a text at the cursor in the current colours (the cursor moves on).
void WriteText(const std::string& text);

// ---- Colour schemes (colours.cpp) ----------------------------------------------
// Selects a colour scheme by the letters of `code` (any case): "+" first
// saves the current scheme, "-" goes back to the last saved one (scheme 0
// when none is saved); otherwise "u" is scheme 4 (the field being edited),
// and "r" adds 2 and "n" adds 1 to scheme 0: "h" (or no letter) 0 field
// values, "n" 1 labels and text, "r" or "rh" 2 title line and messages,
// "rn" 3.  Other letters count for nothing; a blank code does nothing.
void SetColourScheme(const std::string& code);
// The console attribute of colour scheme 0..4 (background * 16 + foreground).
unsigned char SchemeAttribute(int scheme);

// ---- Paragraphs (paragraphs.cpp) -----------------------------------------------
// The text cut into lines of `width` characters without splitting words,
// concatenated: the first line indented by `indent` when positive, the later
// ones by -indent when negative; aligned by the first letter of `align`:
// "E", "L", "I" left, "N", "-" left padded with "-", "D", "R" right, "C"
// centred, "A", "B" justified (not the last line), any other not padded.
std::string FormatParagraph(const std::string& text, int indent, int width, const std::string& align);

// ---- Message windows (messages.cpp) --------------------------------------------
// Opens a framed window centred on row `centreRow` and column 41, in colour
// scheme "rh", with the text in lines of up to 76 characters; the caller
// closes it (CloseWindow).  False, with nothing shown, when it does not fit
// the console.
bool ShowMessage(int centreRow, const std::string& text);
// A message the operator has to read: ShowMessage, a beep, the type-ahead
// dropped so that no key typed before it answers it, one key, and the window
// gone again.
void ShowMessageAndWait(int centreRow, const std::string& text);
// A scratch file of the station (the window save file, the browse index,
// the calculator's tape) that could not be opened for writing, `error` its
// reason (ELOOP: a symbolic link, never followed): told on row 24 once per
// file and run.  The program goes on without the file.
void TellRefusedFile(const std::string& path, int error);

// ---- The reason line (messages.cpp) --------------------------------------------
// Why an input was refused, in a word, on row kReasonRow of the console
// beside the beep: it stays until the next key the field editor reads,
// which puts the row back as it was.  A reason given while another is up
// replaces it.
constexpr int kReasonRow = 24;
// Shows the reason now (centred, colour scheme "rh").
void ShowReason(const std::string& text);
// Keeps the reason to be shown when the field editor next waits for a key
// (a notice given before the screen it belongs on is drawn).
void PostReason(const std::string& text);
// Shows a posted reason that is not on the screen yet; the field editor
// calls it before each key it waits for.
void ShowPostedReason();
// Takes the reason off the screen and forgets it (nothing when none).
void ClearReason();

// ---- Pages (pages.cpp) ---------------------------------------------------------
// A text longer than the screen, a page at a time, in a framed window of
// the console rows and columns below (over what is on the screen).
constexpr int kPagesTop = 3, kPagesLeft = 3, kPagesBottom = 22, kPagesRight = 78;
// Shows `lines` (each cut to the window's width): PgDn or Down turns to the
// next page, PgUp or Up to the one before, Home and End to the first and
// the last; Escape closes the window.  Any other key, and turning past the
// first or the last page, beeps.  The bottom edge of the frame shows
// PageFooter.  Nothing when the window does not fit the console.
void ShowPages(const std::vector<std::string>& lines);
// The number of pages `lines` lines take (1 for none).
int PageCount(size_t lines);
// "PÀGINA 1 DE 3 · AVPÀG/REPÀG: PASSA PÀGINA · ESC: TANCA" in the session's
// language (without the page keys for a single page).
std::string PageFooter(int page, int pages);

// ---- The value stack (value_stack.cpp) -----------------------------------------
// Pushes a text (its first 65535 bytes) on the value stack.
void PushValue(const std::string& text);
// Pops the last text pushed; "" when the stack is empty.
std::string PopValue();
