// A readers-writer lock that lets a waiting writer in before any reader
// that comes after it. glibc's (behind std::shared_mutex) lets readers in
// while any reader holds the lock, so a steady stream of overlapping readers
// keeps a writer out for good. Meets SharedMutex: std::unique_lock and
// std::shared_lock take it. Not recursive: a holder that asks again while a
// writer waits waits forever.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>

namespace kivo {

class WriterFirstLock {
 public:
  void lock() {
    std::unique_lock guard(mutex_);
    ++writers_waiting_;
    writable_.wait(guard, [&] { return !writing_ && readers_ == 0; });
    --writers_waiting_;
    writing_ = true;
  }
  bool try_lock() {
    std::lock_guard guard(mutex_);
    if (writing_ || readers_ > 0) return false;
    writing_ = true;
    return true;
  }
  void unlock() {
    {
      std::lock_guard guard(mutex_);
      writing_ = false;
    }
    writable_.notify_one();
    readable_.notify_all();
  }

  void lock_shared() {
    std::unique_lock guard(mutex_);
    readable_.wait(guard, [&] { return !writing_ && writers_waiting_ == 0; });
    ++readers_;
  }
  bool try_lock_shared() {
    std::lock_guard guard(mutex_);
    if (writing_ || writers_waiting_ > 0) return false;
    ++readers_;
    return true;
  }
  void unlock_shared() {
    bool last = false;
    {
      std::lock_guard guard(mutex_);
      last = --readers_ == 0;
    }
    if (last) writable_.notify_one();
  }

 private:
  std::mutex mutex_;
  std::condition_variable writable_;
  std::condition_variable readable_;
  std::size_t readers_ = 0;
  std::size_t writers_waiting_ = 0;
  bool writing_ = false;
};

}  // namespace kivo
