"""The Dask example gives the single-process answer, and Dask refuses to ship
kivo's objects, as the example relies on (pickling itself is tested with the
other reliability tests)."""

import importlib
import sys
from pathlib import Path

import pytest

import kivo

EXAMPLES = Path(__file__).resolve().parent.parent / "examples"


@pytest.fixture(scope="module")
def example():
    pytest.importorskip("dask")
    pytest.importorskip("numpy")  # kivo.batch returns NumPy arrays
    sys.path.insert(0, str(EXAMPLES))
    try:
        module = importlib.import_module("dask_dedupe")
    finally:
        sys.path.remove(str(EXAMPLES))
    # Every record of one person in nine: a few hundred records, duplicates included.
    return module, [r for r in module.load_records() if int(r.entity) % 9 == 0]


@pytest.mark.parametrize("scheduler", ["sync", "threads"])
def test_dask_dedupe_matches_single_process_run(example, scheduler):
    example, records = example
    expected = example.dedupe_single_process(records)
    found = example.dedupe(records, npartitions=4, scheduler=scheduler)
    assert found == expected
    truth = example.true_pairs(records)
    assert len(set(found) & truth) > 0.9 * len(truth)


def test_dask_dedupe_scores_each_pair_once(example):
    example, records = example
    # A pair sharing several blocking keys must not be reported more than once.
    with example.dask.config.set(scheduler="sync"):
        raw = example.dedupe_bag(records, npartitions=3).compute()
    assert len(raw) == len(set(raw))


def test_kivo_objects_refuse_dasks_serializer():
    cloudpickle = pytest.importorskip("cloudpickle")
    with pytest.raises(TypeError, match=r"^cannot pickle 'kivo\.KivoFlow' object$"):
        cloudpickle.dumps(kivo.KivoFlow())
