// Keys the POSIX registry never removes, as its tree knows them: the top
// keys and the keys of loaded hives.
#include "platform/key_removal.h"

#include <string>
#include <vector>

#include "platform/posix/codepage.h"
#include "platform/posix/handles/key_cache.h"
#include "platform/posix/handles/key_step.h"
#include "platform/posix/key_path.h"

namespace orvik {

LONG KeyRemovable(HKEY base, const char* sub_key) {
  std::vector<std::u16string> names;
  if (posix::SplitKeyPath(posix::AnsiToWide(sub_key != nullptr ? sub_key : ""), &names) !=
      ERROR_SUCCESS) {
    return ERROR_SUCCESS;
  }
  posix::KeyStep step;
  if (step.Start(base, 0, posix::KeyStep::kRead) != ERROR_SUCCESS) return ERROR_SUCCESS;
  posix::KeyId key = 0;
  size_t found = 0;
  if (posix::WalkPath(step, names, &key, &found) != ERROR_SUCCESS) {
    return step.Finish(ERROR_SUCCESS);
  }
  const LONG removable = step.tree().KeyRemovable(key);
  step.Finish(ERROR_SUCCESS);
  return removable;
}

}  // namespace orvik
