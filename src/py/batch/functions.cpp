// The functions of kivo.batch: arguments in, one computation without the
// interpreter lock, NumPy arrays out.
#include "py/batch/functions.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "algo/minhash.hpp"
#include "batch/cpdist_pieces.hpp"
#include "batch/lsh.hpp"
#include "batch/nulls.hpp"
#include "batch/operations.hpp"
#include "batch/result_size.hpp"
#include "py/batch/arrays.hpp"
#include "py/batch/kivo_objects.hpp"
#include "py/batch/nearest_choice.hpp"
#include "py/batch/run.hpp"
#include "py/convert.hpp"
#include "py/guard.hpp"
#include "py/text_lists.hpp"

namespace kivo::py {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// Raises the failure with the note naming `param`.
[[noreturn]] void raise_for(const char* param, const Failure& failure) {
  try {
    raise(failure);
  } catch (const ErrorAlreadySet&) {
    raise_with_note(param);
  }
}

// Results that could never be held are refused before anything is made or
// computed, naming the argument that sized them when there is one.
void check_result_size(std::initializer_list<std::uint64_t> shape, std::size_t item_size,
                       unsigned arrays, const char* param) {
  std::optional<ExceptionDesc> refused =
      batch::results_too_large({shape.begin(), shape.size()}, item_size, arrays);
  if (!refused) return;
  if (param == nullptr) raise(*refused);
  raise_for(param, *refused);
}

std::uint64_t read_count(PyObject* object, const char* param) {
  return with_note(param, [&] { return to_uint(object); });
}

// -1 (every core) or a positive count.
long read_workers(PyObject* object) {
  if (object == nullptr) return 1;
  return with_note("workers", [&] {
    Ref index = check(PyNumber_Index(object));
    long workers = PyLong_AsLong(index.get());
    if (workers == -1 && PyErr_Occurred()) throw ErrorAlreadySet{};
    if (workers < 1 && workers != -1) {
      raise(PyExc_ValueError,
            "workers must be -1 (every core) or a positive count, not " + std::to_string(workers));
    }
    return workers;
  });
}

// The inclusive bound: a distance's largest kept value, a similarity's
// smallest. None keeps everything.
double read_cutoff(PyObject* object, bool distance) {
  if (object == nullptr || object == Py_None) return distance ? kInfinity : -kInfinity;
  return with_note("score_cutoff", [&] {
    if (distance) return double(to_uint(object));
    double cutoff = to_real(object);
    // No score compares with NaN: it would keep nothing, silently.
    if (std::isnan(cutoff)) raise(PyExc_ValueError, "score_cutoff must be a number, not NaN");
    return cutoff;
  });
}

// 'error' (a null is a ValueError, the default) or 'skip'.
bool read_skip_nulls(PyObject* object) {
  if (object == nullptr) return false;
  return with_note("nulls", [&] {
    if (!PyUnicode_Check(object)) type_mismatch(object, "str");
    std::string_view value = to_text(object);
    if (value != "error" && value != "skip") {
      raise(PyExc_ValueError, "nulls must be 'error' or 'skip', not '" + std::string(value) + "'");
    }
    return value == "skip";
  });
}

// What every scoring function reads before it computes.
struct Scoring {
  ScorerChoice scorer;
  batch::Processor processor;
  batch::TextNeeds needs;
  bool distance;

