// locks.cpp - key locks in lock files shared by the suite's workstations.
//
// The lock file is a plain sequence of 121-byte records with no header, so
// that every program of the suite can read and write it.  All of a scan (the
// freeing of stale records, the conflict test, the writing of the new
// record) happens while the file is held under an exclusive open; the file
// is closed before any pause, and no other lock is held while waiting.
//
// Damaged records (non-numeric fields, impossible lengths, a short last
// record left by a crash) are read without harm.  They are reused as free
// space only where that cannot take another station's lock away: a record
// with no holder is free; a holder's record whose time is readable ages out
// after 30 minutes like any other; a key range with unreadable lengths
// counts as covering every key, so it blocks rather than lets an overlapping
// lock through; a holder's record without a readable time is not a lock and
// is left alone.
#include "data/locks.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "data/data.h"
#include "input/dates.h"
#include "platform/le.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "session/session.h"

LockState Locks;

namespace {

constexpr int kLockFileBusyMaxMs = 3000;  // another station holds the file: 1..3000 ms
constexpr int kLockConflictMaxMs = 1000;  // another station holds the key: 1..1001 ms
constexpr int kStationFileSize = 19;      // station id (4) + computer name (15)

bool IsBlank(const std::string& text) { return text.find_first_not_of(' ') == std::string::npos; }

// A decimal number written as text, blanks around it allowed.
bool ParseNumber(const std::string& field, long long& value) {
  std::string text = TrimBlanks(field);
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && text[i] == '-') {
    negative = true;
    ++i;
  }
  if (i == text.size() || text.size() - i > 18) return false;
  long long v = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    v = v * 10 + (text[i] - '0');
  }
  value = negative ? -v : v;
  return true;
}

// One lock record as read from the file.
struct LockView {
  std::string computer;  // 15 bytes as stored
  std::string station;   // station id text, trimmed
  bool holder = false;   // the station id field is not blank
  bool timeKnown = false;
  long long time = 0;
  char kind = ' ';
  int fromLength = 0, toLength = 0;
  std::string fromKey, toKey;  // 40 bytes each as stored
};

int KeyLengthField(const std::string& record, int at) {
  long long length = 0;
  // An unreadable or impossible length counts as 0: compared over no bytes,
  // the range overlaps every key, which errs on the side of waiting.
  if (!ParseNumber(record.substr(static_cast<size_t>(at), 2), length) || length < 0 || length > kLockKeyWidth)
    return 0;
  return static_cast<int>(length);
}

LockView ReadView(const std::string& record) {
  LockView view;
  view.computer = record.substr(kLockComputerAt, kLockComputerWidth);
  std::string station = record.substr(kLockStationAt, kLockStationWidth);
  view.holder = !IsBlank(station);
  view.station = TrimBlanks(station);
  view.timeKnown = ParseNumber(record.substr(kLockTimeAt, kLockTimeWidth), view.time);
  view.kind = record[kLockKindAt];
  view.fromLength = KeyLengthField(record, kLockFromLengthAt);
  view.toLength = KeyLengthField(record, kLockToLengthAt);
  view.fromKey = record.substr(kLockFromAt, kLockKeyWidth);
  view.toKey = record.substr(kLockToAt, kLockKeyWidth);
  return view;
}

bool IsThisStation(const LockView& view) {
  return view.computer == Locks.computerName && view.station == std::to_string(Locks.stationId);
}

// Frees a record: blanks in computer name, station id and kind; the other
// fields keep their old contents.
void FreeRecord(std::string& record) {
  std::fill_n(record.begin() + kLockComputerAt, kLockComputerWidth + kLockStationWidth, ' ');
  record[kLockKindAt] = ' ';
}

std::string NewLockRecord(const std::string& from_key, const std::string& to_key, int32_t now) {
  std::string from = from_key.substr(0, kLockKeyWidth);
  std::string to = to_key.substr(0, kLockKeyWidth);
  std::string record = FitToWidth(Locks.computerName, kLockComputerWidth) +
                       FitToWidth(std::to_string(Locks.stationId), kLockStationWidth) +
                       FitToWidth(std::to_string(now), kLockTimeWidth) + "K" +
                       FitToWidth(std::to_string(from.size()), 2) + FitToWidth(from, kLockKeyWidth) +
                       FitToWidth(std::to_string(to.size()), 2) + FitToWidth(to, kLockKeyWidth) + "\r\n";
  return record;
}

