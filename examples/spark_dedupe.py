"""Deduplicate records with kivo on Spark: blocking in Spark, scoring in kivo.batch.

The same matching as examples/demo.py, on a Spark cluster (here a local one):

1. A `mapInArrow` files every record under each of its blocking keys.
2. Spark shuffles the filed records so that every block lands in one
   partition, sorted by key.
3. A second `mapInArrow` scores each block's pairs at once: the block's text
   column, an Arrow slice, goes into `kivo.batch.pairs` with the cascade's
   `KivoFlow` without becoming Python strings; the pairs the tiers leave open
   are scored field by field. A pair sharing several keys is reported only
   from the block of the smallest key it shares.

kivo's objects cannot be pickled, so each task builds its own `Matcher`.
Needs pyspark and a Java runtime (`make test` installs both on Debian).

Run: python examples/spark_dedupe.py [--master local[2]] [--partitions N]
"""

from __future__ import annotations

import argparse
import os
import sys
import time
from collections.abc import Iterator, Sequence
from pathlib import Path

import pyarrow as pa
from pyspark.sql import SparkSession

import kivo.batch

sys.path.insert(0, str(Path(__file__).resolve().parent))
from linkage import (
    FLOW_MISMATCH,
    Matcher,
    Record,
    block_match,
    blocking_keys,
    dedupe_single_process,
    load_records,
    report,
    true_pairs,
)

FIELDS = list(Record.__dataclass_fields__)
RECORDS = "idx long, text string, " + ", ".join(f"{name} string" for name in FIELDS)
FILED = "key string, " + RECORDS
PAIRS = "i long, j long"


def _file_under_keys(batches: Iterator[pa.RecordBatch]) -> Iterator[pa.RecordBatch]:
    """Each record once per blocking key, with the key."""
    for records in batches:
        keys, rows = [], []
        for row in range(records.num_rows):
            for key in blocking_keys(_record(records, row)):
                keys.append(key)
                rows.append(row)
        filed = records.take(pa.array(rows, pa.int64()))
        yield pa.RecordBatch.from_arrays([pa.array(keys, pa.string()), *filed.columns],
                                         names=["key", *records.schema.names])


def _match_blocks(batches: Iterator[pa.RecordBatch]) -> Iterator[pa.RecordBatch]:
    """One partition: the matching pairs (i < j) of every block in it."""
    table = pa.Table.from_batches(list(batches)).combine_chunks()
    if table.num_rows == 0:
        return
    matcher = Matcher()  # built here: kivo objects cannot be shipped to a worker
    keys, idx, text = (table.column(name) for name in ("key", "idx", "text"))
    keys_py = keys.to_pylist()
    found_i, found_j = [], []
    start = 0
    while start < len(keys_py):
        end = start
        while end < len(keys_py) and keys_py[end] == keys_py[start]:
            end += 1
        if end - start > 1:
            # The block's texts, read by kivo in Spark's own Arrow buffers.
            left, right, scores = kivo.batch.pairs(
                text.slice(start, end - start), scorer=matcher.flow, score_cutoff=FLOW_MISMATCH
            )
            for x, y, score in zip(left.tolist(), right.tolist(), scores.tolist()):
                a, b = _record(table, start + x), _record(table, start + y)
                if block_match(matcher, keys_py[start], a, b, score):
                    found_i.append(idx[start + x].as_py())
                    found_j.append(idx[start + y].as_py())
        start = end
    yield pa.RecordBatch.from_arrays([pa.array(found_i, pa.int64()), pa.array(found_j, pa.int64())],
                                     names=["i", "j"])


def _record(table: pa.Table | pa.RecordBatch, row: int) -> Record:
    return Record(*(table.column(name)[row].as_py() for name in FIELDS))


def dedupe(spark: SparkSession, records: Sequence[Record], partitions: int = 4) -> list[tuple[int, int]]:
    """Matching index pairs (i < j), sorted, computed on Spark."""
    rows = [(i, r.text, *(getattr(r, name) for name in FIELDS)) for i, r in enumerate(records)]
    frame = spark.createDataFrame(rows, RECORDS)
    filed = frame.mapInArrow(_file_under_keys, FILED)
    blocks = filed.repartition(partitions, "key").sortWithinPartitions("key", "idx")
    found = blocks.mapInArrow(_match_blocks, PAIRS).collect()
    return sorted((row.i, row.j) for row in found)


def local_spark(master: str = "local[2]") -> SparkSession:
    """A Spark session whose Python workers run this interpreter and can import these files."""
    os.environ.setdefault("PYSPARK_PYTHON", sys.executable)
    os.environ.setdefault("PYSPARK_DRIVER_PYTHON", sys.executable)
    os.environ.setdefault("SPARK_LOCAL_IP", "127.0.0.1")  # a local run stays on loopback
    spark = (
        SparkSession.builder.master(master)
        .appName("kivo-dedupe")
        .config("spark.sql.shuffle.partitions", "4")
        .config("spark.ui.enabled", "false")
        .config("spark.driver.host", "127.0.0.1")
        .config("spark.driver.bindAddress", "127.0.0.1")
        .getOrCreate()
    )
    here = Path(__file__).resolve().parent
    for module in ("linkage.py", "spark_dedupe.py"):
        spark.sparkContext.addPyFile(str(here / module))
    return spark


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--master", default="local[2]")
    parser.add_argument("--partitions", type=int, default=4)
    args = parser.parse_args()

    records = load_records()
    spark = local_spark(args.master)
    spark.sparkContext.setLogLevel("ERROR")
    try:
        started = time.perf_counter()
        found = dedupe(spark, records, args.partitions)
        seconds = time.perf_counter() - started
    finally:
        spark.stop()
    report(f"spark ({args.master}, {args.partitions} partitions)", records, found, seconds)


if __name__ == "__main__":
    main()
