// Levenshtein distance with its own cost per insertion (a character of b
// added), deletion (a character of a removed) and substitution. Costs are
// non-negative integers; the result is exact up to 2^128 - 1, which no
// product of 64-bit costs and text lengths reaches.
#pragma once

#include <cstdint>

#include "text/char_span.hpp"

namespace kivo {

using WideCost = unsigned __int128;

struct EditCosts {
  std::uint64_t insert;
  std::uint64_t remove;
  std::uint64_t substitute;
};

WideCost weighted_levenshtein_distance(const CharSpan& a, const CharSpan& b,
                                       const EditCosts& costs);

}  // namespace kivo
