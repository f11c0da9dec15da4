#include "algo/lanes/lcs_lanes.hpp"

namespace kivo::lanes {

LcsBlock::LcsBlock(std::span<const std::u32string_view> patterns, Isa isa)
    : shape_(block_shape(patterns, isa)),
      count_(patterns.size()),
      masks_(patterns, shape_),
      entry_(kernels_for(isa).lcs[width_index(shape_)]) {
  for (std::size_t l = 0; l < count_; ++l) {
    put_lane(lengths_, shape_, l, patterns[l].size());
    put_lane(length_masks_, shape_, l, low_bits(patterns[l].size()));
  }
}

void LcsBlock::lengths(std::u32string_view text, std::uint32_t* out) const {
  entry_({&masks_, &lengths_, &length_masks_, count_, text.data(), text.size(), nullptr, out});
}

void LcsBlock::lengths(std::u32string_view text, std::u32string_view text2, std::uint32_t* out,
                       std::uint32_t* out2) const {
  entry_({&masks_, &lengths_, &length_masks_, count_, text.data(), text.size(), nullptr, out,
          text2.data(), text2.size(), out2});
}

std::uint64_t LcsBlock::lengths(std::u32string_view text, const std::uint32_t* needs,
                                std::uint32_t* out) const {
  return entry_({&masks_, &lengths_, &length_masks_, count_, text.data(), text.size(), needs, out});
}

}  // namespace kivo::lanes
