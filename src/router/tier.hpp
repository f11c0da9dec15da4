// Threshold rules and the parsed form of one tier.
#pragma once

#include <optional>
#include <string_view>

#include "base/error.hpp"
#include "router/algorithm.hpp"

namespace kivo {

// A comparison rule with its bounds. Any comparison with NaN is false, so a
// NaN score or bound never satisfies a rule.
struct ThresholdOp {
  enum class Kind { GreaterThan, LessThan, Between };
  Kind kind;
  double value;  // the bound; the low end for Between
  double high;   // the high end for Between, unused otherwise

  bool holds(double score) const {
    switch (kind) {
      case Kind::GreaterThan: return score > value;
      case Kind::LessThan: return score < value;
      case Kind::Between: return value <= score && score <= high;
    }
    return false;
  }
};

// "gt"/"greater_than" or "lt"/"less_than" with one value.
Result<ThresholdOp> parse_threshold(std::string_view op, double value);
// The same four names (the second value ignored) or "between" low..high.
Result<ThresholdOp> parse_range_threshold(std::string_view op, double low, double high);

struct Tier {
  Algorithm algorithm;
  ThresholdOp match_rule;
  std::optional<ThresholdOp> mismatch_rule;  // tier 1 only
};

// Parsing in argument order; the first bad name is the one reported.
Result<Tier> parse_tier_1(std::string_view algo, std::string_view match_op, double match_val,
                          std::string_view mismatch_op, double mismatch_val);
Result<Tier> parse_tier_2(std::string_view algo, std::string_view op, double val1, double val2);

}  // namespace kivo
