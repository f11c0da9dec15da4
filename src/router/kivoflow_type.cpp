// Placeholder for the KivoFlow class until the router lands.
#include "../classes.hpp"
#include "../results.hpp"
#include "../value_class.hpp"

namespace kivo::py {
namespace {
struct FlowSettings {};
constexpr Callable kConstructor{"__new__", {}, nullptr, "KivoFlow"};
PyObject* repr(PyObject*) {
  return PyUnicode_FromString("KivoFlow()");
}
PyMethodDef kNoMethods[] = {{nullptr, nullptr, 0, nullptr}};
}  // namespace

PyTypeObject* kivoflow_type() {
  static PyTypeObject* type = nullptr;
  if (type == nullptr) {
    type = make_value_type<FlowSettings>("kivo.KivoFlow", "KivoFlow()\n--\n\n", kNoMethods, &repr,
                                         &new_default<FlowSettings, kConstructor>);
  }
  return type;
}

}  // namespace kivo::py
