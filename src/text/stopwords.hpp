// The built-in English stopword list (183 lowercase ASCII words).
#pragma once

#include <array>
#include <string_view>

namespace kivo {

extern const std::array<std::string_view, 183> DEFAULT_STOPWORDS;

bool is_default_stopword(std::string_view word);

}  // namespace kivo
