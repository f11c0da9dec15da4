#include "batch/lsh.hpp"

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "algo/minhash.hpp"
#include "base/error.hpp"
#include "base/hashing.hpp"
#include "batch/scorer.hpp"

namespace kivo::batch {

void minhash_signatures(const Texts& texts, std::uint64_t shingle_size, std::uint64_t num_hashes,
                        std::uint64_t* out, const Pool& pool) {
  pool.for_each(texts.size(), [&](std::size_t i) {
    Result<std::vector<std::uint64_t>> signature =
        minhash_signature(texts.utf8(i), shingle_size, num_hashes);
    if (!signature.ok()) throw PairFailure{std::move(signature.failure())};
    const std::vector<std::uint64_t>& values = signature.value();
    std::copy(values.begin(), values.end(), out + i * num_hashes);
  });
}

class LshPairs::Found {
 public:
  virtual ~Found() = default;
  virtual std::size_t size() const = 0;
  virtual void write(std::int64_t* first, std::int64_t* second, const Pool& pool) const = 0;
};

namespace {

// Counts the steps of a long loop and checks for cancellation every so many,
// a fraction of a millisecond apart.
class Ticker {
 public:
  explicit Ticker(const Pool& pool) : pool_(pool) {}
  void add(std::size_t steps = 1) {
    steps_ += steps;
    if (steps_ >= kStride) {
      steps_ = 0;
      pool_.check();
    }
  }

 private:
  static constexpr std::size_t kStride = std::size_t(1) << 14;
  const Pool& pool_;
  std::size_t steps_ = 0;
};

// Whether two texts share a bucket in one of the first `bands` bands, given
// where each is listed in every band.
template <class Index>
bool met_before(const Index* a, const Index* b, std::size_t bands) {
  std::size_t k = 0;
  for (; k + 8 <= bands; k += 8) {
    bool met = false;
    for (std::size_t t = 0; t < 8; ++t) met |= a[k + t] == b[k + t];
    if (met) return true;
  }
  for (; k < bands; ++k) {
    if (a[k] == b[k]) return true;
  }
  return false;
}

// Rows of the result handed to a worker at a time: the first rows of a large
// bucket hold the most pairs, so the hand-out stays fine-grained.
constexpr std::size_t kRowsPerTask = 64;

// Items of a plain loop between two looks at the cancel flag.
constexpr std::size_t kBlock = 4096;

// Index is the type of text numbers and list positions: 32 bits wherever
// they fit, halving the memory of the lists.
template <class Index>
class Buckets final : public LshPairs::Found {
 public:
  Buckets(const Signatures& s, std::size_t bands, std::size_t rows, const Pool& pool)
      : count_(s.count),
        bands_(bands),
        where_(std::make_unique_for_overwrite<Index[]>(s.count * bands)),
        lists_(bands),
        repeats_(bands),
        starts_(s.count + 1, 0) {
    // Every text alone at first, in one pass over memory: the sort of a band
    // then writes where its buckets' texts are only, which are few.
    pool.for_each(tasks(), [&](std::size_t t) {
      for (std::size_t i = t * kRowsPerTask; i < std::min(count_, (t + 1) * kRowsPerTask); ++i) {
        std::fill_n(where_.get() + i * bands, bands, kAlone | Index(i));
      }
    });
    pool.for_each(bands, [&](std::size_t b) { sort_band(s, b, rows, pool); });
    pool.for_each(bands, [&](std::size_t b) { find_repeats(b, pool); });
    pool.for_each(tasks(), [&](std::size_t t) {
      Ticker ticker(pool);
      for (std::size_t i = t * kRowsPerTask; i < std::min(count_, (t + 1) * kRowsPerTask); ++i) {
        std::size_t found = 0;
        partners(i, ticker, [&](std::size_t, Index) { ++found; });
        starts_[i + 1] = found;
      }
    });
    for (std::size_t i = 0; i < count_; ++i) starts_[i + 1] += starts_[i];
  }

  std::size_t size() const override { return starts_[count_]; }

