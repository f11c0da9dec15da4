"""kivo.batch.LSHIndex against a model of its buckets over any sequence of
adds, queries, removals, saves and loads; its pairs against lsh_pairs; saved
files that survive a crash at any moment and refuse every flipped byte and
every truncation; queries racing writers; Ctrl-C that changes nothing."""

import ast
import doctest
import inspect
import os
import pathlib
import signal
import struct
import subprocess
import sys
import textwrap
import threading
import time

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st
from models import LSHIndexModel

np = pytest.importorskip("numpy")
batch = pytest.importorskip("kivo.batch")

SANITIZED = "ASAN_OPTIONS" in os.environ


def pairs(result):
    first, second = result
    assert first.dtype == second.dtype == np.int64 and first.shape == second.shape
    return list(zip(first.tolist(), second.tolist()))


def outcome(call):
    try:
        call()
    except (KeyError, ValueError) as error:
        return error
    return None


def same_error(got, want):
    return type(got) is type(want) and str(got) == str(want)


@st.composite
def operations(draw):
    bands, rows = draw(st.integers(1, 4)), draw(st.integers(1, 3))
    width = bands * rows + draw(st.integers(0, 1))
    # Few values and few keys: buckets of every size, and keys that clash.
    signature = st.lists(st.integers(0, 2), min_size=width, max_size=width)
    signatures = st.lists(signature, max_size=8)
    keys = st.integers(-4, 12)
    ops = st.one_of(
        st.tuples(st.just("add"), signatures, st.none() | st.lists(keys, max_size=8)),
        st.tuples(st.just("remove"), st.lists(keys, max_size=4)),
        st.tuples(st.just("query"), signatures, st.none() | st.integers(0, 3)),
        st.tuples(st.just("save"), st.booleans()),
    )
    return bands, rows, draw(st.lists(ops, max_size=25)), draw(st.sampled_from([1, 2]))


@settings(max_examples=120)
@given(case=operations())
def test_every_operation_sequence_agrees_with_a_model_of_the_buckets(case, tmp_path_factory):
    bands, rows, ops, workers = case
    index, model = batch.LSHIndex(bands=bands, rows=rows), LSHIndexModel(bands, rows)
    path = tmp_path_factory.mktemp("index") / "saved.lsh"
    for op in ops:
        if op[0] == "add":
            _, sigs, keys = op
            if keys is not None:
                keys = (keys * 8)[: len(sigs)] if keys else list(range(100, 100 + len(sigs)))
            want = model.add(sigs, keys if keys is not None else range(len(index), len(index) + len(sigs)))
            got = outcome(lambda: index.add(sigs, keys, workers=workers))
            assert same_error(got, want) if want else got is None, (got, want)
        elif op[0] == "remove":
            want = model.remove(op[1])
            got = outcome(lambda: index.remove(op[1]))
            assert same_error(got, want) if want else got is None, (got, want)
        elif op[0] == "query":
            _, sigs, limit = op
            assert pairs(index.query(sigs, limit=limit, workers=workers)) == model.query(sigs, limit)
        else:
            index.save(path)
            if op[1]:
                index = batch.LSHIndex.load(path, workers=workers)
        assert len(index) == len(model.signatures)
        assert all(k in index for k in model.signatures) and -5 not in index
    for key, signature in model.signatures.items():
        assert index.signature(key).tolist() == list(signature)
    assert pairs(index.query_pairs(workers=workers)) == model.pairs()


@pytest.mark.parametrize("workers", [1, 2])
@pytest.mark.parametrize("count, bands, rows, spread", [(3000, 16, 1, 400), (2000, 8, 4, 2), (500, 32, 4, 1)])
def test_query_pairs_are_lsh_pairs_over_the_same_signatures(count, bands, rows, spread, workers):
    rng = np.random.default_rng(count)
    sigs = rng.integers(0, spread, size=(count, bands * rows + 3), dtype=np.uint64)
    keys = rng.permutation(10 * count)[:count] - 5 * count  # any order, negatives too
    index = batch.LSHIndex(bands=bands, rows=rows)
    for start in range(0, count, 700):
        index.add(sigs[start : start + 700], keys[start : start + 700], workers=workers)
    index.remove(keys[::7])  # the last documents move into the holes
    kept = np.ones(count, bool)
    kept[::7] = False
    order = np.argsort(keys[kept])
    i, j = batch.lsh_pairs(sigs[kept][order], bands=bands, rows=rows)
    sorted_keys = keys[kept][order]
    want = list(zip(sorted_keys[i].tolist(), sorted_keys[j].tolist()))
    assert pairs(index.query_pairs(workers=workers)) == want


