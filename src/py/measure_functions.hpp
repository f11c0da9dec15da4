// Module functions made from rows of the measure table: kivo's own and its
// submodules' two-text measures all bind, score and answer alike.
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <type_traits>
#include <utility>

#include "algo/measures.hpp"
#include "py/batch/run.hpp"
#include "py/binder.hpp"
#include "py/results.hpp"

namespace kivo::py {

// Pairs whose work (the product of their lengths) reaches this are scored
// without the interpreter lock, and Ctrl-C stops them, when the function
// releases it.
inline constexpr std::uint64_t kReleasedWork = std::uint64_t(1) << 22;

inline bool long_work(const CharSpan& a, const CharSpan& b) {
  // Two texts under 2^11 characters each never reach it, and need no division.
  constexpr std::size_t kShort = std::size_t(1) << 11;
  static_assert(std::uint64_t(kShort) * kShort <= kReleasedWork);
  if (a.length < kShort && b.length < kShort) return false;
  return a.length != 0 && b.length >= kReleasedWork / a.length;
}

// Runs `compute` and stores its result, without the interpreter lock when
// `release` and the texts are long; the texts belong to the caller's
// arguments, which outlive the call.
template <class Compute>
auto computed(bool release, Compute&& compute) {
  if (!release) return compute();
  std::optional<decltype(compute())> out;
  run_released(1, [&](const batch::Pool&) { out.emplace(compute()); });
  return std::move(*out);
}

// The module function of the measure table's row I: distances as int,
// similarities as float, a refused pair as its error. Submodule functions
// release the lock for long texts; kivo's own never do.
template <std::size_t I, bool Release>
[[gnu::always_inline]] inline PyObject* call_measure(PyObject*, const Args& x) {
  constexpr const Measure& measure = kMeasures[I];
  // A distance that never fails is answered as the integer it is; other
  // scores come through the row's entry, as a double or the pair's error.
  auto answer = [](auto score) {
    if constexpr (std::is_same_v<decltype(score), std::uint64_t>) {
      return to_py(score);
    } else {
      double value = take(std::move(score));
      return kMeasures[I].distance ? to_py(std::uint64_t(value)) : to_py(value);
    }
  };
  if constexpr (measure.reads == Reads::Characters) {
    const CharSpan& a = x.chars(0);
    const CharSpan& b = x.chars(1);
    auto score = [&] {
      if constexpr (measure.counts) {
        return measure.count(a, b);
      } else {
        return score_characters(measure, a, b);
      }
    };
    if (Release && long_work(a, b)) return answer(computed(true, score));
    // Short pairs, the common case, are scored right here: the row's entry
    // is a constant and inlines, so its result never goes through memory.
    return answer(score());
  } else {
    return answer(score_utf8(measure, x.str(0), x.str(1)));
  }
}

template <std::size_t I, bool Release>
constexpr Callable measure_function() {
  constexpr const Measure& measure = kMeasures[I];
  constexpr bool characters = measure.reads == Reads::Characters;
  return {measure.name.data(),
          {characters ? chars("a") : text("a"), characters ? chars("b") : text("b")},
          &call_measure<I, Release>};
}

template <bool Release, std::size_t... I>
constexpr std::array<Callable, sizeof...(I)> measure_functions(std::index_sequence<I...>) {
  return {measure_function<I, Release>()...};
}

// Every row's function, for kivo (Release false) or a submodule (true).
template <bool Release>
inline constexpr auto kMeasureFunctions =
    measure_functions<Release>(std::make_index_sequence<kMeasureCount>{});

// A measure's function, by its name in the measure table, with `doc`.
template <bool Release>
consteval Callable measure_callable(std::string_view name, const char* doc = nullptr) {
  Callable callable = kMeasureFunctions<Release>[index_of(measure_named(name))];
  callable.doc = doc;
  return callable;
}

// The native entry of Table's function called `name`, else null.
template <const auto& Table>
PyCFunction entry_named(std::string_view name) {
  for (std::size_t i = 0; i < std::size(Table); ++i) {
    if (Table[i].name == name) return method_defs<Table>()[i].ml_meth;
  }
  return nullptr;
}

// The entries of the kivo.edit and kivo.tokens functions made from `row`,
// else null; each module's file defines its own.
PyCFunction edit_measure_entry(const Measure& row);
PyCFunction tokens_measure_entry(const Measure& row);

}  // namespace kivo::py
