// An open-addressing table of 8-byte entries: a 32-bit tag (the top half of
// a keyed hash) and a slot, a number the owner gives meaning to. An entry's
// home is the top bits of its tag, so the table grows and deletes (by
// shifting back, no tombstones) without hashing anything again; the owner
// tells entries of equal tags apart by what their slots stand for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include "base/cancel.hpp"
#include "base/huge_pages.hpp"

namespace kivo::batch {

class TaggedTable {
 public:
  static constexpr std::uint32_t kNoSlot = std::numeric_limits<std::uint32_t>::max();
  static constexpr std::size_t kMissing = std::numeric_limits<std::size_t>::max();
  // Entries a table may hold: a quarter of its largest capacity, 2**32, kept free.
  static constexpr std::size_t kMaxEntries = std::size_t(3) << 30;

  std::size_t size() const { return size_; }
  std::size_t bytes() const { return entries_.capacity() * sizeof(Entry); }

  // Where the entry of `tag` for which match(slot) holds is, or kMissing.
  template <class Match>
  std::size_t find(std::uint32_t tag, Match&& match) const {
    if (entries_.empty()) return kMissing;
    for (std::size_t at = home(tag);; at = (at + 1) & mask_) {
      const Entry& entry = entries_[at];
      if (entry.slot == kNoSlot) return kMissing;
      if (entry.tag == tag && match(entry.slot)) return at;
    }
  }
  // A hint that `tag` will be looked up soon.
  void prefetch(std::uint32_t tag) const {
    if (!entries_.empty()) __builtin_prefetch(&entries_[home(tag)]);
  }

  std::uint32_t slot_at(std::size_t at) const { return entries_[at].slot; }
  void set_slot_at(std::size_t at, std::uint32_t slot) { entries_[at].slot = slot; }

  // Room for `count` entries without growing; may throw std::bad_alloc (the
  // table then stays as it was) and polls for cancellation while it grows.
  void reserve(std::size_t count);
  // A new entry: room must have been reserved.
  void insert(std::uint32_t tag, std::uint32_t slot);
  void erase(std::size_t at);

 private:
  struct Entry {
    std::uint32_t tag;
    std::uint32_t slot;
  };

  std::size_t home(std::uint32_t tag) const {
    return std::size_t((std::uint64_t(tag) << bits_) >> 32);
  }

  std::vector<Entry, HugePageAllocator<Entry>> entries_;  // empty, or a power of two of them
  unsigned bits_ = 0;
  std::size_t mask_ = 0;
  std::size_t size_ = 0;
};

}  // namespace kivo::batch
