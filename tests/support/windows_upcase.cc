// Windows' upper-case table for tests, read once from the test data.
#include "tests/support/windows_upcase.h"

#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include "tests/support/process_runner.h"

namespace orvik::test {

namespace {

std::string TablePath() {
  if (const char* env = getenv("ORVIK_UPCASE_TABLE")) return env;
  const std::string places = ORVIK_UNICODE_DIRS;
  for (size_t from = 0; from < places.size();) {
    size_t colon = places.find(':', from);
    if (colon == std::string::npos) colon = places.size();
    const std::string path = places.substr(from, colon - from) + "/upcase-windows10.bin";
    struct stat info {};
    if (stat(path.c_str(), &info) == 0) return path;
    from = colon + 1;
  }
  return "";
}

std::vector<char16_t> Load() {
  std::vector<char16_t> table;
  const std::string path = TablePath();
  if (path.empty()) return table;
  const std::string bytes = ReadFileBytes(path);
  if (bytes.size() != 0x20000) return table;
  table.resize(0x10000);
  for (size_t i = 0; i < table.size(); ++i) {
    table[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                     (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
  }
  return table;
}

}  // namespace

const std::vector<char16_t>& WindowsUpcaseTable() {
  static const std::vector<char16_t> table = Load();
  return table;
}

std::u16string WindowsUpcase(std::u16string_view name) {
  const std::vector<char16_t>& table = WindowsUpcaseTable();
  std::u16string out(name);
  for (char16_t& c : out) c = table.at(c);
  return out;
}

uint32_t WindowsNameHash(std::u16string_view name) {
  uint32_t hash = 0;
  for (const char16_t c : WindowsUpcase(name)) hash = hash * 37 + c;
  return hash;
}

}  // namespace orvik::test
