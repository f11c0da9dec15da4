#include "algo/edit_script.hpp"

#include <algorithm>
#include <span>

#include "algo/affixes.hpp"
#include "algo/bit_parallel.hpp"
#include "algo/char_map.hpp"
#include "base/bits.hpp"
#include "base/cancel.hpp"

namespace kivo {

namespace {

// Every column's vertical deltas of the Levenshtein table (a down the rows,
// b along the columns), kept so that any cell can be read back: D[i][j] is
// j plus the deltas of column j's first i rows.
class DeltaColumns {
 public:
  template <class C>
  DeltaColumns(std::span<const C> a, std::span<const C> b)
      : words_((a.size() + 63) / 64), columns_(b.size()) {
    if (words_ == 0 || columns_ == 0) return;
    bitpar::BlockMasks masks(a);
    plus_.resize(words_ * columns_);
    minus_.resize(words_ * columns_);
    std::vector<bitpar::Column> state(words_);
    cancel::Meter meter;
    for (std::size_t j = 0; j < columns_; ++j) {
      meter.add(words_);
      const std::uint64_t* eq = masks.get(b[j]);
      std::uint64_t carry_p = 1, carry_n = 0;
      for (std::size_t w = 0; w < words_; ++w) {
        state[w].step(eq[w], carry_p, carry_n);
        plus_[j * words_ + w] = state[w].pv;
        minus_[j * words_ + w] = state[w].mv;
      }
    }
  }

  // D[i][j].
  std::int64_t value(std::size_t i, std::size_t j) const {
    if (i == 0 || j == 0) return std::int64_t(i + j);
    std::int64_t v = std::int64_t(j);
    const std::uint64_t* plus = &plus_[(j - 1) * words_];
    const std::uint64_t* minus = &minus_[(j - 1) * words_];
    std::size_t w = 0;
    for (; (w + 1) * 64 <= i; ++w) {
      v += bits::popcount64(plus[w]);
      v -= bits::popcount64(minus[w]);
    }
    if (i % 64 != 0) {
      std::uint64_t rows = (std::uint64_t(1) << (i % 64)) - 1;
      v += bits::popcount64(plus[w] & rows);
      v -= bits::popcount64(minus[w] & rows);
    }
    return v;
  }

 private:
  std::size_t words_;
  std::size_t columns_;
  std::vector<std::uint64_t> plus_;   // column j - 1's rows whose delta is +1
  std::vector<std::uint64_t> minus_;  // and -1
};

// The steps of the alignment from the start, equal ones included.
template <class C>
std::vector<EditTag> trace(std::span<const C> a, std::span<const C> b) {
  DeltaColumns table(a, b);
  std::vector<EditTag> steps;
  steps.reserve(a.size() + b.size());
  std::size_t i = a.size(), j = b.size();
  std::int64_t here = table.value(i, j);
  cancel::Meter meter;
  while (i > 0 || j > 0) {
    meter.add(16);
    if (i > 0 && j > 0 && a[i - 1] == b[j - 1]) {
      steps.push_back(EditTag::Equal);  // a match never costs the alignment its minimum
      --i, --j;
      continue;
    }
    if (i > 0 && j > 0) {
      std::int64_t diagonal = table.value(i - 1, j - 1);
      if (diagonal + 1 == here) {
        steps.push_back(EditTag::Replace);
        --i, --j;
        here = diagonal;
        continue;
      }
    }
    if (i > 0) {
      std::int64_t above = table.value(i - 1, j);
      if (above + 1 == here) {
        steps.push_back(EditTag::Delete);
        --i;
        here = above;
        continue;
      }
    }
    steps.push_back(EditTag::Insert);
    --j;
    here -= 1;
  }
  std::reverse(steps.begin(), steps.end());
  return steps;
}

std::vector<EditTag> alignment(const CharSpan& a, const CharSpan& b) {
  return visit_units(a, [&](auto x) {
    return visit_units(b, [&](auto y) {
      std::size_t prefix = common_prefix(x, y);
      x = x.subspan(prefix);
      y = y.subspan(prefix);
      std::size_t suffix = common_suffix(x, y);
      x = x.first(x.size() - suffix);
      y = y.first(y.size() - suffix);
      std::vector<EditTag> steps(prefix, EditTag::Equal);
      std::vector<EditTag> middle =
          bitpar::with_one_unit_type(x, y, [](auto p, auto q) { return trace(p, q); });
      steps.insert(steps.end(), middle.begin(), middle.end());
      steps.insert(steps.end(), suffix, EditTag::Equal);
      return steps;
    });
  });
}

}  // namespace

std::vector<EditOp> levenshtein_editops(const CharSpan& a, const CharSpan& b) {
  std::vector<EditOp> out;
  std::size_t i = 0, j = 0;
  for (EditTag tag : alignment(a, b)) {
    if (tag != EditTag::Equal) out.push_back({tag, i, j});
    i += tag != EditTag::Insert;
    j += tag != EditTag::Delete;
  }
  return out;
}

std::vector<Opcode> levenshtein_opcodes(const CharSpan& a, const CharSpan& b) {
  std::vector<Opcode> out;
  std::size_t i = 0, j = 0;
  for (EditTag tag : alignment(a, b)) {
    std::size_t di = tag != EditTag::Insert, dj = tag != EditTag::Delete;
    if (out.empty() || out.back().tag != tag) out.push_back({tag, i, i, j, j});
    out.back().a_end += di;
    out.back().b_end += dj;
    i += di;
    j += dj;
  }
  return out;
}

}  // namespace kivo
