// The report of an operation whose engine is not built yet.
#include "app/pending_engine.h"

#include "registry/exception.h"

namespace orvik {

void RaiseOperationNotAvailable() { throw Exception("Error: This operation is not available yet"); }

}  // namespace orvik
