// The Jaccard index of two texts' character shingle sets or word sets.
#pragma once

#include <cstdint>
#include <string_view>

namespace kivo {

double jaccard_similarity(std::string_view a, std::string_view b, std::uint64_t n);
double jaccard_word_similarity(std::string_view a, std::string_view b);

}  // namespace kivo
