// kivo.batch.encode: kivo.phonetic's keys of many texts, computed without
// the interpreter lock a chunk of texts at a time: a list or tuple is read
// item by item as the chunks go (no copy of it, no record of every text
// kept), and each chunk's keys become strs before the next is read, one
// per distinct key of the whole call.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "algo/phonetic/phonetic.hpp"
#include "base/hashing.hpp"
#include "py/batch/functions.hpp"
#include "py/batch/run.hpp"
#include "py/convert.hpp"
#include "py/guard.hpp"
#include "py/phonetic/encoders.hpp"
#include "py/results.hpp"
#include "py/text_lists.hpp"

namespace kivo::py {

namespace {

constexpr std::size_t kTextsPerBlock = 2048;
// Zero bytes after a block's keys: SharedKeys reads 16 bytes from the start
// of every key, however short.
constexpr std::size_t kKeyPadding = 16;
// Texts per chunk: a few blocks for each worker.
constexpr std::size_t kBlocksPerChunk = 4;
// A chunk with more characters than this runs where Ctrl-C can stop it.
constexpr std::size_t kSmallChunkCharacters = std::size_t(1) << 20;

phonetic::Encoder resolve_encoder(PyObject* encoder) {
  if (std::optional<phonetic::Encoder> found = encoder_of(encoder)) return *found;
  raise(PyExc_TypeError,
        "encoder must be one of kivo.phonetic's key functions (soundex, nysiis, metaphone, "
        "double_metaphone, match_rating_codex), not '" +
            qualified_type_name(encoder) + "'");
}

// Equal keys share one object (a str, or the pair's tuple): names repeat, and
// so do their keys, so most of a long list's keys are made once. Keyed by a
// random key, so crafted names cannot pile their keys onto one probe chain.
// Keys of up to 16 bytes (nearly all) are held and compared as two words;
// longer ones are copied into a buffer of its own.
class SharedKeys {
 public:
  SharedKeys() : seed_(random_table_key()), second_seed_(random_table_key()), slots_(64) {}
  SharedKeys(const SharedKeys&) = delete;
  SharedKeys& operator=(const SharedKeys&) = delete;
  ~SharedKeys() {
    for (Slot& slot : slots_) Py_XDECREF(slot.object);
  }

  // A new reference to the object of the keys chars[0, split) and
  // chars[split, end), made by `make` the first time they are seen (every
  // time, once sharing is off).
  template <class Make>
  PyObject* get(std::string_view chars, std::size_t split, Make&& make) {
    if (!on_) return make();
    ++lookups_;
    if (2 * (count_ + 1) > slots_.size()) grow();
    Slot key = slot_of(chars, split);
    std::size_t mask = slots_.size() - 1;
    for (std::size_t i = key.hash & mask;; i = (i + 1) & mask) {
      Slot& slot = slots_[i];
      if (slot.object == nullptr) {
        if (chars.size() > 16) {
          key.long_at = long_keys_.size();
          long_keys_ += chars;
        }
        key.object = make();
        slot = key;
        ++count_;
        return Py_NewRef(slot.object);
      }
      if (slot.hash == key.hash && slot.shape == key.shape && slot.low == key.low &&
          slot.high == key.high &&
          (chars.size() <= 16 || long_keys_.compare(slot.long_at, chars.size(), chars) == 0)) {
        ++hits_;
        return Py_NewRef(slot.object);
      }
    }
  }

  // Whether equal keys still share one object.
  bool on() const { return on_; }
  // After each chunk: keys that rarely repeat (distinct names) would only
  // fill the table and miss the cache, so sharing stops for the call.
  void review() {
    if (on_ && lookups_ > 0 && hits_ * kLeastHits < lookups_) on_ = false;
    hits_ = lookups_ = 0;
  }

 private:
  static constexpr std::size_t kLeastHits = 4;  // one lookup in kLeastHits
  struct Slot {
    std::uint64_t low = 0, high = 0;  // the first 16 bytes, zero-padded
    std::uint64_t shape = 0;          // size and split
    std::uint64_t hash = 0;
    std::size_t long_at = 0;  // a longer key's place in long_keys_
    PyObject* object = nullptr;
  };

