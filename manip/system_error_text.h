// The platform's own wording for an error code, so that the engines can
// report a change the registry refused as "Error: " and that text.
#pragma once

#include <string>

#include "platform/platform.h"
#include "registry/exception.h"

namespace orvik {

// The system message for the code without its line end (for example
// "Access is denied."). A code the platform has no message for gives
// "Unknown error %d".
std::string SystemErrorText(LONG code);

// The exception that reports a refused change: "Error: " + SystemErrorText.
Exception RefusedChange(LONG code);

}  // namespace orvik
