#include "router/intent.hpp"

#include <algorithm>
#include <string>
#include <utility>

#include "text/utf8.hpp"

namespace kivo {

Result<Intent> parse_intent(std::string_view intent) {
  if (intent == "names") return Intent::Names;
  if (intent == "typos") return Intent::Typos;
  if (intent == "codes") return Intent::Codes;
  if (intent == "documents") return Intent::Documents;
  if (intent == "dedup" || intent == "deduplication") return Intent::Dedup;
  if (intent == "auto") return Intent::Auto;
  return value_error("unknown intent: " + std::string(intent));
}

Algorithm auto_algorithm(std::string_view a, std::string_view b) {
  // Lengths in UTF-8 bytes, bounds strict. Equal byte lengths do not imply
  // equal character counts ('é' and 'ab'), and Hamming needs the latter, so
  // short pairs must agree on both before Hamming is chosen.
  std::size_t longest = std::max(a.size(), b.size());
  if (a.size() == b.size() && longest < 21 && utf8::count_chars(a) == utf8::count_chars(b)) {
    return algorithm_named("hamming");
  }
  if (longest < 51) return algorithm_named("jaro_winkler");
  if (longest < 501) return algorithm_named("bm25");
  return algorithm_named("simhash_default");
}

namespace {

Algorithm algorithm_for(Intent intent, std::string_view a, std::string_view b) {
  switch (intent) {
    case Intent::Names: return algorithm_named("jaro_winkler");
    case Intent::Typos: return algorithm_named("levenshtein");
    case Intent::Codes: return algorithm_named("hamming");
    case Intent::Documents: return algorithm_named("bm25");
    case Intent::Dedup: return algorithm_named("simhash_default");
    case Intent::Auto: return auto_algorithm(a, b);
  }
  throw InternalFault("unhandled intent");
}

}  // namespace

Result<CompareResult> compare_by_intent(const Router& router, Intent intent, std::string_view a,
                                        std::string_view b) {
  PreparedTexts texts(router, a, b);
  Algorithm algorithm = algorithm_for(intent, texts.a(), texts.b());
  Result<AlgorithmScore> run = run_algorithm(algorithm, texts.a(), texts.b());
  if (!run.ok()) return std::move(run.failure());
  return CompareResult{run.value().algorithm, run.value().score, 0, false, std::nullopt};
}

}  // namespace kivo