def small_index():
    index = batch.LSHIndex(bands=2, rows=2)
    index.add([[1, 2, 3, 4, 5], [1, 2, 0, 0, 9], [7, 7, 3, 4, 2**64 - 1]], keys=[-3, 8, 2**63 - 1])
    return index


def test_every_flipped_byte_and_every_truncation_is_refused(tmp_path):
    path = tmp_path / "small.lsh"
    small_index().save(path)
    data = path.read_bytes()
    assert len(data) == 48 + 3 * 8 + 3 * 5 * 8 + 8
    assert pairs(batch.LSHIndex.load(path).query_pairs()) == [(-3, 8), (-3, 2**63 - 1)]
    broken = tmp_path / "broken.lsh"
    for at in range(len(data)):
        for flip in (0x01, 0x80):
            broken.write_bytes(data[:at] + bytes([data[at] ^ flip]) + data[at + 1 :])
            with pytest.raises(ValueError, match=r"^cannot load .*broken\.lsh'"):
                batch.LSHIndex.load(broken)
    for size in range(len(data)):
        broken.write_bytes(data[:size])
        with pytest.raises(ValueError, match="cannot load"):
            batch.LSHIndex.load(broken)


def test_foreign_newer_and_corrupted_files_are_named_and_explained(tmp_path):
    path = tmp_path / "x.lsh"
    small_index().save(path)
    data = path.read_bytes()
    cases = {
        b"": "truncated (0 bytes)",
        b"\x89PNG\r\n\x1a\n" + bytes(100): "not an LSHIndex file (no magic number)",
        data[:8] + struct.pack("<I", 2) + data[12:]: "format version 2 is newer than this kivo reads (1)",
        data[:100]: f"truncated (100 bytes of {len(data)} bytes)",
        data + b"\0": f"corrupted ({len(data) + 1} bytes where its header describes {len(data)} bytes)",
        data[:60] + bytes([data[60] ^ 4]) + data[61:]: "corrupted (its checksum does not match)",
        data[:16] + bytes(8) + data[24:]: "corrupted (a header no index has)",
    }
    for content, reason in cases.items():
        path.write_bytes(content)
        with pytest.raises(ValueError) as info:
            batch.LSHIndex.load(path)
        assert str(info.value) == f"cannot load {str(path)!r}: {reason}"
    with pytest.raises(FileNotFoundError) as info:
        batch.LSHIndex.load(tmp_path / "missing.lsh")
    assert info.value.filename == str(tmp_path / "missing.lsh")  # as open() names it
    with pytest.raises(IsADirectoryError):
        batch.LSHIndex.load(os.fsencode(tmp_path))
    with pytest.raises(FileNotFoundError) as info:
        small_index().save(str(tmp_path / "no" / "x.lsh"))
    assert info.value.filename == str(tmp_path / "no" / "x.lsh")


def run_child(code, **kwargs):
    env = dict(os.environ)
    if SANITIZED:  # NumPy keeps what its import made until exit
        env["ASAN_OPTIONS"] += ":detect_leaks=0"
    return subprocess.Popen([sys.executable, "-c", textwrap.dedent(code)], env=env, text=True,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kwargs)  # fmt: skip


VERSIONS = """
import numpy
from kivo import batch
def version(n):  # 20,000 documents of 64 values, a different index for every n
    sigs = numpy.random.default_rng(n).integers(0, 2**64, (20000, 64), dtype=numpy.uint64)
    index = batch.LSHIndex(bands=16, rows=4)
    index.add(sigs, keys=numpy.arange(20000) + n)
    return index
"""


def test_a_save_killed_at_any_moment_leaves_the_old_file_or_the_new_one(tmp_path):
    path = tmp_path / "index.lsh"
    namespace = {}
    exec(VERSIONS, namespace)
    namespace["version"](0).save(path)
    rng = np.random.default_rng(1)
    for trial in range(1, 9):
        child = run_child(VERSIONS + textwrap.dedent(f"""
            index = version({trial})
            print("saving", flush=True)
            while True:
                index.save({str(path)!r})
        """))
        assert child.stdout.readline() == "saving\n", child.stderr.read()
        time.sleep(rng.uniform(0, 0.4))
        child.send_signal(signal.SIGKILL)
        child.communicate()
        loaded = batch.LSHIndex.load(path)
        assert len(loaded) == 20000
        # The last version saved whole: its keys start at its number.
        n = next(v for v in range(trial, -1, -1) if v in loaded and v - 1 not in loaded)
        want = np.random.default_rng(n).integers(0, 2**64, (20000, 64), dtype=np.uint64)
        assert loaded.signature(n).tolist() == want[0].tolist()
        assert loaded.signature(n + 19999).tolist() == want[-1].tolist()


