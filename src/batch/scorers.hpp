// The scorer families behind make_scorer, one file each.
#pragma once

#include <memory>

#include "batch/scorer.hpp"

namespace kivo::batch {

std::unique_ptr<Scorer> make_edit_scorer(Measure measure, const Texts& queries,
                                         const Texts& choices);
std::unique_ptr<Scorer> make_set_scorer(Measure measure, const Texts& queries, const Texts& choices,
                                        const Pool& pool);
std::unique_ptr<Scorer> make_pairwise_scorer(const ScorerSpec& spec, const Texts& queries,
                                             const Texts& choices);

}  // namespace kivo::batch
