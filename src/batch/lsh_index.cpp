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

// Rows handed to a worker at a time, and tags looked up ahead at a time:
// their table entries are fetched together, rather than one miss after another.
constexpr std::size_t kRowsPerTask = 64;
constexpr std::size_t kAhead = 64;

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
  keys_.reserve(count);
  key_table_.reserve(count);
  pool.for_each(bands_, [&](std::size_t b) {
    band_tables_[b].links.reserve(count);
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
  std::uint32_t tags[kAhead];
  for (std::size_t begin = 0; begin < count; begin += kAhead) {
    std::size_t end = std::min(count, begin + kAhead);
    for (std::size_t i = begin; i < end; ++i) {
      tags[i - begin] = band_tag(store_.row(first + i), b);
      band.table.prefetch(tags[i - begin]);
    }
    for (std::size_t i = begin; i < end; ++i, ++done) {
      meter.add(rows_);
      std::uint32_t slot = std::uint32_t(first + i);
      const std::uint64_t* values = store_.row(slot) + b * rows_;
      std::size_t at = band.table.find(tags[i - begin], [&](std::uint32_t s) {
        return same_band(store_.row(s) + b * rows_, values, rows_);
      });
      if (at == TaggedTable::kMissing) {
        band.table.insert(tags[i - begin], slot);
        band.links[slot] = {slot, slot};
        continue;
      }
      std::uint32_t head = band.table.slot_at(at);
      Link& before = band.links[head];
      band.links[slot] = {before.next, head};
      band.links[before.next].prev = slot;
      before.next = slot;
    }
  }
}

void LshIndex::unfile(std::size_t b, std::uint32_t slot) {
  Band& band = band_tables_[b];
  Link link = band.links[slot];
  std::size_t at =
      band.table.find(band_tag(store_.row(slot), b), [&](std::uint32_t s) { return s == slot; });
  if (link.next == slot) {
    band.table.erase(at);
    return;
  }
  band.links[link.prev].next = link.next;
  band.links[link.next].prev = link.prev;
  if (at != TaggedTable::kMissing) band.table.set_slot_at(at, link.next);
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
  std::size_t at =
      band.table.find(band_tag(store_.row(from), b), [&](std::uint32_t s) { return s == from; });
  if (at != TaggedTable::kMissing) band.table.set_slot_at(at, to);
}

void LshIndex::remove(std::span<const std::int64_t> keys, const Pool& pool) {
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
  (void)pool;
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

void LshIndex::query_row(const std::uint64_t* signature, std::size_t limit, Scratch& scratch,
                         std::vector<std::int64_t>& out) const {
  cancel::Meter& meter = scratch.meter;
  std::vector<std::uint32_t>& tags = scratch.tags;
  std::vector<std::int64_t>& found = scratch.found;
  found.clear();
  tags.resize(bands_);
  for (std::size_t b = 0; b < bands_; ++b) {
    tags[b] = band_tag(signature, b);
    band_tables_[b].table.prefetch(tags[b]);
  }
  for (std::size_t b = 0; b < bands_; ++b) {
    meter.add(rows_);
    const Band& band = band_tables_[b];
    const std::uint64_t* values = signature + b * rows_;
    std::size_t at = band.table.find(tags[b], [&](std::uint32_t s) {
      return same_band(store_.row(s) + b * rows_, values, rows_);
    });
    if (at == TaggedTable::kMissing) continue;
    std::uint32_t head = band.table.slot_at(at), slot = head;
    do {
      meter.add();
      found.push_back(keys_[slot]);
      slot = band.links[slot].next;
    } while (slot != head);
  }
  std::sort(found.begin(), found.end(), cancel::metered(meter, std::less<>()));
  std::size_t first = out.size();
  if (limit >= found.size()) {  // no more keys than the limit, however many repeat
    std::unique_copy(found.begin(), found.end(), std::back_inserter(out));
    return;
  }
  // Each key once with the bands it shares; the most shared first.
  std::vector<std::pair<std::size_t, std::int64_t>> shared;
  for (std::size_t i = 0, j; i < found.size(); i = j) {
    for (j = i + 1; j < found.size() && found[j] == found[i]; ++j) {
    }
    shared.emplace_back(j - i, found[i]);
  }
  std::size_t kept = std::min(limit, shared.size());
  auto better = [](const auto& x, const auto& y) {
    return x.first != y.first ? x.first > y.first : x.second < y.second;
  };
  std::nth_element(shared.begin(), shared.begin() + std::ptrdiff_t(kept), shared.end(), better);
  for (std::size_t i = 0; i < kept; ++i) out.push_back(shared[i].second);
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
    for (std::size_t i = t * kRowsPerTask; i < std::min(signatures.count, (t + 1) * kRowsPerTask);
         ++i) {
      query_row(signatures.row(i), limit, scratch, keys[t]);
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
