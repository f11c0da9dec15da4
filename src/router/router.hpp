// Tiered comparison: tier 1 decides on a clear match or mismatch, tier 2 on
// its single rule, and an undecided pair falls back to tier 1's score.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/error.hpp"
#include "router/tier.hpp"
#include "text/pipeline.hpp"

namespace kivo {

// A KivoFlow object's settings: the caller's texts and numbers as passed,
// already validated. They are parsed again for every comparison.
struct Tier1Settings {
  std::string algo;
  std::string match_op;
  double match_val;
  std::string mismatch_op;
  double mismatch_val;
};

struct Tier2Settings {
  std::string algo;
  std::string op;
  double val1;
  double val2;
};

struct Router;

struct FlowSettings {
  std::optional<Tier1Settings> tier_1;
  std::optional<Tier2Settings> tier_2;
  bool preprocess = false;
  // These settings already parsed, made with each new settings object so
  // that a comparison does not parse the same names again; null when unset.
  std::shared_ptr<const Router> parsed;
};

// Parsing in argument order; the first bad name is the one reported.
Result<Tier> parse_tier_1(const Tier1Settings& settings);
Result<Tier> parse_tier_2(const Tier2Settings& settings);

// The typed form of the settings, built for one comparison.
struct Router {
  std::optional<Tier> tier_1;
  std::optional<Tier> tier_2;
  std::optional<PreprocessConfig> preprocessing;  // the default one when on
};

Result<Router> build_router(const FlowSettings& settings);

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
