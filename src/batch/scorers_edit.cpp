// Levenshtein, Jaro-Winkler and Hamming over code points decoded once per
// text, with bounds that skip pairs their lengths alone rule out.
#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <mutex>
#include <vector>

#include "algo/char_histogram.hpp"
#include "algo/hamming.hpp"
#include "algo/jaro_winkler.hpp"
#include "algo/lanes/jaro_winkler_lanes.hpp"
#include "algo/lanes/levenshtein_band.hpp"
#include "algo/lanes/levenshtein_lanes.hpp"
#include "algo/levenshtein.hpp"
#include "algo/score_arithmetic.hpp"
#include "base/simd.hpp"
#include "batch/char_ids.hpp"
#include "batch/scorers.hpp"

namespace kivo::batch {

namespace {

CharSpan span_of(std::u32string_view text) {
  return {text.data(), text.size(), sizeof(char32_t)};
}

constexpr std::int64_t kUnbounded = std::numeric_limits<std::int64_t>::max();

// The largest distance kept under `bound` between texts whose longer one has
// `longest` characters: -1 when none is, kUnbounded when all are.
std::int64_t largest_kept(bool distance, std::size_t longest, double bound) {
  if (distance) {
    return bound >= 0x1p62 ? kUnbounded : bound < 0 ? -1 : std::int64_t(bound);
  }
  if (bound == -INFINITY) return kUnbounded;
  if (longest == 0) return 1.0 >= bound ? kUnbounded : -1;
  return levenshtein_max_distance(longest, bound);
}

// largest_kept() of the last lengths and bound asked: a block asks again and
// again for the same few, choices coming by length.
class KeptCache {
 public:
  std::int64_t get(bool distance, std::size_t longest, double bound) {
    if (longest != longest_ || !(bound == bound_)) {
      longest_ = longest;
      bound_ = bound;
      most_ = largest_kept(distance, longest, bound);
    }
    return most_;
  }

 private:
  std::size_t longest_ = 0;
  double bound_ = NAN;  // nothing cached yet
  std::int64_t most_ = 0;
};

// How many of the leading rows (sorted by length) one lane block takes: as
// many as one lane width of `isa` packs, or one row too long for lanes.
std::size_t lane_block(const Texts& queries, std::span<const std::size_t> rows, simd::Isa isa) {
  std::u32string_view patterns[64];
  std::size_t count = std::min<std::size_t>(rows.size(), 64);
  for (std::size_t k = 0; k < count; ++k) patterns[k] = queries.chars(rows[k]);
  return std::max<std::size_t>(1, lanes::lanes_to_take({patterns, count}, isa));
}

// A block of queries in lanes of `isa` when they all fit, else one pair at a time.
template <class Kernel>
class LaneBlock : public Block {
 public:
  LaneBlock(const Scorer& scorer, const Texts& queries, const Texts& choices, simd::Isa isa,
            const CharIds& ids)
      : scorer_(scorer), queries_(queries), choices_(choices), isa_(isa), ids_(ids) {}

  void load(std::span<const std::size_t> rows) override {
    rows_ = rows;
    std::u32string_view patterns[64];
    bool fits = rows.size() <= 64;
    for (std::size_t k = 0; fits && k < rows.size(); ++k) {
      patterns[k] = queries_.chars(rows[k]);
      fits = lanes::fits_lanes(patterns[k].size());
      if (fits && ids_.dense()) patterns[k] = ids_.number(patterns[k], numbered_[k]);
    }
    kernel_.reset();
    if (fits) {
      kernel_.emplace(std::span<const std::u32string_view>(patterns, rows.size()), isa_,
                      ids_.dense() ? ids_.alphabet() : 0);
    }
  }

 protected:
  // Choice j as the lanes read it.
  std::u32string_view lane_text(std::size_t j) const {
    return ids_.dense() ? ids_.choice(j) : choices_.chars(j);
  }

  void score_pairs(std::size_t choice, const double* bounds, double* out) const {
    for (std::size_t k = 0; k < rows_.size(); ++k) {
      std::optional<double> s = scorer_.score(rows_[k], choice, bounds[k]);
      out[k] = s ? *s : NAN;
    }
  }

