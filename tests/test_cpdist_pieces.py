"""cpdist reads, prepares and scores its pairs a piece of rows at a time. With pieces of a
few rows, every input kind crosses piece boundaries (inside Arrow arrays and between them)
and must give the single calls' scores, and the errors of the whole lists, raised before
any result is returned."""

import math
import os
import sys

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import kivo
import kivo.batch as batch
import kivo.edit as edit
import kivo.tokens as tokens
from strategies import texts as text_strategy

np = pytest.importorskip("numpy")
pa = pytest.importorskip("pyarrow")

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "fuzz"))
import arrow_capsules as caps  # noqa: E402
from batch_harness import FLOW  # noqa: E402

sys.path.pop(0)

LEV, JW = kivo.levenshtein_distance, kivo.jaro_winkler_similarity
# Scored straight from each text (Jaro-Winkler, the term weightings), or through the
# prepared texts of each piece (the rest); distances and similarities; one that fails.
SCORERS = [JW, kivo.bm25_similarity, LEV, kivo.levenshtein_similarity, edit.osa_distance,
           kivo.jaccard_bigram_similarity, kivo.minhash_similarity_default, tokens.token_set_ratio,
           kivo.hamming_distance, FLOW]  # fmt: skip
TEXTS = ["kitten", "", "sitting", "héllo wörld", "日本語のテキスト", "a", "🙂 x 🙂",
         "the quick brown fox jumps over the lazy dog, twice over", "kitten", "Straße"]  # fmt: skip


def chunks(items, kind=pa.string()):
    """Arrays of 1, 0, 2, 3, ... rows: boundaries fall inside pieces and between them."""
    parts, at, size = [], 0, 1
    while at < len(items):
        parts.append(items[at : at + size])
        at, size = at + size, (size + 1) % 4
    return pa.chunked_array(parts or [[]], kind)


KINDS = {
    "list": list,
    "utf8": pa.array,
    "view": lambda t: pa.array(t, pa.string_view()),
    "slice": lambda t: pa.array(["x", *t, "y"], pa.large_string()).slice(1, len(t)),
    "chunks": chunks,
    "view chunks": lambda t: chunks(t, pa.string_view()),
    "stream": lambda t: caps.Stream([caps.utf8(t[:3]), caps.utf8([]), caps.utf8(t[3:])]),
}


@pytest.fixture(params=[1, 3, 4096], ids=lambda rows: f"{rows} rows")
def pieces(request):
    before = batch._piece_rows(request.param)
    yield request.param
    batch._piece_rows(before)


def single(scorer, a, b, cutoff=None, distance=False):
    """The single call, as cpdist stores it: NaN for a null, the fill below the cutoff."""
    if a is None or b is None:
        return math.nan
    score = scorer(a, b) if scorer is not FLOW else FLOW.compare(a, b)["score"]
    if cutoff is None:
        return score
    if distance:
        return score if score <= cutoff else cutoff + 1
    return score if score >= cutoff else 0.0


def outcome(call):
    try:
        got = call()
    except ValueError as error:
        return type(error), str(error), getattr(error, "__notes__", None)
    return got.dtype, got.tolist()


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("scorer", SCORERS, ids=lambda s: getattr(s, "__name__", "flow"))
def test_pieces_score_as_the_single_calls(pieces, kind, scorer):
    queries, choices = TEXTS, TEXTS[3:] + TEXTS[:3]
    got = outcome(lambda: batch.cpdist(KINDS[kind](queries), KINDS[kind](choices), scorer=scorer, workers=2))
    # Hamming and the flow's Hamming tier fail: the first failing pair's error.
    want = outcome(lambda: np.array([single(scorer, a, b) for a, b in zip(queries, choices)]))
    assert got[:2] == want[:2]


@pytest.mark.parametrize("kind", ["list", "chunks", "view chunks"])
@pytest.mark.parametrize("scorer, cutoff", [(JW, 0.8), (LEV, 3), (edit.indel_distance, 0), (tokens.ratio, 0.5)])
def test_cutoffs_and_skipped_nulls_in_pieces(pieces, kind, scorer, cutoff):
    queries = [None, *TEXTS, None, "kitten", None]
    choices = [*TEXTS[::-1], "sitting", None, "mitten", "x"]
    distance = scorer in (LEV, edit.indel_distance)
    got = batch.cpdist(KINDS[kind](queries), KINDS[kind](choices), scorer=scorer, score_cutoff=cutoff,
                       nulls="skip", workers=2)  # fmt: skip
    want = [single(scorer, a, b, cutoff, distance) for a, b in zip(queries, choices)]
    assert got.dtype == np.float64
    assert np.array_equal(got, np.array(want), equal_nan=True)


