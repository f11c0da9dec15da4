// Shingling: character windows and words, the sets Jaccard compares and the
// windows MinHash and SimHash hash. Shingles are views into the caller's text;
// they live as long as it does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <unordered_set>

#include "base/cancel.hpp"
#include "base/error.hpp"
#include "base/hashing.hpp"

namespace kivo {

// Hashes shingles under a key drawn at random for each set, so that crafted
// texts cannot pile many shingles onto one bucket chain. No result depends on
// the key.
struct ShingleHash {
  std::uint64_t k0 = random_table_key();
  std::uint64_t k1 = random_table_key();
  std::size_t operator()(std::string_view shingle) const noexcept;
};

using ShingleSet = std::unordered_set<std::string_view, ShingleHash>;

// Windows of n characters; a text shorter than n is its own single shingle.
// n == 0 is an internal fault ("window size must be non-zero").
ShingleSet shingle_set(std::string_view text, std::uint64_t n);

// Maximal runs of non-whitespace characters.
ShingleSet word_set(std::string_view text);

// The one definition of character shingling. `chars` is the text's character
// count.
namespace shingling {

// Number of shingles (repeats included) a text of `chars` characters yields.
// Written so that it cannot overflow for any n.
inline std::size_t count(std::size_t chars, std::uint64_t n) {
  return chars < n ? 1 : chars - n + 1;
}

// Bytes taken by the UTF-8 sequence that starts with `lead`.
inline std::size_t width(unsigned char lead) {
  return lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
}

// Calls visit(shingle) for every window of n characters in text order, with
// repeats; a text shorter than n is visited whole, once.
template <class Visit>
void for_each(std::string_view text, std::size_t chars, std::uint64_t n, Visit&& visit) {
  if (chars < n) {
    visit(text);
    return;
  }
  if (n == 0) throw InternalFault("window size must be non-zero");
  std::size_t count = chars - std::size_t(n) + 1;  // windows
  if (chars == text.size()) {                      // ASCII: one byte per character
    for (std::size_t i = 0; i < count;) {
      for (std::size_t end = cancel::piece_end(i, count); i < end; ++i) visit(text.substr(i, n));
    }
    return;
  }
  // Slide both ends of the window forward one character at a time.
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  std::size_t begin = 0;
  std::size_t end = 0;
  for (std::uint64_t k = 0; k < n; ++k) end += width(s[end]);
  visit(text.substr(0, end));
  for (std::size_t w = 1; w < count;) {
    for (std::size_t last = cancel::piece_end(w, count); w < last; ++w) {
      begin += width(s[begin]);
      end += width(s[end]);
      visit(text.substr(begin, end - begin));
    }
  }
}

}  // namespace shingling

}  // namespace kivo
