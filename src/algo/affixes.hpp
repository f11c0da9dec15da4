// Common leading and trailing characters, which no edit measure here charges
// for: every measure of two texts strips them before its tables are built.
#pragma once

#include <algorithm>
#include <cstddef>
#include <span>

namespace kivo {

// The length of the longest common prefix of a and b.
template <class X, class Y>
[[gnu::always_inline]] inline std::size_t common_prefix(std::span<const X> a,
                                                        std::span<const Y> b) {
  std::size_t shortest = std::min(a.size(), b.size());
  std::size_t prefix = 0;
  while (prefix < shortest && char32_t(a[prefix]) == char32_t(b[prefix])) ++prefix;
  return prefix;
}

// The length of the longest common suffix of a and b.
template <class X, class Y>
[[gnu::always_inline]] inline std::size_t common_suffix(std::span<const X> a,
                                                        std::span<const Y> b) {
  std::size_t shortest = std::min(a.size(), b.size());
  std::size_t suffix = 0;
  while (suffix < shortest &&
         char32_t(a[a.size() - 1 - suffix]) == char32_t(b[b.size() - 1 - suffix])) {
    ++suffix;
  }
  return suffix;
}

// Removes the longest common prefix, then the longest common suffix of what
// is left.
template <class X, class Y>
[[gnu::always_inline]] inline void strip_common_affixes(std::span<const X>& a,
                                                        std::span<const Y>& b) {
  std::size_t prefix = common_prefix(a, b);
  a = a.subspan(prefix);
  b = b.subspan(prefix);
  std::size_t suffix = common_suffix(a, b);
  a = a.first(a.size() - suffix);
  b = b.first(b.size() - suffix);
}

}  // namespace kivo
