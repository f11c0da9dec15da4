#include "base/simd.hpp"

#include <algorithm>

#include "base/cpu.hpp"
#include "base/simd_target.hpp"

namespace kivo::simd {
namespace {

// What each region of simd_target.hpp assumes, checked in full.
Isa detect() {
#ifdef KIVO_SIMD_X86
  const cpu::Features& has = cpu::features();
  bool avx2 = has.avx2 && has.bmi1 && has.bmi2 && has.popcnt;
#ifdef KIVO_SANITIZE
  // GCC 12's ASan (with its fake stack) mis-addresses the 64-byte spills of
  // the AVX-512 kernels, so sanitizer builds check the AVX2 and portable
  // paths; the release tests hold the AVX-512 path to the same answers.
  bool avx512 = false;
#else
  bool avx512 = avx2 && has.avx512f && has.avx512dq && has.avx512bw && has.avx512vl;
#endif
  return avx512 ? Isa::Avx512 : avx2 ? Isa::Avx2 : Isa::Portable;
#else
  return Isa::Portable;
#endif
}

constexpr std::string_view kNames[] = {"portable", "avx2", "avx512"};

}  // namespace

Isa best() {
  static const Isa found = detect();
  return found;
}

Isa detail::first_active() {
  // A limit set meanwhile wins over the default.
  int unset = -1;
  active.compare_exchange_strong(unset, int(best()), std::memory_order_relaxed);
  return Isa(active.load(std::memory_order_relaxed));
}

void limit(Isa widest) {
  detail::active.store(int(std::min(widest, best())), std::memory_order_relaxed);
}

std::string_view name(Isa isa) {
  return kNames[int(isa)];
}

std::optional<Isa> parse(std::string_view name) {
  for (int i = 0; i < int(std::size(kNames)); ++i) {
    if (kNames[i] == name) return Isa(i);
  }
  return std::nullopt;
}

}  // namespace kivo::simd
