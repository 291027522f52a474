// Change groups on Windows: the registry commits every call by itself.
#include "platform/change_group.h"

namespace orvik {

void BeginChangeGroup() {}

LONG EndChangeGroup() { return ERROR_SUCCESS; }

}  // namespace orvik
