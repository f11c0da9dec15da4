#include "algo/weighted_levenshtein.hpp"

#include <algorithm>
#include <vector>

#include "algo/affixes.hpp"
#include "algo/indel.hpp"
#include "algo/levenshtein.hpp"
#include "base/cancel.hpp"

namespace kivo {

namespace {

// Wagner-Fischer over one row, rows along a.
template <class X, class Y>
WideCost weighted_rows(std::span<const X> a, std::span<const Y> b, const EditCosts& costs) {
  std::vector<WideCost> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = WideCost(costs.insert) * j;
  cancel::Meter meter;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    meter.add(b.size());
    WideCost diagonal = row[0];
    row[0] = WideCost(costs.remove) * i;
    char32_t ai = char32_t(a[i - 1]);
    for (std::size_t j = 1; j <= b.size(); ++j) {
      WideCost above = row[j];
      WideCost value = diagonal + (ai == char32_t(b[j - 1]) ? 0 : costs.substitute);
      value = std::min(value, above + costs.remove);
      value = std::min(value, row[j - 1] + costs.insert);
      row[j] = value;
      diagonal = above;
    }
  }
  return row[b.size()];
}

}  // namespace

WideCost weighted_levenshtein_distance(const CharSpan& a, const CharSpan& b,
                                       const EditCosts& costs) {
  // Equal costs are the plain distance scaled; a substitution dearer than a
  // deletion and an insertion is never taken, leaving the Indel distance.
  if (costs.insert == costs.remove && costs.remove == costs.substitute) {
    return costs.insert == 0 ? 0 : WideCost(costs.insert) * levenshtein_distance(a, b);
  }
  if (WideCost(costs.substitute) >= WideCost(costs.insert) + costs.remove) {
    std::uint64_t common = lcs_length(a, b);
    return WideCost(costs.insert) * (b.length - common) +
           WideCost(costs.remove) * (a.length - common);
  }
  return visit_units(a, [&](auto x) {
    return visit_units(b, [&](auto y) {
      strip_common_affixes(x, y);
      return weighted_rows(x, y, costs);
    });
  });
}

}  // namespace kivo
