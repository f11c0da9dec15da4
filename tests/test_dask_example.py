"""The Dask example gives the single-process answer, and kivo's objects behave
under pickling the way the example relies on."""

import importlib
import pickle
import sys
from pathlib import Path

import pytest

import kivo

EXAMPLES = Path(__file__).resolve().parent.parent / "examples"


@pytest.fixture(scope="module")
def example():
    pytest.importorskip("dask")
    sys.path.insert(0, str(EXAMPLES))
    try:
        yield importlib.import_module("dask_dedupe")
    finally:
        sys.path.remove(str(EXAMPLES))


@pytest.fixture(scope="module")
def records(example):
    # Every record of one person in nine: a few hundred records, duplicates included.
    return [r for r in example.load_records() if int(r.entity) % 9 == 0]


@pytest.mark.parametrize("scheduler", ["sync", "threads"])
def test_dask_dedupe_matches_single_process_run(example, records, scheduler):
    expected = example.dedupe_single_process(records)
    found = example.dedupe(records, npartitions=4, scheduler=scheduler)
    assert found == expected
    truth = example.true_pairs(records)
    assert len(set(found) & truth) > 0.9 * len(truth)


def test_dask_dedupe_scores_each_pair_once(example, records):
    # A pair sharing several blocking keys must not be reported more than once.
    with example.dask.config.set(scheduler="sync"):
        raw = example.dedupe_bag(records, npartitions=3).compute()
    assert len(raw) == len(set(raw))


@pytest.mark.parametrize(
    "make",
    [
        kivo.KivoFlow,
        lambda: kivo.KivoFlow().preprocess(True).tier_1("levenshtein", "gt", 0.9, "lt", 0.1),
        kivo.Preprocessor,
        lambda: kivo.Preprocessor().with_stopwords(["a"]),
    ],
    ids=["KivoFlow", "configured KivoFlow", "Preprocessor", "configured Preprocessor"],
)
@pytest.mark.parametrize("protocol", [2, 4, pickle.HIGHEST_PROTOCOL])
def test_kivo_objects_refuse_to_pickle(make, protocol):
    obj = make()
    with pytest.raises(TypeError, match=rf"^cannot pickle 'kivo\.{type(obj).__name__}' object$"):
        pickle.dumps(obj, protocol=protocol)


def test_kivo_objects_refuse_dasks_serializer():
    cloudpickle = pytest.importorskip("cloudpickle")
    with pytest.raises(TypeError, match=r"^cannot pickle 'kivo\.KivoFlow' object$"):
        cloudpickle.dumps(kivo.KivoFlow())


@pytest.mark.parametrize("name", [n for n in kivo.__all__ if not isinstance(getattr(kivo, n), type)])
def test_module_functions_pickle_by_name(name):
    function = getattr(kivo, name)
    assert pickle.loads(pickle.dumps(function)) is function


def test_classes_and_panic_exception_pickle_by_name():
    assert pickle.loads(pickle.dumps(kivo.KivoFlow)) is kivo.KivoFlow
    assert pickle.loads(pickle.dumps(kivo.Preprocessor)) is kivo.Preprocessor
    # A fault raised in a worker must reach the client as the same class.
    error = pickle.loads(pickle.dumps(kivo.PanicException("window size must be non-zero")))
    assert type(error) is kivo.PanicException
    assert error.args == ("window size must be non-zero",)
