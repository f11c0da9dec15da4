// Levenshtein edit distance over Unicode scalar values (insert, delete,
// substitute, each cost 1) and the similarity 1 - d / max(len). The texts are
// fixed-width code units, of equal or different widths.
#pragma once

#include <cstddef>
#include <cstdint>

#include "text/char_span.hpp"

namespace kivo {

// The similarity of a distance d between texts whose longer one has
// `longest` > 0 characters; every caller computes it here, so all agree bit
// for bit.
inline double levenshtein_normalized(std::uint64_t d, std::size_t longest) {
  return 1.0 - double(d) / double(longest);
}

std::uint64_t levenshtein_distance(const CharSpan& a, const CharSpan& b);
double levenshtein_similarity(const CharSpan& a, const CharSpan& b);

}  // namespace kivo
