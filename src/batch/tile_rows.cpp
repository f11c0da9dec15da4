#include "batch/tile_rows.hpp"

#include <algorithm>
#include <cstdint>

#include "algo/score_arithmetic.hpp"
#include "base/simd_target.hpp"

namespace kivo::batch::tile_rows {

namespace portable {
#include "batch/tile_rows_body.hpp"
}  // namespace portable

#ifdef KIVO_SIMD_X86
KIVO_TARGET_AVX2_BEGIN
namespace avx2 {
#include "batch/tile_rows_body.hpp"
}  // namespace avx2
KIVO_TARGET_END
#endif

void scores(simd::Isa isa, Rule rule, double m, const double* n, const std::uint32_t* counts,
            double* out, std::size_t columns) {
#ifdef KIVO_SIMD_X86
  if (isa != simd::Isa::Portable) return avx2::scores(rule, m, n, counts, out, columns);
#endif
  (void)isa;
  portable::scores(rule, m, n, counts, out, columns);
}

void write(simd::Isa isa, Element element, bool distance, const double* scores, std::size_t count,
           double bound, double fill, void* row) {
#ifdef KIVO_SIMD_X86
  if (isa != simd::Isa::Portable)
    return avx2::write(element, distance, scores, count, bound, fill, row);
#endif
  (void)isa;
  portable::write(element, distance, scores, count, bound, fill, row);
}

}  // namespace kivo::batch::tile_rows
