#include "py/batch/text_lists.hpp"

#include "py/binder.hpp"
#include "py/convert.hpp"
#include "py/guard.hpp"

namespace kivo::py {

namespace {

batch::SourceText source_of(PyObject* item, bool utf8) {
  if (!PyUnicode_Check(item)) type_mismatch(item, "str");
  batch::SourceText source{{},
                           {PyUnicode_DATA(item), std::size_t(PyUnicode_GET_LENGTH(item)),
                            std::size_t(PyUnicode_KIND(item))}};
  // A lone surrogate has no UTF-8 form: converting raises the usual error.
  if (utf8 || holds_surrogates(item)) source.utf8 = to_text(item);
  return source;
}

}  // namespace

TextList read_texts(PyObject* sequence, const char* param, bool utf8, PyObject* process) {
  TextList list;
  try {
    if (PyUnicode_Check(sequence)) raise(PyExc_TypeError, "Can't extract `str` to `Vec`");
    if (!PySequence_Check(sequence)) type_mismatch(sequence, sequence_type_name());
    // A new list, this call's alone: no other thread changes it, and its
    // items may be replaced.
    list.items = check(PySequence_List(sequence));
    Py_ssize_t count = PyList_GET_SIZE(list.items.get());
    list.sources.reserve(std::size_t(count));
    for (Py_ssize_t i = 0; i < count; ++i) {
      PyObject* item = PyList_GET_ITEM(list.items.get(), i);
      if (process != nullptr) {
        if (!PyUnicode_Check(item)) type_mismatch(item, "str");
        item = check(PyObject_CallOneArg(process, item)).release();
        PyList_SetItem(list.items.get(), i, item);
      }
      list.sources.push_back(source_of(item, utf8));
    }
  } catch (const ErrorAlreadySet&) {
    raise_with_note(param);
  }
  return list;
}

}  // namespace kivo::py
