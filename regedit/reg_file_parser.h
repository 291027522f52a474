// The parser of registry-editor files: turns the text of a REGEDIT4 or a
// version 5 file into a sequence of entries (a key to create or remove, a
// value to write or remove), one at a time, with the line each began on.
// It reads only; applying the entries is reg_apply's job.
#pragma once

#include <string>

#include "platform/platform.h"
#include "platform/posix/key_path.h"
#include "regedit/reg_text.h"

namespace orvik::regedit {

enum class RegFileFormat { kRegedit4, kVersion5 };

struct RegEntry {
  enum class Kind { kKey, kRemoveKey, kValue, kRemoveValue };

  Kind kind = Kind::kKey;
  int line = 0;  // where the entry begins

  // kKey and kRemoveKey: the root and the path below it ("" for the root).
  // Value entries belong to the key of the last kKey entry.
  HKEY root = nullptr;
  std::string path;

  // kValue and kRemoveValue: the name in ANSI bytes ("" for the unnamed value).
  std::string name;
  // kValue: the type code and the data. String data of a version 5 file's hex
  // forms is UTF-16LE, to be stored exactly (`exact`); every other data is
  // given as the ANSI calls take it.
  DWORD type = REG_NONE;
  std::string data;
  bool exact = false;

  bool operator==(const RegEntry&) const = default;
};

class RegFileParser {
 public:
  enum class Result { kEntry, kEnd, kError };

  // No line may be longer, and no value's data larger, than `max_value`
  // bytes: by default the largest value the registry holds.
  explicit RegFileParser(ByteSource& source, size_t max_value = posix::kMaxValueDataSize);

  // Reads the header on the first call, then one entry per call.
  Result Next(RegEntry* entry);

  RegFileFormat format() const { return format_; }
  // After kError: the line of the problem and what it is.
  int error_line() const { return error_line_; }
  const std::string& error() const { return error_; }

 private:
  Result ReadHeader();
  Result ParseSection(const std::string& line, RegEntry* entry);
  Result ParseValue(RegEntry* entry);
  Result ParseData(RegEntry* entry);
  Result ParseHexList(RegEntry* entry);
  // Reads a quoted text starting after its opening quote at pos_, following
  // it onto the next lines when it holds line breaks.
  Result ParseQuoted(std::string* text);
  bool NextLine();
  // The error for a line the text reader refused.
  Result FailText();
  Result Fail(const std::string& message);
  Result Fail(int line, const std::string& message);

  TextLines lines_;
  size_t max_value_;
  RegFileFormat format_ = RegFileFormat::kRegedit4;
  bool header_read_ = false;
  bool failed_ = false;
  bool in_key_ = false;  // a kKey section is open, so values may follow
  std::string line_;     // the current physical line
  size_t pos_ = 0;       // the parse position in it
  int error_line_ = 0;
  std::string error_;
};

// The full name of a root key the files use, or nullptr for any other text.
// Case does not matter.
HKEY RootKeyOfFullName(std::string_view name);

}  // namespace orvik::regedit
