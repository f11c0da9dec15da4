// Hamming distance over character positions. Texts of different character
// counts have no value; each caller reports that in its own words.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "text/char_span.hpp"

namespace kivo {

std::optional<std::uint64_t> hamming_distance(std::string_view a, std::string_view b);
std::optional<double> hamming_similarity(std::string_view a, std::string_view b);

// The same over fixed-width code units, of equal or different widths.
std::optional<std::uint64_t> hamming_distance(const CharSpan& a, const CharSpan& b);
std::optional<double> hamming_similarity(const CharSpan& a, const CharSpan& b);

}  // namespace kivo
