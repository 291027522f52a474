// Reading the registry as it was at one moment. Between BeginReadSnapshot
// and EndReadSnapshot the platform may serve every registry read of this
// process from one view of the registry, taken when the snapshot began, so
// that a walk over a tree sees it whole even while other processes change
// it; they are not held up. Changes are refused in between. On Windows the
// registry offers no such view and both calls do nothing.
#pragma once

#include "platform/platform.h"

namespace orvik {

// The platform's status of taking the view.
LONG BeginReadSnapshot();
void EndReadSnapshot();

}  // namespace orvik
