"""kivo.batch's part of the fuzz harness: one input -> one checked batch call.

Each check draws short lists of hostile texts (sometimes an item that is not a
str, a None, or a lone surrogate; sometimes an Arrow column, intact or broken), a scorer, a processor, a cutoff, `workers` and, for
cdist, a dtype, calls kivo.batch and checks the result against the single
calls on every pair: the same scores bit for bit, the cutoff's fill, topk's
order and pairs' set, or the error the first failing pair in row-major order
raises.
"""

from __future__ import annotations

import math
import struct

import arrow_capsules  # beside this file

import kivo
import kivo.edit as edit
import kivo.tokens as tokens

try:
    import numpy as np
    import kivo.batch as batch
except ImportError:  # NumPy is optional: without it there is nothing to check
    np = batch = None
try:
    import pyarrow as pa
except ImportError:  # pyarrow too: without it, only hand-made columns are checked
    pa = None

FLOW = kivo.KivoFlow().tier_1("levenshtein", "gt", 0.8, "lt", 0.3).tier_2("hamming", "gt", 0.5, 0)
SCORERS = [
    kivo.levenshtein_distance, kivo.levenshtein_similarity, kivo.jaro_winkler_similarity,
    kivo.hamming_distance, kivo.hamming_similarity, kivo.jaccard_bigram_similarity,
    kivo.jaccard_trigram_similarity, kivo.jaccard_word_similarity,
    kivo.minhash_similarity_default, kivo.simhash_similarity_default, kivo.bm25_similarity,
    kivo.tfidf_similarity, FLOW,
    edit.osa_distance, edit.osa_similarity, edit.damerau_levenshtein_distance,
    edit.damerau_levenshtein_similarity, edit.indel_distance, edit.indel_similarity,
    edit.lcs_similarity, tokens.ratio, tokens.partial_ratio, tokens.token_sort_ratio,
    tokens.token_set_ratio, tokens.partial_token_sort_ratio, tokens.partial_token_set_ratio,
    tokens.weighted_ratio,
]  # fmt: skip
DISTANCES = {kivo.levenshtein_distance, kivo.hamming_distance, edit.osa_distance,
             edit.damerau_levenshtein_distance, edit.indel_distance}  # fmt: skip
PREPROCESSOR = kivo.Preprocessor().with_remove_stopwords(True).with_stopwords(["the", "ünd", "a"])
PROCESSORS = [None, kivo.clean_text, kivo.clean_text_stopwords, PREPROCESSOR]
NOT_TEXTS = [None, 1, b"x", 1.5, ["a"]]


def processed(processor, items):
    process = (lambda t: t) if processor is None else getattr(processor, "process", processor)
    return [process(t) for t in items]


def texts(r, name):
    """A short list of texts, and the error its reading must raise."""
    items = [r.text(False) for _ in range(r.below(6))]
    # Rare, and never once the input has run out (it reads as zeros then).
    if items and r.byte() >= 246:
        item = r.pick(NOT_TEXTS)
        items[r.below(len(items))] = item
        return items, (ValueError if item is None else TypeError, name)
    if items and r.byte() >= 246:
        items[r.below(len(items))] += "\udc80"
        return items, (UnicodeEncodeError, name)
    return items, None


def cutoff(r, distance):
    if r.chance(80):
        return None
    if distance:
        return r.below(40)
    return r.pick([0.0, 0.25, 0.5, 0.8, 0.95, 1.0, r.below(1001) / 1000.0])


def model(scorer, queries, choices):
    """Every pair's score in row-major order, or the first pair's error."""
    score = (lambda a, b: scorer.compare(a, b)["score"]) if scorer is FLOW else scorer
    scores = []
    for a in queries:
        row = []
        for b in choices:
            try:
                row.append(score(a, b))
            except ValueError as error:
                return None, error
        scores.append(row)
    return scores, None


def passes(distance, score, bound):
    return bound is None or (score <= bound if distance else score >= bound)


def expect_error(call, error):
    try:
        call()
    except BaseException as raised:  # noqa: BLE001 - checked below
        assert type(raised) is type(error), f"{type(raised).__name__}: {raised} (want {error!r})"
        assert str(raised) == str(error), f"{raised} != {error}"
        return
    raise AssertionError(f"expected {error!r}")


def expect_reading_error(call, expected):
    error_class, name = expected
    try:
        call()
    except error_class as raised:
        assert getattr(raised, "__notes__", None) == [f"while processing '{name}'"], raised
        return
    raise AssertionError(f"expected {error_class.__name__} for '{name}'")


