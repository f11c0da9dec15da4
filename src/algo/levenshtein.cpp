#include "algo/levenshtein.hpp"

#include <algorithm>
#include <span>
#include <utility>

#include "algo/affixes.hpp"
#include "algo/bit_parallel.hpp"
#include "algo/char_map.hpp"
#include "algo/score_arithmetic.hpp"

namespace kivo {

namespace {

template <class C>
std::uint64_t bit_parallel_distance(std::span<const C> a, std::span<const C> b) {
  // The shorter text runs down the rows: fewer words per column.
  if (a.size() > b.size()) std::swap(a, b);
  if (a.empty()) return b.size();
  if (a.size() <= 64) return bitpar::distance_word(a, b);
  return bitpar::distance_long(a, b);
}

}  // namespace

std::uint64_t levenshtein_distance(const CharSpan& a, const CharSpan& b) {
  return visit_units(a, [&](auto x) {
    return visit_units(b, [&](auto y) {
      strip_common_affixes(x, y);
      return bitpar::with_one_unit_type(x, y,
                                        [](auto p, auto q) { return bit_parallel_distance(p, q); });
    });
  });
}

double levenshtein_similarity(const CharSpan& a, const CharSpan& b) {
  std::size_t longest = std::max(a.length, b.length);
  if (longest == 0) return 1.0;
  return levenshtein_similarity_from(levenshtein_distance(a, b), longest);
}

}  // namespace kivo
