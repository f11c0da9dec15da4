#include "py/batch/simd_switch.hpp"

#include <optional>
#include <string>
#include <string_view>

#include "base/simd.hpp"
#include "py/guard.hpp"

namespace kivo::py {

PyObject* simd_path(PyObject*, PyObject*) {
  return guarded([] {
    std::string_view name = simd::name(simd::active());
    return result(PyUnicode_FromStringAndSize(name.data(), Py_ssize_t(name.size())));
  });
}

PyObject* limit_simd(PyObject*, PyObject* name) {
  return guarded([&]() -> PyObject* {
    if (!PyUnicode_Check(name)) raise(PyExc_TypeError, "_limit_simd() takes a str");
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(name, &size);
    if (utf8 == nullptr) throw ErrorAlreadySet{};
    std::optional<simd::Isa> isa = simd::parse({utf8, std::size_t(size)});
    if (!isa) {
      raise(PyExc_ValueError, "unknown vector path '" + std::string(utf8, std::size_t(size)) +
                                  "': expected 'portable', 'avx2' or 'avx512'");
    }
    simd::limit(*isa);
    Py_RETURN_NONE;
  });
}

}  // namespace kivo::py
