"""kivo.batch.LSHIndex's part of the fuzz harness: one input -> a random
sequence of operations (add, query, remove, save, load) checked against the
model of its buckets, or random bytes loaded as a saved index, which must be
refused with ValueError or load as an index that answers consistently."""

from __future__ import annotations

import atexit
import os
import shutil
import tempfile

from models import LSHIndexModel

try:
    import numpy as np
    import kivo.batch as batch
except ImportError:  # NumPy is optional: without it there is nothing to check
    np = batch = None

FOLDER = tempfile.mkdtemp(prefix="kivo-fuzz-lsh-")
atexit.register(shutil.rmtree, FOLDER, True)
PATH = os.path.join(FOLDER, "index.lsh")
KEYS = [-(2**63), -1, 0, 1, 2, 3, 5, 8, 2**63 - 1]


def outcome(call):
    try:
        call()
    except (KeyError, ValueError) as error:
        return error
    return None


def check_same(got, want):
    if want is None:
        assert got is None, got
    else:
        assert type(got) is type(want) and str(got) == str(want), (got, want)


def check_lsh_index_operations(r, _a, _b):
    if batch is None:
        return
    bands, rows = 1 + r.below(3), 1 + r.below(3)
    width = bands * rows + r.below(2)
    index, model = batch.LSHIndex(bands=bands, rows=rows), LSHIndexModel(bands, rows)

    def signatures():
        return [[r.below(3) for _ in range(width)] for _ in range(r.below(6))]

    for _ in range(1 + r.below(12)):
        op, workers = r.below(5), r.pick([1, 2, -1])
        if op == 0:
            sigs = signatures()
            keys = [r.pick(KEYS) for _ in sigs] if r.chance(200) else None
            default = range(len(index), len(index) + len(sigs))
            want = model.add(sigs, keys if keys is not None else default)
            check_same(outcome(lambda: index.add(sigs, keys, workers=workers)), want)
        elif op == 1:
            keys = [r.pick(KEYS) for _ in range(r.below(4))]
            check_same(outcome(lambda: index.remove(keys)), model.remove(keys))
        elif op == 2:
            sigs, limit = signatures(), r.pick([None, 0, 1, 2])
            first, second = index.query(sigs, limit=limit, workers=workers)
            assert list(zip(first.tolist(), second.tolist())) == model.query(sigs, limit)
        elif op == 3:
            first, second = index.query_pairs(workers=workers)
            assert list(zip(first.tolist(), second.tolist())) == model.pairs()
        else:
            index.save(PATH)
            index = batch.LSHIndex.load(PATH, workers=workers)
        assert len(index) == len(model.signatures)


def check_lsh_index_file(r, a, _b):
    """Bytes of a saved index with a few changed, or any bytes at all."""
    if batch is None:
        return
    index = batch.LSHIndex(bands=2, rows=1)
    index.add([[1, 2], [1, 3], [4, 2]], keys=[7, -5, 6])
    index.save(PATH)
    with open(PATH, "rb") as f:
        data = bytearray(f.read())
    if r.chance(64):
        data = bytearray(a.encode("utf-8", "surrogatepass"))
    for _ in range(r.below(4)):
        if data:
            data[r.below(len(data))] = r.byte()
    if r.chance(64):
        del data[r.below(len(data) + 1) :]
    with open(PATH, "wb") as f:
        f.write(data)
    try:
        loaded = batch.LSHIndex.load(PATH)
    except ValueError as error:
        assert str(error).startswith("cannot load "), error
        return
    # A change the checksum cannot see is no change: the same index.
    first, second = loaded.query_pairs()
    assert list(zip(first.tolist(), second.tolist())) == [(-5, 7), (6, 7)]


CHECKS = [check_lsh_index_operations, check_lsh_index_file]
