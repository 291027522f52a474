// Importing one file: check, apply, commit or discard.
#include "regedit/reg_import.h"

#include <sys/stat.h>

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

// The first pass: the whole file parses.
bool Check(std::FILE* file, ImportProblem* problem) {
  FileSource source(file);
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
bool Apply(std::FILE* file, ImportProblem* problem) {
  FileSource source(file);
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

}  // namespace

bool ImportRegFile(const std::string& path, ImportProblem* problem) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) {
    return Problem(problem, 0, std::string("cannot open the file: ") + std::strerror(errno));
  }
  if (S_ISDIR(info.st_mode)) return Problem(problem, 0, "cannot open the file: it is a directory");
  const std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file)
    return Problem(problem, 0, std::string("cannot open the file: ") + std::strerror(errno));
  if (!Check(file.get(), problem)) return false;
  std::rewind(file.get());
  if (!Apply(file.get(), problem)) {
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
