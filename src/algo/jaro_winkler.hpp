// Jaro-Winkler similarity: Jaro matching from a's side within the window
// floor(max/2) - 1, plus the Winkler bonus for up to 4 common prefix chars.
// The texts are fixed-width code units, of equal or different widths.
#pragma once

#include "text/char_span.hpp"

namespace kivo {

double jaro_winkler_similarity(const CharSpan& a, const CharSpan& b);

}  // namespace kivo