  const Scorer& scorer_;
  const Texts& queries_;
  const Texts& choices_;
  const simd::Isa isa_;
  const CharIds& ids_;
  std::span<const std::size_t> rows_;
  std::optional<Kernel> kernel_;

 private:
  std::u32string numbered_[64];  // the rows' texts in character numbers
};

// What Levenshtein and Jaro-Winkler share: queries in lane blocks of alike
// lengths (Derived::Lanes), and only equal texts scoring best. The blocks of
// one scorer share the instruction set active when it was made, so that a
// limit set meanwhile cannot size a block for one set and fill it for another.
template <class Derived>
class LaneScorer : public Scorer {
 public:
  LaneScorer(bool distance, const Texts& queries, const Texts& choices)
      : Scorer(distance), queries_(queries), choices_(choices) {}

  bool sorts_by_length() const override { return true; }
  bool best_means_equal() const override { return true; }
  // Both read the two texts alike: the Levenshtein programme transposed,
  // Jaro's matching window and prefix either way round.
  bool symmetric() const override { return true; }
  std::size_t next_block(std::span<const std::size_t> rows) const override {
    return lane_block(queries_, rows, isa_);
  }
  std::unique_ptr<Block> block() const override {
    std::call_once(ids_numbered_, [&] { ids_.emplace(choices_, queries_.size() > kDenseQueries); });
    return std::make_unique<typename Derived::Lanes>(*this, queries_, choices_, isa_, *ids_);
  }

 protected:
  const Texts& queries_;
  const Texts& choices_;
  const simd::Isa isa_ = simd::active();

 public:
  // Each choice's character classes, counted on first use: a pair the lanes
  // cannot hold is checked against them before its programme runs.
  const std::vector<CharHistogram>& choice_histograms() const {
    std::call_once(histograms_counted_, [&] {
      cancel::Meter meter;
      histograms_.resize(choices_.size());
      for (std::size_t j = 0; j < choices_.size(); ++j) {
        meter.add(8 + choices_.length(j));
        histograms_[j] = char_histogram(choices_.chars(j));
      }
    });
    return histograms_;
  }

 private:
  // Numbering the choices' characters pays off once several blocks of queries read them.
  static constexpr std::size_t kDenseQueries = 64;
  mutable std::once_flag histograms_counted_;
  mutable std::vector<CharHistogram> histograms_;
  mutable std::once_flag ids_numbered_;
  mutable std::optional<CharIds> ids_;
};

class LevenshteinScorer final : public LaneScorer<LevenshteinScorer> {
 public:
  using LaneScorer::LaneScorer;

  std::optional<double> score(std::size_t i, std::size_t j, double bound) const override {
    std::u32string_view a = queries_.chars(i);
    std::u32string_view b = choices_.chars(j);
    if (!lengths_may_pass(a.size(), b.size(), bound)) return std::nullopt;
    std::uint64_t d = levenshtein_distance(span_of(a), span_of(b));
    return distance() ? double(d) : levenshtein_similarity_from(d, std::max(a.size(), b.size()));
  }

  bool lengths_may_pass(std::size_t a, std::size_t b, double bound) const override {
    std::int64_t most = largest_kept(distance(), std::max(a, b), bound);
    return most >= 0 && std::uint64_t(length_gap(a, b)) <= std::uint64_t(most);
  }

  // Queries too long for lanes go a band's worth at a time.
  std::size_t next_block(std::span<const std::size_t> rows) const override {
    if (rows.empty() || lanes::fits_lanes(queries_.length(rows[0]))) {
      return LaneScorer::next_block(rows);
    }
    std::size_t take = std::min(rows.size(), lanes::LevenshteinBand::lanes(isa_));
    std::size_t k = 1;
    while (k < take && !lanes::fits_lanes(queries_.length(rows[k]))) ++k;
    return k;
  }

