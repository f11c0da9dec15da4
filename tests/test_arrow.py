"""kivo.batch over Arrow columns, other containers and nulls: every input reads as the
same list of str would, and every broken export is refused, never read past."""

import math
import os
import sys

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import kivo
import kivo.batch as batch
import kivo.edit as edit
import kivo.phonetic as phonetic
import kivo.tokens as tokens
from strategies import texts as text_strategy

np = pytest.importorskip("numpy")
pa = pytest.importorskip("pyarrow")

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "fuzz"))
import arrow_capsules as caps  # noqa: E402
from batch_harness import SCORERS  # noqa: E402

sys.path.pop(0)

LEV, JW = kivo.levenshtein_distance, kivo.jaro_winkler_similarity
# Empty, ASCII, two- to four-byte characters, and past string_view's 12 inline bytes.
TEXTS = ["kitten", "", "sitting", "héllo wörld", "日本語のテキストです", "a", "Smith, John", "🙂 x 🙂",
         "the quick brown fox jumps", "kitten"]  # fmt: skip


class Items:
    """A Sequence that is neither a list nor a tuple."""

    def __init__(self, items):
        self._items = list(items)

    def __len__(self):
        return len(self._items)

    def __getitem__(self, i):
        return self._items[i]


def polars_series(items):
    pl = pytest.importorskip("polars")
    return pl.Series(items, dtype=pl.String)


def pandas_series(items, dtype):
    pd = pytest.importorskip("pandas")
    return pd.Series(items, dtype=dtype, index=[f"row{k}" for k in range(len(items))][::-1])


def numpy_strings(items):
    if not hasattr(np, "dtypes") or not hasattr(np.dtypes, "StringDType"):
        pytest.skip("NumPy has no StringDType")
    return np.array(items, dtype=np.dtypes.StringDType())


CONTAINERS = {
    "utf8": pa.array,
    "large_utf8": lambda t: pa.array(t, pa.large_string()),
    "string_view": lambda t: pa.array(t, pa.string_view()),
    "slice": lambda t: pa.array(["x", *t, "y"]).slice(1, len(t)),
    "large slice": lambda t: pa.array(["xyz", "", *t], pa.large_string()).slice(2, len(t)),
    "chunks": lambda t: pa.chunked_array([t[:1], [], t[1:4], t[4:]], pa.string()),
    "view chunks": lambda t: pa.chunked_array([t[:3], t[3:]], pa.string_view()),
    "table column": lambda t: pa.table({"name": t}).column("name"),
    "one-column table": lambda t: pa.table({"name": pa.chunked_array([t[:3], t[3:]])}),
    "record batch slice": lambda t: pa.record_batch({"name": ["x", *t]}).slice(1),
    "duckdb result": lambda t: pytest.importorskip("duckdb").sql(
        "SELECT name FROM (SELECT unnest($t) AS name, generate_subscripts($t, 1) AS k) ORDER BY k",
        params={"t": t}),
    "hand utf8": lambda t: caps.utf8(t, offset=3),
    "hand large": lambda t: caps.utf8(t, large=True),
    "hand view": caps.string_view,
    "hand stream": lambda t: caps.Stream([caps.utf8(t[:2]), caps.utf8([]), caps.utf8(t[2:])]),
    "polars": polars_series,
    "pandas arrow": lambda t: pandas_series(t, "string[pyarrow]"),
    "pandas object": lambda t: pandas_series(t, object),
    "numpy": np.array,
    "numpy StringDType": numpy_strings,
    "tuple": tuple,
    "sequence": Items,
}

CALLS = {
    "cdist": lambda q, c, s: batch.cdist(q, c, scorer=s, workers=2),
    "cpdist": lambda q, c, s: batch.cpdist(q, c, scorer=s),
    "topk": lambda q, c, s: batch.topk(q, c, scorer=s, k=3),
    "pairs": lambda q, c, s: batch.pairs(q, c, scorer=s, score_cutoff=None),
    "self pairs": lambda q, c, s: batch.pairs(q, scorer=s, score_cutoff=None),
    "extract": lambda q, c, s: batch.extract("kitten", c, scorer=s, limit=None),
    "extract_one": lambda q, c, s: batch.extract_one("smith john", c, scorer=s),
    "minhash_signatures": lambda q, c, s: batch.minhash_signatures(q, 2, 8),
    "encode": lambda q, c, s: batch.encode(q, encoder=phonetic.double_metaphone),
}


