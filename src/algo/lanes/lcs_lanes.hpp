// Longest common subsequences of one text with a block of short patterns at
// once: the Allison-Dix / Hyyrö bit-parallel column on every lane of a
// vector. The counts are those of lcs_length on the same code points; same
// use and threading as LevenshteinBlock's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "algo/lanes/lane_kernels.hpp"
#include "algo/lanes/lane_patterns.hpp"

namespace kivo::lanes {

class LcsBlock {
 public:
  // The conditions on the patterns are LanePatterns'.
  explicit LcsBlock(std::span<const std::u32string_view> patterns, Isa isa = simd::active(),
                    std::size_t alphabet = 0);

  std::size_t size() const { return patterns_.count; }

  // out[l] = the LCS of `text` and pattern l, for l < size().
  void lengths(std::u32string_view text, std::uint32_t* out) const;
  void lengths(std::u32string_view text, std::u32string_view text2, std::uint32_t* out,
               std::uint32_t* out2) const;
  // Every text's LCS, in one call: pattern l's with texts[t] at
  // out[l * texts.size() + t].
  void lengths(std::span<const std::u32string_view> texts, std::uint32_t* out) const;
  // Returns the lanes whose LCS reaches needs[l]; out[l] holds it for those
  // lanes only. The pass stops as soon as no lane can reach its need.
  std::uint64_t lengths(std::u32string_view text, const std::uint32_t* needs,
                        std::uint32_t* out) const;

 private:
  LcsCall call(std::u32string_view text, const std::uint32_t* needs, std::uint32_t* out) const;

  LanePatterns patterns_;
  LcsEntry entry_;
};

}  // namespace kivo::lanes
