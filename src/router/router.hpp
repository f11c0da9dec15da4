// Tiered comparison: tier 1 decides on a clear match or mismatch, tier 2 on
// its single rule, and an undecided pair falls back to tier 1's score.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/error.hpp"
#include "router/tier.hpp"

namespace kivo {

// The parsed form of a KivoFlow object's settings, made when a tier or the
// cleaning switch is set and used as it is by every comparison.
struct Router {
  std::optional<Tier> tier_1;
  std::optional<Tier> tier_2;
  bool preprocess = false;  // clean both texts as clean_text does first
};

// The two texts a comparison scores: cleaned copies (a first) when the
// router preprocesses, otherwise the caller's own.
class PreparedTexts {
 public:
  PreparedTexts(const Router& router, std::string_view a, std::string_view b);
  PreparedTexts(const PreparedTexts&) = delete;
  PreparedTexts& operator=(const PreparedTexts&) = delete;

  std::string_view a() const { return a_; }
  std::string_view b() const { return b_; }

 private:
  std::string cleaned_a_;
  std::string cleaned_b_;
  std::string_view a_;
  std::string_view b_;
};

struct CompareResult {
  std::string_view algorithm;  // a static reported name
  double score;
  std::uint64_t tier;  // 1 or 2; 0 for comparisons by intent
  bool fallback_called = false;
  std::optional<std::string> fallback_data;
};

// Errors come in step order: tier 1's algorithm, tier 2's, then
// "No tiers configured" when nothing decided and there is no tier 1.
Result<CompareResult> compare(const Router& router, std::string_view a, std::string_view b);

}  // namespace kivo
