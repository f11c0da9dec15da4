#include "algo/indel.hpp"

#include <algorithm>
#include <utility>
#include <vector>

#include "algo/affixes.hpp"
#include "algo/bit_parallel.hpp"
#include "algo/bit_parallel_kernels.hpp"
#include "algo/char_map.hpp"
#include "algo/score_arithmetic.hpp"
#include "base/bits.hpp"
#include "base/cancel.hpp"

namespace kivo {

namespace {

// Out of line, so that flattening the short path leaves the blocks alone.
template <class C>
[[gnu::noinline]] std::uint64_t lcs_long(std::span<const C> pattern, std::span<const C> text) {
  bitpar::BlockMasks masks(pattern);
  return bitpar::lcs_blocks(masks, pattern.size(), text);
}

// lcs_of's body, inlined with the pieces of its short path: a short pair
// is one call, its masks and columns in registers.
template <class C>
[[gnu::always_inline]] inline std::uint64_t inlined_lcs(std::span<const C> pattern,
                                                        std::span<const C> text) {
  if (pattern.empty() || text.empty()) return 0;
  if (pattern.size() <= 64) {
    return bitpar::on_one_word(
        pattern, text, [](auto eq, std::size_t m, auto t) { return bitpar::lcs_word(eq, m, t); });
  }
  return lcs_long(pattern, text);
}

// Flattened, with the long path of inlined_lcs its one call out.
[[gnu::flatten]] std::uint64_t stripped_lcs(const CharSpan& a, const CharSpan& b) {
  return visit_units(a, [&](auto x) {
    return visit_units(b, [&](auto y) {
      std::size_t before = x.size();
      strip_common_affixes(x, y);
      std::uint64_t common = before - x.size();
      return common + bitpar::with_word_unit_type(x, y, [](auto p, auto q) {
               if (p.size() > q.size()) std::swap(p, q);
               return inlined_lcs(p, q);
             });
    });
  });
}

}  // namespace

template <class C>
std::uint64_t lcs_of(std::span<const C> pattern, std::span<const C> text) {
  return inlined_lcs(pattern, text);
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
