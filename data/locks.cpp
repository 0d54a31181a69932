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
//
// Besides the 30 minutes, a record is abandoned when it is dated more than
// a day ahead of the scanner's clock, or when its station no longer runs:
// every running station holds its liveness file "<station id>.sta" in the
// lock folder open exclusively, and the operating system lets go of it
// when the process ends (a kill, a crash, a closed terminal).  A file that
// is there and held by nobody says the station is gone; a record without
// such a file (another program of the suite) keeps the 30-minute rule.  The
// lock files themselves stay exactly as the suite's other programs read
// them.
#include "data/locks.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <map>
#include <utility>

#include "data/data.h"
#include "input/dates.h"
#include "input/keys.h"
#include "input/packed.h"
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

// The end of the program on a lock folder or file that cannot be used for
// another reason than another station holding it: said at once, with the
// file and the system's reason.
[[noreturn]] void EndOnLockFile(const std::string& path, int error, bool folder = false) {
  RemoveLockMessage();
  EndOnDataError(FileProblemText(path, error, folder));
}

// Opens `path` exclusively, waiting without limit while another holder has
// it (with the lock message from the first attempt that finds it held);
// the folder is made, one level, when `makeFolder` and it is missing.
void OpenShared(const std::string& path, const std::string& folder, bool makeFolder, ExclusiveFile& file) {
  bool folderJustMade = false;
  bool waited = false;
  for (;;) {
    ExclusiveOpenResult result = OpenExclusive(path, file);
    if (result == EXCL_OK) {
      if (waited) DropKeysTypedWhileWaiting();
      return;
    }
    if (result == EXCL_BUSY) {
      waited = true;
      ShowLockMessage();
      PauseMs(static_cast<int>(std::floor(kLockFileBusyMaxMs * RandomUnit() + 1)));
      continue;
    }
    if (result == EXCL_NO_DIRECTORY && makeFolder && !folderJustMade) {
      // Made here or by another station a moment ago: try again at once.
      folderJustMade = true;
      if (MakeDirectory(folder)) continue;
      int error = errno;
      if (DirectoryExists(folder)) continue;
      EndOnLockFile(folder, error, true);
    }
    EndOnLockFile(path, file.error);
  }
}

// Writes a record; a write that does not go through (a full disk, a size
// limit) ends the program with the file named.
void WriteRecord(ExclusiveFile& file, long long at, const std::string& record, const std::string& path) {
  errno = 0;
  if (WriteAt(file, at, record.data(), kLockRecordSize) == kLockRecordSize) return;
  int error = errno != 0 ? errno : ENOSPC;
  file.Close();
  EndOnLockFile(path, error);
}

// Whether the station of a record no longer runs: its liveness file is
// there and nobody holds it.  Asked once per station and scan.
bool StationGone(const LockView& view, std::map<std::string, bool>& known) {
  auto found = known.find(view.station);
  if (found != known.end()) return found->second;
  long long id = 0;
  bool gone = false;
  if (ParseNumber(view.station, id) && id >= INT32_MIN && id <= INT32_MAX)
    gone = ProbeExclusive(LockDirectory() + "\\" + StationFileName(static_cast<int32_t>(id))) == HOLDER_NONE;
  known[view.station] = gone;
  return gone;
}

// A held record nobody can be waiting for: older than 30 minutes, dated
// more than a day ahead, or of a station that no longer runs.
bool Abandoned(const LockView& view, int32_t now, std::map<std::string, bool>& gone) {
  if (view.time < static_cast<long long>(now) - kLockStaleMinutes) return true;
  if (view.time > static_cast<long long>(now) + kLockFutureMinutes) return true;
  return !IsThisStation(view) && StationGone(view, gone);
}

// Frees every record of this station in a lock file.  A missing file is
// left missing; one that cannot be opened or written (another user's,
// another program's that this station never used) is left as it is: this
// runs at the start and at the end of the run, where nothing is to be
// stopped for it.  Another station holding the file is waited for.
void FreeOwnRecords(const std::string& fileName) {
  const std::string path = LockDirectory() + "\\" + fileName;
  if (!FileExists(path)) return;
  ExclusiveFile file;
  for (bool waited = false;; waited = true) {
    ExclusiveOpenResult result = OpenExclusive(path, file);
    if (result == EXCL_OK) {
      if (waited) DropKeysTypedWhileWaiting();
      break;
    }
    if (result != EXCL_BUSY) return;
    ShowLockMessage();
    PauseMs(static_cast<int>(std::floor(kLockFileBusyMaxMs * RandomUnit() + 1)));
  }
  std::string record(kLockRecordSize, ' ');
  for (long long at = 0;; at += kLockRecordSize) {
    if (ReadAt(file, at, record.data(), kLockRecordSize) < kLockRecordSize) break;
    LockView view = ReadView(record);
    if (!view.holder || !IsThisStation(view)) continue;
    FreeRecord(record);
    if (WriteAt(file, at, record.data(), kLockRecordSize) < kLockRecordSize) break;
  }
  file.Close();
  RemoveLockMessage();
}

// A lock file of the folder, whatever the letter case of its ".lck".
bool IsLockFileName(const std::string& name) {
  if (name.size() <= 4) return false;
  std::string extension = name.substr(name.size() - 4);
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return extension == ".lck";
}

