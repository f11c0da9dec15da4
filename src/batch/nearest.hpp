// The best of many choices for one query under a bit-parallel edit measure,
// scored one choice at a time straight from its own characters. The query's
// masks are built once; a choice that its length alone rules out is never
// scored; and each better choice tightens the bound the next must meet, so
// that most choices cost a length check, or a comparison once only an equal
// text could still win.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "algo/char_map.hpp"
#include "algo/measures.hpp"
#include "text/char_span.hpp"

namespace kivo::batch {

class NearestChoice {
 public:
  // What offering a choice did: nothing (it cannot beat the best so far),
  // made it the best, or made it the best there can be (no later choice
  // wins a tie).
  enum class Outcome { Passed, Better, Perfect };

  // Levenshtein, OSA and the LCS measures (Indel, LCS similarity, ratio).
  static bool serves(const Measure& measure);

  // `cutoff` is inclusive: a distance's largest, a similarity's smallest.
  // The query's characters are copied.
  NearestChoice(const Measure& measure, const CharSpan& query, double cutoff);

  // Offers the choice at `index`; indices rise from offer to offer. Its
  // score, when it is the best, is the single call's to the bit.
  Outcome offer(const CharSpan& choice, std::size_t index);

  bool found() const { return found_; }
  std::size_t index() const { return index_; }
  double score() const { return score_; }

  // About how many word steps scoring a choice of `length` characters takes.
  std::uint64_t cost(std::size_t length) const;

  // From now on only a score strictly better than `score` counts.
  void beat(double score);

 private:
  enum class Family { Levenshtein, Osa, Lcs };

  // The measure's count that 0 means equal texts and that rises as they
  // part: the edit distance for Levenshtein and OSA; for the LCS measures,
  // what the LCS falls short of (Indel's distance, or the longer length less
  // the LCS).
  std::uint64_t shortfall(const CharSpan& choice) const;
  template <class T>
  std::uint64_t shortfall_of(std::span<const T> text) const;
  // The largest shortfall that passes the bound for a choice of `length`; -1
  // when none does.
  std::int64_t most(std::size_t length);
  std::int64_t most_uncached(std::size_t length) const;
  // The length the similarity divides by.
  std::uint64_t total(std::size_t length) const;
  double score_of(std::uint64_t shortfall, std::size_t length) const;
  bool equals_query(const CharSpan& choice) const;
  // A lower bound of the shortfall from the characters the two texts do not
  // share, counted with repeats (the bag distance): cheaper than the kernel,
  // and it rules out most choices once the bound is tight.
  std::uint64_t bag_bound(std::span<const std::uint8_t> choice);

  const Measure& measure_;
  Family family_;
  std::vector<char32_t> query_;
  std::size_t m_;
  bitpar::LastingWordMasks masks_;  // of a query of 1 to 64 characters
  // The query's Latin-1 characters by count.
  std::int32_t bag_[256] = {};
  // Inclusive: the cutoff, then what strictly beats the best so far.
  double bound_;
  // most() per choice length below kCachedLengths, for the current bound.
  static constexpr std::size_t kCachedLengths = 256;
  static constexpr std::int64_t kUnknown = -2;
  std::vector<std::int64_t> most_by_length_;
  bool found_ = false;
  std::size_t index_ = 0;
  double score_ = 0;
};

}  // namespace kivo::batch
