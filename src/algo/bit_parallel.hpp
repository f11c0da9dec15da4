// Bit-parallel edit distance (Myers 1999, in Hyyrö's formulation): the
// vertical differences of one column of the dynamic programme are packed into
// 64-bit words, so a column costs a handful of word operations per 64 rows.
// The pattern runs down the rows, the text along the columns.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

#include "algo/bit_parallel_kernels.hpp"
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
[[gnu::always_inline]] inline std::uint64_t distance_word(Eq&& eq, std::size_t m,
                                                          std::span<const T> text) {
  std::uint64_t pv = ~std::uint64_t(0);
  std::uint64_t mv = 0;
  for (std::size_t t = 0; t < text.size();) {
    for (std::size_t piece = cancel::piece_end(t, text.size()); t < piece; ++t) {
      std::uint64_t pm = eq(text[t]);
      std::uint64_t xv = pm | mv;
      std::uint64_t xh = (((pm & pv) + pv) ^ pv) | pm;
      std::uint64_t hp = mv | ~(xh | pv);
      std::uint64_t hn = pv & xh;
      hp = (hp << 1) | 1;  // the top row grows by one per column
      hn <<= 1;
      pv = hn | ~(xv | hp);
      mv = hp & xv;
    }
  }
  return last_column_score(text.size(), m, pv, mv);
}

// word(eq, m, text) for two texts whose shorter has 1 to 64 characters. The
// kernels step through the text a column at a time, while the rows of a word
// come together: so the longer one runs down the rows when it fits a word too.
template <class C, class Word>
[[gnu::always_inline]] inline std::uint64_t on_one_word(std::span<const C> shorter,
                                                        std::span<const C> longer, Word&& word) {
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

}  // namespace kivo::bitpar
