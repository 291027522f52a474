// EXPORT: writes a key tree to a registry-editor file.
#pragma once

#include <string>

namespace orvik {

// key_name is a full key name ("hkcu\software\myco"); file_name is used as
// typed. A key that cannot be entered gives a file holding only the header.
// The file is replaced only when everything was written. Returns 0 or raises.
int ExportToFile(const std::string& key_name, const std::string& file_name);

}  // namespace orvik
