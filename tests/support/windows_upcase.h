// For tests: Windows' own upper-case table of UTF-16 code units, read from
// the copy beside the repository (../shared/unicode/upcase-windows10.bin, or
// the file ORVIK_UPCASE_TABLE names), and the subkey order and list hash that
// Windows derives from it. The program carries its own table; this one is
// what the tests hold it against.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orvik::test {

// The 65,536 entries, or an empty table when the file is not there.
const std::vector<char16_t>& WindowsUpcaseTable();

// A name upper-cased unit by unit with the table (which must not be empty).
std::u16string WindowsUpcase(std::u16string_view name);
// The hash of an "lh" list entry: 37 * h + unit over the upper-cased name.
uint32_t WindowsNameHash(std::u16string_view name);

}  // namespace orvik::test
