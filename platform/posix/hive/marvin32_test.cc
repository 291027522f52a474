// Marvin32 against its published test vectors: every tail length from 0 to
// 7 bytes, seeds with high bits set, and single bytes at both extremes.
#include "platform/posix/hive/marvin32.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orvik::posix::hive {
namespace {

std::vector<uint8_t> FromHex(const std::string& hex) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

TEST(Marvin32Test, PublishedVectors) {
  constexpr uint64_t kSeed1 = 0x004FB61A001BDBCCULL;
  constexpr uint64_t kSeed2 = 0x804FB61A001BDBCCULL;
  constexpr uint64_t kSeed3 = 0x804FB61A801BDBCCULL;
  const struct {
    uint64_t seed;
    const char* data;
    uint64_t hash;
  } cases[] = {
      {kSeed1, "", 0x30ED35C100CD3C7DULL},
      {kSeed1, "af", 0x48E73FC77D75DDC1ULL},
      {kSeed1, "e70f", 0xB5F6E1FC485DBFF8ULL},
      {kSeed1, "37f495", 0xF0B07C789B8CF7E8ULL},
      {kSeed1, "8642dc59", 0x7008F2E87E9CF556ULL},
      {kSeed1, "153fb79826", 0xE6C08C6DA2AFA997ULL},
      {kSeed1, "0932e6246c47", 0x6F04BF1A5EA24060ULL},
      {kSeed1, "ab427ea8d10fc7", 0xE11847E4F0678C41ULL},
      {kSeed2, "", 0x10A9D5D3996FD65DULL},
      {kSeed2, "153fb79826", 0x0A06114B13464DBDULL},
      {kSeed2, "ab427ea8d10fc7", 0xE203987DBA252FB3ULL},
      {kSeed3, "00", 0xA37FB0DA2ECAE06CULL},
      {kSeed3, "FF", 0xFECEF370701AE054ULL},
      {kSeed3, "FF00FF", 0x9D8577C0FE0D30BFULL},
      {kSeed3, "00FF00FF", 0x24EAA279D9A529CAULL},
      {kSeed3, "FF00FF00FF", 0x920B62BBCA3E0B72ULL},
      {kSeed3, "FF00FF00FF00FF", 0xFDFD187B1D3CE784ULL},
  };
  for (const auto& c : cases) {
    const std::vector<uint8_t> data = FromHex(c.data);
    EXPECT_EQ(Marvin32(data.data(), data.size(), c.seed), c.hash) << c.data;
  }
}

}  // namespace
}  // namespace orvik::posix::hive