def test_a_full_disk_leaves_the_old_file_and_no_temporary_one(tmp_path):
    path = tmp_path / "index.lsh"
    small_index().save(path)
    before = path.read_bytes()
    child = run_child(VERSIONS + textwrap.dedent(f"""
        import errno, resource, signal
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (1 << 20, 1 << 20))
        try:
            version(1).save({str(path)!r})
        except OSError as error:
            print(errno.errorcode[error.errno], error.filename)
    """))
    out, err = child.communicate(timeout=120)
    assert (child.returncode, out) == (0, f"EFBIG {path}\n"), err
    assert path.read_bytes() == before and os.listdir(tmp_path) == ["index.lsh"]


@pytest.mark.parametrize("workers", [1, 2])
def test_queries_racing_writers_see_each_call_whole(workers):
    rng = np.random.default_rng(3)
    base = rng.integers(0, 2**64, (2000, 32), dtype=np.uint64)
    batch_sigs = np.repeat(base[:1], 3000, axis=0)  # all in the buckets of document 0
    index = batch.LSHIndex(bands=8, rows=4)
    index.add(base)
    without = pairs(index.query(base[:2]))
    added = list(range(10000, 13000))
    with_batch = sorted(without + [(0, k) for k in added])
    stop, seen, errors = threading.Event(), set(), []

    def query():
        while not stop.is_set():
            got = pairs(index.query(base[:2], workers=workers))
            if got not in (without, with_batch):
                errors.append(got[:10])
            seen.add(len(got))

    readers = [threading.Thread(target=query) for _ in range(3)]
    for reader in readers:
        reader.start()
    for _ in range(20):
        index.add(batch_sigs, keys=added, workers=workers)
        index.remove(added)
    stop.set()
    for reader in readers:
        reader.join()
    assert errors == [] and len(index) == 2000
    assert seen <= {len(without), len(with_batch)}


def test_arguments_and_keys_are_checked_before_anything_changes():
    index = batch.LSHIndex(bands=2, rows=2)
    cases = [
        (lambda: batch.LSHIndex(bands=0, rows=2), ValueError, "bands and rows must be positive with bands * rows at most 2**32"),
        (lambda: batch.LSHIndex(bands=2**20, rows=2**13), ValueError, "bands and rows must be positive with bands * rows at most 2**32"),
        (lambda: batch.LSHIndex(2, 2), TypeError, "LSHIndex.__new__() takes 0 positional arguments but 2 were given"),
        (lambda: index.add([[1, 2, 3]]), ValueError, "signatures have 3 values, fewer than the index's bands * rows (4)"),
        (lambda: index.add([[1, 2, 3, 4]], keys=[1, 2]), ValueError, "keys must hold one key per signature: 2 keys for 1 signatures"),
        (lambda: index.add([[1, 2, 3, 4]] * 2, keys=[5, 5]), ValueError, "key 5 appears twice in keys"),
        (lambda: index.add([[1, 2, 3, 4]], keys=[True]), TypeError, "keys[0] is a bool, not an int"),
        (lambda: index.add([[1, 2, 3, 4]], keys=["1"]), TypeError, "keys[0] is a str, not an int"),
        (lambda: index.add([[1, 2, 3, 4]], keys=[2**63]), OverflowError, "keys[0] is 9223372036854775808: keys must be from -2**63 to 2**63 - 1"),
        (lambda: index.add([[1, 2, 3, 4]], keys=np.array([2**64 - 1], np.uint64)), OverflowError, "keys[0] is 18446744073709551615: keys must be from -2**63 to 2**63 - 1"),
        (lambda: index.add([[1, 2, 3, 4]], keys=np.array([1.0])), TypeError, "keys must have an integer dtype (signed or unsigned), not float64"),
        (lambda: index.add([[1, 2, 3, 4]], keys=np.array([[1]])), ValueError, "keys must be 1-dimensional, not 2-dimensional"),
        (lambda: index.add([[1, 2, 3, 4]], keys=5), TypeError, "keys must be a sequence of ints or an integer array, not an int"),
        (lambda: index.add([[1, -2, 3, 4]]), ValueError, "signatures[0, 1] is -2: signature values must be non-negative"),
        (lambda: index.query([[1.5, 2, 3, 4]]), TypeError, "signatures[0, 0] is a float, not an int"),
        (lambda: index.query([[1, 2]]), ValueError, "signatures have 2 values, fewer than the index's bands * rows (4)"),
        (lambda: index.query([[1, 2, 3, 4]], limit=-1), OverflowError, None),
        (lambda: index.remove([1]), KeyError, "1"),
        (lambda: index.signature(1), KeyError, "1"),
        (lambda: index.save(3.5), TypeError, None),
    ]  # fmt: skip
    for call, error_class, message in cases:
        with pytest.raises(error_class) as info:
            call()
        assert message is None or str(info.value) == message
    assert len(index) == 0 and pairs(index.query([[1, 2, 3, 4]])) == []
    index.add(np.array([[1, 2, 3, 4]], np.int8), keys=range(1, 2))
    for call, text in [
        (lambda: index.add([[1, 2, 3, 4, 5]]), "signatures have 5 values and the index's 4"),
        (lambda: index.add([[1, 2, 3, 4], [5, 6, 7, 8]], keys=[9, 1]), "key 1 is already in the index"),
        (lambda: index.add([[5, 6, 7, 8]]), "key 1 is already in the index"),  # by default len(index)
    ]:
        with pytest.raises(ValueError, match=f"^{text}$"):
            call()
    with pytest.raises(KeyError) as info:
        index.remove([1, 8])
    assert info.value.args == (8,) and len(index) == 1 and 1 in index and 9 not in index
    assert ("1" in index, 1.0 in index, np.int64(1) in index, 2**70 in index) == (False, False, True, False)
    assert repr(index) == "<kivo.batch.LSHIndex bands=2 rows=2, 1 documents>"
    assert (index.bands, index.rows) == (2, 2)


