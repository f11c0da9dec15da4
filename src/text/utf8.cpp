#include "text/utf8.hpp"

#include <algorithm>
#include <cstring>
#include <string>

#include "base/bits.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kivo::utf8 {

std::size_t count_chars(std::string_view text) {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  std::size_t n = text.size();
  std::size_t i = 0;
  std::size_t continuation = 0;
  if (n >= 32) {
#if defined(__SSE2__)
    // Sixteen bytes at a time: as signed bytes, continuation bytes
    // (0x80-0xBF) are exactly those below -64. Each match subtracts 1 from a
    // byte lane (-1 per match); the lanes are summed before they can wrap.
    const __m128i limit = _mm_set1_epi8(-64);
    const __m128i zero = _mm_setzero_si128();
    while (i + 16 <= n) {
      __m128i lanes = zero;
      std::size_t stop = std::min(n - 15, i + 255 * 16);
      for (; i < stop; i += 16) {
        __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        lanes = _mm_sub_epi8(lanes, _mm_cmplt_epi8(chunk, limit));
      }
      __m128i sums = _mm_sad_epu8(lanes, zero);
      continuation += std::size_t(_mm_cvtsi128_si64(sums)) +
                      std::size_t(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums)));
    }
#endif
    // Eight bytes at a time: a continuation byte is 10xxxxxx, i.e. bit 7 set
    // and bit 6 clear.
    for (; i + 8 <= n; i += 8) {
      std::uint64_t word;
      std::memcpy(&word, s + i, 8);
      continuation += bits::count_high_bits(word & ~(word << 1) & 0x8080808080808080ULL);
    }
  }
  for (; i < n; ++i) continuation += is_continuation(s[i]);
  return n - continuation;
}

bool is_ascii(std::string_view text) {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  std::size_t n = text.size();
  std::size_t i = 0;
  // 32 bytes OR-ed together per test: the loop vectorises and still stops
  // early on a long non-ASCII text.
  for (; i + 32 <= n; i += 32) {
    std::uint64_t w[4];
    std::memcpy(w, s + i, 32);
    if ((w[0] | w[1] | w[2] | w[3]) & 0x8080808080808080ULL) return false;
  }
  for (; i + 8 <= n; i += 8) {
    std::uint64_t word;
    std::memcpy(&word, s + i, 8);
    if (word & 0x8080808080808080ULL) return false;
  }
  for (; i < n; ++i)
    if (s[i] & 0x80) return false;
  return true;
}

std::vector<char32_t> decode(std::string_view text) {
  std::vector<char32_t> out;
  out.reserve(text.size());
  for (std::size_t pos = 0; pos < text.size();) out.push_back(next(text, pos));
  return out;
}

void append(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

}  // namespace kivo::utf8
