// The terms of a text (see tokenize_terms) as views. An ASCII text is
// lowercased once into one buffer and cut there, with no string per term;
// any other text goes through tokenize_terms and the views borrow its strings.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kivo {

class TermViews {
 public:
  explicit TermViews(std::string_view text);
  // The views point into this object, so it stays where it was made.
  TermViews(const TermViews&) = delete;
  TermViews& operator=(const TermViews&) = delete;

  const std::vector<std::string_view>& terms() const { return views_; }
  std::size_t size() const { return views_.size(); }
  bool empty() const { return views_.empty(); }

 private:
  std::string lowered_;
  std::vector<std::string> owned_;
  std::vector<std::string_view> views_;
};

}  // namespace kivo
