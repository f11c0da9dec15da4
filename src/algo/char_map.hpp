// Position masks of a pattern for bit-parallel kernels: for a character c,
// bit i of the mask is set when the pattern's i-th character is c. ASCII
// characters index a table directly; other code points go through one
// open-addressing map under a keyed hash.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <type_traits>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "base/byte_kernels.hpp"
#include "base/error.hpp"
#include "base/hashing.hpp"
#include "text/code_points.hpp"

namespace kivo::bitpar {

inline constexpr char32_t kNoKey = 0xFFFFFFFF;  // not a code point

// Index bits of an open-addressing table for up to `keys` distinct code
// points, kept at most half full (there are at most 0x110000 code points).
inline unsigned slot_bits(std::size_t keys) {
  std::size_t bound = keys < 0x110000 ? keys : 0x110000;
  unsigned bits = 1;
  while ((std::size_t(1) << bits) < 2 * bound) ++bits;
  return bits;
}

// The characters of a text that the ASCII tables do not hold.
template <class C>
std::size_t count_wide(std::span<const C> text) {
  std::size_t wide = 0;
  if constexpr (sizeof(C) > 1) {
    for (C c : text) wide += c >= 128;
  }
  return wide;
}

// Open addressing from code points to values, linear probing from a hash
// keyed by the process key, so that crafted text cannot pile its characters
// onto one probe chain. At most half full; a code point never inserted reads
// as kAbsent. With kInline > 0 the slots live in the object, unallocated, and
// hold up to kInline / 2 keys.
template <class V, V kAbsent, std::size_t kInline = 0>
class CodePointMap {
 public:
  // Room for `keys` distinct code points. With none, the two free slots need
  // no key and every lookup misses.
  explicit CodePointMap(std::size_t keys) {
    unsigned bits = slot_bits(keys);
    std::size_t slots = std::size_t(1) << bits;
    if (keys > 0) key_ = process_key().k0;
    shift_ = 64 - bits;
    mask_ = slots - 1;
    if constexpr (kInline == 0) {
      keys_.assign(slots, kNoKey);
      values_.resize(slots);
    } else {
      if (slots > kInline) throw InternalFault("code-point map beyond its inline slots");
      std::fill_n(keys_.begin(), slots, kNoKey);
    }
  }

  V find(char32_t c) const {
    std::size_t s = probe(c);
    return keys_[s] == c ? values_[s] : kAbsent;
  }

  // The value of c, inserted as kAbsent when c is new.
  V& operator[](char32_t c) {
    std::size_t s = probe(c);
    if (keys_[s] != c) {
      keys_[s] = c;
      values_[s] = kAbsent;
    }
    return values_[s];
  }

  // Slots visited to reach c: 1 when it sits where its hash points.
  std::size_t probe_length(char32_t c) const { return ((probe(c) - home(c)) & mask_) + 1; }

 private:
  template <class T>
  using Slots = std::conditional_t<kInline == 0, std::vector<T>, std::array<T, kInline>>;

  std::size_t home(char32_t c) const {
    return std::size_t(keyed_code_point_hash(c, key_) >> shift_);
  }

  // The slot holding c, or the free slot where it would go.
  std::size_t probe(char32_t c) const {
    std::size_t s = home(c);
    while (keys_[s] != c && keys_[s] != kNoKey) s = (s + 1) & mask_;
    return s;
  }

