#include "batch/texts.hpp"

#include <algorithm>

#include "base/cancel.hpp"
#include "text/utf8.hpp"

namespace kivo::batch {

namespace {

// Texts handed to one task at a time: enough work per task to pay for the
// hand-out, enough tasks to spread.
constexpr std::size_t kTextsPerTask = 256;
// Code units widened at a time between steps counted for cancellation.
constexpr std::size_t kUnitsPerCopy = cancel::kStepsPerPoll;

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

Texts::Texts(std::vector<SourceText> sources, const Processor& processor, TextNeeds needs,
             const Pool& pool)
    : size_(sources.size()), offsets_(sources.size() + 1, 0) {
  bool processed = bool(processor);
  if (processed || needs.utf8) utf8_.resize(size_);
  if (processed) {
    processed_.resize(size_);
    for_each_text(size_, pool, [&](std::size_t i) {
      processed_[i] = processor(sources[i].utf8);
      utf8_[i] = processed_[i];
    });
  } else if (needs.utf8) {
    for (std::size_t i = 0; i < size_; ++i) utf8_[i] = sources[i].utf8;
  }
  if (!needs.code_points) return;
  for (std::size_t i = 0; i < size_; ++i) {
    std::size_t n = count_chars(sources[i], processed ? &processed_[i] : nullptr);
    offsets_[i + 1] = offsets_[i] + n;
    longest_ = std::max(longest_, n);
  }
  code_points_.reset(new char32_t[offsets_[size_]]);
  for_each_text(size_, pool, [&](std::size_t i) {
    char32_t* out = code_points_.get() + offsets_[i];
    cancel::Meter meter;
    if (processed) {
      std::string_view text = processed_[i];
      for (std::size_t pos = 0; pos < text.size();) {
        meter.add();
        *out++ = utf8::next(text, pos);
      }
    } else {
      visit_units(sources[i].units, [&](auto units) {
        for (std::size_t at = 0; at < units.size(); at += kUnitsPerCopy) {
          auto piece = units.subspan(at, std::min(kUnitsPerCopy, units.size() - at));
          meter.add(piece.size());
          std::copy(piece.begin(), piece.end(), out + at);
        }
      });
    }
  });
}

}  // namespace kivo::batch
