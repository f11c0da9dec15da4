#include "batch/nearest_weighted.hpp"

#include <algorithm>
#include <cmath>

#include "algo/score_arithmetic.hpp"

namespace kivo::batch {

namespace {

// The most the token ratios weigh in weighted_ratio: their values, at most
// 1, are scaled by this (and by the partial scale past 1.5 times as long).
constexpr double kTokenScale = 0.95;

constexpr const Measure& kWeightedRatio = measure_named("weighted_ratio");
constexpr const Measure& kRatio = measure_named("ratio");

}  // namespace

bool NearestWeighted::serves(const Measure& measure) {
  return &measure == &kWeightedRatio;
}

NearestWeighted::NearestWeighted(const CharSpan& query, double cutoff)
    : query_(tokened(query)), ratio_(kRatio, query, cutoff), bound_(cutoff) {}

double NearestWeighted::upper_bound(std::size_t length) const {
  std::size_t m = query_.text.size();
  std::size_t longer = std::max(m, length), shorter = std::min(m, length);
  // The plain ratio with one edit per character the lengths differ by: the
  // least distance, so the most it can be, with the same arithmetic.
  double ratio = levenshtein_similarity_from(longer - shorter, m + length);
  double length_ratio = double(longer) / double(shorter);
  if (length_ratio < 1.5) return std::max(ratio, kTokenScale);
  // Past that, the partial ratios at 0.9 (0.6 past eight times as long).
  return std::max(ratio, length_ratio <= 8.0 ? 0.9 : 0.6);
}

NearestWeighted::Outcome NearestWeighted::take(double score, std::size_t index) {
  found_ = true;
  index_ = index;
  score_ = score;
  if (score >= 1) return Outcome::Perfect;
  bound_ = std::nextafter(score, INFINITY);
  ratio_.beat(score);
  return Outcome::Better;
}

NearestWeighted::Outcome NearestWeighted::offer(const CharSpan& choice, std::size_t index) {
  // Against an empty text, weighted_ratio is 0.
  if (query_.text.empty() || choice.length == 0) {
    return 0.0 >= bound_ ? take(0.0, index) : Outcome::Passed;
  }
  if (!(upper_bound(choice.length) >= bound_)) return Outcome::Passed;
  if (bound_ > kTokenScale) {
    // Only the plain ratio can reach the bound, and then it is the score.
    Outcome outcome = ratio_.offer(choice, index);
    if (outcome != Outcome::Passed) return take(ratio_.score(), index);
    return outcome;
  }
  tokened_into(choice, choice_);
  double score = token_ratio(TokenRatio::Weighted, query_, choice_);
  return score >= bound_ ? take(score, index) : Outcome::Passed;
}

std::uint64_t NearestWeighted::cost(std::size_t length) const {
  // The partial ratios slide the shorter text along the longer.
  std::uint64_t m = query_.text.size();
  return (m + length) * (std::min<std::uint64_t>(m, length) + 1);
}

}  // namespace kivo::batch
