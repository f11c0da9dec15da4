#include "batch/tagged_table.hpp"

#include <utility>

#include "base/error.hpp"

namespace kivo::batch {

namespace {

// At most three quarters full: linear probes stay short.
std::size_t capacity_for(std::size_t count) {
  std::size_t capacity = 8;
  while (capacity / 4 * 3 < count) capacity *= 2;
  return capacity;
}

}  // namespace

void TaggedTable::reserve(std::size_t count) {
  if (count > kMaxEntries) throw InternalFault("a tagged table past its largest size");
  std::size_t capacity = capacity_for(count);
  if (capacity <= entries_.size()) return;
  TaggedTable grown;
  grown.entries_.assign(capacity, Entry{0, kNoSlot});
  while ((std::size_t(1) << grown.bits_) < capacity) ++grown.bits_;
  grown.mask_ = capacity - 1;
  cancel::Meter meter;
  for (const Entry& entry : entries_) {
    meter.add();
    if (entry.slot != kNoSlot) grown.insert(entry.tag, entry.slot);
  }
  *this = std::move(grown);
}

void TaggedTable::insert(std::uint32_t tag, std::uint32_t slot) {
  if (size_ + 1 > entries_.size() / 4 * 3) throw InternalFault("a tagged table too full");
  std::size_t at = home(tag);
  while (entries_[at].slot != kNoSlot) at = (at + 1) & mask_;
  entries_[at] = {tag, slot};
  ++size_;
}

void TaggedTable::erase(std::size_t at) {
  // Entries after the hole that may sit in it (their home not cyclically
  // between the hole and themselves) move back, so that no probe stops short.
  std::size_t hole = at;
  for (std::size_t next = (hole + 1) & mask_; entries_[next].slot != kNoSlot;
       next = (next + 1) & mask_) {
    std::size_t wanted = home(entries_[next].tag);
    bool stays =
        hole <= next ? (hole < wanted && wanted <= next) : (hole < wanted || wanted <= next);
    if (stays) continue;
    entries_[hole] = entries_[next];
    hole = next;
  }
  entries_[hole] = {0, kNoSlot};
  --size_;
}

}  // namespace kivo::batch
