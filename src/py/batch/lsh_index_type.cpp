// kivo.batch.LSHIndex: an LshIndex shared by the threads of the interpreter
// under a readers-writer lock; queries share it, add() and remove() hold it
// alone, and a writer waiting goes before the readers that come after it. A thread never waits for
// the lock while it holds the interpreter (free-threaded: while attached): it detaches first, so
// the holder can always attach again. No Python code runs while the lock is held (arguments are
// read before it is taken, results made after), so none can call back into the index and wait for
// itself.
#include "py/batch/lsh_index_type.hpp"

#include <Python.h>

#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>
#include <utility>
#include <vector>

#include "base/writer_first_lock.hpp"
#include "batch/lsh_index.hpp"
#include "batch/lsh_index_file.hpp"
#include "py/batch/arrays.hpp"
#include "py/batch/functions.hpp"
#include "py/batch/run.hpp"
#include "py/batch/signature_matrix.hpp"
#include "py/batch/stub_docs.hpp"
#include "py/binder.hpp"
#include "py/convert.hpp"
#include "py/once.hpp"

namespace kivo::py {
namespace {

using A = const Args&;
using batch::LshIndex;

struct Shared {
  WriterFirstLock lock;
  LshIndex index;
};

struct IndexObject {
  PyObject_HEAD Shared* shared;
};

Shared& shared_of(PyObject* self) {
  return *reinterpret_cast<IndexObject*>(self)->shared;
}

// The lock, taken without waiting while attached.
template <class Lock>
Lock locked(WriterFirstLock& mutex) {
  Lock lock(mutex, std::try_to_lock);
  if (!lock.owns_lock()) {
    PyThreadState* state = PyEval_SaveThread();
    lock.lock();
    PyEval_RestoreThread(state);
  }
  return lock;
}
using Reading = std::shared_lock<WriterFirstLock>;
using Writing = std::unique_lock<WriterFirstLock>;

// "a float", "an int8", "None".
std::string a_type(PyObject* object) {
  if (object == Py_None) return "None";
  std::string name = qualified_type_name(object);
  bool vowel = name.find_first_of("aeiouAEIOU") == 0;
  return (vowel ? "an " : "a ") + name;
}

std::string printed(PyObject* object, const char* instead) {
  PyObject* text = PyObject_Str(object);
  if (text == nullptr) {
    PyErr_Clear();
    return instead;
  }
  Ref owned = Ref::steal(text);
  std::string out(to_text(text));
  return out.size() > 40 ? instead : out;
}

// One key: an int (not a bool) from -2**63 to 2**63 - 1.
std::int64_t read_key(PyObject* item, const std::string& where) {
  if (PyBool_Check(item)) raise(PyExc_TypeError, where + " is a bool, not an int");
  Ref index = Ref::steal(PyNumber_Index(item));
  if (!index) {
    if (!PyErr_ExceptionMatches(PyExc_TypeError)) throw ErrorAlreadySet{};
    PyErr_Clear();
    raise(PyExc_TypeError, where + " is " + a_type(item) + ", not an int");
  }
  int overflow = 0;
  long long value = PyLong_AsLongLongAndOverflow(index.get(), &overflow);
  if (value == -1 && PyErr_Occurred()) throw ErrorAlreadySet{};
  if (overflow != 0) {
    raise(PyExc_OverflowError, where + " is " + printed(index.get(), "a number beyond 64 bits") +
                                   ": keys must be from -2**63 to 2**63 - 1");
  }
  return value;
}

// Keys: a list or tuple of ints, or an integer array (or anything
// numpy.asarray makes one of, a range say) of one dimension.
std::vector<std::int64_t> read_keys(PyObject* numpy, PyObject* object) {
  std::vector<std::int64_t> keys;
  if (PyList_Check(object) || PyTuple_Check(object)) {
    Ref iterator = check(PyObject_GetIter(object));
    for (std::size_t i = 0; Ref item = Ref::steal(PyIter_Next(iterator.get())); ++i) {
      keys.push_back(read_key(item.get(), "keys[" + std::to_string(i) + "]"));
    }
    if (PyErr_Occurred()) throw ErrorAlreadySet{};
    return keys;
  }
  if (PyUnicode_Check(object) || PyBytes_Check(object) || PyLong_Check(object) ||
      object == Py_None) {
    raise(PyExc_TypeError,
          "keys must be a sequence of ints or an integer array, not " + a_type(object));
  }
  Ref array = check(PyObject_CallMethod(numpy, "asarray", "O", object));
  Ref dtype = check(PyObject_GetAttrString(array.get(), "dtype"));
  Ref kind = check(PyObject_GetAttrString(dtype.get(), "kind"));
  std::string_view k = to_text(kind.get());
  if (k == "O") {
    raise(PyExc_TypeError,
          "keys must be a sequence of ints or an integer array, not " + a_type(object));
  }
  if (k != "i" && k != "u") {
    Ref name = check(PyObject_Str(dtype.get()));
    raise(PyExc_TypeError, "keys must have an integer dtype (signed or unsigned), not " +
                               std::string(to_text(name.get())));
  }
  Ref dimensions = check(PyObject_GetAttrString(array.get(), "ndim"));
  long ndim = PyLong_AsLong(dimensions.get());
  if (ndim != 1) {
    raise(PyExc_ValueError,
          "keys must be 1-dimensional, not " + std::to_string(ndim) + "-dimensional");
  }
  // Read through Python ints: exact for every width, and out of range named.
  Ref list = check(PyObject_CallMethod(array.get(), "tolist", nullptr));
  return read_keys(numpy, list.get());
}

std::uint64_t read_limit(PyObject* object) {
  if (object == nullptr || object == Py_None) return LshIndex::kNoLimit;
  return read_count_argument(object, "limit");
}

PyObject* int64_array(PyObject* numpy, const std::vector<std::int64_t>& values) {
  Array out(numpy, {Py_ssize_t(values.size())}, named_dtype(numpy, "int64"));
  std::copy(values.begin(), values.end(), out.data_as<std::int64_t>());
  return out.release();
}

// The path as the system takes it (str, bytes or os.PathLike), and the
// object to name in errors.
std::pair<std::string, Ref> read_path(PyObject* object) {
  Ref path = with_note("path", [&] { return check(PyOS_FSPath(object)); });
  PyObject* bytes = nullptr;
  if (!PyUnicode_FSConverter(path.get(), &bytes)) raise_with_note("path");
  Ref owned = Ref::steal(bytes);
  return {std::string(PyBytes_AS_STRING(bytes), std::size_t(PyBytes_GET_SIZE(bytes))),
          std::move(path)};
}

[[noreturn]] void raise_file_error(const batch::FileError& error, PyObject* path) {
  Ref name =
      path != nullptr ? Ref::borrow(path) : check(PyUnicode_DecodeFSDefault(error.path.c_str()));
  errno = error.error;
  PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, name.get());
  throw ErrorAlreadySet{};
}

[[noreturn]] void raise_refused(const batch::KeyRefused& refused) {
  std::string key = std::to_string(refused.key);
  switch (refused.reason) {
    case batch::KeyRefused::Reason::Present:
      raise(PyExc_ValueError, "key " + key + " is already in the index");
    case batch::KeyRefused::Reason::Repeated:
      raise(PyExc_ValueError, "key " + key + " appears twice in keys");
    case batch::KeyRefused::Reason::Unknown: {
      Ref value = check(PyLong_FromLongLong(refused.key));
      PyErr_SetObject(PyExc_KeyError, value.get());
      throw ErrorAlreadySet{};
    }
  }
  throw InternalFault("a key refused for no reason");
}

// The signatures argument, read as lsh_pairs reads it, with its note.
struct SignatureArgument {
  SignatureArgument(PyObject* numpy, PyObject* object) {
    with_note("signatures", [&] { matrix.emplace(numpy, object); });
  }
  batch::Signatures get() const { return matrix->signatures(); }
  std::optional<SignatureMatrix> matrix;
};

std::string values_text(std::size_t count) {
  return std::to_string(count) + (count == 1 ? " value" : " values");
}

// Signatures too short for the index's bands.
void check_bands(const LshIndex& index, const SignatureArgument& signatures) {
  if (signatures.matrix->no_length()) return;
  std::size_t length = signatures.get().length;
  if (length < index.bands() * index.rows()) {
    raise(PyExc_ValueError, "signatures have " + values_text(length) +
                                ", fewer than the index's bands * rows (" +
                                std::to_string(index.bands() * index.rows()) + ")");
  }
}

bool small_work(const batch::Signatures& s) {
  return s.count <= 256 && s.count * s.length <= 16384;
}

PyObject* add_impl(PyObject* self, PyObject* signatures_object, PyObject* keys_object,
                   PyObject* workers_object) {
  Ref numpy = import_numpy();
  SignatureArgument signatures(numpy.get(), signatures_object);
  std::optional<std::vector<std::int64_t>> keys;
  if (keys_object != nullptr && keys_object != Py_None) {
    keys = with_note("keys", [&] { return read_keys(numpy.get(), keys_object); });
  }
  long workers = read_workers_argument(workers_object);
  batch::Signatures s = signatures.get();
  if (keys && keys->size() != s.count) {
    raise(PyExc_ValueError,
          "keys must hold one key per signature: " + std::to_string(keys->size()) + " keys for " +
              std::to_string(s.count) + " signatures");
  }
  Shared& shared = shared_of(self);
  auto lock = locked<Writing>(shared.lock);
  LshIndex& index = shared.index;
  check_bands(index, signatures);
  if (!signatures.matrix->no_length() && index.length() != 0 && s.length != index.length()) {
    raise(PyExc_ValueError, "signatures have " + values_text(s.length) + " and the index's " +
                                std::to_string(index.length()));
  }
  if (s.count == 0) return Py_NewRef(Py_None);
  if (s.count > LshIndex::kMaxDocuments - index.size()) {
    raise(PyExc_ValueError,
          "an index holds at most " + std::to_string(LshIndex::kMaxDocuments) + " documents");
  }
  if (!keys) {
    keys.emplace(s.count);
    for (std::size_t i = 0; i < s.count; ++i) (*keys)[i] = std::int64_t(index.size() + i);
  }
  try {
    run_released(
        batch::worker_count(workers, index.bands() + 1),
        [&](const batch::Pool& pool) { index.add(s, keys->data(), pool); }, small_work(s));
  } catch (const batch::KeyRefused& refused) {
    raise_refused(refused);
  }
  return Py_NewRef(Py_None);
}

PyObject* query_impl(PyObject* self, PyObject* signatures_object, PyObject* limit_object,
                     PyObject* workers_object) {
  Ref numpy = import_numpy();
  SignatureArgument signatures(numpy.get(), signatures_object);
  std::uint64_t limit = read_limit(limit_object);
  long workers = read_workers_argument(workers_object);
  batch::Signatures s = signatures.get();
  LshIndex::Matches matches;
  {
    Shared& shared = shared_of(self);
    auto lock = locked<Reading>(shared.lock);
    check_bands(shared.index, signatures);
    run_released(
        batch::worker_count(workers, s.count / 64 + 1),
        [&](const batch::Pool& pool) { matches = shared.index.query(s, limit, pool); },
        small_work(s));
  }
  signatures.matrix.reset();
  Ref rows = Ref::steal(int64_array(numpy.get(), matches.rows));
  std::vector<std::int64_t>().swap(matches.rows);
  Ref keys = Ref::steal(int64_array(numpy.get(), matches.keys));
  return check(PyTuple_Pack(2, rows.get(), keys.get())).release();
}

PyObject* query_pairs_impl(PyObject* self, PyObject* workers_object) {
  long workers = read_workers_argument(workers_object);
  Ref numpy = import_numpy();
  std::optional<batch::LshIndexPairs> found;
  unsigned threads = 1;
  bool small = true;
  {
    Shared& shared = shared_of(self);
    auto lock = locked<Reading>(shared.lock);
    const LshIndex& index = shared.index;
    threads =
        batch::worker_count(workers, std::max<std::size_t>(index.bands(), index.size() / 64 + 1));
    small = small_work(index.signatures());
    run_released(
        threads, [&](const batch::Pool& pool) { found.emplace(index, pool); }, small);
  }
  return pair_arrays(numpy.get(), found->size(), threads, small && found->size() <= 4096,
                     [&](std::int64_t* first, std::int64_t* second, const batch::Pool& pool) {
                       found->write(first, second, pool);
                     });
}

PyObject* remove_impl(PyObject* self, PyObject* keys_object) {
  Ref numpy = import_numpy();
  std::vector<std::int64_t> keys =
      with_note("keys", [&] { return read_keys(numpy.get(), keys_object); });
  Shared& shared = shared_of(self);
  auto lock = locked<Writing>(shared.lock);
  try {
    run_released(
        1, [&](const batch::Pool&) { shared.index.remove(keys); }, keys.size() <= 4096);
  } catch (const batch::KeyRefused& refused) {
    raise_refused(refused);
  }
  return Py_NewRef(Py_None);
}

PyObject* signature_impl(PyObject* self, PyObject* key_object) {
  std::int64_t key = with_note("key", [&] { return read_key(key_object, "key"); });
  std::vector<std::uint64_t> values;
  bool held = false;
  {
    Shared& shared = shared_of(self);
    auto lock = locked<Reading>(shared.lock);
    if (const std::uint64_t* found = shared.index.signature(key)) {
      values.assign(found, found + shared.index.length());
      held = true;
    }
  }
  if (!held) {
    Ref value = check(PyLong_FromLongLong(key));
    PyErr_SetObject(PyExc_KeyError, value.get());
    throw ErrorAlreadySet{};
  }
  Ref numpy = import_numpy();
  Array out(numpy.get(), {Py_ssize_t(values.size())}, named_dtype(numpy.get(), "uint64"));
  std::copy(values.begin(), values.end(), out.data_as<std::uint64_t>());
  return out.release();
}

PyObject* save_impl(PyObject* self, PyObject* path_object) {
  // Named, not a structured binding: lambdas below capture the path, which
  // older clang refuses for bindings.
  auto read = read_path(path_object);
  const std::string& path = read.first;
  const Ref& name = read.second;
  Shared& shared = shared_of(self);
  auto lock = locked<Reading>(shared.lock);
  try {
    run_released(1, [&](const batch::Pool&) { batch::save_lsh_index(shared.index, path); });
  } catch (const batch::FileError& error) {
    raise_file_error(error, error.path == path ? name.get() : nullptr);
  }
  return Py_NewRef(Py_None);
}

PyObject* wrap(PyTypeObject* type, LshIndex index) {
  Ref self = check(type->tp_alloc(type, 0));
  reinterpret_cast<IndexObject*>(self.get())->shared = new Shared{{}, std::move(index)};
  return self.release();
}

PyObject* load_impl(PyObject* type, PyObject* path_object, PyObject* workers_object) {
  auto read = read_path(path_object);  // as in save_impl
  const std::string& path = read.first;
  const Ref& name = read.second;
  long workers = read_workers_argument(workers_object);
  std::optional<LshIndex> index;
  try {
    run_released(batch::worker_count(workers, 64), [&](const batch::Pool& pool) {
      index.emplace(batch::load_lsh_index(path, pool));
    });
  } catch (const batch::FileError& error) {
    raise_file_error(error, error.path == path ? name.get() : nullptr);
  } catch (const batch::BadIndexFile& bad) {
    PyErr_Format(PyExc_ValueError, "cannot load %R: %s", name.get(), bad.reason.c_str());
    throw ErrorAlreadySet{};
  }
  return wrap(reinterpret_cast<PyTypeObject*>(type), std::move(*index));
}

// Private, for benchmarks: the bytes of the tables and keys, besides the
// signatures.
PyObject* table_bytes_impl(PyObject* self) {
  Shared& shared = shared_of(self);
  auto lock = locked<Reading>(shared.lock);
  return PyLong_FromSize_t(shared.index.table_bytes());
}

constexpr const char* kOwner = "LSHIndex";

constexpr Callable kMethods[] = {
    {"add",
     {object("signatures"), object("keys", "None"), keyword("workers", "1")},
     [](PyObject* self, A x) {
       return out_of_memory_raised(
           "LSHIndex.add", [&] { return add_impl(self, x.object(0), x.object(1), x.object(2)); });
     },
     kOwner,
     stub_docs::LSHIndex_add},
    {"query",
     {object("signatures"), keyword("limit", "None"), keyword("workers", "1")},
     [](PyObject* self, A x) {
       return out_of_memory_raised("LSHIndex.query", [&] {
         return query_impl(self, x.object(0), x.object(1), x.object(2));
       });
     },
     kOwner,
     stub_docs::LSHIndex_query},
    {"query_pairs",
     {keyword("workers", "1")},
     [](PyObject* self, A x) {
       return out_of_memory_raised("LSHIndex.query_pairs",
                                   [&] { return query_pairs_impl(self, x.object(0)); });
     },
     kOwner,
     stub_docs::LSHIndex_query_pairs},
    {"remove",
     {object("keys")},
     [](PyObject* self, A x) {
       return out_of_memory_raised("LSHIndex.remove",
                                   [&] { return remove_impl(self, x.object(0)); });
     },
     kOwner,
     stub_docs::LSHIndex_remove},
    {"signature",
     {object("key")},
     [](PyObject* self, A x) { return signature_impl(self, x.object(0)); },
     kOwner,
     stub_docs::LSHIndex_signature},
    {"save",
     {object("path")},
     [](PyObject* self, A x) {
       return out_of_memory_raised("LSHIndex.save", [&] { return save_impl(self, x.object(0)); });
     },
     kOwner,
     stub_docs::LSHIndex_save},
    {"load",
     {object("path"), keyword("workers", "1")},
     [](PyObject* type, A x) {
       return out_of_memory_raised("LSHIndex.load",
                                   [&] { return load_impl(type, x.object(0), x.object(1)); });
     },
     kOwner,
     stub_docs::LSHIndex_load},
    {"_table_bytes",
     {},
     [](PyObject* self, A) { return table_bytes_impl(self); },
     kOwner,
     "Private: the bytes of the index's tables and keys, besides its signatures."},
};

constexpr Callable kConstructor{"__new__", {keyword("bands"), keyword("rows")}, nullptr, kOwner};

PyObject* new_index(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded([&] {
    PyObject* bound[kMaxParams] = {};
    bind_tuple(kConstructor, args, kwargs, bound);
    std::uint64_t bands = read_count_argument(bound[0], "bands");
    std::uint64_t rows = read_count_argument(bound[1], "rows");
    if (bands == 0 || rows == 0 || rows > LshIndex::kMaxBandValues / bands) {
      raise(PyExc_ValueError, "bands and rows must be positive with bands * rows at most 2**32");
    }
    return wrap(type, LshIndex(bands, rows));
  });
}

void dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  delete reinterpret_cast<IndexObject*>(self)->shared;
  type->tp_free(self);
  Py_DECREF(type);
}

