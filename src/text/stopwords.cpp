#include "text/stopwords.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>

#include "base/hashing.hpp"

namespace kivo {

namespace {

// Table order; the order has no effect on results.
constexpr std::array<std::string_view, 183> kTableOrder = {
    "a",          "an",       "the",        "and",      "or",      "but",      "if",
    "because",    "as",       "until",      "while",    "of",      "at",       "by",
    "for",        "with",     "about",      "between",  "into",    "through",  "during",
    "before",     "after",    "above",      "below",    "to",      "from",     "up",
    "down",       "in",       "out",        "on",       "off",     "over",     "under",
    "again",      "further",  "then",       "once",     "here",    "there",    "when",
    "where",      "why",      "how",        "all",      "each",    "every",    "both",
    "few",        "more",     "most",       "other",    "some",    "such",     "no",
    "nor",        "not",      "only",       "own",      "same",    "so",       "than",
    "too",        "very",     "just",       "also",     "am",      "is",       "are",
    "was",        "were",     "be",         "been",     "being",   "have",     "has",
    "had",        "having",   "do",         "does",     "did",     "doing",    "would",
    "could",      "should",   "might",      "must",     "shall",   "can",      "will",
    "may",        "need",     "dare",       "ought",    "used",    "this",     "that",
    "these",      "those",    "i",          "me",       "my",      "myself",   "we",
    "our",        "ours",     "ourselves",  "you",      "your",    "yours",    "yourself",
    "yourselves", "he",       "him",        "his",      "himself", "she",      "her",
    "hers",       "herself",  "it",         "its",      "itself",  "they",     "them",
    "their",      "theirs",   "themselves", "what",     "which",   "who",      "whom",
    "whose",      "any",      "anyone",     "anything", "anybody", "everyone", "everything",
    "everybody",  "someone",  "something",  "somebody", "nobody",  "nothing",  "none",
    "neither",    "one",      "two",        "three",    "get",     "got",      "getting",
    "make",       "made",     "making",     "take",     "took",    "taking",   "let",
    "lets",       "letting",  "like",       "liked",    "likes",   "really",   "actually",
    "basically",  "probably", "maybe",      "perhaps",  "quite",   "rather",   "pretty",
    "almost",     "nearly",   "hardly",     "scarcely", "barely",  "already",  "yet",
    "still",
};

static_assert(
    [] {
      std::array<std::string_view, 183> words = kTableOrder;
      std::sort(words.begin(), words.end());
      return std::adjacent_find(words.begin(), words.end()) == words.end();
    }(),
    "stopwords must be distinct");

}  // namespace

// Open addressing over one slot array, at most half full, with the words
// copied into one buffer: two allocations however long the list. Callers'
// words fill it, so the hash is keyed and crafted lists cannot pile entries
// onto one probe chain.
class StopwordList::Set {
 public:
  template <class Words>
  explicit Set(const Words& words) {
    std::size_t total = 0;
    for (std::string_view word : words) total += word.size();
    bytes_.reserve(total);
    for (std::string_view word : words) bytes_ += word;
    slots_.resize(std::bit_ceil(std::max<std::size_t>(2 * std::size(words), 8)));
    std::string_view bytes = bytes_;
    std::size_t start = 0;
    for (std::string_view word : words) {
      std::string_view view = bytes.substr(start, word.size());  // never a null pointer
      start += word.size();
      std::uint64_t hash = keyed_hash(view);
      Slot& slot = slots_[probe(view, hash)];
      if (slot.word.data() == nullptr) slot = {hash, view};
    }
  }
  Set(const Set&) = delete;
  Set& operator=(const Set&) = delete;

  bool contains(std::string_view token) const {
    return slots_[probe(token, keyed_hash(token))].word.data() != nullptr;
  }

 private:
  struct Slot {
    std::uint64_t hash;
    std::string_view word;  // a null pointer marks an empty slot
  };

  // Index of the slot holding word, or of the empty slot where it belongs.
  std::size_t probe(std::string_view word, std::uint64_t hash) const {
    std::size_t mask = slots_.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
      const Slot& slot = slots_[i];
      if (slot.word.data() == nullptr || (slot.hash == hash && slot.word == word)) return i;
    }
  }

  std::string bytes_;
  std::vector<Slot> slots_;
};

StopwordList::StopwordList(const std::vector<std::string>& words)
    : set_(words.empty() ? nullptr : std::make_shared<const Set>(words)) {}

const StopwordList& default_stopwords() {
  static const StopwordList list = [] {
    StopwordList built;
    built.set_ = std::make_shared<const StopwordList::Set>(kTableOrder);
    return built;
  }();
  return list;
}

bool StopwordList::contains(std::string_view token) const {
  return set_ != nullptr && set_->contains(token);
}

}  // namespace kivo
