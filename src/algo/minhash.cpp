#include "algo/minhash.hpp"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "algo/minhash_kernel.hpp"
#include "algo/shingles.hpp"
#include "base/cancel.hpp"
#include "base/hashing.hpp"
#include "base/physical_memory.hpp"
#include "text/utf8.hpp"

namespace kivo {

namespace {

// Bytes one signature entry costs while the result is alive: the native
// entry, and for a signature handed to Python also its list slot and the int
// object (36 bytes, allocated in 16-byte steps).
constexpr std::uint64_t kNativeEntryBytes = 8;
constexpr std::uint64_t kPythonEntryBytes = 8 + 48;

ExceptionDesc too_large(std::uint64_t num_hashes) {
  return memory_error("num_hashes " + std::to_string(num_hashes) +
                      " is too large to fit in memory");
}

// A request the machine could never hold is refused before any allocation:
// with overcommit a huge allocation can succeed and the process is killed
// later, while it is being filled.
bool fits_in_memory(std::uint64_t num_hashes, std::uint64_t bytes_per_entry) {
  // Any machine holds a few megabytes; asking the system costs a system call.
  if (num_hashes <= (std::uint64_t{1} << 16)) return true;
  return num_hashes <= physical_memory() / bytes_per_entry;
}

// Moves the distinct values among values[0, n) to its front, in order of
// first appearance, and returns their count. An open-addressing table of at
// least twice the count, indexed by multiply-shift hashing, finds them. The
// roomy table keeps the common cases, a repeat found or an empty slot claimed
// at the first probe, free of branches: a long text repeats few shingles many
// times, in no predictable order. Zero marks an empty slot, so a zero value
// is tracked on the side.
std::size_t keep_distinct(std::uint64_t* values, std::size_t n) {
  if (n < 2) return n;
  std::size_t capacity = std::bit_ceil(2 * n);
  std::size_t mask = capacity - 1;
  int shift = 64 - std::countr_zero(capacity);
  // A random odd multiplier per table: no fixed set of crafted shingles
  // can pile up in one probe sequence.
  std::uint64_t key = random_table_key() | 1;
  // calloc: a large table comes as fresh zero pages, touched as the loop
  // below reaches them (and polls) rather than cleared all at once.
  std::unique_ptr<std::uint64_t[], decltype(&std::free)> slots(
      static_cast<std::uint64_t*>(std::calloc(capacity, sizeof(std::uint64_t))), &std::free);
  if (!slots) throw std::bad_alloc();
  std::size_t kept = 0;
  bool zero_seen = false;
  for (std::size_t k = 0; k < n;) {
    for (std::size_t piece = cancel::piece_end(k, n); k < piece; ++k) {
      std::uint64_t v = values[k];
      if (v == 0) {
        if (!zero_seen) values[kept++] = v;
        zero_seen = true;
        continue;
      }
      std::size_t i = std::size_t((v * key) >> shift);
      std::uint64_t slot = slots[i];
      if (slot != v && slot != 0) {
        // Taken by another value: probe on.
        for (i = (i + 1) & mask; slots[i] != v && slots[i] != 0; i = (i + 1) & mask) {
        }
        slot = slots[i];
      }
      bool claimed = slot == 0;
      slots[i] = v;  // unchanged when v was already there
      // Written on every step, kept only when new; kept <= k, so no value
      // still to be read is overwritten.
      values[kept] = v;
      kept += claimed;
    }
  }
  return kept;
}

// FNV-1a of every window of N bytes, with the window length a constant so
// that the byte loop unrolls and the windows' multiply chains overlap.
template <std::size_t N>
void fixed_window_hashes(const unsigned char* s, std::size_t count, std::uint64_t* out) {
  for (std::size_t i = 0; i < count;) {
    for (std::size_t piece = cancel::piece_end(i, count); i < piece; ++i) {
      std::uint64_t h = kFnvOffset;
      for (std::size_t k = 0; k < N; ++k) {
        h ^= s[i + k];
        h *= kFnvPrime;
      }
      out[i] = h;
    }
  }
}

// The hashes of an ASCII text's windows of n bytes (1 <= n <= 8, n <= size),
// in text order; false for other window sizes.
bool ascii_window_hashes(std::string_view text, std::uint64_t n, std::uint64_t* out) {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  std::size_t count = text.size() - std::size_t(n) + 1;
  switch (n) {
    case 1: fixed_window_hashes<1>(s, count, out); return true;
    case 2: fixed_window_hashes<2>(s, count, out); return true;
    case 3: fixed_window_hashes<3>(s, count, out); return true;
    case 4: fixed_window_hashes<4>(s, count, out); return true;
    case 5: fixed_window_hashes<5>(s, count, out); return true;
    case 6: fixed_window_hashes<6>(s, count, out); return true;
    case 7: fixed_window_hashes<7>(s, count, out); return true;
    case 8: fixed_window_hashes<8>(s, count, out); return true;
    default: return false;
  }
}

// The hashes of an ASCII text's distinct windows of N bytes, deduplicated by
// the bytes themselves: one bit per possible window, 2^(7N) bits, with no
// hashing and no probing. Worth it where that bitmap is no larger than the
// hash table keep_distinct() would clear.
template <std::size_t N>
std::vector<std::uint64_t> distinct_ascii_windows(const unsigned char* s, std::size_t count) {
  static_assert(N >= 1 && N <= 3, "the bitmap holds 2^(7N) bits");
  std::vector<std::uint64_t> seen(((std::size_t(1) << (7 * N)) + 63) / 64, 0);
  std::unique_ptr<std::uint64_t[]> out(new std::uint64_t[count]);
  std::size_t kept = 0;
  for (std::size_t i = 0; i < count;) {
    for (std::size_t piece = cancel::piece_end(i, count); i < piece; ++i) {
      std::size_t window = 0;
      std::uint64_t h = kFnvOffset;
      for (std::size_t k = 0; k < N; ++k) {
        window = (window << 7) | s[i + k];
        h ^= s[i + k];
        h *= kFnvPrime;
      }
      std::uint64_t& word = seen[window / 64];
      std::uint64_t bit = std::uint64_t(1) << (window % 64);
      bool fresh = (word & bit) == 0;
      word |= bit;
      out[kept] = h;
      kept += fresh;
    }
  }
  return {out.get(), out.get() + kept};
}

// FNV-1a hashes of the shingle set. Shingles are deduplicated by hash: two
// shingles with equal hashes give equal values under every hash function, so
// the minima are unchanged.
std::vector<std::uint64_t> shingle_hashes(std::string_view text, std::uint64_t shingle_size) {
  std::size_t chars = utf8::count_chars(text);
  std::size_t count = shingling::count(chars, shingle_size);
  if (chars == text.size() && chars >= shingle_size && shingle_size <= 8) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    // Bitmap bytes: 16 for one-byte windows, 2 KiB for two, 256 KiB for three;
    // the hash table takes 16 bytes or more per window.
    if (shingle_size == 1) return distinct_ascii_windows<1>(bytes, count);
    if (shingle_size == 2) return distinct_ascii_windows<2>(bytes, count);
    if (shingle_size == 3 && count > (std::size_t(1) << 13)) {
      return distinct_ascii_windows<3>(bytes, count);
    }
    // Left uninitialised: every entry is written before it is read.
    std::unique_ptr<std::uint64_t[]> hashes(new std::uint64_t[count]);
    if (ascii_window_hashes(text, shingle_size, hashes.get())) {
      std::size_t kept = keep_distinct(hashes.get(), count);
      return {hashes.get(), hashes.get() + kept};
    }
  }
  std::vector<std::uint64_t> hashes;
  hashes.reserve(count);
  shingling::for_each(text, chars, shingle_size,
                      [&](std::string_view s) { hashes.push_back(fnv1a64(s)); });
  hashes.resize(keep_distinct(hashes.data(), hashes.size()));
  return hashes;
}

// Entry i is the minimum of hash function i over the shingle hashes; the
// parameters are regenerated by the kernel on every call. Many hashes are
// folded a chunk of about a million hash evaluations at a time, with a poll
// between chunks: the minimum of the chunks' minima is the same entry.
std::vector<std::uint64_t> signature_of(const std::vector<std::uint64_t>& hashes,
                                        std::uint64_t num_hashes) {
  std::vector<std::uint64_t> signature(num_hashes);
  std::size_t chunk =
      std::max<std::size_t>(256, (std::size_t(1) << 20) / std::max<std::uint64_t>(num_hashes, 1));
  std::size_t first = std::min(chunk, hashes.size());
  minhash::fold_minima(hashes.data(), first, signature.data(), signature.size());
  if (first == hashes.size()) return signature;
  std::vector<std::uint64_t> part(num_hashes);
  for (std::size_t begin = first; begin < hashes.size(); begin += chunk) {
    cancel::poll();
    std::size_t count = std::min(chunk, hashes.size() - begin);
    minhash::fold_minima(hashes.data() + begin, count, part.data(), part.size());
    for (std::size_t i = 0; i < part.size(); ++i) signature[i] = std::min(signature[i], part[i]);
  }
  return signature;
}

}  // namespace

