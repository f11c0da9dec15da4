// The lane kernels built for AVX-512 (F, BW).

// GCC 12 reports the deliberately undefined source operand inside the
// AVX-512 intrinsics' headers as uninitialised.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif

#include <algorithm>
#include <cstdint>

#include "algo/lanes/lane_kernels.hpp"
#include "algo/lanes/lane_ops_avx512.hpp"
#include "algo/score_arithmetic.hpp"
#include "base/simd_target.hpp"

#ifdef KIVO_SIMD_X86
KIVO_TARGET_AVX512_BEGIN
namespace kivo::lanes::avx512 {

template <unsigned Bits>
using Lanes = Avx512Lanes<Bits>;

#include "algo/lanes/lane_kernels_body.hpp"

}  // namespace kivo::lanes::avx512
KIVO_TARGET_END
#endif
