// The texts of one batch call, each read once: the caller's own UTF-8 and
// code units borrowed as they are, or the processor's output owned here; the
// code points decoded once for the measures that compare characters.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "batch/executor.hpp"
#include "text/char_span.hpp"

namespace kivo::batch {

// One input text as the binding found it: its code units, and its UTF-8
// where the binding holds that too (data null otherwise).
struct SourceText {
  std::string_view utf8;
  CharSpan units;
};

// The text's UTF-8: its own, or encoded from its code units into `buffer`.
std::string_view utf8_of(const SourceText& source, std::string& buffer);

// Applied once per text, in the workers.
using Processor = std::function<std::string(std::string_view)>;

// Which forms of the texts a measure reads.
struct TextNeeds {
  bool utf8 = false;
  bool code_points = false;
};

class Texts {
 public:
  // Processes (when `processor` is set) and decodes the sources on the pool.
  Texts(std::vector<SourceText> sources, const Processor& processor, TextNeeds needs,
        const Pool& pool);
  Texts(const Texts&) = delete;
  Texts& operator=(const Texts&) = delete;

  std::size_t size() const { return size_; }
  std::string_view utf8(std::size_t i) const { return utf8_[i]; }
  std::u32string_view chars(std::size_t i) const {
    return {code_points_.get() + offsets_[i], offsets_[i + 1] - offsets_[i]};
  }
  std::size_t length(std::size_t i) const { return offsets_[i + 1] - offsets_[i]; }
  // The longest text, in characters (0 when code points were not asked for).
  std::size_t longest() const { return longest_; }

 private:
  std::size_t size_;
  std::vector<std::string> owned_;  // processed or encoded texts, one string per task
  std::vector<std::string_view> utf8_;
  // Left uninitialised until each text's own task decodes into it: clearing
  // a long text's share first would be a pass that cannot be cancelled.
  std::unique_ptr<char32_t[]> code_points_;
  std::vector<std::size_t> offsets_;
  std::size_t longest_ = 0;
};

}  // namespace kivo::batch
