#include "algo/hamming.hpp"

#include <algorithm>
#include <cstring>
#include <span>
#include <type_traits>

#include "base/bits.hpp"
#include "text/utf8.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kivo {

namespace {

struct ByteComparison {
  std::uint64_t mismatches;
  bool ascii;  // both texts are ASCII, so bytes are characters
};

// Positions where two equally long byte strings differ, found in the same
// pass that checks both are ASCII (every byte below 0x80).
ByteComparison compare_bytes(std::string_view a, std::string_view b) {
  const auto* x = reinterpret_cast<const unsigned char*>(a.data());
  const auto* y = reinterpret_cast<const unsigned char*>(b.data());
  std::size_t n = a.size();
  std::size_t i = 0;
  std::uint64_t count = 0;
  std::uint64_t high = 0;  // the OR of all bytes, high bits only matter
#if defined(__SSE2__)
  // Each equal byte subtracts 1 from its lane; lanes are summed before they wrap.
  const __m128i zero = _mm_setzero_si128();
  __m128i seen = zero;
  std::uint64_t equal = 0;
  std::size_t start = i;
  while (i + 16 <= n) {
    __m128i lanes = zero;
    std::size_t stop = std::min(n - 15, i + 255 * 16);
    for (; i < stop; i += 16) {
      __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x + i));
      __m128i q = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y + i));
      seen = _mm_or_si128(seen, _mm_or_si128(p, q));
      lanes = _mm_sub_epi8(lanes, _mm_cmpeq_epi8(p, q));
    }
    __m128i sums = _mm_sad_epu8(lanes, zero);
    equal += std::uint64_t(_mm_cvtsi128_si64(sums)) +
             std::uint64_t(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums)));
  }
  count += (i - start) - equal;
  if (_mm_movemask_epi8(seen) != 0) high |= 0x80;
#endif
  for (; i + 8 <= n; i += 8) {
    std::uint64_t p;
    std::uint64_t q;
    std::memcpy(&p, x + i, 8);
    std::memcpy(&q, y + i, 8);
    high |= p | q;
    // High bit of each byte of `differ` set where the bytes differ.
    std::uint64_t d = p ^ q;
    std::uint64_t differ = ((d & 0x7F7F7F7F7F7F7F7FULL) + 0x7F7F7F7F7F7F7F7FULL) | d;
    count += bits::count_high_bits(differ & 0x8080808080808080ULL);
  }
  for (; i < n; ++i) {
    high |= x[i] | y[i];
    count += x[i] != y[i];
  }
  return {count, (high & 0x8080808080808080ULL) == 0};
}

// Both texts are decoded in step, so no array of scalar values is needed.
// Runs of eight equal bytes are skipped whole: valid UTF-8 is canonical, so
// equal bytes are equal characters, and when the next byte starts a
// character the run holds only whole ones, at the same positions on both sides.
std::uint64_t char_mismatches(std::string_view a, std::string_view b) {
  std::uint64_t count = 0;
  std::size_t pa = 0;
  std::size_t pb = 0;
  while (pa < a.size()) {
    if (pa + 8 < a.size() && pb + 8 < b.size() &&
        std::memcmp(a.data() + pa, b.data() + pb, 8) == 0 &&
        !utf8::is_continuation(static_cast<unsigned char>(a[pa + 8]))) {
      pa += 8;
      pb += 8;
      continue;
    }
    count += utf8::next(a, pa) != utf8::next(b, pb);
  }
  return count;
}

struct Comparison {
  std::uint64_t length;
  std::uint64_t mismatches;
};

std::optional<Comparison> compare(std::string_view a, std::string_view b) {
  // In ASCII a byte is a character: positions line up byte for byte.
  if (a.size() == b.size()) {
    ByteComparison bytes = compare_bytes(a, b);
    if (bytes.ascii) return Comparison{a.size(), bytes.mismatches};
  } else if (utf8::is_ascii(a) && utf8::is_ascii(b)) {
    return std::nullopt;  // equal character counts would mean equal byte counts
  }
  std::size_t length = utf8::count_chars(a);
  if (length != utf8::count_chars(b)) return std::nullopt;
  return Comparison{length, char_mismatches(a, b)};
}

// Counted per block of 64 in a narrow counter, which lets the compiler
// compare and sum whole vectors of units.
template <class X, class Y>
std::uint64_t unit_mismatches(std::span<const X> a, std::span<const Y> b) {
  using Wide = std::conditional_t<(sizeof(X) > sizeof(Y)), X, Y>;
  std::uint64_t count = 0;
  std::size_t i = 0;
  for (; i + 64 <= a.size(); i += 64) {
    Wide block = 0;
    for (std::size_t k = 0; k < 64; ++k) block += Wide(Wide(a[i + k]) != Wide(b[i + k]));
    count += block;
  }
  for (; i < a.size(); ++i) count += Wide(a[i]) != Wide(b[i]);
  return count;
}

std::optional<Comparison> compare(const CharSpan& a, const CharSpan& b) {
  if (a.length != b.length) return std::nullopt;
  if (a.width == 1 && b.width == 1) {
    // One byte per character on both sides: the byte kernel counts them.
    std::string_view x(static_cast<const char*>(a.data), a.length);
    std::string_view y(static_cast<const char*>(b.data), b.length);
    return Comparison{a.length, compare_bytes(x, y).mismatches};
  }
  std::uint64_t mismatches = visit_units(
      a, [&](auto x) { return visit_units(b, [&](auto y) { return unit_mismatches(x, y); }); });
  return Comparison{a.length, mismatches};
}

template <class Text>
std::optional<double> similarity(const Text& a, const Text& b) {
  std::optional<Comparison> c = compare(a, b);
  if (!c) return std::nullopt;
  if (c->length == 0) return 1.0;
  return 1.0 - double(c->mismatches) / double(c->length);
}

template <class Text>
std::optional<std::uint64_t> distance(const Text& a, const Text& b) {
  std::optional<Comparison> c = compare(a, b);
  if (!c) return std::nullopt;
  return c->mismatches;
}

}  // namespace

std::optional<std::uint64_t> hamming_distance(std::string_view a, std::string_view b) {
  return distance(a, b);
}

std::optional<double> hamming_similarity(std::string_view a, std::string_view b) {
  return similarity(a, b);
}

std::optional<std::uint64_t> hamming_distance(const CharSpan& a, const CharSpan& b) {
  return distance(a, b);
}

std::optional<double> hamming_similarity(const CharSpan& a, const CharSpan& b) {
  return similarity(a, b);
}

}  // namespace kivo