// A slot's body, with any C++ exception raised as an internal fault.
template <class Body>
auto slot_guarded(Body&& body) noexcept -> decltype(body()) {
  try {
    return body();
  } catch (const ErrorAlreadySet&) {
  } catch (const std::exception& e) {
    raise_panic(e.what());
  } catch (...) {
    raise_panic("unknown internal fault");
  }
  return -1;
}

Py_ssize_t length(PyObject* self) {
  return slot_guarded([&] {
    Shared& shared = shared_of(self);
    auto lock = locked<Reading>(shared.lock);
    return Py_ssize_t(shared.index.size());
  });
}

int contains(PyObject* self, PyObject* key) {
  return slot_guarded([&] {
    Ref index;
    if (!PyLong_Check(key)) {
      if (!PyIndex_Check(key)) return 0;  // held under ints only
      index = check(PyNumber_Index(key));
      key = index.get();
    }
    int overflow = 0;
    long long value = PyLong_AsLongLongAndOverflow(key, &overflow);
    if (value == -1 && PyErr_Occurred()) throw ErrorAlreadySet{};
    if (overflow != 0) return 0;
    Shared& shared = shared_of(self);
    auto lock = locked<Reading>(shared.lock);
    return shared.index.contains(value) ? 1 : 0;
  });
}

