// libFuzzer target for the .reg parser: any bytes, read entry by entry to the
// end or the first error, must neither crash, hang nor leak.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "regedit/reg_file_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  orvik::regedit::MemorySource source(std::string_view(reinterpret_cast<const char*>(data), size));
  orvik::regedit::RegFileParser parser(source);
  orvik::regedit::RegEntry entry;
  while (parser.Next(&entry) == orvik::regedit::RegFileParser::Result::kEntry) {
  }
  return 0;
}
