// Importing one file: open it without waiting, check it, apply it, commit or
// discard.
#include "regedit/reg_import.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/platform.h"
#include "platform/posix/handles/registry_transaction.h"
#include "regedit/reg_apply.h"
#include "regedit/reg_file_parser.h"

namespace orvik::regedit {

namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Reads a pipe once, for the check, and keeps every byte read in a spool
// file, for the changes: a pipe cannot be read a second time.
class SpoolingSource final : public ByteSource {
 public:
  SpoolingSource(std::FILE* input, std::FILE* spool) : input_(input), spool_(spool) {}

  size_t Read(char* buffer, size_t size) override {
    const size_t n = std::fread(buffer, 1, size, input_);
    if (n > 0 && std::fwrite(buffer, 1, n, spool_) != n) {
      spool_error_ = errno;
      return 0;
    }
    return n;
  }
  bool Failed() const override { return std::ferror(input_) != 0 || spool_error_ != 0; }
  int spool_error() const { return spool_error_; }

 private:
  std::FILE* input_;
  std::FILE* spool_;
  int spool_error_ = 0;
};

std::string SystemErrorText(LONG code) {
  char* text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
  std::string result =
      length > 0 && text != nullptr ? std::string(text, length) : "error " + std::to_string(code);
  if (text != nullptr) LocalFree(text);
  while (!result.empty() && (result.back() == '\n' || result.back() == '\r' ||
                             result.back() == ' ' || result.back() == '.')) {
    result.pop_back();
  }
  return result;
}

bool Problem(ImportProblem* problem, int line, std::string message) {
  problem->line = line;
  problem->message = std::move(message);
  return false;
}

bool CannotOpen(ImportProblem* problem, const std::string& why) {
  return Problem(problem, 0, "cannot open the file: " + why);
}

// The first pass: the whole file parses.
bool Check(ByteSource& source, ImportProblem* problem) {
  RegFileParser parser(source);
  RegEntry entry;
  for (;;) {
    switch (parser.Next(&entry)) {
      case RegFileParser::Result::kEntry:
        continue;
      case RegFileParser::Result::kEnd:
        return true;
      case RegFileParser::Result::kError:
        return Problem(problem, parser.error_line(), parser.error());
    }
  }
}

// The second pass: every entry applied; false at the first refusal.
bool Apply(ByteSource& source, ImportProblem* problem) {
  RegFileParser parser(source);
  RegApplier applier;
  RegEntry entry;
  for (;;) {
    switch (parser.Next(&entry)) {
      case RegFileParser::Result::kEntry:
        if (const LONG rc = applier.Apply(entry); rc != ERROR_SUCCESS) {
          return Problem(problem, entry.line,
                         applier.failure() + " was refused: " + SystemErrorText(rc));
        }
        continue;
      case RegFileParser::Result::kEnd:
        return true;
      case RegFileParser::Result::kError:
        // The file changed since it was checked.
        return Problem(problem, parser.error_line(), parser.error());
    }
  }
}

// Checks the open file and applies it: a regular file is read twice, a pipe
// once into a spool that the changes are then read from.
bool CheckAndApply(std::FILE* file, bool is_pipe, ImportProblem* problem) {
  if (!is_pipe) {
    FileSource checked(file);
    if (!Check(checked, problem)) return false;
    std::rewind(file);
    FileSource applied(file);
    return Apply(applied, problem);
  }
  // An unnamed temporary file: nobody else can open or replace it.
  const File spool(std::tmpfile());
  if (!spool)
    return Problem(problem, 0, std::string("cannot keep the piped text: ") + std::strerror(errno));
  SpoolingSource checked(file, spool.get());
  const bool parsed = Check(checked, problem);
  if (checked.spool_error() != 0) {
    return Problem(
        problem, 0,
        std::string("cannot keep the piped text: ") + std::strerror(checked.spool_error()));
  }
  if (!parsed) return false;
  if (std::fflush(spool.get()) != 0) {
    return Problem(problem, 0, std::string("cannot keep the piped text: ") + std::strerror(errno));
  }
  std::rewind(spool.get());
  FileSource applied(spool.get());
  return Apply(applied, problem);
}

}  // namespace

bool ImportRegFile(const std::string& path, ImportProblem* problem) {
  // Opened without waiting: a FIFO that nobody writes to must not hold the
  // editor up, nor a device be read before it is known to be a file.
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return CannotOpen(problem, std::strerror(errno));
  const File file(fdopen(fd, "rb"));
  if (!file) {
    const int error = errno;
    close(fd);
    return CannotOpen(problem, std::strerror(error));
  }
  struct stat info {};
  if (fstat(fd, &info) != 0) return CannotOpen(problem, std::strerror(errno));
  if (S_ISDIR(info.st_mode)) return CannotOpen(problem, "it is a directory");
  // A device such as /dev/zero would never end, and a terminal would wait.
  if (!S_ISREG(info.st_mode) && !S_ISFIFO(info.st_mode)) {
    return CannotOpen(problem, "it is neither a regular file nor a pipe");
  }
  // From here on a read waits for a pipe's writer; a pipe that has none
  // reads as empty.
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    return CannotOpen(problem, std::strerror(errno));
  }
  if (!CheckAndApply(file.get(), S_ISFIFO(info.st_mode), problem)) {
    orvik::posix::DiscardRegistryChanges();
    return false;
  }
  if (const LONG rc = orvik::posix::CommitRegistryChanges(); rc != ERROR_SUCCESS) {
    orvik::posix::DiscardRegistryChanges();
    return Problem(problem, 0, "the changes could not be kept: " + SystemErrorText(rc));
  }
  return true;
}

}  // namespace orvik::regedit
