// browse.cpp - the browse list.
//
// The list shows one line per record of a data file in key order and lets
// the operator pick one.  Lines are built on demand: a record is read only
// when the list needs a line that has not been built yet, so a list over a
// file of any size opens after reading one page of records.  Every line
// built is appended to the index file "Browse.tmp" in the temporary
// directory, and scrolling back reads the index file instead of the data
// file.
//
// The index file is a chain of entries in key order; positions are 1-based
// (position 1 = the first byte of the file).  Each entry is
//   4 bytes  position of the previous entry (0 for the first), LE signed
//   4 bytes  the record's physical position in the data file, LE signed
//   2 bytes  length n of the line text, LE signed
//   n bytes  the line text
// The file is emptied when a list opens and deleted when it closes, so a
// nested list (F4 inside a list) reuses the name after the outer list has
// let it go.
//
// While records are being read for new lines, a key waiting on the
// keyboard is taken after every record: Esc stops the scan there (the list
// then ends at the last line built); any other key is kept and handled by
// the list as soon as the page is drawn, so nothing typed ahead is lost.
//
// The bar always stands on the current entry: after any redraw its row is
// the current entry's row in the page, so Enter picks the record the
// operator sees highlighted.
#include "screen/browse.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <vector>

#include "data/data.h"
#include "input/dates.h"
#include "input/keys.h"
#include "platform/le.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "screen/form.h"
#include "screen/form_driver.h"
#include "screen/windows.h"
#include "session/session.h"

namespace {

constexpr long kEntryHeader = 10;
// Box characters of the title line (code page 850).
constexpr char kTitleLeftCorner = '\xC9', kTitleRightCorner = '\xBB', kTitleLine = '\xCD';
constexpr char kMoreLeft = '\x11', kMoreRight = '\x10';
constexpr int kSidewaysStep = 8;

struct IndexEntry {
  int32_t position = 0;  // 1-based position of the entry in the index file
  int32_t previous = 0;
  int32_t physical = 0;
  int32_t next = 0;  // position just after the entry
  std::string text;
};

struct BrowseView {
  int16_t definition = 0;
  int16_t file = 0;
  int16_t keyNumber = 0;
  std::string startKey, endKey;
  std::string title;

  FileHandle index;
  int32_t indexEnd = 0;    // bytes in the index file
  int32_t newest = 0;      // position of the last entry appended
  bool started = false;    // the first keyed read has been made
  bool endOfData = false;  // every record in range has been read

  bool hasCurrent = false;
  IndexEntry current;
  int32_t top = 1;        // entry on the first row
  int32_t afterPage = 0;  // entry after the page, 0 when the list ends on it
  int barRow = 1;
  int offset = 1;           // first shown character of the lines, 1-based
  int overflow = 0;         // longest line seen minus the visible width
  int rows = 0, width = 0;  // visible rows and width

