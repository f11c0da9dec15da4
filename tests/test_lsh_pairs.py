"""kivo.batch.lsh_pairs under hostile input: exact against a model of
banding for every integer dtype and input form, every other dtype refused by
name, negative and too large values refused at their position, memory
bounded by the result on inputs that collide everywhere, and Ctrl-C inside
a large bucket."""

import os
import signal
import subprocess
import sys
import textwrap
import time

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

np = pytest.importorskip("numpy")
batch = pytest.importorskip("kivo.batch")

NOTE = ["while processing 'signatures'"]
PROPERTY = settings(deadline=None, max_examples=150, suppress_health_check=[HealthCheck.too_slow])
SANITIZED = "ASAN_OPTIONS" in os.environ

INTEGER_DTYPES = [f"{order}{kind}{size}" for kind in "iu" for size in (1, 2, 4, 8) for order in "<>"]
OTHER_DTYPES = ["bool", "float16", "float32", "float64", "longdouble", "complex64", "complex128",
                "datetime64[ns]", "timedelta64[s]", "U3", "S3", "object", "V8",
                [("a", "<u8"), ("b", "<u8")]]  # fmt: skip


def model(sigs, bands, rows):
    n = len(sigs)
    return [(a, b) for a in range(n) for b in range(a + 1, n)
            if any(sigs[a][k : k + rows] == sigs[b][k : k + rows] for k in range(0, bands * rows, rows))]  # fmt: skip


def pairs(result):
    i, j = result
    assert i.dtype == j.dtype == np.int64 and i.shape == j.shape and i.ndim == 1
    return list(zip(i.tolist(), j.tolist()))


def raised(error_class, call):
    with pytest.raises(error_class) as info:
        call()
    assert getattr(info.value, "__notes__", None) == NOTE, info.value
    return str(info.value)


def palette(dtype):
    """Values a dtype holds, its extremes among them."""
    info = np.iinfo(np.dtype(dtype))
    return [0, 1, 2, int(info.max), int(info.max) - 1]


FORMS = {
    "array": lambda values, dtype: np.array(values, dtype=dtype),
    "fortran": lambda values, dtype: np.asfortranarray(np.array(values, dtype=dtype)),
    "strided": lambda values, dtype: np.repeat(np.array(values, dtype=dtype), 2, axis=1)[:, ::2],
    "reversed": lambda values, dtype: np.array([r[::-1] for r in values[::-1]], dtype=dtype)[::-1, ::-1],
    "list": lambda values, dtype: values,
    "tuple": lambda values, dtype: tuple(tuple(row) for row in values),
    "rows": lambda values, dtype: [np.array(row, dtype=dtype) for row in values],
    "scalars": lambda values, dtype: [[np.dtype(dtype).type(v) for v in row] for row in values],
}


@st.composite
def cases(draw):
    bands, rows = draw(st.integers(1, 5)), draw(st.integers(1, 3))
    width = bands * rows + draw(st.integers(0, 2))
    dtype = draw(st.sampled_from(INTEGER_DTYPES))
    values = palette(dtype)[: draw(st.integers(1, 5))]
    # Few values and up to 40 texts: buckets of every size, repeated across bands.
    count = draw(st.integers(0, 40))
    element = st.sampled_from(values)
    sigs = draw(st.lists(st.lists(element, min_size=width, max_size=width), min_size=count, max_size=count))
    return sigs, dtype, bands, rows


@PROPERTY
@given(case=cases(), form=st.sampled_from(sorted(FORMS)), workers=st.sampled_from([1, 2, -1]))
def test_pairs_equal_a_model_of_banding_for_every_integer_dtype_and_form(case, form, workers):
    sigs, dtype, bands, rows = case
    if not sigs and form not in ("list", "tuple", "rows", "scalars"):
        sigs_arg = np.zeros((0, bands * rows), dtype=dtype)
    else:
        sigs_arg = FORMS[form](sigs, dtype)
    got = pairs(batch.lsh_pairs(sigs_arg, bands=bands, rows=rows, workers=workers))
    assert got == model(sigs, bands, rows)


@pytest.mark.parametrize("dtype", INTEGER_DTYPES)
def test_every_integer_dtype_is_read_exactly(dtype):
    rng = np.random.default_rng(5)
    info = np.iinfo(np.dtype(dtype))
    values = rng.integers(0, int(info.max), size=(300, 8), endpoint=True, dtype=np.uint64)
    values[::3] = values[1::3][: len(values[::3])]  # copies, and values either side of 2**k
    values[::7, 0] = int(info.max)
    values[::5, 3] = int(info.max) - 1
    want = pairs(batch.lsh_pairs(values, bands=4, rows=2))
    assert len(want) >= 100
    same = values.astype(dtype)
    assert same.tolist() == values.tolist()
    assert pairs(batch.lsh_pairs(same, bands=4, rows=2, workers=2)) == want
    assert pairs(batch.lsh_pairs(same.tolist(), bands=4, rows=2)) == want


