// Shingling (character n-grams, words) and the Jaccard index of the sets.
// Shingles are views into the caller's text; they live as long as it does.
#pragma once

#include <cstdint>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace kivo {

using ShingleSet = std::unordered_set<std::string_view>;

// Windows of n characters; a text shorter than n is its own single shingle.
// n == 0 is an internal fault ("window size must be non-zero").
ShingleSet shingle_set(std::string_view text, std::uint64_t n);
std::vector<std::string_view> shingle_list(std::string_view text, std::uint64_t n);

// Maximal runs of non-whitespace characters.
ShingleSet word_set(std::string_view text);

double jaccard_similarity(std::string_view a, std::string_view b, std::uint64_t n);
double jaccard_word_similarity(std::string_view a, std::string_view b);

}  // namespace kivo
