#include "algo/hamming.hpp"

#include <span>
#include <type_traits>

#include "base/byte_kernels.hpp"
#include "base/cancel.hpp"

namespace kivo {

namespace {

// Counted per block of 64 in a narrow counter, which lets the compiler
// compare and sum whole vectors of units.
template <class X, class Y>
std::uint64_t unit_mismatches(std::span<const X> a, std::span<const Y> b) {
  using Wide = std::conditional_t<(sizeof(X) > sizeof(Y)), X, Y>;
  std::uint64_t count = 0;
  std::size_t i = 0;
  cancel::Meter meter;
  for (; i + 64 <= a.size(); i += 64) {
    meter.add(64);
    Wide block = 0;
    for (std::size_t k = 0; k < 64; ++k) block += Wide(Wide(a[i + k]) != Wide(b[i + k]));
    count += block;
  }
  for (; i < a.size(); ++i) count += Wide(a[i]) != Wide(b[i]);
  return count;
}

// The positions that differ, for texts of equal length.
std::uint64_t mismatches(const CharSpan& a, const CharSpan& b) {
  if (a.width == 1 && b.width == 1) {
    return bytes::count_mismatches(static_cast<const unsigned char*>(a.data),
                                   static_cast<const unsigned char*>(b.data), a.length);
  }
  return visit_units(
      a, [&](auto x) { return visit_units(b, [&](auto y) { return unit_mismatches(x, y); }); });
}

}  // namespace

std::optional<std::uint64_t> hamming_distance(const CharSpan& a, const CharSpan& b) {
  if (a.length != b.length) return std::nullopt;
  return mismatches(a, b);
}

std::optional<double> hamming_similarity(const CharSpan& a, const CharSpan& b) {
  if (a.length != b.length) return std::nullopt;
  if (a.length == 0) return 1.0;
  return 1.0 - double(mismatches(a, b)) / double(a.length);
}

}  // namespace kivo
