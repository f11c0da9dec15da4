// Optimal string alignment and the LCS measures (Indel, LCS similarity,
// ratio): queries of up to 64 characters in lane blocks of alike lengths
// (OsaBlock, LcsBlock), every choice run through a block's masks at once;
// a longer query keeps its own position masks and scores one pair at a time.
// Bounds become the largest OSA distance or the smallest LCS a pair may have.
#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <vector>

#include "algo/bit_parallel_kernels.hpp"
#include "algo/lanes/lcs_lanes.hpp"
#include "algo/lanes/osa_lanes.hpp"
#include "algo/score_arithmetic.hpp"
#include "base/simd.hpp"
#include "batch/scorers.hpp"
#include "batch/tile_rows.hpp"

namespace kivo::batch {

namespace {

CharSpan span_of(std::u32string_view text) {
  return {text.data(), text.size(), sizeof(char32_t)};
}

// What a lane's count must be for its pair to pass: at most this OSA
// distance, or at least this LCS. kAny when every count passes.
constexpr std::uint32_t kAny = std::numeric_limits<std::uint32_t>::max();

class BitParallelScorer final : public Scorer {
 public:
  BitParallelScorer(const Measure& measure, const Texts& queries, const Texts& choices)
      : Scorer(measure.distance),
        measure_(measure),
        osa_(measure.kernel == BatchKernel::Osa),
        rule_(rule_of(measure, osa_)),
        queries_(queries),
        choices_(choices) {}

  std::optional<double> score(std::size_t i, std::size_t j, double) const override {
    Result<double> result =
        score_characters(measure_, span_of(queries_.chars(i)), span_of(choices_.chars(j)));
    if (!result.ok()) throw PairFailure{std::move(result.failure())};
    return result.value();
  }

  std::unique_ptr<Block> block() const override;
  bool sorts_by_length() const override { return true; }
  std::size_t next_block(std::span<const std::size_t> rows) const override {
    std::u32string_view patterns[64];
    std::size_t count = std::min<std::size_t>(rows.size(), 64);
    for (std::size_t k = 0; k < count; ++k) patterns[k] = queries_.chars(rows[k]);
    return std::max<std::size_t>(1, lanes::lanes_to_take({patterns, count}, isa_));
  }
  // Both measures read the texts alike either way round.
  bool symmetric() const override { return true; }
  // Only equal texts have no edit, or all characters in common.
  bool best_means_equal() const override { return true; }
  // The best score texts of these lengths can have: the length gap in edits.
  bool lengths_may_pass(std::size_t a, std::size_t b, double bound) const override {
    std::uint64_t best = osa_ ? length_gap(a, b) : std::min(a, b);
    return passes(score_of(best, a, b), bound);
  }

  // The measure's score from the kernel's count: the OSA distance, or the
  // LCS. The same arithmetic as the single call's, so the same bits.
  double score_of(std::uint64_t count, std::size_t a, std::size_t b) const {
    std::uint64_t longest = std::max(a, b);
    if (osa_) return distance() ? double(count) : levenshtein_similarity_from(count, longest);
    std::uint64_t indel = a + b - 2 * count;
    if (distance()) return double(indel);
    if (measure_.distance_sums_lengths) return levenshtein_similarity_from(indel, a + b);
    return levenshtein_similarity_from(longest - count, longest);
  }

