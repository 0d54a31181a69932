// pages.cpp - a text longer than a screen, shown a page at a time in a
// framed window over what is on the screen: the operator turns the pages
// with PgDn and PgUp (Home and End for the first and the last) and closes
// the window with Escape.  The bottom edge of the frame says which page is
// shown and how many there are, and the keys.
#include <algorithm>
#include <string>
#include <vector>

#include "input/keys.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "screen/windows.h"
#include "session/language.h"

namespace {

// Text lines on a page and the width of each, from the window's size.
int PageLines() { return kPagesBottom - kPagesTop - 1; }
int LineWidth() { return kPagesRight - kPagesLeft - 3; }

void DrawPage(const std::vector<std::string>& lines, int page, int pages) {
  SetColourScheme("+n");
  DrawFrame(2);
  const int perPage = PageLines(), width = LineWidth();
  for (int i = 0; i < perPage; ++i) {
    size_t at = static_cast<size_t>(page * perPage + i);
    if (at >= lines.size()) break;
    WinLocate(2, i + 1);
    WriteText(FitToWidth(lines[at], width));
  }
  std::string footer = " " + PageFooter(page + 1, pages) + " ";
  const int inside = kPagesRight - kPagesLeft - 1;
  if (static_cast<int>(footer.size()) > inside) footer.resize(static_cast<size_t>(inside));
  WinLocate(1 + (inside - static_cast<int>(footer.size())) / 2, kPagesBottom - kPagesTop);
  WriteText(footer);
  WinLocate(1, kPagesBottom - kPagesTop);  // the cursor out of the way, on the frame
  SetColourScheme("-");
}

}  // namespace

std::string PageFooter(int page, int pages) {
  std::string footer =
      Translate("P\xB7GINA ") + std::to_string(page) + Translate(" DE ") + std::to_string(pages);
  if (pages > 1) footer += " \xFA " + Translate("AVP\xB7G/REP\xB7G: PASSA P\xB7GINA");
  return footer + " \xFA " + Translate("ESC: TANCA");
}

int PageCount(size_t lines) {
  const size_t perPage = static_cast<size_t>(PageLines());
  return std::max(1, static_cast<int>((lines + perPage - 1) / perPage));
}

void ShowPages(const std::vector<std::string>& lines) {
  if (!OpenWindow(kPagesTop, kPagesLeft, kPagesBottom, kPagesRight)) return;
  const int pages = PageCount(lines.size());
  int page = 0;
  for (;;) {
    DrawPage(lines, page, pages);
    KeyCode key = 0;
    WaitKey(key);
    if (key == kKeyEsc) break;
    int turned = page;
    if (key == kKeyPgDn || key == kKeyDown) turned = std::min(page + 1, pages - 1);
    else if (key == kKeyPgUp || key == kKeyUp) turned = std::max(page - 1, 0);
    else if (key == kKeyHome) turned = 0;
    else if (key == kKeyEnd) turned = pages - 1;
    else {
      Beep();  // a key that does nothing here
      continue;
    }
    if (turned == page) Beep();  // no page before the first or after the last
    page = turned;
  }
  CloseWindow();
}
