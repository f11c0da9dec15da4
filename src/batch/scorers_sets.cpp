// Set measures with each text's set built once: shingles and words as sorted
// ids from one dictionary shared by both lists, MinHash signatures, SimHash
// fingerprints. Each pair then costs a merge, a compare or a popcount.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "algo/jaccard.hpp"
#include "algo/minhash.hpp"
#include "algo/simhash.hpp"
#include "base/hashing.hpp"
#include "batch/scorers.hpp"
#include "text/utf8.hpp"

namespace kivo::batch {

namespace {

constexpr std::uint64_t kMinHashShingle = 3;
constexpr std::uint64_t kMinHashCount = 128;
constexpr std::uint64_t kSimHashShingle = 4;

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

// A set as its members sorted by a keyed hash, then by their bytes: a
// total order in which two sets merge in one pass. Equal hashes are checked
// against the bytes, so the counts are exact whatever collides.
struct Member {
  std::uint64_t hash;
  std::string_view text;
  bool operator<(const Member& other) const {
    return hash != other.hash ? hash < other.hash : text < other.text;
  }
  bool operator==(const Member& other) const { return hash == other.hash && text == other.text; }
};
using Members = std::vector<Member>;

// Members are views of the text, which outlives them.
Members members_of(Measure measure, std::string_view text) {
  Members out;
  auto add = [&](std::string_view member) { out.push_back({keyed_hash(member), member}); };
  if (measure == Measure::JaccardWord) {
    for (std::string_view word : word_set(text)) add(word);
  } else {
    std::uint64_t n = measure == Measure::JaccardBigram ? 2 : 3;
    shingling::for_each(text, utf8::count_chars(text), n, add);
  }
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

std::size_t shared_count(const Members& a, const Members& b) {
  std::size_t shared = 0;
  for (auto x = a.begin(), y = b.begin(); x != a.end() && y != b.end();) {
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

class JaccardScorer final : public Scorer {
 public:
  JaccardScorer(Measure measure, const Texts& queries, const Texts& choices, const Pool& pool)
      : Scorer(false), sets_(queries, choices, pool, [measure](std::string_view text) {
          return members_of(measure, text);
        }) {}

  std::optional<double> score(std::size_t i, std::size_t j, double) const override {
    const Members& a = sets_.query(i);
    const Members& b = sets_.choice(j);
    // Only word sets can be empty; two empty ones are alike.
    if (a.empty() && b.empty()) return 1.0;
    std::size_t shared = shared_count(a, b);
    return double(shared) / double(a.size() + b.size() - shared);
  }

 private:
  PerText<Members> sets_;
};

class MinHashScorer final : public Scorer {
 public:
  MinHashScorer(const Texts& queries, const Texts& choices, const Pool& pool)
      : Scorer(false), signatures_(queries, choices, pool, [](std::string_view text) {
          Result<std::vector<std::uint64_t>> signature =
              minhash_signature(text, kMinHashShingle, kMinHashCount);
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
  SimHashScorer(const Texts& queries, const Texts& choices, const Pool& pool)
      : Scorer(false), fingerprints_(queries, choices, pool, [](std::string_view text) {
          return simhash_fingerprint(text, kSimHashShingle);
        }) {}

  std::optional<double> score(std::size_t i, std::size_t j, double) const override {
    return simhash_fingerprint_similarity(fingerprints_.query(i), fingerprints_.choice(j));
  }

 private:
  PerText<std::uint64_t> fingerprints_;
};

}  // namespace

std::unique_ptr<Scorer> make_set_scorer(Measure measure, const Texts& queries, const Texts& choices,
                                        const Pool& pool) {
  switch (measure) {
    case Measure::MinHash: return std::make_unique<MinHashScorer>(queries, choices, pool);
    case Measure::SimHash: return std::make_unique<SimHashScorer>(queries, choices, pool);
    default: return std::make_unique<JaccardScorer>(measure, queries, choices, pool);
  }
}

}  // namespace kivo::batch