  Scoring(PyObject* scorer_object, PyObject* processor_object)
      : scorer(with_note("scorer", [&] { return resolve_scorer(scorer_object); })) {
    processor = with_note("processor", [&] { return resolve_processor(processor_object, scorer); });
    if (scorer.tiers) scorer.spec.router = &*scorer.tiers;
    needs = scorer.spec.needs();
    distance = scorer.spec.distance();
  }
  TextList read(PyObject* sequence, const char* param, bool skip_nulls,
                bool in_place = false) const {
    return with_note(param, [&] {
      return read_batch_texts(sequence, skip_nulls ? Nulls::Kept : Nulls::Skippable, in_place);
    });
  }
  batch::Texts texts(TextList& list, const batch::Pool& pool) const {
    return batch::Texts(std::move(list.sources), processor, needs, pool);
  }
  std::unique_ptr<batch::Scorer> make(const batch::Texts& queries, const batch::Texts& choices,
                                      const batch::Pool& pool, bool pairwise = false) const {
    return batch::make_scorer(scorer.spec, queries, choices, pairwise, pool);
  }
};

// A distance below a cutoff is reported as cutoff + 1, a similarity as 0.
struct Fill {
  double value;
  // The largest distance the call may store: distances never exceed the
  // longest text (Indel's the two longest together), and neither does the
  // fill unless the cutoff is lower.
  double largest_stored;
};

// From the longest query and choice, in characters.
Fill fill_for(const Scoring& scoring, double cutoff, std::size_t longest_query,
              std::size_t longest_choice) {
  if (!scoring.distance) return {0.0, 0.0};
  double longest = scoring.scorer.spec.measure->distance_sums_lengths
                       ? double(longest_query) + double(longest_choice)
                       : double(std::max(longest_query, longest_choice));
  double fill = std::min(cutoff, longest) + 1;
  return {fill, std::min(longest, fill)};
}

// A dtype, integral or not, must hold every distance stored in it exactly.
[[noreturn]] void refuse_dtype(const Dtype& dtype, double largest_stored) {
  raise_for("dtype", value_error("dtype '" + dtype.name + "' cannot hold distances up to " +
                                 std::to_string(std::uint64_t(largest_stored))));
}

// One side's texts for a call that reads them a piece at a time.
batch::ReadTexts piece_reader(const TextList& list) {
  if (list.column) {
    return [&column = *list.column](std::size_t begin, std::size_t end, auto& out) {
      column.read(begin, end, out);
    };
  }
  return [&sources = list.sources](std::size_t begin, std::size_t end, auto& out) {
    out.insert(out.end(), sources.begin() + std::ptrdiff_t(begin),
               sources.begin() + std::ptrdiff_t(end));
  };
}

template <class... Items>
PyObject* tuple_of(Items... items) {
  Ref owned[] = {Ref::steal(items)...};
  Ref tuple = check(PyTuple_New(Py_ssize_t(sizeof...(items))));
  for (Py_ssize_t i = 0; i < Py_ssize_t(sizeof...(items)); ++i) {
    PyTuple_SET_ITEM(tuple.get(), i, owned[i].release());
  }
  return tuple.release();
}

}  // namespace

