#include "py/batch/run.hpp"

#include <Python.h>

#include <chrono>
#include <exception>
#include <optional>
#include <thread>

#include "batch/scorer.hpp"
#include "py/guard.hpp"

namespace kivo::py {

namespace {

constexpr std::chrono::milliseconds kSlice{20};

// What `f` throws, kept to be rethrown once the thread state is back.
template <class F>
std::exception_ptr captured(F&& f) {
  try {
    f();
  } catch (...) {
    return std::current_exception();
  }
  return nullptr;
}

[[noreturn]] void wait_for_the_process_to_end() {
  for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}

bool interpreter_exiting() {
#if PY_VERSION_HEX >= 0x030D0000
  return Py_IsFinalizing();
#else
  return _Py_IsFinalizing();
#endif
}

// Takes the thread state back. Once the interpreter is exiting, 3.12 and
// 3.13 end a thread that asks for it (any but the one that ends the
// interpreter) by unwinding its stack, through frames of this module that
// cannot be left that way (they hold Python objects, and their guards would
// swallow the unwinding and abort); 3.14 blocks it for good. Such a thread
// runs `stop` (which must not touch Python) and waits for the process to
// end instead.
template <class Stop>
void take_back(PyThreadState* state, bool abandonable, Stop&& stop) {
  if (!abandonable) {
    PyEval_RestoreThread(state);
    return;
  }
  // Asking once the exit has begun: the common case, and under 3.14 the
  // only chance to stop.
  if (interpreter_exiting()) {
    stop();
    wait_for_the_process_to_end();
  }
#ifdef __GLIBCXX__
  try {
    PyEval_RestoreThread(state);
  } catch (...) {  // C code throws nothing: this is the unwinding
    stop();
    wait_for_the_process_to_end();
  }
#else
  PyEval_RestoreThread(state);
#endif
}

}  // namespace

void run_released(unsigned workers, const std::function<void(const batch::Pool&)>& body,
                  bool small) {
  // A call made while the interpreter exits runs on the thread that ends it.
  bool abandonable = !interpreter_exiting();
  PyThreadState* state = PyEval_SaveThread();
  std::exception_ptr error;
  bool interrupted = false;
  if (small) {
    error = captured([&] {
      const std::atomic<bool> never{false};
      body(batch::Pool(1, never));
    });
  } else {
    std::optional<batch::Job> job;
    error = captured([&] { job.emplace(workers, body); });
    auto stop = [&] { job.reset(); };  // cancels and waits
    while (job && !job->wait_for(kSlice)) {
      take_back(state, abandonable, stop);
      interrupted = PyErr_CheckSignals() < 0;
      state = PyEval_SaveThread();
      if (interrupted) {
        stop();
        break;
      }
    }
    if (job && !interrupted) error = captured([&] { job->finish(); });
  }
  take_back(state, abandonable, [] {});
  if (interrupted) throw ErrorAlreadySet{};
  if (!error) return;
  try {
    std::rethrow_exception(error);
  } catch (batch::PairFailure& failed) {
    raise(failed.failure);
  }
}

}  // namespace kivo::py