INTERRUPTED = """
import os, signal, threading, time, numpy
from kivo import batch
sigs = numpy.random.default_rng(0).integers(0, 2**64, (300000, 128), dtype=numpy.uint64)
sigs[::2, :64] = 5  # half the documents in one bucket of every other band
index = batch.LSHIndex(bands=32, rows=4)
index.add(sigs[:1000], keys=numpy.arange(1000) - 1000)
before = index.query(sigs[:50])
def fire():
    time.sleep(0.3)
    os.kill(os.getpid(), signal.SIGINT)
threading.Thread(target=fire, daemon=True).start()
try:
    {call}
    print("completed")
except KeyboardInterrupt:
    print("interrupted", len(index))
after = index.query(sigs[:50])
assert all((a == b).all() for a, b in zip(before, after))
index.add(sigs[1000:1100])
assert len(index) == 1100
"""


@pytest.mark.parametrize("call", [
    "index.add(sigs, workers=2)",
    "index.add(sigs, workers=1)",
    "index.query(numpy.repeat(sigs[:2], 40000, axis=0), workers=2)",
])  # fmt: skip
def test_ctrl_c_stops_a_large_call_and_changes_nothing(call):
    child = run_child(INTERRUPTED.format(call=call))
    out, err = child.communicate(timeout=300)
    assert (child.returncode, out) == (0, "interrupted 1000\n"), err


STUB = pathlib.Path(__file__).resolve().parent.parent / "stubs" / "kivo" / "batch.pyi"


def test_docstrings_signatures_and_examples_are_the_stubs():
    stub = next(n for n in ast.parse(STUB.read_text()).body if getattr(n, "name", "") == "LSHIndex")
    runner, parser = doctest.DocTestRunner(), doctest.DocTestParser()
    assert inspect.getdoc(batch.LSHIndex) == ast.get_docstring(stub)
    for node in [stub, *(n for n in stub.body if isinstance(n, ast.FunctionDef))]:
        runner.run(parser.get_doctest(ast.get_docstring(node) or "", vars(batch), node.name, str(STUB), 0))
        if isinstance(node, ast.FunctionDef) and not node.name.startswith("__"):
            member = inspect.getattr_static(batch.LSHIndex, node.name)
            assert inspect.getdoc(member) == ast.get_docstring(node), node.name
            if not any(getattr(d, "id", "") == "property" for d in node.decorator_list):
                params = [a.arg for a in node.args.args[1:] + node.args.kwonlyargs]
                got = inspect.signature(getattr(batch.LSHIndex, node.name)).parameters
                assert [p for p in got if p != "self"] == params, node.name
    assert runner.summarize(verbose=False).failed == 0
    assert str(inspect.signature(batch.LSHIndex)) == "(*, bands, rows)"
