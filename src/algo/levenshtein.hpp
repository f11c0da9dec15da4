// Levenshtein edit distance over Unicode scalar values (insert, delete,
// substitute, each cost 1) and the similarity 1 - d / max(len). The texts are
// fixed-width code units, of equal or different widths.
#pragma once

#include <cstdint>
#include <string_view>

#include "algo/char_map.hpp"
#include "text/char_span.hpp"

namespace kivo {

std::uint64_t levenshtein_distance(const CharSpan& a, const CharSpan& b);
double levenshtein_similarity(const CharSpan& a, const CharSpan& b);

// A text prepared once to be scored against many: its character masks are
// built here rather than for every pair. One thread at a time.
class LevenshteinPattern {
 public:
  explicit LevenshteinPattern(std::u32string_view pattern);

  // The distance to `text` when it is at most `most`, else a value above
  // `most`. The smaller `most`, the narrower the band of the programme that
  // is computed, and the sooner a text out of reach is given up on.
  std::uint64_t distance(std::u32string_view text, std::uint64_t most);

 private:
  std::uint64_t m_;
  bitpar::BlockMasks masks_;
};

}  // namespace kivo
