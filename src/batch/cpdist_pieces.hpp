// cpdist a piece of rows at a time: each worker reads a piece's texts from
// where they lie, prepares them, scores the piece's pairs and lets them go,
// so the call holds its output and a few pieces, never the whole lists
// prepared at once. Scores, and the first failing pair, are those of
// cpdist() over the whole lists.
#pragma once

#include <cstddef>
#include <functional>
#include <vector>

#include "batch/executor.hpp"
#include "batch/output.hpp"
#include "batch/scorer.hpp"
#include "batch/texts.hpp"

namespace kivo::batch {

// Appends the texts at positions [begin, end) of one side to `out`. Called
// from the workers, at once for different pieces.
using ReadTexts =
    std::function<void(std::size_t begin, std::size_t end, std::vector<SourceText>& out)>;

struct PairedTexts {
  std::size_t size;
  ReadTexts queries;
  ReadTexts choices;
  // Pairs left out (a null on either side), ascending: NaN in the output.
  const std::vector<std::size_t>& dropped;
};

// How a piece's texts are made ready and scored.
struct PieceScoring {
  const ScorerSpec& spec;
  const Processor& processor;
  TextNeeds needs;
};

// The longest kept text of each side, in characters, as Texts::longest()
// would find it over the whole lists; only for texts without a processor.
struct Longest {
  std::size_t queries = 0;
  std::size_t choices = 0;
};
Longest longest_unprocessed(const PairedTexts& texts, TextNeeds needs, const Pool& pool);

// The scores of every pair into out[0, texts.size), NaN where dropped.
void cpdist_in_pieces(const PairedTexts& texts, const PieceScoring& scoring, double cutoff,
                      double fill, Output out, const Pool& pool);

// Rows per piece, for the whole process (tests make it small to cross piece
// boundaries cheaply); returns the previous value. At least 1.
std::size_t set_piece_rows(std::size_t rows);

}  // namespace kivo::batch
