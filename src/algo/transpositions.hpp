// Edit distances that also swap two adjacent characters at cost 1:
// optimal string alignment (no substring is edited after a swap) and
// unrestricted Damerau-Levenshtein. Over code points; similarities are
// 1 - d / max(len), 1.0 for two empty texts.
#pragma once

#include <cstdint>

#include "text/char_span.hpp"

namespace kivo {

std::uint64_t osa_distance(const CharSpan& a, const CharSpan& b);
double osa_similarity(const CharSpan& a, const CharSpan& b);

std::uint64_t damerau_levenshtein_distance(const CharSpan& a, const CharSpan& b);
double damerau_levenshtein_similarity(const CharSpan& a, const CharSpan& b);

}  // namespace kivo
