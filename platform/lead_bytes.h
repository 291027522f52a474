// The lead bytes of the ANSI code page. In a double-byte code page (Japanese,
// Chinese, Korean) a lead byte and the byte after it are one character, and
// that second byte may be an ASCII letter or a backslash.
#pragma once

#include <array>

namespace orvik {

struct LeadByteTable {
  std::array<bool, 256> lead{};  // lead[b]: the byte b begins a two-byte character
  bool any = false;              // whether the code page has lead bytes at all
};

// The ANSI code page's lead bytes, read from the system once.
const LeadByteTable& AnsiLeadBytes();

// The system's own table, as AnsiLeadBytes reads it: IsDBCSLeadByteEx on
// Windows; on POSIX the registry platform's code page is UTF-8, which has no
// lead bytes in this sense (no byte of a UTF-8 sequence is ASCII).
LeadByteTable SystemLeadBytes();

// Puts another code page's table in the place of the system's while it
// lives, so that the byte rules can be tried on any system.
class ScopedLeadBytes {
 public:
  explicit ScopedLeadBytes(const LeadByteTable& table);
  ~ScopedLeadBytes();
  ScopedLeadBytes(const ScopedLeadBytes&) = delete;
  ScopedLeadBytes& operator=(const ScopedLeadBytes&) = delete;

 private:
  LeadByteTable table_;
  const LeadByteTable* previous_;
};

}  // namespace orvik
