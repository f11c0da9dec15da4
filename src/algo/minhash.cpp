#include "minhash.hpp"

#include <unistd.h>

#include <algorithm>
#include <bit>
#include <limits>
#include <new>
#include <string>

#include "fnv.hpp"
#include "jaccard.hpp"

namespace kivo {

namespace {

// Hash function i is v = A_i * h + B_i (wrapping) mod P, with B_i = s_i and
// A_i = (s_i + 0x9999) | 1 over the seed sequence s_(i+1) = s_i + kSeedStep.
constexpr std::uint64_t kFirstSeed = 0x9e3779b97f4a8e49ULL;
constexpr std::uint64_t kSeedStep = 0x9e3779b97f4a7c15ULL;
constexpr std::uint64_t kMultiplierOffset = 0x9999;

// Bytes one signature entry costs while the result is alive: the native
// entry, and for a signature handed to Python also its list slot and the int
// object (36 bytes, allocated in 16-byte steps).
constexpr std::uint64_t kNativeEntryBytes = 8;
constexpr std::uint64_t kPythonEntryBytes = 8 + 48;

std::uint64_t physical_memory() {
  long pages = sysconf(_SC_PHYS_PAGES);
  long page_size = sysconf(_SC_PAGESIZE);
  // Unknown: fall back to a typical 47-bit user address space.
  if (pages <= 0 || page_size <= 0) return std::uint64_t{1} << 47;
  std::uint64_t p = std::uint64_t(pages);
  std::uint64_t s = std::uint64_t(page_size);
  return p > std::numeric_limits<std::uint64_t>::max() / s
             ? std::numeric_limits<std::uint64_t>::max()
             : p * s;
}

ExceptionDesc too_large(std::uint64_t num_hashes) {
  return memory_error("num_hashes " + std::to_string(num_hashes) +
                      " is too large to fit in memory");
}

// A request the machine could never hold is refused before any allocation:
// with overcommit a huge allocation can succeed and the process is killed
// later, while it is being filled.
bool fits_in_memory(std::uint64_t num_hashes, std::uint64_t bytes_per_entry) {
  return num_hashes <= physical_memory() / bytes_per_entry;
}

// Keeps the first occurrence of each value, in order, using an open-addressing
// table of at least twice the count indexed by multiply-shift hashing. Zero
// marks an empty slot, so a zero value is tracked on the side.
void remove_repeats(std::vector<std::uint64_t>& values) {
  if (values.size() < 2) return;
  std::size_t capacity = std::bit_ceil(2 * values.size());
  std::size_t mask = capacity - 1;
  int shift = 64 - std::countr_zero(capacity);
  // A random odd multiplier per table: no fixed set of crafted shingles
  // can pile up in one probe sequence.
  std::uint64_t key = random_table_key() | 1;
  std::vector<std::uint64_t> slots(capacity, 0);
  bool zero_seen = false;
  std::size_t kept = 0;
  for (std::uint64_t v : values) {
    if (v == 0) {
      if (!zero_seen) values[kept++] = v;
      zero_seen = true;
      continue;
    }
    for (std::size_t i = std::size_t((v * key) >> shift);; i = (i + 1) & mask) {
      if (slots[i] == v) break;
      if (slots[i] == 0) {
        slots[i] = v;
        values[kept++] = v;
        break;
      }
    }
  }
  values.resize(kept);
}

// FNV-1a hashes of the shingle set. Shingles are deduplicated by hash: two
// shingles with equal hashes give equal values under every hash function, so
// the minima are unchanged.
std::vector<std::uint64_t> shingle_hashes(std::string_view text, std::uint64_t shingle_size) {
  std::size_t chars = utf8::count_chars(text);
  std::vector<std::uint64_t> hashes;
  hashes.reserve(shingling::count(chars, shingle_size));
  shingling::for_each(text, chars, shingle_size,
                      [&](std::string_view s) { hashes.push_back(fnv1a64(s)); });
  remove_repeats(hashes);
  return hashes;
}

// Entry i is the minimum of hash function i over the shingle hashes. The
// parameters are regenerated here. Four hash functions share one pass over
// the hashes, so four independent min chains keep the multiplier busy.
std::vector<std::uint64_t> signature_of(const std::vector<std::uint64_t>& hashes,
                                        std::uint64_t num_hashes) {
  constexpr std::size_t kLanes = 4;
  std::vector<std::uint64_t> signature(num_hashes);
  std::uint64_t seed = kFirstSeed;
  for (std::size_t first = 0; first < signature.size(); first += kLanes) {
    std::size_t lanes = std::min(kLanes, signature.size() - first);
    std::uint64_t a[kLanes];
    std::uint64_t b[kLanes];
    std::uint64_t least[kLanes];
    for (std::size_t l = 0; l < kLanes; ++l) {
      a[l] = (seed + kMultiplierOffset) | 1;
      b[l] = seed;
      least[l] = std::numeric_limits<std::uint64_t>::max();
      seed += kSeedStep;
    }
    for (std::uint64_t h : hashes)
      for (std::size_t l = 0; l < kLanes; ++l)
        least[l] = std::min(least[l], minhash::reduce(a[l] * h + b[l]));
    for (std::size_t l = 0; l < lanes; ++l) signature[first + l] = least[l];
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

Result<double> minhash_similarity(std::string_view a, std::string_view b,
                                  std::uint64_t shingle_size, std::uint64_t num_hashes) {
  std::vector<std::uint64_t> hashes_a = shingle_hashes(a, shingle_size);
  std::vector<std::uint64_t> hashes_b = shingle_hashes(b, shingle_size);
  if (!fits_in_memory(num_hashes, 2 * kNativeEntryBytes)) return too_large(num_hashes);
  try {
    std::vector<std::uint64_t> sa = signature_of(hashes_a, num_hashes);
    std::vector<std::uint64_t> sb = signature_of(hashes_b, num_hashes);
    std::size_t length = std::min(sa.size(), sb.size());
    std::size_t equal = 0;
    for (std::size_t i = 0; i < length; ++i) equal += sa[i] == sb[i];
    // No hash functions: 0 / 0, which is NaN.
    return double(equal) / double(length);
  } catch (const std::bad_alloc&) {
    return too_large(num_hashes);
  }
}

}  // namespace kivo
