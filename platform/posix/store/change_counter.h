// A change counter that every process of a registry shares through a small
// mapped file beside the database. A writer makes it odd before it commits
// and even (and larger) after, so a reader that finds it even and unchanged
// knows nothing was committed since, without asking the database. A writer
// killed in between leaves it odd: readers then ask the database every time
// until the next writer finishes.
#pragma once

#include <cstdint>
#include <string>

#include "platform/posix/store/store_location.h"

namespace orvik::posix {

class ChangeCounter {
 public:
  ChangeCounter() = default;
  ~ChangeCounter();
  ChangeCounter(const ChangeCounter&) = delete;
  ChangeCounter& operator=(const ChangeCounter&) = delete;

  // Maps the counter file, never through a symbolic link. A writer creates
  // it with `mode` and the directory owner's ownership, its disk space
  // allocated at once. Returns the error that keeps a writer from moving it
  // (ERROR_ACCESS_DENIED, ERROR_DISK_FULL, ...). A reader without it (it may
  // not create it) goes on with Available() false; only a file that is not
  // the registry's own (CheckRegistryFile) is an error for a reader.
  LONG Open(const std::string& path, bool writable, unsigned mode, const DirectoryOwner& owner);
  bool Available() const { return value_ != nullptr; }

  uint64_t Load() const;
  void BeginWrite();  // call holding the database's write lock
  void EndWrite();
  // After EndWrite: whether the last write was the only change between the
  // even values *before and *after (no other writer began in between, none
  // had left the counter odd).
  bool LastWriteAlone(uint64_t* before, uint64_t* after) const;

 private:
  uint64_t* value_ = nullptr;
  bool writable_ = false;
  uint64_t began_from_ = 1;  // the counter when BeginWrite found it
  uint64_t began_at_ = 1;    // the odd value BeginWrite set
  bool alone_ = false;
};

}  // namespace orvik::posix