  // Each lane's bound becomes the largest distance it keeps; a lane that
  // keeps none runs with bound 0 and is dropped. Queries too long for lanes
  // keep their patterns for every choice, and run in one band where their
  // bounds allow.
  class Lanes final : public LaneBlock<lanes::LevenshteinBlock> {
   public:
    using LaneBlock::LaneBlock;
    void load(std::span<const std::size_t> rows) override {
      LaneBlock::load(rows);
      long_queries_ = 0;
      band_.reset();
      if (kernel_) return;
      std::u32string_view patterns[kBandRows];
      for (std::size_t k = 0; k < rows.size(); ++k) {
        patterns[k] = queries_.chars(rows[k]);
        long_query_[k].emplace(patterns[k]);
        histograms_[k] = char_histogram(patterns[k]);
      }
      long_queries_ = rows.size();
      if (rows.size() > 1) band_.emplace(std::span(patterns, rows.size()), isa_);
    }

    void score(std::size_t choice, const double* bounds, double* out) override {
      if (long_queries_ != 0) return score_long(choice, bounds, out);
      if (!kernel_) return score_pairs(choice, bounds, out);
      std::u32string_view text = lane_text(choice);
      if (unbounded(bounds)) return score_all(text, out);
      std::int64_t most[64];
      std::uint32_t lane_bounds[64];
      std::uint32_t d[64];
      bool bounded = false;
      for (std::size_t k = 0; k < rows_.size(); ++k) {
        std::size_t longest = std::max(queries_.length(rows_[k]), text.size());
        most[k] = kept_[k].get(scorer_.distance(), longest, bounds[k]);
        lane_bounds[k] = most[k] < 0 ? 0 : most[k] >= kNoBound ? kNoBound : std::uint32_t(most[k]);
        bounded |= lane_bounds[k] != kNoBound;
      }
      std::uint64_t within = bounded ? kernel_->distances(text, lane_bounds, d)
                                     : (kernel_->distances(text, d), ~std::uint64_t(0));
      for (std::size_t k = 0; k < rows_.size(); ++k) {
        std::size_t longest = std::max(queries_.length(rows_[k]), text.size());
        bool kept = most[k] >= 0 && ((within >> k) & 1) != 0;
        out[k] = !kept                ? NAN
                 : scorer_.distance() ? double(d[k])
                                      : levenshtein_similarity_from(d[k], longest);
      }
    }

    void score_two(std::size_t choice, std::size_t choice2, const double* bounds, double* out,
                   double* out2) override {
      if (!kernel_ || !unbounded(bounds)) {
        score(choice, bounds, out);
        score(choice2, bounds, out2);
        return;
      }
      std::u32string_view text = lane_text(choice);
      std::u32string_view text2 = lane_text(choice2);
      std::uint32_t d[64];
      std::uint32_t d2[64];
      kernel_->distances(text, text2, d, d2);
      report(text, d, out);
      report(text2, d2, out2);
    }

   private:
    bool unbounded(const double* bounds) const {
      double none = scorer_.distance() ? INFINITY : -INFINITY;
      bool all = true;
      for (std::size_t k = 0; k < rows_.size(); ++k) all &= bounds[k] == none;
      return all;
    }

    void score_all(std::u32string_view text, double* out) const {
      std::uint32_t d[64];
      kernel_->distances(text, d);
      report(text, d, out);
    }

    // Each lane's score from its distance to `text`.
    void report(std::u32string_view text, const std::uint32_t* d, double* out) const {
      if (scorer_.distance()) {
        for (std::size_t k = 0; k < rows_.size(); ++k) out[k] = double(d[k]);
        return;
      }
      for (std::size_t k = 0; k < rows_.size(); ++k) {
        std::size_t longest = std::max(queries_.length(rows_[k]), text.size());
        out[k] = levenshtein_similarity_from(d[k], longest);
      }
    }

