// What every lane block keeps of its patterns: their shape, their masks,
// and per lane the pattern's length, the mask of its rows and, past the
// patterns, all bits set.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

#include "algo/lanes/lane_masks.hpp"
#include "algo/lanes/lane_shape.hpp"

namespace kivo::lanes {

struct LanePatterns {
  // Each pattern fits_lanes(); at most shape_for(isa, longest).lanes of
  // them; `isa` simd::supported(). Otherwise throws std::invalid_argument.
  // With an `alphabet`, texts and patterns are in character numbers below
  // it (see LaneMasks).
  LanePatterns(std::span<const std::u32string_view> patterns, Isa isa, std::size_t alphabet);

  Shape shape;
  std::size_t count;
  LaneMasks masks;
  LaneRow lengths{};
  LaneRow length_masks{};  // rows 1 .. m of each lane: bits 0 .. m - 1
  LaneRow unused{};        // all bits set in the lanes past count
};

}  // namespace kivo::lanes
