// The longest common subsequence, and the Indel distance (insertions and
// deletions only) it gives: |a| + |b| - 2 * LCS. Over code points.
#pragma once

#include <cstdint>
#include <span>

#include "text/char_span.hpp"

namespace kivo {

std::uint64_t lcs_length(const CharSpan& a, const CharSpan& b);
// 1 - (max(len) - LCS) / max(len); 1.0 for two empty texts.
double lcs_similarity(const CharSpan& a, const CharSpan& b);

std::uint64_t indel_distance(const CharSpan& a, const CharSpan& b);
// 1 - d / (|a| + |b|); 1.0 for two empty texts.
double indel_similarity(const CharSpan& a, const CharSpan& b);
double indel_similarity_from(std::uint64_t distance, std::uint64_t total_length);

// The LCS of two texts in one unit type, `pattern` the shorter one.
template <class C>
std::uint64_t lcs_of(std::span<const C> pattern, std::span<const C> text);

}  // namespace kivo