Result<std::vector<std::uint64_t>> minhash_signature(std::string_view text,
                                                     std::uint64_t shingle_size,
                                                     std::uint64_t num_hashes) {
  std::vector<std::uint64_t> hashes = shingle_hashes(text, shingle_size);
  if (!fits_in_memory(num_hashes, kNativeEntryBytes + kPythonEntryBytes))
    return too_large(num_hashes);
  try {
    return signature_of(hashes, num_hashes);
  } catch (const std::bad_alloc&) {
    return too_large(num_hashes);
  }
}

std::optional<ExceptionDesc> signature_rows_too_large(std::uint64_t num_hashes,
                                                      std::uint64_t rows) {
  if (rows == 0) return std::nullopt;
  bool fits =
      fits_in_memory(num_hashes, kNativeEntryBytes + kPythonEntryBytes) &&
      fits_in_memory(num_hashes, kNativeEntryBytes * std::min<std::uint64_t>(rows, 1 << 20));
  if (fits) return std::nullopt;
  return too_large(num_hashes);
}

Result<double> minhash_similarity(std::string_view a, std::string_view b,
                                  std::uint64_t shingle_size, std::uint64_t num_hashes) {
  std::vector<std::uint64_t> hashes_a = shingle_hashes(a, shingle_size);
  std::vector<std::uint64_t> hashes_b = shingle_hashes(b, shingle_size);
  if (!fits_in_memory(num_hashes, 2 * kNativeEntryBytes)) return too_large(num_hashes);
  try {
    std::vector<std::uint64_t> sa = signature_of(hashes_a, num_hashes);
    std::vector<std::uint64_t> sb = signature_of(hashes_b, num_hashes);
    return minhash_signature_similarity(sa, sb);
  } catch (const std::bad_alloc&) {
    return too_large(num_hashes);
  }
}

}  // namespace kivo
