// text_fields.h - the reader of the suite's comma-separated text files: the
// module's form file (FORMS\*.JPN) and its language file (LOCALE\*.LNG).
//
// The data is a stream of fields separated by commas or line ends:
//   - leading spaces of a field are skipped;
//   - a field that begins with a double quote runs to the next double quote
//     and may hold commas; what follows the closing quote up to the comma or
//     line end that ends the field is skipped;
//   - any other field runs to the next comma or line end; tabs inside it are
//     dropped, everything else (trailing spaces too) stays;
//   - a number is such a field read as a decimal number and brought to the
//     nearest 16-bit integer (halves to the even neighbour; values beyond the
//     16-bit range stop at its limits);
//   - a Ctrl-Z (code 26) ends the data.
// A line ends with CR LF as the suite writes its files; a lone LF (a file
// edited on Linux) or a lone CR ends a line as well.
//
// The file is read into memory whole and parsed from the buffer.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

struct TextFieldReader {
  std::string data;         // the file's bytes up to the first Ctrl-Z
  size_t pos = 0;           // next byte to read
  int line = 1;             // line number of `pos`, for messages
  bool afterComma = false;  // the last field ended with a comma

  // Starts reading `contents` from its beginning.
  void Start(const std::string& contents);
  // Reads the whole file; false (and no data) when it cannot be read.
  bool Load(const std::string& programPath);

  // True when the position is at the end of the data.
  bool AtEnd() const { return pos >= data.size(); }
  // True when nothing but spaces, tabs and line ends remains.
  bool OnlyBlanksRemain() const;

  // Reads the next field as text.  False when the data had already ended
  // (`text` is then empty); a comma just before the end still announces one
  // more, empty, field.
  bool ReadText(std::string& text);
  // Reads the next field as a number.  False when the data had already
  // ended (`number` is then 0).
  bool ReadNumber(int16_t& number);

  // At the start of a record: skips every line whose first character after
  // leading spaces is an apostrophe, and leaves the position at the start of
  // the first other line, which is then read whole as data.
  void SkipCommentLines();

 private:
  void SkipLineEnd();
};

// The numeric value of a field's text as a 16-bit integer (see above).
int16_t FieldNumber(const std::string& text);
