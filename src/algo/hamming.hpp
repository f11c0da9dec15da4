// Hamming distance over character positions, the texts being fixed-width
// code units of equal or different widths. Texts of different character
// counts have no value; each caller reports that in its own words.
#pragma once

#include <cstdint>
#include <optional>

#include "text/char_span.hpp"

namespace kivo {

std::optional<std::uint64_t> hamming_distance(const CharSpan& a, const CharSpan& b);
std::optional<double> hamming_similarity(const CharSpan& a, const CharSpan& b);

}  // namespace kivo