    // Each long query's score: the band for those it can hold, the query's
    // own pattern for the rest.
    void score_long(std::size_t choice, const double* bounds, double* out) {
      std::u32string_view text = choices_.chars(choice);
      auto& scorer = static_cast<const LevenshteinScorer&>(scorer_);
      std::int64_t most[kBandRows];
      std::uint32_t band_bounds[kBandRows];
      std::uint32_t d[kBandRows] = {};
      std::uint64_t wanted = 0;
      for (std::size_t k = 0; k < long_queries_; ++k) {
        std::size_t m = queries_.length(rows_[k]);
        most[k] = kept_[k].get(scorer_.distance(), std::max(m, text.size()), bounds[k]);
        if (most[k] < 0 || most[k] == kUnbounded) continue;
        if (std::uint64_t(length_gap(m, text.size())) > std::uint64_t(most[k]) ||
            edit_lower_bound(histograms_[k], scorer.choice_histograms()[choice]) >
                std::uint64_t(most[k])) {
          most[k] = -1;
        } else if (band_ && most[k] <= lanes::LevenshteinBand::kMaxBound) {
          band_bounds[k] = std::uint32_t(most[k]);
          wanted |= std::uint64_t(1) << k;
        }
      }
      lanes::LevenshteinBand::Found found{0, wanted};
      if (std::popcount(wanted) > 1) {
        found = band_->distances(text, band_bounds, wanted, d, rows_scratch_);
      }
      for (std::size_t k = 0; k < long_queries_; ++k) {
        std::uint64_t lane = std::uint64_t(1) << k;
        std::uint64_t limit = most[k] == kUnbounded ? kUnbounded : std::uint64_t(most[k]);
        std::uint64_t distance = d[k];
        if (most[k] >= 0 && ((wanted & ~found.left) & lane) == 0) {
          distance = long_query_[k]->distance(text, limit);
          if (distance <= limit) found.within |= lane;
        }
        std::size_t longest = std::max(queries_.length(rows_[k]), text.size());
        out[k] = (found.within & lane) == 0 ? NAN
                 : scorer_.distance()       ? double(distance)
                                            : levenshtein_similarity_from(distance, longest);
      }
    }

    static constexpr std::size_t kBandRows = 8;
    std::optional<LevenshteinPattern> long_query_[kBandRows];
    CharHistogram histograms_[kBandRows];
    std::size_t long_queries_ = 0;
    std::optional<lanes::LevenshteinBand> band_;
    std::vector<std::uint32_t> rows_scratch_;
    KeptCache kept_[64];  // one per lane
    static constexpr std::uint32_t kNoBound = lanes::LevenshteinBlock::kNoBound;
  };

 private:
};

class JaroWinklerScorer final : public LaneScorer<JaroWinklerScorer> {
 public:
  JaroWinklerScorer(const Texts& queries, const Texts& choices)
      : LaneScorer(false, queries, choices) {}

  std::optional<double> score(std::size_t i, std::size_t j, double bound) const override {
    if (!lengths_may_pass(queries_.length(i), choices_.length(j), bound)) return std::nullopt;
    return jaro_winkler_similarity(span_of(queries_.chars(i)), span_of(choices_.chars(j)));
  }

  // Two empty texts score 1 and one empty text 0: no bound to draw.
  bool lengths_may_pass(std::size_t a, std::size_t b, double bound) const override {
    return a == 0 || b == 0 ||
           ceiling(a, b, std::min(a, b), std::min({a, b, kJaroWinklerMaxPrefix})) >= bound;
  }

  // The same with no more matches than the texts have characters of each
  // class in common, and their actual common prefix.
  bool counts_may_pass(std::u32string_view a, std::u32string_view b, const CharHistogram& ha,
                       const CharHistogram& hb, double bound) const {
    if (a.empty() || b.empty()) return true;
    std::size_t matches = std::min({common_count_bound(ha, hb), a.size(), b.size()});
    std::size_t prefix = 0;
    while (prefix < std::min({a.size(), b.size(), kJaroWinklerMaxPrefix}) && a[prefix] == b[prefix])
      ++prefix;
    return matches == 0 ? 0.0 >= bound : ceiling(a.size(), b.size(), matches, prefix) >= bound;
  }

 private:
  // Above every score two texts of these lengths can get with at most
  // `matches` matched and this prefix: no transposition; widened by far more
  // than the rounding of the score's few operations.
  static double ceiling(std::size_t la, std::size_t lb, std::size_t matches, std::size_t prefix) {
    double jaro = jaro_from_counts(double(matches), 0.0, double(la), double(lb));
    return jaro_winkler_from(jaro, double(prefix)) + 1e-9;
  }

