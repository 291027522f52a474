// Reading a registry-editor file's text line by line in any of its encodings.
#include "regedit/reg_text.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/platform.h"

namespace orvik::regedit {

namespace {

constexpr size_t kChunkSize = 1 << 16;

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// UTF-16 units to ANSI bytes, by the platform's own conversion.
void AppendAnsi(const std::u16string& wide, std::string* out) {
  if (wide.empty()) return;
  const int length = static_cast<int>(wide.size());
  const int size =
      WideCharToMultiByte(CP_ACP, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return;
  const size_t start = out->size();
  out->resize(start + static_cast<size_t>(size));
  WideCharToMultiByte(CP_ACP, 0, wide.data(), length, out->data() + start, size, nullptr, nullptr);
}

}  // namespace

size_t MemorySource::Read(char* buffer, size_t size) {
  const size_t n = std::min(size, bytes_.size());
  if (n > 0) std::memcpy(buffer, bytes_.data(), n);
  bytes_.remove_prefix(n);
  return n;
}

size_t FileSource::Read(char* buffer, size_t size) { return std::fread(buffer, 1, size, file_); }

bool FileSource::Failed() const { return std::ferror(file_) != 0; }

TextLines::TextLines(ByteSource& source, size_t max_line) : source_(source), max_line_(max_line) {
  // Enough bytes to see a byte-order mark.
  while (buffer_.size() < 3 && Fill()) {
  }
  const std::string_view start(buffer_);
  if (start.substr(0, 2) == "\xFF\xFE") {
    encoding_ = TextEncoding::kUtf16Le;
    pos_ = 2;
  } else if (start.substr(0, 3) == "\xEF\xBB\xBF") {
    encoding_ = TextEncoding::kUtf8WithMark;
    pos_ = 3;
  }
}

bool TextLines::Fill() {
  if (at_end_) return false;
  if (pos_ > 0) {
    buffer_.erase(0, pos_);
    pos_ = 0;
  }
  const size_t old_size = buffer_.size();
  buffer_.resize(old_size + kChunkSize);
  const size_t n = source_.Read(buffer_.data() + old_size, kChunkSize);
  buffer_.resize(old_size + n);
  if (n == 0) at_end_ = true;
  return n > 0;
}

TextProblem TextLines::problem() const {
  if (problem_ == TextProblem::kNone && source_.Failed()) return TextProblem::kReadFailed;
  return problem_;
}

bool TextLines::Refuse(TextProblem problem) {
  // The line the problem is in counts; no line follows it.
  ++line_number_;
  problem_ = problem;
  at_end_ = true;
  buffer_.clear();
  pos_ = 0;
  return false;
}

bool TextLines::Next(std::string* line) {
  line->clear();
  if (problem_ != TextProblem::kNone) return false;
  const bool got = encoding_ == TextEncoding::kUtf16Le ? NextUtf16(line) : NextEightBit(line);
  if (!got) return false;
  if (!line->empty() && line->back() == '\r') line->pop_back();
  if (line->size() > max_line_) return Refuse(TextProblem::kLineTooLong);
  ++line_number_;
  return true;
}

bool TextLines::NextEightBit(std::string* line) {
  bool any = false;
  for (;;) {
    if (pos_ < buffer_.size()) {
      any = true;
      const size_t end = buffer_.find('\n', pos_);
      const size_t length = (end != std::string::npos ? end : buffer_.size()) - pos_;
      // Room for one byte more: the carriage return that Next drops.
      if (line->size() + length > max_line_ + 1) return Refuse(TextProblem::kLineTooLong);
      line->append(buffer_, pos_, length);
      pos_ += length;
      if (end != std::string::npos) {
        ++pos_;
        return true;
      }
    }
    if (!Fill()) return any;
  }
}

bool TextLines::NextUtf16(std::string* line) {
  std::u16string wide;
  bool any = false;
  // A name or text holding half a surrogate pair has no exact ANSI form: it
  // would come out as another name.
  bool high_before = false;
  auto finish = [&]() {
    if (high_before) return Refuse(TextProblem::kLoneSurrogate);
    AppendAnsi(wide, line);
    return true;
  };
  for (;;) {
    while (pos_ + 1 < buffer_.size()) {
      any = true;
      const auto unit = static_cast<char16_t>(static_cast<unsigned char>(buffer_[pos_]) |
                                              (static_cast<unsigned char>(buffer_[pos_ + 1]) << 8));
      pos_ += 2;
      if (unit == u'\n') return finish();
      if (high_before != IsLowSurrogate(unit)) return Refuse(TextProblem::kLoneSurrogate);
      high_before = IsHighSurrogate(unit);
      // As many units as the line may have bytes, and its carriage return.
      if (wide.size() > max_line_) return Refuse(TextProblem::kLineTooLong);
      wide.push_back(unit);
    }
    if (!Fill()) {
      // An odd last byte is no character; it is dropped.
      if (pos_ < buffer_.size()) pos_ = buffer_.size();
      return finish() && any;
    }
  }
}

}  // namespace orvik::regedit
