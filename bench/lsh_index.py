"""kivo.batch.LSHIndex against datasketch's MinHashLSH (installed into the venv
for this comparison only), one thread each:

    .venv/bin/python bench/lsh_index.py [--quick] [--count=N]

N signatures of 128 values (1,000,000; 100,000 with --quick), a tenth of
them near-copies of others, are added in batches of 10,000, each batch into
both indexes in turn; then 10,000 of them are queried, in rounds that take
turns. Also: the index's memory besides its signatures (datasketch's, as the
growth of a fresh process's resident memory while it inserts), save and load
times, and query_pairs against lsh_pairs.
"""

import os
import re
import statistics
import subprocess
import sys
import tempfile
import time

import numpy as np

import kivo.batch as batch

QUICK = "--quick" in sys.argv
COUNT = next((int(a.split("=")[1]) for a in sys.argv if a.startswith("--count=")), 100_000 if QUICK else 1_000_000)
BANDS, ROWS, HASHES, BATCH, QUERIES = 32, 4, 128, 10_000, 10_000


def signatures(count):
    rng = np.random.default_rng(7)
    sigs = rng.integers(0, 2**32, size=(count, HASHES), dtype=np.uint64)
    copies = rng.integers(0, count, size=(count // 10, 2))
    keep = rng.random((count // 10, HASHES)) < 0.8  # a near-copy: 80 % of its values
    sigs[copies[:, 1]] = np.where(keep, sigs[copies[:, 0]], sigs[copies[:, 1]])
    return sigs


def datasketch_index():
    from datasketch import MinHashLSH

    return MinHashLSH(num_perm=HASHES, params=(BANDS, ROWS))


def minhashes(sigs):
    from datasketch import LeanMinHash

    return [LeanMinHash(seed=1, hashvalues=row, scheme="legacy") for row in sigs]


def status(field):
    with open("/proc/self/status") as f:
        return int(re.search(rf"{field}:\s+(\d+)", f.read())[1]) * 1024


def datasketch_memory():
    """Run in a fresh process: the resident memory its index adds."""
    sigs = signatures(COUNT)
    hashes = minhashes(sigs)
    del sigs
    before = status("VmRSS")
    lsh = datasketch_index()
    for n, h in enumerate(hashes):
        lsh.insert(n, h)
    print(status("VmRSS") - before)


def main():
    print(f"{COUNT} signatures of {HASHES} values, bands={BANDS} rows={ROWS}, batches of {BATCH}")
    # datasketch's memory first, in a process of its own, while this one holds little.
    result = subprocess.run([sys.executable, __file__, "--datasketch-memory", f"--count={COUNT}"],
                            capture_output=True, text=True)  # fmt: skip
    datasketch_bytes = int(result.stdout.split()[-1]) if result.returncode == 0 else float("nan")
    sigs = signatures(COUNT)
    hashes = minhashes(sigs)
    index, lsh = batch.LSHIndex(bands=BANDS, rows=ROWS), datasketch_index()
    ours = theirs = 0.0
    for start in range(0, COUNT, BATCH):
        part = slice(start, start + BATCH)
        t = time.perf_counter()
        index.add(sigs[part])
        ours += time.perf_counter() - t
        t = time.perf_counter()
        with lsh.insertion_session() as session:
            for n in range(start, min(start + BATCH, COUNT)):
                session.insert(n, hashes[n])
        theirs += time.perf_counter() - t
    print(f"add: kivo {ours:.2f} s, datasketch {theirs:.2f} s; kivo/datasketch = {ours / theirs:.4f} (goal <= 0.02)")
    again = batch.LSHIndex(bands=BANDS, rows=ROWS)
    t = time.perf_counter()
    for start in range(0, COUNT, BATCH):
        again.add(sigs[start : start + BATCH], workers=-1)
    print(f"  kivo add with workers=-1: {time.perf_counter() - t:.2f} s")
    del again

    queried = np.random.default_rng(9).choice(COUNT, QUERIES, replace=False)
    times = {"kivo": [], "datasketch": []}
    for _ in range(3):
        t = time.perf_counter()
        rows, keys = index.query(sigs[queried])
        times["kivo"].append(time.perf_counter() - t)
        t = time.perf_counter()
        found = [lsh.query(hashes[n]) for n in queried]
        times["datasketch"].append(time.perf_counter() - t)
    ours, theirs = (statistics.median(times[k]) for k in ("kivo", "datasketch"))
    same = sum(len(f) for f in found) == len(keys)
    print(f"query of {QUERIES}: kivo {ours * 1e3:.1f} ms, datasketch {theirs * 1e3:.1f} ms; "
          f"kivo/datasketch = {ours / theirs:.4f} (goal <= 0.02); same candidates: {same}")  # fmt: skip
    t = time.perf_counter()
    index.query(sigs[queried], workers=-1)
    print(f"  kivo query with workers=-1: {(time.perf_counter() - t) * 1e3:.1f} ms")
    del lsh, hashes

    table, theirs = index._table_bytes(), datasketch_bytes
    print(f"index memory besides signatures: kivo {table / 1e6:.0f} MB "
          f"({table / COUNT / BANDS:.1f} bytes a document per band, goal <= 40), "
          f"datasketch {theirs / 1e6:.0f} MB; kivo/datasketch = {table / theirs:.3f} (goal <= 0.15)")  # fmt: skip

    with tempfile.TemporaryDirectory(dir=os.path.dirname(os.path.abspath(__file__))) as folder:
        path = os.path.join(folder, "index.lsh")
        t = time.perf_counter()
        index.save(path)
        saved = time.perf_counter() - t
        t = time.perf_counter()
        loaded = batch.LSHIndex.load(path)
        load = time.perf_counter() - t
        t = time.perf_counter()
        batch.LSHIndex.load(path, workers=-1)
        load_all = time.perf_counter() - t
        size = os.path.getsize(path)
    print(f"save {saved:.2f} s, load {load:.2f} s (workers=-1: {load_all:.2f} s) of {size / 1e6:.0f} MB (goal <= 2 s each)")

    t = time.perf_counter()
    a, b = loaded.query_pairs()
    pairs_time = time.perf_counter() - t
    t = time.perf_counter()
    i, j = batch.lsh_pairs(sigs, bands=BANDS, rows=ROWS)
    lsh_time = time.perf_counter() - t
    print(f"query_pairs {pairs_time:.2f} s, lsh_pairs {lsh_time:.2f} s: {len(a)} pairs, "
          f"identical: {np.array_equal(a, i) and np.array_equal(b, j)}")  # fmt: skip


if __name__ == "__main__":
    if "--datasketch-memory" in sys.argv:
        datasketch_memory()
    else:
        main()
