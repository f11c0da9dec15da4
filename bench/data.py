"""kivo.batch where the data lives: Arrow columns against lists, DuckDB, Spark.

1. cpdist Jaro-Winkler over two columns of FEBRL names, a pyarrow column or a polars Series
   read in place, against the same names as Python lists (made from the column, as a user
   holding a DataFrame must; the call alone on ready lists is shown too). Each case runs in
   a fresh process, interleaved over rounds: median wall time, and the peak memory growth
   of the case (VmHWM reset through /proc/self/clear_refs before it).
2. DuckDB: kivo_jaro_winkler over a table of name pairs, against DuckDB's own
   jaro_winkler_similarity and RapidFuzz's cpdist in a DuckDB Arrow function; an Arrow
   function that computes nothing shows what DuckDB's hand-over to Python costs alone.
3. Spark (--spark): cpdist inside mapInArrow on local[2], pairs/s, against RapidFuzz's cpdist
   in the same function.

Run from the repository: .venv/bin/python bench/data.py [--rows N] [--rounds N] [--spark]
"""

from __future__ import annotations

import argparse
import json
import os
import statistics
import subprocess
import sys
import time
from pathlib import Path

EXAMPLES = Path(__file__).resolve().parent.parent / "examples"
sys.path.insert(0, str(EXAMPLES))
from linkage import load_records  # noqa: E402


def name_pool():
    """The distinct 'given surname' names of the FEBRL records."""
    return sorted({f"{r.given_name} {r.surname}".strip() for r in load_records()})


def columns(rows):
    """Two pyarrow columns of `rows` names, shuffled apart."""
    import numpy as np
    import pyarrow as pa

    pool = pa.array(name_pool())
    rng = np.random.default_rng(7)
    return (pool.take(pa.array(rng.integers(0, len(pool), rows))),
            pool.take(pa.array(rng.integers(0, len(pool), rows))))  # fmt: skip


def rss_kib(field):
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    raise RuntimeError(field)


def run_case(case, rows):
    """One case in this process: (seconds, peak growth in bytes) of its call."""
    import kivo
    import kivo.batch

    a, b = columns(rows)
    jw = kivo.jaro_winkler_similarity
    if case == "polars":
        import polars as pl

        a, b = pl.from_arrow(a), pl.from_arrow(b)
    if case == "ready lists":
        a, b = a.to_pylist(), b.to_pylist()
    calls = {
        "pyarrow": lambda: kivo.batch.cpdist(a, b, scorer=jw),
        "polars": lambda: kivo.batch.cpdist(a, b, scorer=jw),
        "lists from the column": lambda: kivo.batch.cpdist(a.to_pylist(), b.to_pylist(), scorer=jw),
        "ready lists": lambda: kivo.batch.cpdist(a, b, scorer=jw),
    }
    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")  # resets the peak resident size
    before = rss_kib("VmRSS")
    start = time.perf_counter()
    calls[case]()
    seconds = time.perf_counter() - start
    return seconds, (rss_kib("VmHWM") - before) * 1024


def columns_vs_lists(rows, rounds):
    cases = ["pyarrow", "polars", "lists from the column", "ready lists"]
    results = {c: [] for c in cases}
    for r in range(rounds):
        for case in cases[r % len(cases):] + cases[: r % len(cases)]:
            out = subprocess.run([sys.executable, __file__, "--case", case, "--rows", str(rows)],
                                 check=True, capture_output=True, text=True).stdout
            results[case].append(json.loads(out))
    med = {c: (statistics.median(s for s, _ in v), statistics.median(m for _, m in v)) for c, v in results.items()}
    print(f"cpdist Jaro-Winkler, {rows:,} name pairs, 1 thread (median of {rounds} fresh processes):")
    base_s, base_m = med["lists from the column"]
    for case, (s, m) in med.items():
        print(f"  {case:22} {s * 1e3:8.1f} ms  peak growth {m / 2**20:7.1f} MiB"
              f"  time {s / base_s:.2f}x  memory {m / max(base_m, 1):.2f}x of lists from the column")
    print("  goal: columns <= 0.8x the time and <= 0.2x the peak memory growth of lists")


