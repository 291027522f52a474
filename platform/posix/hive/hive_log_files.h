// The transaction log files beside a hive file: NAME.LOG, NAME.LOG1 and
// NAME.LOG2, found with the case of every letter ignored (hives and their
// logs come from file systems that ignore it: hive `AA` has logs
// `aa.LOG1`), read whole, and emptied once a new hive has replaced the one
// they were written for.
//
// The folder may belong to someone else: a log is opened without following
// a link and without waiting on a pipe, read only when it is a regular file,
// and emptied only when it is a regular file of one name (no hard link to
// another file) that holds a hive log.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/posix/windows_api.h"

namespace orvik::posix::hive {

// The names of the logs beside `hive_path`, in the order LOG, LOG1, LOG2,
// as paths in the hive's folder. Where two names differ only in case, the
// one spelled as asked (the hive's name, then "LOG" in capitals) is taken,
// else the first in byte order.
std::vector<std::string> FindHiveLogs(const std::string& hive_path);

// The same for the hive `name` in the folder open at `directory`: the
// names of its logs there, by kind (empty for none).
struct HiveLogNames {
  std::string log;
  std::string log1;
  std::string log2;
};
HiveLogNames FindHiveLogNames(int directory, const std::string& name);

// The whole file. ERROR_REGISTRY_CORRUPT for a link, something other than
// a regular file, or a file too large to be a log.
LONG ReadLogFile(const std::string& path, std::vector<uint8_t>* bytes);

// Empties the logs beside `hive_path` and sends that to the disk. Files that
// are no hive log are left as they are.
void EmptyHiveLogs(const std::string& hive_path);

}  // namespace orvik::posix::hive
