#include "batch/executor.hpp"

#include <algorithm>
#include <vector>

namespace kivo::batch {

void Pool::for_each(std::size_t count, const std::function<void(std::size_t)>& task) const {
  std::atomic<std::size_t> next{0};
  std::atomic<bool> failed{false};
  std::mutex error_mutex;
  std::exception_ptr error;
  auto run = [&] {
    try {
      for (std::size_t t; !failed.load(std::memory_order_relaxed) &&
                          (t = next.fetch_add(1, std::memory_order_relaxed)) < count;) {
        check();
        task(t);
      }
    } catch (...) {
      std::lock_guard lock(error_mutex);
      if (!error) error = std::current_exception();
      failed.store(true, std::memory_order_relaxed);
    }
  };
  std::size_t helpers = std::min<std::size_t>(workers_, count);
  std::vector<std::thread> threads;
  if (helpers > 1) threads.reserve(helpers - 1);
  try {
    for (std::size_t k = 1; k < helpers; ++k) threads.emplace_back(run);
  } catch (...) {
    // Fewer threads than asked for: the ones running finish the loop.
  }
  run();
  for (std::thread& thread : threads) thread.join();
  if (error) std::rethrow_exception(error);
}

Job::Job(unsigned workers, std::function<void(const Pool&)> body)
    : pool_(workers, cancel_), body_(std::move(body)) {
  thread_ = std::thread([this] {
    std::exception_ptr error;
    try {
      body_(pool_);
    } catch (...) {
      error = std::current_exception();
    }
    std::lock_guard lock(mutex_);
    error_ = error;
    done_ = true;
    done_changed_.notify_all();
  });
}

Job::~Job() {
  if (thread_.joinable()) {
    cancel();
    thread_.join();
  }
}

bool Job::wait_for(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return done_changed_.wait_for(lock, timeout, [this] { return done_; });
}

void Job::finish() {
  if (thread_.joinable()) thread_.join();
  if (error_) std::rethrow_exception(error_);
}

unsigned worker_count(long requested, std::size_t tasks) {
  std::size_t wanted =
      requested > 0 ? std::size_t(requested) : std::max(1u, std::thread::hardware_concurrency());
  return unsigned(std::clamp<std::size_t>(std::min(wanted, tasks), 1, 1024));
}

}  // namespace kivo::batch
