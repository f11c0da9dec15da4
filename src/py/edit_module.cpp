// The kivo.edit module: edit distances beyond Levenshtein's (swaps,
// insertions and deletions only, the longest common subsequence, costs of
// one's own) and the edits of an alignment. It lives in kivo's shared
// object; its two-text measures are rows of the measure table, so kivo.batch
// scores them too.
#include <Python.h>

#include <array>
#include <vector>

#include "algo/edit_script.hpp"
#include "algo/indel.hpp"
#include "algo/weighted_levenshtein.hpp"
#include "py/binder.hpp"
#include "py/edit_docs.hpp"
#include "py/measure_functions.hpp"
#include "py/results.hpp"
#include "py/submodule.hpp"

namespace kivo::py {
namespace {

using A = const Args&;

PyObject* wide_to_py(WideCost value) {
  std::uint64_t high = std::uint64_t(value >> 64);
  std::uint64_t low = std::uint64_t(value);
  if (high == 0) return to_py(low);
  Ref upper = check(PyLong_FromUnsignedLongLong(high));
  Ref shift = check(PyLong_FromLong(64));
  Ref shifted = check(PyNumber_Lshift(upper.get(), shift.get()));
  Ref lower = check(PyLong_FromUnsignedLongLong(low));
  return result(PyNumber_Or(shifted.get(), lower.get()));
}

// The tags as difflib spells them, indexed by EditTag.
std::array<Ref, 4> tag_names() {
  return {check(PyUnicode_InternFromString("equal")), check(PyUnicode_InternFromString("replace")),
          check(PyUnicode_InternFromString("delete")), check(PyUnicode_InternFromString("insert"))};
}

template <class Item, class Fill>
PyObject* list_of(const std::vector<Item>& items, Fill&& tuple_for) {
  std::array<Ref, 4> tags = tag_names();
  Ref list = check(PyList_New(Py_ssize_t(items.size())));
  for (std::size_t k = 0; k < items.size(); ++k) {
    PyObject* tag = tags[std::size_t(items[k].tag)].get();
    PyList_SET_ITEM(list.get(), Py_ssize_t(k), result(tuple_for(tag, items[k])));
  }
  return list.release();
}

PyObject* editops_of(A x) {
  const CharSpan& a = x.chars(0);
  const CharSpan& b = x.chars(1);
  std::vector<EditOp> ops = computed(long_work(a, b), [&] { return levenshtein_editops(a, b); });
  return list_of(ops, [](PyObject* tag, const EditOp& op) {
    return Py_BuildValue("(Onn)", tag, Py_ssize_t(op.a_pos), Py_ssize_t(op.b_pos));
  });
}

PyObject* opcodes_of(A x) {
  const CharSpan& a = x.chars(0);
  const CharSpan& b = x.chars(1);
  std::vector<Opcode> ops = computed(long_work(a, b), [&] { return levenshtein_opcodes(a, b); });
  return list_of(ops, [](PyObject* tag, const Opcode& op) {
    return Py_BuildValue("(Onnnn)", tag, Py_ssize_t(op.a_start), Py_ssize_t(op.a_end),
                         Py_ssize_t(op.b_start), Py_ssize_t(op.b_end));
  });
}

PyObject* weighted_of(A x) {
  const CharSpan& a = x.chars(0);
  const CharSpan& b = x.chars(1);
  EditCosts costs{x.u64(2), x.u64(3), x.u64(4)};
  WideCost distance =
      computed(long_work(a, b), [&] { return weighted_levenshtein_distance(a, b, costs); });
  return wide_to_py(distance);
}

PyObject* lcs_of(A x) {
  const CharSpan& a = x.chars(0);
  const CharSpan& b = x.chars(1);
  return to_py(computed(long_work(a, b), [&] { return lcs_length(a, b); }));
}

constexpr Callable kFunctions[] = {
    measure_callable<true>("osa_distance", edit_docs::osa_distance),
    measure_callable<true>("osa_similarity", edit_docs::osa_similarity),
    measure_callable<true>("damerau_levenshtein_distance", edit_docs::damerau_levenshtein_distance),
    measure_callable<true>("damerau_levenshtein_similarity",
                           edit_docs::damerau_levenshtein_similarity),
    measure_callable<true>("indel_distance", edit_docs::indel_distance),
    measure_callable<true>("indel_similarity", edit_docs::indel_similarity),
    {"lcs_length",
     {chars("a"), chars("b")},
     [](PyObject*, A x) { return lcs_of(x); },
     nullptr,
     edit_docs::lcs_length},
    measure_callable<true>("lcs_similarity", edit_docs::lcs_similarity),
    {"weighted_levenshtein_distance",
     {chars("a"), chars("b"), uint("insert_cost"), uint("delete_cost"), uint("substitute_cost")},
     [](PyObject*, A x) { return weighted_of(x); },
     nullptr,
     edit_docs::weighted_levenshtein_distance},
    {"levenshtein_opcodes",
     {chars("a"), chars("b")},
     [](PyObject*, A x) { return opcodes_of(x); },
     nullptr,
     edit_docs::levenshtein_opcodes},
    {"levenshtein_editops",
     {chars("a"), chars("b")},
     [](PyObject*, A x) { return editops_of(x); },
     nullptr,
     edit_docs::levenshtein_editops},
};

}  // namespace

PyCFunction edit_measure_entry(const Measure& row) {
  return entry_named<kFunctions>(row.name);
}

}  // namespace kivo::py

// Found by the loader of kivo.edit (kivo/edit.py) in kivo's shared object.
PyMODINIT_FUNC PyInit_edit() {
  return kivo::py::submodule<kivo::py::kFunctions>("kivo.edit", kivo::py::edit_docs::module);
}