  std::uint64_t key_ = 0;
  unsigned shift_;
  std::size_t mask_;
  Slots<char32_t> keys_;
  Slots<V> values_;
};

// Calls f(a, b) with both texts in one unit type, as the kernels take them.
// The tables index one-byte units directly, so those must be ASCII: other
// one-byte text (Latin-1) is widened to two bytes.
template <class X, class Y, class F>
decltype(auto) with_one_unit_type(std::span<const X> a, std::span<const Y> b, F&& f) {
  if constexpr (sizeof(X) == 1 && sizeof(Y) == 1) {
    if (bytes::is_ascii(a.data(), a.size()) && bytes::is_ascii(b.data(), b.size())) return f(a, b);
    return f(WideChars<std::uint16_t>(a).view(), WideChars<std::uint16_t>(b).view());
  } else if constexpr (std::is_same_v<X, Y>) {
    return f(a, b);
  } else if constexpr (sizeof(X) > sizeof(Y)) {
    return f(a, WideChars<X>(b).view());
  } else {
    return f(WideChars<Y>(a).view(), b);
  }
}

// Masks of a pattern of at most 64 characters, one 64-bit word each. Built on
// the stack with no allocation. Only the ASCII entries that a lookup can reach
// are cleared: those of the pattern and of the text passed to the
// constructor, or the whole table when that is cheaper.
class WordMasks {
 public:
  template <class P, class T>
  WordMasks(std::span<const P> pattern, std::span<const T> text) : wide_(count_wide(pattern)) {
    if (text.size() + pattern.size() > 96) {
      std::memset(ascii_, 0, sizeof ascii_);
    } else {
      for (T c : text)
        if (c < 128) ascii_[c] = 0;
      for (P c : pattern)
        if (c < 128) ascii_[c] = 0;
    }
    std::uint64_t bit = 1;
    for (P c : pattern) {
      if (c < 128) {
        ascii_[c] |= bit;
      } else {
        wide_[char32_t(c)] |= bit;
      }
      bit <<= 1;
    }
  }

  template <class C>
  std::uint64_t get(C c) const {
    if constexpr (sizeof(C) == 1) {
      return ascii_[c];
    } else {
      return c < 128 ? ascii_[c] : wide_.find(char32_t(c));
    }
  }

 private:
  std::uint64_t ascii_[128];                  // valid for every character that is looked up
  CodePointMap<std::uint64_t, 0, 128> wide_;  // 64 characters at most
};

// Masks of a pattern of at most 64 code points, kept for looking up any
// number of texts: Latin-1 in a whole table, so no text needs entries
// cleared first, and the rest in a map. A longer pattern has no masks.
class LastingWordMasks {
 public:
  explicit LastingWordMasks(std::span<const char32_t> pattern)
      : wide_(pattern.size() > 64
                  ? 0
                  : std::size_t(std::count_if(pattern.begin(), pattern.end(),
                                              [](char32_t c) { return c >= 256; }))) {
    if (pattern.size() > 64) return;
    std::uint64_t bit = 1;
    for (char32_t c : pattern) {
      if (c < 256) {
        low_[c] |= bit;
      } else {
        wide_[c] |= bit;
      }
      bit <<= 1;
    }
  }

  template <class C>
  std::uint64_t get(C c) const {
    if constexpr (sizeof(C) == 1) {
      return low_[c];
    } else {
      return c < 256 ? low_[c] : wide_.find(char32_t(c));
    }
  }

 private:
  std::uint64_t low_[256] = {};
  CodePointMap<std::uint64_t, 0> wide_;
};

// Masks of a pattern of 1 to 64 one-byte characters, any bytes (Latin-1
// too), in `Blocks` blocks of 16 (a pattern of up to 16, 32 or 64 bytes;
// four for the longest, whose third block may be the last): a lookup
// compares the character with the whole pattern, a block at a time, so
// nothing is cleared or filled per character as a table would be. The block
// count is a constant, so a column's lookup has no branches.
template <std::size_t Blocks>
class ByteMasks {
  static_assert(Blocks == 1 || Blocks == 2 || Blocks == 4);

