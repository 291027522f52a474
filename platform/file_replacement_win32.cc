// FileReplacement on Windows: CreateFileA, WriteFile, FlushFileBuffers and
// MoveFileExA with MOVEFILE_REPLACE_EXISTING, which refuses a target that is
// a directory or read-only, as opening it for writing would.
#include <string>

#include "platform/file_replacement.h"
#include "platform/platform.h"

namespace orvik {

namespace {

HANDLE AsHandle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

FileReplacement::~FileReplacement() { Discard(); }

bool FileReplacement::Create(const std::string& target) {
  Discard();
  if (target.empty()) return false;
  target_ = target;
  const DWORD attributes = GetFileAttributesA(target_.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) {
    return false;
  }
  for (int attempt = 0; attempt < 100; ++attempt) {
    temporary_ =
        target_ + ".orvik-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(attempt);
    const HANDLE file = CreateFileA(temporary_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      handle_ = reinterpret_cast<std::intptr_t>(file);
      open_ = true;
      return true;
    }
    if (GetLastError() != ERROR_FILE_EXISTS) break;
  }
  temporary_.clear();
  return false;
}

bool FileReplacement::Write(std::string_view bytes) {
  if (!open_) return false;
  while (!bytes.empty()) {
    const DWORD chunk = bytes.size() > 0x40000000u ? 0x40000000u : static_cast<DWORD>(bytes.size());
    DWORD written = 0;
    if (!WriteFile(AsHandle(handle_), bytes.data(), chunk, &written, nullptr) || written == 0) {
      return false;
    }
    bytes.remove_prefix(written);
  }
  return true;
}

FileReplacement::Outcome FileReplacement::Commit() {
  if (!open_) return Outcome::kWriteFailed;
  const bool flushed = FlushFileBuffers(AsHandle(handle_)) != 0;
  const bool closed = CloseHandle(AsHandle(handle_)) != 0;
  open_ = false;
  if (!flushed || !closed) {
    Discard();
    return Outcome::kWriteFailed;
  }
  if (!MoveFileExA(temporary_.c_str(), target_.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    Discard();
    return Outcome::kReplaceFailed;
  }
  temporary_.clear();
  return Outcome::kDone;
}

void FileReplacement::Discard() {
  if (open_) {
    CloseHandle(AsHandle(handle_));
    open_ = false;
  }
  if (!temporary_.empty()) {
    DeleteFileA(temporary_.c_str());
    temporary_.clear();
  }
}

}  // namespace orvik
