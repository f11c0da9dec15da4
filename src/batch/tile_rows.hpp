// The loops that run once per score of a tile (see Block::score_tile): lane
// counts into their measure's scores, and scores into a cdist's rows. Each is
// built for the baseline and for AVX2, and `isa` picks the copy; both give the
// same bits.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/simd.hpp"
#include "batch/output.hpp"

namespace kivo::batch::tile_rows {

// How a lane's count becomes the score of texts of m and n characters.
enum class Rule {
  Count,            // the count itself (an OSA distance)
  CountSimilarity,  // 1 - count / max(m, n)
  Indel,            // m + n - 2 * count (an LCS)
  IndelSimilarity,  // 1 - (m + n - 2 * count) / (m + n)
  LcsSimilarity,    // 1 - (max(m, n) - count) / max(m, n)
};

// out[k * columns + c] = the score of counts[k * columns + c], between texts
// of m[k] and n[c] characters, for k < rows. A count of the LCS rules is at
// most 64.
void scores(simd::Isa isa, Rule rule, const std::uint32_t* m, std::size_t rows, const double* n,
            std::size_t columns, const std::uint32_t* counts, double* out);

// For k < rows and c < count, rows_out[k][first + c] = scores[k * stride + c]
// where it passes `bound` (at most it for a distance, at least it for a
// similarity), else fill; rows_out[k] points to `element`s.
void write(simd::Isa isa, Element element, bool distance, const double* scores, std::size_t stride,
           std::size_t rows, std::size_t count, double bound, double fill, void* const* rows_out,
           std::size_t first);

}  // namespace kivo::batch::tile_rows
