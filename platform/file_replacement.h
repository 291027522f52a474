// FileReplacement: a file written in full beside its target and then moved
// over it in one step, so that the target holds either its earlier content
// or the complete new one, never a part.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace orvik {

// Moves the complete file `source` over `target` in one step; ERROR_SUCCESS
// or the platform's error code, `source` then left where it is. On Windows
// an existing target is replaced with ReplaceFileA, so that it keeps its
// attributes and security, and a move that another process (a virus
// scanner looking at the new file) holds up for a moment is tried again.
LONG MoveFileOver(const std::string& source, const std::string& target);

class FileReplacement {
 public:
  enum class Outcome {
    kDone,
    kWriteFailed,    // the bytes did not all reach the disk
    kReplaceFailed,  // the new file could not be moved over the target
  };

  FileReplacement() = default;
  // Removes the new file when it was not moved over the target.
  ~FileReplacement();
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;

  // Creates the new file in the target's directory. False when it cannot be
  // made there, or when the target is a directory or may not be replaced.
  bool Create(const std::string& target);
  bool IsOpen() const { return open_; }
  // Appends bytes to the new file; false on a short or failed write.
  bool Write(std::string_view bytes);
  // Flushes and closes the new file and moves it over the target. On any
  // failure the new file is removed and the target left as it was.
  Outcome Commit();
  // Closes and removes the new file; the target is not touched.
  void Discard();

 private:
  std::string target_;
  std::string temporary_;
  std::intptr_t handle_ = -1;     // a file descriptor, or a HANDLE on Windows
  std::intptr_t directory_ = -1;  // on POSIX: the target's directory, opened once
  bool open_ = false;
  bool in_place_ = false;  // writing to a device or pipe, not to a new file
};

}  // namespace orvik
