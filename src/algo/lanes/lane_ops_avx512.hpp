// The lane operations with AVX-512 (F and BW) intrinsics, compiled for
// AVX-512 whatever the file's flags; only a kernel of
// lane_kernels_avx512.cpp, in the same target region, runs them.
#pragma once

#include "base/simd_target.hpp"

#ifdef KIVO_SIMD_X86
#include <immintrin.h>

#include <cstdint>

#include "algo/lanes/lane_masks.hpp"
#include "algo/lanes/lane_ops_portable.hpp"

KIVO_TARGET_AVX512_BEGIN
namespace kivo::lanes {

// Masks are the k-registers' lane bits, bit l for lane l.
template <unsigned Bits>
struct Avx512Lanes {
  using V = __m512i;
  using Mask = std::uint64_t;
  using Signed = LaneSigned<Bits>;
  static constexpr unsigned kBits = Bits;
  static constexpr unsigned kLanes = 512 / Bits;

  static V load(const LaneRow* row) { return _mm512_load_si512(row->bytes); }
  static V load_lanes(const Signed* in) { return _mm512_loadu_si512(in); }
  static void store(Signed* out, V v) { _mm512_storeu_si512(out, v); }
  static V splat(std::uint64_t value) {
    if constexpr (Bits == 8) return _mm512_set1_epi8(char(value));
    if constexpr (Bits == 16) return _mm512_set1_epi16(short(value));
    if constexpr (Bits == 32) return _mm512_set1_epi32(int(value));
    if constexpr (Bits == 64) return _mm512_set1_epi64((long long)(value));
  }
  static V zero() { return _mm512_setzero_si512(); }

  static V bit_and(V a, V b) { return _mm512_and_si512(a, b); }
  static V bit_or(V a, V b) { return _mm512_or_si512(a, b); }
  static V bit_xor(V a, V b) { return _mm512_xor_si512(a, b); }
  static V and_not(V a, V b) { return _mm512_andnot_si512(b, a); }
  static V add(V a, V b) {
    if constexpr (Bits == 8) return _mm512_add_epi8(a, b);
    if constexpr (Bits == 16) return _mm512_add_epi16(a, b);
    if constexpr (Bits == 32) return _mm512_add_epi32(a, b);
    if constexpr (Bits == 64) return _mm512_add_epi64(a, b);
  }
  static V sub(V a, V b) {
    if constexpr (Bits == 8) return _mm512_sub_epi8(a, b);
    if constexpr (Bits == 16) return _mm512_sub_epi16(a, b);
    if constexpr (Bits == 32) return _mm512_sub_epi32(a, b);
    if constexpr (Bits == 64) return _mm512_sub_epi64(a, b);
  }
  static V shl1(V a) { return add(a, a); }
  static V shl(V a, std::uint64_t count) {  // 64-bit lanes only
    static_assert(Bits == 64);
    return _mm512_sll_epi64(a, _mm_cvtsi64_si128((long long)(count)));
  }
  static V shr(V a, std::uint64_t count) {
    __m128i n = _mm_cvtsi64_si128((long long)(count));
    if constexpr (Bits == 8) {  // no byte shift: shift words, clear what crossed into each byte
      if (count >= 8) return zero();
      return _mm512_and_si512(_mm512_srl_epi16(a, n), splat(0xFF >> count));
    }
    if constexpr (Bits == 16) return _mm512_srl_epi16(a, n);
    if constexpr (Bits == 32) return _mm512_srl_epi32(a, n);
    if constexpr (Bits == 64) return _mm512_srl_epi64(a, n);
  }
  static V popcount(V a) {
    const __m512i table =
        _mm512_broadcast_i32x4(_mm_setr_epi8(0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4));
    const __m512i nibble = _mm512_set1_epi8(0x0F);
    __m512i low = _mm512_shuffle_epi8(table, _mm512_and_si512(a, nibble));
    __m512i high = _mm512_shuffle_epi8(table, _mm512_and_si512(_mm512_srli_epi16(a, 4), nibble));
    __m512i bytes = _mm512_add_epi8(low, high);
    if constexpr (Bits == 8) return bytes;
    if constexpr (Bits == 64) return _mm512_sad_epu8(bytes, _mm512_setzero_si512());
    __m512i pairs = _mm512_maddubs_epi16(bytes, _mm512_set1_epi8(1));
    if constexpr (Bits == 16) return pairs;
    if constexpr (Bits == 32) return _mm512_madd_epi16(pairs, _mm512_set1_epi16(1));
  }

  static Mask greater(V a, V b) {
    if constexpr (Bits == 8) return _mm512_cmpgt_epi8_mask(a, b);
    if constexpr (Bits == 16) return _mm512_cmpgt_epi16_mask(a, b);
    if constexpr (Bits == 32) return _mm512_cmpgt_epi32_mask(a, b);
    if constexpr (Bits == 64) return _mm512_cmpgt_epi64_mask(a, b);
  }
  static Mask nonzero(V a) {
    if constexpr (Bits == 8) return _mm512_test_epi8_mask(a, a);
    if constexpr (Bits == 16) return _mm512_test_epi16_mask(a, a);
    if constexpr (Bits == 32) return _mm512_test_epi32_mask(a, a);
    if constexpr (Bits == 64) return _mm512_test_epi64_mask(a, a);
  }
  static Mask is_zero(V a) {
    if constexpr (Bits == 8) return _mm512_testn_epi8_mask(a, a);
    if constexpr (Bits == 16) return _mm512_testn_epi16_mask(a, a);
    if constexpr (Bits == 32) return _mm512_testn_epi32_mask(a, a);
    if constexpr (Bits == 64) return _mm512_testn_epi64_mask(a, a);
  }
  static Mask either(Mask a, Mask b) { return a | b; }
  static Mask both(Mask a, Mask b) { return a & b; }
  static bool all(Mask m) { return m == low_bits(kLanes); }
  static bool any(Mask m) { return m != 0; }
  static std::uint64_t bits(Mask m) { return m; }
  static V count_if(V a, Mask m) {
    if constexpr (Bits == 8) return _mm512_mask_add_epi8(a, __mmask64(m), a, splat(1));
    if constexpr (Bits == 16) return _mm512_mask_add_epi16(a, __mmask32(m), a, splat(1));
    if constexpr (Bits == 32) return _mm512_mask_add_epi32(a, __mmask16(m), a, splat(1));
    if constexpr (Bits == 64) return _mm512_mask_add_epi64(a, __mmask8(m), a, splat(1));
  }
  static V keep(V a, Mask m) {
    if constexpr (Bits == 8) return _mm512_maskz_mov_epi8(__mmask64(m), a);
    if constexpr (Bits == 16) return _mm512_maskz_mov_epi16(__mmask32(m), a);
    if constexpr (Bits == 32) return _mm512_maskz_mov_epi32(__mmask16(m), a);
    if constexpr (Bits == 64) return _mm512_maskz_mov_epi64(__mmask8(m), a);
  }
};

}  // namespace kivo::lanes
KIVO_TARGET_END

#endif
