#include "algo/bm25.hpp"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "algo/term_table.hpp"
#include "algo/term_views.hpp"
#include "base/cancel.hpp"

namespace kivo {
namespace {

constexpr double kK1 = 1.2;
constexpr double kB = 0.75;
constexpr double kDocuments = 2.0;

// n is the number of the two documents that hold the term.
double idf(double n) {
  return std::log(((kDocuments - n) + 0.5) / (n + 0.5) + 1.0);
}

// One occurrence's contribution: its term has frequency tf in a document
// whose length normalisation is k.
double contribution(double idf, double tf, double k) {
  return idf * ((tf * (kK1 + 1.0)) / (tf + k));
}

}  // namespace

double bm25_similarity(std::string_view a, std::string_view b) {
  TermViews query_views(a);
  const std::vector<std::string_view>& query = query_views.terms();
  if (query.empty()) return 0.0;
  TermViews document_views(b);
  const std::vector<std::string_view>& document = document_views.terms();

  // Only the query's terms are ever scored, so only they need counts.
  TermTable table(query.size());
  std::vector<std::size_t> query_ids;
  query_ids.reserve(query.size());
  cancel::Meter meter;
  for (std::string_view term : query) {
    meter.add(8);
    std::size_t id = table.intern(term);
    ++table[id].count[0];
    query_ids.push_back(id);
  }
  for (std::string_view term : document) {
    meter.add(8);
    std::size_t id = table.find(term);
    if (id != TermTable::npos) ++table[id].count[1];
  }

  std::uint64_t total = std::uint64_t(query.size()) + std::uint64_t(document.size());
  double avgdl = double(total) * 0.5;
  auto length_norm = [avgdl](std::size_t length) {
    return ((double(length) * kB) / avgdl + (1.0 - kB)) * kK1;
  };
  double k_self = length_norm(query.size());
  double k_other = length_norm(document.size());

  // Each distinct term's contribution is computed once; the sums below still
  // add one contribution per query occurrence, in query order.
  struct Contribution {
    double to_self, to_other;
  };
  std::vector<Contribution> per_term(table.size());
  for (std::size_t i = 0; i < table.size(); ++i) {
    const TermEntry& entry = table[i];
    double term_idf = idf(entry.count[1] > 0 ? 2.0 : 1.0);
    per_term[i] = {contribution(term_idf, double(entry.count[0]), k_self),
                   contribution(term_idf, double(entry.count[1]), k_other)};
  }
  double self_score = 0.0;
  double other_score = 0.0;
  for (std::size_t id : query_ids) {
    self_score = self_score + per_term[id].to_self;
    other_score = other_score + per_term[id].to_other;
  }

  double best = std::max(other_score, std::max(self_score, 0.0));
  return best > 0.0 ? other_score / best : 0.0;
}

}  // namespace kivo
