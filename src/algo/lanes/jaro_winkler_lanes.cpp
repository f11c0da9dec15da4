#include "algo/lanes/jaro_winkler_lanes.hpp"

#include <algorithm>
#include <stdexcept>

#include "algo/lanes/lane_kernels.hpp"

namespace kivo::lanes {

JaroWinklerBlock::JaroWinklerBlock(std::span<const std::u32string_view> patterns, Isa isa,
                                   std::size_t alphabet)
    : shape_(block_shape(patterns, isa)),
      count_(patterns.size()),
      masks_(patterns, shape_, alphabet),
      entry_(kernels_for(isa).jaro_winkler[width_index(shape_)]) {
  for (std::size_t l = 0; l < count_; ++l) {
    std::size_t half = std::max<std::size_t>(1, patterns[l].size() / 2);
    put_lane(lengths_, shape_, l, patterns[l].size());
    put_lane(halves_, shape_, l, half - 1);
    put_lane(half_masks_, shape_, l, low_bits(half));
  }
}

void JaroWinklerBlock::similarities(std::u32string_view text, double* out) const {
  if (!fits_lanes(text.size())) throw std::invalid_argument("JaroWinklerBlock: text too long");
  entry_({&masks_, &lengths_, &halves_, &half_masks_, count_, text.data(), text.size(), out});
}

}  // namespace kivo::lanes
