#include "batch/operations.hpp"

#include <algorithm>
#include <unordered_map>

#include "base/hashing.hpp"
#include "batch/sweep.hpp"

namespace kivo::batch {

namespace {

// A row's k best so far, the worst on top of a heap.
class Best {
 public:
  Best(const Scorer& scorer, std::size_t k, std::size_t columns) : before_{&scorer}, k_(k) {
    entries_.reserve(std::min(k, columns));
  }

  // A row that keeps nothing is never full: it has no worst.
  bool full() const { return k_ > 0 && entries_.size() == k_; }
  double worst() const { return entries_.front().score; }
  void offer(double score, std::size_t index) {
    Entry entry{score, index};
    if (k_ == 0) return;
    if (!full()) {
      entries_.push_back(entry);
      std::push_heap(entries_.begin(), entries_.end(), before_);
    } else if (before_(entry, entries_.front())) {
      std::pop_heap(entries_.begin(), entries_.end(), before_);
      entries_.back() = entry;
      std::push_heap(entries_.begin(), entries_.end(), before_);
    }
  }
  // Best first into row `row` of the outputs, -1 after the last.
  void write(std::size_t row, Output indices, Output scores) {
    std::sort_heap(entries_.begin(), entries_.end(), before_);
    for (std::size_t r = 0; r < k_; ++r) {
      bool set = r < entries_.size();
      indices.store(row * k_ + r, set ? double(entries_[r].index) : -1.0);
      scores.store(row * k_ + r, set ? entries_[r].score : -1.0);
    }
  }

 private:
  struct Entry {
    double score;
    std::size_t index;
  };
  // Strictly better: the better score, or the same score at a lower index.
  struct Before {
    const Scorer* scorer;
    bool operator()(const Entry& a, const Entry& b) const {
      return scorer->better(a.score, b.score) || (a.score == b.score && a.index < b.index);
    }
  };

