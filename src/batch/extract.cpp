// The k best choices of a single query. The choices take the rows, so that
// blocks of them share the lanes of one kernel call and the query runs
// through each block once; the blocks share the k best found so far, whose
// worst bounds every block that starts after it.
#include <mutex>

#include "batch/best.hpp"
#include "batch/operations.hpp"
#include "batch/sweep.hpp"

namespace kivo::batch {

namespace {

// The first k choices equal to the query, when only equal texts get the
// best score and k of them exist: their score, else nothing.
std::optional<double> equal_choices(const Problem& transposed, std::size_t k, double cutoff,
                                    std::vector<std::size_t>& found) {
  const Scorer& scorer = transposed.scorer;
  if (!scorer.best_means_equal()) return std::nullopt;
  std::u32string_view query = transposed.choices.chars(0);
  const Texts& choices = transposed.queries;
  cancel::Meter meter;
  for (std::size_t j = 0; j < choices.size() && found.size() < k; ++j) {
    meter.add();
    if (choices.length(j) == query.size() && choices.chars(j) == query) found.push_back(j);
  }
  if (found.size() < k) return std::nullopt;
  std::optional<double> best = scorer.score(found[0], 0, cutoff);
  if (!best || !scorer.passes(*best, cutoff)) return std::nullopt;
  return best;
}

template <class T>
void topk_of_one_as(const Problem& transposed, std::size_t k, double cutoff, std::int64_t* indices,
                    T* scores) {
  const Scorer& scorer = transposed.scorer;
  std::vector<std::size_t> equal;
  if (std::optional<double> best = equal_choices(transposed, k, cutoff, equal)) {
    for (std::size_t r = 0; r < k; ++r) {
      indices[r] = std::int64_t(equal[r]);
      scores[r] = static_cast<T>(*best);
    }
    return;
  }
  struct Shared {
    std::mutex mutex;
    Best best;
    double bound;  // the cutoff, or the worst of the k best once there are k
  } shared{{}, Best(scorer, k, transposed.queries.size()), cutoff};
  struct State {
    static constexpr bool rising() { return true; }
    const Scorer& scorer;
    std::span<const std::size_t> rows;
    double cutoff;
    Shared& shared;
    void bounds(double* b) const {
      double bound;
      {
        std::lock_guard lock(shared.mutex);
        bound = shared.bound;
      }
      std::fill(b, b + rows.size(), bound);
    }
    void take(std::size_t, const double* s) {
      std::lock_guard lock(shared.mutex);
      for (std::size_t r = 0; r < rows.size(); ++r) {
        if (scorer.passes(s[r], cutoff)) shared.best.offer(s[r], rows[r]);
      }
      if (shared.best.full() && scorer.better(shared.best.worst(), shared.bound))
        shared.bound = shared.best.worst();
    }
    void finish() const {}
  };
  sweep(transposed, BlockPlan(transposed), {true, nullptr},
        [&](std::size_t, std::span<const std::size_t> rows) {
          return State{scorer, rows, cutoff, shared};
        });
  shared.best.write(0, indices, scores);
}

}  // namespace

void topk_of_one(const Problem& transposed, std::size_t k, double cutoff, std::int64_t* indices,
                 Output scores) {
  if (k == 0) return;
  if (transposed.choices.size() != 1 || !transposed.scorer.symmetric())
    throw InternalFault("topk_of_one: one query and a symmetric scorer");
  check_lengths(transposed.scorer, PairShape::All);
  scores.visit_scores([&](auto* data) { topk_of_one_as(transposed, k, cutoff, indices, data); });
}

}  // namespace kivo::batch
