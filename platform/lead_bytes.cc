// The ANSI code page's lead bytes: the system's, or a table put in their
// place by ScopedLeadBytes.
#include "platform/lead_bytes.h"

namespace orvik {

namespace {

const LeadByteTable* g_in_place = nullptr;

}  // namespace

const LeadByteTable& AnsiLeadBytes() {
  if (g_in_place != nullptr) return *g_in_place;
  static const LeadByteTable system = SystemLeadBytes();
  return system;
}

ScopedLeadBytes::ScopedLeadBytes(const LeadByteTable& table)
    : table_(table), previous_(g_in_place) {
  g_in_place = &table_;
}

ScopedLeadBytes::~ScopedLeadBytes() { g_in_place = previous_; }

}  // namespace orvik
