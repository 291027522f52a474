// The banner's second line is stored scrambled; this turns it back.
#pragma once

#include <string>
#include <string_view>

namespace orvik {

// Each character at 1-based position p is lowered by 10 + p, modulo 256.
// The result has the length of the stored text.
std::string Unscramble(std::string_view stored);

}  // namespace orvik
