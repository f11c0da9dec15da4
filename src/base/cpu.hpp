// What the processor and the operating system support, read with CPUID and
// XGETBV. Used instead of __builtin_cpu_supports, whose answer comes from the
// compiler's runtime library: the one zig links into portable wheels answers
// false for every feature.
#pragma once

namespace kivo::cpu {

struct Features {
  bool avx2 = false;
  bool avx512f = false;
  bool avx512dq = false;
  bool avx512bw = false;
};

// Detected on first use.
const Features& features();

}  // namespace kivo::cpu