def outcome(call):
    """The result as plain values, or the error's type and message."""
    try:
        got = call()
    except (TypeError, ValueError) as error:
        return type(error), str(error)
    if isinstance(got, tuple) and got and isinstance(got[0], np.ndarray):
        return tuple(a.tolist() for a in got)
    return got.tolist() if isinstance(got, np.ndarray) else got


@pytest.mark.parametrize("container", CONTAINERS)
@pytest.mark.parametrize("call", CALLS)
def test_every_container_reads_as_the_list(call, container):
    made = CONTAINERS[container]
    want = outcome(lambda: CALLS[call](TEXTS, TEXTS[::-1], tokens.token_sort_ratio))
    got = outcome(lambda: CALLS[call](made(TEXTS), made(TEXTS[::-1]), tokens.token_sort_ratio))
    if container.startswith("pandas") and call.startswith("extract"):
        # A Series is a mapping to extract: its keys are the index labels.
        position = {f"row{k}": len(TEXTS) - 1 - k for k in range(len(TEXTS))}
        got = [(t, s, position[key]) for t, s, key in (got if call == "extract" else [got])]
        got = got if call == "extract" else got[0]
    assert got == want


@pytest.mark.parametrize("scorer", SCORERS, ids=lambda s: getattr(s, "__name__", "flow"))
@pytest.mark.parametrize("container", ["utf8", "string_view", "chunks", "hand view"])
def test_every_scorer_reads_arrow_as_lists(scorer, container):
    made = CONTAINERS[container]
    for queries, choices in (TEXTS, TEXTS[::-1]), (["abc", "abd"], ["abc", "xbc", "ab€"]):
        want = outcome(lambda: batch.cdist(queries, choices, scorer=scorer))
        assert outcome(lambda: batch.cdist(made(queries), made(choices), scorer=scorer)) == want
        want = outcome(lambda: batch.cpdist(queries, choices[::-1][: len(queries)], scorer=scorer))
        got = outcome(lambda: batch.cpdist(made(queries), made(choices[::-1][: len(queries)]), scorer=scorer))
        assert got == want


@pytest.mark.parametrize("container", ["utf8", "string_view", "polars", "hand stream"])
def test_empty_columns(container):
    empty = CONTAINERS[container]([])
    assert batch.cdist(empty, ["a"], scorer=LEV).shape == (0, 1)
    assert batch.pairs(empty, scorer=LEV, score_cutoff=3)[0].size == 0
    assert batch.extract("a", CONTAINERS[container]([]), scorer=LEV) == []


def test_a_column_of_the_null_type_holds_only_nulls():
    column = pa.array([None, None])
    assert column.type == pa.null()
    with pytest.raises(ValueError, match="null at position 0"):
        batch.cdist(column, ["a"], scorer=LEV)
    assert np.isnan(batch.cdist(column, ["a"], scorer=LEV, nulls="skip")).all()


@settings(max_examples=60)
@given(items=st.lists(text_strategy(max_size=20), max_size=12), data=st.data())
def test_random_slices_and_chunks_read_as_lists(items, data):
    cuts = sorted(data.draw(st.lists(st.integers(0, len(items)), max_size=4)))
    chunks = [items[a:b] for a, b in zip([0, *cuts], [*cuts, len(items)])]
    kind = data.draw(st.sampled_from([pa.string(), pa.large_string(), pa.string_view()]))
    start = data.draw(st.integers(0, 3))
    column = pa.chunked_array([pa.array(["pad"] * start + c, kind).slice(start) for c in chunks], kind)
    scorer = data.draw(st.sampled_from([LEV, JW, edit.osa_distance, kivo.jaccard_bigram_similarity]))
    assert batch.cdist(column, items[::-1], scorer=scorer).tolist() == batch.cdist(items, items[::-1], scorer=scorer).tolist()


