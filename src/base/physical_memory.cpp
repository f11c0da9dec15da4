#include "base/physical_memory.hpp"

#include <unistd.h>

#include <limits>

namespace kivo {

namespace {

std::uint64_t read_physical_memory() {
  long pages = sysconf(_SC_PHYS_PAGES);
  long page_size = sysconf(_SC_PAGESIZE);
  // Unknown: fall back to a typical 47-bit user address space.
  if (pages <= 0 || page_size <= 0) return std::uint64_t{1} << 47;
  std::uint64_t p = std::uint64_t(pages);
  std::uint64_t s = std::uint64_t(page_size);
  return p > std::numeric_limits<std::uint64_t>::max() / s
             ? std::numeric_limits<std::uint64_t>::max()
             : p * s;
}

}  // namespace

std::uint64_t physical_memory() {
  static const std::uint64_t bytes = read_physical_memory();
  return bytes;
}

}  // namespace kivo
