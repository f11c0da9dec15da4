// Stopword lookup: the built-in English list (183 lowercase ASCII words) and
// a caller's own list.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kivo {

// A stopword list made into a lookup set once, when the list is made;
// copies share that set, which never changes. Matching is byte for byte.
class StopwordList {
 public:
  StopwordList() = default;
  explicit StopwordList(const std::vector<std::string>& words);

  // No entries at all; a config with an empty list uses the built-in one.
  bool empty() const { return set_ == nullptr; }
  bool contains(std::string_view token) const;

 private:
  class Set;
  std::shared_ptr<const Set> set_;

  friend const StopwordList& default_stopwords();
};

// The built-in list, built on first use.
const StopwordList& default_stopwords();

}  // namespace kivo
