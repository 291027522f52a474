// The exceptions through which every reported failure travels to the entry
// point. Each carries its complete, already formatted message.
#pragma once

#include <stdexcept>
#include <string>

namespace orvik {

// The general exception class: a failure with its message.
class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
};

// A value read or write that the registry access layer could not perform.
class ERegistryException : public Exception {
 public:
  using Exception::Exception;
};

}  // namespace orvik
