// A near-duplicate index that lasts: documents (an int64 key and a MinHash
// signature each) filed under every band of their signatures, as lsh_pairs
// bands them. Queries find the documents that share a band with new
// signatures; LshIndexPairs finds the candidate pairs of everything held,
// those of LshPairs over the same signatures.
//
// Per band, a tagged table maps each distinct band to one of its documents,
// and the documents of a band ring each other (a doubly linked cycle): a
// document costs 16 to 30 bytes a band, and adding or removing one costs a
// few probes a band, however large its buckets. Documents are held densely
// in slots: a removed one's slot takes the last document.
//
// Not thread-safe by itself: the owner lets queries share it and gives
// add() and remove() sole use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <span>
#include <utility>
#include <vector>

#include "base/huge_pages.hpp"
#include "batch/executor.hpp"
#include "batch/lsh.hpp"
#include "batch/signature_store.hpp"
#include "batch/tagged_table.hpp"

namespace kivo::batch {

// A key that refused a call, which then changed nothing.
struct KeyRefused {
  enum class Reason { Present, Repeated, Unknown };
  Reason reason;
  std::int64_t key;
};

class LshIndex {
 public:
  static constexpr std::size_t kMaxDocuments = (std::size_t(1) << 31) - 1;
  static constexpr std::size_t kNoLimit = std::numeric_limits<std::size_t>::max();
  static constexpr std::size_t kMaxBandValues = std::size_t(1) << 32;

  // bands and rows positive, their product at most kMaxBandValues.
  LshIndex(std::size_t bands, std::size_t rows);
  // The documents of a saved index: keys[i] is signatures row i. Throws
  // KeyRefused (Repeated) for a key held twice.
  LshIndex(std::size_t bands, std::size_t rows, SignatureStore signatures,
           std::vector<std::int64_t> keys, const Pool& pool);

  std::size_t bands() const { return bands_; }
  std::size_t rows() const { return rows_; }
  // Values a signature holds: set by the first add, 0 before it.
  std::size_t length() const { return store_.length(); }
  std::size_t size() const { return keys_.size(); }
  bool contains(std::int64_t key) const { return slot_of(key) != TaggedTable::kNoSlot; }
  // The signature of `key` (length() values), or null.
  const std::uint64_t* signature(std::int64_t key) const;
  // Keys and signatures by slot: in the order added, but that a removed
  // document's slot takes the last one.
  std::span<const std::int64_t> keys() const { return keys_; }
  Signatures signatures() const { return store_.view(size()); }
  // The memory of the tables and keys, besides the signatures.
  std::size_t table_bytes() const;

  // Files signatures row i under keys[i], for every row: all of them, or
  // (a key refused, memory running out, cancellation) none. The signatures
  // must have length() values, or at least bands * rows while none is held;
  // the index must stay within kMaxDocuments.
  void add(const Signatures& signatures, const std::int64_t* keys, const Pool& pool);
  // Removes the documents of `keys`: all of them, or (a key unknown or
  // listed twice, cancellation while they are checked) none.
  void remove(std::span<const std::int64_t> keys);

  // For each signature (at least bands * rows values), the keys of the
  // documents sharing a band with it, ascending; with a limit, only the
  // `limit` sharing the most bands (ties to the smaller key).
  struct Matches {
    std::vector<std::int64_t> rows;  // the signature of each match
    std::vector<std::int64_t> keys;
  };
  Matches query(const Signatures& signatures, std::size_t limit, const Pool& pool) const;

 private:
  struct Link {
    std::uint32_t next, prev;
  };
  // Marks a band table's entry whose document is alone in its bucket: a
  // query then looks at nothing more.
  static constexpr std::uint32_t kAlone = std::uint32_t(1) << 31;
  struct Band {
    TaggedTable table;  // a bucket's tag -> one of its documents' slots, maybe kAlone
    std::vector<Link, HugePageAllocator<Link>> links;
  };

  std::uint32_t slot_of(std::int64_t key) const;
  std::uint32_t band_tag(const std::uint64_t* values, std::size_t band) const;
  // Checks the keys of an add (before any change).
  void check_new_keys(const std::int64_t* keys, std::size_t count) const;
  void reserve(std::size_t count, const Pool& pool);
  // Files slots [first, first + count), already in keys_ and store_, under
  // every band and key; undoes it all if anything throws.
  void file(std::size_t first, std::size_t count, const Pool& pool);
  void file_band(std::size_t band, std::size_t first, std::size_t count, std::size_t& done);
  // Where the bucket of `slot` is in the band's table, if `head` is the
  // document its entry names; else kMissing.
  std::size_t bucket_of(std::size_t band, std::uint32_t slot, std::uint32_t head) const;
  void unfile(std::size_t band, std::uint32_t slot);
  void move_band(std::size_t band, std::uint32_t from, std::uint32_t to);
  void remove_slot(std::uint32_t slot);
  struct Scratch {  // a query task's own
    cancel::Meter meter;
    std::vector<std::uint32_t> tags;  // of every band of every row of the task
    std::vector<std::pair<std::int64_t, std::size_t>> found;
  };
  // The row whose tags start at tags[at_tag].
  void query_row(const std::uint64_t* signature, std::size_t at_tag, std::size_t limit,
                 Scratch& scratch, std::vector<std::int64_t>& out) const;

  std::size_t bands_;
  std::size_t rows_;
  SignatureStore store_;
  std::vector<std::int64_t> keys_;  // by slot
  TaggedTable key_table_;           // a key's tag -> its slot
  std::vector<Band> band_tables_;   // none while the index has never held a document
};

// The candidate pairs of everything an index holds: (a, b), a < b, each
// once, ordered, exactly those of LshPairs over the same signatures. Found
// while the index is held still; written afterwards, without it.
class LshIndexPairs {
 public:
  LshIndexPairs(const LshIndex& index, const Pool& pool);
  std::size_t size() const { return found_ ? found_->size() : 0; }
  void write(std::int64_t* first, std::int64_t* second, const Pool& pool) const;

 private:
  std::unique_ptr<LshPairs> found_;
  std::vector<std::int64_t> keys_;  // by slot, as the pairs number them
  bool ascending_ = true;           // keys by slot: the pairs need no sort
};

}  // namespace kivo::batch
