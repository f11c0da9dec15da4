// Jaro-Winkler similarity: Jaro matching from a's side within the window
// floor(max/2) - 1, plus the Winkler bonus for up to 4 common prefix chars.
// The texts are fixed-width code units, of equal or different widths.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "algo/char_map.hpp"
#include "text/char_span.hpp"

namespace kivo {

double jaro_winkler_similarity(const CharSpan& a, const CharSpan& b);

// A text prepared once to be scored against many, of any lengths: its
// position masks are built here rather than for every pair. The matching is
// the same whichever text leads (both sides pair their equal characters
// leftmost first, under the same window), so the score equals the single
// call's either way round. One thread at a time.
class JaroWinklerPattern {
 public:
  explicit JaroWinklerPattern(std::u32string_view pattern);

  // jaro_winkler_similarity(pattern, text), bit for bit.
  double similarity(std::u32string_view text);

 private:
  // Matches `a` against the pattern, flagging the pattern's matched
  // positions and listing a's matched characters; returns their number.
  std::size_t match_narrow(std::span<const char32_t> a, std::size_t window, std::size_t stop);
  std::size_t match_wide(std::span<const char32_t> a, std::size_t window, std::size_t stop);

  std::u32string_view pattern_;
  bitpar::BlockMasks masks_;
  std::vector<std::uint64_t> flagged_;
  std::vector<char32_t> matched_;
};

}  // namespace kivo
