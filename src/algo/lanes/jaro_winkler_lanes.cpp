#include "algo/lanes/jaro_winkler_lanes.hpp"

#include <algorithm>
#include <stdexcept>

#include "algo/lanes/lane_kernels.hpp"

namespace kivo::lanes {

JaroWinklerBlock::JaroWinklerBlock(std::span<const std::u32string_view> patterns, Isa isa,
                                   std::size_t alphabet)
    : patterns_(patterns, isa, alphabet),
      entry_(kernels_for(isa).jaro_winkler[width_index(patterns_.shape)]) {
  Shape shape = patterns_.shape;
  for (std::size_t l = 0; l < patterns_.count; ++l) {
    std::size_t half = std::max<std::size_t>(1, patterns[l].size() / 2);
    put_lane(halves_, shape, l, half - 1);
    put_lane(half_masks_, shape, l, low_bits(half));
  }
}

void JaroWinklerBlock::similarities(std::u32string_view text, double* out) const {
  if (!fits_lanes(text.size())) throw std::invalid_argument("JaroWinklerBlock: text too long");
  const LanePatterns& p = patterns_;
  entry_({&p.masks, &p.lengths, &halves_, &half_masks_, p.count, text.data(), text.size(), out});
}

}  // namespace kivo::lanes
