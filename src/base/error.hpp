// Failures as values. The computing code never touches Python: it returns a
// Result holding either its value or a Failure, and the binding layer turns
// the Failure into a Python exception at the boundary.
#pragma once

#include <stdexcept>
#include <string>
#include <utility>
#include <variant>

namespace kivo {

// The library's own error: a kind and a message, shown as "<Kind> error: msg".
struct EngineError {
  enum class Kind { Algorithm, RouterConfiguration };
  Kind kind;
  std::string message;

  std::string display() const;
};

// A Python exception described by class and message; the exception object is
// made only when the binding layer raises it.
struct ExceptionDesc {
  enum class Class { ValueError, MemoryError, TypeError };
  Class cls;
  std::string message;
};

using Failure = std::variant<EngineError, ExceptionDesc>;

inline ExceptionDesc value_error(std::string message) {
  return {ExceptionDesc::Class::ValueError, std::move(message)};
}
inline ExceptionDesc memory_error(std::string message) {
  return {ExceptionDesc::Class::MemoryError, std::move(message)};
}
inline ExceptionDesc type_error(std::string message) {
  return {ExceptionDesc::Class::TypeError, std::move(message)};
}

// A violated invariant. It escapes the computation as a C++ exception and the
// per-call guard raises it in Python as PanicException with this message.
class InternalFault : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
  Result(Failure failure) : state_(std::in_place_index<1>, std::move(failure)) {}
  Result(EngineError error) : Result(Failure{std::move(error)}) {}
  Result(ExceptionDesc desc) : Result(Failure{std::move(desc)}) {}

  bool ok() const { return state_.index() == 0; }
  T& value() { return std::get<0>(state_); }
  const T& value() const { return std::get<0>(state_); }
  Failure& failure() { return std::get<1>(state_); }

 private:
  std::variant<T, Failure> state_;
};

}  // namespace kivo