void NoteUsedFile(const std::string& fileName) {
  for (const std::string& used : Locks.usedFiles)
    if (used == fileName) return;
  Locks.usedFiles.push_back(fileName);
}

// Makes the station's liveness visible: its file in the lock folder, held
// for the whole run.  Held already by another live run of this station,
// this run draws an id of its own (not kept in LOCKS.TMP).
void HoldLiveness() {
  const std::string directory = LockDirectory();
  if (!DirectoryExists(directory) && !MakeDirectory(directory)) {
    int error = errno;
    if (!DirectoryExists(directory)) EndOnLockFile(directory, error, true);
  }
  for (int attempt = 0;; ++attempt) {
    const std::string path = directory + "\\" + StationFileName(Locks.stationId);
    ExclusiveFile file;
    ExclusiveOpenResult result = OpenExclusive(path, file);
    if (result == EXCL_OK) {
      // Removed by the run that ended just now: held, but no longer at
      // its path.  Taken again.
      if (!ExclusiveFileIsAt(file, path) && attempt < 100) continue;
      Locks.alive = std::move(file);
      Locks.alivePath = path;
      return;
    }
    if (result == EXCL_BUSY) {
      int32_t id = 0;
      while (id == 0 || id == Locks.stationId) id = static_cast<int32_t>(SecureRandom32());
      Locks.stationId = id;
      continue;
    }
    EndOnLockFile(path, file.error);
  }
}

}  // namespace

std::string LockFileName(const std::string& name) { return TrimBlanks(name) + ".lck"; }

std::string LockDirectory() { return Session.root + "LOCKS"; }

std::string StationFileName(int32_t station_id) { return std::to_string(station_id) + ".sta"; }

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
  OpenShared(Session.tempDir + "LOCKS.TMP", folder, false, file);
  unsigned char stored[kStationFileSize];
  std::memset(stored, ' ', sizeof stored);
  long got = ReadAt(file, 0, stored, kStationFileSize);
  int32_t id = got >= 4 ? static_cast<int32_t>(GetLe32(stored)) : 0;
  if (id != 0) {
    // The stored name stays the station's name even if the computer's changes.
    Locks.computerName = FitToWidth(
        std::string(reinterpret_cast<char*>(stored + 4), static_cast<size_t>(std::max(0L, got - 4))),
        kLockComputerWidth);
    // It goes into every lock record and the settlement journal, and from
    // there to the screens and the tools' listings: control characters
    // there are not a name but a damaged file.
    for (unsigned char c : Locks.computerName)
      if (c < 0x20 || c == 0x7F) {
        file.Close();
        EndOnDataError(StationIdentityProblemText(HostPath(Session.tempDir + "LOCKS.TMP")));
      }
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
  RegisterDataEnd();
  HoldLiveness();
  // What an earlier run of this station left (it was killed, or lost its
  // terminal) is nobody's lock any more.
  for (const std::string& name : DirectoryEntries(LockDirectory()))
    if (IsLockFileName(name)) FreeOwnRecords(name);
}

void EndStationRun() {
  if (Locks.stationId == 0 || Locks.ending) return;
  Locks.ending = true;
  for (const std::string& name : Locks.usedFiles) FreeOwnRecords(name);
  Locks.usedFiles.clear();
  if (Locks.alive) {
    if (ExclusiveFileIsAt(Locks.alive, Locks.alivePath)) DeleteFile(Locks.alivePath);
    Locks.alive.Close();
  }
  Locks.ending = false;
}

void OpenLockFile(const std::string& file_name, const std::string& directory, ExclusiveFile& file) {
  OpenShared(directory + "\\" + file_name, directory, true, file);
}

int16_t TakeLock(const std::string& name, const std::string& from_key, const std::string& to_key) {
  StationIdentity();
  const std::string directory = LockDirectory();
  const std::string fileName = LockFileName(name);
  const std::string path = directory + "\\" + fileName;
  NoteUsedFile(fileName);
  int conflicts = 0;
  for (;;) {
    ExclusiveFile file;
    OpenShared(path, directory, true, file);
    int32_t now = MinutesNow();
    std::map<std::string, bool> gone;  // by station id, for this scan
    long long length = ExclusiveFileLength(file);
    // A short last record (a write cut off) is no lock: a new record
    // replaces it, keeping the file a whole number of records.
    long long writeAt = std::max(0LL, length) / kLockRecordSize * kLockRecordSize;
    bool conflict = false;
    std::string record(kLockRecordSize, ' ');
    for (long long at = 0;; at += kLockRecordSize) {
      if (ReadAt(file, at, record.data(), kLockRecordSize) < kLockRecordSize) break;
      LockView view = ReadView(record);
      if (view.holder && view.timeKnown && Abandoned(view, now, gone)) {
        FreeRecord(record);  // abandoned: freed at once, for everyone
        WriteRecord(file, at, record, path);
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
      WriteRecord(file, writeAt, NewLockRecord(from_key, to_key, now), path);
      file.Close();
      RemoveLockMessage();
      // What was typed while another station held the lock is not carried
      // out now.
      if (conflicts > 0) DropKeysTypedWhileWaiting();
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
    // A packed digit pair becomes its two digits.
    text += IsPackedPair(static_cast<unsigned char>(c)) ? UnpackDigits(std::string(1, c)) : std::string(1, c);
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
