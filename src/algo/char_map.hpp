// Position masks of a pattern for bit-parallel kernels: for a character c,
// bit i of the mask is set when the pattern's i-th character is c. ASCII
// characters index a table directly; other code points go through a small
// open-addressing map keyed by the code point.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

namespace kivo::bitpar {

// Spreads a code point over the high bits of a 32-bit word (Fibonacci
// hashing); the slot is taken from the top bits.
inline std::uint32_t spread(char32_t c) {
  return std::uint32_t(c) * 0x9E3779B1u;
}

inline constexpr char32_t kNoKey = 0xFFFFFFFF;  // not a code point

// Index bits of an open-addressing table for up to `keys` distinct code
// points, kept at most half full (there are at most 0x110000 code points).
inline unsigned slot_bits(std::size_t keys) {
  std::size_t bound = keys < 0x110000 ? keys : 0x110000;
  unsigned bits = 1;
  while ((std::size_t(1) << bits) < 2 * bound) ++bits;
  return bits;
}

// Masks of a pattern of at most 64 characters, one 64-bit word each. Built on
// the stack with no allocation. Only the ASCII entries that a lookup can reach
// are cleared: those of the pattern and of the text passed to the
// constructor, or the whole table when that is cheaper.
class WordMasks {
 public:
  template <class P, class T>
  WordMasks(std::span<const P> pattern, std::span<const T> text) {
    if (text.size() + pattern.size() > 96) {
      std::memset(ascii_, 0, sizeof ascii_);
    } else {
      for (T c : text)
        if (c < 128) ascii_[c] = 0;
      for (P c : pattern)
        if (c < 128) ascii_[c] = 0;
    }
    std::size_t wide = 0;
    if constexpr (sizeof(P) > 1) {
      for (P c : pattern) wide += c >= 128;
    }
    if (wide > 0) {
      unsigned bits = slot_bits(wide);  // 2 to 128 slots: wide <= 64
      shift_ = 32 - bits;
      mask_ = (1u << bits) - 1;
      for (std::uint32_t s = 0; s <= mask_; ++s) slots_[s].key = kNoKey;
    }
    std::uint64_t bit = 1;
    for (P c : pattern) {
      if (c < 128) {
        ascii_[c] |= bit;
      } else {
        slot(char32_t(c)).mask |= bit;
      }
      bit <<= 1;
    }
  }

  template <class C>
  std::uint64_t get(C c) const {
    if constexpr (sizeof(C) == 1) {
      return ascii_[c];
    } else {
      if (c < 128) return ascii_[c];
      if (mask_ == 0) return 0;
      for (std::uint32_t s = spread(c) >> shift_;; s = (s + 1) & mask_) {
        if (slots_[s].key == char32_t(c)) return slots_[s].mask;
        if (slots_[s].key == kNoKey) return 0;
      }
    }
  }

 private:
  struct Slot {
    char32_t key;
    std::uint64_t mask;
  };

  Slot& slot(char32_t c) {
    for (std::uint32_t s = spread(c) >> shift_;; s = (s + 1) & mask_) {
      if (slots_[s].key == c) return slots_[s];
      if (slots_[s].key == kNoKey) {
        slots_[s] = {c, 0};
        return slots_[s];
      }
    }
  }

  std::uint64_t ascii_[128];  // valid for every character that is looked up
  Slot slots_[128];           // the first mask_ + 1 are in use
  unsigned shift_ = 32;
  std::uint32_t mask_ = 0;  // 0: no non-ASCII character in the pattern
};

// Masks of a pattern of any length, `words` = ceil(m / 64) 64-bit words per
// character. ASCII characters own a dense row of words each, and so do
// non-ASCII ones when they are few. Otherwise a non-ASCII character keeps only
// its non-zero words, as (word, mask) pairs, and scatters them into a scratch
// row when it is looked up, so memory stays O(m) however many distinct
// characters the pattern holds.
class BlockMasks {
 public:
  template <class P>
  explicit BlockMasks(std::span<const P> pattern)
      : words_((pattern.size() + 63) / 64), scratch_(words_, 0) {
    std::size_t rows = 1;  // row 0: all zeros
    for (auto& r : ascii_row_) r = 0;
    for (P c : pattern) {
      if (c < 128 && ascii_row_[c] == 0) ascii_row_[c] = std::uint32_t(rows++);
    }
    dense_.assign(rows * words_, 0);
    std::size_t i = 0;
    for (P c : pattern) {
      if (c < 128) dense_[ascii_row_[c] * words_ + i / 64] |= std::uint64_t(1) << (i % 64);
      ++i;
    }
    if constexpr (sizeof(P) > 1) build_wide(pattern);
  }

