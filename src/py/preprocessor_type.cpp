// The Python class Preprocessor: an immutable PreprocessConfig in builder
// style. Every with_... returns a new object; process runs the pipeline.
#include "py/classes.hpp"
#include "py/once.hpp"
#include "py/results.hpp"
#include "py/value_class.hpp"
#include "text/pipeline.hpp"

namespace kivo::py {
namespace {

using A = const Args&;
using Config = PreprocessorValue;

// A copy of self's configuration with one change applied.
template <class Change>
PyObject* with(PyObject* self, Change change) {
  Config config = value_of<Config>(self);
  change(config);
  return rewrap(self, std::move(config));
}

constexpr Callable kMethods[] = {
    {"with_lowercase",
     {flag("v")},
     [](PyObject* self, A x) {
       return with(self, [v = x.boolean(0)](Config& c) { c.lowercase = v; });
     },
     "Preprocessor"},
    {"with_collapse_whitespace",
     {flag("v")},
     [](PyObject* self, A x) {
       return with(self, [v = x.boolean(0)](Config& c) { c.collapse_whitespace = v; });
     },
     "Preprocessor"},
    {"with_trim",
     {flag("v")},
     [](PyObject* self, A x) { return with(self, [v = x.boolean(0)](Config& c) { c.trim = v; }); },
     "Preprocessor"},
    {"with_normalize_unicode",
     {flag("v")},
     [](PyObject* self, A x) {
       return with(self, [v = x.boolean(0)](Config& c) { c.normalize_unicode = v; });
     },
     "Preprocessor"},
    {"with_remove_stopwords",
     {flag("v")},
     [](PyObject* self, A x) {
       return with(self, [v = x.boolean(0)](Config& c) { c.remove_stopwords = v; });
     },
     "Preprocessor"},
    {"with_stopwords",
     {texts("words")},
     [](PyObject* self, A x) {
       return with(self, [list = StopwordList(x.str_list(0))](Config& c) { c.stopwords = list; });
     },
     "Preprocessor"},
    {"with_max_length",
     {uint("max")},
     [](PyObject* self, A x) {
       return with(self, [v = x.u64(0)](Config& c) { c.max_length = v; });
     },
     "Preprocessor"},
    {"process",
     {text("text")},
     [](PyObject* self, A x) { return to_py(preprocess_text(x.str(0), value_of<Config>(self))); },
     "Preprocessor"},
};

constexpr Callable kConstructor{"__new__", {}, nullptr, "Preprocessor"};

PyObject* repr(PyObject* self) {
  return guarded([&] {
    const Config& config = value_of<Config>(self);
    std::string text = std::string("Preprocessor(lowercase=") +
                       (config.lowercase ? "true" : "false") +
                       ", stopwords=" + (config.remove_stopwords ? "true" : "false") + ")";
    return to_py(text);
  });
}

}  // namespace

PyTypeObject* preprocessor_type() {
  static Once<PyTypeObject> type;
  return type.get([] {
    return make_value_type<Config>("kivo.Preprocessor", "Preprocessor()\n--\n\n",
                                   method_defs<kMethods>(), &repr,
                                   &new_default<Config, kConstructor>);
  });
}

}  // namespace kivo::py
