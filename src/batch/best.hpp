// A row's k best choices so far, for the operations that keep only those.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "batch/scorer.hpp"

namespace kivo::batch {

// A row's k best so far (k > 0), the worst on top of a heap.
class Best {
 public:
  Best(const Scorer& scorer, std::size_t k, std::size_t columns) : before_{&scorer}, k_(k) {
    entries_.reserve(std::min(k, columns));
  }

  bool full() const { return entries_.size() == k_; }
  double worst() const { return entries_.front().score; }
  void offer(double score, std::size_t index) {
    Entry entry{score, index};
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
  template <class T>
  void write(std::size_t row, std::int64_t* indices, T* scores) {
    std::sort_heap(entries_.begin(), entries_.end(), before_);
    for (std::size_t r = 0; r < k_; ++r) {
      bool set = r < entries_.size();
      indices[row * k_ + r] = set ? std::int64_t(entries_[r].index) : -1;
      scores[row * k_ + r] = static_cast<T>(set ? entries_[r].score : -1.0);
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

}  // namespace kivo::batch
