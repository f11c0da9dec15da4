#include "py/text_lists.hpp"

#include "py/binder.hpp"
#include "py/convert.hpp"
#include "py/guard.hpp"

namespace kivo::py {

namespace {

constexpr std::size_t kItemsPerSignalCheck = 4096;

// The str's own representation, read in place: its UTF-8 when that is what
// it holds (ASCII), otherwise encoded by the call into its own buffers, so
// that no str is left holding a cached UTF-8 copy.
batch::SourceText source_of(PyObject* item) {
  if (!PyUnicode_Check(item)) type_mismatch(item, "str");
  // A lone surrogate has no UTF-8 form: converting raises the usual error.
  if (holds_surrogates(item)) to_text(item);
  std::size_t length = std::size_t(PyUnicode_GET_LENGTH(item));
  batch::SourceText source{{}, {PyUnicode_DATA(item), length, std::size_t(PyUnicode_KIND(item))}};
  if (PyUnicode_IS_ASCII(item))
    source.utf8 = {static_cast<const char*>(PyUnicode_DATA(item)), length};
  return source;
}

}  // namespace

TextList read_texts(PyObject* sequence, bool check_signals) {
  if (PyUnicode_Check(sequence)) raise(PyExc_TypeError, "Can't extract `str` to `Vec`");
  if (!PySequence_Check(sequence)) type_mismatch(sequence, sequence_type_name());
  // A new list, this call's alone: no other thread changes it.
  TextList list{check(PyList_New(0)), {}};
  // Only a size hint: iteration decides how many items there are.
  if (PyList_CheckExact(sequence) || PyTuple_CheckExact(sequence)) {
    list.sources.reserve(std::size_t(Py_SIZE(sequence)));
  }
  Ref iterator = check(PyObject_GetIter(sequence));
  while (Ref item = Ref::steal(PyIter_Next(iterator.get()))) {
    list.sources.push_back(source_of(item.get()));
    if (PyList_Append(list.items.get(), item.get()) < 0) throw ErrorAlreadySet{};
    if (check_signals && list.sources.size() % kItemsPerSignalCheck == 0 &&
        PyErr_CheckSignals() < 0) {
      throw ErrorAlreadySet{};
    }
  }
  if (PyErr_Occurred()) throw ErrorAlreadySet{};
  return list;
}

}  // namespace kivo::py
