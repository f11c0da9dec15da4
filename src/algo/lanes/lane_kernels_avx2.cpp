// The lane kernels built for AVX2.
#include <algorithm>
#include <cstdint>

#include "algo/lanes/lane_kernels.hpp"
#include "algo/lanes/lane_ops_avx2.hpp"
#include "algo/score_arithmetic.hpp"
#include "base/simd_target.hpp"

#ifdef KIVO_SIMD_X86
KIVO_TARGET_AVX2_BEGIN
namespace kivo::lanes::avx2 {

template <unsigned Bits>
using Lanes = Avx2Lanes<Bits>;

#include "algo/lanes/lane_kernels_body.hpp"

}  // namespace kivo::lanes::avx2
KIVO_TARGET_END
#endif
