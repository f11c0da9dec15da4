// The lane operations in the compiler's generic vectors (GCC and Clang
// vector extensions): 256 bits of lanes that the compiler maps onto whatever
// vector unit the baseline target has (two SSE2 registers on plain x86-64,
// NEON elsewhere). The path for processors without AVX2, and the reference
// the other paths are tested against.
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "algo/lanes/lane_masks.hpp"

namespace kivo::lanes {

template <unsigned Bits>
using LaneUnsigned = std::conditional_t<
    Bits == 8, std::uint8_t,
    std::conditional_t<Bits == 16, std::uint16_t,
                       std::conditional_t<Bits == 32, std::uint32_t, std::uint64_t>>>;
template <unsigned Bits>
using LaneSigned = std::make_signed_t<LaneUnsigned<Bits>>;

// Every set of lane operations provides vectors of kLanes lanes (V), per-lane
// truth values (Mask), loads of mask rows and of signed lanes, and stores of
// the lanes as signed integers.
template <unsigned Bits>
struct PortableLanes {
  using Lane = LaneUnsigned<Bits>;
  using Signed = LaneSigned<Bits>;
  static constexpr unsigned kBits = Bits;
  static constexpr unsigned kLanes = 256 / Bits;
  typedef Lane V __attribute__((vector_size(32)));
  typedef Signed SignedV __attribute__((vector_size(32)));
  using Mask = V;  // all bits set in a lane that holds, none where it does not

  static V load(const LaneRow* row) {
    V v;
    std::memcpy(&v, row->bytes, sizeof v);
    return v;
  }
  static V load_lanes(const Signed* in) {
    V v;
    std::memcpy(&v, in, sizeof v);
    return v;
  }
  static void store(Signed* out, V v) { std::memcpy(out, &v, sizeof v); }
  static V splat(std::uint64_t value) { return V{} + Lane(value); }
  static V zero() { return V{}; }

  static V bit_and(V a, V b) { return a & b; }
  static V bit_or(V a, V b) { return a | b; }
  static V bit_xor(V a, V b) { return a ^ b; }
  static V and_not(V a, V b) { return a & ~b; }
  static V add(V a, V b) { return a + b; }
  static V sub(V a, V b) { return a - b; }
  static V shl1(V a) { return a + a; }
  // Logical shifts; counts of the lane width or more give 0.
  static V shl(V a, std::uint64_t count) { return count >= Bits ? V{} : a << Lane(count); }
  static V shr(V a, std::uint64_t count) { return count >= Bits ? V{} : a >> Lane(count); }
  // Bits per lane by the usual halving sums, done on every lane at once.
  static V popcount(V x) {
    constexpr Lane ones = Lane(~Lane(0));
    x = x - ((x >> 1) & Lane(ones / 3));
    x = (x & Lane(ones / 15 * 3)) + ((x >> 2) & Lane(ones / 15 * 3));
    x = (x + (x >> 4)) & Lane(ones / 255 * 15);
    for (unsigned shift = 8; shift < Bits; shift *= 2) x = x + (x >> shift);
    return x & Lane(0xFF);
  }

  static Mask greater(V a, V b) { return V(SignedV(a) > SignedV(b)); }
  static Mask nonzero(V a) { return V(a != 0); }
  static Mask is_zero(V a) { return V(a == 0); }
  static Mask either(Mask a, Mask b) { return a | b; }
  static Mask both(Mask a, Mask b) { return a & b; }
  static bool all(Mask m) {
    return fold(m, [](std::uint64_t x, std::uint64_t y) { return x & y; }) == ~std::uint64_t(0);
  }
  static bool any(Mask m) {
    return fold(m, [](std::uint64_t x, std::uint64_t y) { return x | y; }) != 0;
  }
  static std::uint64_t bits(Mask m) {  // bit l: lane l
    std::uint64_t out = 0;
    for (unsigned l = 0; l < kLanes; ++l) out |= std::uint64_t(m[l] & 1) << l;
    return out;
  }
  static V count_if(V a, Mask m) { return a - m; }  // a lane of m is -1
  static V keep(V a, Mask m) { return a & m; }

 private:
  template <class F>
  static std::uint64_t fold(Mask m, F f) {
    std::uint64_t words[4];
    std::memcpy(words, &m, sizeof words);
    return f(f(words[0], words[1]), f(words[2], words[3]));
  }
};

}  // namespace kivo::lanes
