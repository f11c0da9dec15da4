// The LSH index against a model (every document's signature, compared band
// by band) over random adds, removes and queries; its pairs against
// LshPairs; an add cancelled midway leaves nothing behind.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <thread>
#include <vector>

#include "batch/executor.hpp"
#include "batch/lsh.hpp"
#include "batch/lsh_index.hpp"
#include "harness.hpp"

using namespace kivo::batch;

namespace {

const std::atomic<bool> kNever{false};

using Model = std::map<std::int64_t, std::vector<std::uint64_t>>;

std::size_t shared_bands(const std::vector<std::uint64_t>& a, const std::uint64_t* b,
                         std::size_t bands, std::size_t rows) {
  std::size_t shared = 0;
  for (std::size_t k = 0; k < bands; ++k) {
    shared += std::equal(a.begin() + std::ptrdiff_t(k * rows),
                         a.begin() + std::ptrdiff_t((k + 1) * rows), b + k * rows);
  }
  return shared;
}

std::vector<std::int64_t> model_query(const Model& model, const std::uint64_t* signature,
                                      std::size_t bands, std::size_t rows, std::size_t limit) {
  std::vector<std::pair<std::size_t, std::int64_t>> found;
  for (const auto& [key, values] : model) {
    if (std::size_t shared = shared_bands(values, signature, bands, rows)) {
      found.emplace_back(shared, key);
    }
  }
  std::sort(found.begin(), found.end(), [](const auto& x, const auto& y) {
    return x.first != y.first ? x.first > y.first : x.second < y.second;
  });
  if (found.size() > limit) found.resize(limit);
  std::vector<std::int64_t> keys;
  for (const auto& f : found) keys.push_back(f.second);
  std::sort(keys.begin(), keys.end());
  return keys;
}

// Signatures from few values, so that buckets are large and repeat.
std::vector<std::uint64_t> random_rows(std::mt19937_64& rng, std::size_t count,
                                       std::size_t length) {
  std::vector<std::uint64_t> data(count * length);
  std::uint64_t spread = 1 + rng() % 3;
  for (std::uint64_t& v : data) v = rng() % spread;
  return data;
}

}  // namespace

TEST(lsh_index_matches_a_model_through_adds_removes_and_queries) {
  std::mt19937_64 rng(11);
  for (int round = 0; round < 60; ++round) {
    std::size_t bands = 1 + rng() % 4, rows = 1 + rng() % 3, length = bands * rows + rng() % 2;
    unsigned workers = 1 + unsigned(rng() % 3);
    Pool pool(workers, kNever);
    LshIndex index(bands, rows);
    Model model;
    for (int step = 0; step < 30; ++step) {
      std::size_t count = rng() % 40;
      if (rng() % 3 != 0) {
        std::vector<std::uint64_t> data = random_rows(rng, count, length);
        std::vector<std::int64_t> keys;
        for (std::size_t i = 0; i < count; ++i) keys.push_back(std::int64_t(rng() % 200) - 100);
        std::set<std::int64_t> distinct(keys.begin(), keys.end());
        bool clash = distinct.size() < keys.size();
        for (std::int64_t key : keys) clash |= model.count(key) > 0;
        try {
          index.add({data.data(), count, length}, keys.data(), pool);
          CHECK(!clash);
          for (std::size_t i = 0; i < count; ++i) {
            model[keys[i]].assign(data.begin() + std::ptrdiff_t(i * length),
                                  data.begin() + std::ptrdiff_t((i + 1) * length));
          }
        } catch (const KeyRefused&) {
          CHECK(clash);
        }
      } else {
        std::vector<std::int64_t> keys;
        for (auto it = model.begin(); it != model.end() && keys.size() < count; ++it) {
          if (rng() % 2) keys.push_back(it->first);
        }
        std::shuffle(keys.begin(), keys.end(), rng);
        index.remove(keys);
        for (std::int64_t key : keys) model.erase(key);
      }
      CHECK_EQ(index.size(), model.size());
      for (const auto& [key, values] : model) {
        const std::uint64_t* held = index.signature(key);
        CHECK(held != nullptr && std::equal(values.begin(), values.end(), held));
      }
      std::size_t queries = rng() % 10, limit = rng() % 2 ? LshIndex::kNoLimit : rng() % 4;
      std::vector<std::uint64_t> probe = random_rows(rng, queries, length);
      LshIndex::Matches matches = index.query({probe.data(), queries, length}, limit, pool);
      std::size_t at = 0;
      for (std::size_t q = 0; q < queries; ++q) {
        std::vector<std::int64_t> want =
            model_query(model, probe.data() + q * length, bands, rows, limit);
        for (std::int64_t key : want) {
          CHECK(at < matches.keys.size() && matches.rows[at] == std::int64_t(q) &&
                matches.keys[at] == key);
          ++at;
        }
      }
      CHECK_EQ(at, matches.keys.size());
    }
    // The pairs of everything held are those of lsh_pairs over the signatures
    // ordered by key.
    std::vector<std::uint64_t> all;
    std::vector<std::int64_t> keys;
    for (const auto& [key, values] : model) {
      keys.push_back(key);
      all.insert(all.end(), values.begin(), values.end());
    }
    LshPairs want({all.data(), keys.size(), length}, bands, rows, pool);
    std::vector<std::int64_t> wi(want.size()), wj(want.size());
    want.write(wi.data(), wj.data(), pool);
    LshIndexPairs got(index, pool);
    CHECK_EQ(got.size(), want.size());
    std::vector<std::int64_t> gi(got.size()), gj(got.size());
    got.write(gi.data(), gj.data(), pool);
    for (std::size_t n = 0; n < wi.size() && n < gi.size(); ++n) {
      CHECK(gi[n] == keys[std::size_t(wi[n])] && gj[n] == keys[std::size_t(wj[n])]);
    }
  }
}

TEST(lsh_index_add_cancelled_midway_leaves_the_index_as_it_was) {
  std::size_t count = 200000, bands = 16, rows = 1;
  std::mt19937_64 rng(3);
  std::vector<std::uint64_t> data(count * bands);
  for (std::uint64_t& v : data) v = rng() % 5000;
  std::vector<std::int64_t> keys(count);
  for (std::size_t i = 0; i < count; ++i) keys[i] = std::int64_t(i);
  LshIndex index(bands, rows);
  Pool quiet(2, kNever);
  index.add({data.data(), 1000, bands}, keys.data() + count - 1000, quiet);
  int cancelled = 0;
  for (int delay_us : {0, 200, 2000, 20000}) {
    std::optional<Job> job;
    job.emplace(2, [&](const Pool& pool) {
      index.add({data.data(), count - 1000, bands}, keys.data(), pool);
    });
    std::this_thread::sleep_for(std::chrono::microseconds(delay_us));
    job->cancel();
    try {
      job->finish();
      index.remove({keys.data(), count - 1000});  // done before the cancel: undone here
    } catch (const Cancelled&) {
      ++cancelled;
    }
    CHECK_EQ(index.size(), std::size_t(1000));
  }
  CHECK(cancelled);
  CHECK_EQ(index.size(), std::size_t(1000));
  CHECK(!index.contains(0) && index.contains(std::int64_t(count - 1)));
  LshIndex::Matches matches = index.query({data.data(), 50, bands}, LshIndex::kNoLimit, quiet);
  for (std::int64_t key : matches.keys) CHECK(key >= std::int64_t(count - 1000));
}
