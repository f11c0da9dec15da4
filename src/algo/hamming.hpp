// Hamming distance over character positions. Texts of different character
// counts have no value; each caller reports that in its own words.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace kivo {

std::optional<std::uint64_t> hamming_distance(std::string_view a, std::string_view b);
std::optional<double> hamming_similarity(std::string_view a, std::string_view b);

}  // namespace kivo
