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

std::size_t task_count(std::size_t texts) {
  return (texts + kTextsPerTask - 1) / kTextsPerTask;
}

// f(t, begin, end) for each task t, whose texts are [begin, end).
template <class F>
void for_each_task(std::size_t count, const Pool& pool, F&& f) {
  pool.for_each(task_count(count), [&](std::size_t t) {
    f(t, t * kTextsPerTask, std::min(count, (t + 1) * kTextsPerTask));
  });
}

template <class F>
void for_each_text(std::size_t count, const Pool& pool, F&& f) {
  for_each_task(count, pool, [&](std::size_t, std::size_t begin, std::size_t end) {
    for (std::size_t i = begin; i < end; ++i) f(i);
  });
}

// Appends the UTF-8 encoding of the text's code units to `out`.
void append_utf8(const SourceText& source, std::string& out) {
  visit_units(source.units, [&](auto units) {
    cancel::Meter meter;
    for (auto unit : units) {
      meter.add();
      utf8::append(out, char32_t(unit));
    }
  });
}

}  // namespace

std::string_view utf8_of(const SourceText& source, std::string& buffer) {
  if (source.utf8.data() != nullptr) return source.utf8;
  buffer.clear();
  append_utf8(source, buffer);
  return buffer;
}

Texts::Texts(std::vector<SourceText> sources, const Processor& processor, TextNeeds needs,
             const Pool& pool)
    : size_(sources.size()), offsets_(sources.size() + 1, 0) {
  bool processed = bool(processor);
  if (processed || needs.utf8) {
    utf8_.resize(size_);
    // What the call makes of a task's texts (processed, or encoded from code
    // units) goes into one string: a cancelled call then frees a few large
    // blocks instead of a block per text. Texts that are their own UTF-8 are
    // read in place.
    owned_.resize(task_count(size_));
    for_each_task(size_, pool, [&](std::size_t t, std::size_t begin, std::size_t end) {
      std::string& out = owned_[t];
      thread_local std::string source;
      std::size_t ends[kTextsPerTask];
      for (std::size_t i = begin; i < end; ++i) {
        if (processed) {
          out += processor(utf8_of(sources[i], source));
        } else if (sources[i].utf8.data() == nullptr) {
          append_utf8(sources[i], out);
        }
        ends[i - begin] = out.size();
      }
      for (std::size_t i = begin, start = 0; i < end; start = ends[i - begin], ++i) {
        bool own = processed || sources[i].utf8.data() == nullptr;
        utf8_[i] =
            own ? std::string_view(out).substr(start, ends[i - begin] - start) : sources[i].utf8;
      }
    });
  }
  if (!needs.code_points) return;
  // Texts borrowed as UTF-8 alone (Arrow's) are decoded as processed ones are.
  auto decoded = [&](std::size_t i) { return processed || sources[i].units.data == nullptr; };
  auto utf8_text = [&](std::size_t i) { return processed ? utf8_[i] : sources[i].utf8; };
  for (std::size_t i = 0; i < size_; ++i) {
    std::size_t n = decoded(i) ? utf8::count_chars(utf8_text(i)) : sources[i].units.length;
    offsets_[i + 1] = offsets_[i] + n;
    longest_ = std::max(longest_, n);
  }
  code_points_.reset(new char32_t[offsets_[size_]]);
  for_each_text(size_, pool, [&](std::size_t i) {
    char32_t* out = code_points_.get() + offsets_[i];
    cancel::Meter meter;
    if (decoded(i)) {
      std::string_view text = utf8_text(i);
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
