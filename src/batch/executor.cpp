#include "batch/executor.hpp"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace kivo::batch {

namespace {

// One for_each: its tasks handed out one at a time, and the first exception.
class Loop {
 public:
  Loop(std::size_t count, const std::function<void(std::size_t)>& task, const Pool& pool)
      : count_(count), task_(task), pool_(pool) {}

  // Takes tasks until none is left, one has thrown or the job is cancelled.
  void work() noexcept {
    cancel::Scope scope(pool_.flag());
    try {
      for (std::size_t t; !failed_.load(std::memory_order_relaxed) &&
                          (t = next_.fetch_add(1, std::memory_order_relaxed)) < count_;) {
        pool_.check();
        task_(t);
      }
    } catch (...) {
      std::lock_guard lock(error_mutex_);
      if (!error_) error_ = std::current_exception();
      failed_.store(true, std::memory_order_relaxed);
    }
  }
  void rethrow() const {
    if (error_) std::rethrow_exception(error_);
  }

  // Places left for helpers, and helpers at work: kept under the crew's lock.
  std::size_t seats = 0;
  std::size_t inside = 0;

 private:
  std::size_t count_;
  const std::function<void(std::size_t)>& task_;
  const Pool& pool_;
  std::atomic<std::size_t> next_{0};
  std::atomic<bool> failed_{false};
  std::mutex error_mutex_;
  std::exception_ptr error_;
};

}  // namespace

// The pool's threads besides the caller's: each waits for a loop to be
// posted, works on it, and waits again, until the pool stops.
class Pool::Crew {
 public:
  Crew() = default;
  Crew(const Crew&) = delete;
  Crew& operator=(const Crew&) = delete;
  ~Crew() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& thread : threads_) thread.join();
  }

  // Works on `loop` with up to `helpers` of the crew, and returns once every
  // helper has left it. A loop posted from inside a task runs on its own.
  void run(Loop& loop, std::size_t helpers) {
    if (!post(loop, helpers)) {
      loop.work();
      return;
    }
    wake_.notify_all();
    loop.work();
    std::unique_lock lock(mutex_);
    loop_ = nullptr;  // no helper joins once the caller is through
    left_.wait(lock, [&] { return loop.inside == 0; });
    busy_ = false;
  }

 private:
  bool post(Loop& loop, std::size_t helpers) {
    std::lock_guard lock(mutex_);
    if (busy_) return false;
    start(helpers);
    loop.seats = std::min(helpers, threads_.size());
    loop_ = &loop;
    busy_ = true;
    ++posted_;
    return true;
  }

  // Under the lock. Fewer threads than wanted when the system refuses one.
  void start(std::size_t wanted) {
    while (threads_.size() < wanted && !refused_) {
      try {
        threads_.emplace_back([this] { serve(); });
      } catch (...) {
        refused_ = true;
      }
    }
  }

  void serve() {
    std::uint64_t seen = 0;
    std::unique_lock lock(mutex_);
    for (;;) {
      wake_.wait(lock, [&] { return stopping_ || (loop_ != nullptr && posted_ != seen); });
      if (stopping_) return;
      seen = posted_;
      Loop& loop = *loop_;
      if (loop.seats == 0) continue;
      --loop.seats;
      ++loop.inside;
      lock.unlock();
      loop.work();
      lock.lock();
      if (--loop.inside == 0) left_.notify_one();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;  // a loop was posted, or the pool stops
  std::condition_variable left_;  // a helper left its loop
  Loop* loop_ = nullptr;          // the loop helpers may join
  std::uint64_t posted_ = 0;      // loops posted so far
  bool busy_ = false;             // a loop runs (till its last helper leaves)
  bool stopping_ = false;
  bool refused_ = false;  // a thread could not be started: no more are tried
  std::vector<std::thread> threads_;
};

Pool::Pool(unsigned workers, const std::atomic<bool>& cancel)
    : workers_(workers), cancel_(cancel), crew_(workers > 1 ? std::make_unique<Crew>() : nullptr) {}

Pool::~Pool() = default;

void Pool::for_each(std::size_t count, const std::function<void(std::size_t)>& task) const {
  Loop loop(count, task, *this);
  std::size_t threads = std::min<std::size_t>(workers_, count);
  if (threads > 1) {
    crew_->run(loop, threads - 1);
  } else {
    loop.work();
  }
  loop.rethrow();
}

Job::Job(unsigned workers, std::function<void(const Pool&)> body)
    : workers_(workers), body_(std::move(body)) {
  try {
    thread_ = std::thread([this] { run(); });
  } catch (...) {
    run();  // no thread to spare: the body runs here, uncancellable
  }
}

Job::~Job() {
  if (thread_.joinable()) {
    cancel();
    thread_.join();
  }
}

void Job::run() {
  std::exception_ptr error;
  cancel::Scope scope(cancel_);
  try {
    Pool pool(workers_, cancel_);
    body_(pool);
  } catch (...) {
    error = std::current_exception();
  }
  std::lock_guard lock(mutex_);
  error_ = error;
  done_ = true;
  done_changed_.notify_all();
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
      requested == -1 ? std::max(1u, std::thread::hardware_concurrency()) : std::size_t(requested);
  return unsigned(std::clamp<std::size_t>(std::min(wanted, tasks), 1, 1024));
}

}  // namespace kivo::batch
