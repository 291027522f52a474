// Lead bytes on POSIX: the registry platform's ANSI code page is UTF-8, in
// which every byte of a multi-byte character lies above 127, so no byte
// after another can be taken for an ASCII letter or a backslash.
#include "platform/lead_bytes.h"

namespace orvik {

LeadByteTable SystemLeadBytes() { return LeadByteTable{}; }

}  // namespace orvik
