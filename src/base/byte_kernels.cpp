#include "base/byte_kernels.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "base/bits.hpp"

#if defined(KIVO_BYTE_KERNELS_SSE2)
#include <emmintrin.h>
#endif

namespace kivo::bytes {

namespace scalar {

namespace {

constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;

std::uint64_t load(const unsigned char* p) {
  std::uint64_t word;
  std::memcpy(&word, p, 8);
  return word;
}

}  // namespace

bool is_ascii(const unsigned char* s, std::size_t n) {
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    if (load(s + i) & kHighBits) return false;
  }
  for (; i < n; ++i) {
    if (s[i] & 0x80) return false;
  }
  return true;
}

std::size_t count_continuation(const unsigned char* s, std::size_t n) {
  std::size_t count = 0;
  std::size_t i = 0;
  // A continuation byte is 10xxxxxx: bit 7 set, and bit 6, shifted onto it, clear.
  for (; i + 8 <= n; i += 8) {
    std::uint64_t word = load(s + i);
    count += bits::count_high_bits(word & ~(word << 1) & kHighBits);
  }
  for (; i < n; ++i) count += (s[i] & 0xC0) == 0x80;
  return count;
}

std::size_t count_mismatches(const unsigned char* a, const unsigned char* b, std::size_t n) {
  std::size_t count = 0;
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    // The high bit of each byte of `differ` is set where the bytes differ.
    std::uint64_t d = load(a + i) ^ load(b + i);
    std::uint64_t differ = ((d & ~kHighBits) + ~kHighBits) | d;
    count += bits::count_high_bits(differ & kHighBits);
  }
  for (; i < n; ++i) count += a[i] != b[i];
  return count;
}

}  // namespace scalar

#if defined(KIVO_BYTE_KERNELS_SSE2)
namespace sse2 {

namespace {

__m128i load(const unsigned char* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// Counts the lanes that `mark(i)` sets to 0xFF in the 16-byte blocks from i
// on, and moves i past the last whole block. A set lane is -1, subtracted
// from an eight-bit counter, so the counters are summed every 255 blocks,
// before they can wrap.
template <class Mark>
std::size_t count_marked_lanes(std::size_t& i, std::size_t n, Mark mark) {
  const __m128i zero = _mm_setzero_si128();
  std::size_t total = 0;
  while (i + 16 <= n) {
    __m128i lanes = zero;
    std::size_t stop = std::min(n - 15, i + 255 * 16);
    for (; i < stop; i += 16) lanes = _mm_sub_epi8(lanes, mark(i));
    __m128i sums = _mm_sad_epu8(lanes, zero);
    total += std::size_t(_mm_cvtsi128_si64(sums)) +
             std::size_t(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums)));
  }
  return total;
}

}  // namespace

bool is_ascii(const unsigned char* s, std::size_t n) {
  // 64 bytes OR-ed together per test: few branches, and still an early stop
  // on a long non-ASCII text.
  std::size_t i = 0;
  for (; i + 64 <= n; i += 64) {
    __m128i any = _mm_or_si128(_mm_or_si128(load(s + i), load(s + i + 16)),
                               _mm_or_si128(load(s + i + 32), load(s + i + 48)));
    if (_mm_movemask_epi8(any) != 0) return false;
  }
  return scalar::is_ascii(s + i, n - i);
}

std::size_t count_continuation(const unsigned char* s, std::size_t n) {
  // As signed bytes, continuation bytes are exactly those below -64.
  const __m128i limit = _mm_set1_epi8(-64);
  std::size_t i = 0;
  std::size_t count =
      count_marked_lanes(i, n, [&](std::size_t at) { return _mm_cmplt_epi8(load(s + at), limit); });
  return count + scalar::count_continuation(s + i, n - i);
}

std::size_t count_mismatches(const unsigned char* a, const unsigned char* b, std::size_t n) {
  std::size_t i = 0;
  std::size_t equal = count_marked_lanes(
      i, n, [&](std::size_t at) { return _mm_cmpeq_epi8(load(a + at), load(b + at)); });
  return (i - equal) + scalar::count_mismatches(a + i, b + i, n - i);
}

}  // namespace sse2
#endif

}  // namespace kivo::bytes
