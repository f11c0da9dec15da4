#include "batch/nearest.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "algo/bit_parallel.hpp"
#include "algo/bit_parallel_kernels.hpp"
#include "algo/score_arithmetic.hpp"

namespace kivo::batch {

namespace {

constexpr std::int64_t kUnbounded = std::int64_t(1) << 62;

std::vector<char32_t> code_points(const CharSpan& text) {
  return visit_units(text,
                     [](auto units) { return std::vector<char32_t>(units.begin(), units.end()); });
}

}  // namespace

bool NearestChoice::serves(const Measure& measure) {
  return measure.kernel == BatchKernel::Levenshtein || measure.kernel == BatchKernel::Osa ||
         measure.kernel == BatchKernel::Lcs;
}

NearestChoice::NearestChoice(const Measure& measure, const CharSpan& query, double cutoff)
    : measure_(measure),
      family_(measure.kernel == BatchKernel::Levenshtein ? Family::Levenshtein
              : measure.kernel == BatchKernel::Osa       ? Family::Osa
                                                         : Family::Lcs),
      query_(code_points(query)),
      m_(query_.size()),
      masks_(query_),
      bound_(cutoff),
      most_by_length_(kCachedLengths, kUnknown) {
  if (!serves(measure)) throw InternalFault("NearestChoice: not a bit-parallel edit measure");
  for (char32_t c : query_) {
    if (c < 256) ++bag_[c];
  }
}

std::uint64_t NearestChoice::total(std::size_t length) const {
  return measure_.distance_sums_lengths ? m_ + length : std::max<std::uint64_t>(m_, length);
}

double NearestChoice::score_of(std::uint64_t shortfall, std::size_t length) const {
  if (measure_.distance) return double(shortfall);
  return levenshtein_similarity_from(shortfall, total(length));
}

std::int64_t NearestChoice::most_uncached(std::size_t length) const {
  if (!measure_.distance) return levenshtein_max_distance(total(length), bound_);
  if (bound_ < 0) return -1;
  return bound_ >= double(kUnbounded) ? kUnbounded : std::int64_t(bound_);
}

std::int64_t NearestChoice::most(std::size_t length) {
  if (length >= kCachedLengths) return most_uncached(length);
  std::int64_t& cached = most_by_length_[length];
  if (cached == kUnknown) cached = most_uncached(length);
  return cached;
}

bool NearestChoice::equals_query(const CharSpan& choice) const {
  return visit_units(choice, [&](auto units) {
    for (std::size_t i = 0; i < m_; ++i) {
      if (char32_t(units[i]) != query_[i]) return false;
    }
    return true;
  });
}

std::uint64_t NearestChoice::bag_bound(std::span<const std::uint8_t> choice) {
  // Takes the choice's characters out of the query's bag; those it cannot
  // are the choice's own.
  std::size_t own = 0;
  for (std::uint8_t c : choice) own += --bag_[c] < 0;
  for (std::uint8_t c : choice) ++bag_[c];
  std::size_t shared = choice.size() - own;
  std::size_t query_own = m_ - shared;
  // An edit fixes at most one unshared character on each side; Indel's
  // insertions and deletions fix one on one side.
  bool one_side = family_ == Family::Lcs && (measure_.distance || measure_.distance_sums_lengths);
  return one_side ? query_own + own : std::max(query_own, own);
}

template <class T>
std::uint64_t NearestChoice::shortfall_of(std::span<const T> text) const {
  auto eq = [this](T c) { return masks_.get(c); };
  switch (family_) {
    case Family::Levenshtein: return bitpar::distance_word(eq, m_, text);
    case Family::Osa: return bitpar::osa_word(eq, m_, text);
    case Family::Lcs: break;
  }
  std::uint64_t lcs = bitpar::lcs_word(eq, m_, text);
  return measure_.distance_sums_lengths ? m_ + text.size() - 2 * lcs
                                        : std::max<std::uint64_t>(m_, text.size()) - lcs;
}

std::uint64_t NearestChoice::shortfall(const CharSpan& choice) const {
  std::size_t n = choice.length;
  if (m_ == 0 || n == 0) return std::max<std::uint64_t>(m_, n);
  if (m_ <= 64) return visit_units(choice, [&](auto units) { return shortfall_of(units); });
  // A longer query: the single call's own multi-word code.
  CharSpan query{query_.data(), m_, sizeof(char32_t)};
  switch (family_) {
    case Family::Levenshtein: return levenshtein_distance(query, choice);
    case Family::Osa: return osa_distance(query, choice);
    case Family::Lcs: break;
  }
  std::uint64_t lcs = lcs_length(query, choice);
  return measure_.distance_sums_lengths ? m_ + n - 2 * lcs : std::max<std::uint64_t>(m_, n) - lcs;
}

NearestChoice::Outcome NearestChoice::offer(const CharSpan& choice, std::size_t index) {
  std::size_t n = choice.length;
  std::int64_t allowed = most(n);
  // Every measure here needs at least one edit per character the lengths differ by.
  std::uint64_t gap = n > m_ ? n - m_ : m_ - n;
  if (allowed < 0 || gap > std::uint64_t(allowed)) return Outcome::Passed;
  std::uint64_t found;
  if (allowed == 0) {
    // Only an equal text passes.
    if (!equals_query(choice)) return Outcome::Passed;
    found = 0;
  } else {
    if (choice.width == 1 && std::uint64_t(allowed) < std::max(m_, n) &&
        bag_bound(choice.units<std::uint8_t>()) > std::uint64_t(allowed)) {
      return Outcome::Passed;
    }
    found = shortfall(choice);
    if (found > std::uint64_t(allowed)) return Outcome::Passed;
  }
  found_ = true;
  index_ = index;
  score_ = score_of(found, n);
  if (found == 0) return Outcome::Perfect;
  // Ties go to the earlier choice.
  beat(score_);
  return Outcome::Better;
}

void NearestChoice::beat(double score) {
  bound_ = measure_.distance ? score - 1 : std::nextafter(score, INFINITY);
  std::fill(most_by_length_.begin(), most_by_length_.end(), kUnknown);
}

std::uint64_t NearestChoice::cost(std::size_t length) const {
  return std::uint64_t(length) * ((m_ + 63) / 64 + 1);
}

}  // namespace kivo::batch
