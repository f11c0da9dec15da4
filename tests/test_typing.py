"""The installed stubs agree with the module, their examples hold, and type checkers use them."""

import ast
import doctest
import importlib.util
import pathlib
import subprocess
import sys

import pytest

import kivo


def installed_stub():
    spec = importlib.util.find_spec("kivo")
    folders = (spec.submodule_search_locations if spec else None) or []
    return next((p for f in folders if (p := pathlib.Path(f) / "__init__.pyi").exists()), None)


STUB = installed_stub()
pytestmark = pytest.mark.skipif(STUB is None, reason="kivo is not installed with its stubs")

GOOD = """
from typing import TYPE_CHECKING

import kivo

if TYPE_CHECKING:
    from kivo import CompareResult

d: int = kivo.levenshtein_distance("a", "b")
s: float = kivo.jaro_winkler_similarity(a="a", b="b")
sig: list[int] = kivo.minhash_signature("abc", 3, 2)
p = kivo.Preprocessor().with_stopwords(("a",)).with_stopwords(["b"]).with_max_length(3)
flow = kivo.KivoFlow().preprocess(True).tier_1("levenshtein", "gt", 0.9, "lt", 0.1)
r: "CompareResult" = flow.tier_2("jaccard_word", "between", 0.4, 0.6).compare("a", "b")
score: float = r["score"] + flow.compare_with_intent("dedup", "a", "b")["score"]
name: str = r["algorithm"]
"""

MISUSES = [
    'kivo.KivoFlow().tier_1("levenstein", "gt", 0.9, "lt", 0.1)',
    'kivo.KivoFlow().tier_1("levenshtein", "gt", 0.9, "between", 0.1)',
    'kivo.KivoFlow().compare_with_intent("dedupe", "a", "b")',
    'kivo.Preprocessor().with_stopwords("cat")',
    'kivo.levenshtein_distance("a", 1)',
]

CHECKERS = {"mypy": ["--strict"], "basedpyright": ["--pythonpath", sys.executable]}


def run(*args, cwd):
    return subprocess.run(
        [sys.executable, "-m", *args], cwd=cwd, capture_output=True, text=True, timeout=300
    )


def test_stubtest_finds_no_mismatch(tmp_path):
    pytest.importorskip("mypy.stubtest")  # not installable on every interpreter
    result = run("mypy.stubtest", "kivo", cwd=tmp_path)
    assert result.returncode == 0, result.stdout + result.stderr


def test_typical_program_runs_and_every_misuse_fails_at_run_time():
    exec(GOOD, {})
    for line in MISUSES:
        with pytest.raises((TypeError, ValueError)):
            exec(line, {"kivo": kivo})


@pytest.mark.parametrize("checker", CHECKERS)
def test_strict_checker_accepts_typical_program_and_flags_every_misuse(checker, tmp_path):
    pytest.importorskip(checker)
    (tmp_path / "pyrightconfig.json").write_text('{"typeCheckingMode": "strict"}')
    (tmp_path / "good.py").write_text(GOOD)
    (tmp_path / "bad.py").write_text("\n".join(["import kivo", *MISUSES]))
    good = run(checker, *CHECKERS[checker], "good.py", cwd=tmp_path)
    assert good.returncode == 0, good.stdout
    bad = run(checker, *CHECKERS[checker], "bad.py", cwd=tmp_path)
    lines = range(2, len(MISUSES) + 2)
    assert [n for n in lines if f"bad.py:{n}:" not in bad.stdout] == [], bad.stdout


def test_stub_docstring_examples_hold():
    runner, parser = doctest.DocTestRunner(), doctest.DocTestParser()
    for node in ast.walk(ast.parse(STUB.read_text())):
        if isinstance(node, (ast.FunctionDef, ast.ClassDef)) and (doc := ast.get_docstring(node)):
            runner.run(parser.get_doctest(doc, dict(vars(kivo)), node.name, str(STUB), 0))
    assert runner.summarize(verbose=False).failed == 0


@pytest.mark.parametrize("name", ["edit", "tokens", "batch", "duckdb"])
def test_submodule_stub_examples_hold(name):
    if name in ("batch", "duckdb"):
        pytest.importorskip("numpy")
    module = importlib.import_module(f"kivo.{name}")
    stub = STUB.with_name(f"{name}.pyi")
    runner, parser = doctest.DocTestRunner(), doctest.DocTestParser()
    for node in ast.walk(ast.parse(stub.read_text())):
        if isinstance(node, ast.FunctionDef) and (doc := ast.get_docstring(node)):
            runner.run(parser.get_doctest(doc, dict(vars(module)), node.name, str(stub), 0))
    assert runner.summarize(verbose=False).failed == 0
