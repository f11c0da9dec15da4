// The lane operations with AVX2 intrinsics, compiled for AVX2 whatever the
// file's flags; only a kernel of lane_kernels_avx2.cpp, in the same target
// region, runs them.
#pragma once

#include "base/simd_target.hpp"

#ifdef KIVO_SIMD_X86
#include <immintrin.h>

#include <cstdint>

#include "algo/lanes/lane_masks.hpp"
#include "algo/lanes/lane_ops_portable.hpp"

KIVO_TARGET_AVX2_BEGIN
namespace kivo::lanes {

// Mask of lanes: all bits set in a lane that holds, none where it does not.
template <unsigned Bits>
struct Avx2Lanes {
  using V = __m256i;
  using Mask = __m256i;
  using Signed = LaneSigned<Bits>;
  static constexpr unsigned kBits = Bits;
  static constexpr unsigned kLanes = 256 / Bits;

  static V load(const LaneRow* row) {
    return _mm256_load_si256(reinterpret_cast<const __m256i*>(row->bytes));
  }
  static V load_lanes(const Signed* in) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in));
  }
  static void store(Signed* out, V v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), v); }
  static V splat(std::uint64_t value) {
    if constexpr (Bits == 8) return _mm256_set1_epi8(char(value));
    if constexpr (Bits == 16) return _mm256_set1_epi16(short(value));
    if constexpr (Bits == 32) return _mm256_set1_epi32(int(value));
    if constexpr (Bits == 64) return _mm256_set1_epi64x((long long)(value));
  }
  static V zero() { return _mm256_setzero_si256(); }

  static V bit_and(V a, V b) { return _mm256_and_si256(a, b); }
  static V bit_or(V a, V b) { return _mm256_or_si256(a, b); }
  static V bit_xor(V a, V b) { return _mm256_xor_si256(a, b); }
  static V and_not(V a, V b) { return _mm256_andnot_si256(b, a); }
  static V add(V a, V b) {
    if constexpr (Bits == 8) return _mm256_add_epi8(a, b);
    if constexpr (Bits == 16) return _mm256_add_epi16(a, b);
    if constexpr (Bits == 32) return _mm256_add_epi32(a, b);
    if constexpr (Bits == 64) return _mm256_add_epi64(a, b);
  }
  static V sub(V a, V b) {
    if constexpr (Bits == 8) return _mm256_sub_epi8(a, b);
    if constexpr (Bits == 16) return _mm256_sub_epi16(a, b);
    if constexpr (Bits == 32) return _mm256_sub_epi32(a, b);
    if constexpr (Bits == 64) return _mm256_sub_epi64(a, b);
  }
  static V shl1(V a) { return add(a, a); }
  static V shl(V a, std::uint64_t count) {  // 64-bit lanes only
    static_assert(Bits == 64);
    return _mm256_sll_epi64(a, _mm_cvtsi64_si128((long long)(count)));
  }
  static V shr(V a, std::uint64_t count) {
    __m128i n = _mm_cvtsi64_si128((long long)(count));
    if constexpr (Bits == 8) {  // no byte shift: shift words, clear what crossed into each byte
      if (count >= 8) return zero();
      return _mm256_and_si256(_mm256_srl_epi16(a, n), splat(0xFF >> count));
    }
    if constexpr (Bits == 16) return _mm256_srl_epi16(a, n);
    if constexpr (Bits == 32) return _mm256_srl_epi32(a, n);
    if constexpr (Bits == 64) return _mm256_srl_epi64(a, n);
  }
  // Bits per byte from a nibble table, then summed over each lane's bytes.
  static V popcount(V a) {
    const __m256i table = _mm256_setr_epi8(0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4, 0, 1, 1,
                                           2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4);
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    __m256i low = _mm256_shuffle_epi8(table, _mm256_and_si256(a, nibble));
    __m256i high = _mm256_shuffle_epi8(table, _mm256_and_si256(_mm256_srli_epi16(a, 4), nibble));
    __m256i bytes = _mm256_add_epi8(low, high);
    if constexpr (Bits == 8) return bytes;
    if constexpr (Bits == 64) return _mm256_sad_epu8(bytes, _mm256_setzero_si256());
    __m256i pairs = _mm256_maddubs_epi16(bytes, _mm256_set1_epi8(1));
    if constexpr (Bits == 16) return pairs;
    if constexpr (Bits == 32) return _mm256_madd_epi16(pairs, _mm256_set1_epi16(1));
  }

  static Mask greater(V a, V b) {
    if constexpr (Bits == 8) return _mm256_cmpgt_epi8(a, b);
    if constexpr (Bits == 16) return _mm256_cmpgt_epi16(a, b);
    if constexpr (Bits == 32) return _mm256_cmpgt_epi32(a, b);
    if constexpr (Bits == 64) return _mm256_cmpgt_epi64(a, b);
  }
  static Mask is_zero(V a) {
    if constexpr (Bits == 8) return _mm256_cmpeq_epi8(a, _mm256_setzero_si256());
    if constexpr (Bits == 16) return _mm256_cmpeq_epi16(a, _mm256_setzero_si256());
    if constexpr (Bits == 32) return _mm256_cmpeq_epi32(a, _mm256_setzero_si256());
    if constexpr (Bits == 64) return _mm256_cmpeq_epi64(a, _mm256_setzero_si256());
  }
  static Mask nonzero(V a) { return _mm256_xor_si256(is_zero(a), _mm256_set1_epi8(-1)); }
  static Mask either(Mask a, Mask b) { return _mm256_or_si256(a, b); }
  static Mask both(Mask a, Mask b) { return _mm256_and_si256(a, b); }
  static bool all(Mask m) { return _mm256_movemask_epi8(m) == -1; }
  static bool any(Mask m) { return !_mm256_testz_si256(m, m); }
  static std::uint64_t bits(Mask m) {  // bit l: lane l
    if constexpr (Bits == 8) return unsigned(_mm256_movemask_epi8(m));
    if constexpr (Bits == 16) {
      // Saturating packs keep -1 and 0; each 128-bit half packs on its own.
      auto bytes = unsigned(_mm256_movemask_epi8(_mm256_packs_epi16(m, _mm256_setzero_si256())));
      return (bytes & 0xFF) | ((bytes >> 8) & 0xFF00);
    }
    if constexpr (Bits == 32) return unsigned(_mm256_movemask_ps(_mm256_castsi256_ps(m)));
    if constexpr (Bits == 64) return unsigned(_mm256_movemask_pd(_mm256_castsi256_pd(m)));
  }
  static V count_if(V a, Mask m) { return sub(a, m); }  // a lane of m is -1
  static V keep(V a, Mask m) { return _mm256_and_si256(a, m); }
};

}  // namespace kivo::lanes
KIVO_TARGET_END

#endif
