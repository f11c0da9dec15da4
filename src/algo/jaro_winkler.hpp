// Jaro-Winkler similarity: Jaro matching from a's side within the window
// floor(max/2) - 1, plus the Winkler bonus for up to 4 common prefix chars.
#pragma once

#include <string_view>

namespace kivo {

double jaro_winkler_similarity(std::string_view a, std::string_view b);

}  // namespace kivo
