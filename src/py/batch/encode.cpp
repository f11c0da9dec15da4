// kivo.batch.encode: kivo.phonetic's keys of many texts, computed without
// the interpreter lock. Each block of texts writes its keys into one buffer
// of its own; the strs are made once the computation is over, one per
// distinct key.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "algo/phonetic/phonetic.hpp"
#include "base/hashing.hpp"
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

// Equal keys share one object (a str, or the pair's tuple): names repeat, and
// so do their keys, so most of a long list's keys are made once. Keyed by a
// random key, so crafted names cannot pile their keys onto one probe chain.
class SharedKeys {
 public:
  SharedKeys() : seed_(random_table_key()), slots_(64) {}
  SharedKeys(const SharedKeys&) = delete;
  SharedKeys& operator=(const SharedKeys&) = delete;
  ~SharedKeys() {
    for (Slot& slot : slots_) Py_XDECREF(slot.object);
  }

  // A new reference to the object of the keys chars[0, split) and
  // chars[split, end), made by `make` the first time they are seen.
  template <class Make>
  PyObject* get(std::string_view chars, std::size_t split, Make&& make) {
    if (2 * (count_ + 1) > slots_.size()) grow();
    std::uint64_t hash = keyed_hash(seed_, split, chars);
    std::size_t mask = slots_.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
      Slot& slot = slots_[i];
      if (slot.object == nullptr) {
        slot = {chars, split, hash, make()};
        ++count_;
        return Py_NewRef(slot.object);
      }
      if (slot.hash == hash && slot.split == split && slot.chars == chars) {
        return Py_NewRef(slot.object);
      }
    }
  }

 private:
  struct Slot {
    std::string_view chars;
    std::size_t split = 0;
    std::uint64_t hash = 0;
    PyObject* object = nullptr;
  };

  void grow() {
    std::vector<Slot> old(slots_.size() * 2);
    old.swap(slots_);
    std::size_t mask = slots_.size() - 1;
    for (const Slot& slot : old) {
      if (slot.object == nullptr) continue;
      std::size_t i = slot.hash & mask;
      while (slots_[i].object != nullptr) i = (i + 1) & mask;
      slots_[i] = slot;
    }
  }

  std::uint64_t seed_;
  std::vector<Slot> slots_;
  std::size_t count_ = 0;
};

}  // namespace

PyObject* encode_impl(PyObject* texts_object, PyObject* encoder_object, PyObject* workers_object) {
  phonetic::Encoder encoder = with_note("encoder", [&] { return resolve_encoder(encoder_object); });
  TextList texts =
      with_note("texts", [&] { return read_batch_texts(texts_object, Nulls::Refused); });
  texts.decode_units();
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
  SharedKeys shared;
  Py_ssize_t i = 0;
  for (const KeyBlock& block : blocks) {
    std::string_view chars = block.chars;
    std::size_t start = 0;
    for (std::size_t k = 0; k < block.ends.size(); k += pairs ? 2 : 1) {
      std::size_t split = block.ends[k] - start;
      std::size_t end = block.ends[pairs ? k + 1 : k];
      std::string_view both = chars.substr(start, end - start);
      PyList_SET_ITEM(list.get(), i++, shared.get(both, split, [&] {
        if (!pairs) return ascii_str(both);
        Ref primary = Ref::steal(ascii_str(both.substr(0, split)));
        Ref alternate = Ref::steal(ascii_str(both.substr(split)));
        return check(PyTuple_Pack(2, primary.get(), alternate.get())).release();
      }));
      start = end;
    }
  }
  return list.release();
}

}  // namespace kivo::py
