// The shared dirty hives, unpacked.
#include "platform/posix/hive/testing/dirty_sets.h"

#include <sys/stat.h>

#include <cstdlib>

#include "platform/posix/hive/testing/hive_views.h"

namespace orvik::posix::hive::test {

bool UnpackDirtySet(const std::string& name, const std::string& directory) {
  const std::string folder = RealHivesFolder();
  if (folder.empty()) return false;
  const std::string source = folder + "/dirty/" + name;
  struct stat info {};
  if (stat(source.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
    const std::string command = "cd '" + source + "' && for f in *.xz; do xz -dc \"$f\" > '" +
                                directory + "/'\"${f%.xz}\" || exit 1; done 2>/dev/null";
    return system(command.c_str()) == 0;
  }
  if (stat((source + ".xz").c_str(), &info) != 0) return false;
  const std::string base = name.substr(name.rfind('/') + 1);
  const std::string command =
      "xz -dc '" + source + ".xz' > '" + directory + "/" + base + "' 2>/dev/null";
  return system(command.c_str()) == 0;
}

}  // namespace orvik::posix::hive::test
