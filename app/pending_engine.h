// For operations whose engine is not built yet: the parser gathers its
// parameters and then reports that the operation is not available.
#pragma once

namespace orvik {

// Raises orvik::Exception "Error: This operation is not available yet".
[[noreturn]] void RaiseOperationNotAvailable();

}  // namespace orvik