def test_the_column_outlives_no_reference():
    column, chunked = pa.array(TEXTS), pa.chunked_array([TEXTS])
    counts = sys.getrefcount(column), sys.getrefcount(chunked)
    for _ in range(3):
        batch.cdist(column, chunked, scorer=LEV)
        with pytest.raises(ValueError):
            batch.cdist(pa.array(["a", None]), chunked, scorer=LEV)
    assert (sys.getrefcount(column), sys.getrefcount(chunked)) == counts


def test_a_stream_releases_every_array_it_handed_over():
    stream = caps.Stream([caps.utf8(["a", "b"]), caps.utf8(["c"]), caps.utf8(["d"])])
    assert batch.cdist(stream, ["a"], scorer=LEV).ravel().tolist() == [0, 1, 1, 1]
    assert stream.releases() == 3
    failing = caps.Stream([caps.utf8(["a"]), caps.utf8(["b"]), caps.utf8(["c"])], fail_at=2)
    with pytest.raises(ValueError, match=r"the Arrow stream failed \(error 22\): a broken producer"):
        batch.cdist(failing, ["a"], scorer=LEV)
    assert failing.releases() == 2
    broken = caps.Stream([caps.utf8(["a"]), caps.utf8([b"\xff"]), caps.utf8(["c"])])
    with pytest.raises(ValueError, match="position 1"):
        batch.cdist(broken, ["a"], scorer=LEV)
    assert broken.releases() == 2


def released_array():
    column = caps.utf8(["a"])
    array = column.array
    column.array = lambda: (lambda a: (setattr(a, "release", caps.RELEASE_ARRAY()), a)[1])(array())
    return column


class NotCapsules:
    def __arrow_c_array__(self, requested_schema=None):
        return 1, 2


BROKEN = [
    (lambda: caps.Column("i", 1, [None, b"\0" * 4]), TypeError,
     "an Arrow column of format 'i' is not a string column (utf8, large_utf8 or string_view)"),
    (lambda: caps.Stream([], format="+s"), TypeError, "format '+s' is not a string column"),
    (lambda: pa.table({"a": ["x"], "b": ["y"]}), TypeError,
     "an Arrow table of 2 columns is not a string column: pass one of its columns"),
    (lambda: pa.table({"a": [1]}), TypeError, "format '+s' is not a string column"),
    (lambda: caps.utf8(["ab", "c"], offsets=[0, 2, 1]), ValueError,
     "malformed Arrow array: the string at position 1 has a negative length"),
    (lambda: caps.utf8(["ab"], offsets=[-1, 2]), ValueError, "its first offset is negative"),
    (lambda: caps.Column("u", -1, [None, b"\0" * 4, b""]), ValueError, "its length is negative"),
    (lambda: caps.Column("u", 1, [None, b"\0" * 8, b""], offset=-1), ValueError,
     "its offset is negative"),
    (lambda: caps.Column("u", 1, [None, b"\0" * 8]), ValueError, "a utf8 array needs 3 buffers, not 2"),
    (lambda: caps.Column("U", 1, [None, None, b""]), ValueError, "its offsets buffer is missing"),
    (lambda: caps.Column("vu", 1, [None, b"\0" * 16]), ValueError, "needs at least 3 buffers"),
    (lambda: caps.utf8(["ok", b"a\xffb"]), ValueError, "invalid UTF-8 in the string at position 1 (byte 1)"),
    (lambda: caps.utf8([b"\xed\xa0\x80"], large=True), ValueError, "position 0 (byte 0)"),  # a surrogate
    (lambda: caps.utf8([b"\xc3", b"\xa9"]), ValueError, "position 0 (byte 0)"),  # valid only together
    (lambda: caps.utf8([b"\xf4\x90\x80\x80"]), ValueError, "position 0"),  # past U+10FFFF
    (lambda: caps.string_view(["ok", b"\xc0\xaf"]), ValueError, "invalid UTF-8 in the string at position 1"),
    (lambda: caps.string_view([""], views=[(20, 0, 100)]), ValueError,
     "the string at position 0 lies outside its buffer"),
    (lambda: caps.string_view([""], views=[(20, 0, -4)]), ValueError, "lies outside its buffer"),
    (lambda: caps.string_view([""], views=[(20, 7, 0)]), ValueError, "names a buffer it does not have"),
    (lambda: caps.string_view([""], views=[(-3, 0, 0)]), ValueError, "has a negative length"),
    (lambda: caps.Stream([caps.utf8(["a"])], fail_at=-1), ValueError, "the Arrow stream failed (error 5)"),
    (released_array, ValueError, "malformed Arrow array: it was already released"),
    (NotCapsules, TypeError, "expected a PyCapsule named 'arrow_schema', not 'int'"),
]  # fmt: skip


