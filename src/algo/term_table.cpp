#include "algo/term_table.hpp"

#include <algorithm>
#include <bit>
#include <limits>

#include "base/error.hpp"
#include "base/hashing.hpp"

namespace kivo {
namespace {

std::uint64_t term_hash(std::string_view term) {
  return keyed_hash(term);
}

}  // namespace

TermTable::TermTable(std::size_t max_terms) : max_terms_(max_terms) {
  // At most half the slots are ever used, which keeps probe chains short.
  if (max_terms > (std::size_t(1) << (std::numeric_limits<std::size_t>::digits - 2))) {
    throw InternalFault("too many terms");
  }
  slots_.resize(std::bit_ceil(std::max<std::size_t>(2 * max_terms, 8)));
  entries_.reserve(max_terms);
}

std::size_t TermTable::probe(std::string_view term, std::uint64_t hash) const {
  std::size_t mask = slots_.size() - 1;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    const Slot& slot = slots_[i];
    if (slot.index == npos) return i;
    if (slot.hash == hash && entries_[slot.index].term == term) return i;
  }
}

std::size_t TermTable::intern(std::string_view term) {
  std::uint64_t hash = term_hash(term);
  Slot& slot = slots_[probe(term, hash)];
  if (slot.index != npos) return slot.index;
  if (entries_.size() == max_terms_) throw InternalFault("term table is full");
  slot = {hash, entries_.size()};
  entries_.push_back({term});
  return slot.index;
}

std::size_t TermTable::find(std::string_view term) const {
  return slots_[probe(term, term_hash(term))].index;
}

}  // namespace kivo
