"""The Spark example finds the single-process pairs, on a local Spark."""

import ctypes
import importlib
import shutil
import sys
from pathlib import Path

import pytest

EXAMPLES = Path(__file__).resolve().parent.parent / "examples"


@pytest.fixture(scope="module")
def example():
    pytest.importorskip("pyarrow")
    pytest.importorskip("pyspark", reason="pyspark is not installed (make test installs it)")
    if shutil.which("java") is None:
        pytest.skip("no Java runtime for Spark (make test installs default-jre-headless)")
    if hasattr(ctypes.CDLL(None), "__asan_init"):
        pytest.skip("the JVM does not start with the sanitizer runtime preloaded")
    sys.path.insert(0, str(EXAMPLES))
    try:
        module = importlib.import_module("spark_dedupe")
    finally:
        sys.path.remove(str(EXAMPLES))
    spark = module.local_spark("local[2]")
    spark.sparkContext.setLogLevel("ERROR")
    yield module, spark
    spark.stop()


def test_spark_dedupe_matches_single_process_run(example):
    module, spark = example
    # Every record of one person in six: several hundred records, duplicates included.
    records = [r for r in module.load_records() if int(r.entity) % 6 == 0]
    expected = module.dedupe_single_process(records)
    assert module.dedupe(spark, records, partitions=3) == expected
    truth = module.true_pairs(records)
    assert len(set(expected) & truth) > 0.9 * len(truth)
