// Placeholders until BM25 and TF-IDF land in their own files.
#include "../error.hpp"
#include "bm25.hpp"
#include "tfidf.hpp"

namespace kivo {
double bm25_similarity(std::string_view, std::string_view) {
  throw InternalFault("not implemented");
}
double tfidf_similarity(std::string_view, std::string_view) {
  throw InternalFault("not implemented");
}
}  // namespace kivo
