// The machine's physical memory: the bound on what a request can hope to
// hold. A request far beyond it is refused before anything is allocated, as
// with overcommit such an allocation may succeed and the process be killed
// later, while it is filled.
#pragma once

#include <cstdint>

namespace kivo {

// Bytes of physical memory, read once; a typical 47-bit user address space
// when the system does not say.
std::uint64_t physical_memory();

}  // namespace kivo
