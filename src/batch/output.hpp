// A result buffer of one of the element types a caller may ask for. Writers
// are templates over the element type, picked once per call by visit();
// scores arrive as doubles and are converted as they are stored. An
// integral type only ever receives integral values that it can hold (the
// binding checks the range before the call).
#pragma once

#include <cstddef>
#include <cstdint>
#include <tuple>
#include <type_traits>

#include "base/error.hpp"

namespace kivo::batch {

enum class Element { F32, F64, I8, I16, I32, I64, U8, U16, U32, U64 };
// Their C++ types, in the same order.
using ElementTypes =
    std::tuple<float, double, std::int8_t, std::int16_t, std::int32_t, std::int64_t, std::uint8_t,
               std::uint16_t, std::uint32_t, std::uint64_t>;

template <class T, std::size_t I = 0>
constexpr Element element_of() {
  if constexpr (std::is_same_v<T, std::tuple_element_t<I, ElementTypes>>) {
    return Element(I);
  } else {
    return element_of<T, I + 1>();
  }
}

struct Output {
  void* data;
  Element element;

  // Calls f(data) as a T* for the T among Ts that is the element type.
  template <class... Ts, class F>
  void visit_as(F&& f) const {
    bool found = ((element == element_of<Ts>() && (f(static_cast<Ts*>(data)), true)) || ...);
    if (!found) throw InternalFault("a result buffer of an unexpected element type");
  }
  template <class F>
  void visit(F&& f) const {
    [&]<class... Ts>(std::tuple<Ts...>*) {
      visit_as<Ts...>(f);
    }(static_cast<ElementTypes*>(nullptr));
  }
  // Scores as the default dtypes hold them: int64 distances, float64 similarities.
  template <class F>
  void visit_scores(F&& f) const {
    visit_as<std::int64_t, double>(f);
  }
};

}  // namespace kivo::batch
