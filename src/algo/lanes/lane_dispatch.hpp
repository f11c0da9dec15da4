// Run-time choice of a kernel's instruction set and lane width. A kernel K
// is written once, over the lane operations: a struct with its arguments
// (K::Call), its result type (K::Result) and `template <class Ops> static
// K::Result run(const K::Call&)`. Each entry point below carries one target
// and flattens the kernel into itself, so the operations inline into code
// compiled for that target only.
#pragma once

// For the files that instantiate kernels, which include this header: vectors
// pass by value only between functions that all end up inside one entry
// point, and GCC 12 reports the deliberately undefined source operand inside
// the AVX-512 intrinsics' headers as uninitialised.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wpsabi"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#elif defined(__clang__)
#pragma clang diagnostic ignored "-Wpsabi"
#endif

#include "algo/lanes/lane_isa.hpp"
#include "algo/lanes/lane_ops_portable.hpp"
#include "algo/lanes/lane_ops_x86.hpp"

namespace kivo::lanes {

template <class K>
using Entry = typename K::Result (*)(const typename K::Call&);

template <class K, unsigned Bits>
__attribute__((flatten)) typename K::Result run_portable(const typename K::Call& call) {
  return K::template run<PortableLanes<Bits>>(call);
}

#ifdef KIVO_LANES_X86
template <class K, unsigned Bits>
KIVO_AVX2 __attribute__((flatten)) typename K::Result run_avx2(const typename K::Call& call) {
  return K::template run<Avx2Lanes<Bits>>(call);
}

template <class K, unsigned Bits>
KIVO_AVX512 __attribute__((flatten)) typename K::Result run_avx512(const typename K::Call& call) {
  return K::template run<Avx512Lanes<Bits>>(call);
}
#endif

// The entry point of K for blocks of `shape` (a shape of `isa`).
template <class K>
Entry<K> entry_for(Isa isa, Shape shape) {
  unsigned bits = shape.bits;
#ifdef KIVO_LANES_X86
  if (isa == Isa::Avx512) {
    return bits == 16 ? &run_avx512<K, 16> : bits == 32 ? &run_avx512<K, 32> : &run_avx512<K, 64>;
  }
  if (isa == Isa::Avx2) {
    return bits == 16 ? &run_avx2<K, 16> : bits == 32 ? &run_avx2<K, 32> : &run_avx2<K, 64>;
  }
#endif
  (void)isa;
  return bits == 16   ? &run_portable<K, 16>
         : bits == 32 ? &run_portable<K, 32>
                      : &run_portable<K, 64>;
}

}  // namespace kivo::lanes
