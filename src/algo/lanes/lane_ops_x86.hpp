// The lane operations with AVX2 and AVX-512 (F and BW) intrinsics. Each
// function carries its instruction set as a target attribute, so the rest of
// the library stays plain x86-64; a kernel runs them only from an entry point
// of the same target that inlines the whole kernel (see lane_dispatch.hpp).
#pragma once

#include "algo/lanes/lane_isa.hpp"

#ifdef KIVO_LANES_X86
#include <immintrin.h>

#include <cstdint>

#include "algo/lanes/lane_masks.hpp"
#include "algo/lanes/lane_ops_portable.hpp"

#define KIVO_AVX2 __attribute__((target("avx2")))
#define KIVO_AVX512 __attribute__((target("avx2,avx512f,avx512bw")))

namespace kivo::lanes {

// Mask of lanes: all bits set in a lane that holds, none where it does not.
template <unsigned Bits>
struct Avx2Lanes {
  using V = __m256i;
  using Mask = __m256i;
  using Signed = LaneSigned<Bits>;
  static constexpr unsigned kBits = Bits;
  static constexpr unsigned kLanes = 256 / Bits;

  KIVO_AVX2 static V load(const LaneRow* row) {
    return _mm256_load_si256(reinterpret_cast<const __m256i*>(row->bytes));
  }
  KIVO_AVX2 static V load_lanes(const Signed* in) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in));
  }
  KIVO_AVX2 static void store(Signed* out, V v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), v);
  }
  KIVO_AVX2 static V splat(std::uint64_t value) {
    if constexpr (Bits == 16) return _mm256_set1_epi16(short(value));
    if constexpr (Bits == 32) return _mm256_set1_epi32(int(value));
    if constexpr (Bits == 64) return _mm256_set1_epi64x((long long)(value));
  }
  KIVO_AVX2 static V zero() { return _mm256_setzero_si256(); }

  KIVO_AVX2 static V bit_and(V a, V b) { return _mm256_and_si256(a, b); }
  KIVO_AVX2 static V bit_or(V a, V b) { return _mm256_or_si256(a, b); }
  KIVO_AVX2 static V bit_xor(V a, V b) { return _mm256_xor_si256(a, b); }
  KIVO_AVX2 static V and_not(V a, V b) { return _mm256_andnot_si256(b, a); }
  KIVO_AVX2 static V add(V a, V b) {
    if constexpr (Bits == 16) return _mm256_add_epi16(a, b);
    if constexpr (Bits == 32) return _mm256_add_epi32(a, b);
    if constexpr (Bits == 64) return _mm256_add_epi64(a, b);
  }
  KIVO_AVX2 static V sub(V a, V b) {
    if constexpr (Bits == 16) return _mm256_sub_epi16(a, b);
    if constexpr (Bits == 32) return _mm256_sub_epi32(a, b);
    if constexpr (Bits == 64) return _mm256_sub_epi64(a, b);
  }
  KIVO_AVX2 static V shl1(V a) { return add(a, a); }
  KIVO_AVX2 static V shr(V a, std::uint64_t count) {
    __m128i n = _mm_cvtsi64_si128((long long)(count));
    if constexpr (Bits == 16) return _mm256_srl_epi16(a, n);
    if constexpr (Bits == 32) return _mm256_srl_epi32(a, n);
    if constexpr (Bits == 64) return _mm256_srl_epi64(a, n);
  }
  // Bits per byte from a nibble table, then summed over each lane's bytes.
  KIVO_AVX2 static V popcount(V a) {
    const __m256i table = _mm256_setr_epi8(0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4, 0, 1, 1,
                                           2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4);
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    __m256i low = _mm256_shuffle_epi8(table, _mm256_and_si256(a, nibble));
    __m256i high = _mm256_shuffle_epi8(table, _mm256_and_si256(_mm256_srli_epi16(a, 4), nibble));
    __m256i bytes = _mm256_add_epi8(low, high);
    if constexpr (Bits == 64) return _mm256_sad_epu8(bytes, _mm256_setzero_si256());
    __m256i pairs = _mm256_maddubs_epi16(bytes, _mm256_set1_epi8(1));
    if constexpr (Bits == 16) return pairs;
    if constexpr (Bits == 32) return _mm256_madd_epi16(pairs, _mm256_set1_epi16(1));
  }

  KIVO_AVX2 static Mask greater(V a, V b) {
    if constexpr (Bits == 16) return _mm256_cmpgt_epi16(a, b);
    if constexpr (Bits == 32) return _mm256_cmpgt_epi32(a, b);
    if constexpr (Bits == 64) return _mm256_cmpgt_epi64(a, b);
  }
  KIVO_AVX2 static Mask is_zero(V a) {
    if constexpr (Bits == 16) return _mm256_cmpeq_epi16(a, _mm256_setzero_si256());
    if constexpr (Bits == 32) return _mm256_cmpeq_epi32(a, _mm256_setzero_si256());
    if constexpr (Bits == 64) return _mm256_cmpeq_epi64(a, _mm256_setzero_si256());
  }
  KIVO_AVX2 static Mask nonzero(V a) { return _mm256_xor_si256(is_zero(a), _mm256_set1_epi8(-1)); }
  KIVO_AVX2 static Mask either(Mask a, Mask b) { return _mm256_or_si256(a, b); }
  KIVO_AVX2 static Mask both(Mask a, Mask b) { return _mm256_and_si256(a, b); }
  KIVO_AVX2 static bool all(Mask m) { return _mm256_movemask_epi8(m) == -1; }
  KIVO_AVX2 static bool any(Mask m) { return !_mm256_testz_si256(m, m); }
  KIVO_AVX2 static std::uint64_t bits(Mask m) {  // bit l: lane l
    if constexpr (Bits == 16) {
      // Saturating packs keep -1 and 0; each 128-bit half packs on its own.
      auto bytes = unsigned(_mm256_movemask_epi8(_mm256_packs_epi16(m, _mm256_setzero_si256())));
      return (bytes & 0xFF) | ((bytes >> 8) & 0xFF00);
    }
    if constexpr (Bits == 32) return unsigned(_mm256_movemask_ps(_mm256_castsi256_ps(m)));
    if constexpr (Bits == 64) return unsigned(_mm256_movemask_pd(_mm256_castsi256_pd(m)));
  }
  KIVO_AVX2 static V count_if(V a, Mask m) { return sub(a, m); }  // a lane of m is -1
  KIVO_AVX2 static V keep(V a, Mask m) { return _mm256_and_si256(a, m); }
};

