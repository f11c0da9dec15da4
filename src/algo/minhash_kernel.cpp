#include "algo/minhash_kernel.hpp"

#include <algorithm>
#include <limits>

#include "base/simd_target.hpp"

#ifdef KIVO_SIMD_X86
#include <immintrin.h>
#endif
#if defined(__GNUC__) && !defined(__clang__)
// GCC 12 reports the deliberately undefined source operand inside the
// AVX-512 intrinsics' headers as maybe-uninitialised.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace kivo::minhash {

namespace {

constexpr std::uint64_t kEmpty = std::numeric_limits<std::uint64_t>::max();

// Parameters of functions first .. first + n - 1.
void parameters(std::size_t first, std::size_t n, std::uint64_t* a, std::uint64_t* b) {
  std::uint64_t seed = kFirstSeed + kSeedStep * std::uint64_t(first);
  for (std::size_t l = 0; l < n; ++l) {
    a[l] = (seed + kMultiplierOffset) | 1;
    b[l] = seed;
    seed += kSeedStep;
  }
}

// Four functions share one pass over the hashes, so four independent min
// chains keep the multiplier busy.
void fold_scalar(const std::uint64_t* hashes, std::size_t hash_count, std::uint64_t* out,
                 std::size_t first, std::size_t count) {
  constexpr std::size_t kLanes = 4;
  for (std::size_t base = first; base < count; base += kLanes) {
    std::size_t lanes = std::min(kLanes, count - base);
    std::uint64_t a[kLanes] = {};
    std::uint64_t b[kLanes] = {};
    std::uint64_t least[kLanes] = {kEmpty, kEmpty, kEmpty, kEmpty};
    parameters(base, lanes, a, b);
    for (std::size_t k = 0; k < hash_count; ++k) {
      std::uint64_t h = hashes[k];
      for (std::size_t l = 0; l < kLanes; ++l)
        least[l] = std::min(least[l], reduce(a[l] * h + b[l]));
    }
    for (std::size_t l = 0; l < lanes; ++l) out[base + l] = least[l];
  }
}

}  // namespace

#ifdef KIVO_SIMD_X86

KIVO_TARGET_AVX512_BEGIN
namespace avx512 {
namespace {

// 32 functions per pass, four vectors of eight. Reduction as in reduce():
// r = (v & P) + (v >> 61) is below 2P, and min(r, r - P) (unsigned, so a
// negative r - P wraps high) is the canonical remainder. Returns the entries
// done: whole blocks only.
std::size_t fold(const std::uint64_t* hashes, std::size_t hash_count, std::uint64_t* out,
                 std::size_t count) {
  constexpr std::size_t kBlock = 32;
  const __m512i prime = _mm512_set1_epi64(std::int64_t(kPrime));
  std::size_t base = 0;
  for (; base + kBlock <= count; base += kBlock) {
    alignas(64) std::uint64_t a[kBlock];
    alignas(64) std::uint64_t b[kBlock];
    parameters(base, kBlock, a, b);
    __m512i va[4], vb[4], least[4];
    for (int v = 0; v < 4; ++v) {
      va[v] = _mm512_load_si512(a + 8 * v);
      vb[v] = _mm512_load_si512(b + 8 * v);
      least[v] = _mm512_set1_epi64(-1);
    }
    for (std::size_t k = 0; k < hash_count; ++k) {
      __m512i h = _mm512_set1_epi64(std::int64_t(hashes[k]));
      for (int v = 0; v < 4; ++v) {
        __m512i x = _mm512_add_epi64(_mm512_mullo_epi64(va[v], h), vb[v]);
        __m512i r = _mm512_add_epi64(_mm512_and_si512(x, prime), _mm512_srli_epi64(x, 61));
        r = _mm512_min_epu64(r, _mm512_sub_epi64(r, prime));
        least[v] = _mm512_min_epu64(least[v], r);
      }
    }
    for (int v = 0; v < 4; ++v) _mm512_storeu_si512(out + base + 8 * v, least[v]);
  }
  return base;
}

}  // namespace
}  // namespace avx512
KIVO_TARGET_END

KIVO_TARGET_AVX2_BEGIN
namespace avx2 {
namespace {

// The low 64 bits of x * y per lane from 32-bit products:
// lo(x)lo(y) + ((hi(x)lo(y) + lo(x)hi(y)) << 32).
__m256i mul_lo64(__m256i x, __m256i y) {
  __m256i cross = _mm256_add_epi64(_mm256_mul_epu32(_mm256_srli_epi64(x, 32), y),
                                   _mm256_mul_epu32(x, _mm256_srli_epi64(y, 32)));
  return _mm256_add_epi64(_mm256_mul_epu32(x, y), _mm256_slli_epi64(cross, 32));
}

// Unsigned 64-bit minimum from the signed comparison with the sign bits flipped.
__m256i min_u64(__m256i x, __m256i y) {
  const __m256i flip = _mm256_set1_epi64x(std::int64_t(1ULL << 63));
  __m256i x_greater = _mm256_cmpgt_epi64(_mm256_xor_si256(x, flip), _mm256_xor_si256(y, flip));
  return _mm256_blendv_epi8(x, y, x_greater);
}

// As avx512::fold, 16 functions per pass.
std::size_t fold(const std::uint64_t* hashes, std::size_t hash_count, std::uint64_t* out,
                 std::size_t count) {
  constexpr std::size_t kBlock = 16;
  const __m256i prime = _mm256_set1_epi64x(std::int64_t(kPrime));
  std::size_t base = 0;
  for (; base + kBlock <= count; base += kBlock) {
    alignas(32) std::uint64_t a[kBlock];
    alignas(32) std::uint64_t b[kBlock];
    parameters(base, kBlock, a, b);
    __m256i va[4], vb[4], least[4];
    for (int v = 0; v < 4; ++v) {
      va[v] = _mm256_load_si256(reinterpret_cast<const __m256i*>(a + 4 * v));
      vb[v] = _mm256_load_si256(reinterpret_cast<const __m256i*>(b + 4 * v));
      least[v] = _mm256_set1_epi64x(-1);
    }
    for (std::size_t k = 0; k < hash_count; ++k) {
      __m256i h = _mm256_set1_epi64x(std::int64_t(hashes[k]));
      for (int v = 0; v < 4; ++v) {
        __m256i x = _mm256_add_epi64(mul_lo64(va[v], h), vb[v]);
        __m256i r = _mm256_add_epi64(_mm256_and_si256(x, prime), _mm256_srli_epi64(x, 61));
        r = min_u64(r, _mm256_sub_epi64(r, prime));
        least[v] = min_u64(least[v], r);
      }
    }
    for (int v = 0; v < 4; ++v)
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + base + 4 * v), least[v]);
  }
  return base;
}

}  // namespace
}  // namespace avx2
KIVO_TARGET_END

#endif

void fold_minima(const std::uint64_t* hashes, std::size_t hash_count, std::uint64_t* out,
                 std::size_t count, simd::Isa isa) {
  std::size_t done = 0;
#ifdef KIVO_SIMD_X86
  switch (std::min(isa, simd::best())) {
    case simd::Isa::Avx512: done = avx512::fold(hashes, hash_count, out, count); break;
    case simd::Isa::Avx2: done = avx2::fold(hashes, hash_count, out, count); break;
    case simd::Isa::Portable: break;
  }
#else
  (void)isa;
#endif
  fold_scalar(hashes, hash_count, out, done, count);
}

}  // namespace kivo::minhash
