// The choices' characters renumbered densely, for lane blocks: with every
// character below a small alphabet, a block finds a character's row by index
// instead of through a hash table, once per character of every choice for
// every block of queries. Worth it only when choices hold characters beyond
// ASCII (ASCII indexes directly anyway) and several blocks read them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "batch/texts.hpp"

namespace kivo::batch {

class CharIds {
 public:
  // Numbers the characters of `choices` when `wanted` and one of them is
  // not ASCII; otherwise dense() is false and nothing is kept.
  CharIds(const Texts& choices, bool wanted);

  bool dense() const { return !offsets_.empty(); }
  // Every number is below it: ASCII keeps its code point, the other
  // characters of the choices follow, and one last number stands for every
  // character no choice holds.
  std::size_t alphabet() const { return alphabet_; }
  // Choice j in numbers (dense() only).
  std::u32string_view choice(std::size_t j) const {
    return {ids_.data() + offsets_[j], offsets_[j + 1] - offsets_[j]};
  }
  // `text` in numbers, written to `out`.
  std::u32string_view number(std::u32string_view text, std::u32string& out) const;

 private:
  std::size_t alphabet_ = 0;
  std::vector<char32_t> ids_;
  std::vector<std::size_t> offsets_;
  // Each code point's number, 0 for those beyond ASCII that no choice holds:
  // 4.4 MB, which a hash table for a large alphabet would need as well.
  std::vector<char32_t> id_of_;
};

}  // namespace kivo::batch