 public:
  [[gnu::always_inline]] explicit ByteMasks(std::span<const std::uint8_t> pattern)
      : rows_(pattern.size() == 64 ? ~std::uint64_t(0) : (std::uint64_t(1) << pattern.size()) - 1) {
    // Zero bytes past the pattern may match; rows_ drops them.
#if defined(__SSE2__)
    for (std::size_t b = 0; b < Blocks; ++b) {
      std::size_t at = std::min(16 * b, pattern.size());
      blocks_of_[b] =
          load_block(pattern.data() + at, std::min<std::size_t>(16, pattern.size() - at));
    }
#else
    std::memset(bytes_, 0, sizeof bytes_);
    std::memcpy(bytes_, pattern.data(), pattern.size());
#endif
  }

  [[gnu::always_inline]] std::uint64_t get(std::uint8_t c) const {
#if defined(__SSE2__)
    // Broadcast by multiplying: two shuffles, where _mm_set1_epi8 takes four.
    __m128i wanted = _mm_shuffle_epi32(_mm_cvtsi32_si128(int(c * 0x01010101u)), 0);
    std::uint64_t found = 0;
    for (std::size_t b = 0; b < Blocks; ++b) {
      found |=
          std::uint64_t(std::uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi8(blocks_of_[b], wanted))))
          << (16 * b);
    }
    return found & rows_;
#else
    std::uint64_t found = 0;
    for (std::size_t i = 0; i < 16 * Blocks; ++i) found |= std::uint64_t(bytes_[i] == c) << i;
    return found & rows_;
#endif
  }

 private:
#if defined(__SSE2__)
  // The k <= 16 bytes at p, zero-padded, read in pieces that stay within
  // them. Loads straight into registers: a copy through the stack would stall
  // each vector load on store forwarding, a cost as large as a short
  // pattern's whole column loop.
  [[gnu::always_inline]] static __m128i load_block(const std::uint8_t* p, std::size_t k) {
    if (k == 16) return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    std::uint64_t low = k >= 8 ? load_word(p, 8) : load_word(p, k);
    std::uint64_t high = k > 8 ? load_word(p + 8, k - 8) : 0;
    return _mm_set_epi64x(std::int64_t(high), std::int64_t(low));
  }

  // The k <= 8 bytes at p as a little-endian word, the rest zero.
  [[gnu::always_inline]] static std::uint64_t load_word(const std::uint8_t* p, std::size_t k) {
    if (k == 8) return read<std::uint64_t>(p);
    if (k >= 4) {  // two reads that overlap in the middle
      return read<std::uint32_t>(p) |
             (std::uint64_t(read<std::uint32_t>(p + k - 4)) << 8 * (k - 4));
    }
    std::uint64_t word = 0;
    for (std::size_t i = 0; i < k; ++i) word |= std::uint64_t(p[i]) << 8 * i;
    return word;
  }

  template <class W>
  static W read(const std::uint8_t* p) {
    W word;
    std::memcpy(&word, p, sizeof word);
    return word;
  }
#endif

  std::uint64_t rows_;  // the pattern's bits
#if defined(__SSE2__)
  __m128i blocks_of_[Blocks];
#else
  std::uint8_t bytes_[16 * Blocks];
#endif
};

template <std::size_t Blocks, class F>
[[gnu::always_inline]] inline decltype(auto) with_byte_masks(std::span<const std::uint8_t> pattern,
                                                             std::span<const std::uint8_t> text,
                                                             F&& f) {
  ByteMasks<Blocks> masks(pattern);
  return f([&](std::uint8_t c) { return masks.get(c); }, pattern.size(), text);
}

// Calls f(eq, m, text) for a pattern of 1 to 64 characters, eq(c) giving
// character c's mask.
template <class P, class T, class F>
[[gnu::always_inline]] inline decltype(auto) with_word_masks(std::span<const P> pattern,
                                                             std::span<const T> text, F&& f) {
  if constexpr (sizeof(P) == 1 && sizeof(T) == 1) {
    if (pattern.size() <= 16) return with_byte_masks<1>(pattern, text, f);
    if (pattern.size() <= 32) return with_byte_masks<2>(pattern, text, f);
    return with_byte_masks<4>(pattern, text, f);
  } else {
    WordMasks masks(pattern, text);
    return f([&](T c) { return masks.get(c); }, pattern.size(), text);
  }
}

