// Times the lane kernels the way a many-to-many engine would use them: the
// queries sorted by length and cut into blocks, every choice passed through
// every block, results scattered into a queries x choices matrix. Reads four
// files of one text per line (queries, choices, and the same for top-1);
// bench/lanes.py writes them and prints RapidFuzz's times beside these.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <fstream>
#include <functional>
#include <numeric>
#include <string>
#include <vector>

#include "algo/jaro_winkler.hpp"
#include "algo/lanes/jaro_winkler_lanes.hpp"
#include "algo/lanes/levenshtein_lanes.hpp"
#include "algo/levenshtein.hpp"
#include "algo/score_arithmetic.hpp"
#include "text/code_points.hpp"
#include "text/utf8.hpp"

using namespace kivo;
using namespace kivo::lanes;

namespace {

struct Texts {
  std::vector<std::string> utf8;
  std::vector<std::u32string> wide;
  std::vector<CharSpan> chars;  // as a str holds them: ASCII one byte each, else code points
};

Texts read_lines(const char* path) {
  Texts texts;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    CodePoints cps(line);
    texts.wide.emplace_back(cps.view().begin(), cps.view().end());
    texts.utf8.push_back(std::move(line));
  }
  for (std::size_t i = 0; i < texts.utf8.size(); ++i) {
    const std::string& line = texts.utf8[i];
    const std::u32string& wide = texts.wide[i];
    texts.chars.push_back(utf8::is_ascii(line) ? CharSpan{line.data(), line.size(), 1}
                                               : CharSpan{wide.data(), wide.size(), 4});
  }
  return texts;
}

double best_ms(int runs, const std::function<void()>& f) {
  double best = 1e300;
  for (int r = 0; r < runs; ++r) {
    auto start = std::chrono::steady_clock::now();
    f();
    std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    best = std::min(best, took.count());
  }
  return best;
}

// Blocks over texts in length order. Lane l of block k holds text
// order[first[k] + l]; rank[t] is text t's place in that order.
template <class Block>
struct Blocks {
  std::deque<Block> blocks;  // blocks do not move: their masks may point into themselves
  std::vector<std::size_t> first;
  std::vector<std::size_t> order;
  std::vector<std::size_t> rank;

  Blocks(const std::vector<std::u32string>& texts, Isa isa)
      : order(texts.size()), rank(texts.size()) {
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
      return texts[a].size() < texts[b].size();
    });
    std::vector<std::u32string_view> sorted;
    for (std::size_t i = 0; i < order.size(); ++i) {
      sorted.push_back(texts[order[i]]);
      rank[order[i]] = i;
    }
    for (std::size_t at = 0; at < sorted.size();) {
      std::size_t take = lanes_to_take(std::span(sorted).subspan(at), isa);
      blocks.emplace_back(std::span(sorted).subspan(at, take), isa);
      first.push_back(at);
      at += take;
    }
    first.push_back(sorted.size());
  }
};

