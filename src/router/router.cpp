#include "router/router.hpp"

#include <utility>

#include "text/pipeline.hpp"

namespace kivo {

PreparedTexts::PreparedTexts(const Router& router, std::string_view a, std::string_view b)
    : a_(a), b_(b) {
  if (router.preprocess) {
    cleaned_a_ = clean_text(a);
    cleaned_b_ = clean_text(b);
    a_ = cleaned_a_;
    b_ = cleaned_b_;
  }
}

namespace {

// Tier 1 acts only on a greater-than match rule and a less-than mismatch
// rule; a rule of the other kind is accepted but never decides.
bool tier_1_decides(const Tier& tier, double score) {
  if (tier.match_rule.kind == ThresholdOp::Kind::GreaterThan && tier.match_rule.holds(score)) {
    return true;
  }
  return tier.mismatch_rule && tier.mismatch_rule->kind == ThresholdOp::Kind::LessThan &&
         tier.mismatch_rule->holds(score);
}

CompareResult result_of(AlgorithmScore&& run, std::uint64_t tier) {
  return CompareResult{run.algorithm, run.score, tier, false, std::nullopt};
}

}  // namespace

Result<CompareResult> compare(const Router& router, std::string_view a, std::string_view b) {
  PreparedTexts texts(router, a, b);

  // Every measure is deterministic, so tier 1's run also serves as the
  // fallback result; running it again would give the same score.
  std::optional<AlgorithmScore> tier_1_run;
  if (router.tier_1) {
    Result<AlgorithmScore> run = run_algorithm(router.tier_1->algorithm, texts.a(), texts.b());
    if (!run.ok()) return std::move(run.failure());
    if (tier_1_decides(*router.tier_1, run.value().score))
      return result_of(std::move(run.value()), 1);
    tier_1_run = std::move(run.value());
  }

  if (router.tier_2) {
    Result<AlgorithmScore> run = run_algorithm(router.tier_2->algorithm, texts.a(), texts.b());
    if (!run.ok()) return std::move(run.failure());
    if (router.tier_2->match_rule.holds(run.value().score)) {
      return result_of(std::move(run.value()), 2);
    }
  }

  if (!tier_1_run) {
    return EngineError{EngineError::Kind::RouterConfiguration, "No tiers configured"};
  }
  return result_of(std::move(*tier_1_run), 1);
}

}  // namespace kivo
