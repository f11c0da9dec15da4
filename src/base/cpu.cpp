#include "base/cpu.hpp"

#if defined(__x86_64__) && defined(__GNUC__)
#include <cpuid.h>
#define KIVO_X86_CPUID 1
#endif

namespace kivo::cpu {
namespace {

Features detect() {
  Features found;
#ifdef KIVO_X86_CPUID
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return found;
  found.popcnt = (ecx >> 23) & 1;
  constexpr unsigned kOsxsave = 1u << 27, kAvx = 1u << 28;
  bool avx = (ecx & (kOsxsave | kAvx)) == (kOsxsave | kAvx);
  if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) return found;
  found.bmi1 = (ebx >> 3) & 1;
  found.bmi2 = (ebx >> 8) & 1;
  if (!avx) return found;
  // The register states the operating system saves on a context switch: XMM
  // and YMM (bits 1, 2) for AVX2; opmask and both ZMM halves (bits 5-7) too
  // for AVX-512.
  unsigned saved = 0, saved_high = 0;
  __asm__("xgetbv" : "=a"(saved), "=d"(saved_high) : "c"(0));
  bool ymm = (saved & 0x06) == 0x06;
  bool zmm = ymm && (saved & 0xe0) == 0xe0;
  found.avx2 = ymm && ((ebx >> 5) & 1);
  found.avx512f = zmm && ((ebx >> 16) & 1);
  found.avx512dq = zmm && ((ebx >> 17) & 1);
  found.avx512bw = zmm && ((ebx >> 30) & 1);
  found.avx512vl = zmm && ((ebx >> 31) & 1);
#endif
  return found;
}

}  // namespace

const Features& features() {
  static const Features found = detect();
  return found;
}

}  // namespace kivo::cpu