@pytest.mark.parametrize("make, error, message", BROKEN)
@pytest.mark.parametrize("call", ["cdist", "encode", "extract"])
def test_broken_exports_are_refused(make, error, message, call):
    column = make()
    run = {
        "cdist": lambda: batch.cdist(["a"], column, scorer=LEV),
        "encode": lambda: batch.encode(column, encoder=phonetic.soundex),
        "extract": lambda: batch.extract("a", column, scorer=JW),
    }[call]
    with pytest.raises(error) as info:
        run()
    assert message in str(info.value)
    assert info.value.__notes__ == ["while processing '" + ("texts" if call == "encode" else "choices") + "'"]


def test_a_null_hiding_invalid_bytes_is_never_read():
    column = caps.utf8([b"ab", b"\xff", "c"])
    column.raw[0] = caps.ctypes.create_string_buffer(b"\x05", 1)  # position 1 is null
    assert batch.cdist(column, ["c"], scorer=LEV, nulls="skip")[:, 0].tolist()[::2] == [2.0, 0.0]


# Nulls ------------------------------------------------------------------------------------

NULLS = {
    "list": lambda t: list(t),
    "arrow": pa.array,
    "view": lambda t: pa.array(t, pa.string_view()),
    "chunks": lambda t: pa.chunked_array([t[:2], t[2:]], pa.string()),
    "pandas": lambda t: pandas_series([math.nan if x is None else x for x in t], object),
    "polars": polars_series,
}


@pytest.mark.parametrize("kind", NULLS)
@pytest.mark.parametrize(
    "call, note",
    [
        (lambda x: batch.cdist(["a"], x, scorer=LEV), "choices"),
        (lambda x: batch.cpdist(x, ["a"] * 4, scorer=LEV), "queries"),
        (lambda x: batch.topk(x, ["a"], scorer=LEV), "queries"),
        (lambda x: batch.pairs(x, scorer=LEV, score_cutoff=1), "texts"),
        (lambda x: batch.extract("a", x, scorer=LEV), "choices"),
        (lambda x: batch.minhash_signatures(x, 2, 4), "texts"),
        (lambda x: batch.encode(x, encoder=phonetic.soundex), "texts"),
    ],
)
def test_a_null_is_refused_naming_its_position(kind, call, note):
    with pytest.raises(ValueError) as info:
        call(NULLS[kind](["a", "b", None, "c"]))
    assert str(info.value).startswith("null at position 2")
    assert info.value.__notes__ == [f"while processing '{note}'"]


def test_a_null_query_is_refused_unless_skipped():
    with pytest.raises(ValueError, match="null at position 0") as info:
        batch.extract_one(None, ["a"], scorer=LEV)
    assert info.value.__notes__ == ["while processing 'query'"]
    assert batch.extract(None, ["a"], scorer=LEV, nulls="skip") == []
    assert batch.extract_one(None, ["a"], scorer=LEV, nulls="skip") is None


def single(scorer, a, b):
    return math.nan if a is None or b is None else scorer(a, b)


