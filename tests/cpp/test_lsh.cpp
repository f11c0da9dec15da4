// LSH pairs: every pair that shares a band, once, ordered, counted before it
// is written; the same with 64-bit text numbers; cancellation inside a
// bucket that takes long.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <random>
#include <thread>
#include <utility>
#include <vector>

#include "batch/executor.hpp"
#include "batch/lsh.hpp"
#include "harness.hpp"

using namespace kivo::batch;

namespace {

const std::atomic<bool> kNever{false};

using Pairs = std::vector<std::pair<std::int64_t, std::int64_t>>;

Pairs model(const std::vector<std::uint64_t>& data, std::size_t count, std::size_t length,
            std::size_t bands, std::size_t rows) {
  Pairs out;
  for (std::size_t i = 0; i < count; ++i) {
    for (std::size_t j = i + 1; j < count; ++j) {
      for (std::size_t b = 0; b < bands; ++b) {
        auto a = data.begin() + std::ptrdiff_t(i * length + b * rows);
        auto c = data.begin() + std::ptrdiff_t(j * length + b * rows);
        if (std::equal(a, a + std::ptrdiff_t(rows), c)) {
          out.emplace_back(std::int64_t(i), std::int64_t(j));
          break;
        }
      }
    }
  }
  return out;
}

Pairs found(const std::vector<std::uint64_t>& data, std::size_t count, std::size_t length,
            std::size_t bands, std::size_t rows, unsigned workers, bool wide) {
  Pool pool(workers, kNever);
  LshPairs pairs({data.data(), count, length}, bands, rows, pool, wide);
  std::vector<std::int64_t> first(pairs.size()), second(pairs.size());
  pairs.write(first.data(), second.data(), pool);
  Pairs out;
  for (std::size_t n = 0; n < first.size(); ++n) out.emplace_back(first[n], second[n]);
  return out;
}

}  // namespace

TEST(lsh_pairs_are_every_pair_sharing_a_band_once_in_order) {
  std::mt19937_64 rng(7);
  for (int round = 0; round < 300; ++round) {
    std::size_t bands = 1 + rng() % 5, rows = 1 + rng() % 3;
    std::size_t length = bands * rows + rng() % 3, count = rng() % 60;
    std::uint64_t spread = 1 + rng() % 3;
    std::vector<std::uint64_t> data(count * length);
    for (std::uint64_t& v : data) v = rng() % spread * 0x9E3779B97F4A7C15ULL;
    Pairs want = model(data, count, length, bands, rows);
    for (unsigned workers : {1u, 3u}) {
      for (bool wide : {false, true}) {
        CHECK(found(data, count, length, bands, rows, workers, wide) == want);
      }
    }
  }
}

TEST(lsh_pairs_of_large_buckets_repeated_across_bands_are_taken_once) {
  // 40 texts equal on every band, 30 equal on bands 2 and 5 only, and 20
  // that share band 3 with one of the 40: repeated and nearly repeated buckets.
  std::size_t count = 90, bands = 8, rows = 2, length = bands * rows;
  std::vector<std::uint64_t> data(count * length);
  for (std::size_t i = 0; i < count; ++i) {
    for (std::size_t k = 0; k < length; ++k) data[i * length + k] = 1000 + i * length + k;
  }
  for (std::size_t i = 0; i < 40; ++i)
    std::fill_n(data.begin() + std::ptrdiff_t(i * length), length, 7);
  for (std::size_t i = 40; i < 70; ++i) {
    for (std::size_t k : {4, 5, 10, 11}) data[i * length + k] = 9;
  }
  for (std::size_t i = 70; i < 90; ++i) {
    for (std::size_t k : {6, 7}) data[i * length + k] = 7;
  }
  Pairs want = model(data, count, length, bands, rows);
  CHECK_EQ(want.size(), std::size_t(780 + 435 + 20 * 40 + 190));
  for (unsigned workers : {1u, 2u})
    CHECK(found(data, count, length, bands, rows, workers, false) == want);
}

TEST(lsh_pairs_stop_inside_a_large_bucket_once_cancelled) {
  // Every band one bucket of all texts but one, a different one each time:
  // billions of checks, no bucket repeated.
  std::size_t count = 3000, bands = 1024;
  std::vector<std::uint64_t> data(count * bands, 0);
  for (std::size_t b = 0; b < bands; ++b) data[b * bands + b] = 1;
  for (unsigned workers : {1u, 2u}) {
    std::atomic<bool> cancel{false};
    Pool pool(workers, cancel);
    std::chrono::steady_clock::time_point asked;
    std::thread canceller([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      asked = std::chrono::steady_clock::now();
      cancel = true;
    });
    bool cancelled = false;
    try {
      LshPairs pairs({data.data(), count, bands}, bands, 1, pool);
    } catch (const Cancelled&) {
      cancelled = true;
    }
    auto stopped = std::chrono::steady_clock::now();
    canceller.join();
    CHECK(cancelled);
    CHECK(stopped - asked < std::chrono::milliseconds(100));
  }
}