@settings(max_examples=60, deadline=None)
@given(
    pairs=st.lists(st.tuples(st.none() | text_strategy(12), st.none() | text_strategy(12)), max_size=12),
    rows=st.integers(1, 5),
    kind=st.sampled_from(sorted(KINDS)),
    scorer=st.sampled_from([JW, LEV, tokens.ratio, kivo.jaccard_trigram_similarity]),
    processor=st.sampled_from([None, kivo.clean_text]),
)
def test_any_pieces_give_the_whole_lists_scores(pairs, rows, kind, scorer, processor):
    queries, choices = [a for a, _ in pairs], [b for _, b in pairs]
    whole = batch.cpdist(queries, choices, scorer=scorer, processor=processor, nulls="skip")
    before = batch._piece_rows(rows)
    try:
        got = batch.cpdist(KINDS[kind](queries), KINDS[kind](choices), scorer=scorer, processor=processor,
                           nulls="skip", workers=2)  # fmt: skip
    finally:
        batch._piece_rows(before)
    assert np.array_equal(got, whole, equal_nan=True)
    process = processor or (lambda t: t)
    want = [single(scorer, process(a), process(b)) if None not in (a, b) else math.nan for a, b in pairs]
    assert np.array_equal(got, np.array(want, dtype=float), equal_nan=True)


LATER = ["alpha", "beta", "gamma", "delta", "epsilon", "zeta", "eta"]


@pytest.mark.parametrize(
    "queries, choices, message, note",
    [
        # A null in a later array of the choices, found while the queries are fine.
        (lambda: LATER, lambda: chunks([*LATER[:5], None, "x"]),
         "null at position 5 (nulls='skip' skips nulls)", "choices"),
        (lambda: LATER[:6] + [None], lambda: LATER, "null at position 6 (nulls='skip' skips nulls)", "queries"),
        (lambda: caps.Stream([caps.utf8(LATER[:4]), caps.utf8(["ok", b"a\xffb", "x"])]), lambda: LATER,
         "invalid UTF-8 in the string at position 5 (byte 1)", "queries"),
        (lambda: LATER, lambda: caps.Stream([caps.string_view(LATER[:6]), caps.string_view([b"\xc0\xaf"])]),
         "invalid UTF-8 in the string at position 6 (byte 0)", "choices"),
        # The queries' fault comes first, however late it lies.
        (lambda: caps.Stream([caps.utf8(LATER[:6]), caps.utf8([b"\xff"])]), lambda: [None] * 7,
         "invalid UTF-8 in the string at position 6 (byte 0)", "queries"),
    ],
)  # fmt: skip
def test_faults_in_later_pieces_are_raised_before_any_scoring(pieces, queries, choices, message, note):
    with pytest.raises(ValueError) as info:
        batch.cpdist(queries(), choices(), scorer=JW, workers=2)
    assert str(info.value) == message
    assert info.value.__notes__ == [f"while processing '{note}'"]


@pytest.mark.parametrize("scorer", [kivo.hamming_distance, FLOW], ids=["hamming", "flow"])
def test_the_first_failing_pair_is_the_whole_lists_first(pieces, scorer):
    queries = ["abc", "abd", "xyz", "abcd", "ab", "q"] * 3
    choices = ["abc", "abe", "xyw", "abc", "ab", "qq"] * 3
    before = batch._piece_rows(10**6)
    try:
        want = outcome(lambda: batch.cpdist(queries, choices, scorer=scorer))
    finally:
        batch._piece_rows(pieces)
    assert outcome(lambda: batch.cpdist(chunks(queries), chunks(choices), scorer=scorer, workers=2)) == want


def test_a_distance_dtype_is_checked_against_every_piece(pieces):
    # The longest text lies in the last piece; the dtype must hold it before any pair is scored.
    queries, choices = ["a"] * 9 + ["b" * 300], ["a"] * 10
    with pytest.raises(ValueError, match="dtype 'uint8' cannot hold distances up to 300"):
        batch.cpdist(chunks(queries), choices, scorer=LEV, dtype="uint8")
    assert batch.cpdist(chunks(queries), choices, scorer=LEV, dtype="uint8", score_cutoff=9).tolist() == [0] * 9 + [10]
    assert batch.cpdist(queries, choices, scorer=LEV, dtype="uint16").tolist() == [0] * 9 + [300]


def test_the_piece_rows_switch_is_private_and_positive():
    before = batch._piece_rows(0)  # at least one row
    try:
        assert batch._piece_rows(5) == 1
        assert batch.cpdist(["ab"] * 7, ["ab"] * 7, scorer=JW).tolist() == [1.0] * 7
    finally:
        batch._piece_rows(before)
