// A text decoded into Unicode scalar values, kept on the stack when short.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>
#include <vector>

#include "text/utf8.hpp"

namespace kivo {

class CodePoints {
 public:
  explicit CodePoints(std::string_view text) {
    // A text never holds more characters than bytes.
    char32_t* out = inline_;
    if (text.size() > kInline) {
      heap_.resize(text.size());
      out = heap_.data();
    }
    std::size_t n = 0;
    for (std::size_t pos = 0; pos < text.size();) out[n++] = utf8::next(text, pos);
    view_ = {out, n};
  }
  CodePoints(const CodePoints&) = delete;
  CodePoints& operator=(const CodePoints&) = delete;

  std::span<const char32_t> view() const { return view_; }

 private:
  static constexpr std::size_t kInline = 128;
  char32_t inline_[kInline];
  std::vector<char32_t> heap_;
  std::span<const char32_t> view_;
};

}  // namespace kivo
