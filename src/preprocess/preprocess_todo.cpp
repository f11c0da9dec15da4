// Placeholders until the pipeline and the tokenizer land in their own files.
#include "../error.hpp"
#include "pipeline.hpp"
#include "tokenizer.hpp"

namespace kivo {
#define TODO throw InternalFault("not implemented")
std::string preprocess_text(std::string_view, const PreprocessConfig&) {
  TODO;
}
std::string clean_text(std::string_view) {
  TODO;
}
std::string clean_text_stopwords(std::string_view) {
  TODO;
}
std::vector<std::string> tokenize_terms(std::string_view) {
  TODO;
}
}  // namespace kivo