def test_values_that_differ_only_beyond_a_cast_stay_apart():
    # Floats once truncated to the same integers, and int64 values once
    # wrapped onto the uint64 ones: never the same signature now.
    big = np.array([[2**64 - 1, 5], [2**63, 6]], dtype=np.uint64)
    assert pairs(batch.lsh_pairs(big, bands=1, rows=1)) == []
    assert pairs(batch.lsh_pairs(big.tolist(), bands=1, rows=1)) == []
    assert pairs(batch.lsh_pairs([[2**64 - 1], [2**64 - 1]], bands=1, rows=1)) == [(0, 1)]
    message = raised(TypeError, lambda: batch.lsh_pairs([[1.2, 5.0], [1.7, 6.0]], bands=1, rows=1))
    assert message == "signatures[0, 0] is a float, not an int"


@pytest.mark.parametrize("dtype", OTHER_DTYPES, ids=str)
def test_every_other_dtype_is_refused_by_name(dtype):
    array = np.zeros((3, 4), dtype=dtype)
    message = raised(TypeError, lambda: batch.lsh_pairs(array, bands=2, rows=2))
    assert message == f"signatures must have an integer dtype (signed or unsigned), not {array.dtype}"
    # Any shape: the dtype is named first.
    raised(TypeError, lambda: batch.lsh_pairs(np.zeros(3, dtype=dtype), bands=1, rows=1))
    if array.dtype.kind != "V":
        message = raised(TypeError, lambda: batch.lsh_pairs([array[0], array[1]], bands=1, rows=1))
        assert message == f"signatures[0] must have an integer dtype (signed or unsigned), not {array.dtype}"


@pytest.mark.parametrize("special", [np.nan, np.inf, -np.inf, 1.0, -0.0])
def test_special_floats_are_refused_with_their_dtype(special):
    array = np.array([[special, 5.0], [special, 6.0]])
    message = raised(TypeError, lambda: batch.lsh_pairs(array, bands=1, rows=1))
    assert message.endswith("not float64")
    message = raised(TypeError, lambda: batch.lsh_pairs(array.tolist(), bands=1, rows=1))
    assert message == "signatures[0, 0] is a float, not an int"


@pytest.mark.parametrize("dtype", [d for d in INTEGER_DTYPES if "i" in d])
@pytest.mark.parametrize("layout", ["C", "F", "list", "rows"])
def test_negative_values_are_refused_at_their_first_position(dtype, layout):
    info = np.iinfo(np.dtype(dtype))
    values = np.arange(24, dtype=np.int64).reshape(4, 6)
    values[2, 4], values[3, 1], values[2, 5] = -3, int(info.min), -1
    array = values.astype(dtype, order=layout if layout in "CF" else "C")
    arg = {"list": array.tolist(), "rows": list(array)}.get(layout, array)
    message = raised(ValueError, lambda: batch.lsh_pairs(arg, bands=2, rows=3))
    assert message == "signatures[2, 4] is -3: signature values must be non-negative"


def test_list_values_must_be_ints_from_0_to_2_64_minus_1():
    cases = [
        ([[0, 2**64]], ValueError, "signatures[0, 1] is 18446744073709551616: signature values must be below 2**64"),
        ([[0, 1], [2**70, 1]], ValueError, "signatures[1, 0] is 1180591620717411303424: signature values must be below 2**64"),
        ([[0, 1], [1, 2**10000]], ValueError, "signatures[1, 1] is a number beyond 2**64: signature values must be below 2**64"),
        ([[0, 1], [1, -1]], ValueError, "signatures[1, 1] is -1: signature values must be non-negative"),
        ([[-(2**10000), 1]], ValueError, "signatures[0, 0] is a negative number: signature values must be non-negative"),
        ([[np.int64(-5), 1]], ValueError, "signatures[0, 0] is -5: signature values must be non-negative"),
        ([(1, True)], TypeError, "signatures[0, 1] is a bool, not an int"),
        ([[1, np.True_]], TypeError, "signatures[0, 1] is a bool, not an int"),
        ([[1, None]], TypeError, "signatures[0, 1] is None, not an int"),
        ([[1, "2"]], TypeError, "signatures[0, 1] is a str, not an int"),
        ([[1, np.float64(2)]], TypeError, "signatures[0, 1] is a float64, not an int"),
        ([[1, 2], [1j, 2]], TypeError, "signatures[1, 0] is a complex, not an int"),
        ([[1, 2], "ab"], TypeError, "signatures[1] must be a sequence of ints, not a str"),
        ([[1, 2], b"ab"], TypeError, "signatures[1] must be a sequence of ints, not a bytes"),
        ([[1, 2], 3], TypeError, "signatures[1] must be a sequence of ints, not an int"),
        ([[1, 2], None], TypeError, "signatures[1] must be a sequence of ints, not None"),
        ([[1, 2], {1, 2}], TypeError, "signatures[1] must be a sequence of ints, not a set"),
        ([[1, 2], [1, 2, 3]], ValueError, "signatures[1] has 3 values and signatures[0] 2: every signature must have the same length"),
        ([[1, 2], [1]], ValueError, "signatures[1] has 1 value and signatures[0] 2: every signature must have the same length"),
        ([np.array([1, 2]), np.array([[1, 2]])], ValueError, "signatures[1] must be 1-dimensional, not 2-dimensional"),
        ([np.array([1, 2]), np.array([1, -2])], ValueError, "signatures[1, 1] is -2: signature values must be non-negative"),
    ]  # fmt: skip
    for sigs, error_class, text in cases:
        assert raised(error_class, lambda: batch.lsh_pairs(sigs, bands=1, rows=1)) == text
    assert pairs(batch.lsh_pairs([[2**64 - 1, 0], (2**64 - 1, 1)], bands=1, rows=1)) == [(0, 1)]