  std::deque<KeyCode> typedDuringScan;
};

// ---- Index file -------------------------------------------------------------------

bool ReadEntry(BrowseView& view, int32_t position, IndexEntry& entry) {
  if (!view.index || position < 1 || position + kEntryHeader - 1 > view.indexEnd) return false;
  unsigned char header[kEntryHeader];
  if (std::fseek(view.index.f, position - 1, SEEK_SET) != 0) return false;
  if (std::fread(header, 1, sizeof header, view.index.f) != sizeof header) return false;
  int32_t length = static_cast<int16_t>(GetLe16(header + 8));
  if (length < 0 || position + kEntryHeader + length - 1 > view.indexEnd) return false;
  entry.position = position;
  entry.previous = static_cast<int32_t>(GetLe32(header));
  entry.physical = static_cast<int32_t>(GetLe32(header + 4));
  entry.text.assign(static_cast<size_t>(length), ' ');
  if (length > 0 && std::fread(entry.text.data(), 1, entry.text.size(), view.index.f) != entry.text.size())
    return false;
  entry.next = position + static_cast<int32_t>(kEntryHeader) + length;
  return true;
}

bool AppendEntry(BrowseView& view, int32_t physical, const std::string& text, IndexEntry& entry) {
  std::string line = text.substr(0, 0x7FFF);
  std::string bytes;
  bytes += Le32Bytes(static_cast<uint32_t>(view.newest));
  bytes += Le32Bytes(static_cast<uint32_t>(physical));
  bytes += Le16Bytes(static_cast<uint16_t>(line.size()));
  bytes += line;
  if (std::fseek(view.index.f, 0, SEEK_END) != 0) return false;
  if (std::fwrite(bytes.data(), 1, bytes.size(), view.index.f) != bytes.size()) return false;
  entry.position = view.indexEnd + 1;
  entry.previous = view.newest;
  entry.physical = physical;
  entry.text = line;
  entry.next = entry.position + static_cast<int32_t>(bytes.size());
  view.newest = entry.position;
  view.indexEnd += static_cast<int32_t>(bytes.size());
  return true;
}

// ---- Records --------------------------------------------------------------------

// The line of the record in the file's record variable, trailing blanks cut.
std::string LineOfRecord(int16_t definition) {
  return FormLookups.recordLine ? TrimTrailingBlanks(FormLookups.recordLine(definition)) : std::string();
}

bool ListsRecords(int16_t definition) {
  return FormLookups.listsRecords != nullptr && FormLookups.listsRecords(definition);
}

// True when the data file's current record lies past the end key.
bool PastEndKey(const BrowseView& view) {
  if (view.endKey.empty()) return false;
  std::string key = CurrentKeyImage(view.file).substr(0, view.endKey.size());
  return key > view.endKey;
}

// Takes a key waiting on the keyboard, if any.  Esc stops the scan; any
// other key is kept for the list.
void TakeWaitingKey(BrowseView& view) {
  KeyCode key = 0;
  int button = 0, column = 0, row = 0;
  ReadKey(key, button, column, row);
  if (key == 0 && button != 0) key = (column * 256 + button * 64 + row) & 0xFFFF;
  if (key == kKeyEsc) view.endOfData = true;
  else if (key != 0) view.typedDuringScan.push_back(key);
}

// Reads records until one gives a line, and appends its entry.
bool ScanNextEntry(BrowseView& view, IndexEntry& entry) {
  int16_t status = 0;
  if (!view.started) {
    view.started = true;
    FindRecord(status, 1, view.startKey, view.keyNumber, view.file);
    if (status != 0 || PastEndKey(view)) view.endOfData = true;
  }
  while (!view.endOfData) {
    std::string line = LineOfRecord(view.definition);
    bool appended = false;
    if (!line.empty()) {
      int32_t physical = RecordPosition(0, view.file);
      if (!AppendEntry(view, physical, line, entry)) {
        view.endOfData = true;  // the index cannot grow: the list ends here
        return false;
      }
      appended = true;
    }
    SkipRecords(status, 1, view.file);
    if (status != 0 || PastEndKey(view)) view.endOfData = true;
    else TakeWaitingKey(view);
    if (appended) return true;
  }
  return false;
}

// The entry at a position of the index file, building it from the data
// file when the position is the end of the index.
bool FetchEntry(BrowseView& view, int32_t position, IndexEntry& entry) {
  if (position >= 1 && position <= view.indexEnd) return ReadEntry(view, position, entry);
  if (position == view.indexEnd + 1 && !view.endOfData) return ScanNextEntry(view, entry);
  return false;
}

bool AtFirstEntry(const BrowseView& view) { return !view.hasCurrent || view.current.previous == 0; }

bool AtLastEntry(const BrowseView& view) {
  return !view.hasCurrent || (view.current.next > view.indexEnd && view.endOfData);
}

// Moves the current entry by n entries (negative = back); returns the
// number of steps made.
int MoveEntries(BrowseView& view, int n) {
  int done = 0;
  while (done < std::abs(n)) {
    IndexEntry entry;
    if (n < 0) {
      if (AtFirstEntry(view) || !FetchEntry(view, view.current.previous, entry)) break;
    } else {
      if (AtLastEntry(view) || !FetchEntry(view, view.current.next, entry)) break;
    }
    view.current = entry;
    ++done;
  }
  return done;
}

// ---- Drawing --------------------------------------------------------------------

std::string VisiblePart(const BrowseView& view, const std::string& text) {
  std::string shown;
  if (static_cast<size_t>(view.offset - 1) < text.size())
    shown = text.substr(static_cast<size_t>(view.offset - 1), static_cast<size_t>(view.width));
  shown.resize(static_cast<size_t>(view.width), ' ');
  return shown;
}

void WriteRow(const BrowseView& view, int row, const std::string& text) {
  WinLocate(1, row);
  WriteText(VisiblePart(view, text));
}

void DrawTitle(const BrowseView& view) {
  SetColourScheme("+n");
  std::string line(1, view.offset == 1 ? kTitleLeftCorner : kMoreLeft);
  for (int i = 0; i < view.width; ++i) {
    size_t p = static_cast<size_t>(view.offset + i);  // 1-based place in the title
    char c = p <= view.title.size() ? view.title[p - 1] : kTitleLine;
    if (c == ' ') c = kTitleLine;
    else if (c == '_') c = ' ';
    line += c;
  }
  bool titleEnded = view.offset + view.width - 1 >= static_cast<int>(view.title.size());
  line += (view.offset > view.overflow && titleEnded) ? kTitleRightCorner : kMoreRight;
  WinLocate(0, 0);
  WriteText(line);
  SetColourScheme("-");
}

// Draws the page that starts at entry `first`; the current entry stays
// current and the bar moves to its row.
void DrawPage(BrowseView& view, int32_t first) {
  std::vector<int32_t> rowEntries;
  int32_t position = first;
  IndexEntry entry;
  while (static_cast<int>(rowEntries.size()) < view.rows && FetchEntry(view, position, entry)) {
    rowEntries.push_back(position);
    WriteRow(view, static_cast<int>(rowEntries.size()), entry.text);
    view.overflow = std::max(view.overflow, static_cast<int>(entry.text.size()) - view.width);
    position = entry.next;
  }
  for (int row = static_cast<int>(rowEntries.size()) + 1; row <= view.rows; ++row) WriteRow(view, row, "");
  if (!rowEntries.empty()) view.top = first;
  view.afterPage = 0;
  if (static_cast<int>(rowEntries.size()) == view.rows && FetchEntry(view, position, entry))
    view.afterPage = position;

  if (!view.hasCurrent && !rowEntries.empty()) view.hasCurrent = FetchEntry(view, first, view.current);
  else if (view.hasCurrent)
    FetchEntry(view, view.current.position, view.current);  // refreshed flags and text
  if (view.hasCurrent) {
    auto at = std::find(rowEntries.begin(), rowEntries.end(), view.current.position);
    if (at != rowEntries.end()) view.barRow = static_cast<int>(at - rowEntries.begin()) + 1;
    else view.barRow = std::clamp(view.barRow, 1, std::max(1, static_cast<int>(rowEntries.size())));
  }
  DrawTitle(view);
}

void DrawBar(const BrowseView& view, const char* scheme) {
  if (!view.hasCurrent) return;
  SetColourScheme(scheme);
  WriteRow(view, view.barRow, view.current.text);
  SetColourScheme("h");
}

KeyCode NextKey(BrowseView& view) {
  if (!view.typedDuringScan.empty()) {
    KeyCode key = view.typedDuringScan.front();
    view.typedDuringScan.pop_front();
    return key;
  }
  KeyCode key = 0;
  WaitKey(key);
  return key;
}

// ---- Keys ---------------------------------------------------------------------------

void LineUp(BrowseView& view) {
  if (AtFirstEntry(view) || MoveEntries(view, -1) == 0) return;
  if (view.barRow > 1) --view.barRow;
  else DrawPage(view, view.current.position);
}

void LineDown(BrowseView& view) {
  if (AtLastEntry(view) || MoveEntries(view, 1) == 0) return;
  if (view.barRow < view.rows) {
    ++view.barRow;
    return;
  }
  IndexEntry top;
  if (FetchEntry(view, view.top, top)) DrawPage(view, top.next);
}

void PageUp(BrowseView& view) {
  IndexEntry entry;
  if (!FetchEntry(view, view.top, entry) || entry.previous == 0) return;
  MoveEntries(view, -view.rows);
  int32_t first = view.top;
  for (int k = view.rows; k >= 1; --k) {
    if (!FetchEntry(view, first, entry) || entry.previous == 0) break;
    first = entry.previous;
  }
  DrawPage(view, first);
}

void PageDown(BrowseView& view) {
  if (view.afterPage == 0) return;
  MoveEntries(view, view.rows);
  DrawPage(view, view.afterPage);
}

void Sideways(BrowseView& view, int step) {
  if (step < 0 && view.offset <= 1) return;
  if (step > 0 && view.offset > view.overflow) return;
  view.offset += step;
  DrawPage(view, view.top);
}

// Runs the open list until a leaving key; returns that key.
KeyCode RunList(BrowseView& view) {
  for (;;) {
    DrawBar(view, "u");
    KeyCode key = NextKey(view);
    DrawBar(view, "h");
    switch (key) {
      case kKeyLeft: Sideways(view, -kSidewaysStep); break;
      case kKeyRight: Sideways(view, kSidewaysStep); break;
      case kKeyUp: LineUp(view); break;
      case kKeyDown: LineDown(view); break;
      case kKeyPgUp: PageUp(view); break;
      case kKeyPgDn: PageDown(view); break;
      case kKeyAltX:
      case kKeyAltC: break;  // the calculator or the calendar has already been and gone
      default: return key;
    }
  }
}

}  // namespace

