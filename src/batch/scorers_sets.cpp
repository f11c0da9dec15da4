// Set measures with each text's set built once: shingles and words as sorted
// ids from one dictionary shared by both lists, MinHash signatures, SimHash
// fingerprints. Each pair then costs a merge, a compare or a popcount.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <exception>
#include <functional>
#include <vector>

#include "algo/minhash.hpp"
#include "algo/shingles.hpp"
#include "algo/simhash.hpp"
#include "base/hashing.hpp"
#include "batch/scorers.hpp"
#include "text/utf8.hpp"

namespace kivo::batch {

namespace {

// Something computed per text for the queries and, unless they are the same
// list, for the choices.
template <class T>
class PerText {
 public:
  template <class F>
  PerText(const Texts& queries, const Texts& choices, const Pool& pool, F&& of) {
    fill(queries_, queries, pool, of);
    if (&choices != &queries) fill(choices_, choices, pool, of);
  }
  const T& query(std::size_t i) const { return queries_[i]; }
  const T& choice(std::size_t j) const { return choices_.empty() ? queries_[j] : choices_[j]; }

 private:
  template <class F>
  static void fill(std::vector<T>& out, const Texts& texts, const Pool& pool, F& of) {
    out.resize(texts.size());
    pool.for_each(texts.size(), [&](std::size_t i) { out[i] = of(texts.utf8(i)); });
  }
  std::vector<T> queries_;
  std::vector<T> choices_;
};

// A set in two sorted parts that merge in one pass each. A member of up to
// 7 bytes is its own key: its bytes, and its length in the top byte. A longer
// one gets a keyed hash, and equal hashes are checked against the bytes. So
// the counts are exact whatever collides.
struct Hashed {
  std::uint64_t key;
  std::string_view text;
  bool operator<(const Hashed& other) const {
    return key != other.key ? key < other.key : text < other.text;
  }
  bool operator==(const Hashed& other) const { return key == other.key && text == other.text; }
};

struct Members {
  std::vector<std::uint64_t> packed;
  std::vector<Hashed> hashed;
  std::size_t size() const { return packed.size() + hashed.size(); }
};

template <class T>
void sort_unique(std::vector<T>& items) {
  cancel::Meter meter;
  std::sort(items.begin(), items.end(), cancel::metered(meter, std::less<T>()));
  items.erase(std::unique(items.begin(), items.end()), items.end());
}

template <class T>
std::size_t shared_count(const std::vector<T>& a, const std::vector<T>& b) {
  std::size_t shared = 0;
  cancel::Meter meter;
  for (auto x = a.begin(), y = b.begin(); x != a.end() && y != b.end();) {
    meter.add();
    if (*x < *y) {
      ++x;
    } else if (*y < *x) {
      ++y;
    } else {
      ++shared, ++x, ++y;
    }
  }
  return shared;
}

// The members of `text`, views of it, into `out` (cleared first).
void members_of(const Measure& measure, std::string_view text, Members& out) {
  out.packed.clear();
  out.hashed.clear();
  const HashKey& hash_key = process_key();
  auto add = [&](std::string_view member) {
    if (member.size() > 7) {
      out.hashed.push_back({keyed_hash(hash_key.k0, hash_key.k1, member), member});
      return;
    }
    std::uint64_t key = 0;
    std::memcpy(&key, member.data(), member.size());
    out.packed.push_back(key | std::uint64_t(member.size()) << 56);
  };
  if (measure.kernel == BatchKernel::Words) {
    for (std::string_view word : word_set(text)) add(word);
  } else {
    std::uint64_t n = measure.params.shingle_size;
    std::size_t chars = utf8::count_chars(text);
    out.packed.reserve(shingling::count(chars, n));
    shingling::for_each(text, chars, n, add);
  }
  sort_unique(out.packed);
  sort_unique(out.hashed);
}

double jaccard_of(const Members& a, const Members& b) {
  // Only word sets can be empty; two empty ones are alike.
  if (a.size() == 0 && b.size() == 0) return 1.0;
  std::size_t shared = shared_count(a.packed, b.packed) + shared_count(a.hashed, b.hashed);
  return double(shared) / double(a.size() + b.size() - shared);
}

// Each text's set built once, when texts meet many others.
class JaccardScorer final : public Scorer {
 public:
  JaccardScorer(const Measure& measure, const Texts& queries, const Texts& choices,
                const Pool& pool)
      : Scorer(false), sets_(queries, choices, pool, [&measure](std::string_view text) {
          Members members;
          members_of(measure, text, members);
          return members;
        }) {}

  std::optional<double> score(std::size_t i, std::size_t j, double) const override {
    return jaccard_of(sets_.query(i), sets_.choice(j));
  }

