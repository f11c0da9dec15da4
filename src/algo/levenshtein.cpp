#include "algo/levenshtein.hpp"

#include <algorithm>
#include <span>
#include <utility>

#include "algo/affixes.hpp"
#include "algo/bit_parallel.hpp"
#include "algo/bit_parallel_band.hpp"
#include "algo/char_map.hpp"
#include "algo/score_arithmetic.hpp"

namespace kivo {

namespace {

template <class C>
std::uint64_t bit_parallel_distance(std::span<const C> a, std::span<const C> b) {
  // The shorter text runs down the rows: fewer words per column.
  if (a.size() > b.size()) std::swap(a, b);
  if (a.empty()) return b.size();
  if (a.size() <= 64) {
    return bitpar::on_one_word(
        a, b, [](auto eq, std::size_t m, auto text) { return bitpar::distance_word(eq, m, text); });
  }
  return bitpar::distance_long<bitpar::MyersSteps>(a, b);
}

}  // namespace

std::uint64_t levenshtein_distance(const CharSpan& a, const CharSpan& b) {
  return visit_units(a, [&](auto x) {
    return visit_units(b, [&](auto y) {
      strip_common_affixes(x, y);
      return bitpar::with_word_unit_type(
          x, y, [](auto p, auto q) { return bit_parallel_distance(p, q); });
    });
  });
}

LevenshteinPattern::LevenshteinPattern(std::u32string_view pattern)
    : m_(pattern.size()), masks_(std::span<const char32_t>(pattern)) {}

std::uint64_t LevenshteinPattern::distance(std::u32string_view text, std::uint64_t most) {
  std::span<const char32_t> t(text);
  std::uint64_t n = t.size();
  std::uint64_t gap = n > m_ ? n - m_ : m_ - n;
  if (m_ == 0 || n == 0 || gap > most) return std::max(m_, n);
  if (most >= m_ + n) return bitpar::distance_long<bitpar::MyersSteps>(m_, t, masks_);
  // A band of 63 diagonals costs one word a column whatever the pattern's
  // length; past that, a band pays off while it is narrower than the rows.
  if (most <= 63) return bitpar::distance_diagonal<bitpar::MyersSteps>(m_, t, masks_, most);
  if ((most + 128) * 3 < m_ * 2)
    return bitpar::distance_banded<bitpar::MyersSteps>(m_, t, masks_, most, most);
  return bitpar::distance_blocks(m_, t, masks_);
}

double levenshtein_similarity(const CharSpan& a, const CharSpan& b) {
  std::size_t longest = std::max(a.length, b.length);
  if (longest == 0) return 1.0;
  return levenshtein_similarity_from(levenshtein_distance(a, b), longest);
}

}  // namespace kivo
