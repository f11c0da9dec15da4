#include "algo/lanes/lane_shape.hpp"

#include <algorithm>
#include <stdexcept>

namespace kivo::lanes {

Shape shape_for(Isa isa, std::size_t longest) {
  unsigned bits = longest <= 8 ? 8 : longest <= 16 ? 16 : longest <= 32 ? 32 : 64;
  unsigned vector_bits = isa == Isa::Avx512 ? 512 : 256;
  return {bits, vector_bits / bits};
}

Shape block_shape(std::span<const std::u32string_view> patterns, Isa isa) {
  std::size_t longest = 0;
  for (std::u32string_view p : patterns) longest = std::max(longest, p.size());
  Shape shape = shape_for(isa, longest);
  if (!simd::supported(isa))
    throw std::invalid_argument("lane block: instruction set not supported");
  if (!fits_lanes(longest)) throw std::invalid_argument("lane block: pattern too long");
  if (patterns.size() > shape.lanes) throw std::invalid_argument("lane block: too many patterns");
  return shape;
}

std::size_t lanes_to_take(std::span<const std::u32string_view> patterns, Isa isa) {
  std::size_t best = 0;
  for (std::size_t longest : {8u, 16u, 32u, 64u}) {
    std::size_t room = std::min<std::size_t>(shape_for(isa, longest).lanes, patterns.size());
    std::size_t fit = 0;
    while (fit < room && patterns[fit].size() <= longest) ++fit;
    best = std::max(best, fit);
  }
  return best;
}

}  // namespace kivo::lanes
