// Random texts and plain models shared by the kernel tests.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "text/char_span.hpp"

namespace kivo::test {

struct Random {
  std::uint64_t state = 0x9E3779B97F4A7C15ULL;
  std::uint64_t below(std::uint64_t n) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state % n;
  }
};

inline const std::u32string kAlphabets[] = {U"ab", U"abcdefghijklmnopqrstuvwxyz",
                                     U"a\u00e9\u4e2d\U0001F600\U0010FFFF\u0080", U""};

inline std::u32string random_text(Random& rng, std::size_t length, std::u32string_view alphabet) {
  std::u32string text;
  for (std::size_t i = 0; i < length; ++i) {
    // An empty alphabet: many distinct non-ASCII characters, to crowd the table.
    text +=
        alphabet.empty() ? char32_t(0x4E00 + rng.below(300)) : alphabet[rng.below(alphabet.size())];
  }
  return text;
}

// A few edits of `text`, so that some distances are small and bounds matter.
inline std::u32string edited(Random& rng, std::u32string text, std::u32string_view alphabet) {
  for (std::size_t k = rng.below(4); k > 0; --k) {
    std::size_t at = rng.below(text.size() + 1);
    char32_t one = random_text(rng, 1, alphabet)[0];
    if (rng.below(2) == 0 || at == text.size()) {
      text.insert(text.begin() + std::ptrdiff_t(at), one);
    } else {
      text.erase(at, 1);
    }
  }
  return text;
}

inline std::uint32_t plain_levenshtein(std::u32string_view a, std::u32string_view b) {
  std::vector<std::uint32_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = std::uint32_t(j);
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::uint32_t diagonal = row[0];
    row[0] = std::uint32_t(i);
    for (std::size_t j = 1; j <= b.size(); ++j) {
      std::uint32_t above = row[j];
      row[j] = std::min({above + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
      diagonal = above;
    }
  }
  return row[b.size()];
}

// Optimal string alignment: Levenshtein's step, or a swap of two adjacent
// characters at cost 1 where no substring is edited twice.
inline std::uint32_t plain_osa(std::u32string_view a, std::u32string_view b) {
  std::size_t width = b.size() + 1;
  std::vector<std::uint32_t> d((a.size() + 1) * width);
  for (std::size_t i = 0; i <= a.size(); ++i) {
    for (std::size_t j = 0; j <= b.size(); ++j) {
      std::uint32_t& cell = d[i * width + j];
      if (i == 0 || j == 0) {
        cell = std::uint32_t(i + j);
        continue;
      }
      cell = std::min({d[(i - 1) * width + j] + 1, d[i * width + j - 1] + 1,
                       d[(i - 1) * width + j - 1] + (a[i - 1] != b[j - 1])});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
        cell = std::min(cell, d[(i - 2) * width + j - 2] + 1);
      }
    }
  }
  return d.back();
}

inline CharSpan chars_of(std::u32string_view text) {
  return {text.data(), text.size(), 4};
}

}  // namespace kivo::test
