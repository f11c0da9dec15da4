// The distinct terms of two term lists with their occurrence counts, kept in
// order of first appearance so that sums over them run in a fixed order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace kivo {

struct TermEntry {
  std::string_view term;     // borrowed from the caller's term list
  std::uint64_t count[2]{};  // occurrences in the first and in the second text
};

// Open addressing over a slot array fixed at construction: no allocation per
// term. Terms are hashed under a key drawn at random once per process, so
// crafted texts cannot pile terms onto one probe chain; nothing read from the
// table depends on that key.
class TermTable {
 public:
  static constexpr std::size_t npos = static_cast<std::size_t>(-1);

  // Room for at most max_terms distinct terms.
  explicit TermTable(std::size_t max_terms);

  // Index of term, appended with zero counts when it is new.
  std::size_t intern(std::string_view term);
  // Index of term, or npos when it is absent.
  std::size_t find(std::string_view term) const;

  TermEntry& operator[](std::size_t index) { return entries_[index]; }
  const TermEntry& operator[](std::size_t index) const { return entries_[index]; }
  std::size_t size() const { return entries_.size(); }

 private:
  struct Slot {
    std::uint64_t hash = 0;
    std::size_t index = npos;
  };

  // The slot holding term, or the empty slot where it belongs.
  std::size_t probe(std::string_view term, std::uint64_t hash) const;

  std::vector<TermEntry> entries_;
  std::vector<Slot> slots_;
  std::size_t max_terms_;
};

}  // namespace kivo
