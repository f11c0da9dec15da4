// Terms for BM25 and TF-IDF: pieces between whitespace and ASCII punctuation,
// each lowercased on its own.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kivo {

std::vector<std::string> tokenize_terms(std::string_view text);

}  // namespace kivo
