// Cosine similarity of TF-IDF vectors over the two-document corpus {a, b}.
// Every sum runs over the terms in order of their first appearance, so equal
// inputs give bit-identical results in every call and every process.
#pragma once

#include <string_view>

namespace kivo {

double tfidf_similarity(std::string_view a, std::string_view b);

}  // namespace kivo