// The ranges are apart when the requested from-key lies above the record's
// to-key or the requested to-key below the record's from-key, each compared
// over the record's key length cut to the requested key's length.
bool RangesApart(const LockView& view, const std::string& from_key, const std::string& to_key) {
  size_t a = std::min(static_cast<size_t>(view.fromLength), from_key.size());
  size_t b = std::min(static_cast<size_t>(view.toLength), to_key.size());
  return from_key.substr(0, a) > view.toKey.substr(0, a) || to_key.substr(0, b) < view.fromKey.substr(0, b);
}

void ShowLockMessage() {
  if (Locks.messageOpen) return;
  Locks.messageOpen = ShowDataMessage(24, LockWaitText());
}

void RemoveLockMessage() {
  if (!Locks.messageOpen) return;
  CloseDataMessage();
  Locks.messageOpen = false;
}

// A folder that does not serve (cannot be created, refuses the file, a
// write that does not go through): the lock message from the first failure,
// a pause, and after kLockFolderAttempts failures the end of the program
// with a message naming the folder.
void NoteFolderFailure(int& failures, const std::string& folder) {
  ++failures;
  if (failures >= kLockFolderAttempts) {
    RemoveLockMessage();
    EndOnDataError(FolderFailureText() + folder);
  }
  ShowLockMessage();
  PauseMs(kLockFolderRetryMs);
}

// Opens `path` exclusively, waiting without limit while another holder has
// it and for a bounded time while the folder fails.
void OpenShared(const std::string& path, const std::string& folder, bool makeFolder, ExclusiveFile& file,
                int& failures) {
  bool folderJustMade = false;
  for (;;) {
    ExclusiveOpenResult result = OpenExclusive(path, file);
    if (result == EXCL_OK) return;
    if (result == EXCL_BUSY) {
      PauseMs(static_cast<int>(std::floor(kLockFileBusyMaxMs * RandomUnit() + 1)));
      continue;
    }
    if (result == EXCL_NO_DIRECTORY && makeFolder && !folderJustMade) {
      // Made here or by another station a moment ago: try again at once.
      folderJustMade = true;
      if (MakeDirectory(folder) || DirectoryExists(folder)) continue;
    }
    folderJustMade = false;
    NoteFolderFailure(failures, folder);
  }
}

}  // namespace

std::string LockFileName(const std::string& name) { return TrimBlanks(name) + ".lck"; }

std::string LockDirectory() { return Session.root + "LOCKS"; }

int32_t MinutesNow() {
  LocalTime now = Now();
  long long days = DayNumber(now.year, now.month, now.day);
  long long seconds =
      std::llround(now.hour * 3600.0 + now.minute * 60.0 + now.second + now.hundredths / 100.0);
  return static_cast<int32_t>(days * 1440 + seconds / 60);
}

void StationIdentity() {
  if (Locks.stationId != 0) return;
  std::string folder = Session.tempDir.empty() ? CurrentDirectory() : Session.tempDir;
  ExclusiveFile file;
  int failures = 0;
  OpenShared(Session.tempDir + "LOCKS.TMP", folder, false, file, failures);
  unsigned char stored[kStationFileSize];
  std::memset(stored, ' ', sizeof stored);
  long got = ReadAt(file, 0, stored, kStationFileSize);
  int32_t id = got >= 4 ? static_cast<int32_t>(GetLe32(stored)) : 0;
  if (id != 0) {
    // The stored name stays the station's name even if the computer's changes.
    Locks.computerName = FitToWidth(
        std::string(reinterpret_cast<char*>(stored + 4), static_cast<size_t>(std::max(0L, got - 4))),
        kLockComputerWidth);
  } else {
    // Drawn from the kernel's source: two stations started in the same
    // instant must not share an id.
    while (id == 0) id = static_cast<int32_t>(SecureRandom32());
    Locks.computerName = FitToWidth(ComputerName(), kLockComputerWidth);
    unsigned char fresh[kStationFileSize];
    PutLe32(fresh, static_cast<uint32_t>(id));
    std::memcpy(fresh + 4, Locks.computerName.data(), kLockComputerWidth);
    // Not kept (a full disk): the id still serves this run, and the next
    // run draws another.
    (void)WriteAt(file, 0, fresh, kStationFileSize);
  }
  Locks.stationId = id;
  file.Close();
  RemoveLockMessage();
}

