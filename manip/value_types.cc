// Value type codes: asking the platform for a value's type, the padded type
// names printed by QUERY and COMPARE, and the codes of user-typed names.
#include "manip/value_types.h"

#include "platform/ansi_text.h"
#include "registry/exception.h"

namespace orvik {

DWORD QueryValueType(TRegistry& registry, const std::string& value_name) {
  DWORD type = REG_NONE;
  DWORD size = 0;
  const LONG result =
      RegQueryValueExA(registry.ActiveHandle(), value_name.c_str(), nullptr, &type, nullptr, &size);
  if (result != ERROR_SUCCESS) {
    throw Exception("Unknown type for " + registry.ActivePath() + "\\" + value_name);
  }
  return type;
}

std::string TypeNameOf(DWORD type_code) {
  switch (type_code) {
    case REG_NONE:
      return "REG_NONE       ";
    case REG_EXPAND_SZ:
      return "REG_EXPAND_SZ  ";
    case REG_BINARY:
      return "REG_BINARY     ";
    case REG_DWORD:
      return "REG_DWORD      ";
    case REG_DWORD_BIG_ENDIAN:
      return "REG_DWORD_BIG_ENDIAN  ";
    case REG_MULTI_SZ:
      return "REG_MULTI_SZ   ";
    default:
      return "REG_SZ ";
  }
}

DWORD TypeCodeOf(const std::string& type_name) {
  const std::string upper = UpperAsciiLetters(type_name);
  struct Row {
    const char* name;
    DWORD code;
  };
  static constexpr Row kNames[] = {
      {"REG_NONE", REG_NONE},
      {"REG_EXPAND_SZ", REG_EXPAND_SZ},
      {"REG_BINARY", REG_BINARY},
      {"REG_DWORD", REG_DWORD},
      {"REG_DWORD_LITTLE_ENDIAN", REG_DWORD_LITTLE_ENDIAN},
      {"REG_DWORD_BIG_ENDIAN", REG_DWORD_BIG_ENDIAN},
      {"REG_MULTI_SZ", REG_MULTI_SZ},
  };
  for (const Row& row : kNames) {
    if (upper == row.name) return row.code;
  }
  return REG_SZ;
}

}  // namespace orvik
