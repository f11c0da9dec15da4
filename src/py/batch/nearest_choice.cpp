#include "py/batch/nearest_choice.hpp"

#include <algorithm>
#include <optional>

#include "batch/nearest.hpp"
#include "py/batch/run.hpp"
#include "py/convert.hpp"
#include "py/guard.hpp"
#include "py/py_ref.hpp"

namespace kivo::py {

namespace {

// The walk takes the choices a slice at a time: a slice owns its items, so
// a list that signal handlers (run between slices) change cannot pull an
// item away while it is scored, in any build.
constexpr std::size_t kSliceItems = 4096;
// Word steps of scoring between two signal checks, and the most one choice
// may take with the interpreter lock held: a longer one is scored without
// it, where Ctrl-C cancels the kernel itself.
constexpr std::uint64_t kStepsHeld = std::uint64_t(1) << 20;

}  // namespace

bool walkable_choices(PyObject* choices) {
  return PyList_CheckExact(choices) || PyTuple_CheckExact(choices);
}

PyObject* nearest_choice(const Measure& measure, const CharSpan& query, PyObject* choices,
                         double cutoff, Nulls nulls) {
  batch::NearestChoice search(measure, query, cutoff);
  Ref best;
  bool list = PyList_CheckExact(choices);
  std::uint64_t steps = 0;
  with_note("choices", [&] {
    bool perfect = false;
    // A list's size is read again for each slice: handlers may change it.
    for (std::size_t first = 0; !perfect && first < std::size_t(Py_SIZE(choices));) {
      std::size_t end = std::min(std::size_t(Py_SIZE(choices)), first + kSliceItems);
      Ref slice = check(list ? PyList_GetSlice(choices, Py_ssize_t(first), Py_ssize_t(end))
                             : PyTuple_GetSlice(choices, Py_ssize_t(first), Py_ssize_t(end)));
      PyObject** items = PySequence_Fast_ITEMS(slice.get());
      std::size_t count = std::size_t(Py_SIZE(slice.get()));
      for (std::size_t k = 0; k < count && !perfect; ++k) {
        std::optional<batch::SourceText> text = batch_text_item(items[k], first + k, nulls);
        if (!text) continue;
        std::uint64_t cost = search.cost(text->units.length);
        auto outcome = batch::NearestChoice::Outcome::Passed;
        if (cost > kStepsHeld) {
          run_released(1, [&](const batch::Pool&) { outcome = search.offer(text->units, first + k); });
        } else {
          outcome = search.offer(text->units, first + k);
          steps += cost;
        }
        if (outcome != batch::NearestChoice::Outcome::Passed) {
          best = Ref::borrow(items[k]);
          perfect = outcome == batch::NearestChoice::Outcome::Perfect;
        }
        if (steps > kStepsHeld && !perfect) {
          steps = 0;
          if (PyErr_CheckSignals() < 0) throw ErrorAlreadySet{};
        }
      }
      first += count;
      if (!perfect && PyErr_CheckSignals() < 0) throw ErrorAlreadySet{};
    }
  });
  if (!best) return Py_NewRef(Py_None);
  Ref score = check(measure.distance ? PyLong_FromLongLong(std::int64_t(search.score()))
                                     : PyFloat_FromDouble(search.score()));
  Ref index = check(PyLong_FromSize_t(search.index()));
  return check(PyTuple_Pack(3, best.get(), score.get(), index.get())).release();
}

}  // namespace kivo::py
