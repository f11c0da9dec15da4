#include "algo/term_views.hpp"

#include "base/cancel.hpp"
#include "text/char_class.hpp"
#include "text/tokenizer.hpp"
#include "text/utf8.hpp"

namespace kivo {

TermViews::TermViews(std::string_view text) {
  if (!utf8::is_ascii(text)) {
    owned_ = tokenize_terms(text);
    views_.assign(owned_.begin(), owned_.end());
    return;
  }
  lowered_ = text;
  lowercase_ascii_in_place(lowered_);
  views_.reserve(text.size() / 4 + 1);
  std::string_view lowered = lowered_;
  std::size_t start = 0;
  for (std::size_t begin = 0; begin < lowered.size(); begin += cancel::kStepsPerPoll) {
    if (begin != 0) cancel::poll();
    std::size_t end = std::min(lowered.size(), begin + cancel::kStepsPerPoll);
    for (std::size_t i = begin; i < end; ++i) {
      if (kAsciiTermSeparator[static_cast<unsigned char>(lowered[i])]) {
        if (i > start) views_.push_back(lowered.substr(start, i - start));
        start = i + 1;
      }
    }
  }
  if (lowered.size() > start) views_.push_back(lowered.substr(start));
}

}  // namespace kivo