std::string BrowseIndexFile() { return Session.tempDir + "Browse.tmp"; }

void BrowseList(int16_t definition, int16_t& cancelled) {
  cancelled = -1;
  const BrowseDefinition browse = Browse(definition);  // a copy: nested lists run the form again

  if (browse.BrowseScreen != 0) {
    int16_t screen = browse.BrowseScreen, pgUpLeaves = 0, pgDnLeaves = 0;
    KeyCode key = 0;
    RunFormScreen(screen, pgUpLeaves, pgDnLeaves, key);
    if (key == kKeyEsc) return;
  }

  BrowseView view;
  view.definition = definition;
  view.file = browse.BrowseFile;
  view.keyNumber = browse.BrowseKey;
  view.title = browse.BrowseTitle;
  if (definition == 2) {
    view.startKey = std::string(1, '\x01');
    view.endKey = std::string(1, '\x63');
  }
  const int16_t top = browse.BrowseBox[0], left = browse.BrowseBox[1];
  const int16_t bottom = browse.BrowseBox[2], right = browse.BrowseBox[3];
  view.rows = bottom - top - 1;
  view.width = right - left - 1;
  if (view.rows < 1 || view.width < 1) return;  // no room for a single line

  int16_t status = 0;
  if (view.file > 0) SetLockMode(status, "+d", view.file);
  SetColourScheme("+n");
  bool opened = OpenWindow(top, left, bottom, right);
  KeyCode key = kKeyEsc;
  if (opened) {
    DrawFrame(2);
    SetColourScheme("h");
    KeySet("+ea", "d,1b,4800,5000,4900,5100,4b00,4d00");
    if (browse.BrowseNext != 0) KeySet("a", "3e00");

    if (view.file > 0) {
      view.index = FileHandle(BrowseIndexFile(), "w+b");
      if (!view.index) TellRefusedFile(BrowseIndexFile(), view.index.error);
    }
    // Without records to list (no file, a definition without lines, or no
    // index file to keep them in) the list is empty.
    if (view.file <= 0 || !ListsRecords(definition) || !view.index) view.endOfData = true;
    DrawPage(view, 1);
    key = RunList(view);

    if (key == kKeyEnter && view.hasCurrent && view.current.physical != 0)
      cancelled = static_cast<int16_t>(RecordPosition(view.current.physical, view.file));
    if (view.index) {
      view.index.Close();
      DeleteFile(BrowseIndexFile());
    }
    if (key == kKeyF4 && browse.BrowseNext != 0) BrowseList(browse.BrowseNext, cancelled);
    KeySet("-", "");
    CloseWindow();
  }
  SetColourScheme("-");
  if (view.file > 0) SetLockMode(status, "-", view.file);
}