def check_batch(r, _a, _b):
    if batch is None:
        return
    scorer, processor = r.pick(SCORERS), r.pick(PROCESSORS)
    distance = scorer in DISTANCES
    queries, bad_queries = texts(r, "queries")
    choices, bad_choices = texts(r, "choices")
    bound, workers = cutoff(r, distance), r.pick([1, 2, -1])
    kind = r.below(4)
    if kind == 3:  # the self-join reads its one list as "texts"
        choices, bad_choices = queries, None
        bad_queries = bad_queries and (bad_queries[0], "texts")
    options = dict(scorer=scorer, workers=workers, processor=processor)
    if kind == 0:
        call = lambda: batch.cdist(queries, choices, score_cutoff=bound, **options)  # noqa: E731
    elif kind == 1:
        call = lambda: batch.topk(queries, choices, k=r.below(4), score_cutoff=bound, **options)  # noqa: E731
    elif kind == 2:
        call = lambda: batch.pairs(queries, choices, score_cutoff=bound, **options)  # noqa: E731
    else:
        call = lambda: batch.pairs(queries, score_cutoff=bound, **options)  # noqa: E731
    if kind in (2, 3) and bound is None:
        bound = options["score_cutoff"] = 0 if distance else 0.0
        call = (lambda: batch.pairs(queries, choices, **options)) if kind == 2 else (  # noqa: E731
            lambda: batch.pairs(queries, **options))
    if bad_queries or bad_choices:
        return expect_reading_error(call, bad_queries or bad_choices)
    clean_queries, clean_choices = processed(processor, queries), processed(processor, choices)
    scores, error = model(scorer, clean_queries, clean_choices)
    if error is not None:
        try:
            call()
        except ValueError as raised:
            assert str(raised) == str(error), f"{raised} != {error}"
            return
        # topk with k=0 scores nothing, so no pair can fail.
        assert kind == 1, f"expected {error!r}"
        return
    got = call()
    if kind == 0:
        longest = max(map(len, clean_queries + clean_choices), default=0)
        if scorer is edit.indel_distance:  # insertions and deletions of both texts
            longest = max(map(len, clean_queries), default=0) + max(map(len, clean_choices), default=0)
        fill = min(bound, longest) + 1 if distance and bound is not None else 0.0
        check_cdist(got, scores, distance, bound, fill)
    elif kind == 1:
        check_topk(got, scores, distance, bound)
    else:
        check_pairs(got, scores, distance, bound, self_join=kind == 3)


def check_cdist(got, scores, distance, bound, fill):
    assert got.dtype == (np.int64 if distance else np.float64)
    assert got.tolist() == [[s if passes(distance, s, bound) else fill for s in row]
                            for row in scores] or got.size == 0  # fmt: skip
    assert got.shape[0] == len(scores)


def check_topk(got, scores, distance, bound):
    indices, values = got
    k = indices.shape[1]
    sign = 1 if distance else -1
    for row, got_indices, got_values in zip(scores, indices.tolist(), values.tolist()):
        kept = sorted((sign * s, j) for j, s in enumerate(row) if passes(distance, s, bound))[:k]
        assert got_indices == [j for _, j in kept] + [-1] * (k - len(kept)), (got_indices, kept)
        assert got_values[: len(kept)] == [row[j] for _, j in kept]
        assert all(v == -1 for v in got_values[len(kept):])


def check_pairs(got, scores, distance, bound, self_join):
    i, j, values = (a.tolist() for a in got)
    want = [(a, b, s) for a, row in enumerate(scores) for b, s in enumerate(row)
            if (not self_join or a < b) and passes(distance, s, bound)]  # fmt: skip
    assert list(zip(i, j, values)) == want, (list(zip(i, j, values)), want)
    assert all(not (isinstance(s, float) and math.isnan(s)) for s in values)


def check_minhash_signatures(r, a, b):
    if batch is None:
        return
    rows, bad = texts(r, "texts")
    shingle, hashes = r.below(5), r.below(70)
    processor = r.pick(PROCESSORS)
    call = lambda: batch.minhash_signatures(rows, shingle, hashes, workers=r.pick([1, 2]),  # noqa: E731
                                            processor=processor)
    if bad:
        return expect_reading_error(call, bad)
    want = []
    for text in processed(processor, rows):
        try:
            want.append(kivo.minhash_signature(text, shingle, hashes))
        except BaseException as error:  # noqa: BLE001 - the batch call must raise the same
            return expect_error(call, error)
    got = call()
    assert got.dtype == np.uint64 and got.shape == (len(rows), hashes)
    assert got.tolist() == want


