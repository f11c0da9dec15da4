// The router's algorithms: the rows of the measure table the router offers,
// each chosen by one exact name, yielding a similarity and the name it
// reports.
#pragma once

#include <string_view>

#include "algo/measures.hpp"
#include "base/error.hpp"

namespace kivo {

// A row of the measure table that has a router name.
using Algorithm = const Measure*;

// A score (larger means more alike) and the name it is reported under.
// The name is one of the table's static names, so a view of it stays valid.
struct AlgorithmScore {
  double score;
  std::string_view algorithm;
};

// Exact, case-sensitive match; anything else is "unknown algorithm: {name}".
Result<Algorithm> parse_algorithm(std::string_view name);

// The algorithm called `name`, where the name is a constant.
consteval Algorithm algorithm_named(std::string_view name) {
  for (const Measure& measure : kMeasures) {
    if (measure.algorithm == name) return &measure;
  }
  throw "no algorithm has this name";
}

// Fails only where the measure refuses the pair (Hamming on texts of
// different character counts), in the router's own words.
Result<AlgorithmScore> run_algorithm(Algorithm algorithm, std::string_view a, std::string_view b);

}  // namespace kivo
