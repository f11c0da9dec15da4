// The lane kernels over the generic vectors of lane_ops_portable.hpp: the
// path for processors without AVX2, and for every processor that is not x86.

// Vectors of 256 bits pass by value only between functions that all end up
// inside one entry point, so GCC's note on their ABI concerns no real call.
#if defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wpsabi"
#endif

#include <algorithm>
#include <cstdint>

#include "algo/lanes/lane_kernels.hpp"
#include "algo/lanes/lane_ops_portable.hpp"
#include "algo/score_arithmetic.hpp"

namespace kivo::lanes::portable {

template <unsigned Bits>
using Lanes = PortableLanes<Bits>;

#include "algo/lanes/lane_kernels_body.hpp"

}  // namespace kivo::lanes::portable
