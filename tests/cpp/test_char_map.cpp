// The code-point map under characters chosen to share one slot of an unkeyed
// multiplicative hash (Fibonacci hashing, which these tables once used).
#include <algorithm>
#include <cstdint>
#include <vector>

#include "algo/char_map.hpp"
#include "harness.hpp"

using namespace kivo;

TEST(code_points_crafted_against_a_fixed_hash_spread_over_the_map) {
  constexpr std::size_t kKeys = 4096;
  unsigned bits = bitpar::slot_bits(kKeys);
  std::vector<char32_t> crafted;  // all within the first 64 of 8192 unkeyed slots
  for (char32_t c = 0x80; c < 0x110000 && crafted.size() <= kKeys; ++c) {
    bool surrogate = c >= 0xD800 && c < 0xE000;
    if (!surrogate && (std::uint32_t(c * 0x9E3779B1u) >> (32 - bits)) < 64) crafted.push_back(c);
  }
  char32_t outsider = crafted.back();
  crafted.pop_back();

  bitpar::CodePointMap<std::uint32_t, 0> map(kKeys);
  for (std::size_t i = 0; i < kKeys; ++i) map[crafted[i]] = std::uint32_t(i + 1);
  std::size_t total = 0, longest = 0;
  for (std::size_t i = 0; i < kKeys; ++i) {
    CHECK_EQ(map.find(crafted[i]), std::uint32_t(i + 1));
    total += map.probe_length(crafted[i]);
    longest = std::max(longest, map.probe_length(crafted[i]));
  }
  CHECK_EQ(map.find(outsider), 0u);
  // Half full with random slots: 1.5 probes on average; one shared slot: 2048.
  CHECK(total <= 3 * kKeys);
  CHECK(longest <= 128);
}
