// Levenshtein edit distance over Unicode scalar values (insert, delete,
// substitute, each cost 1) and the similarity 1 - d / max(len).
#pragma once

#include <cstdint>
#include <string_view>

#include "text/char_span.hpp"

namespace kivo {

std::uint64_t levenshtein_distance(std::string_view a, std::string_view b);
double levenshtein_similarity(std::string_view a, std::string_view b);

// The same over fixed-width code units, of equal or different widths.
std::uint64_t levenshtein_distance(const CharSpan& a, const CharSpan& b);
double levenshtein_similarity(const CharSpan& a, const CharSpan& b);

}  // namespace kivo
