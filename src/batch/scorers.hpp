// The scorer families behind make_scorer, one file each.
#pragma once

#include <memory>

#include "batch/scorer.hpp"

namespace kivo::batch {

std::unique_ptr<Scorer> make_edit_scorer(const Measure& measure, const Texts& queries,
                                         const Texts& choices);
// `pairwise`: each text meets only the other list's text at its index.
std::unique_ptr<Scorer> make_set_scorer(const Measure& measure, const Texts& queries,
                                        const Texts& choices, bool pairwise, const Pool& pool);
// BatchKernel::Osa and BatchKernel::Lcs.
std::unique_ptr<Scorer> make_bit_parallel_scorer(const Measure& measure, const Texts& queries,
                                                 const Texts& choices);
// BatchKernel::Tokens.
std::unique_ptr<Scorer> make_token_scorer(const Measure& measure, const Texts& queries,
                                          const Texts& choices);
std::unique_ptr<Scorer> make_each_pair_scorer(const Measure& measure, const Texts& queries,
                                              const Texts& choices);
std::unique_ptr<Scorer> make_flow_scorer(const ScorerSpec& spec, const Texts& queries,
                                         const Texts& choices);

}  // namespace kivo::batch