@settings(max_examples=40)
@given(
    queries=st.lists(st.none() | st.sampled_from(TEXTS), max_size=6),
    choices=st.lists(st.none() | st.sampled_from(TEXTS), max_size=6),
    kind=st.sampled_from(["list", "arrow", "view", "chunks"]),
    scorer=st.sampled_from([LEV, JW, tokens.ratio]),
)
def test_skipped_nulls_against_the_single_calls(queries, choices, kind, scorer):
    q, c = NULLS[kind](queries), NULLS[kind](choices)
    matrix = [[single(scorer, a, b) for b in choices] for a in queries]
    got = batch.cdist(q, c, scorer=scorer, nulls="skip")
    assert got.dtype == np.float64 and got.shape == (len(queries), len(choices))
    assert np.array_equal(got, np.array(matrix, dtype=float).reshape(got.shape), equal_nan=True)
    n = min(len(queries), len(choices))
    got = batch.cpdist(NULLS[kind](queries[:n]), NULLS[kind](choices[:n]), scorer=scorer, nulls="skip")
    assert np.array_equal(got, np.array([matrix[i][i] for i in range(n)], dtype=float), equal_nan=True)
    # The best, ties to the lower index, never a null choice; -1 rows for a null query.
    sign = 1 if scorer is LEV else -1
    indices, scores = batch.topk(q, c, scorer=scorer, k=2, nulls="skip")
    for row, a in enumerate(queries):
        best = [] if a is None else sorted((sign * s, j) for j, s in enumerate(matrix[row]) if not math.isnan(s))[:2]
        assert indices[row].tolist() == [j for _, j in best] + [-1] * (2 - len(best))
        assert scores[row].tolist() == [matrix[row][j] for _, j in best] + [-1] * (2 - len(best))
    i, j, s = batch.pairs(q, c, scorer=scorer, score_cutoff=None, nulls="skip")
    want = [(a, b, matrix[a][b]) for a in range(len(queries)) for b in range(len(choices)) if not math.isnan(matrix[a][b])]
    assert list(zip(i.tolist(), j.tolist(), s.tolist())) == want
    i, j, s = batch.pairs(q, scorer=scorer, score_cutoff=None, nulls="skip")
    selfs = [(a, b) for a in range(len(queries)) for b in range(a + 1, len(queries)) if None not in (queries[a], queries[b])]
    assert list(zip(i.tolist(), j.tolist())) == selfs
    if queries and queries[0] is not None:
        found = batch.extract(queries[0], c, scorer=scorer, limit=None, nulls="skip")
        assert [(key, score) for _, score, key in found] == [(j, matrix[0][j]) for _, j in sorted(
            (sign * s, j) for j, s in enumerate(matrix[0]) if not math.isnan(s))]  # fmt: skip
        assert all(choice == choices[key] for choice, _, key in found)


def test_skipping_nulls_needs_a_float_dtype():
    assert batch.cdist(["a", None], ["ab"], scorer=LEV, nulls="skip", dtype="float32").dtype == np.float32
    with pytest.raises(ValueError, match="nulls='skip' stores NaN, which dtype 'int64' cannot hold") as info:
        batch.cpdist(["a"], ["b"], scorer=LEV, nulls="skip", dtype="int64")
    assert info.value.__notes__ == ["while processing 'dtype'"]


@pytest.mark.parametrize("value, error, message", [
    ("ignore", ValueError, "nulls must be 'error' or 'skip', not 'ignore'"),
    (None, TypeError, "'None' is not an instance of 'str'"),
])  # fmt: skip
def test_nulls_takes_error_or_skip(value, error, message):
    for call in (batch.cdist, batch.topk, batch.pairs):
        with pytest.raises(error, match=message):
            call(["a"], ["b"], scorer=LEV, nulls=value, score_cutoff=None)


def test_kivo_itself_still_refuses_none_as_a_type():
    with pytest.raises(TypeError):
        kivo.levenshtein_distance(None, "a")
    with pytest.raises(TypeError):
        kivo.Preprocessor().with_stopwords(["a", None])
