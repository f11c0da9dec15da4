// Terms for BM25 and TF-IDF: pieces between whitespace and ASCII punctuation,
// each lowercased on its own.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "text/char_class.hpp"

namespace kivo {

// The ASCII bytes that end a term: whitespace and ASCII punctuation. Every
// other separator is a multi-byte whitespace character.
inline constexpr std::array<bool, 128> kAsciiTermSeparator = [] {
  std::array<bool, 128> table{};
  for (char32_t c = 0; c < 128; ++c) table[c] = is_whitespace(c) || is_ascii_punctuation(c);
  return table;
}();

std::vector<std::string> tokenize_terms(std::string_view text);

}  // namespace kivo
