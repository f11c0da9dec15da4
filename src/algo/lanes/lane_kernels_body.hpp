// One instruction set's lane kernels and their table, over that set's lane
// operations Lanes<Bits>. No include guard: each lane_kernels_<set>.cpp
// includes this inside its namespace and target region, after every header
// the kernels need, so that all the code below is compiled for that set and
// for it only.

namespace {

#include "algo/lanes/jaro_winkler_kernel.hpp"
#include "algo/lanes/lcs_kernel.hpp"
#include "algo/lanes/levenshtein_band_kernel.hpp"
#include "algo/lanes/levenshtein_kernel.hpp"
#include "algo/lanes/osa_kernel.hpp"

// The kernel and the lane operations flatten into one function per lane width.
template <class K, unsigned Bits>
__attribute__((flatten)) typename K::Result run(const typename K::Call& call) {
  return K::template run<Lanes<Bits>>(call);
}

}  // namespace

const LaneKernels kKernels = {
    {&run<LevenshteinKernel, 8>, &run<LevenshteinKernel, 16>, &run<LevenshteinKernel, 32>,
     &run<LevenshteinKernel, 64>},
    {&run<JaroWinklerKernel, 8>, &run<JaroWinklerKernel, 16>, &run<JaroWinklerKernel, 32>,
     &run<JaroWinklerKernel, 64>},
    {&run<OsaKernel, 8>, &run<OsaKernel, 16>, &run<OsaKernel, 32>, &run<OsaKernel, 64>},
    {&run<LcsKernel, 8>, &run<LcsKernel, 16>, &run<LcsKernel, 32>, &run<LcsKernel, 64>},
    &run<LevenshteinBandKernel, 64>,
};
