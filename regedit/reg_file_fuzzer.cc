// libFuzzer target for the .reg parser: any bytes, read entry by entry to the
// end or the first error, must neither crash, hang nor leak. Each input is
// read with the registry's limits and again with a small one, so that lines
// and data longer than any value are reached as well.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "regedit/reg_file_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  for (const size_t max_value : {orvik::posix::kMaxValueDataSize, size_t{64}}) {
    orvik::regedit::MemorySource source(bytes);
    orvik::regedit::RegFileParser parser(source, max_value);
    orvik::regedit::RegEntry entry;
    while (parser.Next(&entry) == orvik::regedit::RegFileParser::Result::kEntry) {
      // A name the registry would read as another never leaves the parser.
      if (entry.name.find('\0') != std::string::npos ||
          entry.path.find('\0') != std::string::npos) {
        __builtin_trap();
      }
    }
  }
  return 0;
}
