// settings.h - the reader of the suite's settings files ("Vork.ini",
// "Sessio.ini", "VorkTerm.ini"): sections in brackets, key = value entries,
// comments after a semicolon.
#pragma once
#include <string>

// The value of `key` in the first section named `section` of `file` (a full
// path, "\" separators allowed), or "" when the file cannot be read, the
// section is missing or the key does not occur in it.  Section and key are
// matched without regard to letter case (code page 850 letters included) and
// without their surrounding spaces; the value comes back as written, spaces
// included, with one pair of enclosing double quotes removed.  Each call
// reads the file afresh.
std::string GetIni(std::string key, std::string section, std::string file);
// As GetIni, and whether the key is there at all: true when the file has
// the section with the key in it (its value, possibly empty, in `value`),
// false when the file cannot be read or lacks the section or the key
// (`value` empty).
bool GetIniEntry(const std::string& key, const std::string& section, const std::string& file,
                 std::string& value);
