// The Python class KivoFlow: an immutable Router in builder style.
// preprocess, tier_1 and tier_2 return new objects, each holding its tiers
// already parsed; compare and compare_with_intent run the router and return
// its result as a dict.
#include <array>
#include <string>
#include <utility>

#include "py/classes.hpp"
#include "py/once.hpp"
#include "py/results.hpp"
#include "py/value_class.hpp"
#include "router/algorithm.hpp"
#include "router/intent.hpp"
#include "router/router.hpp"

namespace kivo::py {
namespace {

using A = const Args&;

// A copy of self's router with one change applied.
template <class Change>
PyObject* with(PyObject* self, Change change) {
  Router router = value_of<Router>(self);
  change(router);
  return rewrap(self, std::move(router));
}

void set_item(PyObject* dict, PyObject* key, Ref value) {
  if (PyDict_SetItem(dict, key, value.get()) < 0) throw ErrorAlreadySet{};
}

// An interned str, kept for the process.
PyObject* interned(std::string_view text) {
  PyObject* str = PyUnicode_FromStringAndSize(text.data(), Py_ssize_t(text.size()));
  if (str == nullptr) throw ErrorAlreadySet{};
  PyUnicode_InternInPlace(&str);
  return str;
}

constexpr std::uint64_t kTiers = 3;  // 0 for comparisons by intent, 1 and 2

// The result dictionary's keys, and a template result for every reported
// algorithm name and tier, made once and kept for the process: keys and names
// are the same objects on every call, and a result only needs its score.
// Nothing here changes after it is made, so threads share it without locks.
struct ResultShapes {
  PyObject* score = interned("score");
  PyObject* tier = interned("tier");
  PyObject* algorithm = interned("algorithm");
  PyObject* fallback_called = interned("fallback_called");
  PyObject* fallback_data = interned("fallback_data");
  PyObject* empty = interned("");
  // Reported names are static texts, so a result's name is found by address.
  std::array<const char*, kMeasureCount> names{};
  std::array<std::array<PyObject*, kMeasureCount>, kTiers> templates{};

  ResultShapes() {
    for (std::size_t i = 0; i < kMeasureCount; ++i) {
      std::string_view name = kMeasures[i].reported;
      names[i] = name.data();
      PyObject* name_object = interned(name);
      for (std::uint64_t t = 0; t < kTiers; ++t) {
        templates[t][i] = new_shape(check(PyLong_FromUnsignedLongLong(t)).get(), name_object);
      }
    }
  }

  // The five entries in their fixed order, with the given tier and algorithm;
  // "fallback_called" False and "fallback_data" ''.
  PyObject* new_shape(PyObject* tier_object, PyObject* algorithm_name) const {
    Ref dict = check(PyDict_New());
    set_item(dict.get(), score, Ref::borrow(Py_None));
    set_item(dict.get(), tier, Ref::borrow(tier_object));
    set_item(dict.get(), algorithm, Ref::borrow(algorithm_name));
    set_item(dict.get(), fallback_called, Ref::borrow(Py_False));
    set_item(dict.get(), fallback_data, Ref::borrow(empty));
    return dict.release();
  }

  PyObject* template_for(std::string_view name, std::uint64_t tier_number) const {
    if (tier_number >= kTiers) return nullptr;
    for (std::size_t i = 0; i < kMeasureCount; ++i) {
      if (names[i] == name.data()) return templates[tier_number][i];
    }
    return nullptr;
  }
};

const ResultShapes& result_shapes() {
  static Once<const ResultShapes> shapes;
  return *shapes.get([] { return new ResultShapes(); });
}

// Each result starts as a copy of a template holding the keys in their
// order: copying a small dict clones its key table at once, and writing a
// value to an existing key never grows the table.
PyObject* result_to_dict(const CompareResult& result) {
  const ResultShapes& shapes = result_shapes();
  PyObject* shape = shapes.template_for(result.algorithm, result.tier);
  if (shape == nullptr) throw InternalFault("no result template for this algorithm and tier");
  Ref dict = check(PyDict_Copy(shape));
  set_item(dict.get(), shapes.score, check(PyFloat_FromDouble(result.score)));
  if (result.fallback_called) set_item(dict.get(), shapes.fallback_called, Ref::borrow(Py_True));
  if (result.fallback_data) {
    set_item(dict.get(), shapes.fallback_data,
             check(PyUnicode_FromStringAndSize(result.fallback_data->data(),
                                               Py_ssize_t(result.fallback_data->size()))));
  }
  return dict.release();
}

// The binder has converted every argument before these run, so a bad
// argument type is reported ahead of a bad name.
PyObject* tier_1(PyObject* self, A x) {
  Tier tier = take(parse_tier_1(x.str(0), x.str(1), x.f64(2), x.str(3), x.f64(4)));
  return with(self, [&](Router& r) { r.tier_1 = tier; });
}

PyObject* tier_2(PyObject* self, A x) {
  Tier tier = take(parse_tier_2(x.str(0), x.str(1), x.f64(2), x.f64(3)));
  return with(self, [&](Router& r) { r.tier_2 = tier; });
}

PyObject* compare_with_intent(PyObject* self, A x) {
  // Tiers play no part here, only the cleaning switch.
  Intent intent = take(parse_intent(x.str(0)));
  return result_to_dict(
      take(compare_by_intent(value_of<Router>(self), intent, x.str(1), x.str(2))));
}

PyObject* compare(PyObject* self, A x) {
  return result_to_dict(take(kivo::compare(value_of<Router>(self), x.str(0), x.str(1))));
}

constexpr Callable kMethods[] = {
    {"preprocess",
     {flag("enable")},
     [](PyObject* self, A x) {
       return with(self, [v = x.boolean(0)](Router& r) { r.preprocess = v; });
     },
     "KivoFlow"},
    {"tier_1",
     {text("algo"), text("match_op"), real("match_val"), text("mismatch_op"), real("mismatch_val")},
     &tier_1,
     "KivoFlow"},
    {"tier_2", {text("algo"), text("op"), real("val1"), real("val2")}, &tier_2, "KivoFlow"},
    {"compare_with_intent",
     {text("intent"), text("a"), text("b")},
     &compare_with_intent,
     "KivoFlow"},
    {"compare", {text("a"), text("b")}, &compare, "KivoFlow"},
};

constexpr Callable kConstructor{"__new__", {}, nullptr, "KivoFlow"};

PyObject* repr(PyObject*) {
  return guarded([] { return to_py(std::string_view("KivoFlow()")); });
}

}  // namespace

PyTypeObject* kivoflow_type() {
  static Once<PyTypeObject> type;
  return type.get([] {
    return make_value_type<KivoFlowValue>("kivo.KivoFlow", "KivoFlow()\n--\n\n",
                                          method_defs<kMethods>(), &repr,
                                          &new_default<KivoFlowValue, kConstructor>);
  });
}

}  // namespace kivo::py
