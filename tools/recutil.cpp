// recutil.cpp - the record file utility: dictionaries, creation, statistics,
// dumps and loads in hexadecimal, and consistency checks.
//
// Everything goes through BTRCALL (and the engine's check.h for "check",
// "repair-marker" and "backup"), so the tool sees the files exactly as the
// program does.  A refusal prints the status and, when the engine told one,
// its diagnostic (the storage's code and message, errno, the folder).  Exit
// codes: 0 success,
// 1 the record manager refused (its status is printed) or a file or the
// input could not be used (malformed dictionary, hex line), 2 wrong use of
// the command line (unknown command or option, missing argument, malformed
// key description).
//
// Its options, --help text and manual page come from tools/recutil.help.  A
// command is a row of kCommands: its operands, the options that apply to it
// (--owner applies to all) and the function that runs it.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/le.h"
#include "recman/check.h"
#include "recman/recman.h"
#include "recutil_help.h"
#include "tools/arguments.h"

namespace {

const ProgramHelp& kHelp = kProgramHelp;

// A file or the input that cannot be used: the message, exit code 1.
int Failed(const std::string& message) {
  std::cerr << "recutil: " << message << "\n";
  return 1;
}

// The command line once read: the command, its operands and the options
// given besides --owner, whose values each command reads as it means them
// (--key is a key description for dict and a key number for dump).
struct Invocation {
  std::string command;
  std::vector<std::string> operands;
  std::string owner;
  std::vector<CommandLineOption> options;