PyObject* cdist_impl(PyObject* queries_object, PyObject* choices_object, PyObject* scorer_object,
                     PyObject* cutoff_object, PyObject* dtype_object, PyObject* workers_object,
                     PyObject* processor_object, PyObject* nulls_object, bool pairwise) {
  bool skip_nulls = read_skip_nulls(nulls_object);
  Scoring scoring(scorer_object, processor_object);
  // cpdist reads its texts a piece at a time, unless a distance's fill needs
  // the longest processed text before any pair is scored.
  bool in_pieces = pairwise && !(scoring.distance && scoring.processor);
  TextList queries = scoring.read(queries_object, "queries", skip_nulls, in_pieces);
  TextList choices = scoring.read(choices_object, "choices", skip_nulls, in_pieces);
  std::size_t rows = queries.size();
  std::size_t columns = choices.size();
  if (pairwise && rows != columns) {
    raise(PyExc_ValueError, "queries and choices must have equal lengths, not " +
                                std::to_string(rows) + " and " + std::to_string(columns));
  }
  double cutoff = read_cutoff(cutoff_object, scoring.distance);
  long workers = read_workers(workers_object);
  Ref numpy = import_numpy();
  // A skipped pair holds NaN: distances too are float64 unless asked otherwise.
  bool default_dtype = dtype_object == nullptr || dtype_object == Py_None;
  Dtype dtype = skip_nulls && default_dtype
                    ? named_dtype(numpy.get(), "float64")
                    : resolve_dtype(numpy.get(), dtype_object, scoring.distance);
  if (skip_nulls && dtype.integral) {
    raise_for("dtype", value_error("nulls='skip' stores NaN, which dtype '" + dtype.name +
                                   "' cannot hold: use a float dtype"));
  }
  // Pairs with a null on either side are dropped from both lists.
  std::vector<std::size_t> dropped_rows =
      pairwise ? batch::merged(queries.nulls, choices.nulls) : std::move(queries.nulls);
  std::vector<std::size_t> dropped_columns = pairwise ? dropped_rows : std::move(choices.nulls);
  batch::Kept kept_rows(rows);
  batch::Kept kept_columns(columns);
  if (!in_pieces) {
    kept_rows = batch::Kept::drop(queries.sources, dropped_rows);
    kept_columns = batch::Kept::drop(choices.sources, dropped_columns);
  }
  if (pairwise) {
    check_result_size({rows}, dtype.item_size, 1, nullptr);
  } else {
    check_result_size({rows, columns}, dtype.item_size, 1, nullptr);
  }
  Array out(numpy.get(),
            pairwise ? std::initializer_list<Py_ssize_t>{Py_ssize_t(rows)}
                     : std::initializer_list<Py_ssize_t>{Py_ssize_t(rows), Py_ssize_t(columns)},
            dtype);
  bool small = pairwise ? small_pairwise_work(queries, choices)
                        : small_work(rows * columns, queries.characters() + choices.characters());
  // Known once the texts are processed; refused before any pair is scored.
  std::optional<double> unheld;
  run_released(
      batch::worker_count(workers, rows),
      [&](const batch::Pool& pool) {
        if (in_pieces) {
          batch::PairedTexts texts{rows, piece_reader(queries), piece_reader(choices),
                                   dropped_rows};
          batch::Longest longest;
          if (scoring.distance) longest = batch::longest_unprocessed(texts, scoring.needs, pool);
          Fill fill = fill_for(scoring, cutoff, longest.queries, longest.choices);
          if (fill.largest_stored > dtype.largest) {
            unheld = fill.largest_stored;
            return;
          }
          batch::cpdist_in_pieces(texts, {scoring.scorer.spec, scoring.processor, scoring.needs},
                                  cutoff, fill.value, out.output(), pool);
          return;
        }
        batch::Texts q = scoring.texts(queries, pool);
        batch::Texts c = scoring.texts(choices, pool);
        Fill fill = fill_for(scoring, cutoff, q.longest(), c.longest());
        if (fill.largest_stored > dtype.largest) {
          unheld = fill.largest_stored;
          return;
        }
        std::unique_ptr<batch::Scorer> scorer = scoring.make(q, c, pool, pairwise);
        batch::Problem problem{q, c, *scorer, pool};
        if (pairwise) {
          batch::cpdist(problem, cutoff, fill.value, out.output());
          batch::spread_matrix(out.output(), kept_rows, batch::Kept(1));
        } else {
          batch::cdist(problem, cutoff, fill.value, out.output());
          batch::spread_matrix(out.output(), kept_rows, kept_columns);
        }
      },
      small);
  if (unheld) refuse_dtype(dtype, *unheld);
  return out.release();
}

