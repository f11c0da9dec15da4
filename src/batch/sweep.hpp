// The loop every many-to-many operation shares: blocks of queries, each
// swept over the choices by one worker, and the first failing pair kept
// whatever order the workers ran in.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <limits>
#include <mutex>
#include <numeric>
#include <optional>
#include <vector>

#include "batch/operations.hpp"

namespace kivo::batch {

// The failing pair with the lowest row-major position.
class FirstFailure {
 public:
  static constexpr std::uint64_t kNone = std::numeric_limits<std::uint64_t>::max();

  std::uint64_t position() const { return position_.load(std::memory_order_relaxed); }
  void record(std::uint64_t position, Failure failure) {
    std::lock_guard lock(mutex_);
    if (position < position_.load(std::memory_order_relaxed)) {
      position_.store(position, std::memory_order_relaxed);
      failure_ = std::move(failure);
    }
  }
  void rethrow() {
    if (failure_) throw PairFailure{std::move(*failure_)};
  }

 private:
  std::atomic<std::uint64_t> position_{kNone};
  std::mutex mutex_;
  std::optional<Failure> failure_;
};

// Fails at once with the first pair the scorer rules out by length.
inline void check_lengths(const Scorer& scorer, PairShape shape) {
  if (scorer.first_invalid(shape)) throw PairFailure{scorer.invalid_failure()};
}

// Queries in the order blocks take them: by length when the scorer's blocks
// want alike lengths, else as given. A scorer that may fail gets blocks of
// one query, so that each row runs in order and stops at its first failure.
struct BlockPlan {
  std::vector<std::size_t> order;
  std::size_t width;

  BlockPlan(const Problem& problem) : order(problem.queries.size()) {
    const Scorer& scorer = problem.scorer;
    width = scorer.may_fail() ? 1 : scorer.block_width();
    std::iota(order.begin(), order.end(), std::size_t(0));
    if (scorer.sorts_by_length()) {
      std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return problem.queries.length(a) < problem.queries.length(b);
      });
    }
  }
  std::size_t blocks() const { return (order.size() + width - 1) / width; }
  std::span<const std::size_t> block(std::size_t b) const {
    std::size_t begin = b * width;
    return std::span(order).subspan(begin, std::min(width, order.size() - begin));
  }
};

// Runs every block of the plan over the choices [first_column(rows),
// columns). Per block, `start(b, rows)` makes a state with bounds(j, out)
// (each row's bound for column j), take(j, scores) and finish().
template <class Start, class FirstColumn>
void sweep(const Problem& problem, const BlockPlan& plan, Start&& start,
           FirstColumn&& first_column) {
  std::size_t columns = problem.choices.size();
  bool may_fail = problem.scorer.may_fail();
  FirstFailure failure;
  problem.pool.for_each(plan.blocks(), [&](std::size_t b) {
    std::span<const std::size_t> rows = plan.block(b);
    std::unique_ptr<Block> block = problem.scorer.block();
    block->load(rows);
    auto state = start(b, rows);
    std::vector<double> bounds(rows.size());
    std::vector<double> scores(rows.size());
    for (std::size_t j = first_column(rows); j < columns; ++j) {
      if (j % 64 == 0) problem.pool.check();
      std::uint64_t position = std::uint64_t(rows[0]) * columns + j;
      if (may_fail && failure.position() <= position) return;
      state.bounds(j, bounds.data());
      try {
        block->score(j, bounds.data(), scores.data());
      } catch (PairFailure& failed) {
        failure.record(position, std::move(failed.failure));
        return;
      }
      state.take(j, scores.data());
    }
    state.finish();
  });
  failure.rethrow();
}

}  // namespace kivo::batch
