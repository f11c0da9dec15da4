// Nulls skipped: the texts that are not null are scored as a smaller problem
// and its results are spread back to the callers' positions, in place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "batch/output.hpp"
#include "batch/texts.hpp"

namespace kivo::batch {

// The positions kept out of `total`, ascending; every one when none dropped.
class Kept {
 public:
  explicit Kept(std::size_t total) : total_(total) {}
  // Drops the sources at `dropped` (ascending, may repeat) and returns what is left.
  static Kept drop(std::vector<SourceText>& sources, const std::vector<std::size_t>& dropped);

  std::size_t total() const { return total_; }
  std::size_t size() const { return dropped_ ? positions_.size() : total_; }
  // The caller's position of kept text k.
  std::size_t operator[](std::size_t k) const { return dropped_ ? positions_[k] : k; }
  bool all() const { return !dropped_; }
  // Whether each position was kept.
  std::vector<bool> mask() const;

 private:
  std::size_t total_;
  bool dropped_ = false;
  std::vector<std::size_t> positions_;
};

// The ascending union of two ascending position lists.
std::vector<std::size_t> merged(const std::vector<std::size_t>& a,
                                const std::vector<std::size_t>& b);

// A rows.size() x columns.size() matrix at the start of `out` spread to
// rows.total() x columns.total(), NaN where a row or column was dropped.
// `out` holds a floating type.
void spread_matrix(Output out, const Kept& rows, const Kept& columns);

// topk's rows.size() x k results spread to rows.total() rows, -1 in both for
// a dropped row; indices renumbered to the choices' positions.
void spread_rows(std::int64_t* indices, Output scores, std::size_t k, const Kept& rows,
                 const Kept& choices);

// Renumbers indices (-1 stays) to the kept positions.
void renumber(std::int64_t* indices, std::size_t count, const Kept& kept);

}  // namespace kivo::batch
