#include "algo/shingles.hpp"

#include "text/char_class.hpp"
#include "text/utf8.hpp"

namespace kivo {

std::size_t ShingleHash::operator()(std::string_view shingle) const noexcept {
  return keyed_hash(k0, k1, shingle);
}

ShingleSet shingle_set(std::string_view text, std::uint64_t n) {
  std::size_t chars = utf8::count_chars(text);
  ShingleSet set;
  set.reserve(shingling::count(chars, n));
  shingling::for_each(text, chars, n, [&](std::string_view s) { set.insert(s); });
  return set;
}

ShingleSet word_set(std::string_view text) {
  ShingleSet words;
  std::size_t start = 0;  // where the current word began, or pos between words
  std::size_t pos = 0;
  while (pos < text.size()) {
    for (std::size_t end = cancel::piece_end(pos, text.size()); pos < end;) {
      std::size_t space = whitespace_length(text, pos);
      if (space == 0) {
        ++pos;
        continue;
      }
      if (pos > start) words.insert(text.substr(start, pos - start));
      pos += space;
      start = pos;
    }
  }
  if (pos > start) words.insert(text.substr(start));
  return words;
}

}  // namespace kivo