def check_extract(r, query, _b):
    """extract or extract_one against a sort of the single calls' scores."""
    if batch is None:
        return
    scorer, processor = r.pick(SCORERS), r.pick(PROCESSORS)
    distance = scorer in DISTANCES
    choices, bad = texts(r, "choices")
    bound, limit, one = cutoff(r, distance), r.pick([None, 0, 1, 3, 5]), r.chance(64)
    short = not bad and choices and len(query) * max(map(len, choices)) <= 10_000
    if one and short and r.chance(16):
        # Past extract_one's first chunks of choices, which it reads as it goes;
        # short texts only, or a thousand quadratic pairs outlast the timeout.
        choices = (choices * (3100 // len(choices) + 1))[: 1000 + r.below(2100)]
    keys = [f"k{i}" for i in range(len(choices))] if r.chance(128) else list(range(len(choices)))
    source = dict(zip(keys, choices)) if keys and isinstance(keys[0], str) else choices
    options = dict(scorer=scorer, score_cutoff=bound, processor=processor)
    if one:
        call = lambda: batch.extract_one(query, source, **options)  # noqa: E731
    else:
        call = lambda: batch.extract(query, source, limit=limit, **options)  # noqa: E731
    if any("\ud800" <= c <= "\udfff" for c in query):
        return expect_reading_error(call, (UnicodeEncodeError, "query"))
    if bad:
        return expect_reading_error(call, bad)
    scores, error = model(scorer, processed(processor, [query]), processed(processor, choices))
    if error is not None:
        if limit == 0 and not one:
            assert call() == []
            return
        try:
            call()
        except ValueError as raised:
            assert str(raised) == str(error), f"{raised} != {error}"
            return
        raise AssertionError(f"expected {error!r}")
    sign = 1 if distance else -1
    kept = sorted((sign * s, j) for j, s in enumerate(scores[0]) if passes(distance, s, bound))
    want = [(choices[j], scores[0][j], keys[j]) for _, j in kept]
    got = call()
    if one:
        assert got == (want[0] if want else None), (got, want)
    else:
        assert got == want[: len(want) if limit is None else limit], (got, want)


def arrow_column(r, items):
    """items as an Arrow column: pyarrow's own, or exported by hand; the second value says
    whether the hand-made one was broken (its offsets, views, bytes, format or length)."""
    if pa is not None and r.chance(3):
        kind = r.pick([pa.string(), pa.large_string(), pa.string_view()])
        start = r.below(3)
        return pa.array(["pad"] * start + items, kind).slice(start), False
    layout = r.below(3)
    column = arrow_capsules.string_view(items) if layout == 2 else arrow_capsules.utf8(
        items, large=layout == 1, offset=r.below(3))
    if not items or not r.chance(3):
        return (arrow_capsules.Stream([column]) if r.chance(4) else column), False
    damage = r.below(4)
    if damage == 0:  # an offset (within the data) or a view's length, buffer or offset
        width = 16 if layout == 2 else 8 if layout == 1 else 4
        at = r.below(len(column.raw[1]) // width) * width + (4 * r.below(4) if layout == 2 else 0)
        value = r.pick([-1, 0, 1, 7, 13, 2**31 - 1]) if layout == 2 else r.below(len(column.raw[2]) + 1)
        struct.pack_into("<i" if width != 8 else "<q", column.raw[1], at, value)
    elif damage == 1 and len(column.raw[2]) > 0:  # a byte of the data
        column.raw[2][r.below(len(column.raw[2]))] = r.byte()
    elif damage == 2:
        column.format = r.pick(["i", "+s", "z", "", "vz", "uu"])
    else:
        column.length = r.pick([-1, -(2**63), 0])
    return column, True


def check_arrow(r, _a, _b):
    """An Arrow column against the same texts as a list: the same scores, nulls read alike;
    a broken one a clean TypeError or ValueError naming the argument, never a crash."""
    if batch is None:
        return
    items = [None if r.chance(12) else r.text(False) for _ in range(r.below(7))]
    column, broken = arrow_column(r, items)
    options = dict(scorer=r.pick(SCORERS), nulls=r.pick(["error", "skip"]), workers=r.pick([1, 2]))
    choices = [r.text(False) for _ in range(r.below(3))]

    def outcome(texts):
        try:
            return batch.cdist(texts, choices, **options)
        except (TypeError, ValueError) as error:
            return error

    compare_outcomes(outcome(column), outcome(items), broken)
    # cpdist reads both sides a piece at a time: pieces of a few rows cross the arrays'
    # bounds, and must score as the lists do.
    column, broken = arrow_column(r, items)
    paired = [r.text(False) for _ in items]

    def paired_outcome(texts):
        try:
            return batch.cpdist(texts, paired, **options)
        except (TypeError, ValueError) as error:
            return error

    before = batch._piece_rows(1 + r.below(4))
    try:
        compare_outcomes(paired_outcome(column), paired_outcome(items), broken)
    finally:
        batch._piece_rows(before)


def compare_outcomes(got, want, broken):
    if broken:
        if isinstance(got, BaseException):
            assert getattr(got, "__notes__", None) in (["while processing 'queries'"], None), got
        return
    if isinstance(want, BaseException):
        assert type(got) is type(want) and str(got) == str(want), (got, want)
    else:
        assert np.array_equal(got, want, equal_nan=True), (got, want)


BATCH_CHECKS = [check_batch, check_minhash_signatures, check_extract, check_arrow]
