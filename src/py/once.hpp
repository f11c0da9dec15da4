// Values made once per process on first use (the class objects, cached
// Python objects). The first thread to ask makes the value; a thread that
// finds another one making it waits with its thread state released, so the
// maker can take the interpreter lock (or, without one, stop the world for a
// collection) and no wait can deadlock against it. A maker that fails leaves
// nothing behind, and the next call tries again.
#pragma once

#include <Python.h>

#include <atomic>
#include <mutex>

namespace kivo::py {

template <class T>
class Once {
 public:
  // The value, made by make() if no thread has made it yet. make() fails by
  // returning null with an exception set, or by throwing; it must not ask
  // this Once for its value.
  template <class Make>
  T* get(Make&& make) {
    if (T* value = value_.load(std::memory_order_acquire)) return value;
    if (!mutex_.try_lock()) {
      PyThreadState* state = PyEval_SaveThread();
      mutex_.lock();
      PyEval_RestoreThread(state);
    }
    std::lock_guard<std::mutex> guard(mutex_, std::adopt_lock);
    T* value = value_.load(std::memory_order_relaxed);
    if (value == nullptr) {
      value = make();
      value_.store(value, std::memory_order_release);
    }
    return value;
  }

 private:
  std::atomic<T*> value_{nullptr};
  std::mutex mutex_;
};

}  // namespace kivo::py