  // Short keys hash with one keyed multiply, inline. Two whole words are
  // read from where the key starts: its buffer has kKeyPadding bytes after
  // its end.
  Slot slot_of(std::string_view chars, std::size_t split) const {
    Slot key;
    std::size_t size = chars.size();
    std::memcpy(&key.low, chars.data(), 8);
    std::memcpy(&key.high, chars.data() + 8, 8);
    key.low &= size >= 8 ? ~std::uint64_t(0) : (std::uint64_t(1) << (8 * size)) - 1;
    key.high &= size >= 16  ? ~std::uint64_t(0)
                : size <= 8 ? 0
                            : (std::uint64_t(1) << (8 * (size - 8))) - 1;
    key.shape = std::uint64_t(size) << 32 | split;
    key.hash = size > 16
                   ? keyed_hash(seed_, split, chars)
                   : mix64(fold_multiply(key.low ^ seed_, key.high ^ second_seed_) ^ key.shape);
    return key;
  }

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
  std::uint64_t second_seed_;
  std::vector<Slot> slots_;
  std::size_t count_ = 0;
  std::string long_keys_;
  bool on_ = true;
  std::size_t lookups_ = 0, hits_ = 0;  // this chunk's
};

// The object of each name already keyed by this call: names repeat, so most
// of a long list's names skip their encoding. Read by the workers while the
// lock is released, added to only between chunks, under it. A name is its
// str's code units (one width per str, so equal names match): up to 16
// bytes (nearly all) held and compared as two words, longer ones copied.
// Past kMostNames no more are added.
class KnownNames {
 public:
  static constexpr std::size_t kMostNames = std::size_t(1) << 16;

  // A name as the table looks it up.
  struct Name {
    std::string_view bytes;
    std::uint64_t first = 0, last = 0;  // two words that fix up to 16 bytes
    std::uint64_t shape = 0;            // size and width
    std::uint64_t hash = 0;
  };

  KnownNames() : seed_(random_table_key()), second_seed_(random_table_key()), slots_(64) {}

  Name name(const CharSpan& text) const {
    Name name;
    name.bytes = {static_cast<const char*>(text.data), text.length * text.width};
    const char* p = name.bytes.data();
    std::size_t n = name.bytes.size();
    // Overlapping loads within the bytes: with the size they fix every byte.
    if (n >= 8) {
      std::memcpy(&name.first, p, 8);
      std::memcpy(&name.last, p + std::min<std::size_t>(n, 16) - 8, 8);
    } else if (n >= 4) {
      std::uint32_t first, last;
      std::memcpy(&first, p, 4);
      std::memcpy(&last, p + n - 4, 4);
      name.first = first;
      name.last = last;
    } else if (n > 0) {
      name.first = std::uint64_t(std::uint8_t(p[0])) | std::uint64_t(std::uint8_t(p[n / 2])) << 8 |
                   std::uint64_t(std::uint8_t(p[n - 1])) << 16;
    }
    name.shape = std::uint64_t(n) << 8 | text.width;
    name.hash =
        n > 16 ? keyed_hash(seed_, name.shape, name.bytes)
               : mix64(fold_multiply(name.first ^ seed_, name.last ^ second_seed_) ^ name.shape);
    return name;
  }
  // The object of `name` (borrowed), or null.
  PyObject* find(const Name& name) const {
    for (std::size_t i = name.hash & mask();; i = (i + 1) & mask()) {
      const Slot& slot = slots_[i];
      if (slot.object == nullptr) return nullptr;
      if (same(slot, name)) return slot.object;
    }
  }
  // Whether names are still looked up and added.
  bool on() const { return on_; }
  // After each chunk but the first (whose names could only repeat each
  // other): names that rarely repeat stop being looked up for the call.
  void review(std::size_t looked_up, std::size_t found) {
    if (on_ && reviews_++ > 0 && found * kLeastFound < looked_up) on_ = false;
  }

  // `object` outlives the table (the shared keys hold it).
  void add(const Name& name, PyObject* object) {
    if (!on_ || count_ == kMostNames) return;
    if (2 * (count_ + 1) > slots_.size()) grow();
    std::size_t i = name.hash & mask();
    for (; slots_[i].object != nullptr; i = (i + 1) & mask()) {
      if (same(slots_[i], name)) return;  // twice in one chunk
    }
    Slot& slot = slots_[i];
    slot = {name.first, name.last, name.shape, name.hash, 0, object};
    if (name.bytes.size() > 16) {
      slot.at = long_names_.size();
      long_names_ += name.bytes;
    }
    ++count_;
  }

 private:
  struct Slot {
    std::uint64_t first = 0, last = 0, shape = 0, hash = 0;
    std::size_t at = 0;  // a longer name's place in long_names_
    PyObject* object = nullptr;
  };