// Masks are the k-registers' lane bits, bit l for lane l.
template <unsigned Bits>
struct Avx512Lanes {
  using V = __m512i;
  using Mask = std::uint64_t;
  using Signed = LaneSigned<Bits>;
  static constexpr unsigned kBits = Bits;
  static constexpr unsigned kLanes = 512 / Bits;

  KIVO_AVX512 static V load(const LaneRow* row) { return _mm512_load_si512(row->bytes); }
  KIVO_AVX512 static V load_lanes(const Signed* in) { return _mm512_loadu_si512(in); }
  KIVO_AVX512 static void store(Signed* out, V v) { _mm512_storeu_si512(out, v); }
  KIVO_AVX512 static V splat(std::uint64_t value) {
    if constexpr (Bits == 16) return _mm512_set1_epi16(short(value));
    if constexpr (Bits == 32) return _mm512_set1_epi32(int(value));
    if constexpr (Bits == 64) return _mm512_set1_epi64((long long)(value));
  }
  KIVO_AVX512 static V zero() { return _mm512_setzero_si512(); }

  KIVO_AVX512 static V bit_and(V a, V b) { return _mm512_and_si512(a, b); }
  KIVO_AVX512 static V bit_or(V a, V b) { return _mm512_or_si512(a, b); }
  KIVO_AVX512 static V bit_xor(V a, V b) { return _mm512_xor_si512(a, b); }
  KIVO_AVX512 static V and_not(V a, V b) { return _mm512_andnot_si512(b, a); }
  KIVO_AVX512 static V add(V a, V b) {
    if constexpr (Bits == 16) return _mm512_add_epi16(a, b);
    if constexpr (Bits == 32) return _mm512_add_epi32(a, b);
    if constexpr (Bits == 64) return _mm512_add_epi64(a, b);
  }
  KIVO_AVX512 static V sub(V a, V b) {
    if constexpr (Bits == 16) return _mm512_sub_epi16(a, b);
    if constexpr (Bits == 32) return _mm512_sub_epi32(a, b);
    if constexpr (Bits == 64) return _mm512_sub_epi64(a, b);
  }
  KIVO_AVX512 static V shl1(V a) { return add(a, a); }
  KIVO_AVX512 static V shr(V a, std::uint64_t count) {
    __m128i n = _mm_cvtsi64_si128((long long)(count));
    if constexpr (Bits == 16) return _mm512_srl_epi16(a, n);
    if constexpr (Bits == 32) return _mm512_srl_epi32(a, n);
    if constexpr (Bits == 64) return _mm512_srl_epi64(a, n);
  }
  KIVO_AVX512 static V popcount(V a) {
    const __m512i table =
        _mm512_broadcast_i32x4(_mm_setr_epi8(0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4));
    const __m512i nibble = _mm512_set1_epi8(0x0F);
    __m512i low = _mm512_shuffle_epi8(table, _mm512_and_si512(a, nibble));
    __m512i high = _mm512_shuffle_epi8(table, _mm512_and_si512(_mm512_srli_epi16(a, 4), nibble));
    __m512i bytes = _mm512_add_epi8(low, high);
    if constexpr (Bits == 64) return _mm512_sad_epu8(bytes, _mm512_setzero_si512());
    __m512i pairs = _mm512_maddubs_epi16(bytes, _mm512_set1_epi8(1));
    if constexpr (Bits == 16) return pairs;
    if constexpr (Bits == 32) return _mm512_madd_epi16(pairs, _mm512_set1_epi16(1));
  }

