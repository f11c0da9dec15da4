// Jaro-Winkler similarities between one text and a block of short patterns
// at once. Each lane matches greedily inside the window with the pattern's
// position masks, one vector step per character of the text. The greedy
// matching pairs the same positions whichever text leads, so the results
// equal jaro_winkler_similarity(pattern, text) and (text, pattern), to the bit.
//
// Same use and threading as LevenshteinBlock; texts too must fit_lanes().
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

#include "algo/lanes/lane_kernels.hpp"
#include "algo/lanes/lane_patterns.hpp"

namespace kivo::lanes {

class JaroWinklerBlock {
 public:
  // The conditions on the patterns are LanePatterns'.
  explicit JaroWinklerBlock(std::span<const std::u32string_view> patterns, Isa isa = simd::active(),
                            std::size_t alphabet = 0);

  std::size_t size() const { return patterns_.count; }

  // out[l] = the similarity of `text` (fits_lanes(), or std::invalid_argument)
  // and pattern l, for l < size().
  void similarities(std::u32string_view text, double* out) const;

 private:
  LanePatterns patterns_;
  LaneRow halves_{};      // max(1, m / 2) - 1
  LaneRow half_masks_{};  // bits 0 .. max(1, m / 2) - 1
  JaroWinklerEntry entry_;
};

}  // namespace kivo::lanes
