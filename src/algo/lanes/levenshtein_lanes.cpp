#include "algo/lanes/levenshtein_lanes.hpp"

#include "algo/lanes/lane_kernels.hpp"

namespace kivo::lanes {

LevenshteinBlock::LevenshteinBlock(std::span<const std::u32string_view> patterns, Isa isa,
                                   std::size_t alphabet)
    : shape_(block_shape(patterns, isa)),
      count_(patterns.size()),
      masks_(patterns, shape_, alphabet),
      entry_(kernels_for(isa).levenshtein[width_index(shape_)]) {
  for (std::size_t l = 0; l < count_; ++l) {
    put_lane(lengths_, shape_, l, patterns[l].size());
    put_lane(length_masks_, shape_, l, low_bits(patterns[l].size()));
  }
  for (std::size_t l = count_; l < shape_.lanes; ++l) put_lane(unused_, shape_, l, ~0ull);
}

std::uint64_t LevenshteinBlock::distances(std::u32string_view text, const std::uint32_t* bounds,
                                          std::uint32_t* out) const {
  return entry_({&masks_, &lengths_, &length_masks_, &unused_, count_, text.data(), text.size(),
                 true, 0, bounds, out});
}

void LevenshteinBlock::distances(std::u32string_view text, std::uint32_t* out) const {
  entry_({&masks_, &lengths_, &length_masks_, &unused_, count_, text.data(), text.size(), false,
          kNoBound, nullptr, out});
}

void LevenshteinBlock::distances(std::u32string_view text, std::u32string_view text2,
                                 std::uint32_t* out, std::uint32_t* out2) const {
  entry_({&masks_, &lengths_, &length_masks_, &unused_, count_, text.data(), text.size(), false,
          kNoBound, nullptr, out, text2.data(), text2.size(), out2});
}

std::uint64_t LevenshteinBlock::distances(std::u32string_view text, std::uint32_t bound,
                                          std::uint32_t* out) const {
  return entry_({&masks_, &lengths_, &length_masks_, &unused_, count_, text.data(), text.size(),
                 bound != kNoBound, bound, nullptr, out});
}

}  // namespace kivo::lanes
