#include "py/arrow_texts.hpp"

#include <string>

#include "py/convert.hpp"
#include "py/guard.hpp"

namespace kivo::py {

namespace {

// A producer's release callback may run Python code: it must not find this
// call's exception pending, and must not lose it.
template <class F>
void keeping_the_error(F&& f) {
  PyObject* error = PyErr_GetRaisedException();
  f();
  PyErr_SetRaisedException(error);
}

// Releases a schema the stream handed over, on every path.
struct SchemaHolder {
  ArrowSchema schema{};
  ~SchemaHolder() {
    if (schema.release != nullptr) keeping_the_error([&] { schema.release(&schema); });
  }
};

template <class T>
T* capsule_pointer(PyObject* capsule, const char* name) {
  if (!PyCapsule_IsValid(capsule, name)) {
    raise(PyExc_TypeError, std::string("expected a PyCapsule named '") + name + "', not '" +
                               qualified_type_name(capsule) + "'");
  }
  return static_cast<T*>(PyCapsule_GetPointer(capsule, name));
}

batch::ColumnLayout layout_of(const ArrowSchema& schema) {
  return take(batch::column_layout(schema));
}

void append(TextList& list, batch::ColumnLayout layout, const ArrowArray& array) {
  if (std::optional<ExceptionDesc> failure = list.column->add(layout, array, list.nulls)) {
    raise(*failure);
  }
}

TextList read_array(PyObject* object) {
  TextList list;
  list.items = check(PyObject_CallMethod(object, "__arrow_c_array__", nullptr));
  list.strs = false;
  list.column.emplace();
  PyObject* pair = list.items.get();
  if (!PyTuple_Check(pair) || PyTuple_GET_SIZE(pair) != 2) {
    raise(PyExc_TypeError, "__arrow_c_array__() must return a (schema, array) pair of capsules");
  }
  const auto* schema = capsule_pointer<ArrowSchema>(PyTuple_GET_ITEM(pair, 0), "arrow_schema");
  const auto* array = capsule_pointer<ArrowArray>(PyTuple_GET_ITEM(pair, 1), "arrow_array");
  append(list, layout_of(*schema), *array);
  return list;
}

[[noreturn]] void stream_failed(ArrowArrayStream* stream, int code) {
  const char* detail = stream->get_last_error == nullptr ? nullptr : stream->get_last_error(stream);
  raise(PyExc_ValueError, "the Arrow stream failed (error " + std::to_string(code) + ")" +
                              (detail == nullptr ? std::string() : ": " + std::string(detail)));
}

// Every batch is read, and its strings checked, before the call computes.
TextList read_stream(PyObject* object) {
  TextList list;
  list.items = check(PyObject_CallMethod(object, "__arrow_c_stream__", nullptr));
  list.strs = false;
  list.column.emplace();
  auto* stream = capsule_pointer<ArrowArrayStream>(list.items.get(), "arrow_array_stream");
  if (stream->release == nullptr) raise(PyExc_ValueError, "the Arrow stream was already released");
  batch::ColumnLayout layout{};
  {
    SchemaHolder holder;
    if (int code = stream->get_schema(stream, &holder.schema)) stream_failed(stream, code);
    layout = layout_of(holder.schema);
  }
  list.arrays = std::shared_ptr<batch::OwnedArrays>(
      new batch::OwnedArrays, [](auto* arrays) { keeping_the_error([&] { delete arrays; }); });
  while (true) {
    ArrowArray& array = list.arrays->add();
    if (int code = stream->get_next(stream, &array)) stream_failed(stream, code);
    if (array.release == nullptr) break;  // the end of the stream
    append(list, layout, array);
    if (PyErr_CheckSignals() < 0) throw ErrorAlreadySet{};
  }
  return list;
}

bool exports(PyObject* object, const char* method) {
  return !PyType_Check(object) && PyObject_HasAttrString(object, method);
}

}  // namespace

std::optional<TextList> read_arrow_texts(PyObject* object) {
  if (PyUnicode_Check(object)) return {};
  if (exports(object, "__arrow_c_array__")) return read_array(object);
  if (exports(object, "__arrow_c_stream__")) return read_stream(object);
  return {};
}

}  // namespace kivo::py
