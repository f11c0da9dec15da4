#include "algo/transpositions.hpp"

#include <algorithm>
#include <span>
#include <utility>
#include <vector>

#include "algo/affixes.hpp"
#include "algo/bit_parallel.hpp"
#include "algo/bit_parallel_band.hpp"
#include "algo/bit_parallel_kernels.hpp"
#include "algo/char_map.hpp"
#include "algo/score_arithmetic.hpp"
#include "base/cancel.hpp"

namespace kivo {

namespace {

template <class C>
std::uint64_t osa_stripped(std::span<const C> a, std::span<const C> b) {
  if (a.size() > b.size()) std::swap(a, b);
  if (a.empty()) return b.size();
  if (a.size() <= 64) {
    bitpar::WordMasks masks(a, b);
    return bitpar::osa_word([&](C c) { return masks.get(c); }, a.size(), b);
  }
  return bitpar::distance_long<bitpar::OsaSteps>(a, b);
}

// Unrestricted Damerau-Levenshtein in linear space. A swap that reaches
// cell (i, j) pairs a[i] with an earlier b[l] and b[j] with an earlier a[k],
// and costs the cell (k - 1, l - 1) plus everything between. When both gaps
// hold characters, substituting them is never dearer than the swap, so only
// swaps with no gap on one side count: those read the row before the last
// match of b[j] at column j - 2 (kept per column when the match is seen), or
// the row before the previous one at column l - 1 (kept per row).
template <class C>
std::uint64_t damerau_levenshtein_stripped(std::span<const C> a, std::span<const C> b) {
  if (a.size() < b.size()) std::swap(a, b);  // the shorter one along the columns
  std::size_t n = a.size(), m = b.size();
  if (m == 0) return n;
  bitpar::DenseIds ids(a);
  for (C c : a) ids.add(c);
  std::vector<std::size_t> last_row(ids.count(), 0);  // the last row holding each character
  std::vector<std::size_t> rows(3 * (m + 1));
  std::size_t* before = rows.data();       // row i - 2
  std::size_t* previous = before + m + 1;  // row i - 1
  std::size_t* current = previous + m + 1;
  std::vector<std::size_t> match_corner(m + 1, 0);  // column j: D[k - 1][j - 2] of its last match
  for (std::size_t j = 0; j <= m; ++j) previous[j] = j;
  cancel::Meter meter;
  for (std::size_t i = 1; i <= n; ++i) {
    meter.add(m);
    C ai = a[i - 1];
    current[0] = i;
    std::size_t last_column = 0;  // the last column of this row matching a[i]
    std::size_t row_corner = 0;   // D[i - 2][last_column - 1]
    for (std::size_t j = 1; j <= m; ++j) {
      C bj = b[j - 1];
      std::size_t value = std::min(previous[j], current[j - 1]) + 1;
      if (ai == bj) {
        value = std::min(value, previous[j - 1]);
        last_column = j;
        if (j >= 2) match_corner[j] = previous[j - 2];
        if (i >= 2) row_corner = before[j - 1];
      } else {
        value = std::min(value, previous[j - 1] + 1);
        std::uint32_t id = ids.find(bj);
        std::size_t k = id == bitpar::DenseIds::kNone ? 0 : last_row[id];
        if (k != 0 && last_column != 0) {
          if (j - last_column == 1) {
            value = std::min(value, match_corner[j] + (i - k));
          } else if (i - k == 1) {
            value = std::min(value, row_corner + (j - last_column));
          }
        }
      }
      current[j] = value;
    }
    last_row[ids.find(ai)] = i;
    std::swap(before, previous);  // the old row i - 2 is overwritten next
    std::swap(previous, current);
  }
  return previous[m];
}

template <class F>
std::uint64_t on_stripped(const CharSpan& a, const CharSpan& b, F&& f) {
  return visit_units(a, [&](auto x) {
    return visit_units(b, [&](auto y) {
      strip_common_affixes(x, y);
      return bitpar::with_one_unit_type(x, y, f);
    });
  });
}

double similarity(std::uint64_t distance, const CharSpan& a, const CharSpan& b) {
  return levenshtein_similarity_from(distance, std::max(a.length, b.length));
}

}  // namespace

std::uint64_t osa_distance(const CharSpan& a, const CharSpan& b) {
  return on_stripped(a, b, [](auto x, auto y) { return osa_stripped(x, y); });
}

double osa_similarity(const CharSpan& a, const CharSpan& b) {
  return similarity(osa_distance(a, b), a, b);
}

std::uint64_t damerau_levenshtein_distance(const CharSpan& a, const CharSpan& b) {
  return on_stripped(a, b, [](auto x, auto y) { return damerau_levenshtein_stripped(x, y); });
}

double damerau_levenshtein_similarity(const CharSpan& a, const CharSpan& b) {
  return similarity(damerau_levenshtein_distance(a, b), a, b);
}

}  // namespace kivo