def test_errors_inside_a_value_keep_their_class():
    class Broken:
        def __index__(self):
            raise RuntimeError("no index")

    assert raised(RuntimeError, lambda: batch.lsh_pairs([[Broken()]], bands=1, rows=1)) == "no index"


@pytest.mark.parametrize(
    "sigs, text",
    [
        (np.array(5, dtype=np.uint64), "signatures must be 2-dimensional (one signature per row), not 0-dimensional"),
        (np.array(5), "signatures must be 2-dimensional (one signature per row), not 0-dimensional"),
        (7, "signatures must be 2-dimensional (one signature per row), not 0-dimensional"),
        (np.zeros(4, np.uint64), "signatures must be 2-dimensional (one signature per row), not 1-dimensional"),
        (np.zeros((2, 2, 2), np.int8), "signatures must be 2-dimensional (one signature per row), not 3-dimensional"),
        (bytearray(b"ab"), "signatures must be 2-dimensional (one signature per row), not 1-dimensional"),
    ],
)  # fmt: skip
def test_signatures_must_be_2_dimensional(sigs, text):
    assert raised(ValueError, lambda: batch.lsh_pairs(sigs, bands=1, rows=1)) == text


@pytest.mark.parametrize("sigs, name", [(None, "None"), (object(), "an object"), (iter([[1]]), "a list_iterator")])
def test_what_is_no_array_is_named(sigs, name):
    message = raised(TypeError, lambda: batch.lsh_pairs(sigs, bands=1, rows=1))
    assert message == f"signatures must be an integer array or a list of sequences of ints, not {name}"


def test_array_likes_are_read_as_numpy_reads_them():
    import array
    from collections import deque

    assert pairs(batch.lsh_pairs(deque([[1, 2], [1, 3]]), bands=2, rows=1)) == [(0, 1)]
    assert pairs(batch.lsh_pairs(memoryview(np.array([[4, 2], [4, 3]], np.int16)), bands=2, rows=1)) == [(0, 1)]
    message = raised(TypeError, lambda: batch.lsh_pairs(array.array("d", [1.0]), bands=1, rows=1))
    assert message.endswith("not float64")
    assert raised(TypeError, lambda: batch.lsh_pairs("ab", bands=1, rows=1)).endswith("not <U2")


def test_empty_inputs():
    assert pairs(batch.lsh_pairs([], bands=3, rows=2)) == []
    assert pairs(batch.lsh_pairs([], bands=2**64 - 1, rows=2**64 - 1, workers=-1)) == []
    assert pairs(batch.lsh_pairs((), bands=1, rows=1, workers=-1)) == []
    assert pairs(batch.lsh_pairs(np.zeros((0, 6), np.int32), bands=3, rows=2)) == []
    assert pairs(batch.lsh_pairs([[1, 2]], bands=2, rows=1)) == []
    for sigs in (np.zeros((3, 0), np.uint64), [[], [], []]):
        with pytest.raises(ValueError, match=r"^bands and rows must be positive with bands \* rows at most 0"):
            batch.lsh_pairs(sigs, bands=1, rows=1)
    with pytest.raises(ValueError, match="bands and rows must be positive"):
        batch.lsh_pairs([], bands=0, rows=1)


