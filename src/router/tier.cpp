#include "router/tier.hpp"

#include <string>
#include <utility>

namespace kivo {

namespace {

std::optional<ThresholdOp::Kind> one_sided_kind(std::string_view op) {
  if (op == "gt" || op == "greater_than") return ThresholdOp::Kind::GreaterThan;
  if (op == "lt" || op == "less_than") return ThresholdOp::Kind::LessThan;
  return std::nullopt;
}

ExceptionDesc unknown_op(std::string_view op) {
  return value_error("unknown threshold op: " + std::string(op));
}

}  // namespace

Result<ThresholdOp> parse_threshold(std::string_view op, double value) {
  std::optional<ThresholdOp::Kind> kind = one_sided_kind(op);
  if (!kind) return unknown_op(op);
  return ThresholdOp{*kind, value, 0.0};
}

Result<ThresholdOp> parse_range_threshold(std::string_view op, double low, double high) {
  if (op == "between") return ThresholdOp{ThresholdOp::Kind::Between, low, high};
  std::optional<ThresholdOp::Kind> kind = one_sided_kind(op);
  if (!kind) return unknown_op(op);
  return ThresholdOp{*kind, low, 0.0};
}

Result<Tier> parse_tier_1(std::string_view algo, std::string_view match_op, double match_val,
                          std::string_view mismatch_op, double mismatch_val) {
  Result<Algorithm> algorithm = parse_algorithm(algo);
  if (!algorithm.ok()) return std::move(algorithm.failure());
  Result<ThresholdOp> match = parse_threshold(match_op, match_val);
  if (!match.ok()) return std::move(match.failure());
  Result<ThresholdOp> mismatch = parse_threshold(mismatch_op, mismatch_val);
  if (!mismatch.ok()) return std::move(mismatch.failure());
  return Tier{algorithm.value(), match.value(), mismatch.value()};
}

Result<Tier> parse_tier_2(std::string_view algo, std::string_view op, double val1, double val2) {
  Result<Algorithm> algorithm = parse_algorithm(algo);
  if (!algorithm.ok()) return std::move(algorithm.failure());
  Result<ThresholdOp> rule = parse_range_threshold(op, val1, val2);
  if (!rule.ok()) return std::move(rule.failure());
  return Tier{algorithm.value(), rule.value(), std::nullopt};
}

}  // namespace kivo
