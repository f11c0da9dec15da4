#include "algo/lanes/lane_patterns.hpp"

namespace kivo::lanes {

LanePatterns::LanePatterns(std::span<const std::u32string_view> patterns, Isa isa,
                           std::size_t alphabet)
    : shape(block_shape(patterns, isa)), count(patterns.size()), masks(patterns, shape, alphabet) {
  for (std::size_t l = 0; l < count; ++l) {
    put_lane(lengths, shape, l, patterns[l].size());
    put_lane(length_masks, shape, l, low_bits(patterns[l].size()));
  }
  for (std::size_t l = count; l < shape.lanes; ++l) put_lane(unused, shape, l, ~0ull);
}

}  // namespace kivo::lanes
