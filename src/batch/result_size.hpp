// The size of a call's result arrays, weighed before anything is computed:
// results that no array could have, or that would take more than the
// machine can spare, are refused instead of allocated and filled.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "base/error.hpp"

namespace kivo::batch {

// "(rows, columns)", or "(n,)" for one dimension.
std::string shape_text(std::span<const std::uint64_t> shape);

// A MemoryError naming the shape and the bytes when `arrays` arrays of this
// shape, of `item_size` bytes an element, are too large; none otherwise.
std::optional<ExceptionDesc> results_too_large(std::span<const std::uint64_t> shape,
                                               std::uint64_t item_size, unsigned arrays = 1);

}  // namespace kivo::batch
