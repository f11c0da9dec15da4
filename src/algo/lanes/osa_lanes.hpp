// Optimal string alignment distances from one text to a block of short
// patterns at once: Hyyrö's OSA column step on every lane. The distances are
// those of osa_distance on the same code points.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

#include "algo/lanes/edit_lanes.hpp"

namespace kivo::lanes {

class OsaBlock : public EditLanes {
 public:
  explicit OsaBlock(std::span<const std::u32string_view> patterns, Isa isa = simd::active(),
                    std::size_t alphabet = 0)
      : EditLanes(patterns, isa, alphabet, &LaneKernels::osa) {}
};

}  // namespace kivo::lanes
