// What the Python surface cannot reach: NaN scores.
#include <limits>

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
