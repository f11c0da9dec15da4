"""What kivo.batch refuses before it computes or allocates: results no machine
could hold, dtypes that cannot hold the scores exactly, cutoffs no score can
meet, and result buffers that are not the arrays it asked numpy.empty for."""

import os
import sys

import pytest

import kivo

np = pytest.importorskip("numpy")
batch = pytest.importorskip("kivo.batch")

LEV, HAMMING, SIMILARITY = kivo.levenshtein_distance, kivo.hamming_distance, kivo.levenshtein_similarity
MEMORY = os.sysconf("SC_PHYS_PAGES") * os.sysconf("SC_PAGE_SIZE")
HALF = MEMORY // 2


def over_half(entry_bytes):
    """The smallest count of entries of this size past half the memory."""
    return HALF // entry_bytes + 1


def side(entry_bytes):
    """The smallest n for which an n x n result is past half the memory."""
    n = int((HALF // entry_bytes) ** 0.5)
    while n * n * entry_bytes <= HALF:
        n += 1
    return n


@pytest.fixture
def no_allocation(monkeypatch):
    def refuse(*args, **kwargs):
        raise AssertionError("numpy.empty was called")

    monkeypatch.setattr(np, "empty", refuse)


def raised(call):
    with pytest.raises(BaseException) as info:
        call()
    return type(info.value), str(info.value), getattr(info.value, "__notes__", [])


N, N32, K = side(8), side(4), over_half(16)
ROWS = over_half(8 * 1200)


@pytest.mark.parametrize(
    "call, message, note",
    [
        (lambda: batch.cdist(["a"] * N, ["b"] * N, scorer=LEV), f"a result of shape ({N}, {N}) needs {N * N * 8} bytes", None),
        (lambda: batch.cdist(["a"] * N32, ["b"] * N32, scorer=SIMILARITY, dtype="float32"), f"a result of shape ({N32}, {N32}) needs {N32 * N32 * 4} bytes", None),
        (lambda: batch.topk(["a"], ["b"], scorer=LEV, k=K), f"2 results of shape (1, {K}) need {K * 16} bytes", "k"),
        (lambda: batch.topk(["a"], ["b"], scorer=LEV, k=2**62), f"2 results of shape (1, {2**62}) are too large for any array", "k"),
        (lambda: batch.topk([], ["b"], scorer=LEV, k=2**63), f"2 results of shape (0, {2**63}) are too large for any array", "k"),
        (lambda: batch.minhash_signatures(["abc"] * ROWS, 3, 1200), f"a result of shape ({ROWS}, 1200) needs {ROWS * 1200 * 8} bytes", "num_hashes"),
        (lambda: batch.minhash_signatures([], 3, 2**63), f"a result of shape (0, {2**63}) is too large for any array", "num_hashes"),
        # What the single call says of a signature too long for memory.
        (lambda: batch.minhash_signatures(["abc"], 3, 2**40), f"num_hashes {2**40} is too large to fit in memory", "num_hashes"),
    ],
    ids=["cdist", "cdist-float32", "topk", "topk-overflow", "topk-beyond-ssize_t", "minhash_signatures",
         "minhash_signatures-beyond-ssize_t", "minhash_signatures-one-signature"],
)  # fmt: skip
def test_results_no_machine_could_hold_are_refused_before_allocation(no_allocation, call, message, note):
    error, text, notes = raised(call)
    assert error is MemoryError and text.startswith(message)
    assert notes == ([f"while processing '{note}'"] if note else [])


@pytest.mark.parametrize("texts", [["abc"], ["", "abc"], ["naïve"] * 3])
@pytest.mark.parametrize("num_hashes", [4, 10**12, 2**63])
@pytest.mark.parametrize("processor", [None, kivo.clean_text])
def test_minhash_signatures_raise_the_first_texts_error_before_sizing(texts, num_hashes, processor):
    first = processor(texts[0]) if processor else texts[0]
    want = raised(lambda: kivo.minhash_signature(first, 0, num_hashes))
    assert raised(lambda: batch.minhash_signatures(texts, 0, num_hashes, processor=processor)) == want
    assert want[:2] == (kivo.PanicException, "window size must be non-zero")


@pytest.mark.parametrize("dtype", [("i8", (2,)), ("f8", (1,)), ("i8", 2), [("a", "i8")], [("a", "f8"), ("b", "f8")]])
@pytest.mark.parametrize("call", [batch.cdist, batch.cpdist])
def test_subarray_and_structured_dtypes_are_refused(call, dtype):
    error, text, notes = raised(lambda: call(["ab"], ["b"], scorer=LEV, dtype=dtype))
    assert error is TypeError and notes == ["while processing 'dtype'"]
    assert text == f"dtype must be a native float or integer type, not '{np.dtype(dtype)}'"


def test_an_empty_tuple_dtype_is_numpys_own_error():
    with pytest.raises(TypeError) as want:
        np.dtype(())
    error, text, notes = raised(lambda: batch.cdist(["a"], ["b"], scorer=LEV, dtype=()))
    assert (error, text, notes) == (TypeError, str(want.value), ["while processing 'dtype'"])


@pytest.mark.parametrize("dtype, largest", [("uint8", 255), ("int16", 2**15 - 1), ("float32", 2**24)])
@pytest.mark.parametrize("call", [batch.cdist, batch.cpdist])
def test_dtypes_hold_every_distance_exactly_or_are_refused(call, dtype, largest):
    got = call(["a" * largest], ["b" * largest], scorer=HAMMING, dtype=dtype)
    assert got.dtype == dtype and got.ravel().tolist() == [largest]
    long = ["a" * (largest + 1)], ["b" * (largest + 1)]
    error, text, notes = raised(lambda: call(*long, scorer=HAMMING, dtype=dtype))
    assert (error, text) == (ValueError, f"dtype '{dtype}' cannot hold distances up to {largest + 1}")
    assert notes == ["while processing 'dtype'"]
    # A cutoff below the bound keeps every stored value within it.
    assert call(*long, scorer=HAMMING, dtype=dtype, score_cutoff=5).ravel().tolist() == [6]


@pytest.mark.parametrize("nan", [float("nan"), np.float32("nan"), -np.nan])
@pytest.mark.parametrize(
    "call",
    [
        lambda cut: batch.cdist(["a"], ["a"], scorer=SIMILARITY, score_cutoff=cut),
        lambda cut: batch.cpdist(["a"], ["a"], scorer=SIMILARITY, score_cutoff=cut),
        lambda cut: batch.topk(["a"], ["a"], scorer=SIMILARITY, score_cutoff=cut, k=0),
        lambda cut: batch.pairs(["a", "a"], scorer=kivo.KivoFlow(), score_cutoff=cut),
    ],
)
def test_a_nan_cutoff_is_refused(call, nan):
    error, text, notes = raised(lambda: call(nan))
    assert (error, text, notes) == (ValueError, "score_cutoff must be a number, not NaN", ["while processing 'score_cutoff'"])


@pytest.mark.parametrize(
    "call, note",
    [
        (lambda: batch.cdist(["a"], ["b"], scorer=len), "scorer"),
        (lambda: batch.topk(["a"], ["b"], scorer=LEV, processor=str.lower), "processor"),
        (lambda: batch.minhash_signatures(["a"], 2, 3, processor=len), "processor"),
        (lambda: batch.pairs(["a"], scorer=LEV, score_cutoff=1, workers=0), "workers"),
        (lambda: batch.cpdist(["a"], ["b"], scorer=SIMILARITY, dtype="int8"), "dtype"),
    ],
)  # fmt: skip
def test_every_argument_error_names_its_argument(call, note):
    assert raised(call)[2] == [f"while processing '{note}'"]


def other_kind(dtype):
    return np.dtype({"i": "u", "u": "i", "f": "i"}[dtype.kind] + str(dtype.itemsize))


REAL_EMPTY = np.empty
FAKE_EMPTIES = {
    "smaller": lambda shape, dtype: REAL_EMPTY(tuple(max(n - 1, 0) for n in shape), dtype),
    "larger": lambda shape, dtype: REAL_EMPTY(tuple(n + 1 for n in shape), dtype),
    "other-dtype": lambda shape, dtype: REAL_EMPTY(shape, other_kind(np.dtype(dtype))),
    "byte-swapped": lambda shape, dtype: REAL_EMPTY(shape, np.dtype(dtype).newbyteorder()),
    "other-shape": lambda shape, dtype: REAL_EMPTY(shape + (1,), dtype),
    "strided": lambda shape, dtype: REAL_EMPTY(shape + (2,), dtype)[..., 0],
    "read-only": lambda shape, dtype: np.broadcast_to(REAL_EMPTY(1, dtype), shape),
    "bytes": lambda shape, dtype: bytearray(int(np.prod(shape)) * np.dtype(dtype).itemsize),
    "not-a-buffer": lambda shape, dtype: [0] * int(np.prod(shape)),
}
CALLS = {
    "cdist": lambda: batch.cdist(["ab", "c"], ["a", "b", "c"], scorer=LEV, dtype="int32"),
    "cpdist": lambda: batch.cpdist(["ab", "c"], ["a", "b"], scorer=SIMILARITY),
    "topk": lambda: batch.topk(["ab", "c"], ["a", "b", "c"], scorer=LEV, k=2),
    "pairs": lambda: batch.pairs(["ab", "a", "b"], scorer=LEV, score_cutoff=1),
    "minhash_signatures": lambda: batch.minhash_signatures(["abcd", "bcd"], 2, 3),
    "lsh_pairs": lambda: batch.lsh_pairs(np.ones((3, 4), np.uint64), bands=2, rows=2),
}


@pytest.mark.parametrize("fake", FAKE_EMPTIES)
@pytest.mark.parametrize("name", CALLS)
def test_a_replaced_numpy_empty_is_never_written_past(monkeypatch, name, fake):
    result = CALLS[name]()
    assert all(a.size for a in (result if isinstance(result, tuple) else [result]))  # something to write
    monkeypatch.setattr(np, "empty", FAKE_EMPTIES[fake])
    error, text, _ = raised(CALLS[name])
    assert error is TypeError
    assert text.startswith("numpy.empty returned a '") and "', not a writable C-contiguous " in text


@pytest.mark.parametrize("fake", ["smaller", "read-only"])
def test_a_refused_result_buffer_is_let_go(monkeypatch, fake):
    made = FAKE_EMPTIES[fake]((2, 3), np.int64)
    monkeypatch.setattr(np, "empty", lambda shape, dtype: made)
    before = sys.getrefcount(made)
    for _ in range(100):
        with pytest.raises(TypeError):
            batch.cdist(["ab", "c"], ["a", "b", "c"], scorer=LEV)
    assert sys.getrefcount(made) == before
