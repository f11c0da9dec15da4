// How many of a text's characters fall into each of 64 classes: a cheap
// lower bound of the edit distance between two texts, which settles most
// pairs that a cutoff rules out before any dynamic programme runs.
#pragma once

#include <cstdint>
#include <string_view>

namespace kivo {

// Counts saturate at 255, which keeps the bound below the distance: capping
// two counts never widens the gap between them.
struct CharHistogram {
  alignas(16) std::uint8_t counts[64];
};

CharHistogram char_histogram(std::u32string_view text);

// A lower bound of the Levenshtein distance: an insertion or deletion moves
// one count by one, a substitution one count up and one down, so the texts
// need at least as many edits as either side's surplus.
std::uint64_t edit_lower_bound(const CharHistogram& a, const CharHistogram& b);

// At least as many characters as the texts have in common (counted with
// repeats): what they share class by class. A saturated count may hide
// more, so then every character counts.
std::uint64_t common_count_bound(const CharHistogram& a, const CharHistogram& b);

}  // namespace kivo
