// Running one batch call: a coordinator thread runs the call's body while the
// calling thread waits (and may cancel); the body spreads its loops over the
// call's pool of workers, started when a loop first needs them and kept
// until the body returns. The layer knows nothing of Python: the caller
// decides what to do between waits.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "base/cancel.hpp"

namespace kivo::batch {

// Thrown inside a body once its job has been cancelled: by the pool between
// tasks, and by the polls of the kernels within them (every thread of a job
// has the job's flag installed while it works for it).
using Cancelled = kivo::Cancelled;

// The workers of one call and its cancel flag.
class Pool {
 public:
  // Up to `workers` threads, the one that calls for_each() included.
  Pool(unsigned workers, const std::atomic<bool>& cancel);
  Pool(const Pool&) = delete;
  Pool& operator=(const Pool&) = delete;
  // Stops and joins the threads it started.
  ~Pool();

  bool cancelled() const { return cancel_.load(std::memory_order_relaxed); }
  const std::atomic<bool>& flag() const { return cancel_; }
  // Long loops call this between steps.
  void check() const {
    if (cancelled()) throw Cancelled{};
  }

  // Runs task(t) for every t in [0, count), handed out one at a time to up to
  // `workers` threads (the caller's included). The first exception stops the
  // hand-out and is rethrown once every thread has returned. A thread that
  // cannot be started leaves its share to the others. Called from inside a
  // task, the loop runs on that task's thread alone.
  void for_each(std::size_t count, const std::function<void(std::size_t)>& task) const;

 private:
  class Crew;

  unsigned workers_;
  const std::atomic<bool>& cancel_;
  std::unique_ptr<Crew> crew_;
};

// A body running on its own thread (or, when no thread can be started, on
// the constructing one). The destructor cancels and joins.
class Job {
 public:
  Job(unsigned workers, std::function<void(const Pool&)> body);
  Job(const Job&) = delete;
  Job& operator=(const Job&) = delete;
  ~Job();

  // True once the body has returned or thrown and its pool has stopped.
  bool wait_for(std::chrono::milliseconds timeout);
  void cancel() { cancel_.store(true, std::memory_order_relaxed); }
  // Waits for the end and rethrows what the body threw.
  void finish();

 private:
  void run();

  std::atomic<bool> cancel_{false};
  unsigned workers_;
  std::function<void(const Pool&)> body_;
  std::mutex mutex_;
  std::condition_variable done_changed_;
  bool done_ = false;
  std::exception_ptr error_;
  std::thread thread_;
};

// Every core when asked for -1; never more than `tasks`.
unsigned worker_count(long requested, std::size_t tasks);

}  // namespace kivo::batch
