// Set measures with each text's set built once: shingles and words as sorted
// ids from one dictionary shared by both lists, MinHash signatures, SimHash
// fingerprints. Each pair then costs a merge, a compare or a popcount.
#include <algorithm>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "algo/jaccard.hpp"
#include "algo/minhash.hpp"
#include "algo/simhash.hpp"
#include "batch/scorers.hpp"

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

using Ids = std::vector<std::uint32_t>;

// Each text's set as the sorted ids of its members; equal members get equal
// ids in both lists.
class IdSets {
 public:
  IdSets(Measure measure, const Texts& queries, const Texts& choices, const Pool& pool) {
    PerText<ShingleSet> sets(queries, choices, pool, [measure](std::string_view text) {
      return measure == Measure::JaccardWord ? word_set(text)
                                             : shingle_set(text, shingle_width(measure));
    });
    number(
        queries.size(), [&](std::size_t i) -> const ShingleSet& { return sets.query(i); },
        queries_);
    if (&choices != &queries) {
      number(
          choices.size(), [&](std::size_t j) -> const ShingleSet& { return sets.choice(j); },
          choices_);
    }
  }
  const Ids& query(std::size_t i) const { return queries_[i]; }
  const Ids& choice(std::size_t j) const { return choices_.empty() ? queries_[j] : choices_[j]; }

 private:
  static std::uint64_t shingle_width(Measure measure) {
    return measure == Measure::JaccardBigram ? 2 : 3;
  }

  // Members are views of the texts, which outlive the dictionary.
  template <class SetOf>
  void number(std::size_t count, SetOf set_of, std::vector<Ids>& out) {
    out.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
      const ShingleSet& set = set_of(i);
      Ids& ids = out[i];
      ids.reserve(set.size());
      for (std::string_view member : set) {
        auto at = dictionary_.try_emplace(member, std::uint32_t(dictionary_.size())).first;
        ids.push_back(at->second);
      }
      std::sort(ids.begin(), ids.end());
    }
  }

  std::unordered_map<std::string_view, std::uint32_t, ShingleHash> dictionary_;
  std::vector<Ids> queries_;
  std::vector<Ids> choices_;
};

std::size_t shared_count(const Ids& a, const Ids& b) {
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
      : Scorer(false), sets_(measure, queries, choices, pool) {}

  std::optional<double> score(std::size_t i, std::size_t j, double) const override {
    const Ids& a = sets_.query(i);
    const Ids& b = sets_.choice(j);
    // Only word sets can be empty; two empty ones are alike.
    if (a.empty() && b.empty()) return 1.0;
    std::size_t shared = shared_count(a, b);
    return double(shared) / double(a.size() + b.size() - shared);
  }

 private:
  IdSets sets_;
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
