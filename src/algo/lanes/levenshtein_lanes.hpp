// Levenshtein distances from one text to a block of short patterns at once:
// Myers' column step (1999, in Hyyrö's formulation) on every lane. The
// distances are those of levenshtein_distance on the same code points.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

#include "algo/lanes/edit_lanes.hpp"

namespace kivo::lanes {

class LevenshteinBlock : public EditLanes {
 public:
  explicit LevenshteinBlock(std::span<const std::u32string_view> patterns, Isa isa = simd::active(),
                            std::size_t alphabet = 0)
      : EditLanes(patterns, isa, alphabet, &LaneKernels::levenshtein) {}
};

}  // namespace kivo::lanes
