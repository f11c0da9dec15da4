// An allocator whose large blocks ask the system for huge pages: tables read
// at random (an LSH index's, say) then cost a fraction of the TLB misses.
// Where the system gives none, the blocks are ordinary memory.
#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>

namespace kivo {

template <class T>
struct HugePageAllocator {
  using value_type = T;
  static constexpr std::size_t kPage = std::size_t(2) << 20;

  HugePageAllocator() = default;
  template <class U>
  HugePageAllocator(const HugePageAllocator<U>&) {}

  T* allocate(std::size_t n) {
    if (n > std::size_t(-1) / sizeof(T) - kPage) throw std::bad_alloc();
    std::size_t bytes = n * sizeof(T);
    if (bytes < kPage) return std::allocator<T>().allocate(n);
    std::size_t rounded = (bytes + kPage - 1) / kPage * kPage;
    void* block = std::aligned_alloc(kPage, rounded);
    if (block == nullptr) throw std::bad_alloc();
    ::madvise(block, rounded, MADV_HUGEPAGE);  // a hint: refused, the pages stay small
    return static_cast<T*>(block);
  }
  void deallocate(T* block, std::size_t n) {
    if (n * sizeof(T) < kPage) return std::allocator<T>().deallocate(block, n);
    std::free(block);
  }

  template <class U>
  bool operator==(const HugePageAllocator<U>&) const {
    return true;
  }
};

}  // namespace kivo