  bool Has(int option) const {
    for (const CommandLineOption& o : options)
      if (o.option == option) return true;
    return false;
  }
  std::vector<std::string> Values(int option) const {
    std::vector<std::string> values;
    for (const CommandLineOption& o : options)
      if (o.option == option) values.push_back(o.value);
    return values;
  }
  // The last value given (an option given twice keeps the last), or "".
  std::string Value(int option) const {
    std::vector<std::string> values = Values(option);
    return values.empty() ? std::string() : values.back();
  }
};

std::string StatusText(int st) {
  switch (st) {
    case 1: return "invalid operation";
    case 2: return "I/O error";
    case 3: return "file not open";
    case 4: return "key value not found";
    case 5: return "duplicate key value";
    case 6: return "invalid key number";
    case 7: return "different key number";
    case 8: return "invalid positioning";
    case 9: return "end of file";
    case 10: return "key may not be modified";
    case 11: return "invalid file name";
    case 12: return "file not found";
    case 18: return "file full";
    case 22: return "data buffer too short";
    case 24: return "invalid page size";
    case 25: return "create I/O error";
    case 26: return "invalid number of keys";
    case 27: return "invalid key position";
    case 28: return "invalid record length";
    case 29: return "invalid key length";
    case 30: return "not a record file";
    case 37: return "transaction already active";
    case 41: return "operation not allowed";
    case 45: return "inconsistent key flags";
    case 46: return "access denied";
    case 48: return "invalid alternate collating sequence";
    case 49: return "unsupported key type";
    case 50: return "owner name already set";
    case 51: return "wrong owner name";
    case 59: return "file already exists";
    case 80: return "record changed by another";
    case 84: return "record locked";
    case 85: return "file locked";
    default: return "status " + std::to_string(st);
  }
}

// What the record manager told of the last failed call, when it told
// anything: the storage's code and message, errno, the folder.
void PrintDiagnostic() {
  RecmanDiagnostic d;
  if (RecmanLastDiagnostic(d)) std::cerr << "recutil:   " << RecmanDiagnosticText(d) << "\n";
}

int Refused(const std::string& what, int st) {
  std::cerr << "recutil: " << what << ": status " << st << " (" << StatusText(st) << ")\n";
  PrintDiagnostic();
  return 1;
}

uint16_t Le16(const std::string& b, size_t at) { return GetLe16(b.data() + at); }
void PutLe16(std::string& b, size_t at, unsigned v) { ::PutLe16(b.data() + at, static_cast<uint16_t>(v)); }

std::vector<std::string> Split(const std::string& s, char sep) {
  std::vector<std::string> parts;
  std::string cur;
  for (char c : s) {
    if (c == sep) {
      parts.push_back(cur);
      cur.clear();
    } else {
      cur.push_back(c);
    }
  }
  parts.push_back(cur);
  return parts;
}

// One key description into its 16-byte segment specifications.
bool ParseKey(const std::string& text, uint16_t recordLength, std::string& specs, bool& usesAcs,
              std::string& error) {
  std::vector<std::string> segments = Split(text, '+');
  uint16_t keyFlags = 0;
  int nullKind = 0;
  long nullValue = 0;
  struct Seg {
    long pos, len;
    uint16_t flags;
    uint8_t type;
  };
  std::vector<Seg> segs;
  for (const std::string& segText : segments) {
    std::vector<std::string> f = Split(segText, ':');
    if (f.size() < 2 || f.size() > 3) {
      error = "key segment '" + segText + "' is not POSITION:LENGTH[:ATTRIBUTES]";
      return false;
    }
    Seg s{0, 0, 0, KT_STRING};
    if (!ParseNumber(f[0], 1, 65535, s.pos)) {
      error = "key position '" + f[0] + "' must be a number from 1 (the first byte)";
      return false;
    }
    if (!ParseNumber(f[1], 1, 255, s.len)) {
      error = "key length '" + f[1] + "' must be a number from 1 to 255";
      return false;
    }
    if (s.pos - 1 + s.len > recordLength) {
      error = "key segment '" + segText + "' runs past the record length " + std::to_string(recordLength);
      return false;
    }
    if (f.size() == 3) {
      for (const std::string& a : Split(f[2], ',')) {
        if (a == "dup") keyFlags |= KF_DUPLICATES;
        else if (a == "mod") keyFlags |= KF_MODIFIABLE;
        else if (a == "desc") s.flags |= KF_DESCENDING;
        else if (a == "acs") {
          s.flags |= KF_ALT_COLLATING;
          usesAcs = true;
        } else if (a == "nocase") s.flags |= KF_NO_CASE;
        else if (a == "bin") s.flags |= KF_BINARY;
        else if (a == "string") s.type = KT_STRING;
        else if (a == "zstring") {
          s.type = KT_ZSTRING;
          s.flags |= KF_EXTENDED_TYPE;
        } else if (a == "int") {
          s.type = KT_INTEGER;
          s.flags |= KF_EXTENDED_TYPE;
        } else if (a == "uint") {
          s.type = KT_UNSIGNED;
          s.flags |= KF_EXTENDED_TYPE;
        } else if (a.rfind("null=", 0) == 0 || a.rfind("nullany=", 0) == 0) {
          bool any = a[4] != '=';
          if (!ParseNumber(a.substr(any ? 8 : 5), 0, 255, nullValue, 16)) {
            error = "null value in '" + a + "' must be a hexadecimal byte";
            return false;
          }
          nullKind = any ? 2 : 1;
        } else {
          error = "unknown key attribute '" + a + "'";
          return false;
        }
      }
    }
    if ((s.type == KT_INTEGER || s.type == KT_UNSIGNED) && s.len > 8) {
      error = "integer key segment '" + segText + "' is longer than 8 bytes";
      return false;
    }
    segs.push_back(s);
  }
  if (nullKind == 1) keyFlags |= KF_NULL;
  if (nullKind == 2) keyFlags |= KF_MANUAL;
  for (size_t i = 0; i < segs.size(); ++i) {
    std::string k(16, '\0');
    uint16_t flags =
        static_cast<uint16_t>(segs[i].flags | keyFlags | (i + 1 < segs.size() ? KF_SEGMENTED : 0));
    PutLe16(k, 0, static_cast<unsigned>(segs[i].pos));
    PutLe16(k, 2, static_cast<unsigned>(segs[i].len));
    PutLe16(k, 4, flags);
    k[10] = static_cast<char>(segs[i].type);
    k[11] = static_cast<char>(nullValue);
    specs += k;
  }
  return true;
}

bool ReadFile(const std::string& path, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  out = s.str();
  return true;
}

int MakeDictionary(const Invocation& call) {
  const std::string& out = call.operands[0];
  long record = -1, page = 4096;
  const bool variable = call.Has(kOptionVariable);
  const std::vector<std::string> keys = call.Values(kOptionKey);
  const std::string acs = call.Value(kOptionAcs);
  if (call.Has(kOptionRecord) && !ParseNumber(call.Value(kOptionRecord), 1, 65535, record))
    WrongUse(kHelp, "--record needs a length from 1 to 65535");
  if (call.Has(kOptionPage) && (!ParseNumber(call.Value(kOptionPage), 512, 16384, page) || page % 512 != 0))
    WrongUse(kHelp, "--page needs a multiple of 512 from 512 to 16384");
  if (call.Has(kOptionAcs) && acs.empty()) WrongUse(kHelp, "--acs needs 'upper' or a table file");
  if (record < 0) WrongUse(kHelp, "dict needs --record");
  std::string buffer(16, '\0');
  PutLe16(buffer, 0, static_cast<unsigned>(record));
  PutLe16(buffer, 2, static_cast<unsigned>(page));
  if (keys.size() > 119) WrongUse(kHelp, "at most 119 keys");
  buffer[4] = static_cast<char>(keys.size());
  PutLe16(buffer, 10, variable ? kFileVariableLength : 0);
  bool usesAcs = false;
  for (const std::string& k : keys) {
    std::string error;
    if (!ParseKey(k, static_cast<uint16_t>(record), buffer, usesAcs, error)) WrongUse(kHelp, error);
  }
  if (usesAcs && acs.empty()) WrongUse(kHelp, "a key uses 'acs' but no --acs table was given");
  if (!acs.empty()) {
    std::string table;
    if (acs == "upper") {
      table.push_back(static_cast<char>(kAcsSignature));
      table += "UPPER   ";
      for (int c = 0; c < 256; ++c) table.push_back(static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c));
    } else {
      std::string raw;
      if (!ReadFile(acs, raw)) return Failed("cannot read the collating table " + acs);
      if (raw.size() == 256) {
        table.push_back(static_cast<char>(kAcsSignature));
        std::string name = acs.substr(acs.find_last_of('/') + 1).substr(0, 8);
        name.resize(8, ' ');
        table += name + raw;
      } else if (raw.size() == kAcsSize && static_cast<uint8_t>(raw[0]) == kAcsSignature) {
        table = raw;
      } else {
        return Failed("collating table " + acs + " must hold 256 bytes, or 265 starting with 0xAC");
      }
    }
    if (usesAcs) buffer += table;
  }
  std::string bytes(2, '\0');
  PutLe16(bytes, 0, static_cast<unsigned>(buffer.size()));
  bytes += buffer;
  std::ofstream f(out, std::ios::binary | std::ios::trunc);
  if (!f || !f.write(bytes.data(), static_cast<std::streamsize>(bytes.size())))
    return Failed("cannot write " + out);
  return 0;
}

