// The lane kernels' arguments, and their entry points: one table per
// instruction set, built by lane_kernels_<set>.cpp from the same kernel
// source (edit_lane_kernel.hpp with levenshtein_kernel.hpp and osa_kernel.hpp,
// jaro_winkler_kernel.hpp, lcs_kernel.hpp) over that set's lane operations. A block picks its entry
// once, when it is made.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "algo/lanes/lane_masks.hpp"
#include "algo/lanes/lane_shape.hpp"
#include "base/cancel.hpp"
#include "base/simd_target.hpp"

namespace kivo::lanes {

// What an edit or LCS call may run besides its text: a second text beside
// it, into out2; or, in place of it, many texts two at a time side by side,
// lane l's result for text t going to out[l * stride + t].
struct MoreTexts {
  const char32_t* text2 = nullptr;
  std::size_t n2 = 0;
  std::uint32_t* out2 = nullptr;
  const std::u32string_view* texts = nullptr;
  std::size_t text_count = 0;
  std::size_t stride = 0;

  static MoreTexts second(std::u32string_view text2, std::uint32_t* out2) {
    return {text2.data(), text2.size(), out2};
  }
  static MoreTexts list(std::span<const std::u32string_view> texts) {
    return {nullptr, 0, nullptr, texts.data(), texts.size(), texts.size()};
  }
};

struct LevenshteinCall {
  const LaneMasks* masks;
  const LaneRow* lengths;
  const LaneRow* length_masks;
  const LaneRow* unused;  // all bits set in the lanes past count
  std::size_t count;
  const char32_t* text;
  std::size_t n;
  bool bounded;
  std::uint32_t bound;          // every lane's, when bounds is null
  const std::uint32_t* bounds;  // one per lane
  std::uint32_t* out;
  MoreTexts more{};  // only when unbounded
};

struct JaroWinklerCall {
  const LaneMasks* masks;
  const LaneRow* lengths;
  const LaneRow* halves;
  const LaneRow* half_masks;
  std::size_t count;
  const char32_t* text;
  std::size_t n;  // at most kMaxPatternLength
  double* out;
};

// The LCS of each lane with a text; with needs, only the lanes whose LCS
// reaches theirs count, and the pass may stop once none can.
struct LcsCall {
  const LaneMasks* masks;
  const LaneRow* lengths;
  const LaneRow* length_masks;
  std::size_t count;
  const char32_t* text;
  std::size_t n;
  const std::uint32_t* needs;  // one per lane, or null
  std::uint32_t* out;
  MoreTexts more{};  // only without needs
};

// Patterns longer than a lane against a text, in a band of 64 rows (see
// levenshtein_band_kernel.hpp). Lane l of character row r's masks is at
// masks[(r * (words + 1) + w) * lanes + l] for word w, a zero word last.
struct LevenshteinBandCall {
  const std::uint64_t* masks;
  std::size_t words;
  const std::uint32_t* text;  // the text's characters as rows of masks
  std::size_t n;
  std::uint64_t above;  // rows max(1, j - above) and the 63 below it at column j
  const std::uint64_t* lengths;
  const std::uint32_t* bounds;
  std::uint64_t live;  // the lanes to compute
  std::uint32_t* out;
};

// Levenshtein and OSA return the lanes within their bounds, LCS the lanes
// reaching their needs.
using LevenshteinEntry = std::uint64_t (*)(const LevenshteinCall&);
using JaroWinklerEntry = void (*)(const JaroWinklerCall&);
using LcsEntry = std::uint64_t (*)(const LcsCall&);
using LevenshteinBandEntry = std::uint64_t (*)(const LevenshteinBandCall&);

// One instruction set's entries, by lane width: 8, 16, 32, 64 bits.
struct LaneKernels {
  LevenshteinEntry levenshtein[4];
  JaroWinklerEntry jaro_winkler[4];
  LevenshteinEntry osa[4];
  LcsEntry lcs[4];
  LevenshteinBandEntry levenshtein_band;  // 64-bit lanes
};

namespace portable {
extern const LaneKernels kKernels;
}
#ifdef KIVO_SIMD_X86
namespace avx2 {
extern const LaneKernels kKernels;
}
namespace avx512 {
extern const LaneKernels kKernels;
}
#endif

inline const LaneKernels& kernels_for(Isa isa) {
#ifdef KIVO_SIMD_X86
  if (isa == Isa::Avx512) return avx512::kKernels;
  if (isa == Isa::Avx2) return avx2::kKernels;
#endif
  (void)isa;
  return portable::kKernels;
}

// The index of a shape's lane width in a LaneKernels row.
inline std::size_t width_index(Shape shape) {
  return shape.bits == 8 ? 0 : shape.bits == 16 ? 1 : shape.bits == 32 ? 2 : 3;
}

}  // namespace kivo::lanes
