// Characters as an array of one fixed-width unit type, kept on the stack when
// short: code units widened from a narrower type, or a UTF-8 text decoded
// into Unicode scalar values.
#pragma once

#include <algorithm>
#include <cstddef>
#include <span>
#include <string_view>
#include <vector>

#include "text/char_span.hpp"
#include "text/utf8.hpp"

namespace kivo {

template <class W>
class WideChars {
 public:
  template <class U>
  explicit WideChars(std::span<const U> units) {
    W* out = reserve(units.size());
    std::copy(units.begin(), units.end(), out);
    view_ = {out, units.size()};
  }

  explicit WideChars(std::string_view text) requires(sizeof(W) == 4) {
    W* out = reserve(text.size());  // a text never holds more characters than bytes
    std::size_t n = 0;
    for (std::size_t pos = 0; pos < text.size();) out[n++] = utf8::next(text, pos);
    view_ = {out, n};
  }

  WideChars(const WideChars&) = delete;
  WideChars& operator=(const WideChars&) = delete;

  std::span<const W> view() const { return view_; }
  CharSpan chars() const { return {view_.data(), view_.size(), sizeof(W)}; }

 private:
  W* reserve(std::size_t n) {
    if (n <= kInline) return inline_;
    heap_.resize(n);
    return heap_.data();
  }

  static constexpr std::size_t kInline = 128;
  W inline_[kInline];
  std::vector<W> heap_;
  std::span<const W> view_;
};

// A UTF-8 text decoded into scalar values.
using CodePoints = WideChars<char32_t>;

// Calls f with a UTF-8 text as code units, one per character: ASCII text is
// its own, read in place; other text is decoded once into code points.
template <class F>
decltype(auto) with_code_units(std::string_view text, F&& f) {
  if (utf8::is_ascii(text)) return f(CharSpan{text.data(), text.size(), 1});
  CodePoints decoded(text);
  return f(decoded.chars());
}

}  // namespace kivo
