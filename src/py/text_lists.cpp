#include "py/text_lists.hpp"

#include <cmath>
#include <cstring>
#include <optional>
#include <string>

#include "py/arrow_texts.hpp"
#include "py/binder.hpp"
#include "py/convert.hpp"
#include "py/guard.hpp"
#include "text/utf8.hpp"

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

// None, a float NaN (pandas' missing value in an object column) or pandas.NA.
bool is_null_item(PyObject* item) {
  if (item == Py_None) return true;
  if (PyFloat_Check(item)) return std::isnan(PyFloat_AS_DOUBLE(item));
  return std::strcmp(Py_TYPE(item)->tp_name, "pandas._libs.missing.NAType") == 0;
}

[[noreturn]] void refuse_null(std::size_t position, Nulls nulls) {
  std::string message = "null at position " + std::to_string(position);
  if (nulls == Nulls::Skippable) message += " (nulls='skip' skips nulls)";
  raise(PyExc_ValueError, message);
}

// read_texts, with nulls read as `nulls` says when it is given; a null's
// position counts from `first`.
TextList read_sequence(PyObject* sequence, bool check_signals, const Nulls* nulls,
                       std::size_t first = 0) {
  if (PyUnicode_Check(sequence)) raise(PyExc_TypeError, "Can't extract `str` to `Vec`");
  if (!PySequence_Check(sequence)) type_mismatch(sequence, sequence_type_name());
  // A new list, this call's alone: no other thread changes it.
  TextList list;
  list.items = check(PyList_New(0));
  // Only a size hint: iteration decides how many items there are.
  if (PyList_CheckExact(sequence) || PyTuple_CheckExact(sequence)) {
    list.sources.reserve(std::size_t(Py_SIZE(sequence)));
  }
  Ref iterator = check(PyObject_GetIter(sequence));
  while (Ref item = Ref::steal(PyIter_Next(iterator.get()))) {
    std::optional<batch::SourceText> source =
        nulls == nullptr ? source_of(item.get())
                         : batch_text_item(item.get(), first + list.sources.size(), *nulls);
    if (!source) {
      list.nulls.push_back(list.sources.size());
      source = batch::SourceText{std::string_view("", 0), {"", 0, 1}};
    }
    list.sources.push_back(*source);
    if (PyList_Append(list.items.get(), item.get()) < 0) throw ErrorAlreadySet{};
    if (check_signals && list.sources.size() % kItemsPerSignalCheck == 0 &&
        PyErr_CheckSignals() < 0) {
      throw ErrorAlreadySet{};
    }
  }
  if (PyErr_Occurred()) throw ErrorAlreadySet{};
  return list;
}

}  // namespace

TextList read_texts(PyObject* sequence, bool check_signals) {
  return read_sequence(sequence, check_signals, nullptr);
}

std::optional<batch::SourceText> batch_text_item(PyObject* item, std::size_t position,
                                                 Nulls nulls) {
  if (PyUnicode_Check(item)) return source_of(item);
  if (!is_null_item(item)) type_mismatch(item, "str");
  if (nulls != Nulls::Kept) refuse_null(position, nulls);
  return std::nullopt;
}

batch::SourceText text_item(PyObject* item, std::size_t position) {
  if (!PyUnicode_Check(item) && is_null_item(item)) refuse_null(position, Nulls::Refused);
  return source_of(item);
}

TextList read_batch_texts(PyObject* object, Nulls nulls, bool in_place, std::size_t first) {
  std::optional<TextList> list = read_arrow_texts(object);
  if (!list) return read_sequence(object, true, &nulls, first);
  if (nulls != Nulls::Kept && !list->nulls.empty()) refuse_null(list->nulls[0], nulls);
  if (!in_place) {
    list->column->read(0, list->column->size(), list->sources);
    list->column.reset();
  }
  return std::move(*list);
}

void TextList::decode_units() {
  std::size_t total = 0;
  for (const batch::SourceText& source : sources) {
    if (source.units.data == nullptr) total += utf8::count_chars(source.utf8);
  }
  decoded.resize(total);
  std::size_t at = 0;
  for (batch::SourceText& source : sources) {
    if (source.units.data != nullptr) continue;
    std::size_t start = at;
    for (std::size_t pos = 0; pos < source.utf8.size();)
      decoded[at++] = utf8::next(source.utf8, pos);
    source.units = {decoded.data() + start, at - start, 4};
  }
}

}  // namespace kivo::py
