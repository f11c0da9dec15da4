// What the Python surface cannot reach: NaN scores and the kinds of failure.
#include <limits>
#include <variant>

#include "harness.hpp"
#include "router/router.hpp"

using namespace kivo;

namespace {
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
}  // namespace

TEST(nan_never_satisfies_a_rule) {
  using Kind = ThresholdOp::Kind;
  for (ThresholdOp nan_bound :
       {ThresholdOp{Kind::GreaterThan, kNaN, 0}, ThresholdOp{Kind::LessThan, kNaN, 0},
        ThresholdOp{Kind::Between, kNaN, 1.0}, ThresholdOp{Kind::Between, 0.0, kNaN}}) {
    CHECK(!nan_bound.holds(0.5));
  }
  // A NaN score fails even rules that hold for every number.
  for (ThresholdOp everything :
       {ThresholdOp{Kind::GreaterThan, -kInf, 0}, ThresholdOp{Kind::LessThan, kInf, 0},
        ThresholdOp{Kind::Between, -kInf, kInf}}) {
    CHECK(everything.holds(0.5));
    CHECK(!everything.holds(kNaN));
  }
}

TEST(name_errors_are_plain_value_errors_and_run_errors_engine_errors) {
  Result<Algorithm> bad_name = parse_algorithm("Levenshtein");
  CHECK(!bad_name.ok() && std::holds_alternative<ExceptionDesc>(bad_name.failure()));
  Result<AlgorithmScore> bad_run = run_algorithm(Algorithm::Hamming, "abc", "abcd");
  CHECK(!bad_run.ok());
  const auto* error = bad_run.ok() ? nullptr : std::get_if<EngineError>(&bad_run.failure());
  CHECK(error != nullptr && error->kind == EngineError::Kind::Algorithm);
  Result<CompareResult> untiered = compare(Router{}, "a", "a");
  const auto* config = untiered.ok() ? nullptr : std::get_if<EngineError>(&untiered.failure());
  CHECK(config != nullptr && config->kind == EngineError::Kind::RouterConfiguration);
}
