// How patterns are packed into the lanes of the many-patterns-at-once
// kernels: up to 64 characters per pattern, one bit per character, in lanes
// of 8, 16, 32 or 64 bits. A vector holds 256 bits (AVX2, and the portable
// path, written with generic vectors) or 512 bits (AVX-512), so shorter
// patterns get more lanes per vector.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

#include "base/simd.hpp"

namespace kivo::lanes {

using simd::Isa;

inline constexpr std::size_t kMaxPatternLength = 64;

// Whether a text of `length` characters can be a pattern of a block.
inline bool fits_lanes(std::size_t length) {
  return length <= kMaxPatternLength;
}

struct Shape {
  unsigned bits;   // per lane: 8, 16, 32 or 64
  unsigned lanes;  // per vector
};

// The narrowest lanes holding patterns of up to `longest` characters.
Shape shape_for(Isa isa, std::size_t longest);

// The shape of a block holding `patterns`; throws std::invalid_argument when
// `isa` is not simd::supported(), a pattern does not fit_lanes(), or there
// are more patterns than lanes.
Shape block_shape(std::span<const std::u32string_view> patterns, Isa isa);

// How many of the leading patterns one block should hold: the most that one
// lane width packs together (0 when the first one does not fit_lanes()).
// Sorting patterns by length first keeps blocks full.
std::size_t lanes_to_take(std::span<const std::u32string_view> patterns, Isa isa);

}  // namespace kivo::lanes
