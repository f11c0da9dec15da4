#include "py/batch/text_lists.hpp"

#include "py/convert.hpp"
#include "py/guard.hpp"

namespace kivo::py {

namespace {

bool holds_surrogates(PyObject* text) {
  std::size_t n = std::size_t(PyUnicode_GET_LENGTH(text));
  switch (PyUnicode_KIND(text)) {
    case PyUnicode_2BYTE_KIND: return has_surrogates(PyUnicode_2BYTE_DATA(text), n);
    case PyUnicode_4BYTE_KIND: return has_surrogates(PyUnicode_4BYTE_DATA(text), n);
    default: return false;
  }
}

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

TextList read_texts(PyObject* sequence, const char* param, bool utf8) {
  TextList list;
  try {
    if (PyUnicode_Check(sequence)) raise(PyExc_TypeError, "Can't extract `str` to `Vec`");
    if (!PySequence_Check(sequence)) type_mismatch(sequence, sequence_type_name());
    list.items = check(PySequence_Tuple(sequence));
    Py_ssize_t count = PyTuple_GET_SIZE(list.items.get());
    list.sources.reserve(std::size_t(count));
    for (Py_ssize_t i = 0; i < count; ++i) {
      list.sources.push_back(source_of(PyTuple_GET_ITEM(list.items.get(), i), utf8));
    }
  } catch (const ErrorAlreadySet&) {
    raise_with_note(param);
  }
  return list;
}

}  // namespace kivo::py