  void write(std::int64_t* first, std::int64_t* second, const Pool& pool) const override {
    pool.for_each(tasks(), [&](std::size_t t) {
      Ticker ticker(pool);
      auto ordered = [&](std::int64_t x, std::int64_t y) {
        ticker.add();
        return x < y;
      };
      for (std::size_t i = t * kRowsPerTask; i < std::min(count_, (t + 1) * kRowsPerTask); ++i) {
        std::int64_t* out = second + starts_[i];
        std::size_t room = starts_[i + 1] - starts_[i];
        std::size_t found = 0;
        std::size_t last_band = 0;
        bool merged = false;  // pairs of two bands or more: each band's come ordered
        partners(i, ticker, [&](std::size_t band, Index j) {
          if (found == room) throw InternalFault("a text has more LSH pairs than were counted");
          merged |= found > 0 && band != last_band;
          last_band = band;
          out[found++] = std::int64_t(j);
        });
        if (found != room) throw InternalFault("a text has fewer LSH pairs than were counted");
        std::fill(first + starts_[i], first + starts_[i + 1], std::int64_t(i));
        if (merged) std::sort(out, out + found, ordered);
      }
    });
  }

 private:
  // Marks a text alone in its bucket; any other value is the position of its
  // bucket in the band's list.
  static constexpr Index kAlone = Index(1) << (8 * sizeof(Index) - 1);

  std::size_t tasks() const { return (count_ + kRowsPerTask - 1) / kRowsPerTask; }

  struct Keyed {
    std::uint32_t hash;
    Index text;
  };

  // Sorts by hash, stably (texts of equal hashes stay in order): a radix sort,
  // a byte at a time, checking for cancellation between blocks.
  static void sort_by_hash(std::vector<Keyed>& items, Ticker& ticker) {
    std::vector<Keyed> sorted(items.size());
    for (int shift = 0; shift < 32; shift += 8) {
      std::size_t starts[256] = {};
      for (std::size_t begin = 0; begin < items.size(); begin += kBlock) {
        std::size_t end = std::min(items.size(), begin + kBlock);
        for (std::size_t x = begin; x < end; ++x) ++starts[(items[x].hash >> shift) & 0xFF];
        ticker.add(end - begin);
      }
      if (std::find(std::begin(starts), std::end(starts), items.size()) != std::end(starts)) {
        continue;  // one byte for all
      }
      std::size_t at = 0;
      for (std::size_t& start : starts) at += std::exchange(start, at);
      for (std::size_t begin = 0; begin < items.size(); begin += kBlock) {
        std::size_t end = std::min(items.size(), begin + kBlock);
        for (std::size_t x = begin; x < end; ++x) {
          sorted[starts[(items[x].hash >> shift) & 0xFF]++] = items[x];
        }
        ticker.add(end - begin);
      }
      items.swap(sorted);
    }
  }

  // Lists the buckets of band `b`. Texts are sorted by a keyed hash of their
  // band, so equal bands sit side by side; a run of equal hashes is split by
  // the values themselves.
  void sort_band(const Signatures& s, std::size_t b, std::size_t rows, const Pool& pool) {
    Ticker ticker(pool);
    auto values = [&](Index i) { return s.row(std::size_t(i)) + b * rows; };
    std::vector<Keyed> keyed(count_);
    for (std::size_t begin = 0; begin < count_; begin += kBlock) {
      std::size_t end = std::min(count_, begin + kBlock);
      for (std::size_t i = begin; i < end; ++i) {
        keyed[i] = {std::uint32_t(band_hash(values(Index(i)), rows) >> 32), Index(i)};
      }
      ticker.add((end - begin) * rows);
    }
    sort_by_hash(keyed, ticker);
    auto run_end = [&](std::size_t begin) {
      std::size_t end = begin + 1;
      while (end < count_ && keyed[end].hash == keyed[begin].hash) ++end;
      return end;
    };
    std::size_t listed = 0;
    for (std::size_t begin = 0, end; begin < count_; begin = end) {
      end = run_end(begin);
      if (end - begin > 1) listed += end - begin + 1;
    }
    lists_[b].reserve(listed);  // exact unless two bands' hashes collide
    std::vector<Index> run;
    for (std::size_t begin = 0, end; begin < count_; begin = end) {
      end = run_end(begin);
      ticker.add(end - begin);
      if (end - begin == 1) continue;
      run.clear();
      for (std::size_t x = begin; x < end; ++x) run.push_back(keyed[x].text);
      // The texts whose values equal the first one's make a bucket; the rest
      // (a hash collision) are split again. Each part stays ordered.
      while (!run.empty()) {
        const Index leader = run.front();
        auto same = std::stable_partition(run.begin(), run.end(), [&](Index t) {
          ticker.add(rows);
          return t == leader ||
                 std::memcmp(values(leader), values(t), rows * sizeof(std::uint64_t)) == 0;
        });
        list(b, run.data(), std::size_t(same - run.begin()));
        run.erase(run.begin(), same);
      }
    }
  }

