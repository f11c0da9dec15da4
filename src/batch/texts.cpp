#include "batch/texts.hpp"

#include <algorithm>

#include "text/utf8.hpp"

namespace kivo::batch {

namespace {

// Texts handed to one task at a time: enough work per task to pay for the
// hand-out, enough tasks to spread.
constexpr std::size_t kTextsPerTask = 256;

template <class F>
void for_each_text(std::size_t count, const Pool& pool, F&& f) {
  std::size_t tasks = (count + kTextsPerTask - 1) / kTextsPerTask;
  pool.for_each(tasks, [&](std::size_t t) {
    std::size_t end = std::min(count, (t + 1) * kTextsPerTask);
    for (std::size_t i = t * kTextsPerTask; i < end; ++i) f(i);
  });
}

std::size_t count_chars(const SourceText& source, const std::string* processed) {
  return processed ? utf8::count_chars(*processed) : source.units.length;
}

}  // namespace

std::string_view utf8_of(const SourceText& source, std::string& buffer) {
  if (source.utf8.data() != nullptr) return source.utf8;
  buffer.clear();
  visit_units(source.units, [&](auto units) {
    for (auto unit : units) utf8::append(buffer, char32_t(unit));
  });
  return buffer;
}

Texts::Texts(std::vector<SourceText> sources, const Processor& processor, TextNeeds needs,
             const Pool& pool)
    : size_(sources.size()), offsets_(sources.size() + 1, 0) {
  bool processed = bool(processor);
  if (processed || needs.utf8) {
    utf8_.resize(size_);
    owned_.resize(size_);
    for_each_text(size_, pool, [&](std::size_t i) {
      if (processed) {
        thread_local std::string source;
        owned_[i] = processor(utf8_of(sources[i], source));
        utf8_[i] = owned_[i];
      } else if (sources[i].utf8.data() != nullptr) {
        utf8_[i] = sources[i].utf8;
      } else {
        utf8_[i] = utf8_of(sources[i], owned_[i]);
      }
    });
  }
  if (!needs.code_points) return;
  for (std::size_t i = 0; i < size_; ++i) {
    std::size_t n = count_chars(sources[i], processed ? &owned_[i] : nullptr);
    offsets_[i + 1] = offsets_[i] + n;
    longest_ = std::max(longest_, n);
  }
  code_points_.resize(offsets_[size_]);
  for_each_text(size_, pool, [&](std::size_t i) {
    char32_t* out = code_points_.data() + offsets_[i];
    if (processed) {
      std::string_view text = owned_[i];
      for (std::size_t pos = 0; pos < text.size();) *out++ = utf8::next(text, pos);
    } else {
      visit_units(sources[i].units,
                  [&](auto units) { std::copy(units.begin(), units.end(), out); });
    }
  });
}

}  // namespace kivo::batch
