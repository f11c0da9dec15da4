// The measures a batch call can score, prepared once per call over its two
// lists of texts. Every score equals the measure's single call bit for bit;
// distances are integral doubles (exact far beyond any text length).
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <utility>

#include "algo/measures.hpp"
#include "base/error.hpp"
#include "batch/executor.hpp"
#include "batch/texts.hpp"
#include "router/router.hpp"

namespace kivo::batch {

// A flow (a KivoFlow's tiers) when `measure` is null.
struct ScorerSpec {
  const Measure* measure = nullptr;
  // Flow: the tiers, with no cleaning (the texts come cleaned).
  const Router* router = nullptr;

  bool distance() const { return measure != nullptr && measure->distance; }
  // Characters for the character measures; UTF-8 for the rest and for flows.
  TextNeeds needs() const;
  // Whether its scorers are symmetric() (known before one is made).
  bool symmetric() const;
};

inline std::size_t length_gap(std::size_t a, std::size_t b) {
  return a > b ? a - b : b - a;
}

// A pair that fails whatever its score, raised as its measure's own error.
struct PairFailure {
  Failure failure;
};

// Which pairs a call scores: every (i, j), the (i, i), or the i < j of one list.
enum class PairShape { All, Diagonal, UpperTriangle };

// The most choices a block scores in one score_tile().
inline constexpr std::size_t kTileColumns = 32;

// Scores one choice against a block of queries at once: the seam where the
// many-strings kernels plug in.
class Block {
 public:
  virtual ~Block() = default;
  // The block's queries, as many as the scorer's next_block() gave.
  virtual void load(std::span<const std::size_t> queries) = 0;
  // out[k]: the score of the k-th query against `choice`, or NaN when it
  // certainly cannot reach bounds[k].
  virtual void score(std::size_t choice, const double* bounds, double* out) = 0;
  // The same for two choices, into out and out2: kernels that run two texts
  // side by side hide their latency.
  virtual void score_two(std::size_t choice, std::size_t choice2, const double* bounds, double* out,
                         double* out2) {
    score(choice, bounds, out);
    score(choice2, bounds, out2);
  }
  // The same for up to kTileColumns choices: the score of the k-th of the
  // `rows` queries against choices[c] goes to tile[k * choices.size() + c],
  // so each query's scores lie side by side.
  virtual void score_tile(std::span<const std::size_t> choices, const double* bounds,
                          std::size_t rows, double* tile);
};

// A bound is inclusive: a distance's largest accepted value, a similarity's
// smallest. Unbounded is +inf for a distance and -inf for a similarity.
class Scorer {
 public:
  explicit Scorer(bool distance) : distance_(distance) {}
  virtual ~Scorer() = default;

  bool distance() const { return distance_; }
  bool passes(double score, double bound) const {
    return distance_ ? score <= bound : score >= bound;
  }
  // Whether a is better than b (lower distance, higher similarity).
  bool better(double a, double b) const { return distance_ ? a < b : a > b; }
  // Whether every one of `bounds` lets every score pass.
  static constexpr double kInfinity = std::numeric_limits<double>::infinity();
  // Asked for every choice a block scores: compared as bits, which
  // vectorises (an infinity has one bit pattern).
  bool unbounded(std::span<const double> bounds) const {
    auto none = std::bit_cast<std::uint64_t>(distance_ ? kInfinity : -kInfinity);
    std::uint64_t differ = 0;
    for (double b : bounds) differ |= std::bit_cast<std::uint64_t>(b) ^ none;
    return differ == 0;
  }

  // The score of queries[i] against choices[j], or nothing when it certainly
  // cannot reach `bound`. Throws PairFailure for a failing pair.
  virtual std::optional<double> score(std::size_t i, std::size_t j, double bound) const = 0;

  // The first pair in row-major order that must fail whatever the texts
  // hold beyond their lengths, with its failure.
  virtual std::optional<std::pair<std::size_t, std::size_t>> first_invalid(PairShape) const {
    return std::nullopt;
  }
  virtual Failure invalid_failure() const { throw InternalFault("no invalid pairs"); }
  // Whether score() may throw: such a measure is scored row by row, in order,
  // so that the first failing pair is found whatever the threads do.
  virtual bool may_fail() const { return false; }

  virtual std::unique_ptr<Block> block() const;
  // Whether blocks gather queries of alike lengths (and choices are visited
  // by length), and how many of the leading `rows` the next block takes.
  virtual bool sorts_by_length() const { return false; }
  virtual std::size_t next_block(std::span<const std::size_t> rows) const {
    return std::min<std::size_t>(rows.size(), 16);
  }
  // Whether score(i, j) equals score(j, i) bit for bit over one list, so a
  // self-join may score each pair of texts once, whichever way round.
  virtual bool symmetric() const { return false; }
  // Whether only equal texts get the best score there is (so a query with
  // enough equal choices has its best ones without a search).
  virtual bool best_means_equal() const { return false; }
  // False when texts of these lengths (in characters) cannot reach `bound`.
  virtual bool lengths_may_pass(std::size_t, std::size_t, double) const { return true; }

 private:
  bool distance_;
};

// `choices` may be `queries` itself (a self-join). With `pairwise`, each
// query meets only the choice at its own index, so nothing is built ahead
// per text that would be used once.
std::unique_ptr<Scorer> make_scorer(const ScorerSpec& spec, const Texts& queries,
                                    const Texts& choices, bool pairwise, const Pool& pool);

}  // namespace kivo::batch