PyObject* topk_impl(PyObject* queries_object, PyObject* choices_object, PyObject* scorer_object,
                    PyObject* k_object, PyObject* cutoff_object, PyObject* workers_object,
                    PyObject* processor_object, PyObject* nulls_object) {
  bool skip_nulls = read_skip_nulls(nulls_object);
  Scoring scoring(scorer_object, processor_object);
  TextList queries = scoring.read(queries_object, "queries", skip_nulls);
  TextList choices = scoring.read(choices_object, "choices", skip_nulls);
  std::uint64_t k = k_object == nullptr ? 1 : read_count(k_object, "k");
  double cutoff = read_cutoff(cutoff_object, scoring.distance);
  long workers = read_workers(workers_object);
  Ref numpy = import_numpy();
  std::size_t rows = queries.sources.size();
  Dtype index_type = named_dtype(numpy.get(), "int64");
  Dtype score_type = named_dtype(numpy.get(), scoring.distance ? "int64" : "float64");
  // Places past the last choice hold -1: k wider than the choices costs
  // memory all the same.
  check_result_size({rows, k}, sizeof(std::int64_t), 2, "k");
  Array indices(numpy.get(), {Py_ssize_t(rows), Py_ssize_t(k)}, index_type);
  Array scores(numpy.get(), {Py_ssize_t(rows), Py_ssize_t(k)}, score_type);
  if (k == 0) return tuple_of(indices.release(), scores.release());
  batch::Kept kept_rows = batch::Kept::drop(queries.sources, queries.nulls);
  batch::Kept kept_choices = batch::Kept::drop(choices.sources, choices.nulls);
  bool small =
      small_work(rows * choices.sources.size(), queries.characters() + choices.characters());
  run_released(
      batch::worker_count(workers, rows),
      [&](const batch::Pool& pool) {
        batch::Texts q = scoring.texts(queries, pool);
        batch::Texts c = scoring.texts(choices, pool);
        std::unique_ptr<batch::Scorer> scorer = scoring.make(q, c, pool);
        batch::topk({q, c, *scorer, pool}, std::size_t(k), cutoff, indices.data_as<std::int64_t>(),
                    scores.output());
        batch::spread_rows(indices.data_as<std::int64_t>(), scores.output(), std::size_t(k),
                           kept_rows, kept_choices);
      },
      small);
  return tuple_of(indices.release(), scores.release());
}

PyObject* pairs_impl(PyObject* queries_object, PyObject* choices_object, PyObject* scorer_object,
                     PyObject* cutoff_object, PyObject* workers_object, PyObject* processor_object,
                     PyObject* nulls_object) {
  bool skip_nulls = read_skip_nulls(nulls_object);
  Scoring scoring(scorer_object, processor_object);
  bool self = choices_object == nullptr || choices_object == Py_None;
  TextList queries = scoring.read(queries_object, self ? "texts" : "queries", skip_nulls);
  TextList choices;
  if (!self) choices = scoring.read(choices_object, "choices", skip_nulls);
  batch::Kept kept_queries = batch::Kept::drop(queries.sources, queries.nulls);
  batch::Kept kept_choices = batch::Kept::drop(choices.sources, choices.nulls);
  double cutoff = read_cutoff(cutoff_object, scoring.distance);
  long workers = read_workers(workers_object);
  Ref numpy = import_numpy();
  batch::PairList found;
  run_released(batch::worker_count(workers, queries.sources.size()), [&](const batch::Pool& pool) {
    batch::Texts q = scoring.texts(queries, pool);
    std::optional<batch::Texts> c;
    if (!self) c.emplace(std::move(choices.sources), scoring.processor, scoring.needs, pool);
    const batch::Texts& other = self ? q : *c;
    std::unique_ptr<batch::Scorer> scorer = scoring.make(q, other, pool);
    found = batch::pairs({q, other, *scorer, pool}, self, cutoff);
  });
  Dtype index_type = named_dtype(numpy.get(), "int64");
  Dtype score_type = named_dtype(numpy.get(), scoring.distance ? "int64" : "float64");
  Py_ssize_t n = Py_ssize_t(found.size());
  Array first(numpy.get(), {n}, index_type);
  Array second(numpy.get(), {n}, index_type);
  Array scores(numpy.get(), {n}, score_type);
  // One pass over memory: not worth more threads, but no reason to hold the
  // lock, and long enough to be cancelled.
  run_released(
      1,
      [&](const batch::Pool&) {
        found.write(first.data_as<std::int64_t>(), second.data_as<std::int64_t>(), scores.output());
        batch::renumber(first.data_as<std::int64_t>(), found.size(), kept_queries);
        batch::renumber(second.data_as<std::int64_t>(), found.size(),
                        self ? kept_queries : kept_choices);
      },
      small_work(found.size(), 0));
  return tuple_of(first.release(), second.release(), scores.release());
}

