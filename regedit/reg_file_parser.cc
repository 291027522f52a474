// Parsing registry-editor files entry by entry.
#include "regedit/reg_file_parser.h"

#include <algorithm>
#include <cctype>

namespace orvik::regedit {

namespace {

constexpr std::string_view kHeader4 = "REGEDIT4";
constexpr std::string_view kHeader5 = "Windows Registry Editor Version 5.00";

// A line buffer that grew beyond this for one long line is let go after it.
constexpr size_t kKeptLineCapacity = 1 << 20;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  }
  return true;
}

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsIgnoringCase(text.substr(0, prefix.size()), prefix);
}

std::string_view TrimEnd(std::string_view text) {
  while (!text.empty() && (IsBlank(text.back()) || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

}  // namespace

HKEY RootKeyOfFullName(std::string_view name) {
  const struct {
    std::string_view name;
    HKEY key;
  } roots[] = {
      {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},     {"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
      {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},   {"HKEY_USERS", HKEY_USERS},
      {"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
  };
  for (const auto& root : roots) {
    if (EqualsIgnoringCase(name, root.name)) return root.key;
  }
  return nullptr;
}

RegFileParser::RegFileParser(ByteSource& source, size_t max_value)
    : lines_(source, max_value), max_value_(max_value) {}

RegFileParser::Result RegFileParser::Fail(int line, const std::string& message) {
  failed_ = true;
  error_line_ = line;
  error_ = message;
  return Result::kError;
}

RegFileParser::Result RegFileParser::Fail(const std::string& message) {
  return Fail(lines_.line_number(), message);
}

bool RegFileParser::NextLine() {
  pos_ = 0;
  return lines_.Next(&line_);
}

RegFileParser::Result RegFileParser::FailText() {
  switch (lines_.problem()) {
    case TextProblem::kNone:
      break;
    case TextProblem::kReadFailed:
      return Fail(std::max(lines_.line_number(), 1), "the file cannot be read");
    case TextProblem::kLineTooLong:
      return Fail("the line is longer than any value the registry can hold");
    case TextProblem::kLoneSurrogate:
      return Fail("the line holds half of a UTF-16 surrogate pair, which no name or text can hold");
  }
  return Result::kEntry;
}

RegFileParser::Result RegFileParser::ReadHeader() {
  header_read_ = true;
  if (!NextLine()) {
    if (lines_.problem() != TextProblem::kNone) return FailText();
    return Fail(1, "the file is empty");
  }
  const std::string_view header = TrimEnd(line_);
  if (header == kHeader4 && lines_.encoding() != TextEncoding::kUtf16Le) {
    format_ = RegFileFormat::kRegedit4;
  } else if (header == kHeader5) {
    format_ = RegFileFormat::kVersion5;
  } else {
    return Fail(1, "not a registry file: the first line must be \"REGEDIT4\" or \"" +
                       std::string(kHeader5) + "\"");
  }
  return Result::kEntry;
}

RegFileParser::Result RegFileParser::Next(RegEntry* entry) {
  if (failed_) return Result::kError;
  if (!header_read_) {
    if (ReadHeader() == Result::kError) return Result::kError;
  }
  *entry = RegEntry{};
  while (NextLine()) {
    while (pos_ < line_.size() && IsBlank(line_[pos_])) ++pos_;
    if (pos_ == line_.size() || line_[pos_] == ';') continue;
    entry->line = lines_.line_number();
    if (line_[pos_] == '[') return ParseSection(line_, entry);
    if (line_[pos_] == '"' || line_[pos_] == '@') {
      if (!in_key_) return Fail("a value line outside of a key section");
      const Result result = ParseValue(entry);
      // The entry holds the data now: a long line's room is not kept while
      // the caller applies it.
      if (line_.capacity() > kKeptLineCapacity) std::string().swap(line_);
      return result;
    }
    return Fail("not a key, value or comment line");
  }
  if (lines_.problem() != TextProblem::kNone) return FailText();
  return Result::kEnd;
}

RegFileParser::Result RegFileParser::ParseSection(const std::string& line, RegEntry* entry) {
  std::string_view text = TrimEnd(std::string_view(line).substr(pos_));
  if (text.size() < 2 || text.back() != ']') return Fail("a key line must end with \"]\"");
  text = text.substr(1, text.size() - 2);
  const bool remove = !text.empty() && text.front() == '-';
  if (remove) text.remove_prefix(1);
  const size_t slash = text.find('\\');
  const std::string_view root_name = text.substr(0, slash);
  std::string_view path = slash == std::string_view::npos ? "" : text.substr(slash + 1);
  while (!path.empty() && path.back() == '\\') path.remove_suffix(1);
  entry->root = RootKeyOfFullName(root_name);
  if (entry->root == nullptr) return Fail("unknown root key \"" + std::string(root_name) + "\"");
  if (remove && path.empty()) return Fail("a root key cannot be removed");
  if ((!path.empty() && path.front() == '\\') || path.find("\\\\") != std::string_view::npos) {
    return Fail("a key path holds an empty key name");
  }
  // The registry calls take names up to their first NUL: such a path would
  // name another key.
  if (path.find('\0') != std::string_view::npos) return Fail("a key name holds a NUL character");
  entry->kind = remove ? RegEntry::Kind::kRemoveKey : RegEntry::Kind::kKey;
  entry->path = std::string(path);
  in_key_ = !remove;
  return Result::kEntry;
}

RegFileParser::Result RegFileParser::ParseQuoted(std::string* text) {
  const int start_line = lines_.line_number();
  for (;;) {
    while (pos_ < line_.size()) {
      const char c = line_[pos_++];
      if (c == '"') return Result::kEntry;
      if (c == '\\' && pos_ < line_.size() && (line_[pos_] == '\\' || line_[pos_] == '"')) {
        text->push_back(line_[pos_++]);
      } else {
        text->push_back(c);
      }
    }
    // A line break inside the quotes belongs to the text.
    if (!NextLine()) {
      if (lines_.problem() != TextProblem::kNone) return FailText();
      return Fail(start_line, "a quoted text does not end");
    }
    if (text->size() >= max_value_) {
      return Fail("the text is longer than any value the registry can hold");
    }
    text->push_back('\n');
  }
}

RegFileParser::Result RegFileParser::ParseValue(RegEntry* entry) {
  if (line_[pos_] == '@') {
    ++pos_;
  } else {
    ++pos_;
    if (ParseQuoted(&entry->name) == Result::kError) return Result::kError;
    // The registry calls take names up to their first NUL: such a name would
    // name another value.
    if (entry->name.find('\0') != std::string::npos) {
      return Fail("a value name holds a NUL character");
    }
  }
  while (pos_ < line_.size() && IsBlank(line_[pos_])) ++pos_;
  if (pos_ == line_.size() || line_[pos_] != '=') return Fail("\"=\" must follow the value name");
  ++pos_;
  while (pos_ < line_.size() && IsBlank(line_[pos_])) ++pos_;
  return ParseData(entry);
}

RegFileParser::Result RegFileParser::ParseData(RegEntry* entry) {
  const std::string_view rest = std::string_view(line_).substr(pos_);
  auto only_blanks_after = [this]() {
    return TrimEnd(std::string_view(line_).substr(pos_)).empty();
  };
  entry->kind = RegEntry::Kind::kValue;
  if (!rest.empty() && rest.front() == '"') {
    ++pos_;
    // Room for the rest of the line and the closing zero at once: a long
    // text does not grow step by step to twice its size.
    std::string text;
    text.reserve(line_.size() - pos_ + 1);
    if (ParseQuoted(&text) == Result::kError) return Result::kError;
    if (!only_blanks_after()) return Fail("unexpected text after the closing quote");
    entry->type = REG_SZ;
    entry->data = std::move(text);
    entry->data.push_back('\0');
    return Result::kEntry;
  }
  if (!rest.empty() && rest.front() == '-') {
    ++pos_;
    if (!only_blanks_after()) return Fail("unexpected text after \"-\"");
    entry->kind = RegEntry::Kind::kRemoveValue;
    return Result::kEntry;
  }
  if (StartsWithIgnoringCase(rest, "dword:")) {
    pos_ += 6;
    uint32_t number = 0;
    int digits = 0;
    while (pos_ < line_.size() && HexDigit(line_[pos_]) >= 0) {
      number = (number << 4) | static_cast<uint32_t>(HexDigit(line_[pos_++]));
      ++digits;
    }
    if (digits == 0 || digits > 8 || !only_blanks_after()) {
      return Fail("dword: must be followed by 1 to 8 hexadecimal digits");
    }
    entry->type = REG_DWORD;
    for (int i = 0; i < 4; ++i)
      entry->data.push_back(static_cast<char>((number >> (8 * i)) & 0xFF));
    return Result::kEntry;
  }
  if (StartsWithIgnoringCase(rest, "hex:")) {
    pos_ += 4;
    entry->type = REG_BINARY;
    return ParseHexList(entry);
  }
  if (StartsWithIgnoringCase(rest, "hex(")) {
    pos_ += 4;
    uint32_t type = 0;
    int digits = 0;
    while (pos_ < line_.size() && HexDigit(line_[pos_]) >= 0) {
      type = (type << 4) | static_cast<uint32_t>(HexDigit(line_[pos_++]));
      ++digits;
    }
    if (digits == 0 || digits > 8 || line_.compare(pos_, 2, "):") != 0) {
      return Fail("hex( must be followed by a type code of 1 to 8 hexadecimal digits and \"):\"");
    }
    pos_ += 2;
    entry->type = type;
    return ParseHexList(entry);
  }
  return Fail("unknown kind of data (a quoted text, dword:, hex:, hex(N): or - expected)");
}

RegFileParser::Result RegFileParser::ParseHexList(RegEntry* entry) {
  entry->exact = format_ == RegFileFormat::kVersion5;
  bool need_comma = false;  // a byte was read and no comma has followed it
  for (;;) {
    while (pos_ < line_.size() && IsBlank(line_[pos_])) ++pos_;
    if (pos_ == line_.size()) return Result::kEntry;
    const char c = line_[pos_];
    if (c == '\\') {
      ++pos_;
      if (!TrimEnd(std::string_view(line_).substr(pos_)).empty()) {
        return Fail("a backslash that continues a line must end it");
      }
      if (!NextLine()) {
        return lines_.problem() != TextProblem::kNone ? FailText() : Result::kEntry;
      }
      continue;
    }
    if (c == ',') {
      if (!need_comma) return Fail("a comma without a byte before it");
      need_comma = false;
      ++pos_;
      continue;
    }
    const int high = HexDigit(c);
    if (high < 0 || need_comma)
      return Fail("bytes must be pairs of hexadecimal digits between commas");
    ++pos_;
    int value = high;
    if (pos_ < line_.size() && HexDigit(line_[pos_]) >= 0)
      value = value * 16 + HexDigit(line_[pos_++]);
    if (entry->data.size() >= max_value_) {
      return Fail("the data is longer than any value the registry can hold");
    }
    entry->data.push_back(static_cast<char>(value));
    need_comma = true;
  }
}

}  // namespace orvik::regedit
