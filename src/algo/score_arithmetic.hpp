// The last floating-point steps of the edit measures, in the one order that
// fixes their last bits. Every kernel that scores a pair ends here, so the
// single-pair and the many-at-once paths agree to the bit. The library is
// built without fused multiply-add contraction, which would change them.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace kivo {

// 1 - d / max(len): 1.0 when both texts are empty. The counts are below
// 2^53, held exactly in doubles, with distance <= longest (so 0 when longest
// is): no branch, so loops over this vectorise.
inline double levenshtein_similarity_of(double distance, double longest) {
  return 1.0 - distance / std::max(longest, 1.0);
}

inline double levenshtein_similarity_from(std::uint64_t distance, std::uint64_t longest) {
  return levenshtein_similarity_of(double(distance), double(longest));
}

// The largest distance whose similarity still reaches `cutoff`, for texts
// whose longer one has `longest` characters; -1 when no distance does (a
// cutoff above 1, or NaN). The similarity falls as the distance grows, so
// this is the bound to hand to a kernel that stops above it.
inline std::int64_t levenshtein_max_distance(std::uint64_t longest, double cutoff) {
  auto reaches = [&](std::int64_t d) {
    return levenshtein_similarity_from(std::uint64_t(d), longest) >= cutoff;
  };
  if (!reaches(0)) return -1;
  double estimate = (1.0 - cutoff) * double(longest);
  std::int64_t d = estimate >= double(longest) ? std::int64_t(longest)
                   : estimate > 0.0            ? std::int64_t(estimate)
                                               : 0;
  while (d < std::int64_t(longest) && reaches(d + 1)) ++d;
  while (!reaches(d)) --d;
  return d;
}

inline constexpr std::size_t kJaroWinklerMaxPrefix = 4;
inline constexpr double kJaroWinklerPrefixScale = 0.1;

// The Jaro value from the number of matched characters m (> 0, so both
// lengths are too), half the number of matched pairs whose characters differ
// (h, rounded down), and the two lengths: the two length ratios added first,
// the transposition term last. Everything in doubles, so that vector code can
// run it over many pairs unchanged.
inline double jaro_from_counts(double m, double h, double length_a, double length_b) {
  return ((m / length_a + m / length_b) + (m - h) / m) / 3.0;
}

// The Winkler bonus for a common prefix of `prefix` characters (at most
// kJaroWinklerMaxPrefix), at every Jaro value.
inline double jaro_winkler_from(double jaro, double prefix) {
  return (1.0 - jaro) * (prefix * kJaroWinklerPrefixScale) + jaro;
}

}  // namespace kivo
