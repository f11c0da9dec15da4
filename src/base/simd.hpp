// The vector instruction sets the kernels are built for, and the one they
// run: the widest this processor has, narrowed by a limit that tests and
// benchmarks lower to hold every path to the same answers. Every path gives
// the same results, to the bit; only the speed differs. The limit holds for
// every thread of the binary that links this copy of the library (each
// extension module links its own).
#pragma once

#include <atomic>
#include <optional>
#include <string_view>

namespace kivo::simd {

// Ordered: each set runs wherever a later one does.
enum class Isa { Portable, Avx2, Avx512 };

// The widest set this processor and its operating system run, found once.
Isa best();

inline bool supported(Isa isa) {
  return isa <= best();
}

namespace detail {
// The active set, -1 until first asked for: constant-initialised, so that
// code run before the library's own initialisers may ask.
inline constinit std::atomic<int> active{-1};
Isa first_active();
}  // namespace detail

// The set the kernels use now: best(), unless limited below it. Read on every
// kernel call, so one relaxed load.
inline Isa active() {
  int isa = detail::active.load(std::memory_order_relaxed);
  return isa >= 0 ? Isa(isa) : detail::first_active();
}

// Private, for tests and benchmarks: from now on active() is the narrower of
// `widest` and best(). Kernels already set up (a lane block) keep theirs.
void limit(Isa widest);

// "portable", "avx2", "avx512", and back.
std::string_view name(Isa isa);
std::optional<Isa> parse(std::string_view name);

}  // namespace kivo::simd
