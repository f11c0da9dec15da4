#include "algo/lanes/lane_isa.hpp"

#include <algorithm>
#include <stdexcept>

#include "base/cpu.hpp"

namespace kivo::lanes {

bool supported(Isa isa) {
#ifdef KIVO_LANES_X86
  const cpu::Features& has = cpu::features();
  switch (isa) {
#ifdef KIVO_SANITIZE
    // GCC 12's ASan (with its fake stack) mis-addresses the 64-byte spills of
    // these kernels, so sanitizer builds check the AVX2 and portable paths;
    // the release tests hold the AVX-512 path to the same answers.
    case Isa::Avx512: return false;
#else
    case Isa::Avx512: return has.avx512f && has.avx512bw;
#endif
    case Isa::Avx2: return has.avx2;
    case Isa::Portable: return true;
  }
  return false;
#else
  return isa == Isa::Portable;
#endif
}

Isa best_isa() {
  static const Isa best = supported(Isa::Avx512) ? Isa::Avx512
                          : supported(Isa::Avx2) ? Isa::Avx2
                                                 : Isa::Portable;
  return best;
}

Shape shape_for(Isa isa, std::size_t longest) {
  unsigned bits = longest <= 16 ? 16 : longest <= 32 ? 32 : 64;
  unsigned vector_bits = isa == Isa::Avx512 ? 512 : 256;
  return {bits, vector_bits / bits};
}

Shape block_shape(std::span<const std::u32string_view> patterns, Isa isa) {
  std::size_t longest = 0;
  for (std::u32string_view p : patterns) longest = std::max(longest, p.size());
  Shape shape = shape_for(isa, longest);
  if (!supported(isa)) throw std::invalid_argument("lane block: instruction set not supported");
  if (!fits_lanes(longest)) throw std::invalid_argument("lane block: pattern too long");
  if (patterns.size() > shape.lanes) throw std::invalid_argument("lane block: too many patterns");
  return shape;
}

std::size_t lanes_to_take(std::span<const std::u32string_view> patterns, Isa isa) {
  std::size_t best = 0;
  for (std::size_t longest : {16u, 32u, 64u}) {
    std::size_t room = std::min<std::size_t>(shape_for(isa, longest).lanes, patterns.size());
    std::size_t fit = 0;
    while (fit < room && patterns[fit].size() <= longest) ++fit;
    best = std::max(best, fit);
  }
  return best;
}

}  // namespace kivo::lanes
