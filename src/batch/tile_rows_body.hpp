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

void scores(Rule rule, const std::uint32_t* m, std::size_t rows, const double* n,
            std::size_t columns, const std::uint32_t* counts, double* out) {
  auto each_row = [&](auto scores_of) {
    for (std::size_t k = 0; k < rows; ++k)
      scores_of(double(m[k]), n, counts + k * columns, out + k * columns, columns);
  };
  switch (rule) {
    case Rule::Count: return each_row(scores_as<Rule::Count>);
    case Rule::CountSimilarity: return each_row(scores_as<Rule::CountSimilarity>);
    case Rule::Indel: return each_row(scores_as<Rule::Indel>);
    case Rule::IndelSimilarity: return each_row(scores_as<Rule::IndelSimilarity>);
    case Rule::LcsSimilarity: return each_row(scores_as<Rule::LcsSimilarity>);
  }
}

void write(Element element, bool distance, const double* scores, std::size_t stride,
           std::size_t rows, std::size_t count, double bound, double fill, void* const* rows_out,
           std::size_t first) {
  Output{nullptr, element}.visit([&]<class T>(T*) {
    for (std::size_t k = 0; k < rows; ++k) {
      T* row = static_cast<T*>(rows_out[k]) + first;
      if (distance) {
        write_as<true>(scores + k * stride, count, bound, fill, row);
      } else {
        write_as<false>(scores + k * stride, count, bound, fill, row);
      }
    }
  });
}
