// The two forms of string data: stored as UTF-16LE, read and written by the
// ANSI calls in the ANSI code page. Other types are the same in both.
#pragma once

#include <string>
#include <string_view>

#include "platform/posix/windows_api.h"

namespace orvik::posix {

bool IsStringType(DWORD type);

// Stored form of data given to an ANSI call, and the ANSI form of stored data.
std::string StoredFromAnsi(DWORD type, std::string_view data);
std::string AnsiFromStored(DWORD type, std::string_view data);

// The larger of the stored size and the ANSI size, so a buffer of that size
// takes the data in either form.
size_t FittingSize(DWORD type, std::string_view stored);

}  // namespace orvik::posix
