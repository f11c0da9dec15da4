#include "algo/lanes/osa_lanes.hpp"

namespace kivo::lanes {

OsaBlock::OsaBlock(std::span<const std::u32string_view> patterns, Isa isa)
    : shape_(block_shape(patterns, isa)),
      count_(patterns.size()),
      masks_(patterns, shape_),
      entry_(kernels_for(isa).osa[width_index(shape_)]) {
  for (std::size_t l = 0; l < count_; ++l) {
    put_lane(lengths_, shape_, l, patterns[l].size());
    put_lane(length_masks_, shape_, l, low_bits(patterns[l].size()));
  }
  for (std::size_t l = count_; l < shape_.lanes; ++l) put_lane(unused_, shape_, l, ~0ull);
}

LevenshteinCall OsaBlock::call(std::u32string_view text, const std::uint32_t* bounds,
                               std::uint32_t* out) const {
  return {&masks_,           &lengths_, &length_masks_, &unused_, count_, text.data(), text.size(),
          bounds != nullptr, 0,         bounds,         out};
}

void OsaBlock::distances(std::u32string_view text, std::uint32_t* out) const {
  entry_(call(text, nullptr, out));
}

void OsaBlock::distances(std::u32string_view text, std::u32string_view text2, std::uint32_t* out,
                         std::uint32_t* out2) const {
  LevenshteinCall c = call(text, nullptr, out);
  c.text2 = text2.data();
  c.n2 = text2.size();
  c.out2 = out2;
  entry_(c);
}

std::uint64_t OsaBlock::distances(std::u32string_view text, const std::uint32_t* bounds,
                                  std::uint32_t* out) const {
  return entry_(call(text, bounds, out));
}

}  // namespace kivo::lanes
