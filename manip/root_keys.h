// Root keys and full key names: "ROOTKEY\SubKey" as typed on the command line.
// None of these routines fails; an unrecognised root text means
// HKEY_LOCAL_MACHINE.
#pragma once

#include <string>

#include "platform/platform.h"
#include "registry/registry.h"

namespace orvik {

// The predefined root key for a root text (any ASCII case).
HKEY RootKeyFromName(const std::string& root_text);

// The full name printed for a root text, e.g. "HKEY_CURRENT_USER" for "hkcu".
std::string FullRootName(const std::string& root_text);

// Splits at the first backslash (a character, never the second byte of a
// double-byte one): afterwards root_text holds what came before
// it and key_name only the SubKey (the whole text when there is no backslash).
void SplitKeyName(std::string& key_name, std::string& root_text);

// SplitKeyName, then selects the root on the registry object.
void ResolveKeyName(TRegistry& registry, std::string& root_text, std::string& key_name);

}  // namespace orvik
