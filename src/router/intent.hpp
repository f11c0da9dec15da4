// Comparison by intent: one algorithm chosen by what the texts are, or by
// their lengths for "auto". Tiers play no part; only preprocessing does.
#pragma once

#include <string_view>

#include "base/error.hpp"
#include "router/algorithm.hpp"
#include "router/router.hpp"

namespace kivo {

enum class Intent { Names, Typos, Codes, Documents, Dedup, Auto };

// Exact, case-sensitive match; anything else is "unknown intent: {intent}".
Result<Intent> parse_intent(std::string_view intent);

// The algorithm "auto" runs on the prepared texts a and b.
Algorithm auto_algorithm(std::string_view a, std::string_view b);

// A result with tier 0; fails only when the chosen algorithm does.
Result<CompareResult> compare_by_intent(const Router& router, Intent intent, std::string_view a,
                                        std::string_view b);

}  // namespace kivo
