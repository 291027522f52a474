// The lead bytes of code page 932 (Japanese, Shift JIS), for tests of the
// byte rules on systems whose own code page has none. Characters the tests
// use, as bytes: ア 83 41, プ 83 76, リ 83 8A, ソ 83 5C, 表 95 5C.
#pragma once

#include "platform/lead_bytes.h"

namespace orvik::test {

inline LeadByteTable CodePage932LeadBytes() {
  LeadByteTable table;
  for (unsigned byte = 0x81; byte <= 0x9F; ++byte) table.lead[byte] = true;
  for (unsigned byte = 0xE0; byte <= 0xFC; ++byte) table.lead[byte] = true;
  table.any = true;
  return table;
}

// Code page 932's lead bytes in the place of the system's for one test.
class CodePage932 {
 public:
  CodePage932() : scope_(CodePage932LeadBytes()) {}

 private:
  ScopedLeadBytes scope_;
};

}  // namespace orvik::test
