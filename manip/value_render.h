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

// The type code and the text of a value under the entered key, read with
// one platform call: the same type and text as QueryValueType and
// ReadValueAsText give, and the same failures.
std::string ReadValueTypeAndText(TRegistry& registry, const std::string& value_name, DWORD& type);

// The text of a value's data (as the ANSI calls return it) by its type code.
// Raises "Failed to get data for '%s'" for integer data longer than 4 bytes.
std::string RenderValueText(const std::string& value_name, DWORD type, std::string_view data);

// Two upper-case hexadecimal digits per byte.
std::string BytesToHexText(std::string_view bytes);

// The non-zero bytes, in order.
std::string NarrowText(std::string_view bytes);

}  // namespace orvik
