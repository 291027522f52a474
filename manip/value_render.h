// Value rendering: the text form of a value's data, by type code. QUERY and
// COMPARE print it; COPY carries values through it.
#pragma once

#include <string>
#include <string_view>

#include "registry/registry.h"

namespace orvik {

// Stands for a string or multi-string value without any data bytes, as
// distinct from an empty string (one NUL).
inline constexpr std::string_view kEmptyDataMarker =
    "!\"$%&$#!%&$#!$#%!&$#&%!$#%$\"!DF!CXY!DWCER\"!";
inline std::string_view EmptyDataMarker() { return kEmptyDataMarker; }

// The text of a value under the entered key ("" = the unnamed value).
// Raises what QueryValueType and TRegistry::ReadValueData raise.
std::string ReadValueAsText(TRegistry& registry, const std::string& value_name);

// Two upper-case hexadecimal digits per byte.
std::string BytesToHexText(std::string_view bytes);

// The non-zero bytes, in order.
std::string NarrowText(std::string_view bytes);

}  // namespace orvik
