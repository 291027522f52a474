// The text of a registry-editor file as lines of ANSI bytes: finds the
// encoding from the first bytes (a UTF-16LE or UTF-8 byte-order mark, else
// 8-bit text), decodes UTF-16LE into the ANSI code page, and splits lines at
// line feeds, dropping one carriage return before each. Reads in chunks, so
// memory does not grow with the file's size, and no line grows beyond a
// limit the caller sets.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

namespace orvik::regedit {

// Where the bytes of a file come from.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Up to `size` bytes into `buffer`; 0 at the end (or on a read error, which
  // Failed() then reports).
  virtual size_t Read(char* buffer, size_t size) = 0;
  virtual bool Failed() const { return false; }
};

class MemorySource final : public ByteSource {
 public:
  explicit MemorySource(std::string_view bytes) : bytes_(bytes) {}
  size_t Read(char* buffer, size_t size) override;

 private:
  std::string_view bytes_;
};

class FileSource final : public ByteSource {
 public:
  explicit FileSource(std::FILE* file) : file_(file) {}
  size_t Read(char* buffer, size_t size) override;
  bool Failed() const override;

 private:
  std::FILE* file_;
};

enum class TextEncoding { kEightBit, kUtf8WithMark, kUtf16Le };

// Why Next found no further line, when the text did not simply end.
enum class TextProblem {
  kNone,
  kReadFailed,
  kLineTooLong,    // more bytes than the limit, before its line end
  kLoneSurrogate,  // UTF-16 that no ANSI text carries exactly
};

class TextLines {
 public:
  // Lines of more than `max_line` bytes (after decoding) are refused.
  TextLines(ByteSource& source, size_t max_line);

  TextEncoding encoding() const { return encoding_; }
  // The next line without its line end; false at the end of the text or at a
  // problem (problem() says which).
  bool Next(std::string* line);
  // 1-based number of the line Next returned last, or of the line a problem
  // was found in.
  int line_number() const { return line_number_; }
  TextProblem problem() const;

 private:
  bool Fill();
  bool NextEightBit(std::string* line);
  bool NextUtf16(std::string* line);
  bool Refuse(TextProblem problem);

  ByteSource& source_;
  size_t max_line_;
  TextEncoding encoding_ = TextEncoding::kEightBit;
  std::string buffer_;
  size_t pos_ = 0;
  bool at_end_ = false;
  int line_number_ = 0;
  TextProblem problem_ = TextProblem::kNone;
};

}  // namespace orvik::regedit
