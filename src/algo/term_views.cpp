#include "algo/term_views.hpp"

#include <array>

#include "text/char_class.hpp"
#include "text/tokenizer.hpp"
#include "text/utf8.hpp"

namespace kivo {

namespace {

// ASCII bytes that end a term: whitespace and ASCII punctuation.
constexpr std::array<bool, 128> kSeparator = [] {
  std::array<bool, 128> table{};
  for (char32_t c = 0; c < 128; ++c) table[c] = is_whitespace(c) || is_ascii_punctuation(c);
  return table;
}();

}  // namespace

TermViews::TermViews(std::string_view text) {
  if (!utf8::is_ascii(text)) {
    owned_ = tokenize_terms(text);
    views_.assign(owned_.begin(), owned_.end());
    return;
  }
  lowered_.resize(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    lowered_[i] = (c >= 'A' && c <= 'Z') ? char(c + ('a' - 'A')) : c;
  }
  views_.reserve(text.size() / 4 + 1);
  std::string_view lowered = lowered_;
  std::size_t start = 0;
  for (std::size_t i = 0; i < lowered.size(); ++i) {
    if (kSeparator[static_cast<unsigned char>(lowered[i])]) {
      if (i > start) views_.push_back(lowered.substr(start, i - start));
      start = i + 1;
    }
  }
  if (lowered.size() > start) views_.push_back(lowered.substr(start));
}

}  // namespace kivo