  bool same(const Slot& slot, const Name& name) const {
    return slot.hash == name.hash && slot.shape == name.shape && slot.first == name.first &&
           slot.last == name.last &&
           (name.bytes.size() <= 16 ||
            long_names_.compare(slot.at, name.bytes.size(), name.bytes) == 0);
  }
  std::size_t mask() const { return slots_.size() - 1; }
  void grow() {
    std::vector<Slot> old(slots_.size() * 2);
    old.swap(slots_);
    for (const Slot& slot : old) {
      if (slot.object == nullptr) continue;
      std::size_t i = slot.hash & mask();
      while (slots_[i].object != nullptr) i = (i + 1) & mask();
      slots_[i] = slot;
    }
  }

  static constexpr std::size_t kLeastFound = 4;  // one name in kLeastFound

  std::uint64_t seed_;
  std::uint64_t second_seed_;
  std::vector<Slot> slots_;  // at most half full
  std::string long_names_;
  std::size_t count_ = 0;
  bool on_ = true;
  std::size_t reviews_ = 0;
};

// The keys of one block of texts, back to back: key k is chars[ends[k-1], ends[k]).
struct KeyBlock {
  std::string chars;
  std::vector<std::size_t> ends;
  // Each text as a name, and its object when the name is known (the text
  // then adds no key).
  std::vector<KnownNames::Name> names;
  std::vector<PyObject*> known;
};

// The keys of one chunk of texts, computed without the interpreter lock,
// then put into the result list as shared objects.
class ChunkKeys {
 public:
  ChunkKeys(phonetic::Encoder encoder, long workers) : encoder_(encoder), workers_(workers) {}

  std::size_t chunk_size() const {
    return kTextsPerBlock * kBlocksPerChunk * batch::worker_count(workers_, kBlocksPerChunk);
  }

  void compute(std::span<const batch::SourceText> texts) {
    std::size_t count = (texts.size() + kTextsPerBlock - 1) / kTextsPerBlock;
    if (blocks_.size() < count) blocks_.resize(count);
    blocks_used_ = count;
    std::size_t characters = 0;
    for (const batch::SourceText& text : texts) characters += text.units.length;
    bool pairs = pairs_();
    bool look_up = names_.on();
    run_released(
        batch::worker_count(workers_, count),
        [&](const batch::Pool& pool) {
          pool.for_each(count, [&](std::size_t b) {
            KeyBlock& block = blocks_[b];
            block.chars.clear();
            block.ends.clear();
            block.names.clear();
            block.known.clear();
            std::size_t end = std::min(texts.size(), (b + 1) * kTextsPerBlock);
            std::string letters;
            for (std::size_t i = b * kTextsPerBlock; i < end; ++i) {
              const CharSpan& name = texts[i].units;
              PyObject* known = nullptr;
              if (look_up) {
                block.names.push_back(names_.name(name));
                known = names_.find(block.names.back());
              }
              block.known.push_back(known);
              if (known != nullptr) continue;
              std::size_t split = phonetic::encode_into(encoder_, name, letters, block.chars);
              if (pairs) block.ends.push_back(split);
              block.ends.push_back(block.chars.size());
            }
            block.chars.append(kKeyPadding, '\0');
          });
        },
        workers_ == 1 && characters <= kSmallChunkCharacters);
  }

  // Sets the keys of the chunk's texts into `list` from position `at`.
  void put(PyObject* list, std::size_t at) {
    bool pairs = pairs_();
    // Names are added only while their objects are shared: the shared keys
    // hold what the names point to.
    bool add_names = names_.on() && shared_.on();
    std::size_t texts = 0, found = 0;
    for (std::size_t b = 0; b < blocks_used_; ++b) {
      const KeyBlock& block = blocks_[b];
      std::string_view chars = block.chars;
      std::size_t start = 0, k = 0;
      texts += block.known.size();
      for (std::size_t t = 0; t < block.known.size(); ++t) {
        PyObject* object = block.known[t];
        if (object != nullptr) {
          ++found;
          PyList_SET_ITEM(list, Py_ssize_t(at++), Py_NewRef(object));
          continue;
        }
        std::size_t split = block.ends[k] - start;
        std::size_t end = block.ends[pairs ? k + 1 : k];
        k += pairs ? 2 : 1;
        std::string_view both = chars.substr(start, end - start);
        start = end;
        object = shared_.get(both, split, [&] {
          if (!pairs) return ascii_to_py(both);
          Ref primary = Ref::steal(ascii_to_py(both.substr(0, split)));
          Ref alternate = Ref::steal(ascii_to_py(both.substr(split)));
          return check(PyTuple_Pack(2, primary.get(), alternate.get())).release();
        });
        PyList_SET_ITEM(list, Py_ssize_t(at++), object);
        if (add_names) names_.add(block.names[t], object);
      }
    }
    if (names_.on()) names_.review(texts, found);
    shared_.review();
  }