 private:
  PerText<Members> sets_;
};

// The Jaccard index of two ASCII texts' windows of n <= 3 bytes, each at
// least n long: a window is its own bit (7 bits a byte) in two bitmaps each
// thread keeps, cleared after use, so nothing is sorted or hashed.
double ascii_window_jaccard(std::string_view a, std::string_view b, std::size_t n) {
  constexpr std::size_t kWords = (std::size_t(1) << 21) / 64;
  thread_local std::vector<std::uint64_t> in_a(kWords, 0), in_b(kWords, 0);
  // Cancelled halfway, the bitmaps are cleared whole on the way out.
  struct ClearOnUnwind {
    int unwinding = std::uncaught_exceptions();
    ~ClearOnUnwind() {
      if (std::uncaught_exceptions() == unwinding) return;
      std::fill(in_a.begin(), in_a.end(), 0);
      std::fill(in_b.begin(), in_b.end(), 0);
    }
  } clear_on_unwind;
  cancel::Meter meter;
  auto windows = [n, &meter](std::string_view text, auto&& visit) {
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    for (std::size_t i = 0; i + n <= text.size(); ++i) {
      meter.add();
      std::uint32_t code = 0;
      for (std::size_t k = 0; k < n; ++k) code = (code << 7) | s[i + k];
      visit(code);
    }
  };
  auto set = [](std::vector<std::uint64_t>& bits, std::uint32_t code) {
    std::uint64_t bit = std::uint64_t(1) << (code % 64);
    bool fresh = (bits[code / 64] & bit) == 0;
    bits[code / 64] |= bit;
    return fresh;
  };
  std::size_t count_a = 0, count_b = 0, shared = 0;
  windows(a, [&](std::uint32_t code) { count_a += set(in_a, code); });
  windows(b, [&](std::uint32_t code) {
    if (set(in_b, code)) {
      ++count_b;
      shared += (in_a[code / 64] >> (code % 64)) & 1;
    }
  });
  windows(a, [&](std::uint32_t code) { in_a[code / 64] = 0; });
  windows(b, [&](std::uint32_t code) { in_b[code / 64] = 0; });
  return double(shared) / double(count_a + count_b - shared);
}

// Both sets built for the pair, in buffers each thread reuses, when every
// text meets one other.
class JaccardPairScorer final : public Scorer {
 public:
  JaccardPairScorer(const Measure& measure, const Texts& queries, const Texts& choices)
      : Scorer(false), measure_(measure), queries_(queries), choices_(choices) {}

  std::optional<double> score(std::size_t i, std::size_t j, double) const override {
    std::string_view x = queries_.utf8(i);
    std::string_view y = choices_.utf8(j);
    std::size_t n = measure_.params.shingle_size;
    if (measure_.kernel != BatchKernel::Words && x.size() >= n && y.size() >= n &&
        utf8::is_ascii(x) && utf8::is_ascii(y)) {
      return ascii_window_jaccard(x, y, n);
    }
    thread_local Members a;
    thread_local Members b;
    members_of(measure_, x, a);
    members_of(measure_, y, b);
    return jaccard_of(a, b);
  }

 private:
  const Measure& measure_;
  const Texts& queries_;
  const Texts& choices_;
};

class MinHashScorer final : public Scorer {
 public:
  MinHashScorer(MeasureParams params, const Texts& queries, const Texts& choices, const Pool& pool)
      : Scorer(false), signatures_(queries, choices, pool, [params](std::string_view text) {
          Result<std::vector<std::uint64_t>> signature =
              minhash_signature(text, params.shingle_size, params.num_hashes);
          if (!signature.ok()) throw PairFailure{std::move(signature.failure())};
          return std::move(signature.value());
        }) {}

  std::optional<double> score(std::size_t i, std::size_t j, double) const override {
    return minhash_signature_similarity(signatures_.query(i), signatures_.choice(j));
  }

 private:
  PerText<std::vector<std::uint64_t>> signatures_;
};

class SimHashScorer final : public Scorer {
 public:
  SimHashScorer(MeasureParams params, const Texts& queries, const Texts& choices, const Pool& pool)
      : Scorer(false), fingerprints_(queries, choices, pool, [params](std::string_view text) {
          return simhash_fingerprint(text, params.shingle_size);
        }) {}

  std::optional<double> score(std::size_t i, std::size_t j, double) const override {
    return simhash_fingerprint_similarity(fingerprints_.query(i), fingerprints_.choice(j));
  }

 private:
  PerText<std::uint64_t> fingerprints_;
};

}  // namespace

std::unique_ptr<Scorer> make_set_scorer(const Measure& measure, const Texts& queries,
                                        const Texts& choices, bool pairwise, const Pool& pool) {
  switch (measure.kernel) {
    case BatchKernel::MinHash:
      return std::make_unique<MinHashScorer>(measure.params, queries, choices, pool);
    case BatchKernel::SimHash:
      return std::make_unique<SimHashScorer>(measure.params, queries, choices, pool);
    case BatchKernel::CharGrams:
    case BatchKernel::Words:
      if (pairwise) return std::make_unique<JaccardPairScorer>(measure, queries, choices);
      return std::make_unique<JaccardScorer>(measure, queries, choices, pool);
    default: throw InternalFault("not a set measure: " + std::string(measure.name));
  }
}

}  // namespace kivo::batch
