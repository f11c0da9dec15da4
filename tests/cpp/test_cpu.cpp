// Feature detection against GCC's runtime, which reads the same registers.
#include "base/cpu.hpp"
#include "harness.hpp"

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
TEST(cpu_features_agree_with_the_gcc_runtime) {
  __builtin_cpu_init();
  const kivo::cpu::Features& cpu = kivo::cpu::features();
  CHECK_EQ(cpu.popcnt, bool(__builtin_cpu_supports("popcnt")));
  CHECK_EQ(cpu.bmi1, bool(__builtin_cpu_supports("bmi")));
  CHECK_EQ(cpu.bmi2, bool(__builtin_cpu_supports("bmi2")));
  CHECK_EQ(cpu.avx2, bool(__builtin_cpu_supports("avx2")));
  CHECK_EQ(cpu.avx512f, bool(__builtin_cpu_supports("avx512f")));
  CHECK_EQ(cpu.avx512dq, bool(__builtin_cpu_supports("avx512dq")));
  CHECK_EQ(cpu.avx512bw, bool(__builtin_cpu_supports("avx512bw")));
  CHECK_EQ(cpu.avx512vl, bool(__builtin_cpu_supports("avx512vl")));
}
#endif