PyObject* repr(PyObject* self) {
  return guarded([&] {
    Shared& shared = shared_of(self);
    std::size_t size = 0;
    {
      auto lock = locked<Reading>(shared.lock);
      size = shared.index.size();
    }
    return PyUnicode_FromFormat("<kivo.batch.LSHIndex bands=%zu rows=%zu, %zu documents>",
                                shared.index.bands(), shared.index.rows(), size);
  });
}

PyObject* get_bands(PyObject* self, void*) {
  return PyLong_FromSize_t(shared_of(self).index.bands());
}
PyObject* get_rows(PyObject* self, void*) {
  return PyLong_FromSize_t(shared_of(self).index.rows());
}

PyGetSetDef kGetters[] = {
    {"bands", &get_bands, nullptr, "The number of bands.", nullptr},
    {"rows", &get_rows, nullptr, "The number of values in each band.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef* methods() {
  static PyMethodDef* defs = [] {
    PyMethodDef* out = method_defs<kMethods>();
    for (PyMethodDef* def = out; def->ml_name != nullptr; ++def) {
      if (std::string_view(def->ml_name) == "load") def->ml_flags |= METH_CLASS;
    }
    return out;
  }();
  return defs;
}

}  // namespace

PyTypeObject* lsh_index_type() {
  static Once<PyTypeObject> type;
  return type.get([] {
    static const std::string doc =
        std::string("LSHIndex(*, bands, rows)\n--\n\n") + stub_docs::LSHIndex;
    PyType_Slot slots[] = {
        {Py_tp_new, reinterpret_cast<void*>(&new_index)},
        {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc)},
        {Py_tp_repr, reinterpret_cast<void*>(&repr)},
        {Py_tp_methods, methods()},
        {Py_tp_getset, kGetters},
        {Py_sq_length, reinterpret_cast<void*>(&length)},
        {Py_sq_contains, reinterpret_cast<void*>(&contains)},
        {Py_tp_doc, const_cast<char*>(doc.c_str())},
        {0, nullptr},
    };
    PyType_Spec spec = {"kivo.batch.LSHIndex", int(sizeof(IndexObject)), 0,
                        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE, slots};
    return reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&spec));
  });
}

}  // namespace kivo::py
