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

// Byte masks against the pattern read one byte at a time, for every length
// of one word and every byte, NUL and the bytes past the pattern included.
TEST(byte_masks_mark_every_position_of_each_byte) {
  std::vector<std::uint8_t> bytes(64);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = std::uint8_t((i * 37) % 7 * 41);
  for (std::size_t m = 1; m <= 64; ++m) {
    std::span<const std::uint8_t> pattern(bytes.data(), m);
    auto check = [&](const auto& masks) {
      for (unsigned c = 0; c < 256; ++c) {
        std::uint64_t want = 0;
        for (std::size_t i = 0; i < m; ++i) want |= std::uint64_t(pattern[i] == c) << i;
        CHECK_EQ(masks.get(std::uint8_t(c)), want);
      }
    };
    if (m <= 16) check(bitpar::ByteMasks<1>(pattern));
    if (m <= 32) check(bitpar::ByteMasks<2>(pattern));
    check(bitpar::ByteMasks<4>(pattern));
  }
}

// Lasting masks against the pattern read one character at a time, for
// patterns mixing Latin-1 and wider code points, looked up as bytes and as
// code points; a pattern past one word has none.
TEST(lasting_masks_mark_every_position_of_each_code_point) {
  const std::vector<char32_t> alphabet = {U'a', U'\xFF', U'\x100', U'\x4E2D', U'\x1F600', 0};
  std::vector<char32_t> text(65);
  for (std::size_t i = 0; i < text.size(); ++i) text[i] = alphabet[(i * 5 + i / 7) % 6];
  for (std::size_t m : {1, 2, 17, 63, 64, 65}) {
    std::span<const char32_t> pattern(text.data(), m);
    bitpar::LastingWordMasks masks(pattern);
    for (char32_t c : alphabet) {
      std::uint64_t want = 0;
      for (std::size_t i = 0; m <= 64 && i < m; ++i) want |= std::uint64_t(pattern[i] == c) << i;
      CHECK_EQ(masks.get(c), want);
      if (c < 256) CHECK_EQ(masks.get(std::uint8_t(c)), want);
    }
  }
}
