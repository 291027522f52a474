// Change groups on POSIX: the store commits grouped write calls together.
#include "platform/change_group.h"

#include "platform/posix/handles/registry_session.h"

namespace orvik {

void BeginChangeGroup() { posix::SetChangeGrouping(true); }

LONG EndChangeGroup() { return posix::SetChangeGrouping(false); }

}  // namespace orvik
