#include "py/text_lists.hpp"

#include "py/binder.hpp"
#include "py/convert.hpp"
#include "py/guard.hpp"

namespace kivo::py {

namespace {

constexpr std::size_t kItemsPerSignalCheck = 4096;

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

TextList read_texts(PyObject* sequence, bool utf8, bool check_signals) {
  if (PyUnicode_Check(sequence)) raise(PyExc_TypeError, "Can't extract `str` to `Vec`");
  if (!PySequence_Check(sequence)) type_mismatch(sequence, sequence_type_name());
  // A new list, this call's alone: no other thread changes it.
  TextList list{check(PyList_New(0)), {}};
  Ref iterator = check(PyObject_GetIter(sequence));
  while (Ref item = Ref::steal(PyIter_Next(iterator.get()))) {
    list.sources.push_back(source_of(item.get(), utf8));
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
