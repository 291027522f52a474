// Splitting and checking key paths and value names.
#include "platform/posix/key_path.h"

namespace orvik::posix {

LONG SplitKeyPath(std::u16string_view path, std::vector<std::u16string>* names) {
  names->clear();
  if (path.empty()) return ERROR_SUCCESS;
  if (path.front() == u'\\') return ERROR_BAD_PATHNAME;
  if (path.back() == u'\\') path.remove_suffix(1);
  size_t start = 0;
  while (true) {
    const size_t end = path.find(u'\\', start);
    const std::u16string_view name = path.substr(
        start, end == std::u16string_view::npos ? std::u16string_view::npos : end - start);
    if (name.empty()) return ERROR_BAD_PATHNAME;
    if (name.size() > kMaxKeyNameLength) return ERROR_INVALID_PARAMETER;
    names->emplace_back(name);
    if (end == std::u16string_view::npos) break;
    start = end + 1;
  }
  return ERROR_SUCCESS;
}

LONG CheckValueName(std::u16string_view name) {
  return name.size() > kMaxValueNameLength ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
}

}  // namespace orvik::posix
