// The Levenshtein lane kernel: Myers' column step (1999, in Hyyrö's
// formulation) in the shared edit lane kernel. No include guard:
// lane_kernels_body.hpp includes it inside each instruction set's namespace
// and target region, after edit_lane_kernel.hpp.

template <class Ops>
struct LevenshteinColumn {
  using V = typename Ops::V;
  V pv, mv;

  static LevenshteinColumn start() { return {Ops::splat(~std::uint64_t(0)), Ops::zero()}; }

  void step(V eq) {
    const V ones = Ops::splat(~std::uint64_t(0));
    V xv = Ops::bit_or(eq, mv);
    V xh = Ops::bit_or(Ops::bit_xor(Ops::add(Ops::bit_and(eq, pv), pv), pv), eq);
    V hp = Ops::bit_or(mv, Ops::bit_xor(Ops::bit_or(xh, pv), ones));
    V hn = Ops::bit_and(pv, xh);
    hp = Ops::bit_or(Ops::shl1(hp), Ops::splat(1));  // row 0 grows by one per column
    hn = Ops::shl1(hn);
    pv = Ops::bit_or(hn, Ops::bit_xor(Ops::bit_or(xv, hp), ones));
    mv = Ops::bit_and(hp, xv);
  }
};

using LevenshteinKernel = EditLaneKernel<LevenshteinColumn>;
