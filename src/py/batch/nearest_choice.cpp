#include "py/batch/nearest_choice.hpp"

#include <algorithm>
#include <chrono>
#include <optional>

#include "batch/nearest.hpp"
#include "batch/nearest_weighted.hpp"
#include "py/batch/run.hpp"
#include "py/convert.hpp"
#include "py/guard.hpp"
#include "py/py_ref.hpp"

namespace kivo::py {

namespace {

// The walk holds the interpreter lock, but runs signal handlers every so
// many choices, or word steps of scoring (about a millisecond at most), and
// lets other threads run (see PythonTurns). A choice that alone takes longer
// is scored without the lock, where Ctrl-C cancels the kernel itself.
constexpr std::size_t kWindowItems = 4096;
constexpr std::uint64_t kStepsHeld = std::uint64_t(1) << 20;
// What a choice costs beyond its scoring, in word steps.
constexpr std::uint64_t kStepsPerChoice = 8;
// How far ahead the walk fetches the strs it will read.
constexpr std::size_t kAhead = 8;

// Items [first, end) of a list or tuple, valid until Python code runs next
// (a signal handler, or another thread while the lock is released). With a
// lock, the sequence's own items; free-threaded, a slice owning them, as
// another thread may change a list at any time.
struct Window {
  Ref slice;
  PyObject** items;
  std::size_t count;

  Window(PyObject* sequence, std::size_t first, std::size_t end) {
#ifdef Py_GIL_DISABLED
    slice = check(PyList_CheckExact(sequence)
                      ? PyList_GetSlice(sequence, Py_ssize_t(first), Py_ssize_t(end))
                      : PyTuple_GetSlice(sequence, Py_ssize_t(first), Py_ssize_t(end)));
    items = PySequence_Fast_ITEMS(slice.get());
    count = std::size_t(Py_SIZE(slice.get()));
#else
    items = PySequence_Fast_ITEMS(sequence) + first;
    count = end - first;
#endif
  }
};

// Lets other threads and signal handlers run. A thread waiting for the lock
// asks its holder to drop it only after a whole switch interval without a
// switch; a release sooner is taken straight back before the waiter wakes,
// so a walk that released every millisecond would starve it. The lock goes
// round once it has been held for two intervals; signal handlers run each
// time. Free-threaded, detaching at once lets a stop-the-world pause begin.
class PythonTurns {
 public:
  void take() {
    Clock::time_point now = Clock::now();
    if (now - released_ >= hold_for()) {
      run_released(
          1, [](const batch::Pool&) {}, true);
      released();
    }
    if (PyErr_CheckSignals() < 0) throw ErrorAlreadySet{};
  }
  // The lock was released meanwhile, to score a long choice.
  void released() { released_ = Clock::now(); }

 private:
  using Clock = std::chrono::steady_clock;

  Clock::duration hold_for() {
    if (hold_for_ < Clock::duration::zero()) hold_for_ = two_switch_intervals();
    return hold_for_;
  }

  static Clock::duration two_switch_intervals() {
#ifdef Py_GIL_DISABLED
    return Clock::duration::zero();
#else
    PyObject* get = PySys_GetObject("getswitchinterval");  // borrowed
    Ref interval = get ? Ref::steal(PyObject_CallNoArgs(get)) : Ref();
    double seconds = interval ? PyFloat_AsDouble(interval.get()) : -1;
    if (seconds < 0) {
      PyErr_Clear();
      seconds = 0.005;  // CPython's default
    }
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(2 * std::min(seconds, 1.0)));
#endif
  }

  Clock::time_point released_ = Clock::now();
  Clock::duration hold_for_{-1};  // read when first needed
};

// The characters of a choice, or nothing for a null that `nulls` keeps.
std::optional<CharSpan> choice_text(PyObject* item, std::size_t position, Nulls nulls) {
  // The common case first: a str of one-byte characters, which holds no
  // surrogate to refuse.
  if (PyUnicode_CheckExact(item) && PyUnicode_KIND(item) == PyUnicode_1BYTE_KIND) {
    return CharSpan{PyUnicode_DATA(item), std::size_t(PyUnicode_GET_LENGTH(item)), 1};
  }
  std::optional<batch::SourceText> text = batch_text_item(item, position, nulls);
  if (!text) return std::nullopt;
  return text->units;
}

template <class Search>
PyObject* walk(Search& search, bool distance, PyObject* choices, Nulls nulls) {
  using Outcome = batch::NearestChoice::Outcome;
  Ref best;
  with_note("choices", [&] {
    bool perfect = false;
    std::uint64_t steps = 0;
    PythonTurns turns;
    std::size_t position = 0;
    // A list's size is read again for each window: Python code run between
    // them may change it.
    while (!perfect && position < std::size_t(Py_SIZE(choices))) {
      Window window(choices, position,
                    std::min(std::size_t(Py_SIZE(choices)), position + kWindowItems));
      bool python_ran = false;
      for (std::size_t k = 0; k < window.count && !perfect && !python_ran; ++k, ++position) {
        if (k + kAhead < window.count) __builtin_prefetch(window.items[k + kAhead]);
        PyObject* item = window.items[k];
        std::optional<CharSpan> text = choice_text(item, position, nulls);
        if (!text) continue;
        std::uint64_t cost = search.cost(text->length);
        Outcome outcome = Outcome::Passed;
        if (cost > kStepsHeld) {
          Ref held = Ref::borrow(item);
          run_released(1, [&](const batch::Pool&) { outcome = search.offer(*text, position); });
          turns.released();
          python_ran = true;
        } else {
          outcome = search.offer(*text, position);
          steps += cost + kStepsPerChoice;
        }
        if (outcome != Outcome::Passed) {
          // The last reference to the previous best may be ours: freeing it
          // may run Python code.
          if (best && Py_REFCNT(best.get()) == 1) python_ran = true;
          best = Ref::borrow(item);
          perfect = outcome == Outcome::Perfect;
        }
        if (steps > kStepsHeld && !perfect) {
          steps = 0;
          turns.take();
          python_ran = true;
        }
      }
      if (!perfect && !python_ran && PyErr_CheckSignals() < 0) throw ErrorAlreadySet{};
    }
  });
  if (!best) return Py_NewRef(Py_None);
  Ref score = check(distance ? PyLong_FromLongLong(std::int64_t(search.score()))
                             : PyFloat_FromDouble(search.score()));
  Ref index = check(PyLong_FromSize_t(search.index()));
  return check(PyTuple_Pack(3, best.get(), score.get(), index.get())).release();
}

}  // namespace

bool searched_directly(const Measure& measure, PyObject* choices) {
  bool sequence = PyList_CheckExact(choices) || PyTuple_CheckExact(choices);
  return sequence &&
         (batch::NearestChoice::serves(measure) || batch::NearestWeighted::serves(measure));
}

PyObject* nearest_choice(const Measure& measure, const CharSpan& query, PyObject* choices,
                         double cutoff, Nulls nulls) {
  if (batch::NearestWeighted::serves(measure)) {
    batch::NearestWeighted search(query, cutoff);
    return walk(search, false, choices, nulls);
  }
  batch::NearestChoice search(measure, query, cutoff);
  return walk(search, measure.distance, choices, nulls);
}

}  // namespace kivo::py
