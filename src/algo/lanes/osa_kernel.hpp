// The optimal string alignment lane kernel: Myers' column step with one more
// way to reach the diagonal (Hyyrö 2003), in the shared edit lane kernel. No
// include guard: lane_kernels_body.hpp includes it inside each instruction
// set's namespace and target region, after edit_lane_kernel.hpp.

// Row i + 1 of column j + 1 takes the swap of the pattern's characters i,
// i + 1 with the text's j, j + 1 when the pattern's i + 1 matches the text's
// j (the previous column's masks, shifted down one row), its i matches the
// text's j + 1, and the diagonal there was not already free. The rest is
// Levenshtein's, so are the bounds: OSA's values never fall along a
// diagonal either, and the length gap bounds it from below.
template <class Ops>
struct OsaColumn {
  using V = typename Ops::V;
  V pv, mv, d0, previous;

  static OsaColumn start() {
    return {Ops::splat(~std::uint64_t(0)), Ops::zero(), Ops::zero(), Ops::zero()};
  }

  // The horizontal deltas are kept complemented (nhp = ~hp), which folds
  // three of Myers' complements into and-nots.
  void step(V eq) {
    V swapped = Ops::bit_and(Ops::shl1(Ops::and_not(eq, d0)), previous);
    d0 = Ops::bit_or(Ops::bit_or(Ops::bit_xor(Ops::add(Ops::bit_and(eq, pv), pv), pv), eq),
                     Ops::bit_or(mv, swapped));
    V nhp = Ops::and_not(Ops::bit_or(d0, pv), mv);  // ~(mv | ~(d0 | pv))
    V hn = Ops::shl1(Ops::bit_and(pv, d0));
    // Row 0 grows by one per column: hp's bit 0 is set, so ~hp's is clear.
    nhp = Ops::shl1(nhp);
    pv = Ops::bit_or(hn, Ops::and_not(nhp, d0));  // hn | ~(d0 | hp)
    mv = Ops::and_not(d0, nhp);                   // hp & d0
    previous = eq;
  }
};

using OsaKernel = EditLaneKernel<OsaColumn>;