// The create buffer of a dictionary file, or an error message.
bool LoadDictionary(const std::string& path, std::string& spec, std::string& error) {
  std::string raw;
  if (!ReadFile(path, raw)) {
    error = "cannot read the dictionary " + path;
    return false;
  }
  if (raw.size() < 2) {
    error = "malformed dictionary " + path + ": shorter than its 2-byte length";
    return false;
  }
  size_t n = Le16(raw, 0);
  if (n + 2 > raw.size() || n < 16) {
    error = "malformed dictionary " + path + ": announces " + std::to_string(n) + " bytes and holds " +
            std::to_string(raw.size() - 2);
    return false;
  }
  spec = raw.substr(2, n);
  return true;
}

std::string TypeName(uint16_t flags, uint8_t ext) {
  if (flags & KF_EXTENDED_TYPE) {
    switch (ext) {
      case KT_STRING: return "string";
      case KT_INTEGER: return "signed integer";
      case KT_ZSTRING: return "zero-terminated string";
      case KT_UNSIGNED: return "unsigned integer";
      default: return "type " + std::to_string(ext);
    }
  }
  return (flags & KF_BINARY) ? "unsigned binary" : "string";
}

// Prints a file specification in the create / Stat layout.
void Describe(const std::string& b, bool withCount) {
  if (b.size() < 16) {
    std::cout << "specification too short\n";
    return;
  }
  unsigned keys = Le16(b, 4);
  std::cout << "record length: " << Le16(b, 0) << ((Le16(b, 10) & kFileVariableLength) ? " (variable)" : "")
            << "\npage size: " << Le16(b, 2) << "\n";
  if (withCount) {
    uint32_t n = GetLe32(b.data() + 6);
    std::cout << "records: " << n << "\n";
  }
  std::cout << "keys: " << keys << "\n";
  size_t at = 16;
  bool acs = false;
  for (unsigned k = 0; k < keys && at + 16 <= b.size(); ++k) {
    std::ostringstream segs;
    unsigned length = 0, count = 0;
    uint16_t flags = 0, first = 0;
    do {
      flags = Le16(b, at + 4);
      if (count == 0) first = flags;
      ++count;
      length += Le16(b, at + 2);
      segs << "  segment " << count << ": position " << Le16(b, at) << ", length " << Le16(b, at + 2) << ", "
           << TypeName(flags, static_cast<uint8_t>(b[at + 10]))
           << ((flags & KF_DESCENDING) ? ", descending" : "")
           << ((flags & KF_ALT_COLLATING) ? ", collating sequence" : "")
           << ((flags & KF_NO_CASE) ? ", no case" : "") << "\n";
      if (flags & KF_ALT_COLLATING) acs = true;
      at += 16;
    } while ((flags & KF_SEGMENTED) && at + 16 <= b.size());
    std::cout << "key " << k << ": length " << length << ", "
              << ((first & KF_DUPLICATES) ? "duplicates" : "unique") << ", "
              << ((first & KF_MODIFIABLE) ? "modifiable" : "not modifiable");
    if (first & KF_MANUAL) {
      std::cout << ", null when any segment is all 0x" << std::hex
                << int{static_cast<uint8_t>(b[at - 16 + 11])} << std::dec;
    } else if (first & KF_NULL) {
      std::cout << ", null when all 0x" << std::hex << int{static_cast<uint8_t>(b[at - 16 + 11])} << std::dec;
    }
    std::cout << "\n" << segs.str();
  }
  if (acs && at + kAcsSize <= b.size()) std::cout << "collating sequence: " << b.substr(at + 1, 8) << "\n";
}