  KIVO_AVX512 static Mask greater(V a, V b) {
    if constexpr (Bits == 16) return _mm512_cmpgt_epi16_mask(a, b);
    if constexpr (Bits == 32) return _mm512_cmpgt_epi32_mask(a, b);
    if constexpr (Bits == 64) return _mm512_cmpgt_epi64_mask(a, b);
  }
  KIVO_AVX512 static Mask nonzero(V a) {
    if constexpr (Bits == 16) return _mm512_test_epi16_mask(a, a);
    if constexpr (Bits == 32) return _mm512_test_epi32_mask(a, a);
    if constexpr (Bits == 64) return _mm512_test_epi64_mask(a, a);
  }
  KIVO_AVX512 static Mask is_zero(V a) {
    if constexpr (Bits == 16) return _mm512_testn_epi16_mask(a, a);
    if constexpr (Bits == 32) return _mm512_testn_epi32_mask(a, a);
    if constexpr (Bits == 64) return _mm512_testn_epi64_mask(a, a);
  }
  KIVO_AVX512 static Mask either(Mask a, Mask b) { return a | b; }
  KIVO_AVX512 static Mask both(Mask a, Mask b) { return a & b; }
  KIVO_AVX512 static bool all(Mask m) { return m == low_bits(kLanes); }
  KIVO_AVX512 static bool any(Mask m) { return m != 0; }
  KIVO_AVX512 static std::uint64_t bits(Mask m) { return m; }
  KIVO_AVX512 static V count_if(V a, Mask m) {
    if constexpr (Bits == 16) return _mm512_mask_add_epi16(a, __mmask32(m), a, splat(1));
    if constexpr (Bits == 32) return _mm512_mask_add_epi32(a, __mmask16(m), a, splat(1));
    if constexpr (Bits == 64) return _mm512_mask_add_epi64(a, __mmask8(m), a, splat(1));
  }
  KIVO_AVX512 static V keep(V a, Mask m) {
    if constexpr (Bits == 16) return _mm512_maskz_mov_epi16(__mmask32(m), a);
    if constexpr (Bits == 32) return _mm512_maskz_mov_epi32(__mmask16(m), a);
    if constexpr (Bits == 64) return _mm512_maskz_mov_epi64(__mmask8(m), a);
  }
};

}  // namespace kivo::lanes

#endif
