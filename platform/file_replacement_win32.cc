// FileReplacement on Windows, as on POSIX: the new file is written beside
// the target and moved over it when complete. An existing target is
// replaced with ReplaceFileA, so that it keeps its attributes and security;
// a move held up for a moment by another process that has one of the files
// open (a virus scanner looking at the new file) is tried again. A target
// that is no file on a disk (NUL, CON, a pipe) holds no earlier content to
// keep and cannot be replaced: it is written in place. A directory or a
// read-only file is refused, as opening it for writing would be.
#include <string>

#include "platform/file_replacement.h"
#include "platform/platform.h"

namespace orvik {

namespace {

// How often, and how far apart, a held-up move is tried: about a second.
constexpr int kMoveAttempts = 20;
constexpr DWORD kMovePauseMilliseconds = 50;

HANDLE AsHandle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

bool HeldByAnotherProcess(LONG status) {
  return status == ERROR_SHARING_VIOLATION || status == ERROR_LOCK_VIOLATION;
}

LONG MoveOnce(const std::string& source, const std::string& target) {
  if (ReplaceFileA(target.c_str(), source.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                   nullptr, nullptr)) {
    return ERROR_SUCCESS;
  }
  const DWORD failure = GetLastError();
  // No target to replace (not yet, or no longer), or one that ReplaceFileA
  // took away before it could give the new file its name: a plain move.
  if (failure != ERROR_FILE_NOT_FOUND && failure != ERROR_UNABLE_TO_MOVE_REPLACEMENT &&
      failure != ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) {
    return static_cast<LONG>(failure);
  }
  if (MoveFileExA(source.c_str(), target.c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return ERROR_SUCCESS;
  }
  return static_cast<LONG>(GetLastError());
}

}  // namespace

LONG MoveFileOver(const std::string& source, const std::string& target) {
  for (int attempt = 1;; ++attempt) {
    const LONG status = MoveOnce(source, target);
    if (status == ERROR_SUCCESS || !HeldByAnotherProcess(status) || attempt == kMoveAttempts) {
      return status;
    }
    Sleep(kMovePauseMilliseconds);
  }
}

FileReplacement::~FileReplacement() { Discard(); }

bool FileReplacement::Create(const std::string& target) {
  Discard();
  if (target.empty()) return false;
  target_ = target;
  // Opening an existing target (without changing it) tells a device or a
  // pipe from a file.
  const HANDLE existing =
      CreateFileA(target_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (existing != INVALID_HANDLE_VALUE) {
    if (GetFileType(existing) != FILE_TYPE_DISK) {
      handle_ = reinterpret_cast<std::intptr_t>(existing);
      open_ = true;
      in_place_ = true;
      return true;
    }
    CloseHandle(existing);
  }
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
  if (in_place_) {
    // A device or a pipe has nothing to flush to a disk.
    open_ = false;
    in_place_ = false;
    return CloseHandle(AsHandle(handle_)) ? Outcome::kDone : Outcome::kWriteFailed;
  }
  const bool flushed = FlushFileBuffers(AsHandle(handle_)) != 0;
  const bool closed = CloseHandle(AsHandle(handle_)) != 0;
  open_ = false;
  if (!flushed || !closed) {
    Discard();
    return Outcome::kWriteFailed;
  }
  if (MoveFileOver(temporary_, target_) != ERROR_SUCCESS) {
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
  in_place_ = false;
  if (!temporary_.empty()) {
    DeleteFileA(temporary_.c_str());
    temporary_.clear();
  }
}

}  // namespace orvik
