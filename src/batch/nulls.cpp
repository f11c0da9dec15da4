#include "batch/nulls.hpp"

#include <algorithm>
#include <iterator>
#include <limits>

#include "base/error.hpp"

namespace kivo::batch {

namespace {

// Moves row-major elements from their kept place to their spread place,
// last first: a kept element's place never comes after its spread place, so
// nothing unread is overwritten.
template <class T>
void spread(T* data, const Kept& rows, const Kept& columns, T fill) {
  std::vector<bool> kept_column = columns.mask();
  std::vector<bool> kept_row = rows.mask();
  std::size_t width = columns.total();
  std::size_t kept_width = columns.size();
  std::size_t r_kept = rows.size();
  for (std::size_t r = rows.total(); r-- > 0;) {
    T* row = data + r * width;
    if (!kept_row[r]) {
      std::fill(row, row + width, fill);
      continue;
    }
    --r_kept;
    const T* from = data + r_kept * kept_width;
    std::size_t c_kept = kept_width;
    for (std::size_t c = width; c-- > 0;) row[c] = kept_column[c] ? from[--c_kept] : fill;
  }
}

}  // namespace

Kept Kept::drop(std::vector<SourceText>& sources, const std::vector<std::size_t>& dropped) {
  Kept kept(sources.size());
  if (dropped.empty()) return kept;
  kept.dropped_ = true;
  std::size_t out = 0;
  auto next = dropped.begin();
  for (std::size_t p = 0; p < sources.size(); ++p) {
    while (next != dropped.end() && *next < p) ++next;
    if (next != dropped.end() && *next == p) continue;
    kept.positions_.push_back(p);
    sources[out++] = sources[p];
  }
  sources.resize(out);
  return kept;
}

std::vector<bool> Kept::mask() const {
  if (!dropped_) return std::vector<bool>(total_, true);
  std::vector<bool> mask(total_, false);
  for (std::size_t p : positions_) mask[p] = true;
  return mask;
}

std::vector<std::size_t> merged(const std::vector<std::size_t>& a,
                                const std::vector<std::size_t>& b) {
  std::vector<std::size_t> out;
  std::set_union(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(out));
  return out;
}

void spread_matrix(Output out, const Kept& rows, const Kept& columns) {
  if (rows.all() && columns.all()) return;
  out.visit_as<float, double>([&](auto* data) {
    using T = std::remove_pointer_t<decltype(data)>;
    spread(data, rows, columns, std::numeric_limits<T>::quiet_NaN());
  });
}

void renumber(std::int64_t* indices, std::size_t count, const Kept& kept) {
  if (kept.all()) return;
  for (std::size_t i = 0; i < count; ++i) {
    if (indices[i] >= 0) indices[i] = std::int64_t(kept[std::size_t(indices[i])]);
  }
}

void spread_rows(std::int64_t* indices, Output scores, std::size_t k, const Kept& rows,
                 const Kept& choices) {
  renumber(indices, rows.size() * k, choices);
  if (rows.all()) return;
  Kept every(k);
  spread(indices, rows, every, std::int64_t(-1));
  scores.visit_scores([&](auto* data) {
    using T = std::remove_pointer_t<decltype(data)>;
    spread(data, rows, every, T(-1));
  });
}

}  // namespace kivo::batch
