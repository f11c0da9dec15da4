// What the processor and the operating system support, read with CPUID and
// XGETBV. Used instead of __builtin_cpu_supports, whose answer comes from the
// compiler's runtime library: the one zig links into portable wheels answers
// false for every feature.
#pragma once

namespace kivo::cpu {

struct Features {
  bool popcnt = false;
  bool bmi1 = false;
  bool bmi2 = false;
  // The vector sets count only when the operating system saves their registers.
  bool avx2 = false;
  bool avx512f = false;
  bool avx512dq = false;
  bool avx512bw = false;
  bool avx512vl = false;
};

// Detected on first use.
const Features& features();

}  // namespace kivo::cpu
