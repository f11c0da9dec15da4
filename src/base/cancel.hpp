// Stopping a long computation at another thread's request. A batch call's
// threads install the call's cancel flag (cancel::Scope); the long loops of
// the layers below poll it every few thousand steps of work and unwind with
// Cancelled once it is set. A thread with no flag installed, as in every
// single call of kivo, never stops: its loops only count steps.
//
// A poll may throw wherever it stands, so a loop that polls leaves nothing
// half done that outlives the unwinding (thread-local buffers included).
#pragma once

#include <atomic>
#include <cstddef>

namespace kivo {

// Thrown by a poll once the call the thread works for has been cancelled.
struct Cancelled {};

namespace cancel {

// The flag of the call this thread works for; null when there is none.
inline constinit thread_local const std::atomic<bool>* t_flag = nullptr;

// Throws Cancelled when this thread's call has been cancelled.
inline void poll() {
  const std::atomic<bool>* flag = t_flag;
  if (flag != nullptr && flag->load(std::memory_order_relaxed)) [[unlikely]]
    throw Cancelled{};
}

// Installs `flag` on this thread for the scope's lifetime.
class Scope {
 public:
  explicit Scope(const std::atomic<bool>& flag) : previous_(t_flag) { t_flag = &flag; }
  Scope(const Scope&) = delete;
  Scope& operator=(const Scope&) = delete;
  ~Scope() { t_flag = previous_; }

 private:
  const std::atomic<bool>* previous_;
};

// Steps of work between two polls: a step is a few simple operations (a
// character looked at, a word of bits updated), so a poll comes every few
// microseconds and costs a small share of that.
inline constexpr std::size_t kStepsPerPoll = 4096;

// Counts a loop's steps and polls once kStepsPerPoll have gathered: a loop
// that ends sooner never polls.
class Meter {
 public:
  void add(std::size_t steps = 1) {
    steps_ += steps;
    if (steps_ >= kStepsPerPoll) [[unlikely]]
      due();
  }

 private:
  [[gnu::noinline, gnu::cold]] void due() {
    steps_ = 0;
    poll();
  }

  std::size_t steps_ = 0;
};

// Where the piece of a loop that starts at `pos` of [0, count) ends, after a
// poll unless the loop is just starting; for loops too tight to count their
// steps one by one, which run in pieces of kStepsPerPoll steps:
//   for (std::size_t i = 0; i < n;)
//     for (std::size_t end = cancel::piece_end(i, n); i < end; ++i) ...
// A loop whose steps advance further than one still takes one per step.
inline std::size_t piece_end(std::size_t pos, std::size_t count) {
  if (pos != 0) poll();
  return count - pos > kStepsPerPoll ? pos + kStepsPerPoll : count;
}

// A comparison that counts one step per call, for long sorts.
template <class Less>
auto metered(Meter& meter, Less less) {
  return [&meter, less](const auto& a, const auto& b) {
    meter.add();
    return less(a, b);
  };
}

}  // namespace cancel
}  // namespace kivo
