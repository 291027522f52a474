// Value names paired without regard to case, the way the platform compares
// texts with case ignored (CompareStringA in the user's default locale; on
// POSIX the folding the registry itself uses for names).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "registry/string_list.h"

namespace orvik {

// Less than, equal to or greater than zero, as a comes before, equals or
// follows b with case ignored.
int CompareNamesIgnoringCase(std::string_view a, std::string_view b);

// Finds names of one list without regard to case, in about constant time
// per lookup. The list must outlive the index and stay unchanged.
class NameIndex {
 public:
  static constexpr size_t npos = static_cast<size_t>(-1);

  explicit NameIndex(const TStringList& names);

  // The position of the first name in the list equal to `name` with case
  // ignored, or npos.
  size_t Find(const std::string& name) const;

 private:
  const TStringList& names_;
  // The first position of each name as spelled. Names of one key never equal
  // each other with case ignored, so a name found here is the only match.
  std::unordered_map<std::string_view, size_t> exact_;
  // Positions ordered by the case-ignoring comparison (list order among
  // equals), made when a name is first looked up in another case.
  mutable std::vector<size_t> ordered_;
  mutable bool ordered_made_ = false;
};

}  // namespace orvik
