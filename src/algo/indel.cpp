#include "algo/indel.hpp"

#include <algorithm>
#include <utility>
#include <vector>

#include "algo/affixes.hpp"
#include "algo/bit_parallel.hpp"
#include "algo/char_map.hpp"
#include "algo/score_arithmetic.hpp"
#include "base/bits.hpp"
#include "base/cancel.hpp"

namespace kivo {

namespace {

// Bit-parallel LCS (Allison and Dix; Hyyrö): a zero bit in S marks a row
// where the LCS of the pattern's prefix grows. Each column adds the matched
// bits of S to S, which moves each run's lowest match up to its first zero.
// U is a subset of S, so S - U needs no borrow: S & ~U.
template <class P, class T>
std::uint64_t lcs_word(std::span<const P> pattern, std::span<const T> text) {
  bitpar::WordMasks masks(pattern, text);
  std::uint64_t s = ~std::uint64_t(0);
  for (std::size_t t = 0; t < text.size();) {
    for (std::size_t piece = cancel::piece_end(t, text.size()); t < piece; ++t) {
      std::uint64_t u = s & masks.get(text[t]);
      s = (s + u) | (s & ~u);
    }
  }
  std::uint64_t rows =
      pattern.size() == 64 ? ~std::uint64_t(0) : (std::uint64_t(1) << pattern.size()) - 1;
  return bits::popcount64(~s & rows);
}

template <class P, class T>
std::uint64_t lcs_blocks(std::span<const P> pattern, std::span<const T> text) {
  bitpar::BlockMasks masks(pattern);
  std::size_t words = masks.words();
  std::vector<std::uint64_t> s(words, ~std::uint64_t(0));
  cancel::Meter meter;
  for (T c : text) {
    meter.add(words);
    const std::uint64_t* pm = masks.get(c);
    std::uint64_t carry = 0;
    for (std::size_t w = 0; w < words; ++w) {
      std::uint64_t u = s[w] & pm[w];
      std::uint64_t sum = s[w] + u;
      std::uint64_t out = sum < u;
      sum += carry;
      carry = out | (sum < carry);
      s[w] = sum | (s[w] & ~u);
    }
  }
  std::uint64_t found = 0;
  for (std::size_t w = 0; w < words; ++w) {
    std::size_t rows_here = std::min<std::size_t>(64, pattern.size() - w * 64);
    std::uint64_t rows = rows_here == 64 ? ~std::uint64_t(0) : (std::uint64_t(1) << rows_here) - 1;
    found += bits::popcount64(~s[w] & rows);
  }
  return found;
}

std::uint64_t stripped_lcs(const CharSpan& a, const CharSpan& b) {
  return visit_units(a, [&](auto x) {
    return visit_units(b, [&](auto y) {
      std::size_t before = x.size();
      strip_common_affixes(x, y);
      std::uint64_t common = before - x.size();
      return common + bitpar::with_one_unit_type(x, y, [](auto p, auto q) {
               if (p.size() > q.size()) std::swap(p, q);
               return lcs_of(p, q);
             });
    });
  });
}

}  // namespace

template <class C>
std::uint64_t lcs_of(std::span<const C> pattern, std::span<const C> text) {
  if (pattern.empty() || text.empty()) return 0;
  if (pattern.size() <= 64) return lcs_word(pattern, text);
  return lcs_blocks(pattern, text);
}

template std::uint64_t lcs_of(std::span<const std::uint8_t>, std::span<const std::uint8_t>);
template std::uint64_t lcs_of(std::span<const std::uint16_t>, std::span<const std::uint16_t>);
template std::uint64_t lcs_of(std::span<const std::uint32_t>, std::span<const std::uint32_t>);
template std::uint64_t lcs_of(std::span<const char32_t>, std::span<const char32_t>);

std::uint64_t lcs_length(const CharSpan& a, const CharSpan& b) {
  return stripped_lcs(a, b);
}

double lcs_similarity(const CharSpan& a, const CharSpan& b) {
  std::uint64_t longest = std::max(a.length, b.length);
  return levenshtein_similarity_from(longest - lcs_length(a, b), longest);
}

std::uint64_t indel_distance(const CharSpan& a, const CharSpan& b) {
  return a.length + b.length - 2 * lcs_length(a, b);
}

double indel_similarity_from(std::uint64_t distance, std::uint64_t total_length) {
  return levenshtein_similarity_from(distance, total_length);
}

double indel_similarity(const CharSpan& a, const CharSpan& b) {
  return indel_similarity_from(indel_distance(a, b), a.length + b.length);
}

}  // namespace kivo
