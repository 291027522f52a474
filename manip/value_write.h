// Value writing: turns the text form of a value back into data and writes it
// under the entered key. ADD writes command-line data through it; COPY
// writes the texts that value rendering produced.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"
#include "registry/exception.h"
#include "registry/registry.h"

namespace orvik {

// Text that is not a valid integer or hexadecimal text.
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

// Creates or replaces the value under the entered key; the value name "@"
// stands for the unnamed value. Raises EConvertError for invalid integer or
// hexadecimal text, before anything is written. Returns the platform's status
// of the write (ERROR_SUCCESS also for a type that has no text form and is
// left alone), so that the caller can report a refused write.
LONG WriteValueFromText(TRegistry& registry, const std::string& value_name, const std::string& text,
                        DWORD type_code, const std::string& separator);

// The same with the value name taken as it is: only the empty name is the
// unnamed value, and "@" is a value of that name (for names that come from the
// registry rather than from the command line).
LONG WriteValueFromTextLiteralName(TRegistry& registry, const std::string& value_name,
                                   const std::string& text, DWORD type_code,
                                   const std::string& separator);

// Raises EConvertError "'%s' is not a valid integer value".
int32_t TextToInt32(const std::string& text);

// The bytes of REG_BINARY text (two hexadecimal digits per byte). Raises
// EConvertError for a character that is not a digit and for text of odd length.
std::string HexTextToBytes(const std::string& text);

// The bytes of REG_NONE text.
std::string WidenText(const std::string& text);

}  // namespace orvik
