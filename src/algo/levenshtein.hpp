// Levenshtein edit distance over Unicode scalar values (insert, delete,
// substitute, each cost 1) and the similarity 1 - d / max(len). The texts are
// fixed-width code units, of equal or different widths.
#pragma once

#include <cstdint>

#include "text/char_span.hpp"

namespace kivo {

std::uint64_t levenshtein_distance(const CharSpan& a, const CharSpan& b);
double levenshtein_similarity(const CharSpan& a, const CharSpan& b);

}  // namespace kivo