  Before before_;
  std::size_t k_;
  std::vector<Entry> entries_;
};

// The queries whose k best are their first k equal choices, written out at
// once, when only equal texts get the best score. The choices are looked up
// by their code points in a table keyed against crafted input.
std::vector<bool> settle_equal_choices(const Problem& problem, std::size_t k, double cutoff,
                                       Output indices, Output scores) {
  const Scorer& scorer = problem.scorer;
  if (k == 0 || !scorer.best_means_equal()) return {};
  struct Hash {
    std::size_t operator()(std::u32string_view text) const {
      return keyed_hash({reinterpret_cast<const char*>(text.data()), text.size() * 4});
    }
  };
  // Equal choices chained in index order: the first, the count, and for
  // each choice the next equal one.
  struct Equal {
    std::size_t first, last, count;
  };
  std::unordered_map<std::u32string_view, Equal, Hash> equal;
  std::vector<std::size_t> next(problem.choices.size());
  for (std::size_t j = 0; j < problem.choices.size(); ++j) {
    auto [at, fresh] = equal.try_emplace(problem.choices.chars(j), Equal{j, j, 0});
    if (!fresh) next[at->second.last] = j;
    at->second.last = j;
    ++at->second.count;
  }
  std::vector<bool> settled(problem.queries.size(), false);
  for (std::size_t i = 0; i < settled.size(); ++i) {
    auto at = equal.find(problem.queries.chars(i));
    if (at == equal.end() || at->second.count < k) continue;
    std::optional<double> best = scorer.score(i, at->second.first, cutoff);
    if (!best || !scorer.passes(*best, cutoff)) continue;
    for (std::size_t r = 0, j = at->second.first; r < k; ++r, j = next[j]) {
      indices.store(i * k + r, double(j));
      scores.store(i * k + r, *best);
    }
    settled[i] = true;
  }
  return settled;
}

}  // namespace

void cdist(const Problem& problem, double cutoff, double fill, Output out) {
  check_lengths(problem.scorer, PairShape::All);
  std::size_t columns = problem.choices.size();
  struct State {
    const Scorer& scorer;
    std::span<const std::size_t> rows;
    double cutoff, fill;
    Output out;
    std::size_t columns;
    void bounds(double* b) const { std::fill(b, b + rows.size(), cutoff); }
    void take(std::size_t j, const double* scores) const {
      for (std::size_t k = 0; k < rows.size(); ++k) {
        double s = scorer.passes(scores[k], cutoff) ? scores[k] : fill;
        out.store(rows[k] * columns + j, s);
      }
    }
    void finish() const {}
  };
  sweep(problem, BlockPlan(problem), {}, [&](std::size_t, std::span<const std::size_t> rows) {
    return State{problem.scorer, rows, cutoff, fill, out, columns};
  });
}

void cpdist(const Problem& problem, double cutoff, double fill, Output out) {
  const Scorer& scorer = problem.scorer;
  check_lengths(scorer, PairShape::Diagonal);
  constexpr std::size_t kPerTask = 64;
  std::size_t count = problem.queries.size();
  FirstFailure failure;
  problem.pool.for_each((count + kPerTask - 1) / kPerTask, [&](std::size_t t) {
    for (std::size_t i = t * kPerTask; i < std::min(count, (t + 1) * kPerTask); ++i) {
      if (failure.position() <= i) return;
      problem.pool.check();
      try {
        std::optional<double> s = scorer.score(i, i, cutoff);
        out.store(i, s && scorer.passes(*s, cutoff) ? *s : fill);
      } catch (PairFailure& failed) {
        failure.record(i, std::move(failed.failure));
        return;
      }
    }
  });
  failure.rethrow();
}

void topk(const Problem& problem, std::size_t k, double cutoff, Output indices, Output scores) {
  const Scorer& scorer = problem.scorer;
  check_lengths(scorer, PairShape::All);
  struct State {
    const Scorer& scorer;
    std::span<const std::size_t> rows;
    double cutoff;
    Output indices, scores;
    std::vector<Best> best;
    // Once a row holds k, a choice must at least tie its worst.
    void bounds(double* b) const {
      for (std::size_t r = 0; r < rows.size(); ++r) {
        bool tighter = best[r].full() && scorer.better(best[r].worst(), cutoff);
        b[r] = tighter ? best[r].worst() : cutoff;
      }
    }
    void take(std::size_t j, const double* s) {
      for (std::size_t r = 0; r < rows.size(); ++r) {
        if (scorer.passes(s[r], cutoff)) best[r].offer(s[r], j);
      }
    }
    void finish() {
      for (std::size_t r = 0; r < rows.size(); ++r) best[r].write(rows[r], indices, scores);
    }
  };
  std::vector<bool> settled = settle_equal_choices(problem, k, cutoff, indices, scores);
  sweep(problem, BlockPlan(problem, settled), {true, nullptr},
        [&](std::size_t, std::span<const std::size_t> rows) {
          return State{
              scorer, rows,
              cutoff, indices,
              scores, std::vector<Best>(rows.size(), Best(scorer, k, problem.choices.size()))};
        });
}

PairList pairs(const Problem& problem, bool self, double cutoff) {
  const Scorer& scorer = problem.scorer;
  check_lengths(scorer, self ? PairShape::UpperTriangle : PairShape::All);
  struct Found {
    std::int64_t i, j;
    double score;
  };
  BlockPlan plan(problem);
  std::vector<std::vector<Found>> found(plan.blocks());
  struct State {
    const Scorer& scorer;
    std::span<const std::size_t> rows;
    double cutoff;
    bool self;
    std::vector<Found>& out;
    void bounds(double* b) const { std::fill(b, b + rows.size(), cutoff); }
    void take(std::size_t j, const double* s) {
      for (std::size_t r = 0; r < rows.size(); ++r) {
        if ((!self || j > rows[r]) && scorer.passes(s[r], cutoff)) {
          out.push_back({std::int64_t(rows[r]), std::int64_t(j), s[r]});
        }
      }
    }
    void finish() const {}
  };
  auto after_first_row = [](std::span<const std::size_t> rows) {
    return *std::min_element(rows.begin(), rows.end()) + 1;
  };
  sweep(problem, plan, {true, self ? +after_first_row : nullptr},
        [&](std::size_t b, std::span<const std::size_t> rows) {
          return State{scorer, rows, cutoff, self, found[b]};
        });
  std::vector<Found> all;
  for (std::vector<Found>& block : found) {
    all.insert(all.end(), block.begin(), block.end());
    block = {};
  }
  std::sort(all.begin(), all.end(),
            [](const Found& a, const Found& b) { return a.i != b.i ? a.i < b.i : a.j < b.j; });
  PairList out;
  out.first.reserve(all.size());
  out.second.reserve(all.size());
  out.scores.reserve(all.size());
  for (const Found& f : all) {
    out.first.push_back(f.i);
    out.second.push_back(f.j);
    out.scores.push_back(f.score);
  }
  return out;
}

}  // namespace kivo::batch