  // The count a pair of these lengths must have to reach `bound` (see kAny);
  // for OSA, kAny - 1 is never reached, so a pair that none passes gets it
  // too, as does an LCS need above both lengths.
  std::uint32_t limit_of(std::size_t a, std::size_t b, double bound) const {
    bool open = distance() ? bound >= 0x1p62 : bound == -INFINITY;
    if (open) return kAny;
    std::uint64_t longest = std::max(a, b);
    std::uint64_t total = osa_ || !measure_.distance_sums_lengths ? longest : a + b;
    // The largest distance (OSA, Indel, or longest - LCS) that still passes.
    std::int64_t most = distance() ? (bound < 0 ? -1 : std::int64_t(bound))
                                   : levenshtein_max_distance(total, bound);
    if (osa_) return most < 0 ? 0 : std::uint32_t(std::min<std::int64_t>(most, kAny - 1));
    std::uint32_t never = std::uint32_t(std::min(a, b) + 1);
    if (most < 0) return never;
    if (distance() || measure_.distance_sums_lengths) {
      std::int64_t gap = std::int64_t(a + b) - most;  // 2 * LCS must reach it
      return gap <= 0 ? 0 : std::uint32_t((gap + 1) / 2);
    }
    return most >= std::int64_t(longest) ? 0 : std::uint32_t(longest - std::uint64_t(most));
  }

  static tile_rows::Rule rule_of(const Measure& measure, bool osa) {
    using enum tile_rows::Rule;
    if (osa) return measure.distance ? Count : CountSimilarity;
    if (measure.distance) return Indel;
    return measure.distance_sums_lengths ? IndelSimilarity : LcsSimilarity;
  }

  const Measure& measure_;
  const bool osa_;
  const tile_rows::Rule rule_;  // how report() scores a count
  const Texts& queries_;
  const Texts& choices_;
  // The blocks of one scorer share the instruction set active when it was
  // made, so that a limit set meanwhile cannot size a block for one set and
  // fill it for another.
  const simd::Isa isa_ = simd::active();
};

// limit_of() of the last text length and bound asked, per lane: choices come
// in runs of one length, and bounds change seldom.
class LimitCache {
 public:
  std::uint32_t get(const BitParallelScorer& scorer, std::size_t a, std::size_t b, double bound) {
    if (b != length_ || !(bound == bound_)) {
      length_ = b;
      bound_ = bound;
      limit_ = scorer.limit_of(a, b, bound);
    }
    return limit_;
  }

 private:
  std::size_t length_ = 0;
  double bound_ = NAN;  // nothing cached yet
  std::uint32_t limit_ = 0;
};

class BitParallelBlock final : public Block {
 public:
  explicit BitParallelBlock(const BitParallelScorer& scorer) : scorer_(scorer) {}

  void load(std::span<const std::size_t> rows) override {
    rows_ = rows;
    osa_lanes_.reset();
    lcs_lanes_.reset();
    long_masks_.reset();
    std::u32string_view patterns[64];
    bool fits = rows.size() <= 64;
    for (std::size_t k = 0; fits && k < rows.size(); ++k) {
      patterns[k] = scorer_.queries_.chars(rows[k]);
      fits = lanes::fits_lanes(patterns[k].size());
    }
    std::span<const std::u32string_view> block(patterns, rows.size());
    if (fits && scorer_.osa_) {
      osa_lanes_.emplace(block, scorer_.isa_);
    } else if (fits) {
      lcs_lanes_.emplace(block, scorer_.isa_);
    } else if (rows.size() == 1) {
      long_masks_.emplace(std::span<const char32_t>(scorer_.queries_.chars(rows[0])));
    } else {
      throw InternalFault("a block of long queries");
    }
    for (std::size_t k = 0; k < rows.size(); ++k) {
      lengths_[k] = std::uint32_t(scorer_.queries_.length(rows[k]));
      limits_[k] = LimitCache();
    }
  }