void OpenLockFile(const std::string& file_name, const std::string& directory, ExclusiveFile& file) {
  int failures = 0;
  OpenShared(directory + "\\" + file_name, directory, true, file, failures);
}

int16_t TakeLock(const std::string& name, const std::string& from_key, const std::string& to_key) {
  StationIdentity();
  const std::string directory = LockDirectory();
  const std::string fileName = LockFileName(name);
  int conflicts = 0;
  int failures = 0;
  for (;;) {
    ExclusiveFile file;
    OpenShared(directory + "\\" + fileName, directory, true, file, failures);
    int32_t now = MinutesNow();
    long long length = ExclusiveFileLength(file);
    // A short last record (a write cut off) is no lock: a new record
    // replaces it, keeping the file a whole number of records.
    long long writeAt = std::max(0LL, length) / kLockRecordSize * kLockRecordSize;
    bool conflict = false;
    std::string record(kLockRecordSize, ' ');
    for (long long at = 0;; at += kLockRecordSize) {
      if (ReadAt(file, at, record.data(), kLockRecordSize) < kLockRecordSize) break;
      LockView view = ReadView(record);
      if (view.holder && view.timeKnown && view.time < static_cast<long long>(now) - kLockStaleMinutes) {
        FreeRecord(record);  // abandoned: freed at once, for everyone
        (void)WriteAt(file, at, record.data(), kLockRecordSize);
        view = ReadView(record);
      }
      if (!view.holder) {
        writeAt = at;
        continue;
      }
      if (!view.timeKnown) continue;  // not a lock anybody can hold or age
      bool mine = IsThisStation(view);
      if (view.kind == 'F') {
        conflict = !mine;
        break;
      }
      if (view.kind == 'K') {
        if (RangesApart(view, from_key, to_key)) continue;
        if (mine) {
          writeAt = at;  // this station's own overlapping lock is rewritten
          break;
        }
        conflict = true;
        break;
      }
    }
    if (!conflict) {
      std::string fresh = NewLockRecord(from_key, to_key, now);
      if (WriteAt(file, writeAt, fresh.data(), kLockRecordSize) < kLockRecordSize) {
        file.Close();
        NoteFolderFailure(failures, directory);
        continue;
      }
      file.Close();
      RemoveLockMessage();
      return 0;
    }
    file.Close();
    conflicts = std::min(conflicts + 1, 2);
    if (conflicts == 1) ShowLockMessage();
    PauseMs(static_cast<int>(std::lround(kLockConflictMaxMs * RandomUnit() + 1)));
  }
}

int16_t LockKey(const std::string& name, std::string key_value) {
  std::string text;
  for (char c : key_value) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (byte >= 128 && byte <= 227) {  // a packed digit pair becomes its two digits
      text += static_cast<char>('0' + (byte - 128) / 10);
      text += static_cast<char>('0' + (byte - 128) % 10);
    } else {
      text += c;
    }
  }
  return TakeLock(name, text, text);
}

int16_t ReleaseLock(const std::string& name) {
  StationIdentity();
  const std::string directory = LockDirectory();
  const std::string fileName = LockFileName(name);
  // No file: nothing held there, and no file is made for it.
  if (!FileExists(directory + "\\" + fileName)) return -1;
  ExclusiveFile file;
  OpenLockFile(fileName, directory, file);
  long long best = -1;
  long long bestTime = 0;
  std::string record(kLockRecordSize, ' ');
  for (long long at = 0;; at += kLockRecordSize) {
    if (ReadAt(file, at, record.data(), kLockRecordSize) < kLockRecordSize) break;
    LockView view = ReadView(record);
    if (!view.holder || !view.timeKnown || !IsThisStation(view)) continue;
    if (best < 0 || view.time >= bestTime) {  // on equal times the later record
      best = at;
      bestTime = view.time;
    }
  }
  int16_t result = -1;
  if (best >= 0 && ReadAt(file, best, record.data(), kLockRecordSize) == kLockRecordSize) {
    FreeRecord(record);
    if (WriteAt(file, best, record.data(), kLockRecordSize) == kLockRecordSize) result = 0;
  }
  file.Close();
  RemoveLockMessage();
  return result;
}
