// For tests: whether a hive's subkey lists are what Windows expects of them,
// in the order of the names upper-cased by Windows' own table and with the
// hashes Windows computes over them, both recomputed here from the table
// (tests/support/windows_upcase.h) rather than taken from the writer.
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace orvik::posix::hive::test {

// Every key's subkeys strictly ascending (across the leaves of an index
// root), and every hash of an "lh" leaf Windows'. Needs the table.
::testing::AssertionResult ListsInWindowsOrder(const std::string& hive_bytes);

}  // namespace orvik::posix::hive::test
