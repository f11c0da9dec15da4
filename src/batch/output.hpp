// A result buffer of one of the element types a caller may ask for. Values
// arrive as doubles; an integral type only ever receives integral values
// that it can hold (the binding checks the range before the call).
#pragma once

#include <cstddef>
#include <cstdint>

namespace kivo::batch {

enum class Element { F32, F64, I8, I16, I32, I64, U8, U16, U32, U64 };

struct Output {
  void* data;
  Element element;

  void store(std::size_t index, double value) const {
    switch (element) {
      case Element::F32: put<float>(index, value); break;
      case Element::F64: put<double>(index, value); break;
      case Element::I8: put<std::int8_t>(index, value); break;
      case Element::I16: put<std::int16_t>(index, value); break;
      case Element::I32: put<std::int32_t>(index, value); break;
      case Element::I64: put<std::int64_t>(index, value); break;
      case Element::U8: put<std::uint8_t>(index, value); break;
      case Element::U16: put<std::uint16_t>(index, value); break;
      case Element::U32: put<std::uint32_t>(index, value); break;
      case Element::U64: put<std::uint64_t>(index, value); break;
    }
  }

 private:
  template <class T>
  void put(std::size_t index, double value) const {
    static_cast<T*>(data)[index] = static_cast<T>(value);
  }
};

}  // namespace kivo::batch
