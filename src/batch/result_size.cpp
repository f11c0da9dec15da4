#include "batch/result_size.hpp"

#include <cstddef>
#include <cstdio>
#include <limits>

#include "base/physical_memory.hpp"

namespace kivo::batch {

namespace {

// NumPy's bound on an array: its nonzero extents times its element size
// must be an npy_intp (a ptrdiff_t).
constexpr std::uint64_t kLargestArray = std::numeric_limits<std::ptrdiff_t>::max();

// Results may take at most half the physical memory: the rest is for the
// process, and most uses of an array (a comparison, a conversion, a copy)
// make another of its size.
constexpr std::uint64_t kMemoryShare = 2;

// "18.6 GiB": bytes in the largest binary unit that leaves at least one.
std::string in_units(std::uint64_t bytes) {
  static constexpr const char* kUnits[] = {"bytes", "KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
  double value = double(bytes);
  std::size_t unit = 0;
  while (value >= 1024 && unit + 1 < std::size(kUnits)) {
    value /= 1024;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  return text;
}

}  // namespace

std::string shape_text(std::span<const std::uint64_t> shape) {
  std::string text = "(";
  for (std::size_t i = 0; i < shape.size(); ++i) {
    if (i > 0) text += ", ";
    text += std::to_string(shape[i]);
  }
  return text + (shape.size() == 1 ? ",)" : ")");
}

std::optional<ExceptionDesc> results_too_large(std::span<const std::uint64_t> shape,
                                               std::uint64_t item_size, unsigned arrays) {
  bool one = arrays == 1;
  std::string what =
      (one ? "a result" : std::to_string(arrays) + " results") + " of shape " + shape_text(shape);
  // All the arrays weighed as one: a little stricter than NumPy, which bounds each.
  std::uint64_t bytes = item_size * arrays;
  bool empty = false;
  for (std::uint64_t extent : shape) {
    if (extent == 0) {
      empty = true;
    } else if (extent > kLargestArray / bytes) {
      return memory_error(what + (one ? " is" : " are") + " too large for any array");
    } else {
      bytes *= extent;
    }
  }
  if (empty) return std::nullopt;
  std::uint64_t memory = physical_memory();
  if (bytes <= memory / kMemoryShare) return std::nullopt;
  return memory_error(what + (one ? " needs " : " need ") + std::to_string(bytes) + " bytes (" +
                      in_units(bytes) + "), more than half of this machine's " + in_units(memory) +
                      " of memory");
}

}  // namespace kivo::batch