 private:
  bool pairs_() const { return encoder_ == phonetic::Encoder::DoubleMetaphone; }

  phonetic::Encoder encoder_;
  long workers_;
  std::vector<KeyBlock> blocks_;  // reused from chunk to chunk
  std::size_t blocks_used_ = 0;
  SharedKeys shared_;  // holds the objects of names_, which it outlives
  KnownNames names_;
};

// Item i of a list or tuple, or null past a list's end.
Ref item_at(PyObject* sequence, std::size_t i) {
  if (PyTuple_CheckExact(sequence)) return Ref::borrow(PyTuple_GET_ITEM(sequence, Py_ssize_t(i)));
#ifdef Py_GIL_DISABLED
  // Other threads may change the list meanwhile: the item is taken under its lock.
  PyObject* item = PyList_GetItemRef(sequence, Py_ssize_t(i));
  if (item == nullptr) PyErr_Clear();
  return Ref::steal(item);
#else
  if (i >= std::size_t(PyList_GET_SIZE(sequence))) return Ref();
  return Ref::borrow(PyList_GET_ITEM(sequence, Py_ssize_t(i)));
#endif
}

// No garbage collection while the call runs: a collection triggered by the
// keys' objects would run Python code (weakref callbacks, finalizers), and a
// Ctrl-C landing there is reported as ignored and lost to the call. The
// objects made here hold no cycles.
class CollectionPaused {
 public:
  CollectionPaused() : was_enabled_(PyGC_Disable() != 0) {}
  CollectionPaused(const CollectionPaused&) = delete;
  CollectionPaused& operator=(const CollectionPaused&) = delete;
  ~CollectionPaused() {
    if (was_enabled_) PyGC_Enable();
  }

 private:
  bool was_enabled_;
};

}  // namespace

PyObject* encode_impl(PyObject* texts_object, PyObject* encoder_object, PyObject* workers_object) {
  CollectionPaused paused;
  phonetic::Encoder encoder = with_note("encoder", [&] { return resolve_encoder(encoder_object); });
  // Anything but a list or tuple is read at once, as every list of texts is.
  bool direct = PyList_CheckExact(texts_object) || PyTuple_CheckExact(texts_object);
  std::optional<TextList> texts;
  if (!direct) {
    texts = with_note("texts", [&] { return read_batch_texts(texts_object, Nulls::Refused); });
    texts->decode_units();
  }
  long workers = read_workers_argument(workers_object);
  std::size_t count = direct ? std::size_t(Py_SIZE(texts_object)) : texts->sources.size();
  Ref list = check(PyList_New(Py_ssize_t(count)));
  ChunkKeys keys(encoder, workers);
  std::vector<batch::SourceText> sources;
  std::vector<Ref> held;  // the chunk's strs, alive while the lock is released
  std::size_t done = 0;
  while (done < count) {
    std::size_t end = std::min(count, done + keys.chunk_size());
    std::span<const batch::SourceText> chunk;
    if (direct) {
      // A list may shrink while the lock is released: its size is read again.
      end = std::min(end, std::size_t(Py_SIZE(texts_object)));
      if (end <= done) break;
      sources.clear();
      held.clear();
      with_note("texts", [&] {
        for (std::size_t i = done; i < end; ++i) {
          Ref item = item_at(texts_object, i);
          if (!item) {  // shrunk by another thread
            end = i;
            break;
          }
          sources.push_back(text_item(item.get(), i));
          held.push_back(std::move(item));
        }
        return 0;
      });
      chunk = sources;
    } else {
      chunk = std::span(texts->sources).subspan(done, end - done);
    }
    if (!chunk.empty()) {
      keys.compute(chunk);
      keys.put(list.get(), done);
    }
    done = end;
    if (done < count && PyErr_CheckSignals() < 0) throw ErrorAlreadySet{};
  }
  // A list that shrank meanwhile has no items past its end: only those made stay.
  if (done < count) return check(PyList_GetSlice(list.get(), 0, Py_ssize_t(done))).release();
  return list.release();
}

}  // namespace kivo::py