struct OpenFile {
  uint8_t block[kPositionBlockSize] = {};
  bool open = false;
  ~OpenFile() {
    if (open) {
      uint32_t len = 0;
      BTRCALL(B_CLOSE, block, nullptr, &len, nullptr, 0, 0);
    }
  }
};

int OpenData(OpenFile& f, const std::string& path, const std::string& owner, int8_t mode = B_MODE_NORMAL) {
  std::string name = owner;
  name.push_back('\0');
  uint32_t len = static_cast<uint32_t>(name.size());
  std::string key = path;
  if (key.size() > 255) return Refused("open " + path, B_INVALID_FILE_NAME);
  int st = BTRCALL(B_OPEN, f.block, name.data(), &len, key.data(), static_cast<uint8_t>(key.size()), mode);
  if (st != B_OK) return Refused("open " + path, st);
  f.open = true;
  return 0;
}

std::string StatBuffer(OpenFile& f, int& st) {
  std::string data(65535, '\0');
  uint32_t len = static_cast<uint32_t>(data.size());
  char key[256];
  st = BTRCALL(B_STAT, f.block, data.data(), &len, key, 255, 0);
  data.resize(st == B_OK ? len : 0);
  return data;
}

int Dump(const std::string& path, const std::string& owner, int key) {
  OpenFile f;
  if (int r = OpenData(f, path, owner, B_MODE_READ_ONLY)) return r;
  int st;
  std::string stat = StatBuffer(f, st);
  if (st != B_OK) return Refused("stat", st);
  int keys = Le16(stat, 4);
  if (keys == 0) key = -1;
  if (key >= keys) return Refused("dump", B_INVALID_KEY_NUMBER);
  std::string data(65535, '\0');
  char kb[256];
  static const char digits[] = "0123456789abcdef";
  uint16_t op = key < 0 ? B_STEP_FIRST : B_GET_FIRST;
  for (;;) {
    uint32_t len = static_cast<uint32_t>(data.size());
    st = BTRCALL(op, f.block, data.data(), &len, kb, 255, static_cast<int8_t>(key < 0 ? 0 : key));
    if (st == B_END_OF_FILE) break;
    if (st != B_OK) return Refused("read", st);
    std::string line;
    line.reserve(len * 2 + 1);
    for (uint32_t i = 0; i < len; ++i) {
      uint8_t c = static_cast<uint8_t>(data[i]);
      line.push_back(digits[c >> 4]);
      line.push_back(digits[c & 15]);
    }
    line.push_back('\n');
    std::fwrite(line.data(), 1, line.size(), stdout);
    op = key < 0 ? B_STEP_NEXT : B_GET_NEXT;
  }
  return 0;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

int Load(const std::string& path, const std::string& owner) {
  OpenFile f;
  if (int r = OpenData(f, path, owner)) return r;
  int st;
  std::string stat = StatBuffer(f, st);
  if (st != B_OK) return Refused("stat", st);
  unsigned recordLength = Le16(stat, 0);
  bool variable = Le16(stat, 10) & kFileVariableLength;
  int8_t key = Le16(stat, 4) > 0 ? 0 : -1;
  uint8_t scratch[kPositionBlockSize] = {};
  uint32_t zero = 0;
  st = BTRCALL(B_BEGIN_TRANS, scratch, nullptr, &zero, nullptr, 0, 0);
  if (st != B_OK) return Refused("begin transaction", st);
  auto abort = [&] { BTRCALL(B_ABORT_TRANS, scratch, nullptr, &zero, nullptr, 0, 0); };
  std::string line;
  long number = 0, loaded = 0;
  while (std::getline(std::cin, line)) {
    ++number;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
      line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    if (line.size() % 2 != 0) {
      abort();
      std::cerr << "recutil: line " << number << ": odd number of hexadecimal digits; nothing loaded\n";
      return 1;
    }
    std::string rec(line.size() / 2, '\0');
    for (size_t i = 0; i < rec.size(); ++i) {
      int hi = HexValue(line[2 * i]), lo = HexValue(line[2 * i + 1]);
      if (hi < 0 || lo < 0) {
        abort();
        std::cerr << "recutil: line " << number << ": not hexadecimal at column "
                  << (2 * i + (hi < 0 ? 1 : 2)) << "; nothing loaded\n";
        return 1;
      }
      rec[i] = static_cast<char>(hi * 16 + lo);
    }
    if (variable ? rec.size() < recordLength : rec.size() != recordLength) {
      abort();
      std::cerr << "recutil: line " << number << ": record of " << rec.size()
                << " bytes, the file's records are " << recordLength << (variable ? " or more" : "")
                << "; nothing loaded\n";
      return 1;
    }
    uint32_t len = static_cast<uint32_t>(rec.size());
    char kb[256];
    st = BTRCALL(B_INSERT, f.block, rec.data(), &len, kb, 255, key);
    if (st != B_OK) {
      abort();
      std::cerr << "recutil: line " << number << ": insert refused, status " << st << " (" << StatusText(st)
                << "); nothing loaded\n";
      return 1;
    }
    ++loaded;
  }
  st = BTRCALL(B_END_TRANS, scratch, nullptr, &zero, nullptr, 0, 0);
  if (st != B_OK) return Refused("end transaction", st);
  std::cerr << "recutil: " << loaded << " records loaded\n";
  return 0;
}

int ShowDictionary(const Invocation& call) {
  std::string spec, error;
  if (!LoadDictionary(call.operands[0], spec, error)) return Failed(error);
  Describe(spec, false);
  return 0;
}

int Create(const Invocation& call) {
  const std::string& file = call.operands[0];
  std::string spec, error;
  if (!LoadDictionary(call.operands[1], spec, error)) return Failed(error);
  uint8_t block[kPositionBlockSize] = {};
  uint32_t len = static_cast<uint32_t>(spec.size());
  std::string key = file;
  if (key.size() > 255) return Refused("create " + key, B_INVALID_FILE_NAME);
  int st = BTRCALL(B_CREATE, block, spec.data(), &len, key.data(), static_cast<uint8_t>(key.size()),
                   call.Has(kOptionReplace) ? 0 : kCreateNoReplace);
  if (st != B_OK) return Refused("create " + key, st);
  return 0;
}

int Stat(const Invocation& call) {
  const std::string& file = call.operands[0];
  OpenFile f;
  if (int r = OpenData(f, file, call.owner, B_MODE_READ_ONLY)) return r;
  int st;
  std::string b = StatBuffer(f, st);
  if (st != B_OK) return Refused("stat", st);
  RecmanFileFacts facts;
  std::string report;
  st = RecmanDescribeFile(file, facts, report);
  if (st != B_OK) {
    std::cerr << report;
    return Refused("stat " + file, st);
  }
  std::cout << "file: " << file << "\n";
  Describe(b, true);
  std::cout << "owner name: "
            << (!facts.ownerSet       ? "none"
                : facts.ownerReadOnly ? "set (without it the file opens for reading only)"
                                      : "set (needed to open the file)")
            << "\nmarker: " << facts.marker << "\nstorage: " << facts.storage << ", " << facts.where << "\n";
  return 0;
}

int DumpCommand(const Invocation& call) {
  long key = 0;
  if (call.Has(kOptionKey) && !ParseNumber(call.Value(kOptionKey), -1, 118, key))
    WrongUse(kHelp, "dump --key needs a key number from 0 to 118, or -1 for the physical order");
  return Dump(call.operands[0], call.owner, static_cast<int>(key));
}

int LoadCommand(const Invocation& call) { return Load(call.operands[0], call.owner); }

// check, repair-marker, backup and copy: the engine's own functions (check.h),
// each with its report.
// Every file of a data folder, one line each: "PATH: ok", or what is
// wrong (the first line of its report, the status).  1 when any is not sound.
int CheckFolder(const std::string& folder, const std::string& owner) {
  std::vector<std::string> names;
  std::string report;
  int st = RecmanFolderFiles(folder, names, report);
  if (st != B_OK && names.empty()) {
    std::cerr << report;
    return Refused("check " + folder, st);
  }
  std::string base = folder;
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  int faults = st == B_OK ? 0 : 1;
  if (st != B_OK) std::cout << base << ": status " << st << " (" << StatusText(st) << ")\n";
  for (const std::string& name : names) {
    const std::string path = base + "/" + name;
    std::string found;
    int one = RecmanCheckFile(path, owner, found);
    if (one == B_OK) {
      std::cout << path << ": ok\n";
      continue;
    }
    ++faults;
    // The report's first line names the file by its full path: once is enough.
    std::string first = found.substr(0, found.find('\n'));
    const size_t colon = first.find(": ");
    if (colon != std::string::npos && first.compare(0, colon, path) != 0 &&
        first.substr(0, colon).size() >= name.size() + 1 &&
        first.compare(colon - name.size() - 1, name.size() + 1, "/" + name) == 0)
      first = first.substr(colon + 2);
    else if (first.rfind(path + ": ", 0) == 0) first = first.substr(path.size() + 2);
    std::cout << path << ": status " << one << " (" << StatusText(one) << ")" << (first.empty() ? "" : ": ")
              << first << "\n";
  }
  std::cout << names.size() << " files, "
            << (faults == 0 ? "all sound" : std::to_string(faults) + " not sound") << "\n";
  return faults == 0 ? 0 : 1;
}

int Check(const Invocation& call) {
  const std::string& file = call.operands[0];
  std::error_code error;
  if (std::filesystem::is_directory(file, error)) return CheckFolder(file, call.owner);
  std::string report;
  int st = RecmanCheckFile(file, call.owner, report);
  if (st == B_OK) {
    std::cout << report << file << ": ok\n";
    return 0;
  }
  if (!report.empty()) std::cout << report;
  return Refused("check " + file, st);
}

int RepairMarker(const Invocation& call) {
  const std::string& file = call.operands[0];
  std::string report;
  int st = RecmanRepairMarker(file, report);
  std::cout << report;
  return st == B_OK ? 0 : Refused("repair-marker " + file, st);
}

int Backup(const Invocation& call) {
  const std::string& folder = call.operands[0];
  std::string report;
  int st = RecmanBackupFolder(folder, call.operands[1], report);
  // What was copied on the output; why not, on the error output.
  (st == B_OK ? std::cout : std::cerr) << report;
  return st == B_OK ? 0 : Refused("backup " + folder, st);
}

int Copy(const Invocation& call) {
  const std::string& from = call.operands[0];
  std::string report;
  int st = RecmanCopyFolder(from, call.operands[1], report);
  std::cout << report;
  return st == B_OK ? 0 : Refused("copy " + from, st);
}

int SetOwner(const Invocation& call) {
  const std::string& name = call.operands[1];
  if (name.empty() || name.size() > 8) WrongUse(kHelp, "an owner name has 1 to 8 characters");
  OpenFile f;
  if (int r = OpenData(f, call.operands[0], call.owner)) return r;
  std::string data = name + '\0';
  uint32_t len = static_cast<uint32_t>(data.size());
  int st = BTRCALL(B_SET_OWNER, f.block, data.data(), &len, data.data(), static_cast<uint8_t>(name.size()),
                   call.Has(kOptionReadOnlyAccess) ? B_OWNER_READ_ONLY : B_OWNER_ALL_ACCESS);
  return st == B_OK ? 0 : Refused("set-owner", st);
}

int ClearOwner(const Invocation& call) {
  OpenFile f;
  if (int r = OpenData(f, call.operands[0], call.owner)) return r;
  uint32_t len = 0;
  int st = BTRCALL(B_CLEAR_OWNER, f.block, nullptr, &len, nullptr, 0, 0);
  return st == B_OK ? 0 : Refused("clear-owner", st);
}

// The commands, as recutil.help describes them.
struct Command {
  const char* name;
  std::vector<const char*> operands;  // their names, for messages
  std::vector<int> options;           // the options that apply, besides --owner
  int (*run)(const Invocation&);
};

const Command kCommands[] = {
    {"dict",
     {"OUT.xdf"},
     {kOptionRecord, kOptionPage, kOptionVariable, kOptionKey, kOptionAcs},
     MakeDictionary},
    {"show-dict", {"DICT.xdf"}, {}, ShowDictionary},
    {"create", {"FILE", "DICT.xdf"}, {kOptionReplace}, Create},
    {"stat", {"FILE"}, {}, Stat},
    {"dump", {"FILE"}, {kOptionKey}, DumpCommand},
    {"load", {"FILE"}, {}, LoadCommand},
    {"check", {"FILE"}, {}, Check},
    {"repair-marker", {"FILE"}, {}, RepairMarker},
    {"backup", {"FOLDER", "DEST"}, {}, Backup},
    {"copy", {"FROM", "TO"}, {}, Copy},
    {"set-owner", {"FILE", "NAME"}, {kOptionReadOnlyAccess}, SetOwner},
    {"clear-owner", {"FILE"}, {}, ClearOwner},
};

}  // namespace

