// A change counter that every process of a registry shares through a small
// mapped file beside the database. A writer makes it odd before it commits
// and even (and larger) after, so a reader that finds it even and unchanged
// knows nothing was committed since, without asking the database. A writer
// killed in between leaves it odd: readers then ask the database every time
// until the next writer finishes.
#pragma once

#include <cstdint>
#include <string>

namespace orvik::posix {

class ChangeCounter {
 public:
  ChangeCounter() = default;
  ~ChangeCounter();
  ChangeCounter(const ChangeCounter&) = delete;
  ChangeCounter& operator=(const ChangeCounter&) = delete;

  // Maps the counter file; a writer creates it with `mode`. False when a
  // writer cannot map it for writing. A reader without it (it may not create
  // it) goes on with Available() false.
  bool Open(const std::string& path, bool writable, unsigned mode);
  bool Available() const { return value_ != nullptr; }

  uint64_t Load() const;
  void BeginWrite();  // call holding the database's write lock
  void EndWrite();

 private:
  uint64_t* value_ = nullptr;
  bool writable_ = false;
};

}  // namespace orvik::posix
