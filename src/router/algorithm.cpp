#include "router/algorithm.hpp"

#include <string>
#include <utility>

#include "text/code_points.hpp"

namespace kivo {

namespace {

// The character measures read code units: each text is decoded once.
Result<double> score_of(const Measure& measure, std::string_view a, std::string_view b) {
  if (measure.reads == Reads::Utf8) return score_utf8(measure, a, b);
  return with_code_units(a, [&](const CharSpan& x) {
    return with_code_units(b, [&](const CharSpan& y) { return score_characters(measure, x, y); });
  });
}

}  // namespace

Result<Algorithm> parse_algorithm(std::string_view name) {
  for (const Measure& measure : kMeasures) {
    if (!measure.algorithm.empty() && measure.algorithm == name) return &measure;
  }
  return value_error("unknown algorithm: " + std::string(name));
}

Result<AlgorithmScore> run_algorithm(Algorithm algorithm, std::string_view a, std::string_view b) {
  Result<double> score = score_of(*algorithm, a, b);
  if (!score.ok()) {
    if (algorithm->router_error.empty()) return std::move(score.failure());
    return EngineError{EngineError::Kind::Algorithm, std::string(algorithm->router_error)};
  }
  return AlgorithmScore{score.value(), algorithm->reported};
}

}  // namespace kivo
