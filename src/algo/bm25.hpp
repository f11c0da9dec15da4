// BM25 over the two-document corpus {a, b}, with a as the query, rescaled by
// the score a obtains against itself. Not symmetric.
#pragma once

#include <string_view>

namespace kivo {

double bm25_similarity(std::string_view a, std::string_view b);

}  // namespace kivo
