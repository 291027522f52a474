// Unscrambles stored texts: position p is lowered by 10 + p, modulo 256.
#include "app/unscramble.h"

namespace orvik {

std::string Unscramble(std::string_view stored) {
  std::string plain(stored);
  for (size_t i = 0; i < plain.size(); ++i) {
    const unsigned code = static_cast<unsigned char>(plain[i]);
    const unsigned shift = static_cast<unsigned>((10 + i + 1) % 256);
    plain[i] = static_cast<char>(static_cast<unsigned char>((code + 256 - shift) % 256));
  }
  return plain;
}

}  // namespace orvik
