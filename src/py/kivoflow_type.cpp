// The Python class KivoFlow: an immutable Router in builder style.
// preprocess, tier_1 and tier_2 return new objects, each holding its tiers
// already parsed; compare and compare_with_intent run the router and return
// its result as a dict.
#include <string>
#include <utility>

#include "py/classes.hpp"
#include "py/results.hpp"
#include "py/value_class.hpp"
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

// An interned str made once and kept for the process, like the class objects:
// the result dictionary's keys and the few algorithm names are the same
// objects on every call instead of new strings.
PyObject* interned(std::string_view text) {
  PyObject* str = PyUnicode_FromStringAndSize(text.data(), Py_ssize_t(text.size()));
  if (str == nullptr) throw ErrorAlreadySet{};
  PyUnicode_InternInPlace(&str);
  return str;
}

struct ResultKeys {
  PyObject* score = interned("score");
  PyObject* tier = interned("tier");
  PyObject* algorithm = interned("algorithm");
  PyObject* fallback_called = interned("fallback_called");
  PyObject* fallback_data = interned("fallback_data");
  PyObject* empty = interned("");
};

const ResultKeys& result_keys() {
  static const ResultKeys keys;
  return keys;
}

// A new reference to the str of an algorithm's reported name. The names are
// static texts, so the cache (ten names) is keyed by their address.
Ref algorithm_name(std::string_view name) {
  static std::pair<const char*, PyObject*> cache[16] = {};
  for (auto& [text, object] : cache) {
    if (object == nullptr) {
      object = interned(name);
      text = name.data();
      return Ref::borrow(object);
    }
    if (text == name.data()) return Ref::borrow(object);
  }
  return check(PyUnicode_FromStringAndSize(name.data(), Py_ssize_t(name.size())));
}

// The five entries in their fixed order, with the given tier and algorithm;
// "fallback_called" False and "fallback_data" ''.
PyObject* new_shape(PyObject* tier, PyObject* algorithm) {
  const ResultKeys& keys = result_keys();
  Ref dict = check(PyDict_New());
  set_item(dict.get(), keys.score, Ref::borrow(Py_None));
  set_item(dict.get(), keys.tier, Ref::borrow(tier));
  set_item(dict.get(), keys.algorithm, Ref::borrow(algorithm));
  set_item(dict.get(), keys.fallback_called, Ref::borrow(Py_False));
  set_item(dict.get(), keys.fallback_data, Ref::borrow(keys.empty));
  return dict.release();
}

// A template result for an algorithm's reported name and a tier, made once
// and kept for the process. Few pairs occur (ten names, tiers 0 to 2), so
// they are cached by the name's address; a result then only needs its score.
PyObject* shape_for(std::string_view algorithm, std::uint64_t tier) {
  struct Shape {
    const char* name;
    std::uint64_t tier;
    PyObject* dict;
  };
  static Shape cache[32] = {};
  for (Shape& shape : cache) {
    if (shape.dict == nullptr) {
      Ref tier_object = check(PyLong_FromUnsignedLongLong(tier));
      shape = {algorithm.data(), tier,
               new_shape(tier_object.get(), algorithm_name(algorithm).get())};
      return shape.dict;
    }
    if (shape.name == algorithm.data() && shape.tier == tier) return shape.dict;
  }
  return nullptr;
}

// Each result starts as a copy of a template holding the keys in their
// order: copying a small dict clones its key table at once, and writing a
// value to an existing key never grows the table.
PyObject* result_to_dict(const CompareResult& result) {
  const ResultKeys& keys = result_keys();
  PyObject* shape = shape_for(result.algorithm, result.tier);
  Ref dict = shape != nullptr
                 ? check(PyDict_Copy(shape))
                 : Ref::steal(new_shape(check(PyLong_FromUnsignedLongLong(result.tier)).get(),
                                        algorithm_name(result.algorithm).get()));
  set_item(dict.get(), keys.score, check(PyFloat_FromDouble(result.score)));
  if (result.fallback_called) set_item(dict.get(), keys.fallback_called, Ref::borrow(Py_True));
  if (result.fallback_data) {
    set_item(dict.get(), keys.fallback_data,
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
  static PyTypeObject* type = nullptr;
  if (type == nullptr) {
    type = make_value_type<Router>("kivo.KivoFlow", "KivoFlow()\n--\n\n", method_defs<kMethods>(),
                                   &repr, &new_default<Router, kConstructor>);
  }
  return type;
}

}  // namespace kivo::py