  std::size_t words() const { return words_; }

  // Whether the rows that get() returns stay valid after later lookups (no
  // character scatters into the scratch row).
  bool lookups_stable() const { return offsets_.empty(); }

  // A row of the table: a text can be translated into rows once and then
  // looked up without hashing, when lookups_stable().
  struct Row {
    std::uint32_t index;
  };

  template <class C>
  Row row(C c) const {
    if (sizeof(C) == 1 || c < 128) return {ascii_row_[c & 0x7F]};
    if (mask_ == 0) return {0};
    for (std::uint32_t s = spread(char32_t(c)) >> shift_;; s = (s + 1) & mask_) {
      if (keys_[s] == kNoKey) return {0};
      if (keys_[s] == char32_t(c)) return {std::uint32_t(wide_base_ + key_index_[s] - 1)};
    }
  }

  const std::uint64_t* get(Row r) { return dense_.data() + std::size_t(r.index) * words_; }

  // The `words` masks of character c, valid until the next lookup unless
  // lookups_stable().
  template <class C>
  const std::uint64_t* get(C c) {
    if constexpr (sizeof(C) > 1) {
      if (c >= 128) return wide(char32_t(c));
    }
    return dense_.data() + ascii_row_[c] * words_;
  }

 private:
  struct Entry {
    std::uint32_t word;
    std::uint64_t mask;
  };

  template <class P>
  void build_wide(std::span<const P> pattern) {
    std::size_t wide = 0;
    for (P c : pattern) wide += c >= 128;
    if (wide == 0) return;
    unsigned bits = slot_bits(wide);
    shift_ = 32 - bits;
    mask_ = (std::uint32_t(1) << bits) - 1;
    keys_.assign(std::size_t(mask_) + 1, kNoKey);
    key_index_.assign(std::size_t(mask_) + 1, 0);
    // Pass 1: an index per distinct character and its number of distinct words.
    std::vector<std::uint32_t> last_word;
    std::vector<std::uint32_t> counts;
    std::size_t i = 0;
    for (P c : pattern) {
      if (c >= 128) {
        std::uint32_t& index = wide_index(char32_t(c));
        if (index == 0) {
          index = std::uint32_t(counts.size() + 1);
          counts.push_back(0);
          last_word.push_back(kNoWord);
        }
        std::uint32_t word = std::uint32_t(i / 64);
        if (last_word[index - 1] != word) {
          last_word[index - 1] = word;
          ++counts[index - 1];
        }
      }
      ++i;
    }
    if (counts.size() <= kDenseWide || counts.size() * words_ <= kDenseWords) {
      // Few distinct characters: dense rows after the ASCII ones, no scattering.
      wide_base_ = dense_.size() / words_;
      dense_.resize(dense_.size() + counts.size() * words_, 0);
      i = 0;
      for (P c : pattern) {
        if (c >= 128) {
          std::size_t row = wide_base_ + wide_index(char32_t(c)) - 1;
          dense_[row * words_ + i / 64] |= std::uint64_t(1) << (i % 64);
        }
        ++i;
      }
      return;
    }
    offsets_.assign(counts.size() + 1, 0);
    for (std::size_t k = 0; k < counts.size(); ++k) offsets_[k + 1] = offsets_[k] + counts[k];
    entries_.assign(offsets_.back(), Entry{0, 0});
    // Pass 2: fill; positions rise, so a character's words come in order.
    std::vector<std::size_t> filled(offsets_.begin(), offsets_.end() - 1);
    for (auto& w : last_word) w = kNoWord;
    i = 0;
    for (P c : pattern) {
      if (c >= 128) {
        std::uint32_t k = wide_index(char32_t(c)) - 1;
        std::uint32_t word = std::uint32_t(i / 64);
        if (last_word[k] != word) {
          last_word[k] = word;
          entries_[filled[k]++] = Entry{word, 0};
        }
        entries_[filled[k] - 1].mask |= std::uint64_t(1) << (i % 64);
      }
      ++i;
    }
  }

