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
#include <span>
#include <vector>

#include "base/cancel.hpp"
#include "batch/operations.hpp"

namespace kivo::batch {

// The failing pair with the lowest row-major position, whatever order the
// workers score pairs in.
class FirstFailure {
 public:
  // Runs score(), the pair at `position`, unless a pair before it has
  // failed. False when it did not run or failed: the row stops there.
  template <class Score>
  bool attempt(std::uint64_t position, Score&& score) {
    if (position_.load(std::memory_order_relaxed) <= position) return false;
    try {
      score();
    } catch (PairFailure& failed) {
      record(position, std::move(failed.failure));
      return false;
    }
    return true;
  }
  void rethrow() {
    if (failure_) throw PairFailure{std::move(*failure_)};
  }

 private:
  void record(std::uint64_t position, Failure failure) {
    std::lock_guard lock(mutex_);
    if (position < position_.load(std::memory_order_relaxed)) {
      position_.store(position, std::memory_order_relaxed);
      failure_ = std::move(failure);
    }
  }

  std::atomic<std::uint64_t> position_{std::numeric_limits<std::uint64_t>::max()};
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
class BlockPlan {
 public:
  // Rows whose entry in `settled` is set are left out.
  explicit BlockPlan(const Problem& problem, const std::vector<bool>& settled = {})
      : order_(sorted(problem, problem.queries)) {
    if (!settled.empty()) std::erase_if(order_, [&](std::size_t row) { return settled[row]; });
    const Scorer& scorer = problem.scorer;
    cancel::Meter meter;
    for (std::size_t begin = 0; begin < order_.size();) {
      meter.add(64);
      std::span<const std::size_t> rest = std::span(order_).subspan(begin);
      std::size_t take = scorer.may_fail() ? 1 : std::max<std::size_t>(1, scorer.next_block(rest));
      starts_.push_back(begin);
      begin += take;
    }
    starts_.push_back(order_.size());
  }
  std::size_t blocks() const { return starts_.size() - 1; }
  const std::vector<std::size_t>& order() const { return order_; }
  // Where block b starts in order().
  std::size_t start(std::size_t b) const { return starts_[b]; }
  std::span<const std::size_t> block(std::size_t b) const {
    return std::span(order_).subspan(starts_[b], starts_[b + 1] - starts_[b]);
  }

  // The texts' indices, by length when the scorer sorts by length.
  static std::vector<std::size_t> sorted(const Problem& problem, const Texts& texts,
                                         bool by_length = true) {
    std::vector<std::size_t> order(texts.size());
    std::iota(order.begin(), order.end(), std::size_t(0));
    if (by_length && problem.scorer.sorts_by_length()) {
      if (counting_sort(texts, order)) return order;
      cancel::Meter meter;
      std::stable_sort(order.begin(), order.end(),
                       cancel::metered(meter, [&](std::size_t a, std::size_t b) {
                         return texts.length(a) < texts.length(b);
                       }));
    }
    return order;
  }

 private:
  // The same stable order by length in two passes, when the longest text is
  // not far longer than the list: false, and `order` untouched, otherwise.
  static bool counting_sort(const Texts& texts, std::vector<std::size_t>& order) {
    std::size_t longest = 0;
    for (std::size_t i = 0; i < texts.size(); ++i) longest = std::max(longest, texts.length(i));
    if (longest > 4 * texts.size() + 1024) return false;
    std::vector<std::size_t> starts(longest + 2, 0);
    for (std::size_t i = 0; i < texts.size(); ++i) ++starts[texts.length(i) + 1];
    for (std::size_t length = 1; length < starts.size(); ++length)
      starts[length] += starts[length - 1];
    for (std::size_t i = 0; i < texts.size(); ++i) order[starts[texts.length(i)]++] = i;
    return true;
  }

  std::vector<std::size_t> order_;
  std::vector<std::size_t> starts_;
};

// The choices in the order blocks visit them: by length, in runs of equal
// length, when the scorer sorts by length; else as given, in one run.
class ColumnPlan {
 public:
  struct Run {
    std::size_t length;
    std::size_t begin, end;  // positions in order()
  };

  // By length only when `by_length`: otherwise in index order, which keeps
  // each row's writes in sequence.
  ColumnPlan(const Problem& problem, bool by_length)
      : order_(by_length ? BlockPlan::sorted(problem, problem.choices)
                         : BlockPlan::sorted(problem, problem.choices, false)) {
    if (!by_length) {
      runs_.push_back({0, 0, order_.size()});
      return;
    }
    cancel::Meter meter;
    for (std::size_t p = 0; p < order_.size(); ++p) {
      meter.add();
      std::size_t length = problem.choices.length(order_[p]);
      if (runs_.empty() || runs_.back().length != length) runs_.push_back({length, p, p});
      runs_.back().end = p + 1;
    }
  }