  // Marks the large buckets of band `b` that are buckets of an earlier band
  // too (texts equal on all bands, say): their pairs have all met before.
  // Worth it where a bucket's pairs far outnumber the earlier bands.
  void find_repeats(std::size_t b, const Pool& pool) {
    Ticker ticker(pool);
    const std::vector<Index>& list = lists_[b];
    std::vector<bool>& repeats = repeats_[b];
    for (std::size_t at = 0; at < list.size(); at += 1 + std::size_t(list[at])) {
      std::size_t size = list[at];
      if (size < 16 || size * size < 8 * b) continue;
      const Index* texts = list.data() + at + 1;
      const Index* leader = where_.get() + std::size_t(texts[0]) * bands_;
      for (std::size_t earlier = 0; earlier < b; ++earlier) {
        ticker.add();
        if (leader[earlier] & kAlone) continue;
        const Index* other = lists_[earlier].data() + leader[earlier];
        if (other[0] != size) continue;
        ticker.add(size);
        if (std::equal(texts, texts + size, other + 1)) {
          if (repeats.empty()) repeats.resize(list.size());
          repeats[at] = true;
          break;
        }
      }
    }
  }

  // A bucket of band `b`: its size, then its texts in order.
  void list(std::size_t b, const Index* texts, std::size_t size) {
    if (size == 1) return;
    std::vector<Index>& list = lists_[b];
    Index at = Index(list.size());
    list.push_back(Index(size));
    for (std::size_t k = 0; k < size; ++k) {
      list.push_back(texts[k]);
      where_[std::size_t(texts[k]) * bands_ + b] = at;
    }
  }

  // Calls emit(band, j) for every partner j > i of text i, at the first band
  // the two share a bucket: ordered by j within each band.
  template <class Emit>
  void partners(std::size_t i, Ticker& ticker, Emit&& emit) const {
    const Index* mine = where_.get() + i * bands_;
    ticker.add(bands_);
    Index listed = 0;  // most texts are alone in every band: one look, without branches
    for (std::size_t b = 0; b < bands_; ++b) listed |= ~mine[b] & kAlone;
    if (listed == 0) return;
    for (std::size_t b = 0; b < bands_; ++b) {
      if ((mine[b] & kAlone) || (!repeats_[b].empty() && repeats_[b][mine[b]])) continue;
      const Index* bucket = lists_[b].data() + mine[b];
      const Index* end = bucket + 1 + bucket[0];
      for (const Index* j = std::upper_bound(bucket + 1, end, Index(i)); j != end; ++j) {
        ticker.add(1 + b / 16);
        if (!met_before(mine, where_.get() + std::size_t(*j) * bands_, b)) emit(b, *j);
      }
    }
  }

  std::size_t count_;
  std::size_t bands_;
  // where_[i * bands + b]: the position of text i's bucket of band b in
  // lists_[b], or kAlone | i.
  std::unique_ptr<Index[]> where_;
  std::vector<std::vector<Index>> lists_;  // per band, its buckets of two texts or more
  // Per band, by position in its list: the buckets of an earlier band (none
  // when empty).
  std::vector<std::vector<bool>> repeats_;
  // Text i's pairs go to [starts_[i], starts_[i + 1]) of the result.
  std::vector<std::size_t> starts_;
};

}  // namespace

LshPairs::LshPairs(const Signatures& signatures, std::size_t bands, std::size_t rows,
                   const Pool& pool, bool wide) {
  if (signatures.count > 0 &&
      (bands == 0 || rows == 0 || bands > signatures.length || rows > signatures.length / bands)) {
    throw InternalFault("LSH bands that do not fit in the signatures");
  }
  if (signatures.count == 0) bands = 0;  // nothing to band, however many bands
  // A band's list holds at most 1.5 entries per text, below the alone mark.
  if (!wide && signatures.count < (std::size_t(1) << 30)) {
    found_ = std::make_unique<Buckets<std::uint32_t>>(signatures, bands, rows, pool);
  } else {
    found_ = std::make_unique<Buckets<std::uint64_t>>(signatures, bands, rows, pool);
  }
}

LshPairs::~LshPairs() = default;

std::size_t LshPairs::size() const {
  return found_->size();
}

void LshPairs::write(std::int64_t* first, std::int64_t* second, const Pool& pool) const {
  found_->write(first, second, pool);
}

}  // namespace kivo::batch
