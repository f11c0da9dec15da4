// The AVX2 forms of the byte kernels: the SSE2-style loops of the portable
// form on 32-byte vectors, with the leftover bytes passed to the narrower
// forms.
#include <algorithm>
#include <cstdint>

#include "base/byte_kernels.hpp"
#include "base/simd_target.hpp"

#ifdef KIVO_SIMD_X86
#include <immintrin.h>

KIVO_TARGET_AVX2_BEGIN
namespace kivo::bytes::avx2 {

namespace {

__m256i load(const unsigned char* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// Sets a lane to 0xFF where the byte at `at` is a continuation byte: as
// signed bytes, exactly those below -64.
struct Continuation {
  const unsigned char* s;
  __m256i operator()(std::size_t at) const {
    return _mm256_cmpgt_epi8(_mm256_set1_epi8(-64), load(s + at));
  }
};

// Sets a lane to 0xFF where the two arrays agree.
struct Equal {
  const unsigned char* a;
  const unsigned char* b;
  __m256i operator()(std::size_t at) const { return _mm256_cmpeq_epi8(load(a + at), load(b + at)); }
};

// As in the portable form: set lanes counted by eight-bit counters, summed
// every 255 blocks.
template <class Mark>
std::size_t count_marked_lanes(std::size_t& i, std::size_t n, Mark mark) {
  const __m256i zero = _mm256_setzero_si256();
  std::size_t total = 0;
  while (i + 32 <= n) {
    __m256i lanes = zero;
    std::size_t stop = std::min(n - 31, i + 255 * 32);
    for (; i < stop; i += 32) lanes = _mm256_sub_epi8(lanes, mark(i));
    __m256i sums = _mm256_sad_epu8(lanes, zero);  // four 64-bit sums
    __m128i two = _mm_add_epi64(_mm256_castsi256_si128(sums), _mm256_extracti128_si256(sums, 1));
    total += std::size_t(_mm_cvtsi128_si64(two)) + std::size_t(_mm_extract_epi64(two, 1));
  }
  return total;
}

}  // namespace

bool is_ascii(const unsigned char* s, std::size_t n) {
  std::size_t i = 0;
  for (; i + 64 <= n; i += 64) {
    if (_mm256_movemask_epi8(_mm256_or_si256(load(s + i), load(s + i + 32))) != 0) return false;
  }
  return scalar::is_ascii(s + i, n - i);
}

std::size_t count_continuation(const unsigned char* s, std::size_t n) {
  std::size_t i = 0;
  std::size_t count = count_marked_lanes(i, n, Continuation{s});
  return count + portable::count_continuation(s + i, n - i);
}

std::size_t count_mismatches(const unsigned char* a, const unsigned char* b, std::size_t n) {
  std::size_t i = 0;
  std::size_t equal = count_marked_lanes(i, n, Equal{a, b});
  return (i - equal) + portable::count_mismatches(a + i, b + i, n - i);
}

}  // namespace kivo::bytes::avx2
KIVO_TARGET_END

#endif
