// For tests: one hive as each reader sees it — our reader, hivex, libregf
// and reglookup — as lines that compare equal when the readers agree. Keys
// appear depth first in the file's order, each followed by its values.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orvik::posix::hive::test {

struct ViewFields {
  bool classes = true;   // class names (not shown by hivex)
  bool security = true;  // security descriptors (not shown by hivex)
  bool times = true;     // last-write times
  // Data as libregf shows it: nothing of 1 to 3 bytes (it gives zeros), and
  // strings only up to their first terminating zero.
  bool libregf_data = false;
};

// Lines "K|path|class hex|descriptor hex|time" and "V|path|name|type|data hex";
// fields not asked for are left empty. An empty result with *error set when
// the reader refused the file.
std::vector<std::string> OurView(const std::string& file, const ViewFields& fields, long* error);
// Our reader on the hive as LOAD recovers it: a dirty one through the replay
// of the logs beside it.
std::vector<std::string> RecoveredView(const std::string& file, const ViewFields& fields,
                                       long* error);
std::vector<std::string> HivexView(const std::string& file, const ViewFields& fields, long* error);
std::vector<std::string> LibregfView(const std::string& file, const ViewFields& fields,
                                     long* error);

// reglookup's listing reduced to what it shows unambiguously: key paths and
// their times, value paths with their type names, and binary and 32-bit
// data decoded. Sorted, since reglookup keeps its own order.
std::vector<std::string> ReglookupView(const std::string& file, long* error);
// The same fields from our reader, for comparison with ReglookupView.
std::vector<std::string> OurReglookupView(const std::string& file, long* error);

// Equal views; otherwise the first difference, shortened.
::testing::AssertionResult SameLines(const std::vector<std::string>& expected,
                                     const std::vector<std::string>& actual);

// The folder of the real hives (ORVIK_REAL_HIVES, else the first usual place
// that is there); empty when there is none.
std::string RealHivesFolder();

// Decompresses the real hives into `directory`; their names, or nothing
// when the hives are not there.
std::vector<std::string> UnpackRealHives(const std::string& directory);

// A security descriptor other than the one keys get by default: owner and
// group SYSTEM, no DACL.
std::string OtherSecurity();

}  // namespace orvik::posix::hive::test