 public:
  // Pairs the lanes cannot hold (a query or a choice too long for them) go
  // through each query's pattern, prepared when first needed.
  class Lanes final : public LaneBlock<lanes::JaroWinklerBlock> {
   public:
    using LaneBlock::LaneBlock;
    void load(std::span<const std::size_t> rows) override {
      LaneBlock::load(rows);
      patterns_.clear();
    }
    void score(std::size_t choice, const double* bounds, double* out) override {
      std::u32string_view text = choices_.chars(choice);
      if (kernel_ && lanes::fits_lanes(text.size())) {
        return kernel_->similarities(lane_text(choice), out);
      }
      if (patterns_.empty()) {
        patterns_.reserve(rows_.size());
        histograms_.clear();
        for (std::size_t row : rows_) {
          patterns_.emplace_back(queries_.chars(row));
          histograms_.push_back(char_histogram(queries_.chars(row)));
        }
      }
      auto& scorer = static_cast<const JaroWinklerScorer&>(scorer_);
      for (std::size_t k = 0; k < rows_.size(); ++k) {
        std::u32string_view query = queries_.chars(rows_[k]);
        bool open = bounds[k] == -INFINITY ||
                    (scorer.lengths_may_pass(query.size(), text.size(), bounds[k]) &&
                     scorer.counts_may_pass(query, text, histograms_[k],
                                            scorer.choice_histograms()[choice], bounds[k]));
        out[k] = open ? patterns_[k].similarity(text) : NAN;
      }
    }

   private:
    std::vector<JaroWinklerPattern> patterns_;
    std::vector<CharHistogram> histograms_;
  };
};

class HammingScorer final : public Scorer {
 public:
  HammingScorer(bool distance, const Texts& queries, const Texts& choices)
      : Scorer(distance), queries_(queries), choices_(choices) {}

  std::optional<double> score(std::size_t i, std::size_t j, double) const override {
    CharSpan a = span_of(queries_.chars(i));
    CharSpan b = span_of(choices_.chars(j));
    std::optional<double> score;
    if (distance()) {
      if (std::optional<std::uint64_t> d = hamming_distance(a, b)) score = double(*d);
    } else {
      score = hamming_similarity(a, b);
    }
    if (!score) throw PairFailure{invalid_failure()};
    return score;
  }

  // Texts of different lengths fail, so the first failing pair follows from
  // the lengths in one pass.
  std::optional<std::pair<std::size_t, std::size_t>> first_invalid(PairShape shape) const override {
    std::size_t rows = queries_.size();
    std::size_t columns = choices_.size();
    auto q = [&](std::size_t i) { return queries_.length(i); };
    auto c = [&](std::size_t j) { return choices_.length(j); };
    if (shape == PairShape::Diagonal) {
      for (std::size_t i = 0; i < rows; ++i) {
        if (q(i) != c(i)) return std::pair{i, i};
      }
    } else if (shape == PairShape::All && columns > 0) {
      std::size_t odd = 1;  // the first choice whose length differs from the first's
      while (odd < columns && c(odd) == c(0)) ++odd;
      for (std::size_t i = 0; i < rows; ++i) {
        if (q(i) != c(0)) return std::pair{i, std::size_t(0)};
        if (odd < columns) return std::pair{i, odd};
      }
    } else if (shape == PairShape::UpperTriangle) {
      // Row i fails at the end of the run of equal lengths that holds i.
      for (std::size_t i = 0, end = 1; i < rows; ++i) {
        end = std::max(end, i + 1);
        while (end < rows && q(end) == q(i)) ++end;
        if (end < rows) return std::pair{i, end};
      }
    }
    return std::nullopt;
  }
  bool best_means_equal() const override { return true; }
  Failure invalid_failure() const override { return value_error("Strings must have equal length"); }

 private:
  const Texts& queries_;
  const Texts& choices_;
};

}  // namespace

std::unique_ptr<Scorer> make_edit_scorer(const Measure& measure, const Texts& queries,
                                         const Texts& choices) {
  switch (measure.kernel) {
    case BatchKernel::Levenshtein:
      return std::make_unique<LevenshteinScorer>(measure.distance, queries, choices);
    case BatchKernel::JaroWinkler: return std::make_unique<JaroWinklerScorer>(queries, choices);
    case BatchKernel::Hamming:
      return std::make_unique<HammingScorer>(measure.distance, queries, choices);
    default: throw InternalFault("not an edit measure: " + std::string(measure.name));
  }
}

}  // namespace kivo::batch
