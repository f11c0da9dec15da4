// The cleaning pipeline: NFC, full lowercase, whitespace collapsing, trimming,
// stopword removal, byte bound -- always in that order, each step optional.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "text/stopwords.hpp"

namespace kivo {

struct PreprocessConfig {
  bool lowercase = true;
  bool collapse_whitespace = true;
  bool trim = true;
  bool normalize_unicode = true;
  bool remove_stopwords = false;
  StopwordList stopwords;        // empty: the built-in list
  std::uint64_t max_length = 0;  // bytes; 0 means no bound
};

// Never fails. A byte bound inside a character cuts back to its start.
std::string preprocess_text(std::string_view text, const PreprocessConfig& config);

std::string clean_text(std::string_view text);
std::string clean_text_stopwords(std::string_view text);

}  // namespace kivo
