// kivo.batch.encode: kivo.phonetic's keys of many texts, computed without
// the interpreter lock. Each block of texts writes its keys into one buffer
// of its own; the strs are made once the computation is over.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "algo/phonetic/phonetic.hpp"
#include "py/batch/functions.hpp"
#include "py/batch/run.hpp"
#include "py/convert.hpp"
#include "py/guard.hpp"
#include "py/phonetic/encoders.hpp"
#include "py/text_lists.hpp"

namespace kivo::py {

namespace {

constexpr std::size_t kTextsPerBlock = 2048;

// The keys of one block of texts, back to back: key k is chars[ends[k-1], ends[k]).
struct KeyBlock {
  std::string chars;
  std::vector<std::size_t> ends;
};

phonetic::Encoder resolve_encoder(PyObject* encoder) {
  if (std::optional<phonetic::Encoder> found = encoder_of(encoder)) return *found;
  raise(PyExc_TypeError,
        "encoder must be one of kivo.phonetic's key functions (soundex, nysiis, metaphone, "
        "double_metaphone, match_rating_codex), not '" +
            qualified_type_name(encoder) + "'");
}

// A key is ASCII: a compact str is made and filled in place.
PyObject* ascii_str(std::string_view key) {
  PyObject* str = result(PyUnicode_New(Py_ssize_t(key.size()), 127));
  std::memcpy(PyUnicode_DATA(str), key.data(), key.size());
  return str;
}

}  // namespace

PyObject* encode_impl(PyObject* texts_object, PyObject* encoder_object, PyObject* workers_object) {
  phonetic::Encoder encoder = with_note("encoder", [&] { return resolve_encoder(encoder_object); });
  TextList texts = with_note("texts", [&] { return read_texts(texts_object); });
  long workers = read_workers_argument(workers_object);
  bool pairs = encoder == phonetic::Encoder::DoubleMetaphone;
  std::size_t count = texts.sources.size();
  std::vector<KeyBlock> blocks((count + kTextsPerBlock - 1) / kTextsPerBlock);
  run_released(
      batch::worker_count(workers, blocks.size()),
      [&](const batch::Pool& pool) {
        pool.for_each(blocks.size(), [&](std::size_t b) {
          KeyBlock& block = blocks[b];
          std::size_t end = std::min(count, (b + 1) * kTextsPerBlock);
          block.ends.reserve((end - b * kTextsPerBlock) * (pairs ? 2 : 1));
          for (std::size_t i = b * kTextsPerBlock; i < end; ++i) {
            phonetic::Key key = phonetic::encode(encoder, texts.sources[i].units);
            block.chars += key.primary;
            block.ends.push_back(block.chars.size());
            if (!pairs) continue;
            block.chars += key.alternate;
            block.ends.push_back(block.chars.size());
          }
        });
      },
      small_work(count, texts.characters()));

  Ref list = check(PyList_New(Py_ssize_t(count)));
  Py_ssize_t i = 0;
  for (const KeyBlock& block : blocks) {
    std::string_view chars = block.chars;
    std::size_t start = 0;
    for (std::size_t k = 0; k < block.ends.size();) {
      Ref primary = Ref::steal(ascii_str(chars.substr(start, block.ends[k] - start)));
      start = block.ends[k++];
      if (!pairs) {
        PyList_SET_ITEM(list.get(), i++, primary.release());
        continue;
      }
      Ref alternate = Ref::steal(ascii_str(chars.substr(start, block.ends[k] - start)));
      start = block.ends[k++];
      PyList_SET_ITEM(list.get(), i++, check(PyTuple_Pack(2, primary.get(), alternate.get())).release());
    }
  }
  return list.release();
}

}  // namespace kivo::py
