// The lane operations of the kernels on plain arrays: the definition the
// vector versions must match, and the path on processors without them. A
// compiler turns most of these loops into whatever vectors the target has.
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "algo/lanes/lane_masks.hpp"
#include "base/bits.hpp"

namespace kivo::lanes {

template <unsigned Bits>
using LaneUnsigned =
    std::conditional_t<Bits == 16, std::uint16_t,
                       std::conditional_t<Bits == 32, std::uint32_t, std::uint64_t>>;
template <unsigned Bits>
using LaneSigned = std::make_signed_t<LaneUnsigned<Bits>>;

// Every lane set of `kLanes` lanes takes operations on whole vectors of lanes
// (V), per-lane truth values (Mask), loads of mask rows, and stores of the
// lanes as signed integers.
template <unsigned Bits>
struct PortableLanes {
  using Lane = LaneUnsigned<Bits>;
  using Signed = LaneSigned<Bits>;
  static constexpr unsigned kBits = Bits;
  static constexpr unsigned kLanes = 256 / Bits;
  struct V {
    Lane x[kLanes];
  };
  using Mask = std::uint64_t;  // bit l: lane l

  template <class F>
  static V map(V a, V b, F f) {
    V r;
    for (unsigned l = 0; l < kLanes; ++l) r.x[l] = Lane(f(a.x[l], b.x[l]));
    return r;
  }
  template <class F>
  static Mask test(V a, V b, F f) {
    Mask m = 0;
    for (unsigned l = 0; l < kLanes; ++l) m |= Mask(f(a.x[l], b.x[l])) << l;
    return m;
  }

  static V load(const LaneRow* row) {
    V v;
    std::memcpy(v.x, row->bytes, sizeof v.x);
    return v;
  }
  static V load_lanes(const Signed* in) {
    V v;
    std::memcpy(v.x, in, sizeof v.x);
    return v;
  }
  static void store(Signed* out, V v) { std::memcpy(out, v.x, sizeof v.x); }
  static V splat(std::uint64_t value) {
    V v;
    for (Lane& x : v.x) x = Lane(value);
    return v;
  }
  static V zero() { return splat(0); }

  static V bit_and(V a, V b) {
    return map(a, b, [](Lane x, Lane y) { return x & y; });
  }
  static V bit_or(V a, V b) {
    return map(a, b, [](Lane x, Lane y) { return x | y; });
  }
  static V bit_xor(V a, V b) {
    return map(a, b, [](Lane x, Lane y) { return x ^ y; });
  }
  static V and_not(V a, V b) {  // a & ~b
    return map(a, b, [](Lane x, Lane y) { return x & Lane(~y); });
  }
  static V add(V a, V b) {
    return map(a, b, [](Lane x, Lane y) { return x + y; });
  }
  static V sub(V a, V b) {
    return map(a, b, [](Lane x, Lane y) { return x - y; });
  }
  static V shl1(V a) { return add(a, a); }
  // Logical shift right; counts of the lane width or more give 0.
  static V shr(V a, std::uint64_t count) {
    for (Lane& x : a.x) x = count >= Bits ? 0 : Lane(x >> count);
    return a;
  }
  static V popcount(V a) {
    for (Lane& x : a.x) x = Lane(bits::popcount64(x));
    return a;
  }

  static Mask greater(V a, V b) {  // signed
    return test(a, b, [](Lane x, Lane y) { return Signed(x) > Signed(y); });
  }
  static Mask nonzero(V a) {
    return test(a, a, [](Lane x, Lane) { return x != 0; });
  }
  static Mask is_zero(V a) {
    return test(a, a, [](Lane x, Lane) { return x == 0; });
  }
  static Mask either(Mask a, Mask b) { return a | b; }
  static Mask both(Mask a, Mask b) { return a & b; }
  static bool all(Mask m) { return m == low_bits(kLanes); }
  static bool any(Mask m) { return m != 0; }
  static V count_if(V a, Mask m) {  // + 1 in the lanes of m
    for (unsigned l = 0; l < kLanes; ++l) a.x[l] = Lane(a.x[l] + ((m >> l) & 1));
    return a;
  }
  static V keep(V a, Mask m) {  // a in the lanes of m, 0 elsewhere
    for (unsigned l = 0; l < kLanes; ++l) a.x[l] = (m >> l) & 1 ? a.x[l] : 0;
    return a;
  }
};

}  // namespace kivo::lanes