// "recutil COMMAND --help": the command's own lines of the help (its
// synopsis and what it does), when the command is one of ours.
void CommandHelpAndExit(int argc, char** argv) {
  bool help = false;
  std::string command;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--help" || a == "-h") help = true;
    else if (command.empty() && !a.empty() && a[0] != '-') command = a;
  }
  if (!help || command.empty()) return;
  std::istringstream text(kHelp.helpText);
  std::string out;
  bool inside = false;
  for (std::string line; std::getline(text, line);) {
    // A command's block: its line at two spaces, then lines indented deeper.
    if (line.rfind("  " + command + " ", 0) == 0 || line == "  " + command) inside = true;
    else if (inside && !(line.size() > 3 && line.compare(0, 3, "   ") == 0)) break;
    if (inside) out += line + "\n";
  }
  if (out.empty()) return;
  std::cout << "Usage: recutil [--owner=NAME]" << out.substr(1)
            << "See recutil --help for every command and option.\n";
  std::exit(0);
}

int main(int argc, char** argv) {
  CommandHelpAndExit(argc, argv);
  const CommandLine line = ReadCommandLine(argc, argv, kHelp);
  const Command* command = &ChosenCommand(line, kCommands, kHelp, "no command given");

  Invocation call;
  call.command = command->name;
  call.operands.assign(line.operands.begin() + 1, line.operands.end());
  if (call.operands.size() != command->operands.size()) {
    std::string needs;
    for (const char* operand : command->operands) needs += std::string(" ") + operand;
    WrongUse(kHelp, call.command +
                        (call.operands.size() < command->operands.size() ? " needs" : " takes only") + needs);
  }
  for (const CommandLineOption& option : line.options) {
    if (option.option == kOptionOwner) {
      call.owner = option.value;
      continue;
    }
    bool applies = false;
    for (int o : command->options) applies = applies || o == option.option;
    if (!applies) WrongUse(kHelp, "option '" + option.name + "' does not apply to " + call.command);
    call.options.push_back(option);
  }
  return command->run(call);
}
