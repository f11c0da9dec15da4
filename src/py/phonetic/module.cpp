// The kivo.phonetic module: phonetic keys of names. It lives in kivo's own
// shared object, beside kivo and kivo.batch, which takes its key functions
// as encoders.
#include <Python.h>

#include <array>
#include <string>
#include <string_view>

#include "algo/phonetic/phonetic.hpp"
#include "py/binder.hpp"
#include "py/phonetic/encoders.hpp"
#include "py/phonetic/stub_docs.hpp"
#include "py/results.hpp"
#include "py/submodule.hpp"
#include "text/latin_letters.hpp"

namespace kivo::py {
namespace {

using A = const Args&;
using phonetic::Encoder;

template <Encoder E>
PyObject* key(PyObject*, A x) {
  std::string letters, keys;
  std::size_t split = phonetic::encode_into(E, x.chars(0), letters, keys);
  if constexpr (E != Encoder::DoubleMetaphone) {
    return ascii_to_py(keys);
  } else {
    std::string_view both = keys;
    Ref primary = Ref::steal(ascii_to_py(both.substr(0, split)));
    Ref alternate = Ref::steal(ascii_to_py(both.substr(split)));
    return check(PyTuple_Pack(2, primary.get(), alternate.get())).release();
  }
}

PyObject* match_rating_comparison(PyObject*, A x) {
  std::string a = phonetic::key_of<phonetic::match_rating_codex>(latin_letters(x.chars(0)));
  std::string b = phonetic::key_of<phonetic::match_rating_codex>(latin_letters(x.chars(1)));
  std::optional<bool> matched = phonetic::match_rating_comparison(a, b);
  return matched ? to_py(*matched) : Py_NewRef(Py_None);
}

// The key functions first, in the order of Encoder.
constexpr Callable kFunctions[] = {
    {"soundex", {chars("text")}, &key<Encoder::Soundex>, nullptr, phonetic_docs::soundex},
    {"nysiis", {chars("text")}, &key<Encoder::Nysiis>, nullptr, phonetic_docs::nysiis},
    {"metaphone", {chars("text")}, &key<Encoder::Metaphone>, nullptr, phonetic_docs::metaphone},
    {"double_metaphone",
     {chars("text")},
     &key<Encoder::DoubleMetaphone>,
     nullptr,
     phonetic_docs::double_metaphone},
    {"match_rating_codex",
     {chars("text")},
     &key<Encoder::MatchRatingCodex>,
     nullptr,
     phonetic_docs::match_rating_codex},
    {"match_rating_comparison",
     {chars("a"), chars("b")},
     &match_rating_comparison,
     nullptr,
     phonetic_docs::match_rating_comparison},
};
constexpr std::array kEncoders = {Encoder::Soundex, Encoder::Nysiis, Encoder::Metaphone,
                                  Encoder::DoubleMetaphone, Encoder::MatchRatingCodex};

}  // namespace

std::optional<phonetic::Encoder> encoder_of(PyObject* function) {
  if (!PyCFunction_Check(function)) return std::nullopt;
  PyCFunction entry = PyCFunction_GET_FUNCTION(function);
  const PyMethodDef* defs = method_defs<kFunctions>();
  for (std::size_t i = 0; i < kEncoders.size(); ++i) {
    if (defs[i].ml_meth == entry) return kEncoders[i];
  }
  return std::nullopt;
}

}  // namespace kivo::py

// Found by the loader of kivo.phonetic (kivo/phonetic.py) in kivo's shared object.
PyMODINIT_FUNC PyInit_phonetic() {
  return kivo::py::submodule<kivo::py::kFunctions>("kivo.phonetic",
                                                   kivo::py::phonetic_docs::module);
}
