// Exact value copies: a value's type code and data bytes as stored, read and
// written through the wide registry calls, which pass string data unchanged.
// COPY carries values this way so that a copy holds what the source holds.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"
#include "registry/registry.h"

namespace orvik {

// A value name in the platform's wide form.
using WideName = std::basic_string<WCHAR>;

struct StoredValueData {
  DWORD type = REG_NONE;
  std::vector<BYTE> data;  // as stored
};

// The wide form of a value name that came from the registry's ANSI listing.
WideName ToWideName(const std::string& name);

// Reads the value `name` of the entered key; the platform's status.
LONG ReadStoredValue(TRegistry& registry, const WideName& name, StoredValueData& value);

// Creates or replaces the value `name` of the entered key with exactly this
// type code and data; the platform's status.
LONG WriteStoredValue(TRegistry& registry, const WideName& name, const StoredValueData& value);

}  // namespace orvik
