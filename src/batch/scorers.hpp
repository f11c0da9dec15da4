// The scorer families behind make_scorer, one file each.
#pragma once

#include <memory>

#include "batch/scorer.hpp"

namespace kivo::batch {

std::unique_ptr<Scorer> make_edit_scorer(Measure measure, const Texts& queries,
                                         const Texts& choices);
// `pairwise`: each text meets only the other list's text at its index.
std::unique_ptr<Scorer> make_set_scorer(Measure measure, const Texts& queries, const Texts& choices,
                                        bool pairwise, const Pool& pool);
std::unique_ptr<Scorer> make_pairwise_scorer(const ScorerSpec& spec, const Texts& queries,
                                             const Texts& choices);

}  // namespace kivo::batch
