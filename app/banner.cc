// The banner: a title line, the copyright line (stored only scrambled) and
// an empty line.
#include "app/banner.h"

#include <string_view>

#include "app/unscramble.h"

namespace orvik {

namespace {

constexpr std::string_view kTitle = "Corvane Registry Console Tool 1.0";

// The copyright line, 31 characters, in its stored form.
constexpr std::string_view kStoredCopyright =
    "\x4E\x7B\x7D\x87\x81\x79\x78\x7A\x87\x34\x3D\x79\x40\x38\x4B\x4A"
    "\x4D\x52\x3D\x61\x8E\x92\x97\x83\x91\x89\x45\x6F\x95\x8B\x57";

}  // namespace

std::string BannerCopyrightLine() { return Unscramble(kStoredCopyright); }

void PrintBanner(Console& out) {
  out.Line(kTitle);
  out.Line(BannerCopyrightLine());
  out.Line("");
}

}  // namespace orvik