  const std::vector<std::size_t>& order() const { return order_; }
  const std::vector<Run>& runs() const { return runs_; }

 private:
  std::vector<std::size_t> order_;
  std::vector<Run> runs_;
};

// How a sweep visits the choices. With `prune`, a block visits the lengths
// nearest its rows' first, and skips a length once every row's bound rules
// it out. `first` is the first choice a block visits, when they come in
// index order. With `triangle` (a self-join, choices ordered as the plan's
// rows), a block visits only the choices from its own first row on.
struct Columns {
  bool prune = false;
  std::size_t (*first)(std::span<const std::size_t> rows) = nullptr;
  bool triangle = false;
};

// Hands a block's tile of scores (see Block::score_tile) to a state: whole,
// when it takes tiles, else one choice at a time through `column`.
template <class State>
void take_tile(State& state, std::span<const std::size_t> choices, const double* tile,
               std::size_t rows, double* column) {
  if constexpr (requires { state.take_tile(choices, tile); }) {
    state.take_tile(choices, tile);
  } else {
    std::size_t columns = choices.size();
    for (std::size_t c = 0; c < columns; ++c) {
      for (std::size_t k = 0; k < rows; ++k) column[k] = tile[k * columns + c];
      state.take(choices[c], column);
    }
  }
}

// Runs every block of the plan over the choices. Per block, `start(b, rows)`
// makes a state with bounds(out) (each row's current bound, asked again
// before every choice when the state's rising() is), take(j, scores),
// perhaps take_tile(choices, tile) (a tile of non-rising scores), and
// finish(). Choices come by length only where that prunes.
template <class Start>
void sweep(const Problem& problem, const BlockPlan& plan, Columns columns, Start&& start) {
  const Scorer& scorer = problem.scorer;
  bool by_length = scorer.sorts_by_length() && (columns.prune || columns.triangle);
  ColumnPlan column_plan(problem, by_length);
  const std::vector<std::size_t>& order = column_plan.order();
  const Texts& queries = problem.queries;
  std::size_t width = problem.choices.size();
  if (columns.triangle && order != plan.order()) throw InternalFault("triangle out of order");
  FirstFailure failure;
  problem.pool.for_each(plan.blocks(), [&](std::size_t b) {
    std::span<const std::size_t> rows = plan.block(b);
    std::unique_ptr<Block> block = scorer.block();
    block->load(rows);
    auto state = start(b, rows);
    constexpr bool rising = decltype(state)::rising();
    std::vector<double> bounds(rows.size());
    state.bounds(bounds.data());
    std::vector<double> scores(rows.size());
    std::vector<double> tile(rows.size() * kTileColumns);
    // A scorer that may fail has blocks of one row.
    auto score_alone = [&](std::size_t j) {
      std::uint64_t position = std::uint64_t(rows[0]) * width + j;
      if (!failure.attempt(position, [&] { block->score(j, bounds.data(), scores.data()); }))
        return false;
      state.take(j, scores.data());
      return true;
    };
    std::vector<ColumnPlan::Run> runs = column_plan.runs();
    if (columns.prune && by_length) {
      std::size_t center = queries.length(rows[rows.size() / 2]);
      std::stable_sort(runs.begin(), runs.end(), [&](const auto& x, const auto& y) {
        return length_gap(x.length, center) < length_gap(y.length, center);
      });
    }
    for (ColumnPlan::Run run : runs) {
      if (columns.prune && by_length) {
        state.bounds(bounds.data());
        bool open = false;
        for (std::size_t k = 0; k < rows.size() && !open; ++k) {
          open = scorer.lengths_may_pass(queries.length(rows[k]), run.length, bounds[k]);
        }
        if (!open) continue;
      }
      if (columns.first != nullptr && !by_length)
        run.begin = std::max(run.begin, columns.first(rows));
      if (columns.triangle) run.begin = std::max(run.begin, plan.start(b));
      for (std::size_t p = run.begin; p < run.end;) {
        problem.pool.check();
        if constexpr (!rising) {
          // A tile of choices at a time where pairs rarely fail; should one,
          // the tile goes again one choice at a time, where its position is
          // kept exactly.
          if (!scorer.may_fail()) {
            std::span<const std::size_t> tile_choices(order.data() + p,
                                                      std::min(run.end - p, kTileColumns));
            p += tile_choices.size();
            bool scored = false;
            try {
              block->score_tile(tile_choices, bounds.data(), rows.size(), tile.data());
              scored = true;
            } catch (PairFailure&) {
            }
            if (scored) {
              take_tile(state, tile_choices, tile.data(), rows.size(), scores.data());
              continue;
            }
            for (std::size_t j : tile_choices) {
              if (!score_alone(j)) return;
            }
            continue;
          }
        } else {
          state.bounds(bounds.data());
        }
        if (!score_alone(order[p++])) return;
      }
    }
    state.finish();
  });
  failure.rethrow();
}

}  // namespace kivo::batch
