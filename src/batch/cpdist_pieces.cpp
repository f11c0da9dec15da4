#include "batch/cpdist_pieces.hpp"

#include <algorithm>
#include <atomic>
#include <string>

#include "base/byte_kernels.hpp"
#include "batch/nulls.hpp"
#include "batch/operations.hpp"
#include "batch/sweep.hpp"
#include "text/utf8.hpp"

namespace kivo::batch {

namespace {

// Enough pairs to pay for a piece's set-up many times over; few enough that
// the pieces in flight weigh a few megabytes.
std::atomic<std::size_t> piece_rows{4096};

struct Piece {
  std::vector<SourceText> queries;
  std::vector<SourceText> choices;
  Kept kept;
};

// The texts of rows [begin, end), without the dropped pairs.
Piece read_piece(const PairedTexts& texts, std::size_t begin, std::size_t end) {
  Piece piece{{}, {}, Kept(end - begin)};
  texts.queries(begin, end, piece.queries);
  texts.choices(begin, end, piece.choices);
  auto first = std::lower_bound(texts.dropped.begin(), texts.dropped.end(), begin);
  std::vector<std::size_t> dropped;
  for (auto at = first; at != texts.dropped.end() && *at < end; ++at)
    dropped.push_back(*at - begin);
  piece.kept = Kept::drop(piece.queries, dropped);
  Kept::drop(piece.choices, dropped);
  return piece;
}

// f(p, begin, end) for every piece p, whose rows are [begin, end), on the
// pool: each piece on one worker.
template <class F>
void for_each_piece(std::size_t size, const Pool& pool, F&& f) {
  std::size_t rows = piece_rows.load(std::memory_order_relaxed);
  pool.for_each((size + rows - 1) / rows,
                [&](std::size_t p) { f(p, p * rows, std::min(size, (p + 1) * rows)); });
}

// Whether each pair's score is the measure's single call with nothing
// prepared per text: then a piece is scored from each text's own code units,
// or its UTF-8 bytes when they are ASCII, with no text decoded in advance.
bool scored_directly(const PieceScoring& scoring) {
  const Measure* measure = scoring.spec.measure;
  return !scoring.processor && measure != nullptr && measure->reads == Reads::Characters &&
         (measure->kernel == BatchKernel::JaroWinkler || measure->kernel == BatchKernel::EachPair);
}

// The text's characters: its code units, its ASCII bytes, or else its
// UTF-8 decoded into `buffer`.
CharSpan characters_of(const SourceText& source, std::u32string& buffer) {
  if (source.units.data != nullptr) return source.units;
  const auto* bytes = reinterpret_cast<const unsigned char*>(source.utf8.data());
  if (bytes::is_ascii(bytes, source.utf8.size())) return {bytes, source.utf8.size(), 1};
  buffer.clear();
  for (std::size_t at = 0; at < source.utf8.size();) buffer += utf8::next(source.utf8, at);
  return {buffer.data(), buffer.size(), sizeof(char32_t)};
}

// The piece's kept pairs, in order, by the single call: the first failure
// is the piece's first.
template <class T>
void score_directly(const Measure& measure, const Piece& piece, double cutoff, double fill, T* out,
                    const Pool& pool) {
  std::u32string query_buffer;
  std::u32string choice_buffer;
  for (std::size_t k = 0; k < piece.queries.size(); ++k) {
    pool.check();
    Result<double> score = score_characters(measure, characters_of(piece.queries[k], query_buffer),
                                            characters_of(piece.choices[k], choice_buffer));
    if (!score.ok()) throw PairFailure{std::move(score.failure())};
    bool passes = measure.distance ? score.value() <= cutoff : score.value() >= cutoff;
    out[k] = static_cast<T>(passes ? score.value() : fill);
  }
}

// A text's length in characters, as Texts counts it without a processor.
std::size_t characters(const SourceText& source) {
  return source.units.data != nullptr ? source.units.length : utf8::count_chars(source.utf8);
}

}  // namespace

Longest longest_unprocessed(const PairedTexts& texts, TextNeeds needs, const Pool& pool) {
  if (!needs.code_points) return {};
  std::atomic<std::size_t> queries{0};
  std::atomic<std::size_t> choices{0};
  auto raise_to = [](std::atomic<std::size_t>& longest, const std::vector<SourceText>& sources) {
    std::size_t most = 0;
    for (const SourceText& source : sources) most = std::max(most, characters(source));
    std::size_t seen = longest.load(std::memory_order_relaxed);
    while (seen < most && !longest.compare_exchange_weak(seen, most)) {
    }
  };
  for_each_piece(texts.size, pool, [&](std::size_t, std::size_t begin, std::size_t end) {
    Piece piece = read_piece(texts, begin, end);
    raise_to(queries, piece.queries);
    raise_to(choices, piece.choices);
  });
  return {queries.load(), choices.load()};
}

void cpdist_in_pieces(const PairedTexts& texts, const PieceScoring& scoring, double cutoff,
                      double fill, Output out, const Pool& pool) {
  // Pieces come in row order as their pairs do: the failure of the first
  // failing piece is the first of all.
  FirstFailure failure;
  out.visit([&](auto* data) {
    for_each_piece(texts.size, pool, [&](std::size_t p, std::size_t begin, std::size_t end) {
      failure.attempt(p, [&] {
        Piece piece = read_piece(texts, begin, end);
        Output part{data + begin, out.element};
        if (scored_directly(scoring)) {
          score_directly(*scoring.spec.measure, piece, cutoff, fill, data + begin, pool);
          spread_matrix(part, piece.kept, Kept(1));
          return;
        }
        // Inside a task, the pool's loops run on this worker alone.
        Texts queries(std::move(piece.queries), scoring.processor, scoring.needs, pool);
        Texts choices(std::move(piece.choices), scoring.processor, scoring.needs, pool);
        std::unique_ptr<Scorer> scorer = make_scorer(scoring.spec, queries, choices, true, pool);
        cpdist({queries, choices, *scorer, pool}, cutoff, fill, part);
        spread_matrix(part, piece.kept, Kept(1));
      });
    });
  });
  failure.rethrow();
}

std::size_t set_piece_rows(std::size_t rows) {
  return piece_rows.exchange(std::max<std::size_t>(rows, 1));
}

}  // namespace kivo::batch
