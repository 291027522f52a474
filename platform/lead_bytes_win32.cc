// Lead bytes on Windows: IsDBCSLeadByteEx for the ANSI code page.
#include "platform/lead_bytes.h"
#include "platform/platform.h"

namespace orvik {

LeadByteTable SystemLeadBytes() {
  LeadByteTable table;
  for (unsigned byte = 0x80; byte <= 0xFF; ++byte) {
    if (IsDBCSLeadByteEx(CP_ACP, static_cast<BYTE>(byte))) {
      table.lead[byte] = true;
      table.any = true;
    }
  }
  return table;
}

}  // namespace orvik