  const std::uint64_t* wide(char32_t c) {
    // Clear what the previous wide lookup scattered.
    for (std::size_t e = scattered_begin_; e < scattered_end_; ++e) scratch_[entries_[e].word] = 0;
    scattered_begin_ = scattered_end_ = 0;
    if (mask_ == 0) return scratch_.data();
    for (std::uint32_t s = spread(c) >> shift_;; s = (s + 1) & mask_) {
      if (keys_[s] == kNoKey) return scratch_.data();
      if (keys_[s] == c) {
        std::uint32_t k = key_index_[s] - 1;
        if (wide_base_ != 0) return dense_.data() + (wide_base_ + k) * words_;
        scattered_begin_ = offsets_[k];
        scattered_end_ = offsets_[k + 1];
        for (std::size_t e = scattered_begin_; e < scattered_end_; ++e) {
          scratch_[entries_[e].word] = entries_[e].mask;
        }
        return scratch_.data();
      }
    }
  }

  std::uint32_t& wide_index(char32_t c) {
    for (std::uint32_t s = spread(c) >> shift_;; s = (s + 1) & mask_) {
      if (keys_[s] == c) return key_index_[s];
      if (keys_[s] == kNoKey) {
        keys_[s] = c;
        return key_index_[s];
      }
    }
  }

  static constexpr std::uint32_t kNoWord = 0xFFFFFFFF;
  static constexpr std::size_t kDenseWide = 256;
  static constexpr std::size_t kDenseWords = std::size_t(1) << 17;  // 1 MiB of rows

  std::size_t words_;
  std::uint32_t ascii_row_[128];
  std::vector<std::uint64_t> dense_;
  std::vector<std::uint64_t> scratch_;
  // Non-ASCII characters: open addressing from code point to 1 + index.
  std::vector<char32_t> keys_;
  std::vector<std::uint32_t> key_index_;
  unsigned shift_ = 32;
  std::uint32_t mask_ = 0;
  std::size_t wide_base_ = 0;         // first dense row of non-ASCII characters, or 0
  std::vector<std::size_t> offsets_;  // entries of index k: [offsets_[k], offsets_[k + 1])
  std::vector<Entry> entries_;
  std::size_t scattered_begin_ = 0;
  std::size_t scattered_end_ = 0;
};

// Dense numbers 0, 1, 2, ... for the distinct characters of a text, in order
// of first appearance; other characters have none (kNone).
class DenseIds {
 public:
  static constexpr std::uint32_t kNone = 0xFFFFFFFF;

  template <class C>
  explicit DenseIds(std::span<const C> text) {
    for (auto& id : ascii_) id = kNone;
    std::size_t wide = 0;
    if constexpr (sizeof(C) > 1) {
      for (C c : text) wide += c >= 128;
    }
    if (wide > 0) {
      unsigned bits = slot_bits(wide);
      shift_ = 32 - bits;
      mask_ = (std::uint32_t(1) << bits) - 1;
      keys_.assign(std::size_t(mask_) + 1, kNoKey);
      ids_.assign(std::size_t(mask_) + 1, kNone);
    }
  }

  // The number of c, assigned now if c has none yet.
  template <class C>
  std::uint32_t add(C c) {
    std::uint32_t& id = slot(c);
    if (id == kNone) id = count_++;
    return id;
  }

  template <class C>
  std::uint32_t find(C c) const {
    if (sizeof(C) == 1 || c < 128) return ascii_[c & 0x7F];
    if (mask_ == 0) return kNone;
    for (std::uint32_t s = spread(char32_t(c)) >> shift_;; s = (s + 1) & mask_) {
      if (keys_[s] == char32_t(c)) return ids_[s];
      if (keys_[s] == kNoKey) return kNone;
    }
  }

  std::uint32_t count() const { return count_; }

 private:
  template <class C>
  std::uint32_t& slot(C c) {
    if (sizeof(C) == 1 || c < 128) return ascii_[c & 0x7F];
    for (std::uint32_t s = spread(char32_t(c)) >> shift_;; s = (s + 1) & mask_) {
      if (keys_[s] == char32_t(c)) return ids_[s];
      if (keys_[s] == kNoKey) {
        keys_[s] = char32_t(c);
        return ids_[s];
      }
    }
  }

  std::uint32_t ascii_[128];
  std::vector<char32_t> keys_;
  std::vector<std::uint32_t> ids_;
  unsigned shift_ = 32;
  std::uint32_t mask_ = 0;
  std::uint32_t count_ = 0;
};

}  // namespace kivo::bitpar
