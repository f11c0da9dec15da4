#include "py/batch/run.hpp"

#include <Python.h>

#include <chrono>
#include <optional>

#include "batch/scorer.hpp"
#include "py/guard.hpp"

namespace kivo::py {

namespace {

constexpr std::chrono::milliseconds kSlice{20};

// Holds the thread state while the lock is released; takes it back on any exit.
class Released {
 public:
  Released() : state_(PyEval_SaveThread()) {}
  Released(const Released&) = delete;
  Released& operator=(const Released&) = delete;
  ~Released() { PyEval_RestoreThread(state_); }

  // Runs `f` with the lock held.
  template <class F>
  auto holding(F&& f) {
    PyEval_RestoreThread(state_);
    struct Again {
      PyThreadState*& state;
      ~Again() { state = PyEval_SaveThread(); }
    } again{state_};
    return f();
  }

 private:
  PyThreadState* state_;
};

}  // namespace

void run_released(unsigned workers, const std::function<void(const batch::Pool&)>& body,
                  bool small) {
  bool interrupted = false;
  try {
    Released released;
    if (small) {
      const std::atomic<bool> never{false};
      body(batch::Pool(1, never));
      return;
    }
    batch::Job job(workers, body);
    while (!job.wait_for(kSlice)) {
      if (released.holding([] { return PyErr_CheckSignals() < 0; })) {
        interrupted = true;
        job.cancel();
        while (!job.wait_for(kSlice)) {
        }
        break;
      }
    }
    if (!interrupted) job.finish();
  } catch (batch::PairFailure& failed) {
    raise(failed.failure);
  }
  if (interrupted) throw ErrorAlreadySet{};
}

}  // namespace kivo::py