void report(const char* what, double ms, double pairs) {
  std::printf("  %-44s %8.2f ms  %6.2f ns/pair\n", what, ms, ms * 1e6 / pairs);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s queries choices topk_queries topk_choices\n", argv[0]);
    return 2;
  }
  Texts queries = read_lines(argv[1]), choices = read_lines(argv[2]);
  Texts top_queries = read_lines(argv[3]), top_choices = read_lines(argv[4]);
  std::size_t nq = queries.wide.size(), nc = choices.wide.size();
  double pairs = double(nq) * double(nc);
  std::vector<std::uint32_t> distances(nq * nc);
  std::vector<double> scores(nq * nc);

  for (Isa isa : {Isa::Avx512, Isa::Avx2, Isa::Portable}) {
    if (!simd::supported(isa)) continue;
    char label[96];
    std::snprintf(label, sizeof label, "cdist Levenshtein distance [%s]", simd::name(isa).data());
    report(label,
           best_ms(5,
                   [&] {
                     // Each row is computed in length order, then put in choice order
                     // with sequential writes.
                     Blocks<LevenshteinBlock> b(choices.wide, isa);
                     std::vector<std::uint32_t> sorted(nc);
                     for (std::size_t q = 0; q < nq; ++q) {
                       for (std::size_t k = 0; k < b.blocks.size(); ++k) {
                         b.blocks[k].distances(queries.wide[q], &sorted[b.first[k]]);
                       }
                       std::uint32_t* row = &distances[q * nc];
                       for (std::size_t c = 0; c < nc; ++c) row[c] = sorted[b.rank[c]];
                     }
                   }),
           pairs);
    std::snprintf(label, sizeof label, "cdist Jaro-Winkler similarity [%s]",
                  simd::name(isa).data());
    report(label,
           best_ms(5,
                   [&] {
                     Blocks<JaroWinklerBlock> b(choices.wide, isa);
                     std::vector<double> sorted(nc);
                     for (std::size_t q = 0; q < nq; ++q) {
                       for (std::size_t k = 0; k < b.blocks.size(); ++k) {
                         b.blocks[k].similarities(queries.wide[q], &sorted[b.first[k]]);
                       }
                       double* row = &scores[q * nc];
                       for (std::size_t c = 0; c < nc; ++c) row[c] = sorted[b.rank[c]];
                     }
                   }),
           pairs);
  }
  report("cdist Levenshtein, one pair at a time",
         best_ms(1,
                 [&] {
                   for (std::size_t q = 0; q < nq; ++q)
                     for (std::size_t c = 0; c < nc; ++c)
                       distances[q * nc + c] =
                           std::uint32_t(levenshtein_distance(queries.chars[q], choices.chars[c]));
                 }),
         pairs);
  report("cdist Jaro-Winkler, one pair at a time",
         best_ms(1,
                 [&] {
                   for (std::size_t q = 0; q < nq; ++q)
                     for (std::size_t c = 0; c < nc; ++c)
                       scores[q * nc + c] =
                           jaro_winkler_similarity(queries.chars[q], choices.chars[c]);
                 }),
         pairs);

  // Top 1 by normalized similarity >= 0.8, the choices in blocks by length,
  // each block taking every query while its table is in cache. A query's
  // bound is the largest distance that still reaches its best so far (or the
  // cutoff), by choice length: tabled as needed, and forgotten when the best
  // improves. Blocks whose lengths are all out of reach are skipped.
  constexpr double kCutoff = 0.8;
  constexpr std::size_t kLengths = kMaxPatternLength + 1;
  std::size_t tq = top_queries.wide.size(), tc = top_choices.wide.size();
  std::vector<std::int64_t> best_choice(tq);
  double top_ms = best_ms(3, [&] {
    Blocks<LevenshteinBlock> b(top_choices.wide, simd::best());
    std::vector<double> best_score(tq, kCutoff);
    constexpr std::int64_t kUnknown = -2;
    std::vector<std::int64_t> bound_by_length(tq * kLengths, kUnknown);
    auto bound_for = [&](std::size_t q, std::size_t n) {
      std::int64_t& bound = bound_by_length[q * kLengths + n];
      if (bound == kUnknown) {
        bound = levenshtein_max_distance(std::max(top_queries.wide[q].size(), n), best_score[q]);
      }
      return bound;
    };
    std::fill(best_choice.begin(), best_choice.end(), -1);
    std::uint32_t lane_out[64];
    for (std::size_t k = 0; k < b.blocks.size(); ++k) {
      const std::size_t* who = &b.order[b.first[k]];
      std::size_t lanes = b.first[k + 1] - b.first[k];
      std::size_t shortest = top_choices.wide[who[0]].size();
      std::size_t longest = std::min(top_choices.wide[who[lanes - 1]].size(), kLengths - 1);
      for (std::size_t q = 0; q < tq; ++q) {
        const std::u32string& text = top_queries.wide[q];
        auto m = std::int64_t(text.size());
        std::int64_t bound = bound_for(q, longest);
        if (bound < 0 || std::int64_t(shortest) > m + bound || std::int64_t(longest) + bound < m) {
          continue;
        }
        std::uint64_t within = b.blocks[k].distances(text, std::uint32_t(bound), lane_out);
        for (; within != 0; within &= within - 1) {
          auto l = std::size_t(__builtin_ctzll(within));
          auto c = std::int64_t(who[l]);
          double s = levenshtein_similarity_from(
              lane_out[l], std::max(text.size(), top_choices.wide[who[l]].size()));
          // A higher score wins; an equal one only from an earlier choice.
          if (s < best_score[q] ||
              (s == best_score[q] && best_choice[q] >= 0 && c > best_choice[q])) {
            continue;
          }
          bool improved = s > best_score[q];
          best_choice[q] = c;
          best_score[q] = s;
          if (improved) {
            std::fill_n(&bound_by_length[q * kLengths], kLengths, kUnknown);
          }
        }
      }
    }
  });
  report("top-1 normalized Levenshtein >= 0.8, 1000 x 50000", top_ms, double(tq) * double(tc));
  std::vector<std::int64_t> cdist_choice(tq);
  double cdist_ms = best_ms(1, [&] {
    Blocks<LevenshteinBlock> b(top_choices.wide, simd::best());
    std::vector<std::uint32_t> sorted(tc);
    std::vector<double> row(tc);
    for (std::size_t q = 0; q < tq; ++q) {
      const std::u32string& text = top_queries.wide[q];
      for (std::size_t k = 0; k < b.blocks.size(); ++k) {
        b.blocks[k].distances(text, &sorted[b.first[k]]);
      }
      for (std::size_t c = 0; c < tc; ++c) {
        std::size_t longest = std::max(text.size(), top_choices.wide[c].size());
        row[c] = levenshtein_similarity_from(sorted[b.rank[c]], longest);
      }
      std::size_t at = std::size_t(std::max_element(row.begin(), row.end()) - row.begin());
      cdist_choice[q] = row[at] >= kCutoff ? std::int64_t(at) : -1;
    }
  });
  report("  the same as cdist + argmax", cdist_ms, double(tq) * double(tc));
  std::size_t agree = 0;
  for (std::size_t q = 0; q < tq; ++q) agree += cdist_choice[q] == best_choice[q];
  std::printf("  top-1 and cdist + argmax agree on %zu of %zu queries\n", agree, tq);
  return 0;
}
