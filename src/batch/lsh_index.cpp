#include "batch/lsh_index.hpp"

#include <algorithm>
#include <cstring>
#include <functional>
#include <iterator>
#include <tuple>
#include <utility>

#include "base/error.hpp"
#include "base/hashing.hpp"

namespace kivo::batch {

namespace {

std::uint32_t key_tag(std::int64_t key) {
  return std::uint32_t(mix64(std::uint64_t(key) ^ process_key().k1) >> 32);
}

bool same_band(const std::uint64_t* a, const std::uint64_t* b, std::size_t rows) {
  return std::memcmp(a, b, rows * sizeof(std::uint64_t)) == 0;
}

// Rows handed to a worker at a time, and how many probes of a table ahead
// its entry is asked for: a few misses in flight at once rather than one
// after another, but no more than the processor keeps track of.
constexpr std::size_t kRowsPerTask = 64;
constexpr std::size_t kAhead = 12;

// Room for `count` items, growing by half at least: adds of batch after
// batch copy each item a few times, not once a batch.
template <class Vector>
void make_room(Vector& items, std::size_t count) {
  if (count > items.capacity()) items.reserve(std::max(count, items.capacity() / 2 * 3));
}

}  // namespace

LshIndex::LshIndex(std::size_t bands, std::size_t rows) : bands_(bands), rows_(rows) {
  if (bands == 0 || rows == 0 || rows > kMaxBandValues / bands) {
    throw InternalFault("LSH index bands and rows out of range");
  }
}

LshIndex::LshIndex(std::size_t bands, std::size_t rows, SignatureStore signatures,
                   std::vector<std::int64_t> keys, const Pool& pool)
    : LshIndex(bands, rows) {
  if (keys.size() > kMaxDocuments || (!keys.empty() && signatures.length() < bands * rows)) {
    throw InternalFault("LSH index documents out of range");
  }
  store_ = std::move(signatures);
  std::size_t count = keys.size();
  keys_ = std::move(keys);
  if (count == 0) return;
  reserve(count, pool);
  file(0, count, pool);
}

const std::uint64_t* LshIndex::signature(std::int64_t key) const {
  std::uint32_t slot = slot_of(key);
  return slot == TaggedTable::kNoSlot ? nullptr : store_.row(slot);
}

std::size_t LshIndex::table_bytes() const {
  std::size_t bytes = key_table_.bytes() + keys_.capacity() * sizeof(std::int64_t);
  for (const Band& band : band_tables_) {
    bytes += band.table.bytes() + band.links.capacity() * sizeof(Link);
  }
  return bytes;
}

std::uint32_t LshIndex::slot_of(std::int64_t key) const {
  std::size_t at = key_table_.find(key_tag(key), [&](std::uint32_t s) { return keys_[s] == key; });
  return at == TaggedTable::kMissing ? TaggedTable::kNoSlot : key_table_.slot_at(at);
}

std::uint32_t LshIndex::band_tag(const std::uint64_t* values, std::size_t band) const {
  return std::uint32_t(band_hash(values + band * rows_, rows_) >> 32);
}

void LshIndex::check_new_keys(const std::int64_t* keys, std::size_t count) const {
  TaggedTable seen;  // positions in `keys`
  seen.reserve(count);
  cancel::Meter meter;
  for (std::size_t i = 0; i < count; ++i) {
    meter.add();
    std::int64_t key = keys[i];
    if (contains(key)) throw KeyRefused{KeyRefused::Reason::Present, key};
    std::uint32_t tag = key_tag(key);
    if (seen.find(tag, [&](std::uint32_t at) { return keys[at] == key; }) !=
        TaggedTable::kMissing) {
      throw KeyRefused{KeyRefused::Reason::Repeated, key};
    }
    seen.insert(tag, std::uint32_t(i));
  }
}

void LshIndex::reserve(std::size_t count, const Pool& pool) {
  // Made with the first document, whose signature bounds the bands.
  if (band_tables_.empty()) band_tables_.resize(bands_);
  make_room(keys_, count);
  key_table_.reserve(count);
  pool.for_each(bands_, [&](std::size_t b) {
    make_room(band_tables_[b].links, count);
    band_tables_[b].table.reserve(count);
  });
}

void LshIndex::add(const Signatures& signatures, const std::int64_t* keys, const Pool& pool) {
  std::size_t count = signatures.count, first = size();
  if (count == 0) return;
  bool fixes_length = length() == 0;
  if (fixes_length ? signatures.length < bands_ * rows_ : signatures.length != length()) {
    throw InternalFault("signatures of another length than the index's");
  }
  if (count > kMaxDocuments - first) throw InternalFault("an LSH index past its largest size");
  check_new_keys(keys, count);
  // Room for everything first; then only a cancellation can interrupt, and
  // file() undoes what it began.
  if (fixes_length) store_.set_length(signatures.length);
  try {
    store_.reserve(first + count);
    reserve(first + count, pool);
    pool.for_each((count + kRowsPerTask - 1) / kRowsPerTask, [&](std::size_t t) {
      for (std::size_t i = t * kRowsPerTask; i < std::min(count, (t + 1) * kRowsPerTask); ++i) {
        std::memcpy(store_.row(first + i), signatures.row(i), length() * sizeof(std::uint64_t));
      }
    });
    keys_.insert(keys_.end(), keys, keys + count);
    file(first, count, pool);
  } catch (...) {
    keys_.resize(first);
    if (fixes_length) store_.clear();
    throw;
  }
}

void LshIndex::file(std::size_t first, std::size_t count, const Pool& pool) {
  // Per band the documents filed so far, and (last) the keys.
  std::vector<std::size_t> done(bands_ + 1, 0);
  for (Band& band : band_tables_) band.links.resize(first + count);
  try {
    pool.for_each(bands_ + 1, [&](std::size_t task) {
      if (task < bands_) return file_band(task, first, count, done[task]);
      cancel::Meter meter;
      for (std::size_t i = 0; i < count; ++i, ++done[task]) {
        meter.add();
        std::int64_t key = keys_[first + i];
        std::uint32_t tag = key_tag(key);
        if (key_table_.find(tag, [&](std::uint32_t s) { return keys_[s] == key; }) !=
            TaggedTable::kMissing) {
          throw KeyRefused{KeyRefused::Reason::Repeated, key};  // only in a saved index
        }
        key_table_.insert(tag, std::uint32_t(first + i));
      }
    });
  } catch (...) {
    // Newest first, as a removal of the last slot: nothing moves.
    for (std::size_t b = 0; b < bands_; ++b) {
      for (std::size_t i = done[b]; i-- > 0;) unfile(b, std::uint32_t(first + i));
      band_tables_[b].links.resize(first);
    }
    for (std::size_t i = done[bands_]; i-- > 0;) {
      std::uint32_t slot = std::uint32_t(first + i);
      key_table_.erase(
          key_table_.find(key_tag(keys_[slot]), [&](std::uint32_t s) { return s == slot; }));
    }
    throw;
  }
}

void LshIndex::file_band(std::size_t b, std::size_t first, std::size_t count, std::size_t& done) {
  Band& band = band_tables_[b];
  cancel::Meter meter;
  std::vector<std::uint32_t> tags(count);
  for (std::size_t i = 0; i < count; ++i) {
    meter.add(rows_);
    tags[i] = band_tag(store_.row(first + i), b);
  }
  for (std::size_t i = 0; i < std::min(count, kAhead); ++i) band.table.prefetch(tags[i]);
  for (std::size_t i = 0; i < count; ++i, ++done) {
    meter.add(rows_);
    if (i + kAhead < count) band.table.prefetch(tags[i + kAhead]);
    std::uint32_t slot = std::uint32_t(first + i);
    const std::uint64_t* values = store_.row(slot) + b * rows_;
    std::size_t at = band.table.find(tags[i], [&](std::uint32_t s) {
      return same_band(store_.row(s & ~kAlone) + b * rows_, values, rows_);
    });
    if (at == TaggedTable::kMissing) {
      band.table.insert(tags[i], slot | kAlone);
      band.links[slot] = {slot, slot};
      continue;
    }
    std::uint32_t head = band.table.slot_at(at) & ~kAlone;
    band.table.set_slot_at(at, head);
    Link& before = band.links[head];
    band.links[slot] = {before.next, head};
    band.links[before.next].prev = slot;
    before.next = slot;
  }
}

std::size_t LshIndex::bucket_of(std::size_t b, std::uint32_t slot, std::uint32_t head) const {
  return band_tables_[b].table.find(band_tag(store_.row(slot), b),
                                    [&](std::uint32_t s) { return (s & ~kAlone) == head; });
}

void LshIndex::unfile(std::size_t b, std::uint32_t slot) {
  Band& band = band_tables_[b];
  Link link = band.links[slot];
  if (link.next == slot) {
    band.table.erase(bucket_of(b, slot, slot));
    return;
  }
  band.links[link.prev].next = link.next;
  band.links[link.next].prev = link.prev;
  // The bucket's entry names the slot, or its other document if it is left alone.
  bool left_alone = link.next == link.prev;
  std::size_t at = bucket_of(b, slot, slot);
  if (at == TaggedTable::kMissing && left_alone) at = bucket_of(b, slot, link.next);
  if (at != TaggedTable::kMissing)
    band.table.set_slot_at(at, link.next | (left_alone ? kAlone : 0));
}

void LshIndex::move_band(std::size_t b, std::uint32_t from, std::uint32_t to) {
  Band& band = band_tables_[b];
  Link link = band.links[from];
  if (link.next == from) {
    band.links[to] = {to, to};
  } else {
    band.links[to] = link;
    band.links[link.prev].next = to;
    band.links[link.next].prev = to;
  }
  std::size_t at = bucket_of(b, from, from);
  if (at != TaggedTable::kMissing) {
    band.table.set_slot_at(at, to | (band.table.slot_at(at) & kAlone));
  }
}

void LshIndex::remove(std::span<const std::int64_t> keys) {
  {
    TaggedTable seen;  // positions in `keys`
    seen.reserve(keys.size());
    cancel::Meter meter;
    for (std::size_t i = 0; i < keys.size(); ++i) {
      meter.add();
      std::int64_t key = keys[i];
      if (!contains(key)) throw KeyRefused{KeyRefused::Reason::Unknown, key};
      std::uint32_t tag = key_tag(key);
      if (seen.find(tag, [&](std::uint32_t at) { return keys[at] == key; }) !=
          TaggedTable::kMissing) {
        throw KeyRefused{KeyRefused::Reason::Repeated, key};
      }
      seen.insert(tag, std::uint32_t(i));
    }
  }
  // Nothing below allocates or polls: once begun, the removal completes.
  for (std::int64_t key : keys) remove_slot(slot_of(key));
  store_.shrink(size());
}

void LshIndex::remove_slot(std::uint32_t slot) {
  std::uint32_t last = std::uint32_t(size() - 1);
  for (std::size_t b = 0; b < bands_; ++b) unfile(b, slot);
  key_table_.erase(
      key_table_.find(key_tag(keys_[slot]), [&](std::uint32_t s) { return s == slot; }));
  if (slot != last) {
    for (std::size_t b = 0; b < bands_; ++b) move_band(b, last, slot);
    key_table_.set_slot_at(
        key_table_.find(key_tag(keys_[last]), [&](std::uint32_t s) { return s == last; }), slot);
    std::memcpy(store_.row(slot), store_.row(last), length() * sizeof(std::uint64_t));
    keys_[slot] = keys_[last];
  }
  keys_.pop_back();
  for (Band& band : band_tables_) band.links.pop_back();
}

void LshIndex::query_row(const std::uint64_t* signature, std::size_t at_tag, std::size_t limit,
                         Scratch& scratch, std::vector<std::int64_t>& out) const {
  cancel::Meter& meter = scratch.meter;
  const std::vector<std::uint32_t>& tags = scratch.tags;
  // Each key with the bands it shares: a document found again at once (in
  // the next band, as most are) counts in place.
  std::vector<std::pair<std::int64_t, std::size_t>>& found = scratch.found;
  found.clear();
  auto count = [&](std::uint32_t slot) {
    std::int64_t key = keys_[slot];
    if (!found.empty() && found.back().first == key) {
      ++found.back().second;
    } else {
      found.emplace_back(key, 1);
    }
  };
  for (std::size_t b = 0; b < bands_; ++b) {
    meter.add(rows_);
    if (std::size_t next = at_tag + b + kAhead; next < tags.size()) {
      band_tables_[next % bands_].table.prefetch(tags[next]);
    }
    const Band& band = band_tables_[b];
    const std::uint64_t* values = signature + b * rows_;
    std::size_t at = band.table.find(tags[at_tag + b], [&](std::uint32_t s) {
      return same_band(store_.row(s & ~kAlone) + b * rows_, values, rows_);
    });
    if (at == TaggedTable::kMissing) continue;
    std::uint32_t entry = band.table.slot_at(at), head = entry & ~kAlone, slot = head;
    if (entry & kAlone) {
      count(head);
      continue;
    }
    do {
      meter.add();
      count(slot);
      slot = band.links[slot].next;
    } while (slot != head);
  }
  std::sort(found.begin(), found.end(), cancel::metered(meter, std::less<>()));
  std::size_t distinct = 0;  // runs of one key merged, their bands summed
  for (std::size_t i = 0; i < found.size(); ++i) {
    if (distinct > 0 && found[distinct - 1].first == found[i].first) {
      found[distinct - 1].second += found[i].second;
    } else {
      found[distinct++] = found[i];
    }
  }
  found.resize(distinct);
  std::size_t first = out.size();
  if (limit >= distinct) {
    for (const auto& [key, shared] : found) out.push_back(key);
    return;
  }
  auto better = [](const auto& x, const auto& y) {
    return x.second != y.second ? x.second > y.second : x.first < y.first;
  };
  std::nth_element(found.begin(), found.begin() + std::ptrdiff_t(limit), found.end(), better);
  for (std::size_t i = 0; i < limit; ++i) out.push_back(found[i].first);
  std::sort(out.begin() + std::ptrdiff_t(first), out.end());
}

LshIndex::Matches LshIndex::query(const Signatures& signatures, std::size_t limit,
                                  const Pool& pool) const {
  if (signatures.count > 0 && signatures.length < bands_ * rows_) {
    throw InternalFault("signatures shorter than the index's bands");
  }
  if (size() == 0) return {};
  std::size_t tasks = (signatures.count + kRowsPerTask - 1) / kRowsPerTask;
  std::vector<std::vector<std::int64_t>> keys(tasks), rows(tasks);
  pool.for_each(tasks, [&](std::size_t t) {
    Scratch scratch;
    std::size_t begin = t * kRowsPerTask, end = std::min(signatures.count, begin + kRowsPerTask);
    // The tags of every probe of the task first, so that each is asked for ahead.
    for (std::size_t i = begin; i < end; ++i) {
      for (std::size_t b = 0; b < bands_; ++b) {
        scratch.tags.push_back(band_tag(signatures.row(i), b));
      }
    }
    for (std::size_t p = 0; p < std::min(kAhead, scratch.tags.size()); ++p) {
      band_tables_[p % bands_].table.prefetch(scratch.tags[p]);
    }
    for (std::size_t i = begin; i < end; ++i) {
      query_row(signatures.row(i), (i - begin) * bands_, limit, scratch, keys[t]);
      rows[t].resize(keys[t].size(), std::int64_t(i));
    }
  });
  Matches matches;
  std::size_t total = 0;
  for (const auto& part : keys) total += part.size();
  matches.keys.reserve(total);
  matches.rows.reserve(total);
  for (std::size_t t = 0; t < tasks; ++t) {
    matches.keys.insert(matches.keys.end(), keys[t].begin(), keys[t].end());
    matches.rows.insert(matches.rows.end(), rows[t].begin(), rows[t].end());
    std::vector<std::int64_t>().swap(keys[t]);
    std::vector<std::int64_t>().swap(rows[t]);
  }
  return matches;
}

LshIndexPairs::LshIndexPairs(const LshIndex& index, const Pool& pool)
    : keys_(index.keys().begin(), index.keys().end()) {
  if (index.size() < 2) return;
  found_ = std::make_unique<LshPairs>(index.signatures(), index.bands(), index.rows(), pool);
  ascending_ = std::is_sorted(keys_.begin(), keys_.end());
}

void LshIndexPairs::write(std::int64_t* first, std::int64_t* second, const Pool& pool) const {
  if (!found_) return;
  found_->write(first, second, pool);
  std::size_t count = size();
  pool.for_each((count + 4095) / 4096, [&](std::size_t t) {
    for (std::size_t n = t * 4096; n < std::min(count, (t + 1) * 4096); ++n) {
      std::int64_t a = keys_[std::size_t(first[n])], b = keys_[std::size_t(second[n])];
      first[n] = std::min(a, b);
      second[n] = std::max(a, b);
    }
  });
  if (ascending_) return;
  std::vector<std::pair<std::int64_t, std::int64_t>> pairs(count);
  for (std::size_t n = 0; n < count; ++n) pairs[n] = {first[n], second[n]};
  cancel::Meter meter;
  std::sort(pairs.begin(), pairs.end(), cancel::metered(meter, std::less<>()));
  for (std::size_t n = 0; n < count; ++n) std::tie(first[n], second[n]) = pairs[n];
}

}  // namespace kivo::batch
