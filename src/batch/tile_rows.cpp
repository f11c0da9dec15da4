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

void scores(simd::Isa isa, Rule rule, const std::uint32_t* m, std::size_t rows, const double* n,
            std::size_t columns, const std::uint32_t* counts, double* out) {
#ifdef KIVO_SIMD_X86
  if (isa != simd::Isa::Portable) return avx2::scores(rule, m, rows, n, columns, counts, out);
#endif
  (void)isa;
  portable::scores(rule, m, rows, n, columns, counts, out);
}

void write(simd::Isa isa, Element element, bool distance, const double* scores, std::size_t stride,
           std::size_t rows, std::size_t count, double bound, double fill, void* const* rows_out,
           std::size_t first) {
#ifdef KIVO_SIMD_X86
  if (isa != simd::Isa::Portable)
    return avx2::write(element, distance, scores, stride, rows, count, bound, fill, rows_out,
                       first);
#endif
  (void)isa;
  portable::write(element, distance, scores, stride, rows, count, bound, fill, rows_out, first);
}

}  // namespace kivo::batch::tile_rows
