#include "router/tier.hpp"

#include <string>

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

}  // namespace kivo