// with_one_unit_type for kernels that take a pattern of one word through
// with_word_masks whenever both texts fit one: two such one-byte texts stay
// as they are, Latin-1 too, since their masks compare bytes.
template <class X, class Y, class F>
[[gnu::always_inline]] inline decltype(auto) with_word_unit_type(std::span<const X> a,
                                                                 std::span<const Y> b, F&& f) {
  if constexpr (sizeof(X) == 1 && sizeof(Y) == 1) {
    if (a.size() <= 64 && b.size() <= 64) return f(a, b);
  }
  return with_one_unit_type(a, b, f);
}

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
      : words_((pattern.size() + 63) / 64), scratch_(words_, 0), index_(count_wide(pattern)) {
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
    std::uint32_t k = index_.find(char32_t(c));
    return {k == 0 ? 0 : std::uint32_t(wide_base_ + k - 1)};
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
    // Pass 1: an index per distinct character and its number of distinct words.
    std::vector<std::uint32_t> last_word;
    std::vector<std::uint32_t> counts;
    std::size_t i = 0;
    for (P c : pattern) {
      if (c >= 128) {
        std::uint32_t& index = index_[char32_t(c)];
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
    if (counts.empty()) return;
    if (counts.size() <= kDenseWide || counts.size() * words_ <= kDenseWords) {
      // Few distinct characters: dense rows after the ASCII ones, no scattering.
      wide_base_ = dense_.size() / words_;
      dense_.resize(dense_.size() + counts.size() * words_, 0);
      i = 0;
      for (P c : pattern) {
        if (c >= 128) {
          std::size_t row = wide_base_ + index_.find(char32_t(c)) - 1;
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
        std::uint32_t k = index_.find(char32_t(c)) - 1;
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
    std::uint32_t index = index_.find(c);
    if (index == 0) return scratch_.data();
    std::uint32_t k = index - 1;
    if (wide_base_ != 0) return dense_.data() + (wide_base_ + k) * words_;
    scattered_begin_ = offsets_[k];
    scattered_end_ = offsets_[k + 1];
    for (std::size_t e = scattered_begin_; e < scattered_end_; ++e) {
      scratch_[entries_[e].word] = entries_[e].mask;
    }
    return scratch_.data();
  }

  static constexpr std::uint32_t kNoWord = 0xFFFFFFFF;
  static constexpr std::size_t kDenseWide = 256;
  static constexpr std::size_t kDenseWords = std::size_t(1) << 17;  // 1 MiB of rows

  std::size_t words_;
  std::uint32_t ascii_row_[128];
  std::vector<std::uint64_t> dense_;
  std::vector<std::uint64_t> scratch_;
  CodePointMap<std::uint32_t, 0> index_;  // non-ASCII character -> 1 + its index
  std::size_t wide_base_ = 0;             // first dense row of non-ASCII characters, or 0
  std::vector<std::size_t> offsets_;      // entries of index k: [offsets_[k], offsets_[k + 1])
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
  explicit DenseIds(std::span<const C> text) : wide_(count_wide(text)) {
    for (auto& id : ascii_) id = kNone;
  }

  // The number of c, assigned now if c has none yet.
  template <class C>
  std::uint32_t add(C c) {
    std::uint32_t& id = sizeof(C) == 1 || c < 128 ? ascii_[c & 0x7F] : wide_[char32_t(c)];
    if (id == kNone) id = count_++;
    return id;
  }

  template <class C>
  std::uint32_t find(C c) const {
    return sizeof(C) == 1 || c < 128 ? ascii_[c & 0x7F] : wide_.find(char32_t(c));
  }

  std::uint32_t count() const { return count_; }

 private:
  std::uint32_t ascii_[128];
  CodePointMap<std::uint32_t, kNone> wide_;
  std::uint32_t count_ = 0;
};

}  // namespace kivo::bitpar