PyObject* minhash_signatures_impl(PyObject* texts_object, PyObject* shingle_object,
                                  PyObject* hashes_object, PyObject* workers_object,
                                  PyObject* processor_object) {
  batch::Processor processor =
      with_note("processor", [&] { return resolve_processor(processor_object, ScorerChoice{}); });
  TextList texts =
      with_note("texts", [&] { return read_batch_texts(texts_object, Nulls::Refused); });
  std::uint64_t shingle_size = read_count(shingle_object, "shingle_size");
  std::uint64_t num_hashes = read_count(hashes_object, "num_hashes");
  long workers = read_workers(workers_object);
  std::size_t rows = texts.sources.size();
  std::optional<ExceptionDesc> too_large = signature_rows_too_large(num_hashes, rows);
  if (!too_large) {
    too_large = batch::results_too_large({{rows, num_hashes}}, sizeof(std::uint64_t));
  }
  if (too_large) {
    // The single call hashes its text before it sizes the signature: the
    // first text's own fault (a zero shingle size) comes first.
    if (rows > 0) {
      run_released(1, [&](const batch::Pool& pool) {
        batch::Texts first({texts.sources[0]}, processor, {true, false}, pool);
        std::uint64_t none;
        batch::minhash_signatures(first, shingle_size, 0, &none, pool);
      });
    }
    raise_for("num_hashes", *too_large);
  }
  Ref numpy = import_numpy();
  Array out(numpy.get(), {Py_ssize_t(rows), Py_ssize_t(num_hashes)},
            named_dtype(numpy.get(), "uint64"));
  run_released(batch::worker_count(workers, rows), [&](const batch::Pool& pool) {
    batch::Texts t(std::move(texts.sources), processor, {true, false}, pool);
    batch::minhash_signatures(t, shingle_size, num_hashes, out.data_as<std::uint64_t>(), pool);
  });
  return out.release();
}

std::uint64_t read_count_argument(PyObject* object, const char* param) {
  return read_count(object, param);
}

long read_workers_argument(PyObject* object) {
  return read_workers(object);
}

}  // namespace kivo::py

namespace kivo::py {

namespace {

// The choices of extract: their texts and, for a mapping, each one's key.
struct Choices {
  TextList texts;
  Ref keys;  // a list, or null for a sequence (the key is the index)
};

// A dict, or anything else but a str with an items() method (a pandas
// Series), is a mapping whose values are the choices; anything else is read
// as kivo.batch reads every list of texts.
Choices read_choices(PyObject* object, Nulls nulls) {
  bool mapping =
      PyDict_Check(object) || (!PyUnicode_Check(object) && PyObject_HasAttrString(object, "items"));
  if (!mapping) return {read_batch_texts(object, nulls), {}};
  Ref items = check(PyMapping_Items(object));
  Py_ssize_t count = PyList_GET_SIZE(items.get());
  Ref keys = check(PyList_New(count));
  Ref values = check(PyList_New(count));
  for (Py_ssize_t k = 0; k < count; ++k) {
    PyObject* item = PyList_GET_ITEM(items.get(), k);
    if (!PyTuple_Check(item) || PyTuple_GET_SIZE(item) != 2) {
      raise(PyExc_TypeError,
            "items() must yield (key, choice) pairs, not '" + qualified_type_name(item) + "'");
    }
    PyList_SET_ITEM(keys.get(), k, Py_NewRef(PyTuple_GET_ITEM(item, 0)));
    PyList_SET_ITEM(values.get(), k, Py_NewRef(PyTuple_GET_ITEM(item, 1)));
  }
  return {read_batch_texts(values.get(), nulls), std::move(keys)};
}

// extract_one reads a list or tuple of choices a chunk at a time, each
// larger than the last, and stops at the first perfect score: no later
// choice can beat it, as ties go to the lowest index. The choices after it
// are never read.
constexpr std::size_t kFirstChunk = 1024;
constexpr std::size_t kLargestChunk = 8192;

class ChoiceChunks {
 public:
  // Reads the first chunk; everything, unless `lazy` and the choices are a
  // list or tuple.
  ChoiceChunks(PyObject* object, Nulls nulls, bool lazy)
      : object_(object),
        nulls_(nulls),
        lazy_(lazy && (PyList_CheckExact(object) || PyTuple_CheckExact(object))) {
    if (lazy_) {
      read_next();
    } else {
      chunk_ = read_choices(object, nulls);
    }
  }

