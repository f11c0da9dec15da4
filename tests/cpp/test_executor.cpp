// The batch executor: every task of every loop once, on threads kept for the
// call; the first exception only after every thread has returned; the
// hand-out stopped by a failure or a cancel.
#include <atomic>
#include <chrono>
#include <cstddef>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "batch/executor.hpp"
#include "harness.hpp"

using namespace kivo::batch;

namespace {

const std::atomic<bool> kNever{false};

void linger() {
  std::this_thread::sleep_for(std::chrono::microseconds(50));
}

}  // namespace

TEST(pool_runs_each_task_of_each_loop_once_on_at_most_its_workers) {
  for (unsigned workers : {1u, 2u, 3u, 8u}) {
    Pool pool(workers, kNever);
    std::mutex mutex;
    std::set<std::thread::id> threads;
    for (std::size_t count : {0, 1, 2, 3, 7, 100, 2000, 1, 5}) {
      std::vector<std::atomic<int>> runs(count);
      pool.for_each(count, [&](std::size_t t) {
        runs[t].fetch_add(1);
        std::lock_guard lock(mutex);
        threads.insert(std::this_thread::get_id());
      });
      for (const std::atomic<int>& n : runs) CHECK_EQ(n.load(), 1);
    }
    CHECK(threads.size() <= workers);
  }
}

TEST(pool_rethrows_the_first_exception_after_every_thread_returns) {
  Pool pool(4, kNever);
  std::atomic<int> inside{0}, started{0};
  std::string caught;
  try {
    pool.for_each(100000, [&](std::size_t t) {
      ++started;
      ++inside;
      linger();
      --inside;
      if (t == 5) throw std::runtime_error("task 5");
    });
  } catch (const std::runtime_error& error) {
    caught = error.what();
  }
  CHECK_EQ(caught, std::string("task 5"));
  CHECK_EQ(inside.load(), 0);
  CHECK(started.load() < 1000);
  std::atomic<int> after{0};
  pool.for_each(50, [&](std::size_t) { ++after; });
  CHECK_EQ(after.load(), 50);
}

TEST(pool_stops_handing_out_once_cancelled) {
  std::atomic<bool> cancel{false};
  Pool pool(3, cancel);
  std::atomic<int> started{0};
  bool cancelled = false;
  try {
    pool.for_each(100000, [&](std::size_t t) {
      ++started;
      if (t == 10) cancel = true;
      linger();
    });
  } catch (const Cancelled&) {
    cancelled = true;
  }
  CHECK(cancelled);
  CHECK(started.load() < 1000);
}

TEST(pool_runs_a_loop_posted_from_a_task_on_that_thread) {
  Pool pool(3, kNever);
  std::vector<std::atomic<int>> runs(8 * 8);
  pool.for_each(8, [&](std::size_t outer) {
    std::thread::id self = std::this_thread::get_id();
    pool.for_each(8, [&](std::size_t inner) {
      if (std::this_thread::get_id() == self) runs[outer * 8 + inner].fetch_add(1);
    });
  });
  for (const std::atomic<int>& n : runs) CHECK_EQ(n.load(), 1);
}

TEST(job_rethrows_what_its_body_threw_and_its_destructor_cancels) {
  Job failing(2, [](const Pool& pool) {
    pool.for_each(4, [](std::size_t t) {
      if (t == 2) throw std::runtime_error("body");
    });
  });
  std::string caught;
  try {
    failing.finish();
  } catch (const std::runtime_error& error) {
    caught = error.what();
  }
  CHECK_EQ(caught, std::string("body"));
  std::atomic<int> started{0};
  {
    Job endless(2, [&](const Pool& pool) {
      pool.for_each(10000000, [&](std::size_t) {
        ++started;
        linger();
      });
    });
    while (started.load() == 0) std::this_thread::yield();
  }
  CHECK(started.load() < 10000000);
}
