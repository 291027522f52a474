// Writes a changed hive over its file in place, the way Windows writes a
// hive it has loaded, so that a kill or a power loss at any moment leaves
// the old hive or the new one. The file must be clean:
//   1. the changed pages go to a log of the hive first (the new format,
//      NAME.LOG1 beside it, or NAME.LOG2 when LOG1 may not be written), as
//      one entry whose sequence number is above every one the file and its
//      logs hold and follows none of them; sync;
//   2. the base block is written dirty (secondary sequence number the
//      entry's, primary one above): a replay takes exactly that entry; sync;
//   3. the pages are written over the file; sync;
//   4. the base block is written clean, both numbers one above the entry's;
//      sync.
// Before step 2 reaches the disk the file is clean and no log applies to
// it; from then on it is dirty and its log, replayed by LOAD or by Windows,
// gives the new hive whatever part of the pages reached the disk. Once clean
// again, no log beside it ever applies: its sequence number is above all of
// theirs, and its time is new.
//
// A dirty file is first brought to what its own logs recover, in place
// (RecoverInPlace): the recovered pages go over it while it stays dirty, so
// that its logs, replayed again, give the same pages; then its recovered
// base block, clean. Only then may its logs be written over.
//
// A log that is a link, is not a regular file, has another name too or
// another owner than the hive is not written; a log that is made gets the
// hive's owner, group and mode.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/posix/hive/hive_format.h"
#include "platform/posix/hive/hive_log.h"
#include "platform/posix/windows_api.h"

namespace orvik::posix::hive {

// The hive file, open for reading and writing, and the folder it is in
// (where its logs are), open too, with its name there.
struct HiveFile {
  int fd = -1;
  int directory = -1;
  std::string name;
};

// What to write: the new base block (its sequence numbers are set here)
// and the runs of 4 KiB pages of the bins that differ from the file.
struct HiveChanges {
  std::array<uint8_t, kBaseBlockSize> base_block{};
  std::vector<LogPages> pages;
};

// What a dirty file's logs recover, as LOAD replayed them: the recovered
// base block (made clean when written) and the pages the replay wrote.
struct RecoveredState {
  std::array<uint8_t, kBaseBlockSize> base_block{};
  std::vector<LogPages> pages;
};

// Brings a dirty file to its recovered state in place; a clean file is left
// as it is.
LONG RecoverInPlace(const HiveFile& file, const RecoveredState& recovered);

// The writes of the four steps, for a file as it is now.
struct InPlaceWrite {
  uint32_t sequence = 0;  // the log entry's
  std::string log_name;   // the log, in the hive's folder
  bool log_made = false;  // whether it is to be made (it is not there)
  std::string log;        // its bytes, from its start; nothing follows them
  std::array<uint8_t, kBaseBlockSize> dirty_base{};
  std::vector<LogPages> pages;
  std::array<uint8_t, kBaseBlockSize> clean_base{};
};

// Reads the file's base block and its logs, chooses the log and the
// sequence number, and lays the writes out. ERROR_NOT_SUPPORTED for a dirty
// file, or when no log can be written (the caller then writes the hive
// another way).
LONG PlanInPlaceWrite(const HiveFile& file, const HiveChanges& changes, InPlaceWrite* plan);

// One write of a step: bytes of the plan at an offset of the log (from its
// start) or of the hive file.
struct FileWrite {
  bool to_log = false;
  uint64_t offset = 0;
  const uint8_t* bytes = nullptr;
  size_t size = 0;
};

// The plan's steps in the order they go out: the log (which then ends where
// its bytes end), the dirty base block, the pages, the clean base block.
std::vector<std::vector<FileWrite>> InPlaceSteps(const InPlaceWrite& plan);

// Writes the plan, step by step, each step synced before the next begins.
LONG ExecuteInPlaceWrite(const HiveFile& file, const InPlaceWrite& plan);

// Both. ERROR_NOT_SUPPORTED only while the file and its logs are untouched.
LONG WriteHiveInPlace(const HiveFile& file, const HiveChanges& changes);

}  // namespace orvik::posix::hive
