// Cosine similarity of TF-IDF vectors over the two-document corpus {a, b}.
#pragma once

#include <string_view>

namespace kivo {

double tfidf_similarity(std::string_view a, std::string_view b);

}  // namespace kivo
