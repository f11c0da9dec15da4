#include "algo/tfidf.hpp"

#include <cmath>
#include <string>
#include <vector>

#include "algo/term_table.hpp"
#include "algo/term_views.hpp"
#include "base/cancel.hpp"

namespace kivo {
namespace {

// df is the number of the two texts that hold the term.
double idf(double df) {
  return std::log(3.0 / (df + 1.0)) + 1.0;
}

}  // namespace

double tfidf_similarity(std::string_view a, std::string_view b) {
  TermViews views_a(a);
  TermViews views_b(b);
  const std::vector<std::string_view>& terms_a = views_a.terms();
  const std::vector<std::string_view>& terms_b = views_b.terms();
  // Every weight is positive, so a vector has norm zero exactly when its text
  // has no term.
  if (terms_a.empty() || terms_b.empty()) return terms_a.empty() && terms_b.empty() ? 1.0 : 0.0;

  // Entries [0, distinct_a) are a's terms in order of first appearance;
  // order_b lists b's terms in order of first appearance. Every sum below runs
  // in those orders, so equal inputs give bit-identical results.
  TermTable table(terms_a.size() + terms_b.size());
  cancel::Meter meter;
  for (std::string_view term : terms_a) {
    meter.add(8);
    ++table[table.intern(term)].count[0];
  }
  std::size_t distinct_a = table.size();
  std::vector<std::size_t> order_b;
  order_b.reserve(terms_b.size());
  for (std::string_view term : terms_b) {
    meter.add(8);
    std::size_t id = table.intern(term);
    if (table[id].count[1]++ == 0) order_b.push_back(id);
  }

  double length_a = double(terms_a.size());
  double length_b = double(terms_b.size());
  struct Weights {
    double a, b;
  };
  std::vector<Weights> weights(table.size());
  for (std::size_t i = 0; i < table.size(); ++i) {
    const TermEntry& entry = table[i];
    double term_idf = idf(double((entry.count[0] > 0) + (entry.count[1] > 0)));
    weights[i] = {(double(entry.count[0]) / length_a) * term_idf,
                  (double(entry.count[1]) / length_b) * term_idf};
  }

  double squares_a = 0.0;
  double dot = 0.0;
  for (std::size_t i = 0; i < distinct_a; ++i) {
    squares_a = squares_a + weights[i].a * weights[i].a;
    if (table[i].count[1] > 0) dot = dot + weights[i].a * weights[i].b;
  }
  double squares_b = 0.0;
  for (std::size_t id : order_b) squares_b = squares_b + weights[id].b * weights[id].b;

  return dot / (std::sqrt(squares_a) * std::sqrt(squares_b));
}

}  // namespace kivo
