// Joining a parent's path and a subkey's name.
#include "manip/child_path.h"

#include "platform/ansi_text.h"

namespace orvik {

std::string ChildPath(const std::string& parent_path, const std::string& name) {
  if (parent_path.empty()) return name;
  if (EndsWithBackslash(parent_path)) return parent_path + name;
  return parent_path + "\\" + name;
}

}  // namespace orvik
