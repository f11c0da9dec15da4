// Bit-parallel edit distance (Myers 1999, in Hyyrö's formulation): the
// vertical differences of one column of the dynamic programme are packed into
// 64-bit words, so a column costs a handful of word operations per 64 rows.
// The pattern runs down the rows, the text along the columns.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

#include "algo/char_map.hpp"
#include "base/bits.hpp"
#include "base/cancel.hpp"

namespace kivo::bitpar {

// One column step on one word. `eq` has bit i set when row i matches the
// column's character; pv/mv are the rows whose vertical delta is +1/-1.
// carry_p/carry_n is the horizontal delta entering the word's top row (+1,
// -1 or 0); on return they hold the delta leaving its bottom row (bit 63).
// `last` selects the row whose horizontal delta is reported in out_p/out_n.
struct Column {
  std::uint64_t pv = ~std::uint64_t(0);
  std::uint64_t mv = 0;

  void step(std::uint64_t eq, std::uint64_t& carry_p, std::uint64_t& carry_n) {
    std::uint64_t xv = eq | mv;
    eq |= carry_n;  // a -1 from above lets the top row take the diagonal
    std::uint64_t xh = (((eq & pv) + pv) ^ pv) | eq;
    std::uint64_t hp = mv | ~(xh | pv);
    std::uint64_t hn = pv & xh;
    std::uint64_t out_p = hp >> 63;
    std::uint64_t out_n = hn >> 63;
    hp = (hp << 1) | carry_p;
    hn = (hn << 1) | carry_n;
    pv = hn | ~(xv | hp);
    mv = hp & xv;
    carry_p = out_p;
    carry_n = out_n;
  }
};

// Edit distance of a pattern of 1 to 64 characters against a text; eq(c)
// is the mask of character c.
template <class Eq, class T>
std::uint64_t distance_word(Eq&& eq, std::size_t m, std::span<const T> text) {
  std::uint64_t pv = ~std::uint64_t(0);
  std::uint64_t mv = 0;
  std::uint64_t score = m;
  unsigned last = unsigned(m - 1);
  for (std::size_t t = 0; t < text.size();) {
    for (std::size_t piece = cancel::piece_end(t, text.size()); t < piece; ++t) {
      std::uint64_t pm = eq(text[t]);
      std::uint64_t xv = pm | mv;
      std::uint64_t xh = (((pm & pv) + pv) ^ pv) | pm;
      std::uint64_t hp = mv | ~(xh | pv);
      std::uint64_t hn = pv & xh;
      score += (hp >> last) & 1;
      score -= (hn >> last) & 1;
      hp = (hp << 1) | 1;  // the top row grows by one per column
      hn <<= 1;
      pv = hn | ~(xv | hp);
      mv = hp & xv;
    }
  }
  return score;
}

// word(eq, m, text) for two texts whose shorter has 1 to 64 characters. The
// kernels step through the text a column at a time, while the rows of a word
// come together: so the longer one runs down the rows when it fits a word too.
template <class C, class Word>
std::uint64_t on_one_word(std::span<const C> shorter, std::span<const C> longer, Word&& word) {
  if (longer.size() <= 64) return with_word_masks(longer, shorter, word);
  return with_word_masks(shorter, longer, word);
}

// The step of the word holding the pattern's last row, whose horizontal
// delta moves the score (the distance at the current column).
inline void last_word_step(Column& col, std::uint64_t eq, std::uint64_t carry_p,
                           std::uint64_t carry_n, unsigned last, std::uint64_t& score) {
  std::uint64_t xv = eq | col.mv;
  eq |= carry_n;
  std::uint64_t xh = (((eq & col.pv) + col.pv) ^ col.pv) | eq;
  std::uint64_t hp = col.mv | ~(xh | col.pv);
  std::uint64_t hn = col.pv & xh;
  score += (hp >> last) & 1;
  score -= (hn >> last) & 1;
  hp = (hp << 1) | carry_p;
  hn = (hn << 1) | carry_n;
  col.pv = hn | ~(xv | hp);
  col.mv = hp & xv;
}

// Edit distance of a pattern of any length against a text, 64 rows per word.
// Two columns run in one pass over the words: the second column's step on a
// word needs only the first column's step on the same word, so the two carry
// chains overlap instead of running one after the other.
template <class T>
std::uint64_t distance_blocks(std::uint64_t m, std::span<const T> text, BlockMasks& masks) {
  std::size_t words = masks.words();
  std::vector<Column> columns(words);
  std::uint64_t score = m;
  unsigned last = unsigned((m - 1) % 64);
  std::size_t t = 0;
  cancel::Meter meter;
  if (masks.lookups_stable()) {
    for (; t + 2 <= text.size(); t += 2) {
      meter.add(2 * words);
      const std::uint64_t* eq1 = masks.get(text[t]);
      const std::uint64_t* eq2 = masks.get(text[t + 1]);
      std::uint64_t p1 = 1, n1 = 0, p2 = 1, n2 = 0;  // the top row grows by one per column
      for (std::size_t w = 0; w + 1 < words; ++w) {
        columns[w].step(eq1[w], p1, n1);
        columns[w].step(eq2[w], p2, n2);
      }
      last_word_step(columns[words - 1], eq1[words - 1], p1, n1, last, score);
      last_word_step(columns[words - 1], eq2[words - 1], p2, n2, last, score);
    }
  }
  for (; t < text.size(); ++t) {
    meter.add(words);
    const std::uint64_t* eq = masks.get(text[t]);
    std::uint64_t carry_p = 1;
    std::uint64_t carry_n = 0;
    for (std::size_t w = 0; w + 1 < words; ++w) columns[w].step(eq[w], carry_p, carry_n);
    last_word_step(columns[words - 1], eq[words - 1], carry_p, carry_n, last, score);
  }
  return score;
}

// The least value at the bottom rows of the live words [first, last],
// walking up from the last one's: each word's rows add up its deltas.
inline std::uint64_t lowest_bottom(const std::vector<Column>& columns, std::size_t first,
                                   std::size_t last, std::size_t words, unsigned last_bit,
                                   std::uint64_t bottom_value) {
  std::uint64_t lowest = bottom_value;
  for (std::size_t w = last; w > first; --w) {
    std::uint64_t rows = w + 1 == words && last_bit < 63 ? (std::uint64_t(1) << (last_bit + 1)) - 1
                                                         : ~std::uint64_t(0);
    bottom_value = bottom_value + bits::popcount64(columns[w].mv & rows) -
                   bits::popcount64(columns[w].pv & rows);
    lowest = std::min(lowest, bottom_value);
  }
  return lowest;
}

// The edit distance restricted to the diagonals a path of cost <= k can use
// (|d| <= k for d = n - m, the text's length less the pattern's). Only the
// words that hold such rows are computed; a word entering the band starts
// from its upper neighbour's value plus one per row, and the first word of
// the band takes +1 from above. Both only ever overestimate, so every value
// is the cost of some alignment: the result is an upper bound of the
// distance, and the distance itself whenever that is at most k.
//
// The alignment behind the result crosses every column at a computed cell
// (or on the top row, whose value is the column number), and values never
// fall along it. Values within a word differ from its bottom row's by at most
// 63, so once every live word's bottom exceeds limit + 64, past column
// limit, the result will exceed limit: the pass gives up and returns
// kNoBound, for a caller with no use for bounds above limit.
inline constexpr std::uint64_t kNoBound = ~std::uint64_t(0);

template <class T>
std::uint64_t distance_banded(std::uint64_t m, std::span<const T> text, BlockMasks& masks,
                              std::uint64_t k, std::uint64_t limit) {
  std::size_t words = masks.words();
  std::uint64_t d = text.size() - m;  // modulo 2^64: the formulas below hold for n < m too
  std::uint64_t above = (d + k) / 2;  // rows i >= j - above
  std::uint64_t below = (k - d) / 2;  // rows i <= j + below
  unsigned last_bit = unsigned((m - 1) % 64);
  std::vector<Column> columns(words);
  std::size_t first = 0;
  std::size_t last = 0;  // words [first, last] are live
  // Only the value at the bottom row of the last live word is tracked; the
  // other words' bottoms follow from it and the vertical deltas when needed.
  std::uint64_t bottom_value = words == 1 ? m : 64;
  std::uint64_t j = 0;
  cancel::Meter meter;
  for (T c : text) {
    ++j;
    meter.add(last - first + 1);
    if (j % 64 == 0 && j > limit) {
      std::uint64_t lowest = lowest_bottom(columns, first, last, words, last_bit, bottom_value);
      if (lowest > limit && lowest - limit > 64) return kNoBound;
    }
    std::uint64_t row_lo = j > above ? j - above : 1;
    std::uint64_t row_hi = std::min(m, j + below);
    std::size_t want_first = std::size_t((row_lo - 1) / 64);
    std::size_t want_last = std::size_t((row_hi - 1) / 64);
    while (last < want_last) {
      ++last;
      columns[last] = Column{};
      bottom_value += last + 1 == words ? last_bit + 1 : 64;
    }
    if (want_first > first) first = want_first;
    const std::uint64_t* eq = masks.get(c);
    std::uint64_t carry_p = 1;
    std::uint64_t carry_n = 0;
    for (std::size_t w = first; w < last; ++w) columns[w].step(eq[w], carry_p, carry_n);
    last_word_step(columns[last], eq[last], carry_p, carry_n, last + 1 == words ? last_bit : 63,
                   bottom_value);
  }
  return bottom_value;
}

// The value `rows` (< 64) rows below one whose value is `value`, in a word of
// vertical deltas whose bit 0 is that row.
inline std::uint64_t value_below(std::uint64_t value, std::uint64_t pv, std::uint64_t mv,
                                 std::uint64_t rows) {
  std::uint64_t under = rows == 0 ? 0 : (~std::uint64_t(0) >> (64 - rows)) << 1;
  return value + bits::popcount64(pv & under) - bits::popcount64(mv & under);
}

// The same bound for k = 63 in one word that slides down the diagonal: at
// column j, bit t holds row top + t with top = max(1, j - above), so the word
// always covers the band. Moving down a row drops the top row's delta and
// lets a new bottom row in at +1 (an overestimate, like a word entering the
// band above). `value` follows the top row: D[top][j].
//
// With limit <= k, the pass also gives up once the value where this column
// meets the diagonal through (m, n) exceeds limit: values never fall along a
// diagonal, and a cell of cost <= k is reached within the band, so its value
// is exact.
template <class T>
std::uint64_t distance_diagonal(std::uint64_t m, std::span<const T> text, BlockMasks& masks,
                                std::uint64_t limit) {
  constexpr std::uint64_t k = 63;
  std::size_t words = masks.words();
  std::uint64_t n = text.size();
  std::uint64_t d = n - m;  // |n - m| <= k, modulo 2^64 as in distance_banded
  std::uint64_t above = (d + k) / 2;
  std::uint64_t pv = ~std::uint64_t(0);
  std::uint64_t mv = 0;
  std::uint64_t value = 1;  // D[1][0]
  std::uint64_t top = 1;
  std::uint64_t j = 0;
  cancel::Meter meter;
  for (T c : text) {
    ++j;
    meter.add();
    if (j > above + 1) {
      // Down one row: the value moves to the second row, the deltas shift.
      value += (pv >> 1) & 1;
      value -= (mv >> 1) & 1;
      pv = (pv >> 1) | (std::uint64_t(1) << 63);
      mv >>= 1;
      ++top;
      // Every row of the word lies within 63 of the top one.
      if (j % 64 == 0 && j > limit && value > limit + 127) return kNoBound;
    }
    const std::uint64_t* row = masks.get(c);
    std::uint64_t shift = (top - 1) % 64;
    std::size_t w = std::size_t((top - 1) / 64);
    std::uint64_t eq = row[w] >> shift;
    if (shift != 0 && w + 1 < words) eq |= row[w + 1] << (64 - shift);
    std::uint64_t xv = eq | mv;
    std::uint64_t xh = (((eq & pv) + pv) ^ pv) | eq;
    std::uint64_t hp = mv | ~(xh | pv);
    std::uint64_t hn = pv & xh;
    value += hp & 1;
    value -= hn & 1;
    hp = (hp << 1) | 1;  // +1 from the row above the word
    hn <<= 1;
    pv = hn | ~(xv | hp);
    mv = hp & xv;
    if (limit <= k && j % 8 == 0 && j + m >= n + top) {
      std::uint64_t rows = j + m - n - top;  // the diagonal's row, below the top one
      if (rows <= 63 && value_below(value, pv, mv, rows) > limit) return kNoBound;
    }
  }
  // Row m is bit m - top; add the deltas from the top row down to it.
  return value_below(value, pv, mv, m - top);  // at most 63 rows down
}

// Edit distance between a pattern of m > 0 characters and a text of any
// length. A narrow band first: when the texts are alike it already gives the
// distance, and otherwise an upper bound that sizes the second band.
template <class T>
std::uint64_t distance_long(std::uint64_t m, std::span<const T> text, BlockMasks& masks) {
  std::uint64_t d = text.size() > m ? text.size() - m : m - text.size();
  // A band of about k rows costs k / 64 + 2 words per column, with more
  // bookkeeping per word than the full columns, which also run two columns
  // at once; past about two thirds of the pattern the full columns are cheaper.
  auto narrow_enough = [m](std::uint64_t k) { return k < m && (k + 128) * 3 < m * 2; };
  std::uint64_t widest = m * 2 / 3 > 128 ? m * 2 / 3 - 128 : 0;  // about the last narrow k
  std::uint64_t k = d <= 63 ? 63 : d + 64;
  if (!narrow_enough(k)) return distance_blocks(m, text, masks);
  std::uint64_t limit = std::max(k, widest);
  std::uint64_t bound = k == 63 ? distance_diagonal(m, text, masks, limit)
                                : distance_banded(m, text, masks, k, limit);
  if (bound <= k) return bound;
  if (!narrow_enough(bound)) return distance_blocks(m, text, masks);
  return distance_banded(m, text, masks, bound, kNoBound);
}

template <class P, class T>
std::uint64_t distance_long(std::span<const P> pattern, std::span<const T> text) {
  BlockMasks masks(pattern);
  if constexpr (sizeof(T) > 1) {
    // Non-ASCII text is translated into table rows once, so that the passes
    // below do not hash every character again.
    if (masks.lookups_stable()) {
      std::vector<BlockMasks::Row> rows(text.size());
      for (std::size_t i = 0; i < text.size();) {
        for (std::size_t piece = cancel::piece_end(i, text.size()); i < piece; ++i) {
          rows[i] = masks.row(text[i]);
        }
      }
      return distance_long(pattern.size(), std::span<const BlockMasks::Row>(rows), masks);
    }
  }
  return distance_long(pattern.size(), text, masks);
}

}  // namespace kivo::bitpar