def test_many_texts_and_hash_collisions_against_a_model():
    # 60,000 texts on 16 bands of one value: a few hashes of distinct values
    # collide (32 bits), which must not make pairs; planted copies must.
    rng = np.random.default_rng(11)
    sigs = rng.integers(0, 2**64, size=(60000, 16), dtype=np.uint64, endpoint=False)
    copies = rng.integers(0, 60000, size=(3000, 2))
    bands = rng.integers(0, 16, size=3000)
    sigs[copies[:, 1], bands] = sigs[copies[:, 0], bands]
    buckets = {}
    for t, row in enumerate(sigs.tolist()):
        for b, value in enumerate(row):
            buckets.setdefault((b, value), []).append(t)
    want = sorted({(a, c) for members in buckets.values() for x, a in enumerate(members) for c in members[x + 1 :]})
    for workers in (1, -1):
        assert pairs(batch.lsh_pairs(sigs, bands=16, rows=1, workers=workers)) == want


def test_identical_texts_pair_once_whatever_the_workers():
    sigs = np.zeros((300, 64), np.uint64)
    sigs[150:, 40:] = 1  # half the texts leave the common bucket on the last bands
    want = [(a, b) for a in range(300) for b in range(a + 1, 300)]
    for workers in (1, 2, -1):
        assert pairs(batch.lsh_pairs(sigs, bands=64, rows=1, workers=workers)) == want


def run_child(code, **kwargs):
    env = dict(os.environ)
    if SANITIZED:  # freed memory is not held back, so that the peak is the program's own;
        # NumPy's import keeps objects past exit (the suite's own process pauses LSan for it)
        env["ASAN_OPTIONS"] += ":quarantine_size_mb=0:detect_leaks=0"
    return subprocess.Popen([sys.executable, "-c", textwrap.dedent(code)], env=env, text=True,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kwargs)  # fmt: skip


@pytest.mark.parametrize(
    "make, bands, rows",
    [
        ("numpy.zeros((2000, 64), numpy.uint64)", 64, 1),
        # 3,000 identical documents among 8,000 (128 hashes): 4.5 M pairs.
        ("numpy.random.default_rng(1).integers(0, 2**63, (8000, 128), dtype=numpy.uint64); "
         "sigs[:3000] = 7", 32, 4),
    ],
    ids=["zeros", "boilerplate"],
)  # fmt: skip
@pytest.mark.skipif(not os.path.exists("/proc/self/clear_refs"), reason="Linux's peak RSS reset")
def test_peak_memory_stays_within_twice_the_result(make, bands, rows):
    # The peak of the child's own memory, from what it holds before the call
    # (ru_maxrss would count the parent's pages too, passed on through exec).
    child = run_child(f"""
        import time, numpy
        from kivo import batch
        def status(field):
            with open("/proc/self/status") as f:
                return next(int(line.split()[1]) * 1024 for line in f if line.startswith(field + ":"))
        sigs = {make}
        batch.lsh_pairs(sigs[:50], bands={bands}, rows={rows}, workers=-1)  # threads and imports
        with open("/proc/self/clear_refs", "w") as f:
            f.write("5")  # the peak starts again from now
        before = status("VmRSS")
        start = time.perf_counter()
        i, j = batch.lsh_pairs(sigs, bands={bands}, rows={rows}, workers=-1)
        seconds = time.perf_counter() - start
        print(len(i), i.nbytes + j.nbytes, status("VmHWM") - before, seconds)
    """)
    out, err = child.communicate(timeout=600)
    assert child.returncode == 0, err
    count, result, peak, seconds = out.split()
    assert int(count) in (2000 * 1999 // 2, 3000 * 2999 // 2)
    assert int(peak) <= 2 * int(result), (peak, result, seconds)


@pytest.mark.parametrize("workers", [1, 2])
def test_ctrl_c_ends_a_call_inside_a_large_bucket(workers):
    # Every band one bucket of all texts but one, never the same: billions of
    # checks, a few hundred milliseconds between two buckets of a text.
    child = run_child(f"""
        import time, numpy
        from kivo import batch
        sigs = numpy.zeros((3000, 1024), numpy.uint64)
        sigs[numpy.arange(1024), numpy.arange(1024)] = 1
        print("start", flush=True)
        start = time.perf_counter()
        try:
            batch.lsh_pairs(sigs, bands=1024, rows=1, workers={workers})
        except KeyboardInterrupt:
            print("interrupted", time.perf_counter() - start, flush=True)
        else:
            print("finished", time.perf_counter() - start, flush=True)
    """)
    assert child.stdout.readline() == "start\n"
    time.sleep(1.0)
    child.send_signal(signal.SIGINT)
    sent = time.perf_counter()
    out, err = child.communicate(timeout=120)
    ended = time.perf_counter() - sent
    assert child.returncode == 0, err
    assert out.startswith("interrupted"), out
    # The call ends within 0.2 s of the signal; the bound leaves room for a
    # loaded machine, a sanitizer build and the child's own exit.
    assert ended < (10 if SANITIZED else 3), ended
