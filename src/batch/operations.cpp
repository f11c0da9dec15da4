#include "batch/operations.hpp"

#include <algorithm>
#include <memory_resource>
#include <new>
#include <unordered_map>

#include "base/hashing.hpp"
#include "batch/best.hpp"
#include "batch/sweep.hpp"
#include "batch/tile_rows.hpp"

namespace kivo::batch {

namespace {

// The queries whose k best are their first k equal choices, written out at
// once, when only equal texts get the best score. The choices are looked up
// by their code points in a table keyed against crafted input.
template <class T>
std::vector<bool> settle_equal_choices(const Problem& problem, std::size_t k, double cutoff,
                                       std::int64_t* indices, T* scores) {
  const Scorer& scorer = problem.scorer;
  if (!scorer.best_means_equal()) return {};
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
  // Nodes and buckets come from one arena, let go of in a few blocks:
  // freeing millions of nodes one by one would hold up a cancelled call. Its
  // entries need no destructor, so the table is never destroyed.
  using Table = std::pmr::unordered_map<std::u32string_view, Equal, Hash>;
  std::pmr::monotonic_buffer_resource arena;
  Table& equal = *new (arena.allocate(sizeof(Table), alignof(Table))) Table(&arena);
  std::vector<std::size_t> next(problem.choices.size());
  cancel::Meter meter;
  for (std::size_t j = 0; j < problem.choices.size(); ++j) {
    meter.add(16 + problem.choices.length(j));
    auto [at, fresh] = equal.try_emplace(problem.choices.chars(j), Equal{j, j, 0});
    if (!fresh) next[at->second.last] = j;
    at->second.last = j;
    ++at->second.count;
  }
  std::vector<bool> settled(problem.queries.size(), false);
  for (std::size_t i = 0; i < settled.size(); ++i) {
    meter.add(16 + problem.queries.length(i));
    auto at = equal.find(problem.queries.chars(i));
    if (at == equal.end() || at->second.count < k) continue;
    std::optional<double> best = scorer.score(i, at->second.first, cutoff);
    if (!best || !scorer.passes(*best, cutoff)) continue;
    for (std::size_t r = 0, j = at->second.first; r < k; ++r, j = next[j]) {
      indices[i * k + r] = std::int64_t(j);
      scores[i * k + r] = static_cast<T>(*best);
    }
    settled[i] = true;
  }
  return settled;
}

template <class T>
void cdist_as(const Problem& problem, double cutoff, double fill, T* out) {
  std::size_t columns = problem.choices.size();
  struct State {
    static constexpr bool rising() { return false; }
    const Scorer& scorer;
    double cutoff, fill;
    simd::Isa isa;
    std::vector<void*> row_out;  // where each row of the block starts in `out`
    void bounds(double* b) const { std::fill(b, b + row_out.size(), cutoff); }
    void take(std::size_t j, const double* scores) const { put(j, 1, scores, 1); }
    // Straight runs of each row where the choices come in index order, as
    // they do here; one choice at a time otherwise.
    void take_tile(std::span<const std::size_t> choices, const double* tile) const {
      std::size_t columns = choices.size();
      bool straight = true;
      for (std::size_t c = 0; c < columns; ++c) straight &= choices[c] == choices[0] + c;
      if (straight) return put(choices[0], columns, tile, columns);
      for (std::size_t c = 0; c < columns; ++c) put(choices[c], 1, tile + c, columns);
    }
    // Row k's scores for choices first .. first + count - 1 from
    // scores[k * stride + c].
    void put(std::size_t first, std::size_t count, const double* scores, std::size_t stride) const {
      tile_rows::write(isa, element_of<T>(), scorer.distance(), scores, stride, row_out.size(),
                       count, cutoff, fill, row_out.data(), first);
    }
    void finish() const {}
  };
  sweep(problem, BlockPlan(problem), {}, [&](std::size_t, std::span<const std::size_t> rows) {
    State state{problem.scorer, cutoff, fill, simd::active(), {}};
    for (std::size_t row : rows) state.row_out.push_back(out + row * columns);
    return state;
  });
}

template <class T>
void cpdist_as(const Problem& problem, double cutoff, double fill, T* out) {
  const Scorer& scorer = problem.scorer;
  constexpr std::size_t kPerTask = 64;
  std::size_t count = problem.queries.size();
  FirstFailure failure;
  problem.pool.for_each((count + kPerTask - 1) / kPerTask, [&](std::size_t t) {
    for (std::size_t i = t * kPerTask; i < std::min(count, (t + 1) * kPerTask); ++i) {
      problem.pool.check();
      // (i, i) come in row-major order as i does.
      bool scored = failure.attempt(i, [&] {
        std::optional<double> s = scorer.score(i, i, cutoff);
        out[i] = static_cast<T>(s && scorer.passes(*s, cutoff) ? *s : fill);
      });
      if (!scored) return;
    }
  });
  failure.rethrow();
}

template <class T>
void topk_as(const Problem& problem, std::size_t k, double cutoff, std::int64_t* indices,
             T* scores) {
  const Scorer& scorer = problem.scorer;
  struct State {
    static constexpr bool rising() { return true; }
    const Scorer& scorer;
    std::span<const std::size_t> rows;
    double cutoff;
    std::int64_t* indices;
    T* scores;
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

}  // namespace

void cdist(const Problem& problem, double cutoff, double fill, Output out) {
  check_lengths(problem.scorer, PairShape::All);
  out.visit([&](auto* data) { cdist_as(problem, cutoff, fill, data); });
}

void cpdist(const Problem& problem, double cutoff, double fill, Output out) {
  check_lengths(problem.scorer, PairShape::Diagonal);
  out.visit([&](auto* data) { cpdist_as(problem, cutoff, fill, data); });
}

void topk(const Problem& problem, std::size_t k, double cutoff, std::int64_t* indices,
          Output scores) {
  if (k == 0) return;  // nothing to find, nor to fail on
  check_lengths(problem.scorer, PairShape::All);
  scores.visit_scores([&](auto* data) { topk_as(problem, k, cutoff, indices, data); });
}

PairList pairs(const Problem& problem, bool self, double cutoff) {
  const Scorer& scorer = problem.scorer;
  check_lengths(scorer, self ? PairShape::UpperTriangle : PairShape::All);
  using Found = PairList::Found;
  BlockPlan plan(problem);
  // A symmetric scorer visiting by length scores each pair of a self-join
  // once, from the row that comes first in the plan, and reports it as (i, j)
  // with i < j, whichever of them was the row.
  bool triangle = self && scorer.symmetric() && scorer.sorts_by_length();
  std::vector<std::size_t> rank;
  if (triangle) {
    rank.resize(plan.order().size());
    for (std::size_t p = 0; p < rank.size(); ++p) rank[plan.order()[p]] = p;
  }
  PairList out;
  out.blocks_.resize(plan.blocks());
  struct State {
    static constexpr bool rising() { return false; }
    const Scorer& scorer;
    std::span<const std::size_t> rows;
    double cutoff;
    bool self;
    const std::vector<std::size_t>& rank;  // empty unless a triangle
    std::vector<Found>& found;
    void bounds(double* b) const { std::fill(b, b + rows.size(), cutoff); }
    void take(std::size_t j, const double* s) {
      for (std::size_t r = 0; r < rows.size(); ++r) {
        std::size_t i = rows[r];
        if (!scorer.passes(s[r], cutoff)) continue;
        if (!rank.empty()) {
          if (rank[j] > rank[i])
            found.push_back({std::int64_t(std::min(i, j)), std::int64_t(std::max(i, j)), s[r]});
        } else if (!self || j > i) {
          found.push_back({std::int64_t(i), std::int64_t(j), s[r]});
        }
      }
    }
    void finish() {}
  };
  auto after_first_row = [](std::span<const std::size_t> rows) {
    return *std::min_element(rows.begin(), rows.end()) + 1;
  };
  sweep(problem, plan, {true, self ? +after_first_row : nullptr, triangle},
        [&](std::size_t b, std::span<const std::size_t> rows) {
          return State{scorer, rows, cutoff, self, rank, out.blocks_[b]};
        });
  out.order();
  return out;
}

// Every row's pairs side by side, by choice, as the outputs want them: a
// triangle's rows are spread over many blocks, so all are gathered and sorted.
void PairList::order() {
  std::size_t total = 0;
  for (const std::vector<Found>& block : blocks_) total += block.size();
  found_.reserve(total);
  for (std::vector<Found>& block : blocks_) {
    found_.insert(found_.end(), block.begin(), block.end());
    std::vector<Found>().swap(block);
  }
  blocks_.clear();
  cancel::Meter meter;
  std::sort(found_.begin(), found_.end(),
            cancel::metered(meter, [](const Found& a, const Found& b) {
              return a.i != b.i ? a.i < b.i : a.j < b.j;
            }));
}

template <class T>
void PairList::write_as(std::int64_t* first, std::int64_t* second, T* scores) const {
  cancel::Meter meter;
  for (std::size_t n = 0; n < found_.size(); ++n) {
    meter.add();
    first[n] = found_[n].i;
    second[n] = found_[n].j;
    scores[n] = static_cast<T>(found_[n].score);
  }
}

void PairList::write(std::int64_t* first, std::int64_t* second, Output scores) const {
  scores.visit_scores([&](auto* data) { write_as(first, second, data); });
}

}  // namespace kivo::batch
