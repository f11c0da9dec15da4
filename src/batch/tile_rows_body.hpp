// The loops of tile_rows.hpp, written once. No include guard: tile_rows.cpp
// includes this once per instruction set, inside that set's namespace and
// target region, after every header the loops need.

namespace {

// Plain loops over arrays, which the compiler vectorises: in doubles, where
// every count and length is an integer held exactly.
template <Rule kRule>
void scores_as(double m, const double* n, const std::uint32_t* counts, double* out,
               std::size_t columns) {
  for (std::size_t c = 0; c < columns; ++c) {
    if constexpr (kRule == Rule::Count) {
      out[c] = double(counts[c]);
    } else if constexpr (kRule == Rule::CountSimilarity) {
      out[c] = levenshtein_similarity_of(double(counts[c]), std::max(m, n[c]));
    } else {
      double lcs = double(std::int32_t(counts[c]));
      if constexpr (kRule == Rule::Indel) out[c] = m + n[c] - 2 * lcs;
      if constexpr (kRule == Rule::IndelSimilarity)
        out[c] = levenshtein_similarity_of(m + n[c] - 2 * lcs, m + n[c]);
      if constexpr (kRule == Rule::LcsSimilarity) {
        double longest = std::max(m, n[c]);
        out[c] = levenshtein_similarity_of(longest - lcs, longest);
      }
    }
  }
}

template <bool kDistance, class T>
void write_as(const double* scores, std::size_t count, double bound, double fill, T* row) {
  for (std::size_t c = 0; c < count; ++c) {
    double s = scores[c];
    row[c] = static_cast<T>((kDistance ? s <= bound : s >= bound) ? s : fill);
  }
}

}  // namespace

void scores(Rule rule, double m, const double* n, const std::uint32_t* counts, double* out,
            std::size_t columns) {
  switch (rule) {
    case Rule::Count: return scores_as<Rule::Count>(m, n, counts, out, columns);
    case Rule::CountSimilarity: return scores_as<Rule::CountSimilarity>(m, n, counts, out, columns);
    case Rule::Indel: return scores_as<Rule::Indel>(m, n, counts, out, columns);
    case Rule::IndelSimilarity: return scores_as<Rule::IndelSimilarity>(m, n, counts, out, columns);
    case Rule::LcsSimilarity: return scores_as<Rule::LcsSimilarity>(m, n, counts, out, columns);
  }
}

void write(Element element, bool distance, const double* scores, std::size_t count, double bound,
           double fill, void* row) {
  Output{row, element}.visit([&](auto* data) {
    if (distance) return write_as<true>(scores, count, bound, fill, data);
    write_as<false>(scores, count, bound, fill, data);
  });
}
