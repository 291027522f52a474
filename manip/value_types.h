// Value type codes: the type of an existing value, the printed name of a
// type code, and the code of a type name typed by the user.
#pragma once

#include <string>
#include <string_view>

#include "platform/platform.h"
#include "registry/registry.h"

namespace orvik {

// The name that stands for a key's unnamed value on the command line
// (/ve, /v @); at the registry interface the unnamed value has the empty name.
inline constexpr std::string_view kUnnamedValueName = "@";

// The type code of a value under the entered key ("" = the unnamed value).
// Raises orvik::Exception "Unknown type for %s\%s" when the platform cannot
// report it.
DWORD QueryValueType(TRegistry& registry, const std::string& value_name);

// The padded name printed by QUERY and COMPARE; unnamed codes print as REG_SZ.
std::string TypeNameOf(DWORD type_code);

// The code of a user-typed name (any ASCII case); anything unknown is REG_SZ.
DWORD TypeCodeOf(const std::string& type_name);

}  // namespace orvik