def duckdb_case(rows, rounds):
    import duckdb
    import numpy as np
    import pyarrow as pa
    from rapidfuzz import process
    from rapidfuzz.distance import JaroWinkler

    import kivo.duckdb

    a, b = columns(rows)
    con = duckdb.connect()
    kivo.duckdb.register(con)

    def rapidfuzz_jw(x, y):
        return pa.array(process.cpdist(x.to_pylist(), y.to_pylist(), scorer=JaroWinkler.normalized_similarity))

    def nothing(x, y):
        return pa.array(np.zeros(len(x)))

    con.create_function("rf_jaro_winkler", rapidfuzz_jw, ["VARCHAR", "VARCHAR"], "DOUBLE", type="arrow")
    con.create_function("nothing", nothing, ["VARCHAR", "VARCHAR"], "DOUBLE", type="arrow")
    con.register("pairs_view", pa.table({"a": a, "b": b}))
    con.execute("CREATE TABLE pairs AS SELECT * FROM pairs_view")
    queries = {
        "kivo_jaro_winkler": "SELECT sum(kivo_jaro_winkler(a, b)) FROM pairs",
        "jaro_winkler_similarity (DuckDB)": "SELECT sum(jaro_winkler_similarity(a, b)) FROM pairs",
        "RapidFuzz cpdist UDF": "SELECT sum(rf_jaro_winkler(a, b)) FROM pairs",
        # What any Python Arrow function costs: DuckDB's hand-over of each 2048-row vector.
        "Arrow UDF doing nothing": "SELECT sum(nothing(a, b)) FROM pairs",
    }
    times = {name: [] for name in queries}
    for _ in range(rounds):
        for name, sql in queries.items():
            start = time.perf_counter()
            con.execute(sql).fetchall()
            times[name].append(time.perf_counter() - start)
    med = {n: statistics.median(t) for n, t in times.items()}
    base = med["jaro_winkler_similarity (DuckDB)"]
    threads = con.execute("SELECT current_setting('threads')").fetchall()[0][0]
    print(f"DuckDB {duckdb.__version__}, {rows:,} row pairs, Jaro-Winkler (median of {rounds}, {threads} DuckDB"
          " threads; kivo's and RapidFuzz's functions score each vector on the thread DuckDB calls them on,"
          " kivo without the interpreter lock):")
    for name, s in med.items():
        print(f"  {name:34} {s * 1e3:8.1f} ms  {s / base:.2f}x DuckDB's own")
    print("  goal: kivo_jaro_winkler <= 0.5x DuckDB's own")


def spark_case(rows):
    import pyarrow as pa
    from spark_dedupe import local_spark

    pool = name_pool()
    spark = local_spark("local[2]")
    spark.sparkContext.setLogLevel("ERROR")
    names = spark.createDataFrame([(i, n) for i, n in enumerate(pool)], "k long, name string")
    n = len(pool)
    frame = (spark.range(rows).selectExpr(f"id % {n} AS ka", f"(id * 7919 + 13) % {n} AS kb")
             .join(names.withColumnRenamed("k", "ka").withColumnRenamed("name", "a"), "ka")
             .join(names.withColumnRenamed("k", "kb").withColumnRenamed("name", "b"), "kb")
             .select("a", "b").cache())  # fmt: skip
    frame.count()

    def kivo_scores(batches):
        import kivo
        import kivo.batch

        for batch in batches:
            s = kivo.batch.cpdist(batch.column("a"), batch.column("b"), scorer=kivo.jaro_winkler_similarity)
            yield pa.RecordBatch.from_arrays([pa.array(s, pa.float64())], names=["s"])

    def rapidfuzz_scores(batches):
        from rapidfuzz import process
        from rapidfuzz.distance import JaroWinkler

        for batch in batches:
            s = process.cpdist(batch.column("a").to_pylist(), batch.column("b").to_pylist(),
                               scorer=JaroWinkler.normalized_similarity)  # fmt: skip
            yield pa.RecordBatch.from_arrays([pa.array(s, pa.float64())], names=["s"])

    print(f"Spark local[2], mapInArrow, {rows:,} pairs, Jaro-Winkler:")
    try:
        for name, udf in [("kivo cpdist", kivo_scores), ("RapidFuzz cpdist", rapidfuzz_scores)] * 2:
            start = time.perf_counter()
            frame.mapInArrow(udf, "s double").agg({"s": "sum"}).collect()
            seconds = time.perf_counter() - start
            print(f"  {name:18} {seconds:6.1f} s  {rows / seconds / 1e6:6.2f} M pairs/s")
    finally:
        spark.stop()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rows", type=int, default=1_000_000)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--case")
    parser.add_argument("--spark", action="store_true")
    parser.add_argument("--spark-rows", type=int, default=10_000_000)
    args = parser.parse_args()
    if args.case:
        print(json.dumps(run_case(args.case, args.rows)))
        return
    columns_vs_lists(args.rows, args.rounds)
    duckdb_case(args.rows, args.rounds)
    if args.spark:
        spark_case(args.spark_rows)


if __name__ == "__main__":
    os.environ.setdefault("PYTHONHASHSEED", "0")
    main()
