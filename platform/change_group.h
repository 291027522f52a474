// Grouping a run's many small registry changes. Between BeginChangeGroup and
// EndChangeGroup the platform may commit the changes of several registry
// calls together: each call still changes all or nothing, and other
// processes see the changes a group at a time. On Windows the registry
// commits every call itself and both calls do nothing.
#pragma once

#include "platform/platform.h"

namespace orvik {

void BeginChangeGroup();
// Commits what the group still holds; the platform's status of that commit.
LONG EndChangeGroup();

}  // namespace orvik