  Choices& chunk() { return chunk_; }
  // The caller's position of the chunk's first choice.
  std::size_t first() const { return first_; }
  // Reads the next chunk; false after the last.
  bool advance() {
    if (!lazy_ || end_ >= std::size_t(Py_SIZE(object_))) return false;
    if (PyErr_CheckSignals() < 0) throw ErrorAlreadySet{};
    read_next();
    return true;
  }

 private:
  void read_next() {
    first_ = end_;
    // A list may change between chunks: its size is read each time.
    end_ = std::max(first_, std::min(std::size_t(Py_SIZE(object_)), first_ + size_));
    size_ = std::min(2 * size_, kLargestChunk);
    Ref slice = check(PyList_CheckExact(object_)
                          ? PyList_GetSlice(object_, Py_ssize_t(first_), Py_ssize_t(end_))
                          : PyTuple_GetSlice(object_, Py_ssize_t(first_), Py_ssize_t(end_)));
    chunk_ = {read_batch_texts(slice.get(), nulls_, false, first_), {}};
  }

  PyObject* object_;
  Nulls nulls_;
  bool lazy_;
  Choices chunk_;
  std::size_t first_ = 0;
  std::size_t end_ = 0;
  std::size_t size_ = kFirstChunk;
};

// Whether a search may stop before the last choice: not where a pair may
// fail (Hamming's unequal lengths, a flow routing to it), which every choice
// is read for, nor for the measures scored by their single calls.
bool never_fails(const Scoring& scoring) {
  const Measure* measure = scoring.scorer.spec.measure;
  return measure != nullptr && measure->kernel != BatchKernel::Hamming &&
         measure->kernel != BatchKernel::EachPair;
}

// Whether no score is better: a distance of 0 or a similarity of 1.
bool perfect(const Scoring& scoring, double score) {
  return scoring.distance ? score == 0 : score >= 1;
}

// The k best of the choices against the query that pass the cutoff, best
// first, -1 after the last. The query's texts are made by the first call
// and kept for the next.
void best_choices(const Scoring& scoring, TextList& query, std::optional<batch::Texts>& query_texts,
                  TextList& choices, std::size_t k, double cutoff, long workers,
                  std::int64_t* indices, double* scores) {
  std::vector<std::int64_t> distances(scoring.distance ? k : 0);
  batch::Output out = scoring.distance ? batch::Output{distances.data(), batch::Element::I64}
                                       : batch::Output{scores, batch::Element::F64};
  bool small = small_work(choices.sources.size(), query.characters() + choices.characters());
  run_released(
      batch::worker_count(workers, 1),
      [&](const batch::Pool& pool) {
        if (!query_texts)
          query_texts.emplace(std::move(query.sources), scoring.processor, scoring.needs, pool);
        const batch::Texts& q = *query_texts;
        batch::Texts c = scoring.texts(choices, pool);
        // A symmetric scorer takes the choices as its rows, in blocks.
        if (scoring.scorer.spec.symmetric()) {
          std::unique_ptr<batch::Scorer> scorer = scoring.make(c, q, pool);
          batch::topk_of_one({c, q, *scorer, pool}, k, cutoff, indices, out);
          return;
        }
        std::unique_ptr<batch::Scorer> scorer = scoring.make(q, c, pool);
        batch::topk({q, c, *scorer, pool}, k, cutoff, indices, out);
      },
      small);
  for (std::size_t r = 0; r < distances.size(); ++r) scores[r] = double(distances[r]);
}

// What extract reports of a found choice: (choice, score, key).
PyObject* found_tuple(const Choices& choices, const std::vector<batch::SourceText>& borrowed,
                      std::size_t position, std::size_t first, bool distance, double score) {
  Py_ssize_t index = Py_ssize_t(position);
  Ref choice =
      choices.texts.strs
          ? Ref::borrow(PyList_GET_ITEM(choices.texts.items.get(), index))
          : check(PyUnicode_DecodeUTF8(borrowed[position].utf8.data(),
                                       Py_ssize_t(borrowed[position].utf8.size()), "strict"));
  Ref key = choices.keys ? Ref::steal(Py_NewRef(PyList_GET_ITEM(choices.keys.get(), index)))
                         : check(PyLong_FromSize_t(position + first));
  Ref value =
      check(distance ? PyLong_FromLongLong(std::int64_t(score)) : PyFloat_FromDouble(score));
  return tuple_of(choice.release(), value.release(), key.release());
}

}  // namespace

PyObject* extract_impl(PyObject* query_object, PyObject* choices_object, PyObject* scorer_object,
                       PyObject* limit_object, PyObject* cutoff_object, PyObject* processor_object,
                       PyObject* workers_object, PyObject* nulls_object, bool one) {
  bool skip_nulls = read_skip_nulls(nulls_object);
  Nulls nulls = skip_nulls ? Nulls::Kept : Nulls::Skippable;
  Scoring scoring(scorer_object, processor_object);
  TextList query = with_note("query", [&] {
    Ref single = check(PyTuple_Pack(1, query_object));
    return read_batch_texts(single.get(), nulls);
  });
  const Measure* measure = scoring.scorer.spec.measure;
  if (one && query.nulls.empty() && !scoring.processor && !scoring.scorer.tiers &&
      measure != nullptr && searched_directly(*measure, choices_object)) {
    double cutoff = read_cutoff(cutoff_object, scoring.distance);
    read_workers(workers_object);  // one query: scored on this thread
    return nearest_choice(*measure, query.sources[0].units, choices_object, cutoff, nulls);
  }
  ChoiceChunks chunks = with_note(
      "choices", [&] { return ChoiceChunks(choices_object, nulls, one && never_fails(scoring)); });
  std::uint64_t limit = 5;
  if (one) {
    limit = 1;
  } else if (limit_object == Py_None) {
    limit = std::numeric_limits<std::uint64_t>::max();
  } else if (limit_object != nullptr) {
    limit = read_count(limit_object, "limit");
  }
  double cutoff = read_cutoff(cutoff_object, scoring.distance);
  long workers = read_workers(workers_object);
  // A null query finds nothing; null choices are never found.
  bool searching = query.nulls.empty();
  std::optional<batch::Texts> query_texts;
  Ref found = check(PyList_New(0));
  Ref best;  // extract_one's best so far
  double best_score = 0;
  do {
    Choices& choices = chunks.chunk();
    // Choices read in place become strs from their UTF-8, which the scoring
    // takes over: their views are kept aside.
    std::vector<batch::SourceText> borrowed;
    if (!choices.texts.strs) borrowed = choices.texts.sources;
    batch::Kept kept = batch::Kept::drop(choices.texts.sources, choices.texts.nulls);
    std::size_t count = searching ? choices.texts.sources.size() : 0;
    std::size_t k = std::size_t(std::min<std::uint64_t>(limit, count));
    if (k == 0) continue;
    // Past a best choice, only a better one counts: the next lower distance
    // (distances are whole numbers), or a similarity at least as high (a
    // later equal one is not taken).
    double bound = !best ? cutoff : scoring.distance ? best_score - 1 : best_score;
    std::vector<std::int64_t> indices(k);
    std::vector<double> scores(k);
    best_choices(scoring, query, query_texts, choices.texts, k, bound, workers, indices.data(),
                 scores.data());
    for (std::size_t r = 0; r < k && indices[r] >= 0; ++r) {
      std::size_t position = kept[std::size_t(indices[r])];
      Ref tuple = check(
          found_tuple(choices, borrowed, position, chunks.first(), scoring.distance, scores[r]));
      if (!one) {
        if (PyList_Append(found.get(), tuple.get()) < 0) throw ErrorAlreadySet{};
      } else if (!best || (scoring.distance ? scores[r] < best_score : scores[r] > best_score)) {
        best = std::move(tuple);
        best_score = scores[r];
      }
    }
  } while (!(best && perfect(scoring, best_score)) &&
           with_note("choices", [&] { return chunks.advance(); }));
  if (!one) return found.release();
  return best ? best.release() : Py_NewRef(Py_None);
}

}  // namespace kivo::py
