// The Jaro-Winkler lane kernel, written once over the lane operations (Ops).
// No include guard: each lane_kernels_<set>.cpp includes it inside its own
// namespace and target region, after every header it needs.

// Text position j may match pattern positions j - w .. j + w, where
// w + 1 = max(1, max(m, n) / 2) = max(max(1, m / 2), n / 2). A lane's window
// is hi & ~lo: hi holds the positions below j + w + 1, lo those below j - w;
// both gain one bit per step, lo only from j = w on. Each step takes the
// lowest free position of the window that holds the text's character.
//
// Transpositions: the k-th matched text position pairs with the k-th matched
// pattern position, which is the lowest one not yet paired.
struct JaroWinklerKernel {
  using Call = JaroWinklerCall;
  using Result = void;

  template <class Ops>
  static void run(const Call& c) {
    using V = typename Ops::V;
    using Mask = typename Ops::Mask;
    using Signed = typename Ops::Signed;
    constexpr std::size_t kLanes = Ops::kLanes;
    const std::size_t n = c.n;
    const V zero = Ops::zero();
    const V one = Ops::splat(1);
    const V halves = Ops::load(c.halves);

    const LaneRow* rows[kMaxPatternLength];
    Mask matched[kMaxPatternLength];
    // The steps where some lane matched, listed without a branch: which ones
    // did is as good as random across texts of mixed scripts.
    std::uint8_t steps[kMaxPatternLength];
    std::size_t step_count = 0;
    V flagged = zero;
    V hi = Ops::bit_or(Ops::load(c.half_masks), Ops::splat(low_bits(n / 2)));
    V lo = zero;
    for (std::size_t j = 0; j < n; ++j) {
      rows[j] = c.masks->row(c.text[j]);
      V free = Ops::and_not(Ops::and_not(hi, lo), flagged);
      V candidates = Ops::bit_and(Ops::load(rows[j]), free);
      flagged = Ops::bit_or(flagged, Ops::bit_and(candidates, Ops::sub(zero, candidates)));
      matched[j] = Ops::nonzero(candidates);
      steps[step_count] = std::uint8_t(j);
      step_count += Ops::any(matched[j]);
      hi = Ops::bit_or(Ops::shl1(hi), one);
      lo = Ops::shl1(lo);
      if (j + 1 >= n / 2) lo = Ops::count_if(lo, Ops::greater(Ops::splat(j + 1), halves));
    }

    V unpaired = flagged;
    V unequal = zero;
    for (std::size_t s = 0; s < step_count; ++s) {
      std::size_t j = steps[s];
      V lowest = Ops::bit_and(unpaired, Ops::sub(zero, unpaired));
      Mask differ = Ops::is_zero(Ops::bit_and(Ops::load(rows[j]), lowest));
      unequal = Ops::count_if(unequal, Ops::both(matched[j], differ));
      unpaired = Ops::bit_xor(unpaired, Ops::keep(lowest, matched[j]));
    }

    Mask run = Ops::nonzero(Ops::splat(1));
    V prefix = zero;
    for (std::size_t k = 0; k < std::min(n, kJaroWinklerMaxPrefix); ++k) {
      V same = Ops::bit_and(Ops::load(rows[k]), Ops::splat(std::uint64_t(1) << k));
      run = Ops::both(run, Ops::nonzero(same));
      prefix = Ops::count_if(prefix, run);
    }

    Signed lengths[kLanes], matches[kLanes], unequals[kLanes], prefixes[kLanes];
    Ops::store(lengths, Ops::load(c.lengths));
    Ops::store(matches, Ops::popcount(flagged));
    Ops::store(unequals, unequal);
    Ops::store(prefixes, prefix);
    // A full block scores straight into out.
    double spare[kLanes];
    double* scores = c.count == kLanes ? c.out : spare;
    std::uint64_t scored = Ops::bits(Ops::nonzero(flagged));  // the lanes with a match
    if (std::size_t(__builtin_popcountll(scored)) * 2 > kLanes) {
      // Over every lane with no branch, so that the compiler vectorises the
      // divisions; a lane with no match divides by zero and is then replaced.
      for (std::size_t l = 0; l < kLanes; ++l) {
        double m = double(matches[l]);
        double jaro = jaro_from_counts(m, double(unequals[l] / 2), double(lengths[l]), double(n));
        jaro = matches[l] == 0 ? 0.0 : jaro;
        double score = jaro_winkler_from(jaro, double(prefixes[l]));
        scores[l] = lengths[l] == 0 && n == 0 ? 1.0 : score;  // two empty texts are identical
      }
    } else {
      // Mostly strangers (texts of other scripts, say): a lane with no match
      // scores 0, or 1 for two empty texts, and only the others divide,
      // gathered so that the divisions still run in vectors.
      for (std::size_t l = 0; l < kLanes; ++l) scores[l] = lengths[l] == 0 && n == 0 ? 1.0 : 0.0;
      double m[kLanes], h[kLanes], length[kLanes], prefix_length[kLanes], score[kLanes];
      std::uint8_t lane[kLanes];
      std::size_t count = 0;
      for (std::uint64_t rest = scored; rest != 0; rest &= rest - 1, ++count) {
        auto l = std::size_t(__builtin_ctzll(rest));
        lane[count] = std::uint8_t(l);
        m[count] = double(matches[l]);
        h[count] = double(unequals[l] / 2);
        length[count] = double(lengths[l]);
        prefix_length[count] = double(prefixes[l]);
      }
      for (std::size_t k = 0; k < count; ++k) {
        score[k] =
            jaro_winkler_from(jaro_from_counts(m[k], h[k], length[k], double(n)), prefix_length[k]);
      }
      for (std::size_t k = 0; k < count; ++k) scores[lane[k]] = score[k];
    }
    if (scores == spare) std::copy_n(spare, c.count, c.out);
  }
};
