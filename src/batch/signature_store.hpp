// Signatures held by an index: rows of `length` values in blocks of a fixed
// number of rows, so that growing never copies what is held, nor needs twice
// its memory for a moment; on huge pages, as they are read at random.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "base/huge_pages.hpp"
#include "batch/lsh.hpp"

namespace kivo::batch {

class SignatureStore {
 public:
  std::size_t length() const { return length_; }
  // Only while no row is held. A block holds 4096 rows, or as many as fit
  // in 4 MiB (one at least): memory never runs far ahead of the rows held.
  void set_length(std::size_t length) {
    length_ = length;
    shift_ = 12;
    while (shift_ > 0 && (length << shift_) > (std::size_t(1) << 19)) --shift_;
  }

  // Rows [0, count) writable without allocating; may throw std::bad_alloc.
  void reserve(std::size_t count) {
    std::size_t blocks = (count + rows() - 1) >> shift_;
    owned_.reserve(blocks);
    pointers_.reserve(blocks);
    while (owned_.size() < blocks) {
      owned_.push_back(Block(HugePageAllocator<std::uint64_t>().allocate(rows() * length_),
                             Free{rows() * length_}));
      pointers_.push_back(owned_.back().get());
    }
  }
  // Holds nothing, and no length.
  void clear() {
    owned_.clear();
    pointers_.clear();
    length_ = 0;
  }
  // Lets go of the blocks past row `count`, but for one kept in hand.
  void shrink(std::size_t count) {
    std::size_t blocks = ((count + rows() - 1) >> shift_) + 1;
    if (owned_.size() > blocks) {
      owned_.resize(blocks);
      pointers_.resize(blocks);
    }
  }

  std::uint64_t* row(std::size_t i) {
    return owned_[i >> shift_].get() + (i & (rows() - 1)) * length_;
  }
  const std::uint64_t* row(std::size_t i) const {
    return owned_[i >> shift_].get() + (i & (rows() - 1)) * length_;
  }
  // Rows [0, count) as signatures.
  Signatures view(std::size_t count) const {
    return {nullptr, count, length_, pointers_.data(), shift_};
  }
  std::size_t bytes() const { return owned_.size() * rows() * length_ * sizeof(std::uint64_t); }

 private:
  std::size_t rows() const { return std::size_t(1) << shift_; }

  struct Free {
    std::size_t size;
    void operator()(std::uint64_t* block) const {
      HugePageAllocator<std::uint64_t>().deallocate(block, size);
    }
  };
  using Block = std::unique_ptr<std::uint64_t[], Free>;

  std::size_t length_ = 0;
  unsigned shift_ = 12;  // rows a block: 2**shift_
  std::vector<Block> owned_;
  std::vector<const std::uint64_t*> pointers_;
};

}  // namespace kivo::batch
