// Read snapshots on Windows: the registry has none; reads see it as it is.
#include "platform/read_snapshot.h"

namespace orvik {

LONG BeginReadSnapshot() { return ERROR_SUCCESS; }

void EndReadSnapshot() {}

}  // namespace orvik