  void score(std::size_t choice, const double* bounds, double* out) override {
    std::u32string_view text = scorer_.choices_.chars(choice);
    if (long_masks_) return score_long(text, bounds[0], out);
    std::uint32_t limits[64];
    std::uint32_t counts[64];
    bool bounded = false;
    for (std::size_t k = 0; k < rows_.size(); ++k) {
      limits[k] = limits_[k].get(scorer_, lengths_[k], text.size(), bounds[k]);
      bounded |= limits[k] != kAny;
    }
    std::span<const std::u32string_view> texts(&text, 1);
    if (!bounded) {
      counts_of(texts, counts);
      return report(texts, counts, out);
    }
    std::uint64_t kept;
    if (osa_lanes_) {
      for (std::size_t k = 0; k < rows_.size(); ++k) limits[k] = std::min(limits[k], kAny - 1);
      kept = osa_lanes_->distances(text, limits, counts);
    } else {
      for (std::size_t k = 0; k < rows_.size(); ++k) limits[k] = limits[k] == kAny ? 0 : limits[k];
      kept = lcs_lanes_->lengths(text, limits, counts);
    }
    report(texts, counts, out);
    for (std::size_t k = 0; k < rows_.size(); ++k) {
      if (((kept >> k) & 1) == 0) out[k] = NAN;
    }
  }

  // Without bounds, every choice of the tile goes through the lanes in one
  // kernel call, and their scores are worked out a query at a time.
  void score_tile(std::span<const std::size_t> choices, const double* bounds, std::size_t rows,
                  double* tile) override {
    if (long_masks_ || !unbounded(bounds) || choices.size() > kTileColumns)
      return Block::score_tile(choices, bounds, rows, tile);
    for (std::size_t c = 0; c < choices.size(); ++c) texts_[c] = scorer_.choices_.chars(choices[c]);
    std::uint32_t counts[64 * kTileColumns];
    std::span<const std::u32string_view> columns(texts_, choices.size());
    counts_of(columns, counts);
    report(columns, counts, tile);
  }

 private:
  bool unbounded(const double* bounds) const { return scorer_.unbounded({bounds, rows_.size()}); }

  // Lane k's count for texts[c] at counts[k * texts.size() + c].
  void counts_of(std::span<const std::u32string_view> texts, std::uint32_t* counts) const {
    if (osa_lanes_) {
      osa_lanes_->distances(texts, counts);
    } else {
      lcs_lanes_->lengths(texts, counts);
    }
  }

  // Each lane's scores from its counts, laid out as counts_of() leaves them.
  void report(std::span<const std::u32string_view> texts, const std::uint32_t* counts,
              double* out) const {
    std::size_t columns = texts.size();
    double n[kTileColumns];
    for (std::size_t c = 0; c < columns; ++c) n[c] = double(texts[c].size());
    tile_rows::scores(scorer_.isa_, scorer_.rule_, lengths_, rows_.size(), n, columns, counts, out);
  }

  // A query past the lanes: its masks, over as many words as it needs.
  void score_long(std::u32string_view text, double bound, double* out) {
    std::size_t m = scorer_.queries_.length(rows_[0]);
    if (!scorer_.lengths_may_pass(m, text.size(), bound)) {
      *out = NAN;
      return;
    }
    std::span<const char32_t> columns(text);
    std::uint64_t count = scorer_.osa_ ? bitpar::osa_blocks(*long_masks_, m, columns)
                                       : bitpar::lcs_blocks(*long_masks_, m, columns);
    *out = scorer_.score_of(count, m, text.size());
  }

  const BitParallelScorer& scorer_;
  std::span<const std::size_t> rows_;
  std::optional<lanes::OsaBlock> osa_lanes_;
  std::optional<lanes::LcsBlock> lcs_lanes_;
  std::optional<bitpar::BlockMasks> long_masks_;
  std::uint32_t lengths_[64] = {};           // the queries', when in lanes
  std::u32string_view texts_[kTileColumns];  // a tile's choices (kept to spare clearing them)
  LimitCache limits_[64];
};

std::unique_ptr<Block> BitParallelScorer::block() const {
  return std::make_unique<BitParallelBlock>(*this);
}

}  // namespace

std::unique_ptr<Scorer> make_bit_parallel_scorer(const Measure& measure, const Texts& queries,
                                                 const Texts& choices) {
  return std::make_unique<BitParallelScorer>(measure, queries, choices);
}

}  // namespace kivo::batch
