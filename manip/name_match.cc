// Pairing value names with case ignored through the platform's comparison.
#include "manip/name_match.h"

#include <algorithm>
#include <climits>

#include "platform/platform.h"

namespace orvik {

int CompareNamesIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() <= INT_MAX && b.size() <= INT_MAX) {
    const int result =
        CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.data(), static_cast<int>(a.size()),
                       b.data(), static_cast<int>(b.size()));
    if (result != 0) return result - CSTR_EQUAL;
  }
  // Texts the platform cannot compare are equal only when they are the same.
  return a.compare(b);
}

NameIndex::NameIndex(const TStringList& names) : names_(names) {
  exact_.reserve(names.size());
  for (size_t i = 0; i < names.size(); ++i) exact_.emplace(names[i], i);
}

size_t NameIndex::Find(const std::string& name) const {
  if (const auto it = exact_.find(name); it != exact_.end()) return it->second;
  if (!ordered_made_) {
    ordered_.resize(names_.size());
    for (size_t i = 0; i < ordered_.size(); ++i) ordered_[i] = i;
    std::stable_sort(ordered_.begin(), ordered_.end(), [this](size_t a, size_t b) {
      return CompareNamesIgnoringCase(names_[a], names_[b]) < 0;
    });
    ordered_made_ = true;
  }
  const auto it = std::lower_bound(ordered_.begin(), ordered_.end(), name,
                                   [this](size_t i, const std::string& n) {
                                     return CompareNamesIgnoringCase(names_[i], n) < 0;
                                   });
  if (it == ordered_.end() || CompareNamesIgnoringCase(names_[*it], name) != 0) return npos;
  return *it;
}

}  // namespace orvik
